#include "app/engine/MarkingRecords.h"

#include <windows.h>

#include <algorithm>
#include <mutex>
#include <set>
#include <unordered_map>

#include "app/common/FileHelpers.h"
#include "app/common/TextConv.h"
#include "app/engine/VantrelClass.h"
#include "imaging/Error.h"

namespace vantrel {

namespace {

constexpr unsigned long kLockTimeoutMs = 30000;
constexpr int kNoColorValue = 0x1FFFFFFF;

std::string Utf8(const std::wstring& s) { return WideToUtf8(s); }

[[noreturn]] void ThrowFileError(const char* what, const std::wstring& path, DWORD code) {
    throw Error(std::string(what) + " \"" + Utf8(path) + "\". " + Utf8(SystemErrorMessage(code)));
}

class Handle {
public:
    explicit Handle(HANDLE h = INVALID_HANDLE_VALUE) : h_(h) {}
    ~Handle() {
        if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return h_; }
    bool valid() const { return h_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE h_;
};

// The lock file beside the records, held open without sharing for one read or one
// change. Another instance that tries meanwhile gets a sharing violation and retries.
class RecordsLock {
public:
    explicit RecordsLock(const std::wstring& recordsFile) {
        const std::wstring path = recordsFile + L".lock";
        const ULONGLONG deadline = GetTickCount64() + kLockTimeoutMs;
        DWORD pause = 1;
        for (;;) {
            h_ = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
            if (h_ != INVALID_HANDLE_VALUE) return;
            const DWORD code = GetLastError();
            if ((code != ERROR_SHARING_VIOLATION && code != ERROR_LOCK_VIOLATION &&
                 code != ERROR_ACCESS_DENIED) ||
                GetTickCount64() >= deadline)
                ThrowFileError("Cannot open file", path, code);
            Sleep(pause);
            if (pause < 16) pause *= 2;
        }
    }
    ~RecordsLock() { CloseHandle(h_); }
    RecordsLock(const RecordsLock&) = delete;
    RecordsLock& operator=(const RecordsLock&) = delete;

private:
    HANDLE h_ = INVALID_HANDLE_VALUE;
};

// The whole file into bytes; false when it does not exist.
bool ReadWhole(const std::wstring& path, std::string& bytes) {
    Handle h(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                         nullptr));
    if (!h.valid()) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return false;
        ThrowFileError("Cannot open file", path, code);
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(h.get(), &size)) ThrowFileError("Cannot read file", path, GetLastError());
    if (size.QuadPart < 0 || static_cast<unsigned long long>(size.QuadPart) > kMaxRecordsBytes)
        ThrowFileTooLarge(path, kMaxRecordsBytes);
    bytes.assign(std::size_t(size.QuadPart), '\0');
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD got = 0;
        if (!ReadFile(h.get(), bytes.data() + done, DWORD(bytes.size() - done), &got, nullptr))
            ThrowFileError("Cannot read file", path, GetLastError());
        if (got == 0) break;
        done += got;
    }
    bytes.resize(done);
    return true;
}

void WriteAll(HANDLE h, const std::wstring& path, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD put = 0;
        const DWORD want = DWORD(std::min<std::size_t>(bytes.size() - done, 1u << 24));
        if (!WriteFile(h, bytes.data() + done, want, &put, nullptr) || put == 0)
            ThrowFileError("Cannot write file", path, GetLastError());
        done += put;
    }
}

// Paths compare as the file system compares names: letter case ignored.
std::wstring FoldCase(const std::wstring& path) {
    if (path.empty()) return path;
    std::wstring folded(path.size(), L'\0');
    const int n = LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, path.data(), int(path.size()), folded.data(),
                               int(folded.size()));
    return n == int(path.size()) ? folded : path;
}

std::mutex g_fileMutex;  // one access at a time within the process; the lock file covers other processes

}  // namespace

TRecordContents TMarkingRecords::Read() const {
    std::lock_guard<std::mutex> guard(g_fileMutex);
    RecordsLock lock(fileName_);
    std::string bytes;
    if (!ReadWhole(fileName_, bytes)) return {};
    return RecordContents(ParseRecordsText(bytes), FoldCase);
}

std::size_t TMarkingRecords::LineCount() const {
    std::lock_guard<std::mutex> guard(g_fileMutex);
    RecordsLock lock(fileName_);
    std::string bytes;
    if (!ReadWhole(fileName_, bytes)) return 0;
    return SplitRecordLines(bytes).size();
}

void TMarkingRecords::Write(const std::vector<TRecordChange>& changes) {
    if (changes.empty()) return;
    std::string text;
    for (const TRecordChange& change : changes) text += FormatRecordLine(change) + "\r\n";

    std::lock_guard<std::mutex> guard(g_fileMutex);
    RecordsLock lock(fileName_);
    std::string bytes;
    const bool exists = ReadWhole(fileName_, bytes);
    TParsedRecords parsed = ParseRecordsText(bytes);
    if (parsed.ForeignVersion)
        throw Error("The marking records \"" + Utf8(fileName_) +
                    "\" have a version this program does not know; they are left as they are.");

    std::string append;
    if (!exists || bytes.empty()) append = std::string(kRecordsVersionLine) + "\r\n";
    else if (bytes.back() != '\n') append = "\r\n";  // a line cut short stays a line of its own
    append += text;
    {
        Handle h(CreateFileW(fileName_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!h.valid()) ThrowFileError("Cannot open file", fileName_, GetLastError());
        WriteAll(h.get(), fileName_, append);
    }

    // Compaction once superseded lines outnumber the live ones (and there are enough of
    // them to be worth a rewrite).
    TParsedRecords added = ParseRecordsText(std::string(kRecordsVersionLine) + "\r\n" + text);
    parsed.Lines.insert(parsed.Lines.end(), std::make_move_iterator(added.Lines.begin()),
                        std::make_move_iterator(added.Lines.end()));
    const std::size_t lines = parsed.Lines.size();
    if (lines < 64 || lines <= 2 * LiveRecordLines(parsed, FoldCase)) return;
    const std::string compacted = CompactedRecordsText(parsed, FoldCase);
    const std::wstring temp = fileName_ + L".tmp";
    bool written = false;
    {
        Handle h(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!h.valid()) return;  // the appended file is complete; compaction waits for next time
        try {
            WriteAll(h.get(), temp, compacted);
            written = FlushFileBuffers(h.get()) != 0;
        } catch (const Error&) {
        }
    }
    if (!written || !MoveFileExW(temp.c_str(), fileName_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        DeleteFileW(temp.c_str());
}

std::wstring MarkingRecordsFileName() { return TVantrel::Core().DataFolder + L"MarkingRecords.dat"; }

namespace {

struct Pending {
    std::wstring fileName;
    std::vector<TRecordChange> changes;
};
std::mutex g_pendingMutex;
Pending g_pending;

void Buffer(TRecordChange change) {
    const std::wstring fileName = MarkingRecordsFileName();
    bool flushFirst = false;
    {
        std::lock_guard<std::mutex> guard(g_pendingMutex);
        flushFirst = !g_pending.changes.empty() && g_pending.fileName != fileName;
    }
    if (flushFirst) FlushMarkingRecords();  // another data folder's changes (tests switch engines)
    std::lock_guard<std::mutex> guard(g_pendingMutex);
    if (!g_pending.changes.empty() && g_pending.fileName != fileName) g_pending.changes.clear();
    g_pending.fileName = fileName;
    g_pending.changes.push_back(std::move(change));
}

}  // namespace

std::wstring RecordTimeNow() {
    SYSTEMTIME t{};
    GetSystemTime(&t);
    wchar_t text[32];
    swprintf(text, 32, L"%04u-%02u-%02uT%02u:%02u:%02uZ", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
    return text;
}

void RecordMarking(const std::wstring& path, const std::wstring& markerFile, int markerIndex, int color) {
    TRecordChange change;
    change.Record.Path = path;
    change.Record.MarkerFile = markerFile;
    change.Record.MarkerIndex = markerFile.empty() ? 0 : markerIndex;
    change.Record.Color = color;
    change.Record.Time = RecordTimeNow();
    change.Drop = markerFile.empty() && color == kNoColorValue;
    Buffer(std::move(change));
}

void DropMarkingRecord(const std::wstring& path) {
    TRecordChange change;
    change.Record.Path = path;
    change.Record.Time = RecordTimeNow();
    change.Drop = true;
    Buffer(std::move(change));
}

bool FlushMarkingRecords(std::wstring* failure) {
    Pending taken;
    {
        std::lock_guard<std::mutex> guard(g_pendingMutex);
        if (g_pending.changes.empty()) return true;
        taken.fileName = g_pending.fileName;
        taken.changes.swap(g_pending.changes);
    }
    try {
        TMarkingRecords(taken.fileName).Write(taken.changes);
        return true;
    } catch (const std::exception& e) {
        if (failure) *failure = Utf8ToWide(e.what());
    }
    // Kept, ahead of anything buffered meanwhile, for the next flush.
    std::lock_guard<std::mutex> guard(g_pendingMutex);
    if (g_pending.changes.empty() || g_pending.fileName == taken.fileName) {
        taken.changes.insert(taken.changes.end(), g_pending.changes.begin(), g_pending.changes.end());
        g_pending = std::move(taken);
    }
    return false;
}

std::size_t PendingMarkingRecords() {
    std::lock_guard<std::mutex> guard(g_pendingMutex);
    return g_pending.changes.size();
}

TRecordContents ReadMarkingRecords(bool flush) {
    const std::wstring fileName = MarkingRecordsFileName();
    if (flush) FlushMarkingRecords();
    TRecordContents contents = TMarkingRecords(fileName).Read();
    // Changes that could not be written yet still count.
    std::lock_guard<std::mutex> guard(g_pendingMutex);
    if (g_pending.fileName != fileName || g_pending.changes.empty()) return contents;
    for (const TRecordChange& change : g_pending.changes) {
        const std::wstring key = FoldCase(change.Record.Path);
        auto& records = contents.Records;
        records.erase(std::remove_if(records.begin(), records.end(),
                                     [&](const TMarkingRecord& r) { return FoldCase(r.Path) == key; }),
                      records.end());
        if (!change.Drop) records.push_back(change.Record);
    }
    return contents;
}

std::vector<TUnreadableLine> TakeUnreportedLines(const std::wstring& fileName, const TRecordContents& contents) {
    static std::mutex mutex;
    static std::set<std::pair<std::wstring, std::string>> reported;
    std::lock_guard<std::mutex> guard(mutex);
    std::vector<TUnreadableLine> fresh;
    for (const TUnreadableLine& line : contents.Unreadable)
        if (reported.insert({FoldCase(fileName), line.Text}).second)
            fresh.push_back(line);
    return fresh;
}

}  // namespace vantrel
