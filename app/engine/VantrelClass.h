// TVantrel: the marking engine. One object per process holds the files to work on,
// the per-user data folder, the extensions that are never customised and the error
// report of the operation in progress.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/engine/OperationFeedback.h"

namespace vantrel {

class IniText;
struct TIconPathRec;
class TMarkingRun;

class TVantrel {
public:
    // Creates the one engine object if none exists. A failure is re-raised with the
    // message prefixed by "Unable to initialize application\r\n\r\n".
    static void InitCore();
    // The one engine object; throws "Core Not Initialized!" when none exists.
    static TVantrel& Core();
    // Destroys the engine object (program shutdown).
    static void DoneCore();

    ~TVantrel();
    TVantrel(const TVantrel&) = delete;
    TVantrel& operator=(const TVantrel&) = delete;

    bool HasErrors = false;
    std::wstring ListFileName;
    std::vector<std::wstring> FileList;
    std::wstring DataFolder;  // always ends with a backslash
    std::vector<std::wstring> Errors;
    std::vector<std::wstring> ExcludedExtensions;
    bool KeepListFile = false;

    // Replaces FileList with the existing files named by a selected-files list. A list
    // larger than kMaxListFileBytes is not read (FileList and ListFileName stay as they
    // were, and the file is not deleted at exit); lines that cannot name a file are left
    // out. Either is noted, and the note opens the report of the next operation.
    void LoadFileList(const std::wstring& listFilePath);
    // The largest list file read: a line per file, each at most the longest path. 64 MB
    // holds some 250,000 long paths, far more than any selection the program is handed.
    static constexpr std::size_t kMaxListFileBytes = 64u << 20;
    // Writes FileList as a selected-files list, replacing the file: one path per line,
    // CR LF, ANSI; UTF-8 behind a byte-order mark when a path does not fit the code page.
    void SaveFileList(const std::wstring& listFilePath) const;

    // What operations report through: the progress over their files and the error
    // report. Quiet until the program hands the engine its windows; null gives back the
    // quiet one.
    void SetProgress(IOperationProgress* progress);
    void SetReportView(IErrorReportView* view);
    IOperationProgress& Progress() const { return *progress_; }
    IErrorReportView& ReportView() const { return *reportView_; }

    // Empties the report; a note of the list loaded for this operation (see
    // LoadFileList) becomes its first block.
    void ClearErrors();
    // Appends the message and two empty lines to the report.
    void AddErrorText(const std::wstring& text);
    // Presents the report through the report view when any file failed.
    void ShowErrorReport();
    // The report as shown, copied and saved: summary, blank line, report lines.
    std::wstring ErrorReportText() const;

    // Per-file messages of the report: each sets HasErrors and adds its text block.
    void ReportFileMissing(const std::wstring& path);
    void ReportNoExtension(const std::wstring& path);
    void ReportUnregisteredType(const std::wstring& extension);
    void ReportExcludedExtension(const std::wstring& extension);
    void ReportFileSystem(const std::wstring& fileSystem);
    void ReportNotWritable(const std::wstring& path, const std::wstring& errorText);
    void ReportForeignIconHandler(const std::wstring& extension, const std::wstring& description);
    void ReportServiceNotRunning();
    void ReportUnexpectedError(const std::wstring& message);
    void ReportIconFileMissing(const std::wstring& path);
    void ReportIconResourceMissing(const std::wstring& location);
    // A marker library that only the file's own data names, on a network location: not
    // opened (StreamLibraries.h).
    void ReportLibraryOnNetwork(const std::wstring& path);
    // Data the program reads that is damaged (a stream, list or journal over its limit):
    // the message says which and why.
    void ReportDamagedData(const std::wstring& message);

    // The extension has a registered type in HKEY_CLASSES_ROOT.
    bool IsRegisteredType(const std::wstring& extension);
    // The extension is not on the exclusion list (letter case ignored).
    bool IsAllowedExtension(const std::wstring& extension);

    // The checks before a file is marked or coloured, in order; the first failure adds
    // the path line and its message. True when the file can be customised; extension
    // receives the file's extension.
    bool CheckCanCustomize(const std::wstring& path, std::wstring* extension = nullptr);
    // The checks before markings are removed: true when the file carries an icon stream
    // and can be written; false with a message for a missing or unwritable file, and
    // false without one when there is nothing to remove.
    enum class RemoveCheck { Proceed, NothingToDo, Failed };
    RemoveCheck CheckCanRemove(const std::wstring& path);

    // Engine operations. ApplyOverlay's library is the user's choice (the command line,
    // the window), unless it was read from a file's own data (re-applying a lost marking
    // from the file's info stream): then the rule of StreamLibraries.h holds for it.
    enum class TLibrarySource { User, FileData };
    void ApplyOverlay(const std::wstring& overlayIconFile, int overlayIconIndex,
                      TLibrarySource source = TLibrarySource::User);
    void ApplyColor(int color);
    void RemoveOverlay();
    void RemoveColor();
    void RestoreDefault();
    void RollbackAll();
    void RefreshShellIcons();

    // Path of the data folder's own list, which is never deleted at exit.
    std::wstring SelectedFilesPath() const { return DataFolder + L"selectedfiles.dat"; }

private:
    TVantrel();
    // The short checks of a removal: true when the file carries markings to remove.
    bool BeginRemoval(const std::wstring& file);
    // The end of every operation: the shell reloads its icons, then the report.
    void FinishOperation();
    // The type's icon location of a file; when its file is missing, reports it (as a
    // missing icon file, or as a missing file) and returns false.
    bool FindTypeIcon(const std::wstring& file, TIconPathRec& location, bool reportAsFileMissing);
    // The icon at a location, extracted once per run; when nothing could be extracted,
    // reports the missing icon resource for the file and returns null.
    const std::vector<unsigned char>* IconAt(const std::wstring& file, const std::wstring& iconFile, int index);
    // How a marker library recorded in an info stream is looked for: ApplyColor expands
    // it first (environment variables, quotes), RemoveColor takes it as written; both then
    // search PATH when it names no file.
    enum class TMarkerLookup { ExpandThenPath, PathOnly };
    // Draws the marker recorded in the file's info stream again, over the icon that base
    // gives, into the file's icon stream: the library is looked for and a missing one is
    // reported for the file; only then is base asked for its icon (null: it reported why);
    // the marker is extracted and the composition kept under baseKey and the marker's
    // location. False when the file was reported and its icon stream left as it was.
    bool RecomposeRecordedMarker(const std::wstring& file, const std::wstring& recorded, int recordedIndex,
                                 TMarkerLookup lookup, const std::wstring& baseKey,
                                 const std::function<const std::vector<unsigned char>*()>& base);
    void WriteProgramLocation();
    void InitDataFolder();

    // Runs an edit of the file's info stream; a stream over its limit is reported for the
    // file as damaged, left as it is, and false is returned.
    bool EditInfoStream(const std::wstring& file, const std::function<bool(IniText&)>& edit,
                        bool readsFirst = false);
    // Before an apply: a change journal over its limit cannot take the files marked, so
    // the operation reports it once and marks nothing (false).
    bool JournalHasRoom();

    // What LoadFileList found wrong with the list, for the next report: the list's path
    // and the message; empty when nothing.
    std::vector<std::wstring> listNotes_;

    // The operation in progress, which keeps what its files share; null between
    // operations.
    TMarkingRun* run_ = nullptr;
    IOperationProgress* progress_;
    IErrorReportView* reportView_;
    friend class TRunScope;

    static std::unique_ptr<TVantrel> core_;
};

// Hands the engine other feedback for the scope's lifetime, then gives back what it had
// (the main window's windows, a test's recording view).
class TFeedbackScope {
public:
    TFeedbackScope(TVantrel& core, IOperationProgress* progress, IErrorReportView* view)
        : core_(core), progress_(&core.Progress()), view_(&core.ReportView()) {
        core.SetProgress(progress);
        core.SetReportView(view);
    }
    ~TFeedbackScope() {
        core_.SetProgress(progress_);
        core_.SetReportView(view_);
    }
    TFeedbackScope(const TFeedbackScope&) = delete;
    TFeedbackScope& operator=(const TFeedbackScope&) = delete;

private:
    TVantrel& core_;
    IOperationProgress* progress_;
    IErrorReportView* view_;
};

}  // namespace vantrel
