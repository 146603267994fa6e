#include "app/common/IniFile.h"

#include <windows.h>

#include "app/common/FileHelpers.h"
#include "app/common/TextConv.h"
#include "app/common/TextFileCoding.h"
#include "imaging/Error.h"

namespace vantrel {

namespace {

bool IsMissing(DWORD code) { return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND; }

}  // namespace

IniText TIniFile::Load(LoadFor purpose) const {
    // A change must start from the file's real text: any failure other than a missing
    // file stops it, so keys already stored are never dropped. Reads fall back to the
    // defaults, as the profile functions do.
    auto fail = [&](const std::string& why) -> IniText {
        if (purpose == LoadFor::Change) throw Error("Cannot read file \"" + WideToUtf8(fileName_) + "\". " + why);
        return IniText();
    };
    HANDLE h = CreateFileW(fileName_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD code = GetLastError();
        if (IsMissing(code)) return IniText();
        return fail(WideToUtf8(SystemErrorMessage(code)));
    }
    std::string bytes;
    LARGE_INTEGER size{};
    bool ok = GetFileSizeEx(h, &size) != 0;
    DWORD code = ok ? ERROR_SUCCESS : GetLastError();
    if (ok && static_cast<unsigned long long>(size.QuadPart) > maxBytes_) {
        CloseHandle(h);
        if (purpose == LoadFor::Read) return IniText();
        ThrowFileTooLarge(fileName_, maxBytes_);
    }
    if (ok) {
        bytes.resize(static_cast<std::size_t>(size.QuadPart));
        std::size_t done = 0;
        while (done < bytes.size()) {
            DWORD got = 0;
            if (!ReadFile(h, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &got, nullptr)) {
                ok = false;
                code = GetLastError();
                break;
            }
            if (got == 0) break;  // the file shrank meanwhile
            done += got;
        }
        bytes.resize(done);
    }
    CloseHandle(h);
    if (!ok) return fail(WideToUtf8(SystemErrorMessage(code)));
    return IniText(DecodeTextFile(bytes));
}

void TIniFile::Save(const IniText& text) {
    std::string bytes = EncodeTextFile(text.Text());
    try {
        WriteFileBytes(fileName_, bytes.data(), bytes.size());
    } catch (const Error& e) {
        throw Error("Unable to write to " + WideToUtf8(fileName_) + "\r\n" + e.what());
    }
}

std::wstring TIniFile::ReadString(const std::wstring& section, const std::wstring& key,
                                  const std::wstring& def) const {
    auto value = Load(LoadFor::Read).Read(section, key);
    return value ? *value : def;
}

int TIniFile::ReadInteger(const std::wstring& section, const std::wstring& key, int def) const {
    return IntegerValue(Load(LoadFor::Read), section, key, def);
}

int TIniFile::IntegerValue(const IniText& text, const std::wstring& section, const std::wstring& key, int def) {
    auto value = text.Read(section, key);
    if (!value) return def;
    auto number = ParseIniInteger(*value);
    return number ? *number : def;
}

void TIniFile::Edit(const std::function<bool(IniText& text)>& edit, bool readsFirst) {
    // One open for reading and writing: a missing file is looked up once, not once to be
    // read and again to be created. When that open or its reading fails, the separate
    // read and write below run instead and give their own reasons.
    HANDLE h = CreateFileW(fileName_.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        const bool created = GetLastError() != ERROR_ALREADY_EXISTS;
        struct Closer {
            HANDLE h;
            const std::wstring& name;
            bool created;
            bool keep = false;
            ~Closer() {
                CloseHandle(h);
                if (created && !keep) DeleteFileW(name.c_str());  // nothing was written: no file
            }
        } closer{h, fileName_, created};
        std::string bytes;
        LARGE_INTEGER size{};
        bool ok = GetFileSizeEx(h, &size) != 0 && static_cast<unsigned long long>(size.QuadPart) <= maxBytes_;
        if (ok) {
            bytes.resize(static_cast<std::size_t>(size.QuadPart));
            std::size_t done = 0;
            while (ok && done < bytes.size()) {
                DWORD got = 0;
                ok = ReadFile(h, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &got, nullptr) != 0;
                if (ok && got == 0) break;
                done += got;
            }
            bytes.resize(done);
        }
        if (ok) {
            IniText text(DecodeTextFile(bytes));
            if (!edit(text)) return;
            const std::string out = EncodeTextFile(text.Text());
            LARGE_INTEGER zero{};
            std::size_t done = 0;
            DWORD code = ERROR_SUCCESS;
            if (!SetFilePointerEx(h, zero, nullptr, FILE_BEGIN)) code = GetLastError();
            while (code == ERROR_SUCCESS && done < out.size()) {
                DWORD put = 0;
                if (!WriteFile(h, out.data() + done, static_cast<DWORD>(out.size() - done), &put, nullptr) || put == 0)
                    code = GetLastError();
                done += put;
            }
            if (code == ERROR_SUCCESS && !SetEndOfFile(h)) code = GetLastError();
            closer.keep = true;
            if (code != ERROR_SUCCESS)
                throw Error("Unable to write to " + WideToUtf8(fileName_) + "\r\nCannot write file \"" +
                            WideToUtf8(fileName_) + "\". " + WideToUtf8(SystemErrorMessage(code)));
            return;
        }
    }

    IniText text;
    try {
        text = Load(LoadFor::Change);
    } catch (const EFileTooLarge&) {
        throw;
    } catch (const Error&) {
        if (!readsFirst) throw;
        IniText empty;
        edit(empty);
        return;
    }
    if (edit(text)) Save(text);
}

bool TIniFile::ValueExists(const std::wstring& section, const std::wstring& key) const {
    return Load(LoadFor::Read).Read(section, key).has_value();
}

IniText TIniFile::ReadText() const { return Load(LoadFor::Text); }

void TIniFile::WriteString(const std::wstring& section, const std::wstring& key, const std::wstring& value) {
    IniText text = Load(LoadFor::Change);
    text.Write(section, key, value);
    Save(text);
}

void TIniFile::WriteInteger(const std::wstring& section, const std::wstring& key, int value) {
    WriteString(section, key, std::to_wstring(value));
}

void TIniFile::DeleteKey(const std::wstring& section, const std::wstring& key) {
    IniText text = Load(LoadFor::Change);
    if (text.Delete(section, key)) Save(text);
}

}  // namespace vantrel
