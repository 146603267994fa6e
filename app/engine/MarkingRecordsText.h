// The text of the marking records "MarkingRecords.dat" (format in MarkingRecords.h):
// one line per change, and the whole file read into its live records. Portable, so the
// reader of a file that may have been changed by anyone is fuzzed natively; the store
// with its locking is MarkingRecords.h.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

struct TMarkingRecord {
    std::wstring Path;
    std::wstring MarkerFile;  // empty: no marker
    int MarkerIndex = 0;
    int Color = 0x1FFFFFFF;  // no colour
    std::wstring Time;       // "YYYY-MM-DDTHH:MM:SSZ"
    bool HasMarker() const { return !MarkerFile.empty(); }
};

// One change of the records: a marking made (Drop false) or a record dropped.
struct TRecordChange {
    TMarkingRecord Record;
    bool Drop = false;
};

// A line of the file that could not be read: its number (1 is the version line), its
// bytes and why.
struct TUnreadableLine {
    std::size_t Number = 0;
    std::string Text;
    std::wstring Reason;
};

struct TRecordContents {
    std::vector<TMarkingRecord> Records;  // in the order of their last change
    std::vector<TUnreadableLine> Unreadable;
    bool ForeignVersion = false;  // the version line is not ours: nothing was read
};

inline constexpr char kRecordsVersionLine[] = "VantrelMarkingRecords\t1";

// Encoding of one line and its reading: false with a reason when the line is no record
// line. A path or marker library holding a NUL is no record: the platform's calls would
// cut it short there and reach another file.
std::string FormatRecordLine(const TRecordChange& change);
bool ParseRecordLine(const std::string& line, TRecordChange& change, std::wstring& reason);

// The file's lines without their line ends; a last line without one is a line too.
std::vector<std::string> SplitRecordLines(std::string_view bytes);

// Paths are compared after folding, as the file system compares names (the store passes
// the platform's upper-casing).
using PathFolding = std::wstring (*)(const std::wstring& path);

// A parsed file: every line in order, each either a change or unreadable.
struct TParsedRecordLine {
    std::string Text;
    bool Readable = false;
    TRecordChange Change;
    std::wstring Reason;
};
struct TParsedRecords {
    bool ForeignVersion = false;
    std::string VersionLine;
    std::vector<TParsedRecordLine> Lines;  // after the version line
};

TParsedRecords ParseRecordsText(std::string_view bytes);
// The live records (each path's last line, when it records a marking) and the unreadable
// lines, numbered as in the file.
TRecordContents RecordContents(const TParsedRecords& parsed, PathFolding fold);
// The compacted file: the version line, then in their order the unreadable lines and
// each path's last line when it records a marking.
std::string CompactedRecordsText(const TParsedRecords& parsed, PathFolding fold);
// The lines a compaction keeps, the version line not counted.
std::size_t LiveRecordLines(const TParsedRecords& parsed, PathFolding fold);

}  // namespace vantrel
