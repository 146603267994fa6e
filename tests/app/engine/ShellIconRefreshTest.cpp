#include "app/engine/ShellIconRefresh.h"

#include <gtest/gtest.h>

#include <thread>

#include "TestSupport.h"
#include "app/common/FileHelpers.h"

using namespace vantrel;
using namespace testsupport;

namespace {

const wchar_t kMetrics[] = L"Control Panel\\Desktop\\WindowMetrics";
int g_version = 5;
int FakeVersion() { return g_version; }

// A hidden top-level window that records the registry value each time the
// settings-change broadcast reaches it.
std::vector<std::wstring> g_seen;
LRESULT CALLBACK Recorder(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_WININICHANGE)
        g_seen.push_back(ReadRegString(HKEY_CURRENT_USER, kMetrics, L"Shell Icon Size").value_or(L"<absent>"));
    return DefWindowProcW(hwnd, msg, wp, lp);
}

class IconRefreshTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = ReadRegString(HKEY_CURRENT_USER, kMetrics, L"Shell Icon Size");
        WNDCLASSW wc{};
        wc.lpfnWndProc = Recorder;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"VtBroadcastRecorder";
        RegisterClassW(&wc);
        window_ = CreateWindowExW(0, wc.lpszClassName, L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                  wc.hInstance, nullptr);
        g_seen.clear();
        SetOSMajorVersionSource(&FakeVersion);
    }
    void TearDown() override {
        SetOSMajorVersionSource(nullptr);
        DestroyWindow(window_);
        if (saved_) Set(*saved_);
        else Remove();
    }
    static void Set(const std::wstring& v) {
        RegSetKeyValueW(HKEY_CURRENT_USER, kMetrics, L"Shell Icon Size", REG_SZ, v.c_str(),
                        static_cast<DWORD>((v.size() + 1) * sizeof(wchar_t)));
    }
    static void Remove() { RegDeleteKeyValueW(HKEY_CURRENT_USER, kMetrics, L"Shell Icon Size"); }
    static std::wstring Now() {
        return ReadRegString(HKEY_CURRENT_USER, kMetrics, L"Shell Icon Size").value_or(L"<absent>");
    }

    std::optional<std::wstring> saved_;
    HWND window_ = nullptr;
};

}  // namespace

TEST_F(IconRefreshTest, OlderSystemsToggleTheIconSizeAndBack) {
    struct Case {
        const wchar_t* before;
        const wchar_t* bumped;
        const wchar_t* after;
    };
    for (Case c : {Case{L"32", L"33", L"32"}, Case{L"34", L"33", L"32"}, Case{L"33", L"33", L"32"},
                   Case{L"48", L"49", L"48"}, Case{L"50", L"49", L"48"}, Case{L"abc", L"33", L"abc"},
                   Case{L"", L"33", L"32"}, Case{L"16", L"17", L"16"}}) {
        Set(c.before);
        g_seen.clear();
        g_version = 5;
        RefreshShellIcons();
        EXPECT_EQ(Now(), c.after) << "from '" << std::string(c.before, c.before + wcslen(c.before)) << "'";
        EXPECT_EQ(g_seen, (std::vector<std::wstring>{c.bumped, c.after}));
    }
    // Absent reads as "32" and is written.
    Remove();
    g_seen.clear();
    RefreshShellIcons();
    EXPECT_EQ(Now(), L"32");
    EXPECT_EQ(g_seen, (std::vector<std::wstring>{L"33", L"32"}));
    // A failed version query takes the same way.
    g_version = -1;
    Set(L"48");
    g_seen.clear();
    RefreshShellIcons();
    EXPECT_EQ(g_seen.size(), 2u);
}

TEST_F(IconRefreshTest, AHungWindowDelaysButNeverStopsTheToggle) {
    // A top-level window whose thread stops pumping messages.
    HANDLE created = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread hung([&] {
        HWND w = CreateWindowExW(0, L"STATIC", L"hung", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
        SetEvent(created);
        WaitForSingleObject(release, 60000);
        DestroyWindow(w);
    });
    WaitForSingleObject(created, 5000);
    Sleep(5500);  // long enough for the system to see the thread as not responding
    g_version = 5;
    Set(L"32");
    const DWORD start = GetTickCount();
    RefreshShellIcons();
    const DWORD took = GetTickCount() - start;
    SetEvent(release);
    hung.join();
    CloseHandle(created);
    CloseHandle(release);
    EXPECT_EQ(Now(), L"32");
    EXPECT_LT(took, 20000u);
}

TEST_F(IconRefreshTest, VistaAndLaterNeverTouchTheValue) {
    for (int version : {6, 10}) {
        g_version = version;
        Set(L"34");
        g_seen.clear();
        RefreshShellIcons();
        EXPECT_EQ(Now(), L"34");
        EXPECT_TRUE(g_seen.empty());
    }
    // The platform's own query reports a real version under this system.
    SetOSMajorVersionSource(nullptr);
    EXPECT_GE(GetOSMajorVersion(), 5);
}
