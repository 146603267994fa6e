#include "app/common/LogFile.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "TestSupport.h"

using namespace vantrel;
using namespace testsupport;

namespace {

std::vector<std::wstring> g_hooked;
void RecordHook(const std::wstring& text) { g_hooked.push_back(text); }
void ThrowingHook(const std::wstring&) { throw std::runtime_error("hook failed"); }

// Runs each test in a fresh current folder (the log file's name is relative) and
// restores the log's process-wide state afterwards.
class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t old[MAX_PATH * 4];
        GetCurrentDirectoryW(MAX_PATH * 4, old);
        oldDir_ = old;
        SetCurrentDirectoryW(dir_.path().c_str());
        g_hooked.clear();
    }
    void TearDown() override {
        CloseLog();
        LogLevels = 0;
        LogHook = nullptr;
        SetCurrentDirectoryW(oldDir_.c_str());
    }
    std::wstring LogPath() const { return dir_ / L"log.txt"; }

    TempDir dir_;
    std::wstring oldDir_;
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

}  // namespace

TEST_F(LogTest, NothingIsWrittenWhileNoLevelIsEnabled) {
    LogHook = &RecordHook;
    LogMessage(L"Program closed", L"General", LogInfo);
    LogMessage(L"broken", L"Overlay", LogError);
    LogFormat(L"Overlay file \"%s\"", {L"x"}, LogInfo, L"Overlay");
    EXPECT_FALSE(Exists(LogPath()));
    EXPECT_FALSE(LogIsOpen());
    EXPECT_TRUE(g_hooked.empty());
}

TEST_F(LogTest, LineFormatAndLevels) {
    LogLevels = (1u << LogInfo) | (1u << LogError);
    LogHook = &RecordHook;
    LogMessage(L"Program closed", L"General", LogInfo);
    LogMessage(L"not GetIconInfo from Icon", L"Colorize", LogError);
    LogMessage(L"not enabled", L"General", LogWorning);
    LogMessage(L"beyond the levels", L"General", 9);
    LogMessage(L"negative", L"General", -1);
    CloseLog();

    auto text = ReadFile(LogPath());
    ASSERT_TRUE(text);
    auto lines = Lines(*text);
    ASSERT_EQ(lines.size(), 2u) << *text;
    // time stamp ; category ; level name ; message
    EXPECT_NE(lines[0].find(";General;Info;Program closed"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find(";Colorize;Error;not GetIconInfo from Icon"), std::string::npos) << lines[1];
    EXPECT_GT(lines[0].find(';'), 0u);  // the time stamp is there
    EXPECT_EQ(g_hooked, (std::vector<std::wstring>{L"Program closed", L"not GetIconInfo from Icon"}));

    LogLevels = 1u << LogWorning;
    LogMessage(L"warned", L"General", LogWorning);
    CloseLog();
    EXPECT_NE(ReadFile(LogPath())->find(";General;Worning;warned"), std::string::npos);
}

TEST_F(LogTest, RunsAreSeparatedByABlankLine) {
    LogLevels = 1u << LogInfo;
    for (int run = 0; run < 2; ++run) {
        LogMessage(L"Program closed", L"General", LogInfo);
        CloseLog();
    }
    auto lines = Lines(*ReadFile(LogPath()));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[0].find("Program closed"), std::string::npos);
    EXPECT_EQ(lines[1], "");
    EXPECT_NE(lines[2].find("Program closed"), std::string::npos);

    // Starting anew empties the file.
    OpenLog(L"log.txt", true);
    CloseLog();
    EXPECT_EQ(ReadFile(LogPath()), "");
}

TEST_F(LogTest, LogFormatWritesOnlyIntoAnOpenLog) {
    LogLevels = 1u << LogInfo;
    LogFormat(L"Overlay file \"%s\" on file \"%s\"", {L"m.ico", L"b.ico"}, LogInfo, L"Overlay");
    EXPECT_FALSE(Exists(LogPath()));

    LogMessage(L"first", L"General", LogInfo);
    LogFormat(L"Overlay file \"%s\" on file \"%s\" (%d%%)", {L"m.ico", L"b.ico", 50}, LogInfo, L"Overlay");
    CloseLog();
    auto lines = Lines(*ReadFile(LogPath()));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[1].find(";Overlay;Info;Overlay file \"m.ico\" on file \"b.ico\" (50%)"), std::string::npos)
        << lines[1];
}

TEST_F(LogTest, FailuresAreSwallowed) {
    LogLevels = 1u << LogInfo;
    LogHook = &ThrowingHook;
    // The log file's name is taken by a folder: opening fails, nothing escapes.
    CreateDirectoryW(LogPath().c_str(), nullptr);
    EXPECT_NO_THROW(LogMessage(L"x", L"General", LogInfo));
    EXPECT_FALSE(LogIsOpen());
}

TEST(FormatText, ArgumentsInOrder) {
    EXPECT_EQ(FormatText(L"%s=%d, %u, %x", {L"a", -3, 7u, 255}), L"a=-3, 7, FF");
    EXPECT_EQ(FormatText(L"100%% of %s", {L"it"}), L"100% of it");
    // Missing arguments leave the placeholder visible rather than reading past the list.
    EXPECT_EQ(FormatText(L"%s and %s", {L"one"}), L"one and %s");
    EXPECT_EQ(FormatText(L"trailing %", {}), L"trailing %");
}
