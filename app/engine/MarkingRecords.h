// The marking records "MarkingRecords.dat" in the data folder: for every marked file
// the marker location, the colour and the time of its last marking, so that a marking
// the file lost (moved off NTFS, synchronised by a service that drops streams, rewritten
// by an editor) can be made again with what it had. The change journal keeps its own
// format beside it.
//
// File format: UTF-8 text, lines ended by CR LF. The first line is the version line
// "VantrelMarkingRecords<TAB>1". Every further line is one change, fields separated by
// a TAB, with backslash, TAB, CR and LF inside a field written as \\, \t, \r and \n:
//
//   +  <path>  <marker library, empty for none>  <marker index>  <colour>  <time>
//   -  <path>  <time>
//
// "+" records a marking, "-" drops the file's record; for each path (letter case
// ignored) the last line holds. The colour is the decimal colour value, 536870911 for
// none; the time is UTC, "YYYY-MM-DDTHH:MM:SSZ".
//
// Changes are appended, one write for all the changes of an operation. When superseded
// lines outnumber the live records the file is compacted: written whole to a temporary
// file that then replaces it. Lines that cannot be read are kept verbatim, in their
// place, by every compaction; a file whose version line is not ours is never written.
// Several program instances may use the file at once: each read and write holds the
// lock file "MarkingRecords.dat.lock" beside it open exclusively, and an instance that finds
// it held waits for its turn.
#pragma once

#include <string>
#include <vector>

#include "app/engine/MarkingRecordsText.h"

namespace vantrel {

// The largest records file the program reads. Each record line holds a file's path, its
// marker library, two numbers and a time, a few hundred bytes; the file keeps one live
// line per marked file and is compacted before superseded lines outnumber the live ones.
// 128 MB is some 200,000 marked files with long paths, twice over: a larger file was not
// written by the program and is taken as damaged (EFileTooLarge), read by nothing and
// written by nothing.
inline constexpr std::size_t kMaxRecordsBytes = 128u << 20;

class TMarkingRecords {
public:
    explicit TMarkingRecords(std::wstring fileName) : fileName_(std::move(fileName)) {}
    const std::wstring& FileName() const { return fileName_; }

    // The live records; empty contents when the file does not exist. Fails
    // (vantrel::Error) only when the file exists and cannot be read, EFileTooLarge when
    // it is over kMaxRecordsBytes.
    TRecordContents Read() const;
    // Appends the changes in one write (the file is created when missing), then compacts
    // the file when it has grown mostly superseded. Fails (vantrel::Error) when the file
    // cannot be written or its version line is not ours; the file is then unchanged.
    void Write(const std::vector<TRecordChange>& changes);

    // The number of lines of the file, for tests and the compaction rule.
    std::size_t LineCount() const;

private:
    std::wstring fileName_;
};

// Path of the records: the engine's DataFolder + "MarkingRecords.dat".
std::wstring MarkingRecordsFileName();

// The engine's calls. A marking made or changed (marker file empty for none, kNoColor
// for no colour), and a file whose markings were removed entirely. Both only buffer the
// change; FlushMarkingRecords writes the buffer, once per operation.
void RecordMarking(const std::wstring& path, const std::wstring& markerFile, int markerIndex, int color);
void DropMarkingRecord(const std::wstring& path);
// Writes the buffered changes. True when nothing was left to write; on failure the
// changes stay buffered for the next flush and failure (when given) receives the message.
bool FlushMarkingRecords(std::wstring* failure = nullptr);
// The buffered changes not yet written (tests).
std::size_t PendingMarkingRecords();

// The records (after a flush of the buffer; without flush, the buffered changes still
// count but are left for the operation's own flush).
TRecordContents ReadMarkingRecords(bool flush = true);
// The unreadable lines of contents that this process has not reported before; each is
// reported once per process.
std::vector<TUnreadableLine> TakeUnreportedLines(const std::wstring& fileName, const TRecordContents& contents);

// The time now as the records write it.
std::wstring RecordTimeNow();

}  // namespace vantrel
