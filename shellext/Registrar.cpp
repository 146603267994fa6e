#include "Registrar.h"

#include <cwctype>

namespace shlext {
namespace {

class Parser {
public:
    Parser(const std::wstring& text, const Replacements& repl) : s_(text), repl_(repl) {}

    bool Parse(RegScript& out) {
        for (;;) {
            std::wstring tok;
            if (!Next(tok)) return ok_;
            RegScriptKey root;
            root.name = tok;
            if (!IsRootName(tok)) return false;
            if (!Peek(L"{")) return false;
            if (!ParseBody(root)) return false;
            out.roots.push_back(std::move(root));
        }
    }

private:
    static bool IsRootName(const std::wstring& n) {
        return _wcsicmp(n.c_str(), L"HKCR") == 0 || _wcsicmp(n.c_str(), L"HKCU") == 0 ||
               _wcsicmp(n.c_str(), L"HKLM") == 0;
    }

    void SkipSpace() {
        while (pos_ < s_.size() && std::iswspace(s_[pos_])) ++pos_;
    }

    // Tokens: "{", "}", "=", a quoted string (returned with quoted_ set) or a bare word.
    bool Next(std::wstring& tok) {
        SkipSpace();
        quoted_ = false;
        if (pos_ >= s_.size()) return false;
        wchar_t c = s_[pos_];
        if (c == L'{' && !LooksLikeGuid()) {
            ++pos_;
            tok = L"{";
            return true;
        }
        if (c == L'}' || c == L'=') {
            ++pos_;
            tok.assign(1, c);
            return true;
        }
        tok.clear();
        if (c == L'\'') {
            quoted_ = true;
            ++pos_;
            for (;;) {
                if (pos_ >= s_.size()) return ok_ = false;
                wchar_t d = s_[pos_++];
                if (d == L'\'') {
                    if (pos_ < s_.size() && s_[pos_] == L'\'') {
                        tok += L'\'';
                        ++pos_;
                        continue;
                    }
                    break;
                }
                tok += d;
            }
        } else {
            while (pos_ < s_.size() && !std::iswspace(s_[pos_]) && s_[pos_] != L'=' &&
                   !(s_[pos_] == L'}' && tok.empty()) && !(s_[pos_] == L'{' && tok.empty() && !LooksLikeGuid()))
                tok += s_[pos_++];
        }
        return Substitute(tok);
    }

    // A key name may itself be a braced GUID: "{" directly followed by a hex digit.
    bool LooksLikeGuid() const { return pos_ + 1 < s_.size() && std::iswxdigit(s_[pos_ + 1]); }

    bool Peek(const wchar_t* expected) {
        std::wstring tok;
        return Next(tok) && !quoted_ && tok == expected;
    }

    bool Substitute(std::wstring& tok) {
        std::wstring out;
        for (size_t i = 0; i < tok.size(); ++i) {
            if (tok[i] != L'%') {
                out += tok[i];
                continue;
            }
            size_t end = tok.find(L'%', i + 1);
            if (end == std::wstring::npos) return ok_ = false;
            std::wstring name = tok.substr(i + 1, end - i - 1);
            if (name.empty()) {
                out += L'%';
            } else {
                bool found = false;
                for (const auto& [k, v] : repl_)
                    if (_wcsicmp(k.c_str(), name.c_str()) == 0) {
                        out += v;
                        found = true;
                        break;
                    }
                if (!found) return ok_ = false;
            }
            i = end;
        }
        tok = std::move(out);
        return true;
    }

    // "= s 'text'"
    bool ParseStringValue(std::wstring& value) {
        std::wstring tok;
        if (!Next(tok) || quoted_ || _wcsicmp(tok.c_str(), L"s") != 0) return false;
        if (!Next(tok) || !quoted_) return false;
        value = tok;
        return true;
    }

    // Entries between "{" (already read) and the matching "}".
    bool ParseBody(RegScriptKey& key) {
        for (;;) {
            std::wstring tok;
            if (!Next(tok)) return false;
            if (!quoted_ && tok == L"}") return true;
            if (!quoted_ && _wcsicmp(tok.c_str(), L"val") == 0) {
                std::wstring name;
                if (!Next(name) || !Peek(L"=")) return false;
                std::wstring value;
                if (!ParseStringValue(value)) return false;
                key.values.emplace_back(name, value);
                continue;
            }
            RegScriptKey sub;
            if (!quoted_ && _wcsicmp(tok.c_str(), L"NoRemove") == 0) {
                sub.flag = RegScriptKey::NoRemove;
                if (!Next(tok)) return false;
            } else if (!quoted_ && _wcsicmp(tok.c_str(), L"ForceRemove") == 0) {
                sub.flag = RegScriptKey::ForceRemove;
                if (!Next(tok)) return false;
            }
            if (!quoted_ && (tok == L"{" || tok == L"}" || tok == L"=")) return false;
            sub.name = tok;
            // Optional "= s 'default'", then an optional body.
            size_t save = pos_;
            std::wstring look;
            if (Next(look) && !quoted_ && look == L"=") {
                if (!ParseStringValue(sub.defaultValue)) return false;
                sub.hasDefault = true;
                save = pos_;
                if (!Next(look)) return false;
            }
            if (!quoted_ && look == L"{") {
                if (!ParseBody(sub)) return false;
            } else {
                pos_ = save;
            }
            key.subkeys.push_back(std::move(sub));
        }
    }

    const std::wstring& s_;
    const Replacements& repl_;
    size_t pos_ = 0;
    bool quoted_ = false;
    bool ok_ = true;
};

HRESULT FromWin32(LONG err) { return HRESULT_FROM_WIN32(static_cast<unsigned long>(err)); }

LONG SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

HRESULT RegisterKey(HKEY parent, const RegScriptKey& k) {
    if (k.flag == RegScriptKey::ForceRemove) {
        LONG err = RegDeleteTreeW(parent, k.name.c_str());
        if (err == ERROR_SUCCESS) RegDeleteKeyW(parent, k.name.c_str());
    }
    HKEY key = nullptr;
    LONG err = RegCreateKeyExW(parent, k.name.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key, nullptr);
    if (err != ERROR_SUCCESS) return FromWin32(err);
    HRESULT hr = S_OK;
    if (k.hasDefault) {
        err = SetString(key, nullptr, k.defaultValue);
        if (err != ERROR_SUCCESS) hr = FromWin32(err);
    }
    for (size_t i = 0; SUCCEEDED(hr) && i < k.values.size(); ++i) {
        err = SetString(key, k.values[i].first.c_str(), k.values[i].second);
        if (err != ERROR_SUCCESS) hr = FromWin32(err);
    }
    for (size_t i = 0; SUCCEEDED(hr) && i < k.subkeys.size(); ++i) hr = RegisterKey(key, k.subkeys[i]);
    RegCloseKey(key);
    return hr;
}

bool Missing(LONG err) { return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND; }

HRESULT UnregisterKey(HKEY parent, const RegScriptKey& k) {
    if (k.flag == RegScriptKey::ForceRemove) {
        LONG err = RegDeleteTreeW(parent, k.name.c_str());
        if (err == ERROR_SUCCESS) err = RegDeleteKeyW(parent, k.name.c_str());
        return (err == ERROR_SUCCESS || Missing(err)) ? S_OK : FromWin32(err);
    }
    HKEY key = nullptr;
    LONG err = RegOpenKeyExW(parent, k.name.c_str(), 0, KEY_READ | KEY_WRITE, &key);
    if (Missing(err)) return S_OK;
    if (err != ERROR_SUCCESS) return FromWin32(err);
    HRESULT hr = S_OK;
    for (size_t i = 0; SUCCEEDED(hr) && i < k.subkeys.size(); ++i) hr = UnregisterKey(key, k.subkeys[i]);
    if (k.flag == RegScriptKey::Plain) {
        for (const auto& v : k.values) RegDeleteValueW(key, v.first.c_str());
    }
    DWORD subkeys = 0, values = 0;
    bool empty = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                                  nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
                 subkeys == 0;
    RegCloseKey(key);
    // A plain key goes once nothing of anyone else's is left below it.
    if (SUCCEEDED(hr) && k.flag == RegScriptKey::Plain && empty) RegDeleteKeyW(parent, k.name.c_str());
    return hr;
}

}  // namespace

bool ParseRegScript(const std::wstring& text, const Replacements& replacements, RegScript& out) {
    out = RegScript{};
    Parser p(text, replacements);
    return p.Parse(out);
}

HRESULT RunRegScript(const RegScript& script, bool doRegister, bool perUser) {
    for (const auto& root : script.roots) {
        HKEY base = nullptr;
        bool close = false;
        if (_wcsicmp(root.name.c_str(), L"HKCR") == 0) {
            if (perUser) {
                LONG err = RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, 0,
                                           KEY_READ | KEY_WRITE, nullptr, &base, nullptr);
                if (err != ERROR_SUCCESS) return FromWin32(err);
                close = true;
            } else {
                base = HKEY_CLASSES_ROOT;
            }
        } else if (_wcsicmp(root.name.c_str(), L"HKCU") == 0) {
            base = HKEY_CURRENT_USER;
        } else {
            base = HKEY_LOCAL_MACHINE;
        }
        HRESULT hr = S_OK;
        for (size_t i = 0; SUCCEEDED(hr) && i < root.subkeys.size(); ++i)
            hr = doRegister ? RegisterKey(base, root.subkeys[i]) : UnregisterKey(base, root.subkeys[i]);
        if (close) RegCloseKey(base);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

}  // namespace shlext
