// The engine's marking operations: apply a marker, apply a colour, remove the marker,
// remove the colour, restore the type's icon. Each works over the file list in order,
// reports per-file failures and goes on, then refreshes the shell's icons and shows the
// report.
#include "imaging/Colorize.h"  // the imaging headers come before windows.h and its RGB macros
#include "imaging/OverlayCompose.h"

#include "app/engine/VantrelClass.h"

#include <windows.h>
#include <objbase.h>

#include <filesystem>

#include "app/common/FileHelpers.h"
#include "app/common/TextFormat.h"
#include "app/engine/ChangeJournal.h"
#include "app/engine/IconExtractCache.h"
#include "app/engine/MarkerStreams.h"
#include "app/registration/RegisterIconHandlerUnit.h"
#include "app/window/kvProgress.h"
#include "imaging/Error.h"

namespace vantrel {

namespace {

// The per-file temporary folder: a fresh GUID under the temporary folder root. It is
// created only when needed and always deleted when the file is left, also when a
// failure ends the whole operation, so no folder stays behind in TEMP.
class WorkFolder {
public:
    explicit WorkFolder(const std::wstring& root) {
        GUID guid;
        if (FAILED(CoCreateGuid(&guid))) throw Error("Cannot create a GUID for a temporary folder");
        wchar_t text[40] = L"";
        StringFromGUID2(guid, text, 40);
        path_ = root + text + L"\\";
    }
    ~WorkFolder() {
        if (created_) DeleteFolderTree(path_);
    }
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;

    void Create() {
        ForceFolder(path_);
        created_ = true;
    }
    std::wstring operator/(const wchar_t* name) const { return path_ + name; }

private:
    std::wstring path_;
    bool created_ = false;
};

std::filesystem::path P(const std::wstring& s) { return std::filesystem::path(s); }

std::wstring LocationText(const std::wstring& path, int index) { return path + L"," + std::to_wstring(index); }

}  // namespace

std::wstring TVantrel::TempRoot() const { return IncludeTrailingBackslash(GetEnvVar(L"TEMP")); }

bool TVantrel::FindTypeIcon(const std::wstring& file, TIconPathRec& location, bool reportAsFileMissing) {
    location = GetIconLocation(file);
    if (FileExists(location.Path)) return true;
    Errors.push_back(file);
    if (reportAsFileMissing)
        ReportFileMissing(location.Path);
    else
        ReportIconFileMissing(location.Path);
    return false;
}

bool TVantrel::ExtractIconTo(const std::wstring& file, const std::wstring& iconFile, int index,
                             const std::wstring& destination) {
    ExtractIconToFile(iconFile, index, destination);
    if (FileExists(destination)) return true;
    Errors.push_back(file);
    ReportIconResourceMissing(LocationText(iconFile, index));
    return false;
}

bool TVantrel::BeginRemoval(const std::wstring& file) {
    const RemoveCheck check = CheckCanRemove(file);
    // A file with nothing to remove lets the windows repaint; a failed one does not.
    if (check == RemoveCheck::NothingToDo) ProcessPendingMessages();
    return check == RemoveCheck::Proceed;
}

void TVantrel::FinishOperation() {
    RefreshShellIcons();
    ShowErrorReport();
}

void TVantrel::ApplyOverlay(const std::wstring& overlayIconFile, int overlayIconIndex) {
    ClearErrors();
    const std::wstring root = TempRoot();
    std::wstring overlayPath = overlayIconFile;  // may become the PATH search result
    const std::size_t count = FileList.size();
    for (std::size_t i = 0; i < count; ++i) {
        const std::wstring file = FileList[i];
        if (!CheckCanCustomize(file)) continue;

        TIniFile info = OpenInfoStream(file);
        info.WriteString(kInfoSection, kOverlayIconFileKey, overlayIconFile);
        info.WriteInteger(kInfoSection, kOverlayIconIndexKey, overlayIconIndex);
        const int color = info.ReadInteger(kInfoSection, kColorKey, kNoColor);

        WorkFolder work(root);
        TIconPathRec location;
        if (!FindTypeIcon(file, location, false)) continue;
        work.Create();
        if (!ExtractIconTo(file, location.Path, location.Index, work / L"Default.ico")) continue;
        std::wstring base = work / L"Default.ico";
        if (color != kNoColor) {
            ColorizeIcon(P(base), P(work / L"Colorized.ico"), color);
            base = work / L"Colorized.ico";
        }
        if (!FileExists(overlayPath)) overlayPath = FindOnPath(overlayPath);
        if (!FileExists(overlayPath)) {
            // Without the marker no file can be marked: report it once and stop.
            Errors.push_back(file);
            ReportIconFileMissing(overlayIconFile);
            break;
        }
        if (!ExtractIconTo(file, overlayPath, overlayIconIndex, work / L"Overlay.ico")) continue;
        ComposeOverlay(P(base), P(work / L"Overlay.ico"), P(IconStreamPath(file)));
        JournalAdd(file);
        RecordMarking(file, overlayIconFile, overlayIconIndex, color);
        ProcessPendingMessages();
    }
    FinishOperation();
}

void TVantrel::ApplyColor(int color) {
    ClearErrors();
    const std::wstring root = TempRoot();
    const std::size_t count = FileList.size();
    for (std::size_t i = 0; i < count; ++i) {
        const std::wstring file = FileList[i];
        if (!CheckCanCustomize(file)) continue;

        TIniFile info = OpenInfoStream(file);
        const std::wstring recorded = TrimBlanks(info.ReadString(kInfoSection, kOverlayIconFileKey, L""));
        const int recordedIndex = info.ReadInteger(kInfoSection, kOverlayIconIndexKey, 0);
        info.WriteInteger(kInfoSection, kColorKey, color);

        WorkFolder work(root);
        TIconPathRec location;
        if (!FindTypeIcon(file, location, false)) continue;
        work.Create();
        if (!ExtractIconTo(file, location.Path, location.Index, work / L"Default.ico")) continue;
        // Always the type's own icon is tinted, never an earlier tint.
        ColorizeIcon(P(work / L"Default.ico"), P(work / L"Colorized.ico"), color);
        if (!recorded.empty()) {
            std::wstring overlayPath = ExpandPath(recorded);
            if (!FileExists(overlayPath)) overlayPath = FindOnPath(overlayPath);
            if (!FileExists(overlayPath)) {
                Errors.push_back(file);
                ReportIconFileMissing(recorded);
                continue;
            }
            if (!ExtractIconTo(file, overlayPath, recordedIndex, work / L"Overlay.ico")) continue;
            ComposeOverlay(P(work / L"Colorized.ico"), P(work / L"Overlay.ico"), P(IconStreamPath(file)));
        } else {
            CopyFileToPath(work / L"Colorized.ico", IconStreamPath(file));
        }
        JournalAdd(file);
        RecordMarking(file, recorded, recordedIndex, color);
        ProcessPendingMessages();
    }
    FinishOperation();
}

void TVantrel::RemoveOverlay() {
    ClearErrors();
    const std::wstring root = TempRoot();
    const std::size_t count = FileList.size();
    for (std::size_t i = 0; i < count; ++i) {
        const std::wstring file = FileList[i];
        if (!BeginRemoval(file)) continue;
        TIniFile info = OpenInfoStream(file);
        const int color = info.ReadInteger(kInfoSection, kColorKey, kNoColor);
        if (color == kNoColor) {
            RemoveMarkerStreams(file);
            ProcessPendingMessages();
            continue;
        }
        info.DeleteKey(kInfoSection, kOverlayIconFileKey);
        info.DeleteKey(kInfoSection, kOverlayIconIndexKey);

        WorkFolder work(root);
        TIconPathRec location;
        if (!FindTypeIcon(file, location, false)) continue;
        work.Create();
        if (!ExtractIconTo(file, location.Path, location.Index, work / L"Default.ico")) continue;
        ColorizeIcon(P(work / L"Default.ico"), P(IconStreamPath(file)), color);
        RecordMarking(file, L"", 0, color);
        ProcessPendingMessages();
    }
    FinishOperation();
}

void TVantrel::RemoveColor() {
    ClearErrors();
    const std::wstring root = TempRoot();
    const std::size_t count = FileList.size();
    for (std::size_t i = 0; i < count; ++i) {
        const std::wstring file = FileList[i];
        if (!BeginRemoval(file)) continue;
        TIniFile info = OpenInfoStream(file);
        const std::wstring recorded = TrimBlanks(info.ReadString(kInfoSection, kOverlayIconFileKey, L""));
        if (recorded.empty()) {
            RemoveMarkerStreams(file);
            ProcessPendingMessages();
            continue;
        }
        const int recordedIndex = info.ReadInteger(kInfoSection, kOverlayIconIndexKey, 0);
        info.DeleteKey(kInfoSection, kColorKey);

        WorkFolder work(root);
        TIconPathRec location;
        // This operation reports a missing type icon with the general message.
        if (!FindTypeIcon(file, location, true)) continue;
        std::wstring overlayPath = recorded;
        if (!FileExists(overlayPath)) overlayPath = FindOnPath(overlayPath);
        if (!FileExists(overlayPath)) {
            Errors.push_back(file);
            ReportIconFileMissing(recorded);
            continue;
        }
        work.Create();
        if (!ExtractIconTo(file, location.Path, location.Index, work / L"Default.ico")) continue;
        if (!ExtractIconTo(file, overlayPath, recordedIndex, work / L"Overlay.ico")) continue;
        ComposeOverlay(P(work / L"Default.ico"), P(work / L"Overlay.ico"), P(IconStreamPath(file)));
        RecordMarking(file, recorded, recordedIndex, kNoColor);
        ProcessPendingMessages();
    }
    FinishOperation();
}

void TVantrel::RestoreDefault() {
    ClearErrors();
    const std::size_t count = FileList.size();
    for (std::size_t i = 0; i < count; ++i) {
        const std::wstring file = FileList[i];
        const RemoveCheck check = CheckCanRemove(file);
        if (check == RemoveCheck::Failed) continue;
        if (check == RemoveCheck::Proceed) RemoveMarkerStreams(file);
        ProcessPendingMessages();
    }
    FinishOperation();
}

}  // namespace vantrel
