#include "app/engine/ChangeJournal.h"

#include <windows.h>

#include <algorithm>
#include <mutex>
#include <unordered_set>

#include "app/common/FileHelpers.h"
#include "app/common/TextConv.h"
#include "app/common/TextFileCoding.h"
#include "app/common/TextFormat.h"
#include "app/engine/MarkerStreams.h"
#include "app/engine/VantrelClass.h"
#include "imaging/Error.h"

namespace vantrel {

namespace {

unsigned long g_lockTimeoutMs = 30000;

std::string Utf8(const std::wstring& s) { return WideToUtf8(s); }

[[noreturn]] void ThrowFileError(const char* what, const std::wstring& path, DWORD code) {
    throw Error(std::string(what) + " \"" + Utf8(path) + "\". " + Utf8(SystemErrorMessage(code)));
}

// The journal held open exclusively for one read-modify-write. Another instance that
// tries meanwhile gets a sharing violation and retries until the timeout.
class LockedJournal {
public:
    // Opens the journal; with create false a missing journal gives an object that is
    // not open().
    LockedJournal(const std::wstring& path, bool create) : path_(path) {
        const ULONGLONG deadline = GetTickCount64() + g_lockTimeoutMs;
        DWORD pause = 1;
        for (;;) {
            h_ = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (h_ != INVALID_HANDLE_VALUE) return;
            DWORD code = GetLastError();
            if (!create && (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)) return;
            if ((code != ERROR_SHARING_VIOLATION && code != ERROR_LOCK_VIOLATION) || GetTickCount64() >= deadline)
                ThrowFileError("Cannot open file", path, code);
            Sleep(pause);
            if (pause < 16) pause *= 2;
        }
    }
    ~LockedJournal() {
        if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    }
    LockedJournal(const LockedJournal&) = delete;
    LockedJournal& operator=(const LockedJournal&) = delete;

    bool open() const { return h_ != INVALID_HANDLE_VALUE; }

    // Creation and last write times and size of the open file. (The volume serial
    // number is left out: asking for it costs far more than the rest.)
    struct Stamp {
        FILETIME created{}, written{};
        unsigned long long size = 0;
        bool operator==(const Stamp& o) const {
            return CompareFileTime(&created, &o.created) == 0 && CompareFileTime(&written, &o.written) == 0 &&
                   size == o.size;
        }
    };
    Stamp GetStamp() {
        Stamp st;
        LARGE_INTEGER size{};
        if (!GetFileTime(h_, &st.created, nullptr, &st.written) || !GetFileSizeEx(h_, &size))
            ThrowFileError("Cannot read file", path_, GetLastError());
        st.size = static_cast<unsigned long long>(size.QuadPart);
        return st;
    }

    // Up to count bytes from the offset (fewer when the file ends first).
    std::string Read(unsigned long long offset, unsigned long long count) {
        if (count > 0x7FFFFFFFull) throw Error("File \"" + Utf8(path_) + "\" is too large.");
        std::string bytes(static_cast<std::size_t>(count), '\0');
        Seek(static_cast<LONGLONG>(offset), FILE_BEGIN);
        std::size_t done = 0;
        while (done < bytes.size()) {
            DWORD got = 0;
            DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 24));
            if (!ReadFile(h_, bytes.data() + done, want, &got, nullptr))
                ThrowFileError("Cannot read file", path_, GetLastError());
            if (got == 0) break;
            done += got;
        }
        bytes.resize(done);
        return bytes;
    }

    void Append(const std::string& bytes) {
        Seek(0, FILE_END);
        Write(bytes);
    }

    void Replace(const std::string& bytes) {
        Seek(0, FILE_BEGIN);
        Write(bytes);
        if (!SetEndOfFile(h_)) ThrowFileError("Cannot write file", path_, GetLastError());
    }

private:
    void Seek(LONGLONG offset, DWORD origin) {
        LARGE_INTEGER to{};
        to.QuadPart = offset;
        if (!SetFilePointerEx(h_, to, nullptr, origin)) ThrowFileError("Cannot write file", path_, GetLastError());
    }
    void Write(const std::string& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            DWORD put = 0;
            DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 24));
            if (!WriteFile(h_, bytes.data() + done, want, &put, nullptr) || put == 0)
                ThrowFileError("Cannot write file", path_, GetLastError());
            done += put;
        }
    }

    std::wstring path_;
    HANDLE h_ = INVALID_HANDLE_VALUE;
};

// Paths compare as the file system compares names: letter case ignored.
std::wstring FoldCase(const std::wstring& path) {
    if (path.empty()) return path;
    std::wstring folded(path.size(), L'\0');
    int n = LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, path.data(), static_cast<int>(path.size()),
                         folded.data(), static_cast<int>(folded.size()));
    if (n != static_cast<int>(path.size())) return path;
    return folded;
}

bool IsBlankLine(const std::wstring& line) {
    for (wchar_t c : line)
        if (c != L' ' && c != L'\t') return false;
    return true;
}

// The journal's content as last read or written by this process, so that adding a
// path costs one append, not a read of every earlier line. It is used only while the
// file is provably the one it describes: the same creation and last write times, the
// same size and the same last bytes. Every change by any instance either grows
// the file at its end or shrinks it, so a change that kept all of these would have to
// rebuild the old tail byte for byte within one tick of the clock; anything else makes
// the journal be read afresh.
constexpr std::size_t kTailBytes = 4096;

struct Journal {
    std::wstring fileName;  // empty: nothing known
    LockedJournal::Stamp stamp;
    std::string tail;  // the file's last kTailBytes bytes
    std::vector<std::wstring> entries;
    std::unordered_set<std::wstring> keys;
    bool utf8 = false;       // the file's encoding
    bool canonical = false;  // the file holds exactly what Serialize(entries) writes
};

std::mutex g_mutex;  // one change at a time within the process; the file lock covers other processes
Journal g_cache;

// ANSI when every path fits, otherwise UTF-8 behind a byte-order mark.
std::string Serialize(const std::vector<std::wstring>& entries, bool* utf8) {
    std::wstring text;
    for (const auto& e : entries) {
        text += e;
        text += L"\r\n";
    }
    std::string bytes = EncodeTextFile(text);
    *utf8 = bytes.compare(0, 3, kUtf8Bom) == 0;
    return bytes;
}

std::string Tail(const std::string& bytes) {
    return bytes.size() <= kTailBytes ? bytes : bytes.substr(bytes.size() - kTailBytes);
}

// Records what the file looks like after this process read or wrote it.
void Remember(LockedJournal& file, Journal& journal, const std::wstring& fileName, std::string tail) {
    journal.stamp = file.GetStamp();
    journal.tail = std::move(tail);
    journal.fileName = fileName;
}

Journal& Load(LockedJournal& file, const std::wstring& fileName) {
    const LockedJournal::Stamp stamp = file.GetStamp();
    if (g_cache.fileName == fileName && g_cache.stamp == stamp) {
        const unsigned long long n = std::min<unsigned long long>(stamp.size, kTailBytes);
        if (file.Read(stamp.size - n, n) == g_cache.tail) return g_cache;
    }
    g_cache.fileName.clear();

    if (stamp.size > kMaxJournalBytes) ThrowFileTooLarge(fileName, kMaxJournalBytes);
    std::string bytes = file.Read(0, stamp.size);
    Journal fresh;
    TListFileText lines = ReadListFileText(bytes, &AnsiToWide);
    for (std::wstring& entry : lines.Entries) {
        if (IsBlankLine(entry)) continue;  // names no file
        if (fresh.keys.insert(FoldCase(entry)).second) fresh.entries.push_back(std::move(entry));
    }
    bool utf8 = false;
    fresh.canonical = lines.LeftOut == 0 && Serialize(fresh.entries, &utf8) == bytes;
    // A UTF-16 journal (not one of ours) is written again as ours at the next change.
    fresh.utf8 = lines.Encoding == TListEncoding::Utf8;
    if (lines.Encoding == TListEncoding::Utf16) fresh.canonical = false;
    g_cache = std::move(fresh);
    Remember(file, g_cache, fileName, Tail(bytes));
    return g_cache;
}

void Rewrite(LockedJournal& file, Journal& journal, const std::wstring& fileName) {
    std::string bytes = Serialize(journal.entries, &journal.utf8);
    journal.fileName.clear();  // unknown state should the write fail
    file.Replace(bytes);
    journal.canonical = true;
    Remember(file, journal, fileName, Tail(bytes));
}

void CheckPath(const std::wstring& path) {
    for (wchar_t c : path)
        if (c == L'\r' || c == L'\n' || c == L'\0')
            throw Error("The path \"" + Utf8(path) + "\" cannot be kept in the change journal.");
}

}  // namespace

void TChangeJournal::Add(const std::wstring& path) {
    CheckPath(path);
    if (IsBlankLine(path)) return;
    std::lock_guard<std::mutex> guard(g_mutex);
    LockedJournal file(fileName_, true);
    Journal& journal = Load(file, fileName_);

    std::wstring key = FoldCase(path);
    if (journal.keys.count(key)) {
        if (!journal.canonical) Rewrite(file, journal, fileName_);
        return;
    }
    journal.fileName.clear();  // changing now
    journal.keys.insert(std::move(key));
    journal.entries.push_back(path);

    std::string line;
    bool append = journal.canonical;
    if (append) {
        if (journal.utf8) {
            line = WideToUtf8(path);
        } else {
            bool lossless = true;
            line = WideToAnsi(path, &lossless);
            append = lossless;  // else the journal turns UTF-8 as a whole
        }
    }
    if (!append) {
        Rewrite(file, journal, fileName_);
        return;
    }
    line += "\r\n";
    file.Append(line);
    std::string tail = journal.tail + line;
    Remember(file, journal, fileName_, Tail(tail));
}

void TChangeJournal::Remove(const std::wstring& path) { Remove(std::vector<std::wstring>{path}); }

void TChangeJournal::Remove(const std::vector<std::wstring>& paths) {
    if (paths.empty()) return;
    std::lock_guard<std::mutex> guard(g_mutex);
    LockedJournal file(fileName_, false);
    if (!file.open()) return;
    Journal& journal = Load(file, fileName_);

    std::size_t removed = 0;
    for (const std::wstring& path : paths) removed += journal.keys.erase(FoldCase(path));
    if (removed > 0) {
        // The lines whose key is gone; each path is listed once.
        std::vector<std::wstring> kept;
        kept.reserve(journal.entries.size() - std::min(removed, journal.entries.size()));
        for (std::wstring& entry : journal.entries)
            if (journal.keys.count(FoldCase(entry))) kept.push_back(std::move(entry));
        journal.entries = std::move(kept);
    }
    if (removed > 0 || !journal.canonical) Rewrite(file, journal, fileName_);
}

std::vector<std::wstring> TChangeJournal::Entries() const {
    std::lock_guard<std::mutex> guard(g_mutex);
    LockedJournal file(fileName_, false);
    if (!file.open()) return {};
    return Load(file, fileName_).entries;
}

std::wstring JournalFileName() { return TVantrel::Core().DataFolder + L"Changes.dat"; }

void CheckJournalSize() {
    const std::wstring fileName = JournalFileName();
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(fileName.c_str(), GetFileExInfoStandard, &data)) return;  // none yet
    const unsigned long long size = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    if (size > kMaxJournalBytes) ThrowFileTooLarge(fileName, kMaxJournalBytes);
}

bool HasJournalEntries() { return !TChangeJournal(JournalFileName()).Entries().empty(); }

void JournalAdd(const std::wstring& path) { TChangeJournal(JournalFileName()).Add(path); }

namespace {
TJournalRemovals* g_removals = nullptr;  // the collecting operation, if any (window thread only)
}  // namespace

void JournalRemove(const std::wstring& path) {
    if (g_removals)
        g_removals->Collect(path);
    else
        TChangeJournal(JournalFileName()).Remove(path);
    DropMarkingRecord(path);
}

TJournalRemovals::TJournalRemovals() : outer_(g_removals) { g_removals = this; }

TJournalRemovals::~TJournalRemovals() {
    g_removals = outer_;
    try {
        Commit();
    } catch (...) {
        // A failure already ends the operation; the paths stay listed, which a later
        // removal or rollback tidies.
    }
}

void TJournalRemovals::Commit() {
    std::vector<std::wstring> paths = std::move(paths_);
    paths_.clear();
    if (outer_)
        outer_->paths_.insert(outer_->paths_.end(), paths.begin(), paths.end());
    else
        TChangeJournal(JournalFileName()).Remove(paths);
}


void JournalRollback(IOperationProgress& progress) {
    const std::vector<std::wstring> snapshot = TChangeJournal(JournalFileName()).Entries();
    TJournalRemovals removals;
    for (const std::wstring& entry : snapshot) {
        if (progress.StopRequested()) break;
        progress.Step(entry);
        RemoveMarkerStreams(entry);
    }
    removals.Commit();
}

void SetJournalLockTimeout(unsigned long milliseconds) { g_lockTimeoutMs = milliseconds; }

}  // namespace vantrel
