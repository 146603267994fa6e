#include <gtest/gtest.h>

#include "registration/LoopbackServer.h"
#include "TestSupport.h"
#include "app/common/FileHelpers.h"
#include "app/engine/MarkerStreams.h"
#include "app/engine/VantrelClass.h"
#include "app/registration/RegisterIconHandlerUnit.h"

using namespace vantrel;
using namespace testsupport;

namespace {

const wchar_t kUserExt[] = L".vtuser";
const wchar_t kUserType[] = L"vtuserfile";
const wchar_t kMachineExt[] = L".vtmach";
const wchar_t kMachineType[] = L"vtmachfile";

std::wstring g_fileSystem = L"NTFS";
std::wstring FakeFileSystem(const std::wstring&) {
    if (g_fileSystem == L"<fail>") throw Error("The device is not ready");
    return g_fileSystem;
}

void SetDefault(HKEY root, const std::wstring& key, const std::wstring& value) {
    RegSetKeyValueW(root, key.c_str(), nullptr, REG_SZ, value.c_str(), DWORD((value.size() + 1) * sizeof(wchar_t)));
}

class EligibilityTest : public ::testing::Test {
protected:
    void SetUp() override {
        TVantrel::DoneCore();
        appData_ = std::make_unique<ScopedEnv>(L"AppData", appDataDir_.path());
        TVantrel::InitCore();
        Cleanup();
        // A type defined for this user, and one defined machine-wide. Wine's
        // HKEY_CLASSES_ROOT shows only the machine's classes, where Windows merges the
        // user's in: the user's type is mirrored there so both systems see it registered.
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
            SetDefault(root, std::wstring(L"Software\\Classes\\") + kUserExt, kUserType);
            SetDefault(root, std::wstring(L"Software\\Classes\\") + kUserType, L"Test document");
        }
        // ".exe" as Windows registers it (this Wine prefix has no such key).
        HKEY exe = nullptr;
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L".exe", 0, KEY_READ, &exe) == ERROR_SUCCESS) {
            RegCloseKey(exe);
        } else {
            SetDefault(HKEY_LOCAL_MACHINE, L"Software\\Classes\\.exe", L"exefile");
            madeExe_ = true;
        }
        SetDefault(HKEY_LOCAL_MACHINE, std::wstring(L"Software\\Classes\\") + kMachineExt, kMachineType);
        SetDefault(HKEY_LOCAL_MACHINE, std::wstring(L"Software\\Classes\\") + kMachineType, L"Machine document");
        g_fileSystem = L"NTFS";
        SetFileSystemNameSource(&FakeFileSystem);
        core().ClearErrors();
    }
    void TearDown() override {
        SetFileSystemNameSource(nullptr);
        Cleanup();
        if (madeExe_) DeleteRegTree(HKEY_LOCAL_MACHINE, L"Software\\Classes\\.exe");
        TVantrel::DoneCore();
        appData_.reset();
    }
    static void Cleanup() {
        for (const wchar_t* k : {kUserExt, kUserType})
            DeleteRegTree(HKEY_CURRENT_USER, std::wstring(L"Software\\Classes\\") + k);
        for (const wchar_t* k : {kMachineExt, kMachineType, kUserExt, kUserType})
            DeleteRegTree(HKEY_LOCAL_MACHINE, std::wstring(L"Software\\Classes\\") + k);
    }
    TVantrel& core() { return TVantrel::Core(); }
    std::wstring File(const std::wstring& name) {
        std::wstring path = files_ / name;
        WriteFile(path, "content");
        return path;
    }
    // The single report block the last check added: path line, message, two empty lines.
    std::wstring Block(const std::wstring& path) {
        EXPECT_TRUE(core().HasErrors);
        EXPECT_EQ(core().Errors.size(), 4u);
        if (core().Errors.size() != 4u) return L"<no single block>";
        EXPECT_EQ(core().Errors[0], path);
        EXPECT_EQ(core().Errors[2], L"");
        EXPECT_EQ(core().Errors[3], L"");
        std::wstring message = core().Errors[1];
        core().ClearErrors();
        return message;
    }

    TempDir appDataDir_, files_;
    std::unique_ptr<ScopedEnv> appData_;
    bool madeExe_ = false;
};

}  // namespace

TEST_F(EligibilityTest, MessageCatalogue) {
    struct Case {
        std::function<void()> report;
        std::wstring text;
    };
    TVantrel& c = core();
    const Case cases[] = {
        {[&] { c.ReportFileMissing(L"C:\\a.txt"); },
         L"File \"C:\\a.txt\" doesn't exist.\r\nMake sure you've specified the correct file name."},
        {[&] { c.ReportNoExtension(L"C:\\README"); },
         L"File \"C:\\README\" doesn't have extension.\r\nThe files without extension can't be customized.\r\n"
         L"Select file(s) with extension (*.txt, *.doc, etc.)"},
        {[&] { c.ReportUnregisteredType(L".xyz"); },
         L"File type \".xyz\" is not registered.\r\nVantrel can't change icon of the unregistered file type.\r\n"
         L"Please select another file"},
        {[&] { c.ReportExcludedExtension(L".EXE"); },
         L"The files with \".EXE\" extension can't be customized.\r\nPlease select another file"},
        {[&] { c.ReportFileSystem(L"FAT32"); },
         L"Your file system (FAT32) is not supported.\r\nCustomize icon on drives, formated in NTFS."},
        {[&] { c.ReportNotWritable(L"C:\\a.txt", L"Access denied."); },
         L"Can't write to the file \"C:\\a.txt\".\r\nMake sure you have write permissions for this file.\r\nAccess denied."},
        {[&] { c.ReportForeignIconHandler(L".txt", L"{X}\r\nHandler"); },
         L"Sorry, \".txt\" files can't be marked.\r\nThird-party Icon Handler has already installed for this file "
         L"type.\r\n{X}\r\nHandler"},
        {[&] { c.ReportServiceNotRunning(); },
         L"Registration service is not running.\r\nPlease run \"Vantrel Icon Handler Registrator\" service."},
        {[&] { c.ReportUnexpectedError(L"boom"); }, L"Unexpected error\r\nboom"},
        {[&] { c.ReportIconFileMissing(L"C:\\m.icl"); },
         L"File with icon \"C:\\m.icl\" doesn't exist.\r\nPlease select another icon for customization."},
        {[&] { c.ReportIconResourceMissing(L"C:\\m.icl,40"); }, L"Icon resource \"C:\\m.icl,40\" doesn't exist.\r\n"},
    };
    for (const Case& k : cases) {
        c.ClearErrors();
        k.report();
        EXPECT_TRUE(c.HasErrors);
        EXPECT_EQ(c.Errors, (std::vector<std::wstring>{k.text, L"", L""}));
    }
}

TEST_F(EligibilityTest, ChecksRunInOrder) {
    const std::wstring missing = files_ / L"missing.vtuser";
    EXPECT_FALSE(core().CheckCanCustomize(missing));
    EXPECT_NE(Block(missing).find(L"doesn't exist"), std::wstring::npos);

    // Only the file name's part counts: a dot in the folder is no extension.
    ASSERT_TRUE(ForceFolder(files_ / L"a.b"));
    const std::wstring readme = File(L"a.b\\README");
    EXPECT_FALSE(core().CheckCanCustomize(readme));
    EXPECT_NE(Block(readme).find(L"doesn't have extension"), std::wstring::npos);

    // Not registered comes before the file system, even on FAT32.
    g_fileSystem = L"FAT32";
    const std::wstring unknown = File(L"data.vtnope");
    EXPECT_FALSE(core().CheckCanCustomize(unknown));
    EXPECT_EQ(Block(unknown).substr(0, 30), L"File type \".vtnope\" is not reg");
    const std::wstring doc = File(L"doc.vtuser");
    EXPECT_FALSE(core().CheckCanCustomize(doc));
    EXPECT_EQ(Block(doc), L"Your file system (FAT32) is not supported.\r\nCustomize icon on drives, formated in NTFS.");
    // A drive that cannot be queried is reported for this file only.
    g_fileSystem = L"<fail>";
    EXPECT_FALSE(core().CheckCanCustomize(doc));
    EXPECT_EQ(Block(doc).substr(0, 30), L"Your file system () is not sup");
    g_fileSystem = L"NTFS";

    // Excluded extensions keep their capitals in the message.
    const std::wstring setup = File(L"setup.EXE");
    EXPECT_FALSE(core().CheckCanCustomize(setup));
    EXPECT_EQ(Block(setup), L"The files with \".EXE\" extension can't be customized.\r\nPlease select another file");
}

TEST_F(EligibilityTest, UnwritableFilesAreReportedWithTheSystemText) {
    const std::wstring doc = File(L"locked.vtuser");
    // The probe stream is held open elsewhere without sharing.
    HANDLE h = CreateFileW((doc + L":kvtest").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(core().CheckCanCustomize(doc));
    CloseHandle(h);
    const std::wstring message = Block(doc);
    EXPECT_EQ(message.substr(0, 24), L"Can't write to the file ");
    EXPECT_NE(message.find(L"Cannot create file \"" + doc + L":kvtest\". "), std::wstring::npos) << message;
}

TEST_F(EligibilityTest, IconHandlers) {
    const std::wstring doc = File(L"doc.vtuser");
    const std::wstring handlerKey = std::wstring(L"Software\\Classes\\") + kUserType + L"\\ShellEx\\IconHandler";
    // No handler, a type of this user: we become its handler directly.
    EXPECT_TRUE(core().CheckCanCustomize(doc));
    EXPECT_FALSE(core().HasErrors);
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, handlerKey, L""), std::wstring(ShellExtensionCLSID));
    EXPECT_TRUE(core().CheckCanCustomize(doc));  // ours now

    // Our CLSID in other letter case is someone else's handler.
    std::wstring lower = ShellExtensionCLSID;
    for (auto& ch : lower) ch = static_cast<wchar_t>(towlower(ch));
    SetDefault(HKEY_CURRENT_USER, handlerKey, lower);
    EXPECT_FALSE(core().CheckCanCustomize(doc));
    EXPECT_EQ(Block(doc).substr(0, 25), L"Sorry, \".vtuser\" files ca");
}

TEST_F(EligibilityTest, MachineWideTypesGoThroughTheService) {
    const std::wstring doc = File(L"doc.vtmach");
    {
        ScopedServicePort port(UnusedLoopbackPort());
        EXPECT_FALSE(core().CheckCanCustomize(doc));
        EXPECT_EQ(Block(doc), L"Registration service is not running.\r\nPlease run \"Vantrel Icon Handler Registrator\" service.");
    }
    {
        LoopbackServer server(LoopbackServer::Response(203, "Non-Authoritative", "Type is not acceptable"));
        ASSERT_TRUE(server.ok());
        ScopedServicePort port(DWORD(server.port()));
        EXPECT_FALSE(core().CheckCanCustomize(doc));
        EXPECT_EQ(Block(doc), L"Unexpected error\r\nType is not acceptable");
    }
    {
        LoopbackServer server(LoopbackServer::Response(200, "OK", "OK"));
        ASSERT_TRUE(server.ok());
        ScopedServicePort port(DWORD(server.port()));
        EXPECT_TRUE(core().CheckCanCustomize(doc));
        EXPECT_FALSE(core().HasErrors);
        ASSERT_EQ(server.requests().size(), 1u);
        EXPECT_EQ(server.requests()[0].substr(0, 36), "GET /?ext=.vtmach&filetype=vtmachfil");
    }
}

TEST_F(EligibilityTest, ShortChainOfTheRemoveOperations) {
    const std::wstring missing = files_ / L"gone.txt";
    EXPECT_EQ(core().CheckCanRemove(missing), TVantrel::RemoveCheck::Failed);
    EXPECT_NE(Block(missing).find(L"doesn't exist"), std::wstring::npos);

    // Nothing to remove: no message, whatever the type or drive.
    g_fileSystem = L"FAT32";
    const std::wstring plain = File(L"plain.vtnope");
    EXPECT_EQ(core().CheckCanRemove(plain), TVantrel::RemoveCheck::NothingToDo);
    EXPECT_FALSE(core().HasErrors);

    WriteFile(plain + L":vantrelicon", "icon");
    EXPECT_EQ(core().CheckCanRemove(plain), TVantrel::RemoveCheck::Proceed);
    EXPECT_FALSE(core().HasErrors);
    // A removal creates nothing: a probe stream held elsewhere does not stop it.
    HANDLE h = CreateFileW((plain + L":kvtest").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    EXPECT_EQ(core().CheckCanRemove(plain), TVantrel::RemoveCheck::Proceed);
    // An icon stream another program reads counts as absent, as before.
    HANDLE reader = CreateFileW((plain + L":vantrelicon").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(core().CheckCanRemove(plain), TVantrel::RemoveCheck::NothingToDo);
    CloseHandle(reader);
    CloseHandle(h);
    EXPECT_FALSE(core().HasErrors);
}
