// Encoding of the small text files the program writes (the change journal, the info
// stream). Their format is the ANSI code page; text that the code page cannot hold
// (a path with characters outside it) is written as UTF-8 behind a byte-order mark
// instead, so it is never silently turned into "?".
#pragma once

#include <string>
#include <string_view>

namespace vantrel {

inline constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";

// Bytes of a text file as text: a UTF-8 byte-order mark means UTF-8, a UTF-16
// little-endian mark UTF-16 (an odd last byte is dropped), anything else ANSI.
std::wstring DecodeTextFile(std::string_view bytes);

// Text as file bytes: ANSI when every character has an ANSI form, otherwise UTF-8
// with a byte-order mark.
std::string EncodeTextFile(std::wstring_view text);

}  // namespace vantrel
