// The two alternate data streams that carry a marked file's customisation, the
// probe that decides whether a file can carry streams at all, and the file-system
// name of a drive.
//
//   <file>:vantrelicon      the finished icon, byte for byte an .ico file
//   <file>:vantreliconinfo  INI text, section [vantrel]: OverlayIconFile,
//                           OverlayIconIndex, Color
#pragma once

#include <string>

#include <cstdint>
#include <vector>

#include "app/common/IniFile.h"
#include "app/engine/InfoStreamText.h"

namespace vantrel {

inline constexpr wchar_t kIconStreamName[] = L":vantrelicon";
inline constexpr wchar_t kInfoStreamName[] = L":vantreliconinfo";
inline constexpr wchar_t kProbeStreamName[] = L":kvtest";

// The largest icon stream the program reads back (the Marked Files view's small icons).
// It writes the type's icon with the marker drawn over it: all of the type's images, the
// largest of them 256 pixels (a PNG, or at most about 270 KB uncompressed), well under a
// megabyte in practice. Anything larger was not written by it and is taken as damaged.
inline constexpr std::size_t kMaxIconStreamBytes = 4u << 20;

inline std::wstring IconStreamPath(const std::wstring& filePath) { return filePath + kIconStreamName; }
inline std::wstring InfoStreamPath(const std::wstring& filePath) { return filePath + kInfoStreamName; }

// The INI object on a file's info stream; a stream over kMaxInfoStreamBytes is taken as
// damaged (see TIniFile).
inline TIniFile OpenInfoStream(const std::wstring& filePath) {
    return TIniFile(InfoStreamPath(filePath), kMaxInfoStreamBytes);
}

// The bytes of the icon stream; throws EFileTooLarge for one over kMaxIconStreamBytes,
// vantrel::Error when it cannot be read.
std::vector<unsigned char> ReadIconStream(const std::wstring& filePath);

// True when the icon stream exists and can be opened for reading with no sharing;
// a stream held open elsewhere without sharing counts as absent.
bool HasIconStream(const std::wstring& filePath);

// True when the icon stream exists and can be opened for reading and writing with no
// sharing (it is opened and closed, never changed).
bool CanChangeIconStream(const std::wstring& filePath);

// Deletes the icon stream and then the info stream when the icon stream exists
// (failures ignored: a stream in use stays), and in every case removes the path from
// the change journal. An info stream without an icon stream is left in place.
void RemoveMarkerStreams(const std::wstring& filePath);

// Creates and deletes the probe stream "<file>:kvtest". When it cannot be created,
// returns false with errorText "Cannot create file "<stream path>". <system text>".
// A failure after a successful creation is thrown (vantrel::Error).
bool CanWriteStreams(const std::wstring& filePath, std::wstring& errorText);

// The drive part of a path: "C:" of "C:\a\b.txt", "\\server\share" of a UNC path,
// empty text when the path has neither.
std::wstring ExtractFileDrive(const std::wstring& path);

// File-system name of the drive named by the first two characters of driveText
// ("C:"), as the scripting runtime's file-system object reports it, e.g. "NTFS".
// Any other drive text (a UNC share, empty text) gives empty text, and so does a
// drive whose file system cannot be queried (no medium, no such drive): the file is
// then reported as not on NTFS instead of ending the whole run.
std::wstring GetFileSystemName(const std::wstring& driveText);

// True for the file-system name "NTFS" (letter case ignored).
bool IsNtfsName(const std::wstring& fileSystem);
// True when the file's drive is NTFS (letter case ignored); fileSystem receives the
// name found, possibly empty.
bool IsOnNtfsDrive(const std::wstring& filePath, std::wstring* fileSystem = nullptr);

// The query behind GetFileSystemName: "C:" -> file-system name; throws vantrel::Error
// when the drive cannot be queried. The program uses the scripting runtime; a test can
// put another source in its place to reach a FAT32 drive or a failing query.
using FileSystemNameSource = std::wstring (*)(const std::wstring& drive);
std::wstring QueryFileSystemName(const std::wstring& drive);
void SetFileSystemNameSource(FileSystemNameSource source);  // nullptr restores the real query

}  // namespace vantrel
