// Main.icl as the platform's own icon extraction sees it (the context menu and the picker
// grids draw markers through it).
#include "imaging/IconLibrary.h"  // before windows.h and its RGB macros

#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>



namespace {

std::wstring StagedLibrary() {
    const char* dist = std::getenv("VANTREL_DIST");
    if (!dist) return {};
    std::wstring path = L"Z:";
    for (const char* p = dist; *p; ++p) path += *p == '/' ? L'\\' : wchar_t(*p);
    return path + L"\\icl\\Main.icl";
}

}  // namespace

TEST(MainIclOnWindows, PlatformExtractionAgreesWithOurReader) {
    const std::wstring icl = StagedLibrary();
    if (icl.empty() || GetFileAttributesW(icl.c_str()) == INVALID_FILE_ATTRIBUTES) GTEST_SKIP() << "no staged Main.icl";
    vantrel::TIconLibrary library;
    ASSERT_TRUE(library.Open(std::filesystem::path(icl)));
    const UINT count = ExtractIconExW(icl.c_str(), -1, nullptr, nullptr, 0);
    EXPECT_EQ(int(count), library.GetCount());
    EXPECT_GE(count, 12u);
    for (UINT i = 0; i < count; ++i) {
        for (int size : {16, 24, 32, 48}) {
            ::HICON icon = nullptr;
            UINT id = 0;
            ASSERT_EQ(PrivateExtractIconsW(icl.c_str(), int(i), size, size, &icon, &id, 1, 0), 1u) << i << " " << size;
            ICONINFO info{};
            ASSERT_TRUE(GetIconInfo(icon, &info));
            BITMAP bm{};
            GetObjectW(info.hbmColor, sizeof(bm), &bm);
            EXPECT_EQ(bm.bmWidth, size) << "marker " << i;
            EXPECT_EQ(bm.bmBitsPixel, 32) << "marker " << i;
            DeleteObject(info.hbmColor);
            DeleteObject(info.hbmMask);
            DestroyIcon(icon);
        }
    }
}
