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
