// The engine's marking operations: apply a marker, apply a colour, remove the marker,
// remove the colour, restore the type's icon. Each works over the file list in order,
// reports per-file failures and goes on, then refreshes the shell's icons and shows the
// report. What the files of one operation share (type and volume facts, extracted,
// tinted and composed icons) is worked out once per operation (TMarkingRun); every file
// still gets its own checks, info stream and icon stream, in the same order of steps.
#include "app/engine/MarkingRun.h"
#include "app/engine/VantrelClass.h"

#include <windows.h>

#include "app/common/FileHelpers.h"
#include "app/common/TextConv.h"
#include "app/common/TextFormat.h"
#include "app/engine/ChangeJournal.h"
#include "app/engine/MarkerStreams.h"
#include "app/engine/StreamLibraries.h"
#include "app/registration/RegisterIconHandlerUnit.h"

namespace vantrel {

// Makes a run the engine's operation in progress for its lifetime.
class TRunScope {
public:
    TRunScope(TVantrel& core, TMarkingRun& run) : core_(core) { core_.run_ = &run; }
    ~TRunScope() { core_.run_ = nullptr; }
    TRunScope(const TRunScope&) = delete;
    TRunScope& operator=(const TRunScope&) = delete;

private:
    TVantrel& core_;
};

namespace {

std::wstring LocationText(const std::wstring& path, int index) { return path + L"," + std::to_wstring(index); }

// The finished icon into the file's icon stream (an icon that encoded to nothing is
// not written, as saving it to a file writes nothing). One plain write: the C++ file
// stream costs several times as much per file.
void WriteIconStream(const std::wstring& file, const TMarkingRun::Icon& icon) {
    if (!icon.empty()) WriteFileBytes(IconStreamPath(file), icon.data(), icon.size());
}

}  // namespace


bool TVantrel::FindTypeIcon(const std::wstring& file, TIconPathRec& location, bool reportAsFileMissing) {
    location = run_ ? run_->TypeIconLocation(file) : GetIconLocation(file);
    if (FileExists(location.Path)) return true;
    Errors.push_back(file);
    if (reportAsFileMissing)
        ReportFileMissing(location.Path);
    else
        ReportIconFileMissing(location.Path);
    return false;
}

const std::vector<unsigned char>* TVantrel::IconAt(const std::wstring& file, const std::wstring& iconFile, int index) {
    const TMarkingRun::Icon* icon = run_->Extracted(iconFile, index);
    if (icon) return icon;
    Errors.push_back(file);
    ReportIconResourceMissing(LocationText(iconFile, index));
    return nullptr;
}

bool TVantrel::BeginRemoval(const std::wstring& file) {
    const RemoveCheck check = CheckCanRemove(file);
    // A file with nothing to remove is a progress step; a failed one is not.
    if (check == RemoveCheck::NothingToDo) progress_->Step(file);
    return check == RemoveCheck::Proceed;
}

bool TVantrel::RecomposeRecordedMarker(const std::wstring& file, const std::wstring& recorded, int recordedIndex,
                                       TMarkerLookup lookup, const std::wstring& baseKey,
                                       const std::function<const std::vector<unsigned char>*()>& base) {
    // The library is named by the file's own data: the rule for such paths decides before
    // anything touches it.
    const TStreamLibrary library =
        FindStreamLibrary(recorded,
                          lookup == TMarkerLookup::ExpandThenPath ? TLibraryLookup::ExpandedOnPath : TLibraryLookup::OnPath,
                          [&] { return run_->RecordVouches(file, recorded); });
    if (library.Refused) {
        Errors.push_back(file);
        ReportLibraryOnNetwork(recorded);
        return false;
    }
    const std::wstring& overlayPath = library.Path;
    if (!FileExists(overlayPath)) {
        Errors.push_back(file);
        ReportIconFileMissing(PrintableText(recorded));
        return false;
    }
    const TMarkingRun::Icon* under = base();
    if (!under) return false;
    const TMarkingRun::Icon* marker = IconAt(file, overlayPath, recordedIndex);
    if (!marker) return false;
    WriteIconStream(file, run_->Composed(baseKey + L"|" + LocationText(overlayPath, recordedIndex), *under, *marker));
    return true;
}

bool TVantrel::EditInfoStream(const std::wstring& file, const std::function<bool(IniText&)>& edit, bool readsFirst) {
    try {
        OpenInfoStream(file).Edit(edit, readsFirst);
        return true;
    } catch (const EFileTooLarge& e) {
        Errors.push_back(file);
        ReportDamagedData(Utf8ToWide(e.what()));
        return false;
    }
}

bool TVantrel::JournalHasRoom() {
    try {
        CheckJournalSize();
        return true;
    } catch (const EFileTooLarge& e) {
        ReportDamagedData(Utf8ToWide(e.what()) +
                          L"\r\nNo file was marked, so that every marking stays listed for a rollback. "
                          L"Move the journal away to start a new one.");
        return false;
    }
}

namespace {

// The journal lines of the removed files go in one rewrite. A journal over its limit is
// left as it is: the files' streams are gone, their lines stay (a rollback drops them).
void CommitRemovals(TVantrel& core, TJournalRemovals& removals) {
    try {
        removals.Commit();
    } catch (const EFileTooLarge& e) {
        core.ReportDamagedData(Utf8ToWide(e.what()) + L"\r\nThe markings were removed; the files stay listed in it.");
    }
}

}  // namespace

void TVantrel::FinishOperation() {
    RefreshShellIcons();
    ShowErrorReport();
}

void TVantrel::ApplyOverlay(const std::wstring& overlayIconFile, int overlayIconIndex, TLibrarySource source) {
    ClearErrors();
    TMarkingRun run;
    TRunScope scope(*this, run);
    if (source == TLibrarySource::User) NoteChosenLibrary(overlayIconFile);
    if (!JournalHasRoom()) {
        FinishOperation();
        return;
    }
    std::wstring overlayPath = overlayIconFile;  // may become the PATH search result
    const std::size_t count = FileList.size();
    for (std::size_t i = 0; i < count && !progress_->StopRequested(); ++i) {
        const std::wstring file = FileList[i];
        run.TrimIfLarge();
        if (source == TLibrarySource::FileData &&
            FindStreamLibrary(overlayIconFile, TLibraryLookup::OnPath, [&] {
                return run.RecordVouches(file, overlayIconFile);
            }).Refused) {
            // Refused before anything is written or registered for the file.
            Errors.push_back(file);
            ReportLibraryOnNetwork(overlayIconFile);
            continue;
        }
        if (!CheckCanCustomize(file)) continue;

        int color = kNoColor;
        if (!EditInfoStream(file, [&](IniText& info) {
                info.Write(kInfoSection, kOverlayIconFileKey, overlayIconFile);
                info.Write(kInfoSection, kOverlayIconIndexKey, std::to_wstring(overlayIconIndex));
                color = TIniFile::IntegerValue(info, kInfoSection, kColorKey, kNoColor);
                return true;
            }))
            continue;

        TIconPathRec location;
        if (!FindTypeIcon(file, location, false)) continue;
        const TMarkingRun::Icon* base = IconAt(file, location.Path, location.Index);
        if (!base) continue;
        std::wstring key = LocationText(location.Path, location.Index);
        if (color != kNoColor) {
            base = &run.Tinted(key, *base, color);
            key += L"|" + std::to_wstring(color);
        }
        if (!FileExists(overlayPath)) overlayPath = FindOnPath(overlayPath);
        if (!FileExists(overlayPath)) {
            // Without the marker no file can be marked: report it once and stop.
            Errors.push_back(file);
            ReportIconFileMissing(overlayIconFile);
            break;
        }
        const TMarkingRun::Icon* marker = IconAt(file, overlayPath, overlayIconIndex);
        if (!marker) continue;
        WriteIconStream(file, run.Composed(key + L"|" + LocationText(overlayPath, overlayIconIndex), *base, *marker));
        JournalAdd(file);
        RecordMarking(file, overlayIconFile, overlayIconIndex, color);
        progress_->Step(file);
    }
    FinishOperation();
}

void TVantrel::ApplyColor(int color) {
    ClearErrors();
    TMarkingRun run;
    TRunScope scope(*this, run);
    if (!JournalHasRoom()) {
        FinishOperation();
        return;
    }
    const std::size_t count = FileList.size();
    for (std::size_t i = 0; i < count && !progress_->StopRequested(); ++i) {
        const std::wstring file = FileList[i];
        run.TrimIfLarge();
        if (!CheckCanCustomize(file)) continue;

        std::wstring recorded;
        int recordedIndex = 0;
        if (!EditInfoStream(file, [&](IniText& info) {
                const TInfoMarking marking = ReadInfoMarking(info);
                recorded = marking.MarkerFile;
                recordedIndex = marking.MarkerIndex;
                info.Write(kInfoSection, kColorKey, std::to_wstring(color));
                return true;
            }))
            continue;

        TIconPathRec location;
        if (!FindTypeIcon(file, location, false)) continue;
        const TMarkingRun::Icon* base = IconAt(file, location.Path, location.Index);
        if (!base) continue;
        // Always the type's own icon is tinted, never an earlier tint.
        const std::wstring key = LocationText(location.Path, location.Index);
        const TMarkingRun::Icon& tinted = run.Tinted(key, *base, color);
        if (!recorded.empty()) {
            if (!RecomposeRecordedMarker(file, recorded, recordedIndex, TMarkerLookup::ExpandThenPath,
                                         key + L"|" + std::to_wstring(color), [&] { return &tinted; }))
                continue;
        } else {
            WriteFileBytes(IconStreamPath(file), tinted.data(), tinted.size());  // even when empty, as a copy
        }
        JournalAdd(file);
        RecordMarking(file, recorded, recordedIndex, color);
        progress_->Step(file);
    }
    FinishOperation();
}

void TVantrel::RemoveOverlay() {
    ClearErrors();
    TMarkingRun run;
    TRunScope scope(*this, run);
    TJournalRemovals removals;
    const std::size_t count = FileList.size();
    for (std::size_t i = 0; i < count && !progress_->StopRequested(); ++i) {
        const std::wstring file = FileList[i];
        run.TrimIfLarge();
        if (!BeginRemoval(file)) continue;
        int color = kNoColor;
        if (!EditInfoStream(file, [&](IniText& info) {
                color = TIniFile::IntegerValue(info, kInfoSection, kColorKey, kNoColor);
                if (color == kNoColor) return false;
                const bool a = info.Delete(kInfoSection, kOverlayIconFileKey);
                const bool b = info.Delete(kInfoSection, kOverlayIconIndexKey);
                return a || b;
            }, true))
            continue;
        if (color == kNoColor) {
            RemoveMarkerStreams(file);
            progress_->Step(file);
            continue;
        }

        TIconPathRec location;
        if (!FindTypeIcon(file, location, false)) continue;
        const TMarkingRun::Icon* base = IconAt(file, location.Path, location.Index);
        if (!base) continue;
        WriteIconStream(file, run.Tinted(LocationText(location.Path, location.Index), *base, color));
        RecordMarking(file, L"", 0, color);
        progress_->Step(file);
    }
    CommitRemovals(*this, removals);
    FinishOperation();
}

void TVantrel::RemoveColor() {
    ClearErrors();
    TMarkingRun run;
    TRunScope scope(*this, run);
    TJournalRemovals removals;
    const std::size_t count = FileList.size();
    for (std::size_t i = 0; i < count && !progress_->StopRequested(); ++i) {
        const std::wstring file = FileList[i];
        run.TrimIfLarge();
        if (!BeginRemoval(file)) continue;
        std::wstring recorded;
        int recordedIndex = 0;
        if (!EditInfoStream(file, [&](IniText& info) {
                const TInfoMarking marking = ReadInfoMarking(info);
                recorded = marking.MarkerFile;
                if (recorded.empty()) return false;
                recordedIndex = marking.MarkerIndex;
                return info.Delete(kInfoSection, kColorKey);
            }, true))
            continue;
        if (recorded.empty()) {
            RemoveMarkerStreams(file);
            progress_->Step(file);
            continue;
        }

        TIconPathRec location;
        // This operation reports a missing type icon with the general message.
        if (!FindTypeIcon(file, location, true)) continue;
        // Here the marker's library is looked for before the type's icon is extracted.
        if (!RecomposeRecordedMarker(file, recorded, recordedIndex, TMarkerLookup::PathOnly,
                                     LocationText(location.Path, location.Index),
                                     [&] { return IconAt(file, location.Path, location.Index); }))
            continue;
        RecordMarking(file, recorded, recordedIndex, kNoColor);
        progress_->Step(file);
    }
    CommitRemovals(*this, removals);
    FinishOperation();
}

void TVantrel::RestoreDefault() {
    ClearErrors();
    TJournalRemovals removals;
    const std::size_t count = FileList.size();
    for (std::size_t i = 0; i < count && !progress_->StopRequested(); ++i) {
        const std::wstring file = FileList[i];
        const RemoveCheck check = CheckCanRemove(file);
        if (check == RemoveCheck::Failed) continue;
        if (check == RemoveCheck::Proceed) RemoveMarkerStreams(file);
        progress_->Step(file);
    }
    CommitRemovals(*this, removals);
    FinishOperation();
}

}  // namespace vantrel
