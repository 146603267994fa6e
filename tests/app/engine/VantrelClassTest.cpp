#include "app/engine/VantrelClass.h"

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "app/common/FileHelpers.h"
#include "imaging/Error.h"

using namespace vantrel;
using namespace testsupport;

namespace {

const wchar_t kKey[] = L"Software\\Kestrane\\Vantrel";

// Each test gets its own AppData, so the data folder is fresh.
class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        TVantrel::DoneCore();
        appData_ = std::make_unique<ScopedEnv>(L"AppData", appDataDir_.path());
        TVantrel::InitCore();
    }
    void TearDown() override {
        TVantrel::DoneCore();
        appData_.reset();
    }
    TVantrel& core() { return TVantrel::Core(); }
    std::wstring File(const std::wstring& name, const std::string& content = "x") {
        std::wstring path = files_ / name;
        WriteFile(path, content);
        return path;
    }

    TempDir appDataDir_;
    TempDir files_;
    std::unique_ptr<ScopedEnv> appData_;
};

std::string Ansi(const std::wstring& w) {
    std::string s;
    for (wchar_t c : w) s += static_cast<char>(c);  // the test paths are ASCII
    return s;
}

}  // namespace

TEST(EngineLifetime, CoreBeforeInitFails) {
    TVantrel::DoneCore();
    try {
        TVantrel::Core();
        FAIL() << "no failure";
    } catch (const vantrel::Error& e) {
        EXPECT_STREQ(e.what(), "Core Not Initialized!");
    }
}

TEST_F(EngineTest, StartWritesProgramLocationAndCreatesDataFolder) {
    const std::wstring program = ProgramFilePath();
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, kKey, L"VantrelPath"), program);
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, kKey, L"VantrelDir"), ExtractFileDir(program));
    EXPECT_EQ(core().DataFolder, appDataDir_.path() + L"\\Kestrane\\Vantrel\\");
    EXPECT_TRUE(DirectoryExists(core().DataFolder));
    EXPECT_EQ(core().ExcludedExtensions,
              (std::vector<std::wstring>{L".exe", L".cmd", L".bat", L".com", L".drv", L".sys"}));
    EXPECT_FALSE(core().KeepListFile);
    EXPECT_TRUE(core().ListFileName.empty());
}

TEST_F(EngineTest, DataFolderWithoutAppDataIsAtTheDriveRoot) {
    TVantrel::DoneCore();
    wchar_t old[1024];
    GetCurrentDirectoryW(1024, old);
    SetCurrentDirectoryW(files_.path().c_str());
    {
        ScopedEnv unset(L"AppData", std::nullopt);
        TVantrel::InitCore();
        EXPECT_EQ(core().DataFolder, L"\\Kestrane\\Vantrel\\");
        const std::wstring onDrive = files_.path().substr(0, 2) + L"\\Kestrane\\Vantrel";
        EXPECT_TRUE(DirectoryExists(onDrive));
        TVantrel::DoneCore();
        RemoveDirectoryW(onDrive.c_str());
    }
    SetCurrentDirectoryW(old);
}

TEST_F(EngineTest, LoadFileListKeepsOnlyExistingFilesInOrder) {
    const std::wstring a = File(L"a.txt"), b = File(L"b.doc"), c = File(L"c d.txt");
    CreateDirectoryW((files_ / L"folder").c_str(), nullptr);
    const std::wstring list = File(L"list.tmp", Ansi(a) + "\r\n\r\n" + Ansi(files_ / L"folder") + "\n" +
                                                    Ansi(files_ / L"missing.txt") + "\r" + Ansi(b) + "\r\n" +
                                                    Ansi(a) + "\n" + Ansi(c));
    core().LoadFileList(L"\"" + list + L"\"");
    EXPECT_EQ(core().ListFileName, list);
    // Duplicates stay; the last line needs no line end.
    EXPECT_EQ(core().FileList, (std::vector<std::wstring>{a, b, a, c}));

    // Blanks around the path go; quotes inside the blanks stay and name no file.
    core().FileList.clear();
    core().LoadFileList(L"  " + list + L"\t");
    EXPECT_EQ(core().FileList.size(), 4u);
    core().FileList.clear();
    core().LoadFileList(L" \"" + list + L"\" ");
    EXPECT_TRUE(core().FileList.empty());
}

TEST_F(EngineTest, LoadFileListOfAMissingListChangesNothing) {
    const std::wstring a = File(L"a.txt");
    core().FileList = {a};
    core().LoadFileList(files_ / L"no-such-list.tmp");
    core().LoadFileList(L"");
    core().LoadFileList(files_.path());  // a folder is no list
    EXPECT_EQ(core().FileList, (std::vector<std::wstring>{a}));
    EXPECT_TRUE(core().ListFileName.empty());

    // An empty list empties the file list.
    core().LoadFileList(File(L"empty.tmp", ""));
    EXPECT_TRUE(core().FileList.empty());
}

TEST_F(EngineTest, LoadFileListResolvesShortcuts) {
    const std::wstring target = File(L"target.txt");
    const std::wstring gone = File(L"gone.txt");
    ASSERT_TRUE(CreateShortcut(files_ / L"good.LNK", target));
    ASSERT_TRUE(CreateShortcut(files_ / L"stale.lnk", gone));
    DeleteFileW(gone.c_str());
    const std::wstring list = File(L"list.tmp", Ansi(files_ / L"good.LNK") + "\r\n" + Ansi(files_ / L"stale.lnk") +
                                                    "\r\n" + Ansi(files_ / L"missing.lnk"));
    core().LoadFileList(list);
    ASSERT_EQ(core().FileList.size(), 1u);
    EXPECT_TRUE(SameFileName(core().FileList[0], target)) << core().FileList[0];
}

TEST_F(EngineTest, Utf8ListCarriesPathsOutsideTheCodePage) {
    const std::wstring name = L"\u65E5\u672C\u8A9E \u00E9\u0434.txt";  // Japanese, Latin, Cyrillic
    const std::wstring file = File(name);
    const std::wstring plain = File(L"plain.txt");
    std::string utf8;
    for (wchar_t ch : files_ / name) {
        unsigned c = ch;
        if (c < 0x80) utf8 += static_cast<char>(c);
        else if (c < 0x800) utf8 += {static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
        else
            utf8 += {static_cast<char>(0xE0 | (c >> 12)), static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
                     static_cast<char>(0x80 | (c & 0x3F))};
    }
    core().LoadFileList(File(L"list.tmp", "\xEF\xBB\xBF" + utf8 + "\r\n" + Ansi(plain) + "\r\n"));
    EXPECT_EQ(core().FileList, (std::vector<std::wstring>{file, plain}));
}

TEST_F(EngineTest, ListFileIsDeletedAtExitUnlessKeptOrTheDataFoldersOwn) {
    const std::wstring a = File(L"a.txt");
    // A temporary list is deleted.
    std::wstring list = File(L"temp1.tmp", Ansi(a));
    core().LoadFileList(list);
    TVantrel::DoneCore();
    EXPECT_FALSE(Exists(list));

    // "-dd" keeps it.
    TVantrel::InitCore();
    list = File(L"temp2.tmp", Ansi(a));
    core().LoadFileList(list);
    core().KeepListFile = true;
    TVantrel::DoneCore();
    EXPECT_TRUE(Exists(list));

    // The data folder's own list is never deleted, whatever the letter case.
    TVantrel::InitCore();
    std::wstring own = core().DataFolder + L"SelectedFiles.DAT";
    WriteFile(own, Ansi(a));
    core().LoadFileList(own);
    TVantrel::DoneCore();
    EXPECT_TRUE(Exists(own));

    // No list loaded: nothing to delete, nothing fails.
    TVantrel::InitCore();
    EXPECT_NO_THROW(TVantrel::DoneCore());
    TVantrel::InitCore();
}

TEST_F(EngineTest, ErrorReportBlocks) {
    core().HasErrors = true;
    core().Errors.push_back(L"C:\\a.txt");
    core().AddErrorText(L"First sentence.\r\nSecond sentence.");
    EXPECT_EQ(core().Errors, (std::vector<std::wstring>{L"C:\\a.txt", L"First sentence.\r\nSecond sentence.", L"", L""}));
    EXPECT_EQ(core().ErrorReportText(),
              L"Error(s) occured\r\n\r\nC:\\a.txt\r\nFirst sentence.\r\nSecond sentence.\r\n\r\n\r\n");
    core().ClearErrors();
    EXPECT_FALSE(core().HasErrors);
    EXPECT_TRUE(core().Errors.empty());
    // Without errors nothing is shown (a dialog here would block the test).
    core().ShowErrorReport();
}
