// The engine's eligibility checks and the catalogue of per-file messages.
#include "app/engine/VantrelClass.h"

#include <windows.h>

#include "app/common/FileHelpers.h"
#include "app/common/TextConv.h"
#include "app/common/TextFormat.h"
#include "app/engine/MarkerStreams.h"
#include "app/engine/MarkingRun.h"
#include "app/registration/RegisterIconHandlerUnit.h"
#include "app/registration/RegistratorClient.h"
#include "imaging/Error.h"

#include <optional>

namespace vantrel {

namespace {

const wchar_t kProductName[] = L"Vantrel";

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

// The extension of the file name: from its last dot on, dot included, trimmed. A dot in
// a folder name does not count.
std::wstring FileNameExtension(const std::wstring& path) {
    const std::size_t nameStart = path.find_last_of(L"\\/:");
    const std::size_t dot = path.rfind(L'.');
    if (dot == std::wstring::npos || (nameStart != std::wstring::npos && dot < nameStart)) return {};
    return TrimBlanks(path.substr(dot));
}

bool ClassesKeyExists(const std::wstring& name) {
    HKEY key = nullptr;
    if (name.empty() || RegOpenKeyExW(HKEY_CLASSES_ROOT, name.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

std::wstring ClassesDefaultValue(const std::wstring& keyName) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, keyName.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
    std::wstring value;
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, nullptr, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ) && size <= 65536) {
        value.assign(size / sizeof(wchar_t) + 1, L'\0');
        size = DWORD(value.size() * sizeof(wchar_t));
        if (RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size) ==
            ERROR_SUCCESS)
            value.resize(wcsnlen(value.c_str(), value.size()));
        else
            value.clear();
    }
    RegCloseKey(key);
    return value;
}

}  // namespace

// --- messages ---------------------------------------------------------------------------

void TVantrel::ReportFileMissing(const std::wstring& path) {
    HasErrors = true;
    AddErrorText(L"File " + Quoted(path) + L" doesn't exist.\r\nMake sure you've specified the correct file name.");
}

void TVantrel::ReportNoExtension(const std::wstring& path) {
    HasErrors = true;
    AddErrorText(L"File " + Quoted(path) +
                 L" doesn't have extension.\r\nThe files without extension can't be customized.\r\n"
                 L"Select file(s) with extension (*.txt, *.doc, etc.)");
}

void TVantrel::ReportUnregisteredType(const std::wstring& extension) {
    HasErrors = true;
    AddErrorText(L"File type " + Quoted(extension) + L" is not registered.\r\n" + kProductName +
                 L" can't change icon of the unregistered file type.\r\nPlease select another file");
}

void TVantrel::ReportExcludedExtension(const std::wstring& extension) {
    HasErrors = true;
    AddErrorText(L"The files with " + Quoted(extension) + L" extension can't be customized.\r\nPlease select another file");
}

void TVantrel::ReportFileSystem(const std::wstring& fileSystem) {
    HasErrors = true;
    AddErrorText(L"Your file system (" + fileSystem + L") is not supported.\r\nCustomize icon on drives, formated in NTFS.");
}

void TVantrel::ReportNotWritable(const std::wstring& path, const std::wstring& errorText) {
    HasErrors = true;
    AddErrorText(L"Can't write to the file " + Quoted(path) +
                 L".\r\nMake sure you have write permissions for this file.\r\n" + errorText);
}

void TVantrel::ReportForeignIconHandler(const std::wstring& extension, const std::wstring& description) {
    HasErrors = true;
    AddErrorText(L"Sorry, " + Quoted(extension) +
                 L" files can't be marked.\r\nThird-party Icon Handler has already installed for this file type.\r\n" +
                 description);
}

void TVantrel::ReportServiceNotRunning() {
    HasErrors = true;
    AddErrorText(L"Registration service is not running.\r\nPlease run \"Vantrel Icon Handler Registrator\" service.");
}

void TVantrel::ReportUnexpectedError(const std::wstring& message) {
    HasErrors = true;
    AddErrorText(L"Unexpected error\r\n" + message);
}

void TVantrel::ReportIconFileMissing(const std::wstring& path) {
    HasErrors = true;
    AddErrorText(L"File with icon " + Quoted(path) + L" doesn't exist.\r\nPlease select another icon for customization.");
}

void TVantrel::ReportIconResourceMissing(const std::wstring& location) {
    HasErrors = true;
    AddErrorText(L"Icon resource " + Quoted(location) + L" doesn't exist.\r\n");
}

void TVantrel::ReportLibraryOnNetwork(const std::wstring& path) {
    HasErrors = true;
    AddErrorText(L"Marker library " + Quoted(PrintableText(path)) +
                 L" was not opened: it is on a network location, and only the file's own marking data names it.\r\n"
                 L"A file copied from another computer or a shared folder brings that data with it. "
                 L"The file's icon was left as it was.\r\nMark the file again with a marker of your choice.");
}

void TVantrel::ReportDamagedData(const std::wstring& message) {
    HasErrors = true;
    AddErrorText(message);
}

// --- checks -----------------------------------------------------------------------------

bool TVantrel::IsAllowedExtension(const std::wstring& extension) {
    for (const std::wstring& excluded : ExcludedExtensions)
        if (SameFileName(excluded, extension)) return false;
    return true;
}

bool TVantrel::IsRegisteredType(const std::wstring& extension) {
    if (!ClassesKeyExists(extension)) return false;
    return ClassesKeyExists(ClassesDefaultValue(extension));
}

bool TVantrel::CheckCanCustomize(const std::wstring& path, std::wstring* extensionOut) {
    auto fail = [&](auto report) {
        Errors.push_back(path);
        report();
        return false;
    };
    if (!FileExists(path)) return fail([&] { ReportFileMissing(path); });
    const std::wstring extension = FileNameExtension(path);
    if (extensionOut) *extensionOut = extension;
    if (extension.empty()) return fail([&] { ReportNoExtension(path); });
    // Facts of the type and of the volume come from the operation in progress, which
    // asks each once; a check outside an operation asks afresh.
    std::optional<TMarkingRun> single;
    TMarkingRun& run = run_ ? *run_ : single.emplace();
    const TMarkingRun::TypeFacts facts = run.Type(extension);
    if (!facts.Registered) return fail([&] { ReportUnregisteredType(extension); });
    if (!IsAllowedExtension(extension)) return fail([&] { ReportExcludedExtension(extension); });
    const std::wstring fileSystem = run.FileSystemOf(path);
    if (!IsNtfsName(fileSystem)) return fail([&] { ReportFileSystem(fileSystem); });
    std::wstring writeError;
    if (!CanWriteStreams(path, writeError)) return fail([&] { ReportNotWritable(path, writeError); });

    if (!facts.Handler.empty()) {
        // Only our own class, written exactly as we write it, counts as ours.
        if (facts.Handler == ShellExtensionCLSID) return true;
        return fail([&] { ReportForeignIconHandler(extension, DescribeIconHandler(facts.Handler)); });
    }
    try {
        EnsureIconHandler(extension, facts.Type);
    } catch (const IconRegisterException& e) {
        if (e.ErrorCode == 6) return fail([&] { ReportServiceNotRunning(); });
        return fail([&] { ReportUnexpectedError(Utf8ToWide(e.what())); });
    } catch (const std::exception& e) {
        // Any other failure names the file too, so the report says which one it was.
        return fail([&] { ReportUnexpectedError(Utf8ToWide(e.what())); });
    }
    // The type's handler is set now: the next file of the type reads it afresh.
    run.Forget(extension);
    return true;
}

TVantrel::RemoveCheck TVantrel::CheckCanRemove(const std::wstring& path) {
    if (!FileExists(path)) {
        Errors.push_back(path);
        ReportFileMissing(path);
        return RemoveCheck::Failed;
    }
    // An icon stream this process can open for reading and writing, sharing it with no
    // one, is there and can be changed or deleted: the removal needs to create nothing,
    // so the probe stream is not made. Otherwise the presence check and the probe decide,
    // and give their reason.
    if (CanChangeIconStream(path)) return RemoveCheck::Proceed;
    if (!HasIconStream(path)) return RemoveCheck::NothingToDo;
    std::wstring writeError;
    if (!CanWriteStreams(path, writeError)) {
        Errors.push_back(path);
        ReportNotWritable(path, writeError);
        return RemoveCheck::Failed;
    }
    return RemoveCheck::Proceed;
}

}  // namespace vantrel
