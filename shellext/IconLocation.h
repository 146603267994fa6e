// The icon handler's building blocks: where a file's icon is, read from its icon stream
// or from its type's DefaultIcon registration.
#pragma once

#include <windows.h>

#include <string>

namespace shlext {

inline constexpr wchar_t kIconStreamSuffix[] = L":vantrelicon";

// The text with every double-quote character removed, wherever it stands.
std::wstring StripQuotes(const std::wstring& text);

// Splits a DefaultIcon value at its last comma into a location (quotes removed) and an
// index read as a decimal integer (leading blanks, optional sign, digits; reading stops
// at the first other character). A value without a comma is a location with index 0.
// False when the index part holds no digits or lies outside the 32-bit range.
bool SplitDefaultIcon(const std::wstring& value, std::wstring& location, int& index);

// The extension of a path: the text from its last "." to the end, dot included
// (searched over the whole path, folders included); empty when there is no dot.
std::wstring ExtensionOf(const std::wstring& path);

// True when "<path>:vantrelicon" can be opened for reading; nothing is read.
bool IconStreamExists(const std::wstring& path);

// A registry value as text (name null: the key's default value), whatever its type and
// length; values stored without a terminator are read whole. False when it cannot be read.
bool ReadRegistryText(HKEY key, const wchar_t* name, std::wstring& out);

// Reads HKCR\<extension> (the type name) and HKCR\<type>\DefaultIcon, split as above.
bool LookUpDefaultIcon(const std::wstring& extension, std::wstring& location, int& index);

}  // namespace shlext
