// The per-user cache of extracted icons: each icon location (file and index) is extracted
// from its executable or library once, kept as an ICO file in the data folder's "Cache",
// and copied from there for every later use.
#pragma once

#include <string>

namespace vantrel {

// Registry key (under HKEY_CURRENT_USER) of the cache index: one string value per icon
// location, named "<path>,<index>", holding the cache file's name.
extern const wchar_t kIconCacheKey[];

// Writes the icon at the location as an ICO file to `destination`. An ".ico" file is
// copied as it is. A location beyond the file's icons leaves the destination as it was.
// Extraction failures ("File ... is not found", an unknown resource id, a broken
// executable) escape; a failed copy is not reported (callers test the destination).
void ExtractIconToFile(const std::wstring& iconFile, int index, const std::wstring& destination);

}  // namespace vantrel
