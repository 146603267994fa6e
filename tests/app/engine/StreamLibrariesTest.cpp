// Files whose streams come from elsewhere: a marker library on a network location that
// only the file's own info stream names is never opened, nor looked for (a fake share
// watched for any look, see FakeShare.h); one the user marked with keeps working; data
// far larger than the program writes is reported as damaged and left as it is, and the
// rest of the list goes on.
#include "engine/MarkingFixture.h"  // the imaging headers before windows.h and its RGB macros
#include "engine/FakeShare.h"

#include <windows.h>

#include "app/common/FileHelpers.h"
#include "app/engine/ChangeJournal.h"
#include "app/engine/MarkedFileList.h"
#include "app/engine/MarkerStreams.h"
#include "app/engine/MarkingRecords.h"
#include "app/engine/StreamLibraries.h"
#include "app/engine/VantrelClass.h"

using namespace vantrel;
using namespace testsupport;

namespace {

const int kRed = 3556862;

class FromElsewhere : public MarkingTest {
protected:
    void SetUp() override {
        MarkingTest::SetUp();
        share_ = std::make_unique<FakeShare>(MarkerLibrary());
        ASSERT_TRUE(share_->Ready()) << "no fake share in the Wine prefix";
    }
    void TearDown() override {
        SetDriveTypeSource(nullptr);
        ForgetChosenLibraries();
        share_.reset();
        MarkingTest::TearDown();
    }
    TVantrel& core() { return TVantrel::Core(); }
    // A file whose info stream (and, when given, icon stream) came with it from elsewhere.
    std::wstring Brought(const std::wstring& name, const std::string& info, const std::string& icon = "") {
        const std::wstring file = NewFile(name);
        WriteFile(InfoStreamPath(file), info);
        if (!icon.empty()) WriteFile(IconStreamPath(file), icon);
        return file;
    }
    static std::string Names(const std::wstring& library, int index = 6) {
        std::string text = "[vantrel]\r\nOverlayIconFile=";
        for (wchar_t c : library) text += char(c);
        return text + "\r\nOverlayIconIndex=" + std::to_string(index) + "\r\n";
    }
    // The report blocks: path line, message, two empty lines.
    std::vector<std::pair<std::wstring, std::wstring>> Blocks() {
        std::vector<std::pair<std::wstring, std::wstring>> blocks;
        for (std::size_t i = 0; i + 1 < core().Errors.size(); i += 4)
            blocks.emplace_back(core().Errors[i], core().Errors[i + 1]);
        return blocks;
    }
    // Grows a stream to the size without writing its bytes (a sparse file under Wine).
    static void Grow(const std::wstring& path, long long size) {
        HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        LARGE_INTEGER at{};
        at.QuadPart = size;
        SetFilePointerEx(h, at, nullptr, FILE_BEGIN);
        SetEndOfFile(h);
        CloseHandle(h);
    }
    static long long SizeOf(const std::wstring& path) {
        WIN32_FILE_ATTRIBUTE_DATA d{};
        if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &d)) return -1;
        return (static_cast<long long>(d.nFileSizeHigh) << 32) | d.nFileSizeLow;
    }
    std::unique_ptr<FakeShare> share_;
};

const wchar_t kRefused[] = L"was not opened: it is on a network location";

}  // namespace

TEST_F(FromElsewhere, TheWatchSeesEveryLookAtTheShare) {
    // Nothing looks: nothing is seen.
    share_->Watch();
    Sleep(50);
    EXPECT_FALSE(share_->Looked());
    // An attribute query finds the library through the share, and is seen.
    EXPECT_TRUE(FileExists(share_->Library()));
    EXPECT_TRUE(share_->Looked());
    // So is an open and read, and a look for a name that is not there.
    share_->Watch();
    EXPECT_FALSE(ReadFileBytes(share_->Library()).empty());
    EXPECT_TRUE(share_->Looked());
    share_->Watch();
    EXPECT_FALSE(FileExists(L"\\\\" + share_->Server() + L"\\markers\\Other.icl"));
    EXPECT_TRUE(share_->Looked());
}

TEST_F(FromElsewhere, ColouringAndRemovingTheColourOpenNothingOnTheNetwork) {
    ScopedEnv server(L"VT_SERVER", L"\\\\" + share_->Server());
    const std::wstring plain = Brought(L"plain.vtdoc", Names(share_->Library()), "old icon");
    const std::wstring expanded = Brought(L"expanded.vtdoc", Names(L"%VT_SERVER%\\markers\\Main.icl"));
    const std::wstring longForm =
        Brought(L"long.vtdoc", Names(L"\\\\?\\UNC\\" + share_->Server() + L"\\markers\\Main.icl"));
    const std::wstring slashes = Brought(L"slashes.vtdoc", Names(L"//" + share_->Server() + L"/markers/Main.icl"));
    const std::wstring device =
        Brought(L"device.vtdoc", Names(L"\\\\?\\GLOBALROOT\\Device\\Mup\\" + share_->Server() + L"\\markers\\Main.icl"));
    const std::wstring own = Brought(L"own.vtdoc", Names(MarkerLibrary()));
    share_->Watch();
    {
        ReportWatcher watcher;
        core().FileList = {plain, expanded, longForm, slashes, device, own};
        core().ApplyColor(kRed);
        for (int i = 0; i < 100 && watcher.Shown() < 1; ++i) Sleep(20);
        EXPECT_EQ(watcher.Shown(), 1);
    }
    EXPECT_FALSE(share_->Looked());
    const auto blocks = Blocks();
    ASSERT_EQ(blocks.size(), 5u);
    const std::wstring refused[] = {plain, expanded, longForm, slashes, device};
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(blocks[i].first, refused[i]);
        EXPECT_NE(blocks[i].second.find(kRefused), std::wstring::npos) << blocks[i].second;
    }
    EXPECT_NE(blocks[1].second.find(L"%VT_SERVER%\\markers\\Main.icl"), std::wstring::npos);
    EXPECT_EQ(IconStream(plain), "old icon");  // left as it was
    EXPECT_EQ(IconStream(expanded), "");
    EXPECT_FALSE(IconStream(own).empty());  // the rest of the list went on

    // Removing the colour rebuilds the marker from the stream: refused the same way.
    share_->Watch();
    {
        ReportWatcher watcher;
        core().FileList = {plain};
        core().RemoveColor();
    }
    EXPECT_FALSE(share_->Looked());
    ASSERT_EQ(Blocks().size(), 1u);
    EXPECT_NE(Blocks()[0].second.find(kRefused), std::wstring::npos);
    EXPECT_EQ(IconStream(plain), "old icon");
}

TEST_F(FromElsewhere, ANetworkDriveLetterIsRefusedAndALocalOneIsNot) {
    // Wine has no network drive letters: the drive-type seam makes Z: one.
    const std::wstring file = Brought(L"z.vtdoc", Names(share_->LibraryOnZ()));
    SetDriveTypeSource([](const std::wstring& root) -> unsigned {
        return root == L"Z:\\" ? DRIVE_REMOTE : QueryDriveType(root);
    });
    share_->Watch();
    {
        ReportWatcher watcher;
        core().FileList = {file};
        core().ApplyColor(kRed);
    }
    EXPECT_FALSE(share_->Looked());
    ASSERT_EQ(Blocks().size(), 1u);
    EXPECT_NE(Blocks()[0].second.find(kRefused), std::wstring::npos);

    // Z: as Wine reports it, a local drive: the same stream is used as before.
    SetDriveTypeSource(nullptr);
    core().FileList = {file};
    core().ApplyColor(kRed);
    EXPECT_FALSE(core().HasErrors) << core().ErrorReportText();
    EXPECT_TRUE(share_->Looked());
    EXPECT_FALSE(IconStream(file).empty());
}

TEST_F(FromElsewhere, ANetworkLibraryTheUserMarkedWithKeepsWorking) {
    const std::wstring mine = NewFile(L"mine.vtdoc");
    const std::wstring foreign = Brought(L"foreign.vtdoc", Names(share_->Library()));
    core().FileList = {mine};
    core().ApplyOverlay(share_->Library(), 6);  // the user's own choice
    ASSERT_FALSE(core().HasErrors) << core().ErrorReportText();
    const std::string marked = IconStream(mine);
    ASSERT_FALSE(marked.empty());

    // A later process: only the marking records remember the choice. They vouch for this
    // file, not for another that names the same library.
    ForgetChosenLibraries();
    share_->Watch();
    {
        ReportWatcher watcher;
        core().FileList = {mine, foreign};
        core().ApplyColor(kRed);
    }
    EXPECT_TRUE(share_->Looked());
    ASSERT_EQ(Blocks().size(), 1u);
    EXPECT_EQ(Blocks()[0].first, foreign);
    EXPECT_NE(IconStream(mine), marked);
    core().FileList = {mine};
    core().RemoveColor();
    EXPECT_FALSE(core().HasErrors) << core().ErrorReportText();
    EXPECT_EQ(IconStream(mine), marked);

    // The libraries of the marker pages are the user's too, wherever the program lies.
    EXPECT_FALSE(FindStreamLibrary(ProgramFilePath(), TLibraryLookup::AsWritten).Refused);
}

TEST_F(FromElsewhere, ReapplyingALostMarkingFromItsOwnStreamRefusesANetworkLibrary) {
    const std::wstring lost = Brought(L"lost.vtdoc", Names(share_->Library()) + "Color=255\r\n");
    JournalAdd(lost);
    const TFileLook look = LookAtFile(lost, true);
    ASSERT_EQ(look.State, TMarkState::Lost);
    share_->Watch();
    {
        ReportWatcher watcher;
        ReapplyMarkings(core(), {{lost, look.MarkerFile, look.MarkerIndex, look.Color, true}});
    }
    EXPECT_FALSE(share_->Looked());
    ASSERT_EQ(Blocks().size(), 1u);
    EXPECT_NE(Blocks()[0].second.find(kRefused), std::wstring::npos);
    EXPECT_EQ(InfoStream(lost), Names(share_->Library()) + "Color=255\r\n");  // left as it was
    EXPECT_EQ(IconStream(lost), "");
}

TEST_F(FromElsewhere, StreamsFarLargerThanWrittenAreReportedAndTheListGoesOn) {
    const std::wstring huge = Brought(L"huge.vtdoc", "[vantrel]\r\nColor=255\r\n", "old icon");
    Grow(InfoStreamPath(huge), 64ll << 20);
    const std::wstring other = NewFile(L"other.vtdoc");
    for (int op = 0; op < 3; ++op) {
        ReportWatcher watcher;
        core().FileList = {huge, other};
        if (op == 0) core().ApplyColor(kRed);
        if (op == 1) core().RemoveOverlay();
        if (op == 2) core().RemoveColor();
        ASSERT_EQ(Blocks().size(), 1u) << op;
        EXPECT_EQ(Blocks()[0].first, huge);
        EXPECT_NE(Blocks()[0].second.find(L"is larger than 128 KB, more than Vantrel ever writes there"),
                  std::wstring::npos)
            << Blocks()[0].second;
        EXPECT_EQ(SizeOf(InfoStreamPath(huge)), 64ll << 20) << op;
        EXPECT_EQ(IconStream(huge), "old icon") << op;
        // The other file went through every step: coloured, rebuilt, its colour removed.
        EXPECT_EQ(IconStream(other).empty(), op == 2) << op;
    }
    // The Marked Files view's look tells nothing of it, and says why.
    const TFileLook look = LookAtFile(huge, true);
    EXPECT_FALSE(look.Known);
    EXPECT_NE(look.Damage.find(L"128 KB"), std::wstring::npos);
    // An icon stream far larger than written is not read back either.
    Grow(IconStreamPath(huge), 5ll << 20);
    EXPECT_THROW(ReadIconStream(huge), EFileTooLarge);
}

TEST_F(FromElsewhere, ListsAndJournalsThatTheProgramCannotHaveWritten) {
    const std::wstring a = NewFile(L"a.vtdoc"), b = NewFile(L"b.vtdoc");
    // A NUL in a line would make it name a.vtdoc itself, whose streams would then be
    // written over its data: the line is left out and noted in the next report.
    std::string bytes;
    for (wchar_t c : a) bytes += char(c);
    bytes += std::string("\0junk\r\n", 7);
    for (wchar_t c : b) bytes += char(c);
    const std::wstring list = files_ / L"list.tmp";
    WriteFile(list, bytes + "\r\n");
    core().LoadFileList(list);
    EXPECT_EQ(core().FileList, std::vector<std::wstring>{b});
    {
        ReportWatcher watcher;
        core().ApplyOverlay(MarkerLibrary(), 6);
    }
    ASSERT_EQ(Blocks().size(), 1u);
    EXPECT_EQ(Blocks()[0].first, list);
    EXPECT_NE(Blocks()[0].second.find(L"1 line of the list names no file"), std::wstring::npos);
    EXPECT_EQ(ReadFile(a), "document text");
    EXPECT_FALSE(IconStream(b).empty());

    // A list far larger than written is not read: the file list stays, the list stays.
    const std::wstring big = files_ / L"big.tmp";
    WriteFile(big, bytes);
    Grow(big, (64ll << 20) + 1);
    core().LoadFileList(big);
    EXPECT_EQ(core().FileList, std::vector<std::wstring>{b});
    EXPECT_EQ(core().ListFileName, list);

    // A journal line with a NUL is never taken for a path, so a rollback leaves a.vtdoc.
    const std::wstring journal = JournalFileName();
    std::string lines = *ReadFile(journal);
    WriteFile(journal, lines + bytes.substr(0, bytes.find('\n') + 1));
    JournalRollback(core().Progress());
    EXPECT_EQ(ReadFile(a), "document text");
    EXPECT_EQ(IconStream(b), "");
    EXPECT_EQ(*ReadFile(journal), "");

    // A journal far larger than written: an apply reports it once and marks nothing, a
    // rollback stops before anything changes.
    Grow(journal, (64ll << 20) + 1);
    {
        ReportWatcher watcher;
        core().FileList = {a, b};
        core().ApplyColor(kRed);
    }
    // The big list's note opens the report; the journal's follows, with no file's path.
    ASSERT_EQ(core().Errors.size(), 7u);
    EXPECT_EQ(core().Errors[0], big);
    EXPECT_NE(core().Errors[1].find(L"is larger than 64 MB"), std::wstring::npos) << core().Errors[1];
    EXPECT_NE(core().Errors[4].find(L"No file was marked"), std::wstring::npos) << core().Errors[4];
    EXPECT_EQ(InfoStream(a), "<none>");
    EXPECT_THROW(core().RollbackAll(), EFileTooLarge);
    EXPECT_EQ(SizeOf(journal), (64ll << 20) + 1);
}
