#include "app/engine/MarkerStreams.h"

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "app/common/FileHelpers.h"
#include "app/common/TextConv.h"
#include "app/engine/ChangeJournal.h"
#include "app/engine/VantrelClass.h"
#include "imaging/Error.h"

using namespace vantrel;
using namespace testsupport;

namespace {

class StreamsTest : public ::testing::Test {
protected:
    void SetUp() override {
        TVantrel::DoneCore();
        appData_ = std::make_unique<ScopedEnv>(L"AppData", appDataDir_.path());
        TVantrel::InitCore();
    }
    void TearDown() override {
        SetFileSystemNameSource(nullptr);
        TVantrel::DoneCore();
        appData_.reset();
    }
    std::wstring File(const std::wstring& name) {
        std::wstring path = files_ / name;
        WriteFile(path, "content");
        return path;
    }
    std::string Bytes(const std::wstring& path) { return ReadFile(path).value_or("<missing>"); }

    TempDir appDataDir_;
    TempDir files_;
    std::unique_ptr<ScopedEnv> appData_;
};

struct Handle {
    HANDLE h;
    ~Handle() {
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
};

}  // namespace

TEST_F(StreamsTest, IconStreamPresenceAndRemoval) {
    const std::wstring file = File(L"notes.txt");
    EXPECT_FALSE(HasIconStream(file));
    WriteFile(IconStreamPath(file), "ico");
    WriteFile(InfoStreamPath(file), "[vantrel]\r\nColor=255\r\n");
    EXPECT_TRUE(HasIconStream(file));

    {   // Held open elsewhere without sharing: counts as absent.
        Handle held{CreateFileW(IconStreamPath(file).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)};
        ASSERT_NE(held.h, INVALID_HANDLE_VALUE);
        EXPECT_FALSE(HasIconStream(file));
    }
    EXPECT_TRUE(HasIconStream(file));

    JournalAdd(file);
    RemoveMarkerStreams(file);
    EXPECT_FALSE(Exists(IconStreamPath(file)));
    EXPECT_FALSE(Exists(InfoStreamPath(file)));
    EXPECT_EQ(Bytes(file), "content");
    EXPECT_TRUE(TChangeJournal(JournalFileName()).Entries().empty());
}

TEST_F(StreamsTest, InfoStreamWithoutIconStreamStaysButLeavesTheJournal) {
    const std::wstring file = File(L"left.txt");
    WriteFile(InfoStreamPath(file), "[vantrel]\r\nOverlayIconFile=Main.icl\r\nOverlayIconIndex=6\r\n");
    JournalAdd(file);
    JournalAdd(File(L"other.txt"));
    RemoveMarkerStreams(file);
    EXPECT_EQ(Bytes(InfoStreamPath(file)), "[vantrel]\r\nOverlayIconFile=Main.icl\r\nOverlayIconIndex=6\r\n");
    EXPECT_EQ(TChangeJournal(JournalFileName()).Entries(), std::vector<std::wstring>{files_ / L"other.txt"});
}

TEST_F(StreamsTest, WriteProbe) {
    const std::wstring file = File(L"probe.txt");
    std::wstring error = L"stale";
    EXPECT_TRUE(CanWriteStreams(file, error));
    EXPECT_EQ(error, L"");
    EXPECT_FALSE(Exists(file + L":kvtest"));

    // One left behind (a crash between its creation and its deletion) is replaced and
    // deleted like a new one.
    WriteFileBytes(file + L":kvtest", "left behind", 11);
    EXPECT_TRUE(CanWriteStreams(file, error));
    EXPECT_EQ(error, L"");
    EXPECT_FALSE(Exists(file + L":kvtest"));

    {   // A probe stream that cannot be replaced (held open elsewhere) fails with the system's text.
        Handle held{CreateFileW((file + L":kvtest").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr)};
        ASSERT_NE(held.h, INVALID_HANDLE_VALUE);
        EXPECT_FALSE(CanWriteStreams(file, error));
        EXPECT_EQ(error,
                  L"Cannot create file \"" + file + L":kvtest\". " + SystemErrorMessage(ERROR_SHARING_VIOLATION));
    }

    const std::wstring nowhere = files_ / L"no such folder\\a.txt";
    EXPECT_FALSE(CanWriteStreams(nowhere, error));
    EXPECT_EQ(error, L"Cannot create file \"" + nowhere + L":kvtest\". " + SystemErrorMessage(ERROR_PATH_NOT_FOUND));

    // A path far beyond the platform's limit is a clear failure, not an overrun.
    const std::wstring longPath = files_ / std::wstring(40000, L'a') + L".txt";
    EXPECT_FALSE(CanWriteStreams(longPath, error));
    EXPECT_NE(error.find(L"Cannot create file"), std::wstring::npos);
    EXPECT_FALSE(HasIconStream(longPath));
}

TEST_F(StreamsTest, FileSystemNames) {
    // The real scripting runtime: Wine reports NTFS for its drives.
    EXPECT_EQ(GetFileSystemName(L"C:"), L"NTFS");
    EXPECT_EQ(GetFileSystemName(L"c:\\windows"), L"NTFS");
    EXPECT_TRUE(IsOnNtfsDrive(files_ / L"a.txt"));

    // A drive letter that names no drive: the runtime's query fails, the name is empty.
    wchar_t unused = 0;
    DWORD drives = GetLogicalDrives();
    for (int i = 25; i >= 3 && !unused; --i)
        if (!(drives & (1u << i))) unused = static_cast<wchar_t>(L'A' + i);
    ASSERT_NE(unused, 0);
    EXPECT_THROW(QueryFileSystemName(std::wstring(1, unused) + L":"), Error);
    std::wstring fs = L"stale";
    EXPECT_FALSE(IsOnNtfsDrive(std::wstring(1, unused) + L":\\x\\a.txt", &fs));
    EXPECT_EQ(fs, L"");

    EXPECT_EQ(GetFileSystemName(L"\\\\server\\share"), L"");
    EXPECT_EQ(GetFileSystemName(L""), L"");
    EXPECT_EQ(GetFileSystemName(L"C"), L"");
    EXPECT_FALSE(IsOnNtfsDrive(L"\\\\server\\share\\a.txt", &fs));
    EXPECT_EQ(fs, L"");

    // Drives Wine cannot make: a FAT32 drive and one whose query fails.
    SetFileSystemNameSource([](const std::wstring& drive) -> std::wstring {
        if (drive == L"F:") return L"FAT32";
        if (drive == L"N:") return L"ntfs";
        throw Error("The device is not ready.");
    });
    EXPECT_FALSE(IsOnNtfsDrive(L"F:\\a.txt", &fs));
    EXPECT_EQ(fs, L"FAT32");
    EXPECT_TRUE(IsOnNtfsDrive(L"N:\\a.txt", &fs));
    EXPECT_EQ(GetFileSystemName(L"E:\\"), L"");
}

TEST(FilePaths, DrivePart) {
    EXPECT_EQ(ExtractFileDrive(L"C:\\a\\b.txt"), L"C:");
    EXPECT_EQ(ExtractFileDrive(L"c:b.txt"), L"c:");
    EXPECT_EQ(ExtractFileDrive(L"\\\\server\\share\\dir\\b.txt"), L"\\\\server\\share");
    EXPECT_EQ(ExtractFileDrive(L"\\\\server\\share"), L"\\\\server\\share");
    EXPECT_EQ(ExtractFileDrive(L"\\\\server"), L"\\\\server");
    EXPECT_EQ(ExtractFileDrive(L"\\a\\b.txt"), L"");
    EXPECT_EQ(ExtractFileDrive(L""), L"");
}

TEST_F(StreamsTest, InfoStreamTextAsTheProfileWriterLaysItOut) {
    const std::wstring file = File(L"marked.txt");
    TIniFile info = OpenInfoStream(file);
    EXPECT_EQ(info.FileName(), file + L":vantreliconinfo");
    EXPECT_EQ(info.ReadString(kInfoSection, kOverlayIconFileKey, L""), L"");
    EXPECT_EQ(info.ReadInteger(kInfoSection, kColorKey, kNoColor), kNoColor);
    EXPECT_FALSE(Exists(info.FileName()));  // reading creates nothing

    info.WriteString(kInfoSection, kOverlayIconFileKey, L"%ProgramFiles%\\Vantrel\\icl\\Main.icl");
    info.WriteInteger(kInfoSection, kOverlayIconIndexKey, 6);
    info.WriteInteger(kInfoSection, kColorKey, 255);
    EXPECT_EQ(Bytes(info.FileName()),
              "[vantrel]\r\nOverlayIconFile=%ProgramFiles%\\Vantrel\\icl\\Main.icl\r\nOverlayIconIndex=6\r\n"
              "Color=255\r\n");
    EXPECT_EQ(Bytes(file), "content");

    TIniFile again = OpenInfoStream(file);  // a second object sees the first one's writes
    EXPECT_EQ(again.ReadString(L"VANTREL", L"overlayiconfile", L""), L"%ProgramFiles%\\Vantrel\\icl\\Main.icl");
    EXPECT_EQ(again.ReadInteger(kInfoSection, kOverlayIconIndexKey, 0), 6);

    again.DeleteKey(kInfoSection, kOverlayIconFileKey);
    again.DeleteKey(kInfoSection, kOverlayIconIndexKey);
    EXPECT_EQ(Bytes(info.FileName()), "[vantrel]\r\nColor=255\r\n");
    info.WriteInteger(kInfoSection, kColorKey, -1);
    info.DeleteKey(kInfoSection, kColorKey);
    EXPECT_EQ(Bytes(info.FileName()), "[vantrel]\r\n");
}

TEST_F(StreamsTest, InfoStreamReadsOddTextAndKeepsPathsOutsideTheCodePage) {
    const std::wstring file = File(L"odd.txt");
    TIniFile info = OpenInfoStream(file);
    WriteFile(info.FileName(), "[vantrel]\nColor=0x0000FF\rOverlayIconIndex=$10\nOverlayIconFile=  C:\\m.ico  ");
    EXPECT_EQ(info.ReadInteger(kInfoSection, kColorKey, kNoColor), 255);
    EXPECT_EQ(info.ReadInteger(kInfoSection, kOverlayIconIndexKey, 0), 16);
    EXPECT_EQ(info.ReadString(kInfoSection, kOverlayIconFileKey, L""), L"C:\\m.ico");
    WriteFile(info.FileName(), "[vantrel]\r\nColor=blue\r\nOverlayIconIndex=\r\n");
    EXPECT_EQ(info.ReadInteger(kInfoSection, kColorKey, kNoColor), kNoColor);
    EXPECT_EQ(info.ReadInteger(kInfoSection, kOverlayIconIndexKey, 0), 0);

    // A Unicode text (as the profile functions keep a file that starts with the UTF-16
    // mark) is read as such and written back as ANSI; an odd last byte is ignored.
    static const char kUtf16[] = "\xFF\xFE[\0v\0a\0n\0t\0r\0e\0l\0]\0\r\0\n\0C\0o\0l\0o\0r\0=\0" "7\0\r\0\n\0!";
    WriteFile(info.FileName(), std::string(kUtf16, sizeof(kUtf16) - 1));
    EXPECT_EQ(info.ReadInteger(kInfoSection, kColorKey, kNoColor), 7);
    info.WriteInteger(kInfoSection, kOverlayIconIndexKey, 2);
    EXPECT_EQ(Bytes(info.FileName()), "[vantrel]\r\nColor=7\r\nOverlayIconIndex=2\r\n");
    WriteFile(info.FileName(), "[vantrel]\r\nColor=blue\r\nOverlayIconIndex=\r\n");

    // A path the ANSI code page cannot hold is stored whole (UTF-8 behind a mark), not as "?".
    const std::wstring foreign = L"C:\\\x65E5\x672C\\\x0416.icl";
    info.WriteString(kInfoSection, kOverlayIconFileKey, foreign);
    EXPECT_EQ(Bytes(info.FileName()), "\xEF\xBB\xBF[vantrel]\r\nColor=blue\r\nOverlayIconIndex=\r\nOverlayIconFile=" +
                                          WideToUtf8(foreign) + "\r\n");
    EXPECT_EQ(info.ReadString(kInfoSection, kOverlayIconFileKey, L""), foreign);
    // Once every value fits again the text is plain ANSI.
    info.WriteString(kInfoSection, kOverlayIconFileKey, L"C:\\caf\x00E9.icl");
    EXPECT_EQ(Bytes(info.FileName()), "[vantrel]\r\nColor=blue\r\nOverlayIconIndex=\r\nOverlayIconFile=C:\\caf\xE9.icl\r\n");
}

TEST_F(StreamsTest, InfoStreamChangeFailuresAreReportedAndLoseNothing) {
    const std::wstring file = File(L"locked.txt");
    TIniFile info = OpenInfoStream(file);
    info.WriteInteger(kInfoSection, kColorKey, 65280);
    {
        // Held without sharing: the change fails instead of writing a text without "Color".
        Handle held{CreateFileW(info.FileName().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)};
        ASSERT_NE(held.h, INVALID_HANDLE_VALUE);
        EXPECT_THROW(info.WriteInteger(kInfoSection, kOverlayIconIndexKey, 3), Error);
        EXPECT_EQ(info.ReadInteger(kInfoSection, kColorKey, kNoColor), kNoColor);  // unreadable: the default
    }
    EXPECT_EQ(Bytes(info.FileName()), "[vantrel]\r\nColor=65280\r\n");

    TIniFile nowhere(files_ / L"no such folder\\a.txt:vantreliconinfo");
    try {
        nowhere.WriteInteger(kInfoSection, kColorKey, 1);
        FAIL() << "no failure";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Unable to write to " + WideToUtf8(nowhere.FileName()), 0), 0u)
            << e.what();
    }
    EXPECT_THROW(info.WriteString(kInfoSection, kOverlayIconFileKey, L"a\r\nColor=1"), Error);
    EXPECT_EQ(Bytes(info.FileName()), "[vantrel]\r\nColor=65280\r\n");
}

TEST_F(StreamsTest, OnePassEditsWriteWhatSeparateCallsWriteAndNothingElse) {
    const std::wstring file = File(L"edited.txt");
    TIniFile info = OpenInfoStream(file);
    // An edit that changes nothing leaves no file behind.
    info.Edit([](IniText& text) { return text.Read(kInfoSection, kColorKey).has_value(); });
    EXPECT_FALSE(Exists(info.FileName()));
    // Several changes in one pass give the separate calls' bytes, also when the text turns UTF-8.
    const std::wstring foreign = L"C:\\\x65E5\x672C.icl";
    info.Edit([&](IniText& text) {
        text.Write(kInfoSection, kOverlayIconFileKey, foreign);
        text.Write(kInfoSection, kOverlayIconIndexKey, L"4");
        return true;
    });
    TIniFile separate = OpenInfoStream(File(L"separate.txt"));
    separate.WriteString(kInfoSection, kOverlayIconFileKey, foreign);
    separate.WriteInteger(kInfoSection, kOverlayIconIndexKey, 4);
    EXPECT_EQ(Bytes(info.FileName()), Bytes(separate.FileName()));
    // A shorter text replaces a longer one whole.
    info.Edit([](IniText& text) { return text.Delete(kInfoSection, kOverlayIconFileKey); });
    EXPECT_EQ(Bytes(info.FileName()), "[vantrel]\r\nOverlayIconIndex=4\r\n");
    // Held without sharing: a change fails and loses nothing; a reading pass sees no text.
    Handle held{CreateFileW(info.FileName().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)};
    EXPECT_THROW(info.Edit([](IniText& text) { text.Write(kInfoSection, kColorKey, L"1"); return true; }), Error);
    bool sawText = true;
    info.Edit([&](IniText& text) { sawText = text.Read(kInfoSection, kOverlayIconIndexKey).has_value(); return false; }, true);
    EXPECT_FALSE(sawText);
    CloseHandle(held.h);
    held.h = INVALID_HANDLE_VALUE;
    EXPECT_EQ(Bytes(info.FileName()), "[vantrel]\r\nOverlayIconIndex=4\r\n");
}
