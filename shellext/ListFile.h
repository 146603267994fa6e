// The selected-files list that each menu command hands to the program.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace shlext {

// One path per line, each line ended by CR LF. In the ANSI code page when every path
// converts to it exactly; otherwise the whole list is UTF-8 with a byte-order mark, so
// no character is replaced by one that could name another file.
std::string EncodeFileList(const std::vector<std::wstring>& files);

// Creates a new, empty list file "<folder>\vantrel<n>.dat" that did not exist before
// (create-new, another number on collision), so lists of different threads and
// processes never share a name. Returns the open handle, or INVALID_HANDLE_VALUE with
// path set to the last name tried.
HANDLE CreateNewListFile(const std::wstring& folder, std::wstring& path);

}  // namespace shlext
