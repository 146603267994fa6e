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

// The longest path the platform takes, in UTF-16 code units: a line or field longer than
// this cannot name a file.
inline constexpr std::size_t kMaxPathChars = 32767;

// True when the text holds a character below U+0020 (NUL, TAB, CR, LF, ...). No file name
// holds one, and a NUL would cut the text short at every platform call.
bool HasControlCharacters(std::wstring_view text);

// The text with every character below U+0020 shown as "?", for messages that quote text
// read from a file.
std::wstring PrintableText(std::wstring_view text);

// Strict UTF-8 to UTF-16 code units (on every platform, surrogate pairs included): nothing
// for bytes that are not UTF-8 (overlong forms, encoded surrogates, values beyond U+10FFFF,
// cut sequences), as the platform's strict conversion refuses them.
std::optional<std::wstring> DecodeUtf8(std::string_view bytes);
// UTF-16 code units as UTF-8; an unpaired surrogate becomes U+FFFD, as the platform's
// conversion writes it.
std::string EncodeUtf8(std::wstring_view text);

// The entries of a selected-files list (or of the change journal, which has the same
// format), read from the file's bytes: UTF-8 behind a byte-order mark, UTF-16 little-endian
// behind its mark, otherwise the ANSI code page through the caller's decoder. Lines end
// with CR LF, a bare CR or a bare LF; empty lines are dropped. A line that cannot name a
// file is left out and counted: bytes that are not text of the file's encoding, a control
// character (a NUL would cut the path short at the platform's calls, so that it named
// another file), or more than kMaxPathChars characters.
enum class TListEncoding { Ansi, Utf8, Utf16 };
struct TListFileText {
    TListEncoding Encoding = TListEncoding::Ansi;
    std::vector<std::wstring> Entries;
    std::size_t LeftOut = 0;
};
using AnsiDecoder = std::wstring (*)(std::string_view bytes);
TListFileText ReadListFileText(std::string_view bytes, AnsiDecoder ansi);

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
