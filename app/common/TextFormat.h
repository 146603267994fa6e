// Portable text helpers of the program: the selected-files list format and the
// integer conversion used for command-line arguments and registry texts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

// The lines of a selected-files list. A list starting with a UTF-8 byte-order mark
// is UTF-8 (the mark is dropped); any other list is in the ANSI code page.
struct ListFileLines {
    bool utf8 = false;
    std::vector<std::string> lines;  // raw bytes of each line, line ends removed
};

// Splits list-file bytes into lines ended by CR LF, a bare CR or a bare LF; the last
// line needs no line end. Empty lines are kept (the caller drops what names no file).
ListFileLines SplitListFile(std::string_view bytes);

// Integer conversion of an argument text: a decimal integer with optional sign, or a
// hexadecimal one written with a leading "$" (read as a 32-bit pattern, so "$FFFFFFFF"
// is -1). Leading blanks are allowed. Anything else, or a decimal value outside the
// 32-bit range, gives no value.
std::optional<std::int32_t> ParseInteger(std::wstring_view text);

// Hexadecimal digits (no prefix, at least one) as a 32-bit pattern; nothing for any
// other character or a value beyond 32 bits.
std::optional<std::uint32_t> ParseHexDigits(std::wstring_view digits);

// The text without blanks and control characters at either end.
std::wstring TrimBlanks(std::wstring_view text);

// The conversion's failure message: '<text>' is not a valid integer value
std::wstring InvalidIntegerMessage(std::wstring_view text);

// Letter-case-insensitive equality for ASCII letters only.
bool SameTextAscii(std::wstring_view a, std::wstring_view b);

}  // namespace vantrel
