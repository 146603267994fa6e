// Conversions between UTF-16 (the program's own text), UTF-8 (exception messages)
// and the ANSI code page (text files whose format is ANSI).
#pragma once

#include <string>
#include <string_view>

namespace vantrel {

std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);
std::wstring AnsiToWide(std::string_view text);
// Converts to the ANSI code page; sets *lossless to false when a character had no
// ANSI form and was replaced.
std::string WideToAnsi(std::wstring_view text, bool* lossless = nullptr);

// The system's message text for a Win32 error code, without a trailing line end.
std::wstring SystemErrorMessage(unsigned long code);

}  // namespace vantrel
