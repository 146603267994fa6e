// Fuzzing of the info stream's text as it reaches the program from a file that came from
// elsewhere: any bytes, decoded as the stream reader decodes them (UTF-16 or UTF-8 behind
// their marks, else single bytes), read as INI text and as a marking. Checks what the
// engine relies on: the text survives a write-back line for line, writing the colour
// (what ApplyColor writes into a stream it did not make) changes nothing of the marker,
// deleting a key leaves none of it, and the library's path text is classified without
// fail.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/common/PathText.h"
#include "app/common/TextFormat.h"
#include "app/engine/InfoStreamText.h"

using namespace vantrel;

namespace {

std::wstring Decode(std::string_view bytes) {
    std::wstring text;
    if (bytes.substr(0, 2) == "\xFF\xFE") {
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
            text += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) |
                                         (static_cast<unsigned char>(bytes[i + 1]) << 8));
        return text;
    }
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        if (auto utf8 = DecodeUtf8(bytes.substr(3))) return *utf8;
    }
    for (char c : bytes) text += static_cast<wchar_t>(static_cast<unsigned char>(c));
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > kMaxInfoStreamBytes) return 0;  // the reader never gets further
    IniText info(Decode(std::string_view(reinterpret_cast<const char*>(data), size)));
    const TInfoMarking marking = ReadInfoMarking(info);
    (void)ClassifyPathText(marking.MarkerFile);
    (void)IsBareFileName(marking.MarkerFile);

    // Written back, the text reads as the same lines.
    if (IniText(info.Text()).Lines() != info.Lines()) std::abort();

    // ApplyColor's write: the colour reads back, the marker stays what it was.
    IniText coloured = info;
    coloured.Write(kInfoSection, kColorKey, L"16748891");
    const TInfoMarking after = ReadInfoMarking(coloured);
    if (after.Color != 16748891 || after.MarkerFile != marking.MarkerFile || after.MarkerIndex != marking.MarkerIndex)
        std::abort();

    // RemoveColor's delete: no colour is left to read.
    IniText removed = info;
    removed.Delete(kInfoSection, kColorKey);
    if (removed.Read(kInfoSection, kColorKey) || ReadInfoMarking(removed).MarkerFile != marking.MarkerFile) std::abort();
    return 0;
}
