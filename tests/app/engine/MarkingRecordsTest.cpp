// The marking records: the file format and its store, and what the engine's operations
// record in them.
#include "engine/MarkingFixture.h"

#include <windows.h>

#include <thread>

#include "app/engine/ChangeJournal.h"
#include "app/engine/MarkerStreams.h"
#include "app/engine/MarkingRecords.h"
#include "app/engine/VantrelClass.h"
#include "imaging/Error.h"

using namespace vantrel;
using namespace testsupport;

namespace {

TRecordChange Mark(const std::wstring& path, const std::wstring& library, int index, int color) {
    TRecordChange c;
    c.Record = {path, library, index, color, L"2024-05-06T07:08:09Z"};
    return c;
}
TRecordChange Drop(const std::wstring& path) {
    TRecordChange c;
    c.Record.Path = path;
    c.Record.Time = L"2024-05-06T07:08:10Z";
    c.Drop = true;
    return c;
}

std::string Slurp(const std::wstring& path) { return ReadFile(path).value_or("<none>"); }

}  // namespace

TEST(MarkingRecordsStore, RoundTripOfAwkwardTextAndTheLastChangeHolds) {
    TempDir dir;
    TMarkingRecords records(dir / L"MarkingRecords.dat");
    const std::wstring odd = L"C:\\a\tb\\c\\d\x00e9\x4e2d.txt";  // a TAB, a backslash, non-ANSI letters
    records.Write({Mark(odd, L"C:\\icl\\Main.icl", 6, 255), Mark(L"C:\\x.txt", L"", 0, 16748891),
                   Mark(L"C:\\y.txt", L"C:\\icl\\Main.icl", 2, kNoColor)});
    // Another operation: x gets a marker too, y's record goes (letter case ignored).
    records.Write({Mark(L"C:\\X.TXT", L"C:\\icl\\Main.icl", 3, 16748891), Drop(L"c:\\Y.txt")});

    const TRecordContents contents = records.Read();
    ASSERT_EQ(contents.Records.size(), 2u);
    EXPECT_TRUE(contents.Unreadable.empty());
    EXPECT_EQ(contents.Records[0].Path, odd);
    EXPECT_EQ(contents.Records[0].MarkerFile, L"C:\\icl\\Main.icl");
    EXPECT_EQ(contents.Records[0].MarkerIndex, 6);
    EXPECT_EQ(contents.Records[0].Color, 255);
    EXPECT_EQ(contents.Records[0].Time, L"2024-05-06T07:08:09Z");
    EXPECT_EQ(contents.Records[1].Path, L"C:\\X.TXT");
    EXPECT_EQ(contents.Records[1].MarkerIndex, 3);

    // Appended, one line a change, the TAB inside the path escaped.
    const std::string bytes = Slurp(records.FileName());
    EXPECT_EQ(bytes.rfind("VantrelMarkingRecords\t1\r\n+\tC:\\\\a\\tb\\\\c", 0), 0u) << bytes;
    EXPECT_EQ(records.LineCount(), 6u);
}

TEST(MarkingRecordsStore, UnreadableLinesAreReportedAndKeptVerbatimThroughCompaction) {
    TempDir dir;
    const std::wstring file = dir / L"MarkingRecords.dat";
    const std::string bad1 = "+\tC:\\a.txt\tC:\\Main.icl\tsix\t255\t2024-05-06T07:08:09Z";
    const std::string bad2 = "?\tsomething else";
    const std::string bad3 = "+\tC:\\\\b.txt\t\t0\t255\tyesterday";
    WriteFile(file, "VantrelMarkingRecords\t1\r\n" + bad1 + "\r\n" + bad2 + "\n" + bad3);  // last line cut short
    TMarkingRecords records(file);

    TRecordContents contents = records.Read();
    ASSERT_EQ(contents.Unreadable.size(), 3u);
    EXPECT_EQ(contents.Unreadable[0].Number, 2u);
    EXPECT_EQ(contents.Unreadable[0].Text, bad1);
    EXPECT_EQ(contents.Unreadable[2].Number, 4u);
    EXPECT_NE(contents.Unreadable[2].Reason.find(L"time"), std::wstring::npos);

    // Enough superseded lines to compact: the same file marked again and again.
    for (int i = 0; i < 40; ++i) records.Write({Mark(L"C:\\c.txt", L"", 0, i), Mark(L"C:\\d.txt", L"", 0, i)});
    EXPECT_LE(records.LineCount(), 1u + 64u + 2u) << "compacted now and then, not grown to 84 lines";
    const std::string bytes = Slurp(file);
    EXPECT_NE(bytes.find(bad1 + "\r\n"), std::string::npos);
    EXPECT_NE(bytes.find(bad2 + "\r\n"), std::string::npos);
    EXPECT_NE(bytes.find(bad3 + "\r\n"), std::string::npos) << "the cut line stays a line of its own";
    contents = records.Read();
    ASSERT_EQ(contents.Records.size(), 2u);
    EXPECT_EQ(contents.Records[0].Color, 39);
    EXPECT_EQ(contents.Unreadable.size(), 3u);
    EXPECT_FALSE(Exists(file + L".tmp"));

    // Each line is reported once per process.
    EXPECT_EQ(TakeUnreportedLines(file, contents).size(), 3u);
    EXPECT_TRUE(TakeUnreportedLines(file, contents).empty());
}

TEST(MarkingRecordsStore, AFileOfAnotherVersionIsNeverWritten) {
    TempDir dir;
    const std::wstring file = dir / L"MarkingRecords.dat";
    const std::string future = "VantrelMarkingRecords\t2\r\nwhatever comes\r\n";
    WriteFile(file, future);
    TMarkingRecords records(file);
    const TRecordContents contents = records.Read();
    EXPECT_TRUE(contents.ForeignVersion);
    EXPECT_TRUE(contents.Records.empty());
    ASSERT_EQ(contents.Unreadable.size(), 2u);
    EXPECT_EQ(contents.Unreadable[0].Number, 1u);
    EXPECT_THROW(records.Write({Mark(L"C:\\a.txt", L"", 0, 1)}), Error);
    EXPECT_EQ(Slurp(file), future);
}

TEST(MarkingRecordsStore, ParseRejectsWhatIsNoRecord) {
    TRecordChange change;
    std::wstring reason;
    for (const char* line : {"+\tC:\\a\t\t0\t536870911\t2024-05-06T07:08:09Z",  // neither marker nor colour
                             "+\t\tC:\\m.icl\t1\t2\t2024-05-06T07:08:09Z",        // no path
                             "+\tC:\\a\\qb\tC:\\m.icl\t1\t2\t2024-05-06T07:08:09Z",  // unknown escape
                             "+\tC:\\a\tC:\\m.icl\t1\t99999999999\t2024-05-06T07:08:09Z",
                             "-\tC:\\a", "+\tC:\\\xff.txt\t\t0\t1\t2024-05-06T07:08:09Z"})
        EXPECT_FALSE(ParseRecordLine(line, change, reason)) << line;
    ASSERT_TRUE(ParseRecordLine(FormatRecordLine(Mark(L"C:\\a\\b\r\n.txt", L"", 0, -1)), change, reason));
    EXPECT_EQ(change.Record.Path, L"C:\\a\\b\r\n.txt");
    EXPECT_EQ(change.Record.Color, -1);
}

TEST(MarkingRecordsStore, TwoInstancesAppendAtOnceWithoutLosingALine) {
    TempDir dir;
    const std::wstring file = dir / L"MarkingRecords.dat";
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring worker = self;
    worker = worker.substr(0, worker.find_last_of(L'\\') + 1) + L"journal_worker.exe";
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(StartProcess(worker, {L"--records", file, L"C:\\other\\n", L"150"}, pi));
    TMarkingRecords records(file);
    for (int i = 0; i < 150; ++i) records.Write({Mark(L"C:\\mine\\" + std::to_wstring(i) + L".txt", L"", 0, i)});
    ASSERT_EQ(WaitForSingleObject(pi.hProcess, 60000), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    EXPECT_EQ(code, 0u);
    const TRecordContents contents = records.Read();
    EXPECT_EQ(contents.Records.size(), 300u);
    EXPECT_TRUE(contents.Unreadable.empty());
}

// --- what the operations record ------------------------------------------------------

class MarkingRecordsTest : public MarkingTest {};

TEST_F(MarkingRecordsTest, OperationsRecordOnceAtTheirEndAndFollowEveryChange) {
    TVantrel& core = TVantrel::Core();
    const std::wstring a = NewFile(L"a.vtdoc"), b = NewFile(L"b.vtdoc");
    core.FileList = {a, b};
    core.ApplyColor(16748891);
    EXPECT_EQ(PendingMarkingRecords(), 0u);
    core.ApplyOverlay(MarkerLibrary(), 6);
    TMarkingRecords records(MarkingRecordsFileName());
    // The version line, then one line per file and operation.
    EXPECT_EQ(records.LineCount(), 5u);
    auto find = [&](const std::wstring& path) {
        for (const TMarkingRecord& r : records.Read().Records)
            if (r.Path == path) return r;
        return TMarkingRecord{};
    };
    EXPECT_EQ(find(a).MarkerFile, MarkerLibrary());
    EXPECT_EQ(find(a).MarkerIndex, 6);
    EXPECT_EQ(find(a).Color, 16748891);

    // Marker removed, colour kept; then colour removed, nothing left: the record goes.
    core.FileList = {a};
    core.RemoveOverlay();
    EXPECT_TRUE(find(a).MarkerFile.empty());
    EXPECT_EQ(find(a).Color, 16748891);
    core.FileList = {b};
    core.RemoveColor();
    EXPECT_EQ(find(b).MarkerIndex, 6);
    EXPECT_EQ(find(b).Color, kNoColor);
    core.FileList = {a, b};
    core.RestoreDefault();
    EXPECT_TRUE(records.Read().Records.empty());
    EXPECT_EQ(Journal(), "");
}

TEST_F(MarkingRecordsTest, AFlushWaitsForAnotherInstanceHoldingTheRecords) {
    const std::wstring a = NewFile(L"a.vtdoc");
    TMarkingRecords records(MarkingRecordsFileName());
    HANDLE held = CreateFileW((records.FileName() + L".lock").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_ALWAYS, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    RecordMarking(a, L"", 0, 255);
    std::thread release([held] {
        Sleep(300);
        CloseHandle(held);
    });
    std::wstring failure;
    EXPECT_TRUE(FlushMarkingRecords(&failure)) << failure;
    release.join();
    EXPECT_EQ(PendingMarkingRecords(), 0u);
    ASSERT_EQ(records.Read().Records.size(), 1u);
    EXPECT_EQ(records.Read().Records[0].Color, 255);
}
