// The user's own markers, kept in the data folder's "icl": one single-icon library per
// marker, "User-<number>-<tag>.icl", holding the marker's images and its name.
//
// A marked file records its marker as a path and an icon index, so a marker's path must
// never change or come to mean another picture once it was handed out: numbers only grow
// (the next one is kept in "UserMarkers.next" and is never below the largest file's, and
// a tag of eight random hex digits keeps names apart even when the counter is lost), a
// marker keeps its file and index 0 for life, renaming rewrites only the name inside the
// same file, and removal deletes the file, after which files still marked with it are
// reported as having a missing marker file. Every write goes to a temporary file first
// and replaces the target in one step; a failed add leaves nothing behind.
#pragma once

#include "imaging/IconModel.h"  // before windows.h and its RGB macros
#include "imaging/MarkerPicture.h"

#include <memory>
#include <string>
#include <vector>

#include "imaging/Error.h"

namespace vantrel {

// A refused marker input or a failed change of the store; the message says which and why.
class EUserMarkerError : public Error {
public:
    using Error::Error;
};

struct TUserMarker {
    std::wstring File;  // full path of the marker's library; its icon is index 0
    std::wstring Name;
    unsigned Number = 0;
};

// Longest marker name, in characters.
constexpr std::size_t kMaxUserMarkerName = 64;

class TUserMarkers {
public:
    // `folder` is the data folder's "icl" (a trailing backslash is added when missing);
    // it is created on the first add.
    explicit TUserMarkers(std::wstring folder);
    const std::wstring& Folder() const { return folder_; }

    // The markers by number (the order they were added); a library whose name cannot be
    // read is listed under its file name, so it can still be removed.
    std::vector<TUserMarker> List() const;

    // The marker icon a source file gives: a PNG, an ICO file's icon, or icon `iconIndex`
    // (a position among its icon groups) of an executable, DLL or icon library. As a
    // badge (the default) the picture, or the icon's largest image, is fitted into the
    // lower-left box of each marker size; FullSquare keeps a picture that already is an
    // overlay as it is: a PNG fills the square, an icon keeps its own images, completed
    // with the marker sizes it lacks. Fails with EUserMarkerError saying what is wrong
    // with the file.
    static std::unique_ptr<TAdvancedIcon> LoadSource(const std::wstring& source, int iconIndex,
                                                     TMarkerPlacement placement = TMarkerPlacement::Badge);
    // The number of icon groups of an executable, DLL or library (1 for PNG and ICO files
    // that can be read); fails like LoadSource for a file that has none.
    static int SourceIconCount(const std::wstring& source);
    // True for the extensions that hold several icons (.exe, .dll, .icl).
    static bool IsIconContainer(const std::wstring& source);

    // Empty when `name` (after trimming blanks) can be a marker name, else the reason.
    // A name must be usable as a file name and fit the system's ANSI code page, in which
    // icon libraries keep their names.
    static std::wstring CheckName(const std::wstring& name);
    // A name proposed for a source file: its file name without folder and extension.
    static std::wstring NameFromFile(const std::wstring& source);

    // Adds a marker from a source (see LoadSource) with a name; returns it.
    TUserMarker Add(const std::wstring& source, int iconIndex, const std::wstring& name,
                    TMarkerPlacement placement = TMarkerPlacement::Badge);
    // Adds a marker from an icon already made.
    TUserMarker AddIcon(const TAdvancedIcon& icon, const std::wstring& name);
    // Gives a marker another name; its file, index and picture stay.
    void Rename(const TUserMarker& marker, const std::wstring& name);
    // Deletes the marker's file; its number is never used again.
    void Remove(const TUserMarker& marker);

private:
    unsigned NextNumber() const;
    void WriteReplacing(const std::wstring& path, const std::vector<std::uint8_t>& bytes, bool mayReplace) const;
    std::wstring FileOf(unsigned number) const;
    void CheckOwn(const TUserMarker& marker) const;

    std::wstring folder_;
};

}  // namespace vantrel
