// The system's details for a failure report: Windows, processor, memory and display.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace vantrel {

// One "label : value" line of a report, the label indented by two blanks per level and
// the values of a section in one column. The lines of a value of several lines after
// the first start in that column too.
void AppendReportField(std::wstring& report, int level, const std::wstring& label, const std::wstring& value);

// The sections "System", "Processor", "Memory" and "Display", each a heading and its
// fields; every value the system does not give says "unknown".
std::wstring SystemReportText();

// A text value of the registry (REG_SZ, or REG_EXPAND_SZ unexpanded) of any length, read
// in the given registry view (0: the program's own); nothing when the key or the value is
// missing or holds another kind of data.
std::optional<std::wstring> ReadRegistryText(HKEY root, const wchar_t* subKey, const wchar_t* value,
                                             REGSAM view = 0);

}  // namespace vantrel
