// The dialogs of the "My Markers" page: "Add Marker" (the picture file, for executables,
// DLLs and icon libraries the icon to take, whether the picture is a badge in the lower
// left or already an overlay taken as it is, and the marker's name) and "Rename Marker".
#pragma once

#include "app/engine/UserMarkers.h"  // imaging headers before windows.h

#include <windows.h>

#include <string>

namespace vantrel {

extern const wchar_t kAddMarkerClass[];     // "TAddMarkerDialog"
extern const wchar_t kRenameMarkerClass[];  // "TRenameMarkerDialog"

// Control identifiers of both dialogs, for tests and tools.
enum MarkerDialogControl : int {
    kMdFile = 3001,   // the chosen file's path (static text)
    kMdBrowse,        // "Browse..."
    kMdIcons,         // the icons of the file (list view)
    kMdName,          // the name box
    kMdProblem,       // what is wrong with the name, or empty
    kMdAsItIs,        // "Use the picture as it is": the whole square, not a badge (check box)
};

// The file types a marker can be made from, for open dialogs.
extern const wchar_t kMarkerSourceFilter[];

// Lets the user choose a picture file in the open dialog; false when cancelled.
bool ChooseMarkerSource(HWND owner, std::wstring& path);

// "Add Marker..." as the page runs it: the open dialog, then the Add Marker dialog for the
// chosen file. A file that cannot be a marker is refused in a message box before the
// dialog opens. True when a marker was added; `added` receives it.
bool AddMarkerInteractively(HWND owner, TUserMarkers& store, TUserMarker* added);
// The Add Marker dialog for a file already chosen (it must be one SourceIconCount
// accepts). OK adds the marker (a refusal is shown and the dialog stays); true when one
// was added.
bool ShowAddMarkerDialog(HWND owner, TUserMarkers& store, const std::wstring& source, TUserMarker* added);
// The Rename Marker dialog; true when the marker was renamed.
bool ShowRenameMarkerDialog(HWND owner, TUserMarkers& store, const TUserMarker& marker);

}  // namespace vantrel
