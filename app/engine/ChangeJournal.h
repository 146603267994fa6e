// The change journal "Changes.dat" in the data folder: one full path per line of
// every file the program has customised, in the order of first customisation, each
// path once (letter case ignored). Rollback walks it to undo every customisation.
//
// File format: ANSI with CR LF line ends; when a path has characters outside the
// ANSI code page the whole journal is UTF-8 behind a byte-order mark instead. Lines
// ended by a bare CR or LF, empty lines and repeated paths are accepted on reading
// and tidied at the next change; a line that cannot name a file (a NUL, which would cut
// the path short so that a rollback deleted another file, any other control character,
// text that is not of the journal's encoding) is never taken for a path and goes at the
// next change too.
//
// Several program instances may change the journal at once (two menu commands picked
// together): every read-modify-write holds the file open exclusively, and an instance
// that finds it held waits for its turn. A new path is appended; earlier lines are
// rewritten only when the file needs tidying or a change of encoding.
#pragma once

#include <string>
#include <vector>

#include "app/engine/MarkingRecords.h"  // what each journalled file was marked with
#include "app/engine/OperationFeedback.h"

namespace vantrel {

class TChangeJournal {
public:
    explicit TChangeJournal(std::wstring fileName) : fileName_(std::move(fileName)) {}
    const std::wstring& FileName() const { return fileName_; }

    // Adds the path unless present (the file is created when missing). An empty
    // path is ignored; a path holding a line break or NUL is refused (vantrel::Error).
    void Add(const std::wstring& path);
    // Removes the path's line; nothing happens when the file does not exist.
    void Remove(const std::wstring& path);
    // Removes the lines of all the paths in one rewrite.
    void Remove(const std::vector<std::wstring>& paths);
    // The journal's paths; empty when the file does not exist.
    std::vector<std::wstring> Entries() const;

private:
    std::wstring fileName_;
};

// The largest journal the program reads: a line per marked file, each at most the
// longest path. 64 MB holds some 250,000 long paths; a larger journal was not written by
// the program and is taken as damaged: it is read by nothing and written by nothing
// (EFileTooLarge), so no marking it lists is lost.
inline constexpr std::size_t kMaxJournalBytes = 64u << 20;

// Path of the journal: the engine's DataFolder + "Changes.dat".
std::wstring JournalFileName();
// Throws EFileTooLarge when the journal is over kMaxJournalBytes; nothing else is checked.
void CheckJournalSize();

// True when the journal file exists and names at least one file (what a rollback
// would undo).
bool HasJournalEntries();

// Called after each successful apply.
void JournalAdd(const std::wstring& path);
// Called by RemoveMarkerStreams, whether or not streams were deleted; also drops the
// file's marking record. While a TJournalRemovals object exists the path is only
// collected.
void JournalRemove(const std::wstring& path);

// The removals of one operation over many files, written as one rewrite of the journal
// instead of one per file. Commit writes them; an object destroyed without Commit (a
// failure ended the operation) still writes what it collected, as far as it can. A path
// stays listed a little longer than its streams, never the other way round, so nothing
// marked is ever missing from the journal.
class TJournalRemovals {
public:
    TJournalRemovals();
    ~TJournalRemovals();
    TJournalRemovals(const TJournalRemovals&) = delete;
    TJournalRemovals& operator=(const TJournalRemovals&) = delete;
    void Collect(const std::wstring& path) { paths_.push_back(path); }
    void Commit();

private:
    std::vector<std::wstring> paths_;
    TJournalRemovals* outer_;
};
// Removes the streams of every journalled file (RemoveMarkerStreams on a snapshot of
// the journal, a progress step before each file), which also empties the journal. A
// stop leaves the files not yet begun, and their lines, as they are.
void JournalRollback(IOperationProgress& progress);

// How long a change waits for another instance to release the journal before it
// fails; tests shorten it.
void SetJournalLockTimeout(unsigned long milliseconds);

}  // namespace vantrel
