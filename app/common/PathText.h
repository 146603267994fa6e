// What the text of a path names before anything is opened: a drive letter, a network
// share, the platform's device namespace, a URL, or a path relative to the current
// folder. Portable: the platform's facts (the current folder, what kind of drive a
// letter is) are the caller's.
#pragma once

#include <string_view>

namespace vantrel {

enum class TPathKind {
    Drive,     // "C:\...", "C:..." and the long form "\\?\C:\..."
    Network,   // "\\server\share\..." (WebDAV's "\\server@SSL\..." too), separators of either kind
    Device,    // "\\.\...", "\\?\UNC\...", "\\?\GLOBALROOT\...", "\\?\Volume{...}", "\??\..."
    Url,       // "http://...", "file://...": a scheme of two or more characters and a colon
    Relative,  // anything else: resolved against the current folder (or its drive's root)
};

struct TPathForm {
    TPathKind Kind = TPathKind::Relative;
    wchar_t Drive = 0;  // the drive letter, upper case, for Kind Drive
};

TPathForm ClassifyPathText(std::wstring_view path);

// A file name alone: no folder, no drive, no colon. The platform looks for it in the
// current folder; the program then searches PATH.
bool IsBareFileName(std::wstring_view text);

}  // namespace vantrel
