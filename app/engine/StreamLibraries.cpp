#include "app/engine/StreamLibraries.h"

#include <windows.h>

#include <mutex>
#include <vector>

#include "app/common/FileHelpers.h"
#include "app/common/PathText.h"
#include "app/common/TextFormat.h"
#include "app/engine/MarkingRecords.h"
#include "app/engine/VantrelClass.h"

namespace vantrel {

namespace {

DriveTypeSource g_driveType = &QueryDriveType;

std::mutex g_chosenMutex;  // the Marked Files view looks at files from other threads
std::vector<std::wstring> g_chosen;

// The full path of a text, worked out from the text and the current folder only.
std::wstring FullPath(const std::wstring& path) {
    std::wstring out(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 4; ++attempt) {
        const DWORD n = GetFullPathNameW(path.c_str(), DWORD(out.size()), out.data(), nullptr);
        if (n == 0) return {};
        if (n < out.size()) {
            out.resize(n);
            return out;
        }
        out.resize(n);
    }
    return {};
}

bool IsUnder(const std::wstring& full, const std::wstring& folder) {
    return !folder.empty() && full.size() > folder.size() && SameFileName(full.substr(0, folder.size()), folder);
}

// The libraries of the marker pages: the program's "icl" folder and the user's own
// markers in the data folder's "icl".
bool InMarkerFolders(const std::wstring& full) {
    const std::wstring program = ProgramFilePath();
    if (!program.empty() && IsUnder(full, IncludeTrailingBackslash(ExtractFileDir(program)) + L"icl\\")) return true;
    try {
        return IsUnder(full, FullPath(TVantrel::Core().DataFolder + L"icl\\"));
    } catch (const std::exception&) {
        return false;  // no engine: no data folder
    }
}

bool IsChosen(const std::wstring& text, const std::wstring& full) {
    std::lock_guard<std::mutex> guard(g_chosenMutex);
    for (const std::wstring& chosen : g_chosen)
        if (SameFileName(chosen, text) || (!full.empty() && SameFileName(FullPath(chosen), full))) return true;
    return false;
}

bool UserChose(const std::wstring& text, const std::function<bool()>& vouched) {
    const std::wstring full = FullPath(text);
    if (!full.empty() && InMarkerFolders(full)) return true;
    if (IsChosen(text, full)) return true;
    return vouched && vouched();
}

}  // namespace

unsigned QueryDriveType(const std::wstring& root) { return GetDriveTypeW(root.c_str()); }

void SetDriveTypeSource(DriveTypeSource source) { g_driveType = source ? source : &QueryDriveType; }

bool IsNetworkLocation(const std::wstring& path) {
    TPathForm form = ClassifyPathText(path);
    if (form.Kind == TPathKind::Relative) {
        const std::wstring full = FullPath(path);
        if (full.empty()) return true;  // cannot tell where it leads
        form = ClassifyPathText(full);
    }
    switch (form.Kind) {
        case TPathKind::Drive: return g_driveType(std::wstring{form.Drive, L':', L'\\'}) == DRIVE_REMOTE;
        default: return true;
    }
}

void NoteChosenLibrary(const std::wstring& library) {
    if (library.empty()) return;
    std::lock_guard<std::mutex> guard(g_chosenMutex);
    for (const std::wstring& chosen : g_chosen)
        if (chosen == library) return;
    g_chosen.push_back(library);
}

void ForgetChosenLibraries() {
    std::lock_guard<std::mutex> guard(g_chosenMutex);
    g_chosen.clear();
}

TStreamLibrary FindStreamLibrary(const std::wstring& recorded, TLibraryLookup lookup,
                                 const std::function<bool()>& vouched) {
    TStreamLibrary result;
    const std::wstring text = lookup == TLibraryLookup::ExpandedOnPath ? ExpandPath(recorded) : recorded;
    if (text.empty() || text.size() > kMaxPathChars || HasControlCharacters(text)) return result;
    const bool searchPath = lookup != TLibraryLookup::AsWritten;
    if (IsNetworkLocation(text) && !UserChose(text, vouched)) {
        // A bare name in a current folder on the network: that folder is not looked in,
        // PATH (the user's own setting) still is.
        if (searchPath && IsBareFileName(text)) result.Path = FindOnPath(text);
        else result.Refused = true;
        return result;
    }
    if (!searchPath) result.Path = text;
    else result.Path = FileExists(text) ? text : FindOnPath(text);
    return result;
}

bool RecordsVouchFor(const std::wstring& file, const std::wstring& library) {
    try {
        for (const TMarkingRecord& record : ReadMarkingRecords(false).Records)
            if (SameFileName(record.Path, file)) return SameFileName(record.MarkerFile, library);
    } catch (const std::exception&) {
    }
    return false;
}

}  // namespace vantrel
