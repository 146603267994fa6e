// Fuzzing of the selected-files list (and the change journal, read the same way): any
// bytes, in any of its encodings, NUL bytes and lines of any length included. Checks what
// the engine relies on: every entry can be a path (not empty, no control character, no
// longer than the platform's longest path), no line is both taken and left out, and an
// ANSI list's entries come back unchanged from the UTF-8 list the program would write of
// them.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/common/TextFormat.h"

using namespace vantrel;

namespace {

// The ANSI code page here: each byte is the character of the same value.
std::wstring Latin1(std::string_view bytes) {
    std::wstring text;
    text.reserve(bytes.size());
    for (char c : bytes) text += static_cast<wchar_t>(static_cast<unsigned char>(c));
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const TListFileText list = ReadListFileText(bytes, Latin1);
    std::size_t lineEnds = 0;
    for (char c : bytes) lineEnds += c == '\r' || c == '\n';
    if (list.Entries.size() + list.LeftOut > lineEnds + 1) std::abort();
    for (const std::wstring& entry : list.Entries)
        if (entry.empty() || entry.size() > kMaxPathChars || HasControlCharacters(entry)) std::abort();

    if (list.Encoding == TListEncoding::Ansi) {
        std::string utf8 = "\xEF\xBB\xBF";
        for (const std::wstring& entry : list.Entries) utf8 += EncodeUtf8(entry) + "\r\n";
        const TListFileText again = ReadListFileText(utf8, Latin1);
        if (again.Entries != list.Entries || again.LeftOut != 0) std::abort();
    }
    return 0;
}
