#include "app/engine/MarkingRecords.h"

#include <windows.h>

#include <algorithm>
#include <mutex>
#include <set>
#include <unordered_map>

#include "app/common/TextConv.h"
#include "app/engine/VantrelClass.h"
#include "imaging/Error.h"

namespace vantrel {

namespace {

const char kVersionLine[] = "VantrelMarkingRecords\t1";
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
    if (size.QuadPart > 0x40000000) throw Error("File \"" + Utf8(path) + "\" is too large.");
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

std::string Escape(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            case '\n': out += "\\n"; break;
            default: out += c;
        }
    }
    return out;
}

bool Unescape(const std::string& s, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\') {
            out += s[i];
            continue;
        }
        if (++i == s.size()) return false;
        switch (s[i]) {
            case '\\': out += '\\'; break;
            case 't': out += '\t'; break;
            case 'r': out += '\r'; break;
            case 'n': out += '\n'; break;
            default: return false;
        }
    }
    return true;
}

// Strict UTF-8 to UTF-16: false for bytes that are no UTF-8.
bool DecodeUtf8(const std::string& s, std::wstring& out) {
    out.clear();
    if (s.empty()) return true;
    if (s.size() > 0x7FFFFFFF) return false;
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s.data(), int(s.size()), nullptr, 0);
    if (n <= 0) return false;
    out.assign(std::size_t(n), L'\0');
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s.data(), int(s.size()), out.data(), n) == n;
}

bool ParseInt(const std::string& s, int& value) {
    if (s.empty() || s.size() > 11) return false;
    std::size_t i = 0;
    const bool negative = s[0] == '-';
    if (negative) i = 1;
    if (i == s.size()) return false;
    long long v = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        v = v * 10 + (s[i] - '0');
    }
    if (negative) v = -v;
    if (v < INT_MIN || v > INT_MAX) return false;
    value = int(v);
    return true;
}

bool ValidTime(const std::string& t) {
    static const char kPattern[] = "dddd-dd-ddTdd:dd:ddZ";
    if (t.size() != sizeof(kPattern) - 1) return false;
    for (std::size_t i = 0; i < t.size(); ++i) {
        if (kPattern[i] == 'd' ? (t[i] < '0' || t[i] > '9') : t[i] != kPattern[i]) return false;
    }
    return true;
}

std::vector<std::string> SplitFields(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) break;
        start = tab + 1;
    }
    return fields;
}

// The file's lines without their line ends; a last line without one is a line too.
std::vector<std::string> SplitLines(const std::string& bytes) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        const std::size_t next = end == std::string::npos ? bytes.size() : end + 1;
        if (end == std::string::npos) end = bytes.size();
        if (end > start && bytes[end - 1] == '\r') --end;
        lines.push_back(bytes.substr(start, end - start));
        start = next;
    }
    return lines;
}

// Paths compare as the file system compares names: letter case ignored.
std::wstring FoldCase(const std::wstring& path) {
    if (path.empty()) return path;
    std::wstring folded(path.size(), L'\0');
    const int n = LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, path.data(), int(path.size()), folded.data(),
                               int(folded.size()));
    return n == int(path.size()) ? folded : path;
}

// A parsed file: every line in order, each either a change or unreadable.
struct ParsedLine {
    std::string Text;
    bool Readable = false;
    TRecordChange Change;
    std::wstring Reason;
};

struct Parsed {
    bool ForeignVersion = false;
    std::string VersionLine;
    std::vector<ParsedLine> Lines;  // after the version line
};

Parsed Parse(const std::string& bytes) {
    Parsed parsed;
    std::vector<std::string> lines = SplitLines(bytes);
    if (lines.empty()) return parsed;
    parsed.VersionLine = lines[0];
    if (lines[0] != kVersionLine) parsed.ForeignVersion = true;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        ParsedLine line;
        line.Text = std::move(lines[i]);
        if (parsed.ForeignVersion) {
            line.Reason = L"the file's version line is not known to this program";
        } else if (line.Text.empty()) {
            line.Readable = true;  // an empty line carries nothing; a compaction drops it
            line.Change.Drop = true;
        } else {
            line.Readable = ParseRecordLine(line.Text, line.Change, line.Reason);
        }
        parsed.Lines.push_back(std::move(line));
    }
    return parsed;
}

// For each path the index of its last line; unreadable and empty lines are left out.
std::unordered_map<std::wstring, std::size_t> LastLines(const Parsed& parsed) {
    std::unordered_map<std::wstring, std::size_t> last;
    for (std::size_t i = 0; i < parsed.Lines.size(); ++i) {
        const ParsedLine& line = parsed.Lines[i];
        if (line.Readable && !line.Change.Record.Path.empty()) last[FoldCase(line.Change.Record.Path)] = i;
    }
    return last;
}

TRecordContents ContentsOf(const Parsed& parsed) {
    TRecordContents contents;
    contents.ForeignVersion = parsed.ForeignVersion;
    const auto last = LastLines(parsed);
    for (std::size_t i = 0; i < parsed.Lines.size(); ++i) {
        const ParsedLine& line = parsed.Lines[i];
        if (!line.Readable) {
            contents.Unreadable.push_back({i + 2, line.Text, line.Reason});
            continue;
        }
        if (line.Change.Drop || line.Change.Record.Path.empty()) continue;
        auto it = last.find(FoldCase(line.Change.Record.Path));
        if (it != last.end() && it->second == i) contents.Records.push_back(line.Change.Record);
    }
    if (parsed.ForeignVersion) {
        // The version line itself is named first: it is why nothing could be read.
        contents.Unreadable.insert(contents.Unreadable.begin(),
                                   {1, parsed.VersionLine, L"it is not the version line of this program's records"});
    }
    return contents;
}

// The compacted file: the version line, then in their order the unreadable lines and
// each path's last line when it records a marking.
std::string Compacted(const Parsed& parsed) {
    std::string out = std::string(kVersionLine) + "\r\n";
    const auto last = LastLines(parsed);
    for (std::size_t i = 0; i < parsed.Lines.size(); ++i) {
        const ParsedLine& line = parsed.Lines[i];
        bool keep = !line.Readable;
        if (line.Readable && !line.Change.Drop && !line.Change.Record.Path.empty()) {
            auto it = last.find(FoldCase(line.Change.Record.Path));
            keep = it != last.end() && it->second == i;
        }
        if (keep) out += line.Text + "\r\n";
    }
    return out;
}

std::size_t LiveCount(const Parsed& parsed) {
    std::size_t live = 0;
    const auto last = LastLines(parsed);
    for (const auto& [key, index] : last)
        if (!parsed.Lines[index].Change.Drop) ++live;
    std::size_t unreadable = 0;
    for (const ParsedLine& line : parsed.Lines)
        if (!line.Readable) ++unreadable;
    return live + unreadable;
}

std::mutex g_fileMutex;  // one access at a time within the process; the lock file covers other processes

}  // namespace

std::string FormatRecordLine(const TRecordChange& change) {
    const TMarkingRecord& r = change.Record;
    if (change.Drop) return "-\t" + Escape(Utf8(r.Path)) + "\t" + Escape(Utf8(r.Time));
    return "+\t" + Escape(Utf8(r.Path)) + "\t" + Escape(Utf8(r.MarkerFile)) + "\t" + std::to_string(r.MarkerIndex) +
           "\t" + std::to_string(r.Color) + "\t" + Escape(Utf8(r.Time));
}

bool ParseRecordLine(const std::string& line, TRecordChange& change, std::wstring& reason) {
    change = TRecordChange{};
    const std::vector<std::string> fields = SplitFields(line);
    const bool add = fields[0] == "+";
    if (!add && fields[0] != "-") {
        reason = L"it starts with neither \"+\" nor \"-\"";
        return false;
    }
    const std::size_t wanted = add ? 6 : 3;
    if (fields.size() != wanted) {
        reason = L"it has " + std::to_wstring(fields.size()) + L" fields instead of " + std::to_wstring(wanted);
        return false;
    }
    std::vector<std::wstring> text(fields.size());
    for (std::size_t i = 1; i < fields.size(); ++i) {
        std::string raw;
        if (!Unescape(fields[i], raw)) {
            reason = L"field " + std::to_wstring(i + 1) + L" has a backslash that escapes nothing known";
            return false;
        }
        if (!DecodeUtf8(raw, text[i])) {
            reason = L"field " + std::to_wstring(i + 1) + L" is not UTF-8 text";
            return false;
        }
    }
    TMarkingRecord& r = change.Record;
    r.Path = text[1];
    if (r.Path.empty() || r.Path.find(L'\0') != std::wstring::npos) {
        reason = L"it names no file";
        return false;
    }
    const std::string& time = add ? fields[5] : fields[2];
    if (!ValidTime(time)) {
        reason = L"its time is not of the form YYYY-MM-DDTHH:MM:SSZ";
        return false;
    }
    r.Time = Utf8ToWide(time);
    change.Drop = !add;
    if (add) {
        r.MarkerFile = text[2];
        if (!ParseInt(fields[3], r.MarkerIndex) || !ParseInt(fields[4], r.Color)) {
            reason = L"its marker index or colour is no integer";
            return false;
        }
        if (r.MarkerFile.empty() && r.Color == kNoColorValue) {
            reason = L"it records neither a marker nor a colour";
            return false;
        }
    }
    return true;
}

TRecordContents TMarkingRecords::Read() const {
    std::lock_guard<std::mutex> guard(g_fileMutex);
    RecordsLock lock(fileName_);
    std::string bytes;
    if (!ReadWhole(fileName_, bytes)) return {};
    return ContentsOf(Parse(bytes));
}

std::size_t TMarkingRecords::LineCount() const {
    std::lock_guard<std::mutex> guard(g_fileMutex);
    RecordsLock lock(fileName_);
    std::string bytes;
    if (!ReadWhole(fileName_, bytes)) return 0;
    return SplitLines(bytes).size();
}

void TMarkingRecords::Write(const std::vector<TRecordChange>& changes) {
    if (changes.empty()) return;
    std::string text;
    for (const TRecordChange& change : changes) text += FormatRecordLine(change) + "\r\n";

    std::lock_guard<std::mutex> guard(g_fileMutex);
    RecordsLock lock(fileName_);
    std::string bytes;
    const bool exists = ReadWhole(fileName_, bytes);
    Parsed parsed = Parse(bytes);
    if (parsed.ForeignVersion)
        throw Error("The marking records \"" + Utf8(fileName_) +
                    "\" have a version this program does not know; they are left as they are.");

    std::string append;
    if (!exists || bytes.empty()) append = std::string(kVersionLine) + "\r\n";
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
    Parsed added = Parse(std::string(kVersionLine) + "\r\n" + text);
    parsed.Lines.insert(parsed.Lines.end(), std::make_move_iterator(added.Lines.begin()),
                        std::make_move_iterator(added.Lines.end()));
    const std::size_t lines = parsed.Lines.size();
    if (lines < 64 || lines <= 2 * LiveCount(parsed)) return;
    const std::string compacted = Compacted(parsed);
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

TRecordContents ReadMarkingRecords() {
    const std::wstring fileName = MarkingRecordsFileName();
    FlushMarkingRecords();
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
