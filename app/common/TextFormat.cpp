#include "app/common/TextFormat.h"

namespace vantrel {

ListFileLines SplitListFile(std::string_view bytes) {
    ListFileLines result;
    if (bytes.size() >= 3 && static_cast<unsigned char>(bytes[0]) == 0xEF &&
        static_cast<unsigned char>(bytes[1]) == 0xBB && static_cast<unsigned char>(bytes[2]) == 0xBF) {
        result.utf8 = true;
        bytes.remove_prefix(3);
    }
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < bytes.size()) {
        char c = bytes[i];
        if (c == '\r' || c == '\n') {
            result.lines.emplace_back(bytes.substr(start, i - start));
            if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
            ++i;
            start = i;
        } else {
            ++i;
        }
    }
    if (start < bytes.size()) result.lines.emplace_back(bytes.substr(start));
    return result;
}

bool HasControlCharacters(std::wstring_view text) {
    for (wchar_t c : text)
        if (static_cast<std::uint32_t>(c) < 0x20) return true;
    return false;
}

std::wstring PrintableText(std::wstring_view text) {
    std::wstring out(text);
    for (wchar_t& c : out)
        if (static_cast<std::uint32_t>(c) < 0x20) c = L'?';
    return out;
}

std::optional<std::wstring> DecodeUtf8(std::string_view bytes) {
    std::wstring out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const unsigned char b = static_cast<unsigned char>(bytes[i]);
        std::uint32_t cp;
        std::size_t extra;
        if (b < 0x80) {
            out += static_cast<wchar_t>(b);
            ++i;
            continue;
        }
        if (b >= 0xC2 && b <= 0xDF) {
            cp = b & 0x1F;
            extra = 1;
        } else if (b >= 0xE0 && b <= 0xEF) {
            cp = b & 0x0F;
            extra = 2;
        } else if (b >= 0xF0 && b <= 0xF4) {
            cp = b & 0x07;
            extra = 3;
        } else {
            return std::nullopt;  // a continuation byte first, an overlong lead, or beyond U+10FFFF
        }
        if (bytes.size() - i <= extra) return std::nullopt;
        for (std::size_t k = 1; k <= extra; ++k) {
            const unsigned char c = static_cast<unsigned char>(bytes[i + k]);
            if ((c & 0xC0) != 0x80) return std::nullopt;
            cp = (cp << 6) | (c & 0x3F);
        }
        if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF))) return std::nullopt;
        if (cp >= 0xD800 && cp <= 0xDFFF) return std::nullopt;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<wchar_t>(0xD800 + (cp >> 10));
            out += static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<wchar_t>(cp);
        }
        i += extra + 1;
    }
    return out;
}

std::string EncodeUtf8(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t cp = static_cast<std::uint32_t>(text[i]);
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && static_cast<std::uint32_t>(text[i + 1]) >= 0xDC00 &&
            static_cast<std::uint32_t>(text[i + 1]) <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<std::uint32_t>(text[i + 1]) - 0xDC00);
            ++i;
        } else if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

namespace {

// One line of a list as decoded text, or nothing when it cannot name a file. The byte
// count is checked before anything is decoded, so a line of any length costs no more
// memory than the longest path: an ANSI character takes at most two bytes, a UTF-16 code
// unit at most three bytes of UTF-8.
std::optional<std::wstring> ListEntry(std::string_view line, TListEncoding encoding, AnsiDecoder ansi) {
    std::optional<std::wstring> text;
    switch (encoding) {
        case TListEncoding::Ansi:
            if (line.size() > 2 * kMaxPathChars) return std::nullopt;
            text = ansi(line);
            break;
        case TListEncoding::Utf8:
            if (line.size() > 3 * kMaxPathChars) return std::nullopt;
            text = DecodeUtf8(line);
            break;
        case TListEncoding::Utf16:
            if (line.size() > 2 * kMaxPathChars) return std::nullopt;
            text.emplace();
            for (std::size_t i = 0; i + 1 < line.size(); i += 2)
                *text += static_cast<wchar_t>(static_cast<unsigned char>(line[i]) |
                                              (static_cast<unsigned char>(line[i + 1]) << 8));
            break;
    }
    if (!text || text->size() > kMaxPathChars || HasControlCharacters(*text)) return std::nullopt;
    return text;
}

}  // namespace

TListFileText ReadListFileText(std::string_view bytes, AnsiDecoder ansi) {
    TListFileText result;
    std::size_t unit = 1;
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        result.Encoding = TListEncoding::Utf8;
        bytes.remove_prefix(3);
    } else if (bytes.substr(0, 2) == "\xFF\xFE") {
        result.Encoding = TListEncoding::Utf16;
        bytes.remove_prefix(2);
        bytes = bytes.substr(0, bytes.size() & ~std::size_t(1));  // an odd last byte is no character
        unit = 2;
    }
    // The code unit at a position: a byte, or a little-endian pair.
    auto at = [&](std::size_t i) -> unsigned {
        return unit == 1 ? static_cast<unsigned char>(bytes[i])
                         : static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8);
    };
    auto take = [&](std::size_t start, std::size_t end) {
        if (end == start) return;  // an empty line names nothing
        if (auto entry = ListEntry(bytes.substr(start, end - start), result.Encoding, ansi))
            result.Entries.push_back(std::move(*entry));
        else
            ++result.LeftOut;
    };
    std::size_t start = 0, i = 0;
    while (i < bytes.size()) {
        const unsigned c = at(i);
        if (c != '\r' && c != '\n') {
            i += unit;
            continue;
        }
        take(start, i);
        i += unit;
        if (c == '\r' && i < bytes.size() && at(i) == '\n') i += unit;
        start = i;
    }
    take(start, bytes.size());
    return result;
}

std::optional<std::int32_t> ParseInteger(std::wstring_view text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == L' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'-' || text[i] == L'+')) {
        negative = text[i] == L'-';
        ++i;
    }
    if (i >= text.size()) return std::nullopt;
    if (text[i] == L'$') {
        auto bits = ParseHexDigits(text.substr(i + 1));
        if (!bits) return std::nullopt;
        if (negative) *bits = 0u - *bits;
        return static_cast<std::int32_t>(*bits);
    }
    std::int64_t value = 0;
    for (; i < text.size(); ++i) {
        wchar_t c = text[i];
        if (c < L'0' || c > L'9') return std::nullopt;
        value = value * 10 + (c - L'0');
        if (value > 2147483648LL) return std::nullopt;
    }
    if (negative) value = -value;
    if (value > 2147483647LL || value < -2147483648LL) return std::nullopt;
    return static_cast<std::int32_t>(value);
}

std::optional<std::uint32_t> ParseHexDigits(std::wstring_view digits) {
    if (digits.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (wchar_t c : digits) {
        unsigned digit;
        if (c >= L'0' && c <= L'9') digit = static_cast<unsigned>(c - L'0');
        else if (c >= L'a' && c <= L'f') digit = static_cast<unsigned>(c - L'a' + 10);
        else if (c >= L'A' && c <= L'F') digit = static_cast<unsigned>(c - L'A' + 10);
        else return std::nullopt;
        value = value * 16 + digit;
        if (value > 0xFFFFFFFFull) return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

std::wstring TrimBlanks(std::wstring_view text) {
    std::size_t b = 0, e = text.size();
    while (b < e && text[b] <= L' ') ++b;
    while (e > b && text[e - 1] <= L' ') --e;
    return std::wstring(text.substr(b, e - b));
}

std::wstring InvalidIntegerMessage(std::wstring_view text) {
    std::wstring message = L"'";
    message += text;
    message += L"' is not a valid integer value";
    return message;
}

bool SameTextAscii(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        wchar_t x = a[i], y = b[i];
        if (x >= L'A' && x <= L'Z') x = static_cast<wchar_t>(x - L'A' + L'a');
        if (y >= L'A' && y <= L'Z') y = static_cast<wchar_t>(y - L'A' + L'a');
        if (x != y) return false;
    }
    return true;
}

}  // namespace vantrel
