#include "app/common/IniText.h"

#include "app/common/TextFormat.h"
#include "imaging/Error.h"

namespace vantrel {

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

std::wstring_view Trim(std::wstring_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

// The section name of a section line ("[name]", blanks allowed around it), or nothing.
std::optional<std::wstring_view> SectionName(std::wstring_view line) {
    std::wstring_view t = Trim(line);
    if (t.empty() || t.front() != L'[') return std::nullopt;
    t.remove_prefix(1);
    std::size_t close = t.find(L']');
    if (close != std::wstring_view::npos) t = t.substr(0, close);
    return Trim(t);
}

struct KeyLine {
    std::wstring_view key;
    std::wstring_view value;
};

// A "key=value" line; comments, blank lines, section lines and lines without "="
// hold no key.
std::optional<KeyLine> ParseKeyLine(std::wstring_view line) {
    std::wstring_view t = Trim(line);
    if (t.empty() || t.front() == L';' || t.front() == L'[') return std::nullopt;
    std::size_t eq = t.find(L'=');
    if (eq == std::wstring_view::npos) return std::nullopt;
    KeyLine k{Trim(t.substr(0, eq)), Trim(t.substr(eq + 1))};
    if (k.key.empty()) return std::nullopt;
    return k;
}

std::wstring_view Unquote(std::wstring_view v) {
    if (v.size() >= 2 && (v.front() == L'"' || v.front() == L'\'') && v.back() == v.front())
        return v.substr(1, v.size() - 2);
    return v;
}

bool HasLineBreakOrNul(std::wstring_view s) {
    for (wchar_t c : s)
        if (c == L'\r' || c == L'\n' || c == L'\0') return true;
    return false;
}

[[noreturn]] void Refuse(const char* what) { throw Error(std::string("Cannot store INI text: ") + what); }

void CheckName(std::wstring_view name, const char* what) {
    if (name.empty() || HasLineBreakOrNul(name) || Trim(name).size() != name.size()) Refuse(what);
}

}  // namespace

IniText::IniText(std::wstring_view text) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        wchar_t c = text[i];
        if (c != L'\r' && c != L'\n') continue;
        lines_.emplace_back(text.substr(start, i - start));
        if (c == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') ++i;
        start = i + 1;
    }
    if (start < text.size()) lines_.emplace_back(text.substr(start));
}

std::optional<IniText::Span> IniText::FindSection(std::wstring_view section) const {
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        auto name = SectionName(lines_[i]);
        if (!name || !SameTextAscii(*name, section)) continue;
        std::size_t end = i + 1;
        while (end < lines_.size() && !SectionName(lines_[end])) ++end;
        return Span{i, end};
    }
    return std::nullopt;
}

std::optional<std::wstring> IniText::Read(std::wstring_view section, std::wstring_view key) const {
    auto span = FindSection(Trim(section));
    if (!span) return std::nullopt;
    key = Trim(key);
    for (std::size_t i = span->header + 1; i < span->end; ++i) {
        auto k = ParseKeyLine(lines_[i]);
        if (k && SameTextAscii(k->key, key)) return std::wstring(Unquote(k->value));
    }
    return std::nullopt;
}

void IniText::Write(std::wstring_view section, std::wstring_view key, std::wstring_view value) {
    CheckName(section, "a section name must be one line without surrounding blanks");
    if (section.find(L']') != std::wstring_view::npos) Refuse("a section name cannot hold \"]\"");
    CheckName(key, "a key must be one line without surrounding blanks");
    if (key.find(L'=') != std::wstring_view::npos || key.front() == L'[' || key.front() == L';')
        Refuse("a key cannot hold \"=\" or start with \"[\" or \";\"");
    if (HasLineBreakOrNul(value)) Refuse("a value cannot hold a line break");

    std::wstring line(key);
    line += L'=';
    line += value;

    auto span = FindSection(section);
    if (!span) {
        lines_.push_back(L"[" + std::wstring(section) + L"]");
        lines_.push_back(std::move(line));
        return;
    }
    std::size_t insertAt = span->header + 1;
    for (std::size_t i = span->header + 1; i < span->end; ++i) {
        auto k = ParseKeyLine(lines_[i]);
        if (!k) continue;
        if (SameTextAscii(k->key, key)) {
            // The key keeps the spelling it was first written with.
            lines_[i] = std::wstring(k->key) + L'=' + std::wstring(value);
            return;
        }
        insertAt = i + 1;
    }
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt), std::move(line));
}

bool IniText::Delete(std::wstring_view section, std::wstring_view key) {
    auto span = FindSection(Trim(section));
    if (!span) return false;
    key = Trim(key);
    bool removed = false;
    for (std::size_t i = span->end; i-- > span->header + 1;) {
        auto k = ParseKeyLine(lines_[i]);
        if (k && SameTextAscii(k->key, key)) {
            lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(i));
            removed = true;
        }
    }
    return removed;
}

std::wstring IniText::Text() const {
    std::wstring text;
    std::size_t size = 0;
    for (const auto& l : lines_) size += l.size() + 2;
    text.reserve(size);
    for (const auto& l : lines_) {
        text += l;
        text += L"\r\n";
    }
    return text;
}

std::optional<std::int32_t> ParseIniInteger(std::wstring_view text) {
    text = Trim(text);
    std::size_t digits = 0;
    if (text.size() >= 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X'))
        digits = 2;
    else if (!text.empty() && text[0] == L'$')
        digits = 1;
    if (digits == 0) {
        // Decimal: an optional sign, then digits only.
        std::size_t i = 0;
        if (i < text.size() && (text[i] == L'-' || text[i] == L'+')) ++i;
        if (i >= text.size()) return std::nullopt;
        for (std::size_t k = i; k < text.size(); ++k)
            if (text[k] < L'0' || text[k] > L'9') return std::nullopt;
        return ParseInteger(text);
    }
    auto bits = ParseHexDigits(text.substr(digits));
    if (!bits) return std::nullopt;
    return static_cast<std::int32_t>(*bits);
}

}  // namespace vantrel
