#include "app/engine/VantrelClass.h"

#include <windows.h>

#include "app/common/FileHelpers.h"
#include "app/common/LogFile.h"
#include "app/common/TextConv.h"
#include "app/common/TextFileCoding.h"
#include "app/common/TextFormat.h"
#include "app/engine/ChangeJournal.h"
#include "app/engine/ShellIconRefresh.h"
#include "app/registration/RegisterIconHandlerUnit.h"
#include "app/registration/RegistratorClient.h"
#include "imaging/Error.h"

namespace vantrel {

std::unique_ptr<TVantrel> TVantrel::core_;

namespace {

const wchar_t kProgramKey[] = L"Software\\Kestrane\\Vantrel";
const wchar_t kReportSummary[] = L"Error(s) occured";

TQuietProgress g_quietProgress;
TQuietReportView g_quietReports;

void WriteStringValue(HKEY key, const wchar_t* name, const std::wstring& value) {
    LONG rc = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    if (rc != ERROR_SUCCESS)
        throw Error("Failed to set data for '" + WideToUtf8(name) + "': " + WideToUtf8(SystemErrorMessage(rc)));
}


}  // namespace

void TVantrel::InitCore() {
    if (core_) return;
    try {
        core_.reset(new TVantrel());
    } catch (const std::exception& e) {
        throw Error(std::string("Unable to initialize application\r\n\r\n") + e.what());
    }
}

TVantrel& TVantrel::Core() {
    if (!core_) throw Error("Core Not Initialized!");
    return *core_;
}

void TVantrel::DoneCore() { core_.reset(); }

std::wstring BuildErrorReportText(const std::wstring& summary, const std::vector<std::wstring>& lines) {
    std::wstring text = summary;
    if (text.empty() || (text.back() != L'\n' && text.back() != L'\r')) text += L"\r\n";
    text += L"\r\n";
    for (const std::wstring& line : lines) {
        text += line;
        text += L"\r\n";
    }
    return text;
}

TVantrel::TVantrel() : progress_(&g_quietProgress), reportView_(&g_quietReports) {
    WriteProgramLocation();
    ExcludedExtensions = {L".exe", L".cmd", L".bat", L".com", L".drv", L".sys"};
    InitDataFolder();
}

TVantrel::~TVantrel() {
    FlushMarkingRecords();  // what an operation ended by a failure left buffered
    if (!KeepListFile && !ListFileName.empty() && !SameFileName(ListFileName, SelectedFilesPath()))
        DeleteFileW(ListFileName.c_str());
    FileList.clear();
    Errors.clear();
    ExcludedExtensions.clear();
    LogMessage(L"Program closed", L"General", LogInfo);
    CloseLog();
}

void TVantrel::WriteProgramLocation() {
    const std::wstring program = ProgramFilePath();
    if (program.empty()) throw Error("Cannot determine the program's own path.");
    HKEY key = nullptr;
    LONG rc = RegCreateKeyExW(HKEY_CURRENT_USER, kProgramKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS)
        throw Error("Failed to create key HKEY_CURRENT_USER\\Software\\Kestrane\\Vantrel: " +
                    WideToUtf8(SystemErrorMessage(rc)));
    try {
        WriteStringValue(key, L"VantrelPath", program);
        WriteStringValue(key, L"VantrelDir", ExcludeTrailingBackslash(ExtractFileDir(program)));
    } catch (...) {
        RegCloseKey(key);
        throw;
    }
    RegCloseKey(key);
}

void TVantrel::InitDataFolder() {
    std::wstring folder = IncludeTrailingBackslash(GetEnvVar(L"AppData")) + L"Kestrane\\Vantrel";
    ForceFolder(folder);  // a folder that cannot be made shows up at the first file access
    DataFolder = IncludeTrailingBackslash(folder);
}

void TVantrel::LoadFileList(const std::wstring& listFilePath) {
    const std::wstring path = ExpandPath(listFilePath);
    if (!FileExists(path)) return;
    std::vector<unsigned char> bytes;
    try {
        bytes = ReadFileBytes(path, kMaxListFileBytes);
    } catch (const EFileTooLarge& e) {
        // Not read, so none of its files is worked on, and not deleted at exit.
        listNotes_ = {path, Utf8ToWide(e.what()) + L"\r\nNone of the files it names was changed."};
        return;
    } catch (const Error&) {
        return;  // an unreadable list is treated like a missing one
    }
    TListFileText parsed =
        ReadListFileText(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), &AnsiToWide);
    std::vector<std::wstring> entries = std::move(parsed.Entries);
    listNotes_.clear();
    if (parsed.LeftOut > 0)
        listNotes_ = {path, std::to_wstring(parsed.LeftOut) +
                                (parsed.LeftOut == 1 ? L" line of the list names" : L" lines of the list name") +
                                L" no file and " + (parsed.LeftOut == 1 ? L"was" : L"were") +
                                L" left out: a control character, text that is not of the list's encoding, or more "
                                L"than 32,767 characters.\r\nThe other files of the list were worked on."};

    ListFileName = path;
    for (std::size_t i = entries.size(); i-- > 0;) {
        std::wstring& entry = entries[i];
        if (!FileExists(entry)) {
            entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(i));
            continue;
        }
        if (SameTextAscii(ExtractFileExt(entry), L".lnk")) {
            std::wstring target = ResolveShortcut(entry);
            if (FileExists(target))
                entry = target;
            else
                entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
    FileList = std::move(entries);
}

void TVantrel::SaveFileList(const std::wstring& listFilePath) const {
    std::wstring text;
    for (const std::wstring& file : FileList) text += file + L"\r\n";
    const std::string bytes = EncodeTextFile(text);
    WriteFileBytes(listFilePath, bytes.data(), bytes.size());
}

void TVantrel::SetProgress(IOperationProgress* progress) { progress_ = progress ? progress : &g_quietProgress; }

void TVantrel::SetReportView(IErrorReportView* view) { reportView_ = view ? view : &g_quietReports; }

void TVantrel::ClearErrors() {
    HasErrors = false;
    Errors.clear();
    if (listNotes_.size() == 2) {
        Errors.push_back(listNotes_[0]);
        ReportDamagedData(listNotes_[1]);
    }
    listNotes_.clear();
}

void TVantrel::AddErrorText(const std::wstring& text) {
    Errors.push_back(text);
    Errors.emplace_back();
    Errors.emplace_back();
}

std::wstring TVantrel::ErrorReportText() const { return BuildErrorReportText(kReportSummary, Errors); }

void TVantrel::ShowErrorReport() {
    if (!HasErrors) return;
    reportView_->ShowReport(L"Vantrel", kReportSummary, Errors);
}

void TVantrel::RollbackAll() {
    // A journal that cannot be read stops the rollback before anything changes (its
    // EFileTooLarge goes to the caller). The registrator must drop its registrations
    // first; if it cannot (service stopped, unexpected answer) its IconRegisterException
    // goes to the caller and no file is touched.
    CheckJournalSize();
    UnregisterAll();
    JournalRollback(*progress_);
    RefreshShellIcons();
}
void TVantrel::RefreshShellIcons() {
    // Every operation ends here (FinishOperation, RollbackAll): the marking records it
    // buffered are written now, in one go, and a failure joins the operation's report.
    std::wstring failure;
    if (!FlushMarkingRecords(&failure)) ReportUnexpectedError(failure);
    vantrel::RefreshShellIcons();
}

}  // namespace vantrel
