// The files of the change journal with what they were marked with and whether they still
// carry it: the model behind the "Marked Files" window. A file's marking comes from its
// record in the marking records, or, for files journalled before records existed, from
// its own info stream.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "app/engine/MarkingRecords.h"

namespace vantrel {

class TVantrel;

enum class TMarkState : int {
    Unknown = 0,  // not looked at yet
    Marked,       // the file carries its icon stream
    Lost,         // the file is there, its icon stream is not
    Missing,      // the file is not there
};

const wchar_t* MarkStateName(TMarkState state);

// What a look at a file found: its state and, when it had no record, the marking its
// info stream names (Known false when neither tells one). An info stream over its limit
// tells nothing: Damage then says why.
struct TFileLook {
    TMarkState State = TMarkState::Unknown;
    bool Known = false;
    std::wstring MarkerFile;
    int MarkerIndex = 0;
    int Color = 0x1FFFFFFF;
    std::wstring Damage;
};

// Looks at a file: it exists, it carries its icon stream; with readInfo, what its info
// stream records. Safe to call from any thread.
TFileLook LookAtFile(const std::wstring& path, bool readInfo);

struct TMarkedFile {
    std::wstring Path;
    bool Recorded = false;  // Record holds the file's marking record
    TMarkingRecord Record;
};

struct TMarkedFileList {
    std::vector<TMarkedFile> Files;  // journal order
    std::wstring RecordsFile;
    std::vector<TUnreadableLine> NewUnreadable;  // unreadable record lines not reported before
    std::wstring RecordsFailure;                 // the records could not be read at all
};

// The journal's files with their records. Fails (vantrel::Error) when the journal cannot
// be read; records that cannot be read leave the files without them (RecordsFailure).
TMarkedFileList LoadMarkedFiles();

// The message that reports unreadable record lines, naming the file and each line.
std::wstring UnreadableLinesMessage(const std::wstring& recordsFile, const std::vector<TUnreadableLine>& lines);

// A marking to make again: the file and what it had.
struct TReapplyItem {
    std::wstring Path;
    std::wstring MarkerFile;  // empty: none
    int MarkerIndex = 0;
    int Color = 0x1FFFFFFF;
    bool FromFileData = false;  // read from the file's own info stream, not from its record
};

// Marks the files again with what they had, through the engine's operations: first
// ApplyColor for each colour, then ApplyOverlay for each marker (which tints with the
// colour the info stream now holds), so a marker over a colour comes out as it was made.
// A file that still carries an icon stream is left alone; a lost file's leftover info
// stream is removed first, so nothing stale mixes in. A marker read from the file's own
// info stream whose library lies on a network location (StreamLibraries.h) is not
// re-applied: the file is left as it is, info stream included, and reported. Runs on the
// caller's thread; each operation shows its own error report.
void ReapplyMarkings(TVantrel& engine, const std::vector<TReapplyItem>& items);

// Takes the files out of the journal and drops their records (missing files, or lost
// markings the user gives up), then writes the records.
void ForgetMarkedFiles(const std::vector<std::wstring>& paths);

}  // namespace vantrel
