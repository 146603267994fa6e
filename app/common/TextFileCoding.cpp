#include "app/common/TextFileCoding.h"

#include "app/common/TextConv.h"

namespace vantrel {

std::wstring DecodeTextFile(std::string_view bytes) {
    if (bytes.substr(0, 3) == std::string_view(kUtf8Bom, 3)) return Utf8ToWide(bytes.substr(3));
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        std::wstring text;
        text.reserve((bytes.size() - 2) / 2);
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
            text += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) |
                                         (static_cast<unsigned char>(bytes[i + 1]) << 8));
        return text;
    }
    return AnsiToWide(bytes);
}

std::string EncodeTextFile(std::wstring_view text) {
    bool lossless = true;
    std::string ansi = WideToAnsi(text, &lossless);
    if (lossless) return ansi;
    return std::string(kUtf8Bom, 3) + WideToUtf8(text);
}

}  // namespace vantrel
