// Small helpers on folders, paths and environment values shared by the engine,
// the file-type lookups and the icon picker grids.
#pragma once

#include <string>
#include <vector>

#include "imaging/Error.h"

namespace vantrel {

// Value of an environment variable; empty text when unset.
std::wstring GetEnvVar(const std::wstring& name);

// The operating system's major version number; -1 when the query fails.
int GetOSMajorVersion();
// The version query behind GetOSMajorVersion. The program uses the platform's query;
// a test can put another source in its place to reach the code for older systems.
using OSMajorVersionSource = int (*)();
int QueryOSMajorVersion();
void SetOSMajorVersionSource(OSMajorVersionSource source);  // nullptr restores the platform's

// Normalises a path from the registry or a list file: surrounding quotes dropped,
// blanks trimmed, %ProgramFiles% pinned to the system drive's "Program Files",
// environment variables expanded.
std::wstring ExpandPath(const std::wstring& path);

// Full path of the first PATH folder holding the file; empty text when none.
std::wstring FindOnPath(const std::wstring& name);

// Creates the folder with all missing parents; true when it exists afterwards.
bool ForceFolder(const std::wstring& path);

// Deletes a folder with everything in it; failures are ignored (a read-only file stays).
void DeleteFolderTree(const std::wstring& path);

// Copies a file's bytes to a destination, which may be an alternate data stream path.
// Throws vantrel::Error when the source cannot be read or the destination written.
void CopyFileToPath(const std::wstring& source, const std::wstring& destination);

// Target path of a shell link (.lnk) file; empty text when it cannot be read.
std::wstring ResolveShortcut(const std::wstring& linkPath);

// --- path primitives ---------------------------------------------------------
bool FileExists(const std::wstring& path);       // an existing file, not a folder
bool DirectoryExists(const std::wstring& path);
std::wstring ExtractFileDir(const std::wstring& path);   // "C:\a\b.txt" -> "C:\a", "C:\b" -> "C:\"
std::wstring ExtractFileExt(const std::wstring& path);   // ".txt", with the dot; empty when none
std::wstring IncludeTrailingBackslash(const std::wstring& path);
std::wstring ExcludeTrailingBackslash(const std::wstring& path);
// Letter-case-insensitive comparison as the file system does it.
bool SameFileName(const std::wstring& a, const std::wstring& b);

// Reads a whole file; throws vantrel::Error when it cannot be opened or read.
std::vector<unsigned char> ReadFileBytes(const std::wstring& path);

// A file larger than its reader takes: what the program writes there is far smaller, so
// the file is taken as damaged. It is never read whole, nothing of its size is allocated,
// and it is left as it is.
class EFileTooLarge : public Error {
public:
    using Error::Error;
};
// A size for messages: "128 KB", "64 MB", else in bytes.
std::wstring ByteSizeText(unsigned long long bytes);
// The failure of a file over its limit: "File "<path>" is larger than <limit>, more than
// Vantrel ever writes there." CR LF "It is taken as damaged and left as it is."
[[noreturn]] void ThrowFileTooLarge(const std::wstring& path, unsigned long long limit);
// Reads a whole file of at most maxBytes bytes; throws EFileTooLarge for a larger one
// (also one that grows past the limit while it is read), vantrel::Error when it cannot be
// opened or read.
std::vector<unsigned char> ReadFileBytes(const std::wstring& path, std::size_t maxBytes);
// Creates (or replaces) a file with the given bytes; throws vantrel::Error on failure.
void WriteFileBytes(const std::wstring& path, const void* data, std::size_t size);

// Full path of the running program file.
std::wstring ProgramFilePath();

}  // namespace vantrel
