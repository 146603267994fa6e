// File-type registration: registry lookups of a file type, its icon handler and its
// normal icon; making the shell extension a type's icon handler, in the user's own class
// registrations or through the registrator service (RegistratorClient.h).
#pragma once

#include <cstdint>
#include <string>

#include "app/registration/RegistryException.h"

namespace vantrel {

// The shell extension's class identifier, as written into a type's ShellEx\IconHandler.
inline constexpr wchar_t ShellExtensionCLSID[] = L"{3F2E80AA-C708-4751-B0E1-5DF8361A4C9B}";

// An icon location: the file that holds the icon and a signed index (0 or more: position
// among the file's icons; negative: minus the icon's resource id).
struct TIconPathRec {
    std::wstring Path;
    std::int32_t Index = 0;
};

// --- file-type lookups ---------------------------------------------------------------

// The icon used for types without a DefaultIcon of their own:
// "%SystemRoot%\System32\imageres.dll,2" on Windows Vista and later,
// "%SystemRoot%\System32\shell32.dll,0" before. Decided on first use from
// GetOSMajorVersion() and kept for the rest of the run.
const std::wstring& DefaultIconLocation();
// Decides DefaultIconLocation anew from the current GetOSMajorVersion() source.
void RecomputeDefaultIconLocation();

// The type name behind an extension (with its dot): the user's own class registration
// first, then HKEY_CLASSES_ROOT; when neither names one, the extension without its dot
// followed by "file" (".xyz" -> "xyzfile").
std::wstring GetFileType(const std::wstring& extension);
// The CLSID text of a type's icon handler; empty when it has none.
std::wstring GetIconHandler(const std::wstring& type);
// "<clsid>" CR LF "<handler name>" [CR LF "<server DLL>"] for a message about a foreign
// icon handler; empty when the class is not registered.
std::wstring DescribeIconHandler(const std::wstring& clsid);
// The raw DefaultIcon value of a type (unexpanded); empty when it has none.
std::wstring GetDefaultIconValue(const std::wstring& type);

// Splits "path,index" into its parts. Without a trailing ",<integer>" the whole trimmed
// text is the path and the index 0. When the text after the last comma is made of digits
// and "-" signs that form no integer, `location` is left as it was.
void ParseIconLocation(const std::wstring& text, TIconPathRec& location);
// The same, starting from an empty location.
TIconPathRec ParseIconLocation(const std::wstring& text);

// The resolved location of the normal icon of a file's type. Its Path may name no
// existing file; callers test that.
TIconPathRec GetIconLocation(const std::wstring& filePath);
// The same from the type's raw DefaultIcon value, already read.
TIconPathRec ResolveIconLocation(const std::wstring& defaultIconValue, const std::wstring& filePath);

// Makes the shell extension the icon handler of a type that has none: in the user's own
// class registrations when the type is defined there (an existing handler value stays),
// otherwise through the registrator service. Throws ERegistryException when the user's
// registration cannot be written, IconRegisterException when the service fails.
void EnsureIconHandler(const std::wstring& extension, const std::wstring& type);

}  // namespace vantrel
