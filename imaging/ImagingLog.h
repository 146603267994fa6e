// Log lines of the imaging code. imaging/ has no log file of its own: the program connects
// these to its diagnostic log at start-up; unconnected, nothing is written.
#pragma once

#include <string>

namespace vantrel {

enum ImagingLogLevel : int { ImagingLogError = 0, ImagingLogInfo = 2 };

// `formatted`: true for lines that are only written while the log is already open (the
// program's LogFormat), false for lines that open it when needed (LogMessage).
using ImagingLogSink = void (*)(const std::wstring& text, const std::wstring& category, int level, bool formatted);

void SetImagingLogSink(ImagingLogSink sink);
void ImagingLog(const std::wstring& text, const std::wstring& category, int level, bool formatted);

}  // namespace vantrel
