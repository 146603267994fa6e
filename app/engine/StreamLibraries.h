// Marker libraries that a file's own data names. A file's info stream travels with the
// file (a copy between NTFS volumes, a shared folder, a backup, an archive that keeps
// streams), so the library it names may have been chosen by someone else. Opening a file
// on another machine is a network connection in which Windows authenticates the user to
// whoever runs it; so a library named only by such data is never opened, nor even looked
// for, when it lies on a network location, whatever the environment variables in it
// expand to.
//
// The one rule, for every library path read from a stream (apply colour, remove colour,
// the main window's previews, the Marked Files view, re-applying a lost marking), judged
// after expansion and normalisation and before anything touches the path:
//   - a path on a local drive, or a bare file name found on PATH, is used as before;
//   - a network path is refused: "\\server\share\..." (WebDAV's "\\server@SSL\..." too),
//     "\\?\UNC\...", the device namespace "\\.\..." and "\\?\GLOBALROOT\...", "\??\...",
//     a URL, and a drive letter that the platform reports as a network drive;
//   - except a library the user chose: one in the program's own "icl" folder or among the
//     user's own markers (the data folder's "icl"), one the user named for an operation of
//     this process (the "-oi" argument, a marker picked in the window), and one the
//     marking records say this user marked that very file with (the records are written
//     only by the user's own operations on this machine).
#pragma once

#include <functional>
#include <string>

namespace vantrel {

// The drive-type query behind the rule: "X:\" -> the platform's drive type (DRIVE_REMOTE
// is 4). The program asks GetDriveTypeW; a test can put another source in its place to
// reach a network drive letter, which Wine cannot make.
using DriveTypeSource = unsigned (*)(const std::wstring& root);
unsigned QueryDriveType(const std::wstring& root);
void SetDriveTypeSource(DriveTypeSource source);  // nullptr restores the platform's query

// True when opening the path would reach another machine (see above); a relative path is
// judged by where it resolves. Only the text and the drive's type are looked at.
bool IsNetworkLocation(const std::wstring& path);

// A library the user named for an operation of this process.
void NoteChosenLibrary(const std::wstring& library);
void ForgetChosenLibraries();  // tests

// How the text of the stream is turned into a path: as written (the window's previews,
// which then test that the file exists), searched on PATH when it names no file
// (RemoveColor), or expanded first (ExpandPath) and then searched (ApplyColor, the Marked
// Files view).
enum class TLibraryLookup { AsWritten, OnPath, ExpandedOnPath };

struct TStreamLibrary {
    std::wstring Path;     // what to open; empty when nothing was found or it was refused
    bool Refused = false;  // a network location the user did not choose: nothing was touched
};

// The library a file's data names, under the rule. `vouched` tells whether the marking
// records say this file was marked with this library; it is asked only for a network
// path. Text holding a control character, or longer than any path, names no file.
TStreamLibrary FindStreamLibrary(const std::wstring& recorded, TLibraryLookup lookup,
                                 const std::function<bool()>& vouched = {});

// Whether the marking records say the file was marked with the library (its text as the
// info stream holds it); the records are read without writing what this process holds
// back, and records that cannot be read vouch for nothing.
bool RecordsVouchFor(const std::wstring& file, const std::wstring& library);

}  // namespace vantrel
