#include "app/engine/UserMarkers.h"

#include "imaging/IconLibrary.h"  // the imaging headers come before windows.h
#include "imaging/IconLibrary16.h"
#include "imaging/MarkerPicture.h"
#include "markers/IclWriter.h"

#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <cwchar>
#include <cwctype>

#include "app/common/FileHelpers.h"
#include "app/common/TextConv.h"
#include "app/common/TextFormat.h"

namespace vantrel {

namespace {

const wchar_t kPrefix[] = L"User-";
const wchar_t kExtension[] = L".icl";
const wchar_t kCounterFile[] = L"UserMarkers.next";
// Larger source files are refused before they are read.
constexpr unsigned long long kMaxSourceBytes = 32ull << 20;

std::string Utf8(const std::wstring& text) { return WideToUtf8(text); }

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) c = wchar_t(std::towlower(c));
    return text;
}

std::wstring FileNameOf(const std::wstring& path) {
    const std::size_t cut = path.find_last_of(L"\\/:");
    return cut == std::wstring::npos ? path : path.substr(cut + 1);
}

// The number of a marker file name "User-<digits>-<8 hex digits>.icl", or 0 for any other.
unsigned NumberOf(const std::wstring& name) {
    const std::size_t prefix = wcslen(kPrefix), extension = wcslen(kExtension), tag = 9;  // "-" and 8 digits
    if (name.size() <= prefix + tag + extension || name.size() > prefix + 9 + tag + extension) return 0;
    if (Lower(name.substr(0, prefix)) != Lower(kPrefix) || Lower(name.substr(name.size() - extension)) != kExtension)
        return 0;
    const std::size_t digitsEnd = name.size() - extension - tag;
    if (name[digitsEnd] != L'-') return 0;
    for (std::size_t i = digitsEnd + 1; i < name.size() - extension; ++i)
        if (!std::iswxdigit(name[i])) return 0;
    unsigned number = 0;
    for (std::size_t i = prefix; i < digitsEnd; ++i) {
        if (name[i] < L'0' || name[i] > L'9') return 0;
        number = number * 10 + unsigned(name[i] - L'0');
    }
    return number;
}

// Eight hex digits that differ from one marker file to the next, so that even a store
// whose counter was lost (a folder emptied by hand) never makes a name a marked file
// may still refer to.
std::wstring UniqueTag() {
    GUID guid{};
    if (FAILED(CoCreateGuid(&guid))) guid.Data1 = GetTickCount() ^ (GetCurrentProcessId() << 16);
    wchar_t text[16] = L"";
    swprintf(text, 16, L"%08lx", static_cast<unsigned long>(guid.Data1));
    return text;
}

std::wstring SourceText(const std::wstring& source) { return L"\"" + source + L"\""; }

[[noreturn]] void Refuse(const std::wstring& source, const std::string& why) {
    throw EUserMarkerError(Utf8(SourceText(source)) + " cannot be a marker: " + why + ".");
}

std::vector<std::uint8_t> ReadSource(const std::wstring& source) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(source.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        Refuse(source, "the file does not exist");
    const unsigned long long size = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    if (size == 0) Refuse(source, "the file is empty");
    if (size > kMaxSourceBytes) Refuse(source, "the file is larger than 32 MB");
    try {
        std::vector<unsigned char> bytes = ReadFileBytes(source);
        return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
    } catch (const std::exception& e) {
        Refuse(source, e.what());
    }
}

enum class TSourceKind { Png, Ico, Container };

TSourceKind KindOf(const std::wstring& source) {
    const std::wstring ext = Lower(ExtractFileExt(source));
    if (ext == L".png") return TSourceKind::Png;
    if (ext == L".ico") return TSourceKind::Ico;
    if (ext == L".exe" || ext == L".dll" || ext == L".icl") return TSourceKind::Container;
    Refuse(source, "markers are made from .png, .ico, .exe, .dll and .icl files");
}

// The icon groups of an executable, DLL or library, read on demand.
void OpenContainer(const std::wstring& source, const std::vector<std::uint8_t>& bytes, TIconLibrary& library) {
    try {
        library.OpenNamesFromBytes(bytes, std::filesystem::path(source));
    } catch (const std::exception& e) {
        Refuse(source, std::string("its icons cannot be read (") + e.what() + ")");
    }
    if (library.GetCount() == 0) Refuse(source, "the file has no icons");
}

}  // namespace

TUserMarkers::TUserMarkers(std::wstring folder) : folder_(IncludeTrailingBackslash(folder)) {}

std::wstring TUserMarkers::FileOf(unsigned number) const {
    return folder_ + kPrefix + std::to_wstring(number) + L"-" + UniqueTag() + kExtension;
}

std::vector<TUserMarker> TUserMarkers::List() const {
    std::vector<TUserMarker> markers;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder_ + kPrefix + L"*" + kExtension).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return markers;
    do {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        const unsigned number = NumberOf(data.cFileName);
        if (number == 0) continue;
        TUserMarker marker;
        marker.Number = number;
        marker.File = folder_ + data.cFileName;
        std::vector<std::string> names;
        try {
            ReadLibraryIconNames(std::filesystem::path(marker.File), names, 1);
        } catch (const std::exception&) {
            names.clear();
        }
        marker.Name = names.empty() || names.front().empty() ? std::wstring(data.cFileName) : AnsiToWide(names.front());
        markers.push_back(marker);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    std::sort(markers.begin(), markers.end(), [](const TUserMarker& a, const TUserMarker& b) { return a.Number < b.Number; });
    return markers;
}

bool TUserMarkers::IsIconContainer(const std::wstring& source) {
    const std::wstring ext = Lower(ExtractFileExt(source));
    return ext == L".exe" || ext == L".dll" || ext == L".icl";
}

int TUserMarkers::SourceIconCount(const std::wstring& source) {
    const TSourceKind kind = KindOf(source);
    if (kind != TSourceKind::Container) {
        LoadSource(source, 0);
        return 1;
    }
    TIconLibrary library;
    OpenContainer(source, ReadSource(source), library);
    return library.GetCount();
}

std::unique_ptr<TAdvancedIcon> TUserMarkers::LoadSource(const std::wstring& source, int iconIndex,
                                                        TMarkerPlacement placement) {
    const TSourceKind kind = KindOf(source);
    const std::vector<std::uint8_t> bytes = ReadSource(source);
    auto icon = std::make_unique<TAdvancedIcon>();
    try {
        if (kind == TSourceKind::Png) {
            MakeIconFromPicture(DecodeMarkerPng(bytes), *icon, placement);
            return icon;
        }
        if (kind == TSourceKind::Ico) {
            if (!icon->LoadFromBytes(bytes)) Refuse(source, "the file is no icon");
        } else {
            TIconLibrary library;
            OpenContainer(source, bytes, library);
            if (iconIndex < 0 || iconIndex >= library.GetCount())
                Refuse(source, "it has no icon number " + std::to_string(iconIndex + 1));
            const TAdvancedIcon* chosen = library.GetIcon(iconIndex);
            if (!chosen || chosen->Images().Count() == 0)
                Refuse(source, "icon number " + std::to_string(iconIndex + 1) + " has no images");
            icon->Assign(*chosen);
        }
        MakeMarkerFromIcon(*icon, placement);
    } catch (const EUserMarkerError&) {
        throw;
    } catch (const std::exception& e) {
        Refuse(source, e.what());
    }
    return icon;
}

std::wstring TUserMarkers::CheckName(const std::wstring& nameIn) {
    const std::wstring name = TrimBlanks(nameIn);
    if (name.empty()) return L"Enter a name for the marker.";
    if (name.size() > kMaxUserMarkerName)
        return L"The name is too long: at most " + std::to_wstring(kMaxUserMarkerName) + L" characters.";
    for (wchar_t c : name) {
        if (c < 32 || wcschr(L"\\/:*?\"<>|", c))
            return L"The name cannot hold control characters or any of \\ / : * ? \" < > |.";
    }
    if (name.back() == L'.') return L"The name cannot end with a dot.";
    // Device names are no file names, with or without an extension.
    std::wstring stem = name.substr(0, name.find(L'.'));
    while (!stem.empty() && stem.back() == L' ') stem.pop_back();
    static const wchar_t* const kDevices[] = {L"con", L"prn", L"aux", L"nul", L"com1", L"com2", L"com3", L"com4",
                                              L"com5", L"com6", L"com7", L"com8", L"com9", L"lpt1", L"lpt2", L"lpt3",
                                              L"lpt4", L"lpt5", L"lpt6", L"lpt7", L"lpt8", L"lpt9"};
    for (const wchar_t* device : kDevices)
        if (Lower(stem) == device) return L"\"" + stem + L"\" is a device name of Windows and cannot be a name.";
    bool lossless = true;
    const std::string ansi = WideToAnsi(name, &lossless);
    if (!lossless) return L"The name holds characters that this system's code page cannot keep.";
    if (ansi.size() > 255) return L"The name is too long.";
    return {};
}

std::wstring TUserMarkers::NameFromFile(const std::wstring& source) {
    std::wstring name = FileNameOf(source);
    const std::size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos && dot > 0) name.erase(dot);
    if (name.size() > kMaxUserMarkerName) name.resize(kMaxUserMarkerName);
    return TrimBlanks(name);
}

unsigned TUserMarkers::NextNumber() const {
    unsigned next = 1;
    try {
        if (FileExists(folder_ + kCounterFile)) {
            // A few digits; a larger file is no counter of ours (and is ignored like an unreadable one).
            const std::vector<unsigned char> bytes = ReadFileBytes(folder_ + kCounterFile, 64);
            unsigned kept = 0;
            for (unsigned char c : bytes) {
                if (c < '0' || c > '9' || kept > 99999999u) break;
                kept = kept * 10 + unsigned(c - '0');
            }
            next = std::max(next, kept);
        }
    } catch (const std::exception&) {
        // An unreadable counter leaves the files' own numbers, which the next line honours.
    }
    for (const TUserMarker& marker : List()) next = std::max(next, marker.Number + 1);
    if (next > 999999999u) throw EUserMarkerError("No more markers can be added: the marker numbers are used up.");
    return next;
}

void TUserMarkers::WriteReplacing(const std::wstring& path, const std::vector<std::uint8_t>& bytes,
                                  bool mayReplace) const {
    const std::wstring temporary = path + L".tmp";
    try {
        WriteFileBytes(temporary, bytes.data(), bytes.size());
    } catch (const std::exception& e) {
        DeleteFileW(temporary.c_str());
        throw EUserMarkerError(std::string("The marker store cannot be written: ") + e.what());
    }
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (mayReplace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (!MoveFileExW(temporary.c_str(), path.c_str(), flags)) {
        const DWORD error = GetLastError();
        DeleteFileW(temporary.c_str());
        throw EUserMarkerError("The marker store cannot be written: \"" + Utf8(path) + "\": " +
                               Utf8(SystemErrorMessage(error)));
    }
}

void TUserMarkers::CheckOwn(const TUserMarker& marker) const {
    const std::wstring folder = marker.File.substr(0, marker.File.size() - FileNameOf(marker.File).size());
    if (!SameFileName(folder, folder_) || NumberOf(FileNameOf(marker.File)) == 0)
        throw EUserMarkerError("\"" + Utf8(marker.File) + "\" is not one of your markers.");
    if (!FileExists(marker.File)) throw EUserMarkerError("The marker \"" + Utf8(marker.Name) + "\" no longer exists.");
}

TUserMarker TUserMarkers::Add(const std::wstring& source, int iconIndex, const std::wstring& name,
                              TMarkerPlacement placement) {
    const std::wstring problem = CheckName(name);
    if (!problem.empty()) throw EUserMarkerError(Utf8(problem));
    const std::unique_ptr<TAdvancedIcon> icon = LoadSource(source, iconIndex, placement);
    return AddIcon(*icon, name);
}

TUserMarker TUserMarkers::AddIcon(const TAdvancedIcon& icon, const std::wstring& nameIn) {
    const std::wstring problem = CheckName(nameIn);
    if (!problem.empty()) throw EUserMarkerError(Utf8(problem));
    const std::wstring name = TrimBlanks(nameIn);
    std::vector<std::uint8_t> bytes;
    try {
        bytes = BuildIconLibrary("USER", {{WideToAnsi(name), &icon}});
    } catch (const std::exception& e) {
        throw EUserMarkerError(std::string("The marker cannot be stored: ") + e.what());
    }
    if (!ForceFolder(folder_)) throw EUserMarkerError("The folder \"" + Utf8(folder_) + "\" cannot be created.");
    const unsigned number = NextNumber();
    TUserMarker marker{FileOf(number), name, number};
    WriteReplacing(marker.File, bytes, false);
    // The counter moves past the number once the marker is there; a marker whose counter
    // cannot be written goes again (it was never handed out, so its number may come back).
    const std::string counter = std::to_string(number + 1);
    try {
        WriteReplacing(folder_ + kCounterFile, std::vector<std::uint8_t>(counter.begin(), counter.end()), true);
    } catch (const EUserMarkerError&) {
        DeleteFileW(marker.File.c_str());
        throw;
    }
    return marker;
}

void TUserMarkers::Rename(const TUserMarker& marker, const std::wstring& nameIn) {
    const std::wstring problem = CheckName(nameIn);
    if (!problem.empty()) throw EUserMarkerError(Utf8(problem));
    CheckOwn(marker);
    const std::wstring name = TrimBlanks(nameIn);
    TIconLibrary library;
    std::vector<std::uint8_t> bytes;
    try {
        library.Open(std::filesystem::path(marker.File));
        const TAdvancedIcon* icon = library.GetIcon(0);
        if (!icon || icon->Images().Count() == 0) throw Error("it holds no icon");
        bytes = BuildIconLibrary("USER", {{WideToAnsi(name), icon}});
    } catch (const std::exception& e) {
        throw EUserMarkerError("The marker \"" + Utf8(marker.Name) + "\" cannot be renamed: " + e.what());
    }
    WriteReplacing(marker.File, bytes, true);
}

void TUserMarkers::Remove(const TUserMarker& marker) {
    CheckOwn(marker);
    // The counter is brought up to date before the file goes, so that even the highest
    // number is never handed out again.
    const unsigned next = NextNumber();
    const std::string counter = std::to_string(next);
    WriteReplacing(folder_ + kCounterFile, std::vector<std::uint8_t>(counter.begin(), counter.end()), true);
    if (!DeleteFileW(marker.File.c_str()))
        throw EUserMarkerError("The marker \"" + Utf8(marker.Name) + "\" cannot be removed: " +
                               Utf8(SystemErrorMessage(GetLastError())));
}

}  // namespace vantrel
