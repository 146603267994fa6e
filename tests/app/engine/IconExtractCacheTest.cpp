#include "app/engine/IconExtractCache.h"
#include "imaging/IconModel.h"  // before windows.h and its RGB macros

#include <gtest/gtest.h>

#include <regex>

#include "TestSupport.h"
#include "app/common/FileHelpers.h"
#include "app/engine/VantrelClass.h"
#include "imaging/Error.h"
#include "imaging/IconModel.h"

using namespace vantrel;
using namespace testsupport;

namespace {

class IconCacheTest : public ::testing::Test {
protected:
    void SetUp() override {
        TVantrel::DoneCore();
        appData_ = std::make_unique<ScopedEnv>(L"AppData", appDataDir_.path());
        TVantrel::InitCore();
        DeleteRegTree(HKEY_CURRENT_USER, kIconCacheKey);
        // A real executable no one here wrote: the system's shell32.dll.
        library_ = GetEnvVar(L"SystemRoot") + L"\\system32\\shell32.dll";
    }
    void TearDown() override {
        DeleteRegTree(HKEY_CURRENT_USER, kIconCacheKey);
        TVantrel::DoneCore();
        appData_.reset();
    }
    std::wstring CacheFolder() const { return TVantrel::Core().DataFolder + L"Cache"; }
    std::optional<std::wstring> Value(const std::wstring& name) { return ReadRegString(HKEY_CURRENT_USER, kIconCacheKey, name); }
    static int ImageCount(const std::wstring& ico) {
        auto bytes = ReadFile(ico);
        TAdvancedIcon icon;
        return bytes && icon.LoadFromBytes(std::span(reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size()))
                   ? icon.Images().Count()
                   : 0;
    }

    TempDir appDataDir_, out_;
    std::unique_ptr<ScopedEnv> appData_;
    std::wstring library_;
};

}  // namespace

TEST_F(IconCacheTest, ExtractsOnceThenCopies) {
    ASSERT_TRUE(FileExists(library_));
    const std::wstring first = out_ / L"Default.ico";
    ExtractIconToFile(library_, 0, first);
    ASSERT_GT(ImageCount(first), 0);
    auto name = Value(library_ + L",0");
    ASSERT_TRUE(name);
    EXPECT_TRUE(std::regex_match(*name, std::wregex(L"\\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\}\\.ico")))
        << *name;
    EXPECT_EQ(ReadFile(first), ReadFile(CacheFolder() + L"\\" + *name));

    // The second call copies the cached file: mark it and see the mark arrive.
    WriteFile(CacheFolder() + L"\\" + *name, *ReadFile(first) + "cached");
    const std::wstring second = out_ / L"Again.ico";
    WriteFile(second, "an older file that is overwritten");
    ExtractIconToFile(library_, 0, second);
    EXPECT_EQ(ReadFile(second), *ReadFile(first) + "cached");
    EXPECT_EQ(Value(library_ + L",0"), name);
}

TEST_F(IconCacheTest, RegistryNamesIgnoreLetterCase) {
    // The location is used as written, but registry value names ignore letter case: the
    // same DLL written in two cases finds the same entry and extracts once.
    std::wstring upper = library_;
    for (auto& c : upper) c = static_cast<wchar_t>(towupper(c));
    ExtractIconToFile(library_, 0, out_ / L"a.ico");
    const auto name = Value(library_ + L",0");
    ASSERT_TRUE(name);
    WriteFile(CacheFolder() + L"\\" + *name, *ReadFile(out_ / L"a.ico") + "cached");
    ExtractIconToFile(upper, 0, out_ / L"b.ico");
    EXPECT_EQ(ReadFile(out_ / L"b.ico"), *ReadFile(out_ / L"a.ico") + "cached");
    EXPECT_EQ(Value(upper + L",0"), name);
}

TEST_F(IconCacheTest, AVanishedCacheFileIsExtractedAgain) {
    ExtractIconToFile(library_, 1, out_ / L"a.ico");
    const auto before = Value(library_ + L",1");
    ASSERT_TRUE(before);
    DeleteFolderTree(CacheFolder());
    ExtractIconToFile(library_, 1, out_ / L"b.ico");
    const auto after = Value(library_ + L",1");
    ASSERT_TRUE(after);
    EXPECT_NE(before, after);
    EXPECT_EQ(ReadFile(out_ / L"a.ico"), ReadFile(out_ / L"b.ico"));

    // A value edited to point outside the cache folder is not followed.
    WriteFile(out_ / L"elsewhere.ico", "not an icon");
    RegSetKeyValueW(HKEY_CURRENT_USER, kIconCacheKey, (library_ + L",1").c_str(), REG_SZ,
                    (out_ / L"elsewhere.ico").c_str(), DWORD(((out_ / L"elsewhere.ico").size() + 1) * 2));
    ExtractIconToFile(library_, 1, out_ / L"c.ico");
    EXPECT_EQ(ReadFile(out_ / L"a.ico"), ReadFile(out_ / L"c.ico"));
}

TEST_F(IconCacheTest, IcoFilesAreCopiedWithoutCaching) {
    const std::wstring ico = out_ / L"given.ico";
    ExtractIconToFile(library_, 0, out_ / L"a.ico");
    CopyFileW((out_ / L"a.ico").c_str(), ico.c_str(), FALSE);
    DeleteRegTree(HKEY_CURRENT_USER, kIconCacheKey);
    ExtractIconToFile(ico, 5, out_ / L"copy.ico");
    EXPECT_EQ(ReadFile(out_ / L"copy.ico"), ReadFile(ico));
    EXPECT_FALSE(Value(ico + L",5"));
    // A missing .ico is a failed copy, not a failure.
    EXPECT_NO_THROW(ExtractIconToFile(out_ / L"missing.ICO", 0, out_ / L"none.ico"));
    EXPECT_FALSE(Exists(out_ / L"none.ico"));
}

TEST_F(IconCacheTest, FailuresEscapeAfterTheIndexWasWritten) {
    const std::wstring missing = out_ / L"missing.dll";
    try {
        ExtractIconToFile(missing, 0, out_ / L"x.ico");
        FAIL() << "no failure";
    } catch (const vantrel::Error& e) {
        EXPECT_NE(std::string(e.what()).find("is not found"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(Value(missing + L",0"));
    EXPECT_FALSE(Exists(out_ / L"x.ico"));

    // An index beyond the file's icons leaves the destination as it was.
    WriteFile(out_ / L"keep.ico", "keep");
    ExtractIconToFile(library_, 100000, out_ / L"keep.ico");
    EXPECT_EQ(ReadFile(out_ / L"keep.ico"), "keep");
    // An unknown resource id fails.
    EXPECT_THROW(ExtractIconToFile(library_, -65000, out_ / L"y.ico"), vantrel::Error);
}

TEST_F(IconCacheTest, MarkersOfTheStagedLibrary) {
    const std::wstring icl = DistFolder() + L"\\icl\\Main.icl";
    if (!FileExists(icl)) GTEST_SKIP() << "no staged Main.icl";
    ExtractIconToFile(icl, 6, out_ / L"Overlay.ico");
    EXPECT_EQ(ImageCount(out_ / L"Overlay.ico"), 5);
}
