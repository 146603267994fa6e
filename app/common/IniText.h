// INI text as the platform's private-profile functions read and write it, held as
// lines so a change touches only the line it concerns. Portable: the caller turns
// file bytes into text and back (see IniFile.h for the file side).
//
// Reading follows the profile functions: section and key names match without regard
// to letter case, blanks around names and values are ignored, one pair of matching
// quotes around a value is dropped, lines starting with ';' are comments, the first
// occurrence of a section and of a key in it counts.
// Writing keeps every other line as it was: a key that exists has its line replaced,
// a new key is added after the last entry of its section, a new section is added at
// the end, a deleted key's line is removed and its section line stays.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

class IniText {
public:
    IniText() = default;
    // Splits text at CR LF, a bare CR or a bare LF; the last line needs no line end.
    explicit IniText(std::wstring_view text);

    std::optional<std::wstring> Read(std::wstring_view section, std::wstring_view key) const;
    // Throws vantrel::Error when a name or the value cannot be stored as one line of
    // INI text (a line break or NUL anywhere, an empty or blank-edged name, "=" in a
    // key, a key starting with "[" or ";", "]" in a section name).
    void Write(std::wstring_view section, std::wstring_view key, std::wstring_view value);
    // Removes every line of the key in the section; true when a line was removed.
    bool Delete(std::wstring_view section, std::wstring_view key);

    // Every line ended by CR LF.
    std::wstring Text() const;
    const std::vector<std::wstring>& Lines() const { return lines_; }

private:
    struct Span {
        std::size_t header;  // index of the section line
        std::size_t end;     // one past the section's last line
    };
    std::optional<Span> FindSection(std::wstring_view section) const;

    std::vector<std::wstring> lines_;
};

// Integer value of an INI text: "0x"/"0X" or "$" then hexadecimal digits (a 32-bit
// pattern, so "0xFFFFFFFF" is -1), otherwise a decimal integer with an optional sign
// in the 32-bit range. Blanks around the text are ignored; anything else has no value.
std::optional<std::int32_t> ParseIniInteger(std::wstring_view text);

}  // namespace vantrel
