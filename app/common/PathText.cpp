#include "app/common/PathText.h"

namespace vantrel {

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }
bool IsLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }
wchar_t Upper(wchar_t c) { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

// "X:" at the position, followed by the end or a separator.
bool DriveAt(std::wstring_view path, std::size_t i) {
    return path.size() >= i + 2 && IsLetter(path[i]) && path[i + 1] == L':' &&
           (path.size() == i + 2 || IsSeparator(path[i + 2]));
}

}  // namespace

TPathForm ClassifyPathText(std::wstring_view path) {
    // "\??\" hands the rest to the object manager as it is, a share included.
    if (path.size() >= 4 && path[0] == L'\\' && path[1] == L'?' && path[2] == L'?' && path[3] == L'\\')
        return {TPathKind::Device};
    if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
        if (path.size() >= 3 && (path[2] == L'?' || path[2] == L'.') && (path.size() == 3 || IsSeparator(path[3]))) {
            // The device namespace: only the long form of a drive letter stays on that drive.
            if (path[2] == L'?' && DriveAt(path, 4)) return {TPathKind::Drive, Upper(path[4])};
            return {TPathKind::Device};
        }
        return {TPathKind::Network};
    }
    if (path.size() >= 2 && IsLetter(path[0]) && path[1] == L':') return {TPathKind::Drive, Upper(path[0])};
    std::size_t i = 0;
    while (i < path.size() && (IsLetter(path[i]) || (i > 0 && ((path[i] >= L'0' && path[i] <= L'9') ||
                                                               path[i] == L'+' || path[i] == L'-' || path[i] == L'.'))))
        ++i;
    if (i >= 2 && i < path.size() && path[i] == L':') return {TPathKind::Url};
    return {TPathKind::Relative};
}

bool IsBareFileName(std::wstring_view text) {
    if (text.empty()) return false;
    for (wchar_t c : text)
        if (IsSeparator(c) || c == L':') return false;
    return true;
}

}  // namespace vantrel
