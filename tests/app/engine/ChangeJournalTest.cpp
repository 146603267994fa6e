#include "app/engine/ChangeJournal.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "registration/LoopbackServer.h"
#include "TestSupport.h"
#include "app/common/FileHelpers.h"
#include "app/common/TextConv.h"
#include "app/engine/MarkerStreams.h"
#include "app/engine/VantrelClass.h"
#include "app/registration/RegisterIconHandlerUnit.h"
#include "app/registration/RegistratorClient.h"
#include "imaging/Error.h"

using namespace vantrel;
using namespace testsupport;

namespace {

class JournalTest : public ::testing::Test {
protected:
    void SetUp() override {
        TVantrel::DoneCore();
        appData_ = std::make_unique<ScopedEnv>(L"AppData", appDataDir_.path());
        TVantrel::InitCore();
        journal_ = JournalFileName();
    }
    void TearDown() override {
        SetJournalLockTimeout(30000);
        TVantrel::DoneCore();
        appData_.reset();
    }
    std::string Bytes() { return ReadFile(journal_).value_or("<missing>"); }
    std::vector<std::wstring> Entries() { return TChangeJournal(journal_).Entries(); }
    // A marked file: content, an icon stream and an info stream.
    std::wstring Marked(const std::wstring& name) {
        std::wstring path = files_ / name;
        WriteFile(path, "content");
        WriteFile(IconStreamPath(path), "icon");
        WriteFile(InfoStreamPath(path), "[vantrel]\r\nColor=255\r\n");
        JournalAdd(path);
        return path;
    }

    TempDir appDataDir_;
    TempDir files_;
    std::unique_ptr<ScopedEnv> appData_;
    std::wstring journal_;
};

struct Handle {
    HANDLE h;
    ~Handle() {
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
};

}  // namespace

TEST_F(JournalTest, OnePathOnceInFirstOrder) {
    EXPECT_EQ(journal_, TVantrel::Core().DataFolder + L"Changes.dat");
    EXPECT_TRUE(Entries().empty());
    JournalRemove(L"C:\\a.txt");
    EXPECT_FALSE(Exists(journal_));  // removing creates no journal

    JournalAdd(L"C:\\a.txt");
    JournalAdd(L"C:\\B.txt");
    JournalAdd(L"c:\\A.TXT");  // marker, then colour: journalled once
    JournalAdd(L"C:\\c.txt");
    JournalAdd(L"");
    EXPECT_EQ(Bytes(), "C:\\a.txt\r\nC:\\B.txt\r\nC:\\c.txt\r\n");

    JournalRemove(L"C:\\b.TXT");
    JournalRemove(L"C:\\missing.txt");
    EXPECT_EQ(Bytes(), "C:\\a.txt\r\nC:\\c.txt\r\n");
    JournalAdd(L"C:\\b.txt");  // journalled again after its removal, at the end
    EXPECT_EQ(Entries(), (std::vector<std::wstring>{L"C:\\a.txt", L"C:\\c.txt", L"C:\\b.txt"}));

    EXPECT_THROW(JournalAdd(L"C:\\a.txt\r\nC:\\evil.txt"), Error);
    EXPECT_EQ(Bytes(), "C:\\a.txt\r\nC:\\c.txt\r\nC:\\b.txt\r\n");
}

TEST_F(JournalTest, UntidyJournalIsReadAndTidiedAtTheNextChange) {
    // Bare CR and LF line ends, blank lines, a repeated path, no final line end.
    WriteFile(journal_, "C:\\a.txt\n\r\n  \rC:\\b.txt\rc:\\A.txt\r\nC:\\c.txt");
    EXPECT_EQ(Entries(), (std::vector<std::wstring>{L"C:\\a.txt", L"C:\\b.txt", L"C:\\c.txt"}));
    EXPECT_EQ(Bytes(), "C:\\a.txt\n\r\n  \rC:\\b.txt\rc:\\A.txt\r\nC:\\c.txt");  // reading changes nothing

    // The new path is not glued to the unterminated last line.
    JournalAdd(L"C:\\d.txt");
    EXPECT_EQ(Bytes(), "C:\\a.txt\r\nC:\\b.txt\r\nC:\\c.txt\r\nC:\\d.txt\r\n");

    WriteFile(journal_, "C:\\a.txt\nC:\\b.txt\n");
    JournalAdd(L"C:\\A.txt");  // nothing to add, but the text is tidied
    EXPECT_EQ(Bytes(), "C:\\a.txt\r\nC:\\b.txt\r\n");
    WriteFile(journal_, "C:\\a.txt\nC:\\b.txt");
    JournalRemove(L"C:\\x.txt");
    EXPECT_EQ(Bytes(), "C:\\a.txt\r\nC:\\b.txt\r\n");

    // Changed behind this process's back, to the same length: read afresh, not from memory.
    WriteFile(journal_, "C:\\x.txt\r\nC:\\y.txt\r\n");
    JournalAdd(L"C:\\a.txt");
    EXPECT_EQ(Bytes(), "C:\\x.txt\r\nC:\\y.txt\r\nC:\\a.txt\r\n");

    // A very long line is one entry like any other.
    const std::wstring longPath = L"C:\\" + std::wstring(70000, L'p') + L".txt";
    JournalAdd(longPath);
    EXPECT_EQ(Entries().back(), longPath);
    JournalRemove(longPath);
    EXPECT_EQ(Bytes(), "C:\\x.txt\r\nC:\\y.txt\r\nC:\\a.txt\r\n");
}

TEST_F(JournalTest, PathsOutsideTheCodePageTurnTheJournalUtf8) {
    const std::wstring foreign = L"C:\\\x65E5\x672C\\\x0416.txt";
    JournalAdd(L"C:\\caf\x00E9.txt");
    EXPECT_EQ(Bytes(), "C:\\caf\xE9.txt\r\n");  // fits the ANSI code page
    JournalAdd(foreign);
    EXPECT_EQ(Bytes(), "\xEF\xBB\xBF" "C:\\caf\xC3\xA9.txt\r\n" + WideToUtf8(foreign) + "\r\n");
    JournalAdd(L"C:\\b.txt");
    EXPECT_EQ(Entries(), (std::vector<std::wstring>{L"C:\\caf\x00E9.txt", foreign, L"C:\\b.txt"}));
    JournalAdd(foreign);
    EXPECT_EQ(Entries().size(), 3u);

    JournalRemove(foreign);  // every path fits again: back to ANSI
    EXPECT_EQ(Bytes(), "C:\\caf\xE9.txt\r\nC:\\b.txt\r\n");

    // A journal written elsewhere as UTF-8 with a mark is read as UTF-8.
    WriteFile(journal_, "\xEF\xBB\xBF" + WideToUtf8(foreign) + "\nC:\\x.txt");
    EXPECT_EQ(Entries(), (std::vector<std::wstring>{foreign, L"C:\\x.txt"}));
}

TEST_F(JournalTest, RollbackRemovesEveryMarkingAndEmptiesTheJournal) {
    const std::wstring a = Marked(L"a.txt");
    const std::wstring b = Marked(L"b.txt");
    const std::wstring c = Marked(L"c.txt");
    // c is moved away after marking; a journalled file without streams is only dropped.
    const std::wstring moved = files_ / L"moved.txt";
    ASSERT_TRUE(MoveFileW(c.c_str(), moved.c_str()));
    const std::wstring plain = files_ / L"plain.txt";
    WriteFile(plain, "plain");
    WriteFile(InfoStreamPath(plain), "[vantrel]\r\n");  // info only: left in place
    JournalAdd(plain);
    JournalAdd(files_ / L"gone.txt");

    TQuietProgress quiet;
    JournalRollback(quiet);
    EXPECT_EQ(Bytes(), "");  // exists and is empty
    for (const auto& f : {a, b}) {
        EXPECT_FALSE(HasIconStream(f));
        EXPECT_FALSE(Exists(InfoStreamPath(f)));
        EXPECT_EQ(ReadFile(f), "content");
    }
    EXPECT_EQ(ReadFile(moved), "content");
    EXPECT_TRUE(Exists(InfoStreamPath(plain)));

    // No journal at all: nothing to do, nothing created.
    DeleteFileW(journal_.c_str());
    JournalRollback(quiet);
    EXPECT_FALSE(Exists(journal_));
}

TEST_F(JournalTest, WaitsForAnotherInstanceAndGivesUpClearly) {
    JournalAdd(L"C:\\a.txt");
    {
        Handle held{CreateFileW(journal_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)};
        ASSERT_NE(held.h, INVALID_HANDLE_VALUE);
        SetJournalLockTimeout(200);
        EXPECT_THROW(JournalAdd(L"C:\\b.txt"), Error);
        EXPECT_THROW(JournalRemove(L"C:\\a.txt"), Error);
    }
    SetJournalLockTimeout(30000);
    HANDLE held = CreateFileW(journal_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    std::thread release([held] {
        Sleep(300);
        CloseHandle(held);
    });
    JournalAdd(L"C:\\b.txt");  // waits until the other holder lets go
    release.join();
    EXPECT_EQ(Bytes(), "C:\\a.txt\r\nC:\\b.txt\r\n");
}

TEST_F(JournalTest, ConcurrentInstancesLoseNoLine) {
    // Two program instances and two threads of this one, all adding at once.
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring worker = ExtractFileDir(self) + L"\\journal_worker.exe";
    ASSERT_TRUE(FileExists(worker));
    std::vector<PROCESS_INFORMATION> processes;
    for (const wchar_t* prefix : {L"C:\\p1\\f", L"C:\\p2\\f"}) {
        std::wstring cmd = L"\"" + worker + L"\" \"" + journal_ + L"\" \"" + prefix + L"\" 500";
        STARTUPINFOW si{};
        si.cb = sizeof(si);
        PROCESS_INFORMATION pi{};
        ASSERT_TRUE(CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
        processes.push_back(pi);
    }
    auto addMany = [this](const std::wstring& prefix) {
        TChangeJournal journal(journal_);
        for (int i = 0; i < 250; ++i) journal.Add(prefix + std::to_wstring(i) + L".txt");
    };
    std::thread t1(addMany, L"C:\\t1\\"), t2(addMany, L"C:\\t2\\");
    t1.join();
    t2.join();
    for (auto& pi : processes) {
        ASSERT_EQ(WaitForSingleObject(pi.hProcess, 120000), WAIT_OBJECT_0);
        DWORD code = 99;
        GetExitCodeProcess(pi.hProcess, &code);
        EXPECT_EQ(code, 0u);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
    const auto entries = Entries();
    const std::set<std::wstring> distinct(entries.begin(), entries.end());
    EXPECT_EQ(entries.size(), 1500u);
    EXPECT_EQ(distinct.size(), 1500u);
    for (int i = 0; i < 500; i += 97) {
        EXPECT_TRUE(distinct.count(L"C:\\p1\\f" + std::to_wstring(i) + L".txt"));
        EXPECT_TRUE(distinct.count(L"C:\\p2\\f" + std::to_wstring(i) + L".txt"));
    }
    // Each line whole: the file is exactly the entries, CR LF after each.
    std::string expected;
    for (const auto& e : entries) expected += WideToAnsi(e) + "\r\n";
    EXPECT_EQ(Bytes(), expected);
}

TEST_F(JournalTest, RollbackAllAsksTheServiceFirst) {
    const std::wstring a = Marked(L"a.txt");
    const std::wstring b = Marked(L"b.txt");
    const std::string journalBefore = Bytes();

    // Service stopped, or answering anything but "OK": the failure goes to the caller
    // and no file or journal line is touched.
    struct Refusal {
        std::optional<std::string> response;  // none: nothing listens
        int code;
    } refusals[] = {
        {std::nullopt, 6},
        {LoopbackServer::Response(203, "Non-Authoritative Information", "busy"), 3},
        {LoopbackServer::Response(200, "OK", "ok"), 5},
    };
    for (const auto& r : refusals) {
        std::optional<LoopbackServer> server;
        if (r.response) server.emplace(*r.response);
        ScopedServicePort port(static_cast<DWORD>(server ? server->port() : UnusedLoopbackPort()));
        try {
            TVantrel::Core().RollbackAll();
            ADD_FAILURE() << "no failure for code " << r.code;
        } catch (const IconRegisterException& e) {
            EXPECT_EQ(e.ErrorCode, r.code) << e.what();
        }
        EXPECT_EQ(Bytes(), journalBefore);
        EXPECT_TRUE(HasIconStream(a));
        EXPECT_TRUE(Exists(InfoStreamPath(b)));
    }

    LoopbackServer service(LoopbackServer::Response(200, "OK", "OK"));
    ASSERT_TRUE(service.ok());
    ScopedServicePort port(static_cast<DWORD>(service.port()));
    TVantrel::Core().RollbackAll();
    ASSERT_EQ(service.requests().size(), 1u);
    EXPECT_EQ(service.requests()[0].rfind("GET /unregall HTTP/1.", 0), 0u) << service.requests()[0];
    EXPECT_EQ(Bytes(), "");
    EXPECT_FALSE(HasIconStream(a));
    EXPECT_FALSE(HasIconStream(b));
    EXPECT_FALSE(Exists(InfoStreamPath(a)));
    EXPECT_EQ(ReadFile(b), "content");
    EXPECT_FALSE(TVantrel::Core().HasErrors);  // no per-file messages
}
