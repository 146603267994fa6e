// List file names under concurrency: creation is exclusive, so no two writers share one.
#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "ListFile.h"
#include "ShlExtTestSupport.h"

using namespace shlexttest;

TEST(ListFile, ConcurrentWritersNeverShareAName) {
    TempDir dir;
    constexpr int kThreads = 4, kEach = 150;
    std::vector<std::vector<std::wstring>> paths(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                std::wstring path;
                HANDLE h = shlext::CreateNewListFile(dir.path(), path);
                if (h == INVALID_HANDLE_VALUE) continue;
                CloseHandle(h);
                paths[t].push_back(path);
            }
        });
    for (auto& t : threads) t.join();
    std::set<std::wstring> all;
    size_t total = 0;
    for (const auto& p : paths) {
        total += p.size();
        all.insert(p.begin(), p.end());
    }
    EXPECT_EQ(total, size_t(kThreads * kEach));
    EXPECT_EQ(all.size(), total);
    for (const auto& p : all) {
        std::wstring name = p.substr(dir.path().size() + 1);
        ASSERT_EQ(name.compare(0, 7, L"vantrel"), 0);
        long n = std::stol(name.substr(7));
        EXPECT_GE(n, 100000);
        EXPECT_LT(n, 9100000);
    }
    // A folder that cannot hold files: no handle, the name tried is still given.
    std::wstring path;
    EXPECT_EQ(shlext::CreateNewListFile(dir / L"missing", path), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(path.empty());
}
