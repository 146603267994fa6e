// The portable readers against the platform's own view of the same files: the group order
// and names of EnumResourceNames on a data-file mapping (LoadLibraryEx), the image bytes of
// FindResource/LoadResource, and the icon count of ExtractIcon and ExtractIconEx with -1.
// Windows only (runs under Wine here).
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "TestExecutables.h"
#include "imaging/ByteIo.h"
#include "imaging/IconLibrary.h"

// After the portable headers, whose names the platform's macros would otherwise replace.
#include <windows.h>
#include <shellapi.h>

using namespace vantrel;
using namespace vantrel::test;
namespace fs = std::filesystem;

namespace {

std::string Utf8(const std::wstring& w) {
    if (w.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(std::size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

BOOL CALLBACK CollectName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR param) {
    auto* names = reinterpret_cast<std::vector<std::wstring>*>(param);
    names->push_back(IS_INTRESOURCE(name) ? L"#" + std::to_wstring(std::uintptr_t(name)) : std::wstring(name));
    return TRUE;
}

std::string NameText(const std::wstring& name) {
    return name.size() > 1 && name[0] == L'#' ? Utf8(name.substr(1)) : Utf8(name);
}

std::span<const std::uint8_t> ResourceBytes(HMODULE module, LPCWSTR name, LPCWSTR type) {
    HRSRC found = FindResourceW(module, name, type);
    if (!found) return {};
    HGLOBAL loaded = LoadResource(module, found);
    const void* p = loaded ? LockResource(loaded) : nullptr;
    return {static_cast<const std::uint8_t*>(p), p ? std::size_t(SizeofResource(module, found)) : 0};
}

struct Counts {
    int extractIcon = 0, extractIconEx = 0;
};

Counts PlatformCounts(const fs::path& file) {
    Counts c;
    c.extractIconEx = int(ExtractIconExW(file.c_str(), -1, nullptr, nullptr, 0));
    c.extractIcon = int(reinterpret_cast<std::uintptr_t>(ExtractIconW(GetModuleHandleW(nullptr), file.c_str(), UINT(-1))));
    return c;
}

// Compares the order, names, image bytes and count of a PE file with the platform's view.
void ComparePe(const fs::path& file, int* groupsCompared) {
    SCOPED_TRACE(file.string());
    HMODULE module = LoadLibraryExW(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    std::vector<std::wstring> theirs;
    EnumResourceNamesW(module, RT_GROUP_ICON, CollectName, LONG_PTR(&theirs));

    TIconLibrary library;
    library.OpenNames(file);
    ASSERT_EQ(library.GetCount(), int(theirs.size()));
    for (int i = 0; i < library.GetCount(); ++i) EXPECT_EQ(library.Icons().Name(i), NameText(theirs[std::size_t(i)])) << i;
    const Counts counts = PlatformCounts(file);
    EXPECT_EQ(library.IconCount(), counts.extractIconEx);
    EXPECT_EQ(library.IconCount(), counts.extractIcon);

    const std::set<int> positions = {0, 1, 2, library.GetCount() / 2, library.GetCount() - 1};
    for (int position : positions) {
        if (position < 0 || position >= library.GetCount()) continue;
        SCOPED_TRACE(position);
        const std::wstring& name = theirs[std::size_t(position)];
        const LPCWSTR id = name[0] == L'#' ? MAKEINTRESOURCEW(std::stoi(name.substr(1))) : name.c_str();
        const auto group = ResourceBytes(module, id, RT_GROUP_ICON);
        ASSERT_GE(group.size(), 6u);
        const int count = ReadLe16(group, 4);
        const TAdvancedIcon* ours = library.GetIcon(position);
        ASSERT_NE(ours, nullptr);
        ASSERT_EQ(ours->Images().Count(), count);
        for (int k = 0; k < count; ++k) {
            const auto entry = group.subspan(6 + 14 * std::size_t(k), 14);
            const auto image = ResourceBytes(module, MAKEINTRESOURCEW(ReadLe16(entry, 12)), RT_ICON);
            ASSERT_FALSE(image.empty());
            // The platform's bytes through the same image constructor: equal data means equal
            // resource bytes (a DIB is kept as it is, a PNG decoded the same way).
            const TResourceIconImage platform(TIconHeader::FromBytes(entry), std::vector<std::uint8_t>(image.begin(), image.end()));
            EXPECT_EQ(platform.Data(), ours->Images()[k]->Data()) << "image " << k;
            EXPECT_EQ(platform.Header(), ours->Images()[k]->Header()) << "image " << k;
        }
        ++*groupsCompared;
    }
    FreeLibrary(module);
}

fs::path TempFile(const std::string& name, const Bytes& bytes) {
    const fs::path p = fs::temp_directory_path() / ("vantrel-winview-" + name);
    WriteWholeFile(p, bytes);
    return p;
}

}  // namespace

TEST(PlatformView, RealExecutablesReadAsThePlatformReadsThem) {
    const auto files = RealExecutables();
    if (files.empty()) GTEST_SKIP() << "no Wine DLLs found";
    int compared = 0;
    for (const fs::path& file : files) {
        std::printf("%s\n", file.string().c_str());
        ComparePe(file, &compared);
    }
    std::printf("compared %d groups of %zu files with the platform\n", compared, files.size());
}

TEST(PlatformView, BuiltExecutablesReadAsThePlatformReadsThem) {
    const Bytes a = PatternDib(16, 32, 1), b = PatternDib(32, 8, 2), c = PatternDib(16, 4, 3);
    const std::vector<PeResource> resources = {
        {kRtIcon, 1, {}, a},
        {kRtIcon, 2, {}, b},
        {kRtIcon, 3, {}, c},
        {kRtGroupIcon, 0, u"ALPHA", MakeGroup({{&a, 1}, {&b, 2}})},
        {kRtGroupIcon, 0, u"BETA", MakeGroup({{&c, 3}})},
        {kRtGroupIcon, 3, {}, MakeGroup({{&b, 2}})},
        {kRtGroupIcon, 101, {}, MakeGroup({{&a, 1}, {&c, 3}})},
    };
    int compared = 0;
    ComparePe(TempFile("built32.dll", MakePe(resources)), &compared);
    ComparePe(TempFile("built64.dll", MakePe(resources, {true})), &compared);
    EXPECT_EQ(compared, 8);
}

// 16-bit files cannot be mapped by LoadLibraryEx; the platform's icon extraction reads them.
TEST(PlatformView, SixteenBitLibrariesCountAndExtractAsThePlatformDoes) {
    const Bytes a = PatternDib(32, 32, 1), b = PatternDib(32, 8, 2), c = PatternDib(16, 4, 3);
    std::vector<fs::path> files = {TempFile("built.icl", MakeNe({{0x8003, {{1, a}, {2, b}, {3, c}}},
                                                                 {0x800E,
                                                                  {{1, MakeGroup({{&a, 1}})},
                                                                   {2, MakeGroup({{&b, 2}, {&c, 3}})},
                                                                   {3, MakeGroup({{&c, 3}})}}}},
                                                                {"ICL", "One", "Two", "Three"}))};
    if (const fs::path carved = CarvedNeModule(); !carved.empty()) files.push_back(carved);
    for (const fs::path& file : files) {
        SCOPED_TRACE(file.string());
        TIconLibrary library;
        library.Open(file);
        const Counts counts = PlatformCounts(file);
        EXPECT_EQ(library.IconCount(), counts.extractIconEx);
        EXPECT_EQ(library.GetCount(), counts.extractIconEx);
        for (int i = 0; i < library.GetCount(); ++i) {
            ::HICON large = nullptr;
            EXPECT_EQ(ExtractIconExW(file.c_str(), i, &large, nullptr, 1), 1u) << i;
            if (large) DestroyIcon(large);
        }
    }
}
