// Icon groups of PE files, the library reader and the extraction of icon locations, on
// executables built by hand.
#include <gtest/gtest.h>

#include <filesystem>

#include "TestExecutables.h"
#include "imaging/ByteIo.h"
#include "imaging/IconLibrary.h"

using namespace vantrel;
using namespace vantrel::test;
namespace fs = std::filesystem;

namespace {

struct TempFolder {
    fs::path path;
    TempFolder() {
        path = fs::temp_directory_path() / ("vantrel-iconlib-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                           "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~TempFolder() {
        std::error_code e;
        fs::remove_all(path, e);
    }
    fs::path Write(const std::string& name, const Bytes& bytes) const {
        const fs::path p = path / name;
        WriteWholeFile(p, bytes);
        return p;
    }
};

// Images of the sample library; each group's images are told apart by their bytes.
struct Sample {
    Bytes a16 = PatternDib(16, 32, 1), a32 = PatternDib(32, 8, 2), b32 = PatternDib(32, 4, 3), c16 = PatternDib(16, 24, 4),
          d16 = PatternDib(16, 8, 5);
};

// Groups in the platform's order: two named groups, then ids 3, 7, 101 ascending.
std::vector<PeResource> SampleResources(const Sample& s) {
    return {
        {kRtIcon, 1, {}, s.a16},
        {kRtIcon, 2, {}, s.a32},
        {kRtIcon, 3, {}, s.b32},
        {kRtIcon, 4, {}, s.c16},
        {kRtIcon, 5, {}, s.d16},
        {kRtGroupIcon, 0, u"MAINICON", MakeGroup({{&s.a16, 1}, {&s.a32, 2}})},
        {kRtGroupIcon, 0, u"ZED", MakeGroup({{&s.b32, 3}})},
        {kRtGroupIcon, 3, {}, MakeGroup({{&s.c16, 4}})},
        {kRtGroupIcon, 7, {}, MakeGroup({{&s.d16, 5}, {&s.a16, 1}})},
        {kRtGroupIcon, 101, {}, MakeGroup({{&s.a32, 2}})},
    };
}

Bytes ImageData(const TAdvancedIcon& icon, int i) { return icon.Images()[i]->Data(); }

std::string Text(const fs::path& p) {
    const std::u8string s = p.u8string();
    return std::string(s.begin(), s.end());
}

}  // namespace

TEST(PeIcons, GroupsComeInThePlatformsOrderWithTheirNamesAndImages) {
    const Sample s;
    for (bool pe64 : {false, true}) {
        SCOPED_TRACE(pe64 ? "PE32+" : "PE32");
        TIconLibrary library;
        ASSERT_TRUE(library.OpenFromBytes(MakePe(SampleResources(s), {pe64}), "sample.dll"));
        EXPECT_TRUE(library.IsExecutable());
        EXPECT_TRUE(library.Is32Bit());
        EXPECT_EQ(library.IconCount(), 5);
        ASSERT_EQ(library.GetCount(), 5);
        const char* names[] = {"MAINICON", "ZED", "3", "7", "101"};
        for (int i = 0; i < 5; ++i) EXPECT_EQ(library.Icons().Name(i), names[i]);
        const TAdvancedIcon& main = *library.GetIcon(0);
        ASSERT_EQ(main.Images().Count(), 2);
        EXPECT_EQ(ImageData(main, 0), s.a16);
        EXPECT_EQ(ImageData(main, 1), s.a32);
        EXPECT_EQ(main.Images()[1]->GetWidth(), 32);
        EXPECT_EQ(main.Images()[1]->GetBitDepth(), 8);
        const TAdvancedIcon& seven = *library.GetIcon(3);
        ASSERT_EQ(seven.Images().Count(), 2);
        EXPECT_EQ(ImageData(seven, 0), s.d16);
        EXPECT_EQ(ImageData(seven, 1), s.a16);
    }
}

TEST(PeIcons, ExtractByIndexAndByNegativeId) {
    const Sample s;
    TempFolder tmp;
    const fs::path dll = tmp.Write("sample.dll", MakePe(SampleResources(s)));
    auto extracted = [&](int index) {
        const fs::path out = tmp.path / ("out" + std::to_string(index) + ".ico");
        ExtractIconResource(dll, index, out);
        TAdvancedIcon icon;
        if (fs::exists(out)) {
            EXPECT_TRUE(icon.LoadFromFile(out));
        }
        std::vector<Bytes> images;
        for (int i = 0; i < icon.Images().Count(); ++i) images.push_back(ImageData(icon, i));
        return images;
    };
    // Index 0 is the first named group, since named groups come first.
    EXPECT_EQ(extracted(0), (std::vector<Bytes>{s.a16, s.a32}));
    // -3 is the group with id 3 wherever it stands; 3 is the fourth group.
    EXPECT_EQ(extracted(-3), std::vector<Bytes>{s.c16});
    EXPECT_EQ(extracted(3), (std::vector<Bytes>{s.d16, s.a16}));
    EXPECT_EQ(extracted(-101), std::vector<Bytes>{s.a32});
    // A position beyond the groups writes nothing and raises nothing.
    EXPECT_TRUE(extracted(5).empty());
    try {
        ExtractIconResource(dll, -4, tmp.path / "none.ico");
        FAIL() << "no failure";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "Can not get icon index from resource id \"-4\" in file " + Text(dll));
    }
    EXPECT_FALSE(fs::exists(tmp.path / "none.ico"));
}

TEST(PeIcons, ExtractionOfFilesThatAreNoLibraries) {
    TempFolder tmp;
    const fs::path missing = tmp.path / "missing.dll";
    try {
        ExtractIconResource(missing, 0, tmp.path / "out.ico");
        FAIL() << "no failure";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "File \"" + Text(missing) + "\" is not found");
    }
    // An icon file is copied as it is, whatever its images hold.
    const Bytes dib = PatternDib(16, 4, 9);
    Bytes ico = MakeIco({{16, 16, 16, 0, 1, 4, dib}});
    ico[6 + 2] = 99;  // a colour count the icon model would recompute
    const fs::path icoPath = tmp.Write("Icon.ICO", ico);
    ExtractIconResource(icoPath, 5, tmp.path / "copy.ico");
    EXPECT_EQ(ReadWholeFile(tmp.path / "copy.ico"), ico);
    // A text file has no groups: an index writes nothing, an id is not found.
    const fs::path text = tmp.Write("notes.txt", Bytes(600, 'x'));
    ExtractIconResource(text, 0, tmp.path / "text.ico");
    EXPECT_FALSE(fs::exists(tmp.path / "text.ico"));
    EXPECT_THROW(ExtractIconResource(text, -1, tmp.path / "text.ico"), Error);
}

TEST(PeIcons, GroupEntryTakesTheImagesRealSizeAndRecomputedHeader) {
    const Bytes image = PatternDib(32, 8, 1);
    Bytes group = MakeGroup({{&image, 1}});
    WriteLe32(group.data() + 6 + 8, 12345);  // bytes in resource
    group[6] = 48;                             // width
    TIconLibrary library;
    library.OpenFromBytes(MakePe({{kRtIcon, 1, {}, image}, {kRtGroupIcon, 1, {}, group}}), "x.dll");
    const TSubIcon& got = *library.GetIcon(0)->Images()[0];
    EXPECT_EQ(got.Header().BytesInRes, image.size());
    EXPECT_EQ(got.Header().Width, 32);
    EXPECT_EQ(got.Data(), image);
}

TEST(PeIcons, HeaderBeyondSixteenBitsIsNoExecutable) {
    const Sample s;
    TIconLibrary library;
    EXPECT_FALSE(library.OpenFromBytes(MakePe(SampleResources(s), {false, 0, 0x10000}), "far.dll"));
    EXPECT_FALSE(library.IsExecutable());
    EXPECT_EQ(library.GetCount(), 0);
    // The platform itself follows the full offset and still counts the groups.
    EXPECT_EQ(library.IconCount(), 5);
}

TEST(PeIcons, ProcessesMessagesAfterEveryGroup) {
    const Sample s;
    int calls = 0;
    SetProcessMessagesHook([&] { ++calls; });
    TIconLibrary library;
    library.OpenFromBytes(MakePe(SampleResources(s)), "sample.dll");
    SetProcessMessagesHook(nullptr);
    EXPECT_EQ(calls, 5);
}

// A broken group fails when it is read, but another group of the same file is still
// extracted: only the group asked for is read.
TEST(PeIcons, DamagedGroupDoesNotKeepAnotherFromBeingExtracted) {
    const Sample s;
    auto resources = SampleResources(s);
    resources.push_back({kRtGroupIcon, 200, {}, MakeGroup({{&s.a16, 77}})});  // no kRtIcon 77
    TempFolder tmp;
    const fs::path dll = tmp.Write("broken.dll", MakePe(resources));
    TIconLibrary all;
    EXPECT_THROW(all.Open(dll), EResourceError);
    ExtractIconResource(dll, -3, tmp.path / "three.ico");
    TAdvancedIcon three;
    ASSERT_TRUE(three.LoadFromFile(tmp.path / "three.ico"));
    EXPECT_EQ(ImageData(three, 0), s.c16);
    EXPECT_THROW(ExtractIconResource(dll, -200, tmp.path / "broken.ico"), EResourceError);
    EXPECT_FALSE(fs::exists(tmp.path / "broken.ico"));

    // An image resource without bytes is no image, not an empty entry of the group.
    resources.back() = {kRtGroupIcon, 200, {}, MakeGroup({{&s.a16, 78}})};
    resources.push_back({kRtIcon, 78, {}, {}});
    const fs::path empty = tmp.Write("empty.dll", MakePe(resources));
    try {
        ExtractIconResource(empty, -200, tmp.path / "empty.ico");
        ADD_FAILURE() << "no failure";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Invalid image");
    }
    EXPECT_FALSE(fs::exists(tmp.path / "empty.ico"));
}

// Offsets and counts that point outside the file are refused without reading there.
TEST(PeIcons, DamagedDirectoriesAreRejectedCleanly) {
    const Sample s;
    const Bytes good = MakePe(SampleResources(s));
    const std::uint32_t peAt = ReadLe32(good, 0x3C);
    const std::size_t section = peAt + 24 + 224;
    const std::size_t rsrcAt = ReadLe32(good, section + 20);
    auto damaged = [&](auto change) {
        Bytes b = good;
        change(b);
        return b;
    };
    const std::vector<std::pair<const char*, Bytes>> cases = {
        {"section data beyond the file", damaged([&](Bytes& b) { WriteLe32(b.data() + section + 20, 0x7FFFFFF0); })},
        {"resource directory outside every section", damaged([&](Bytes& b) { WriteLe32(b.data() + peAt + 24 + 96 + 16, 0x50000); })},
        {"absurd root entry count", damaged([&](Bytes& b) { WriteLe16(b.data() + rsrcAt + 14, 0xFFFF); })},
        {"type directory outside the section", damaged([&](Bytes& b) { WriteLe32(b.data() + rsrcAt + 16 + 12, 0x8FFFFFF0); })},
        {"absurd section count", damaged([&](Bytes& b) { WriteLe16(b.data() + peAt + 6, 0xFFFF); })},
        {"optional header beyond the file", damaged([&](Bytes& b) { WriteLe16(b.data() + peAt + 20, 0xFFFF); })},
        {"cut inside the directory", Bytes(good.begin(), good.begin() + std::ptrdiff_t(rsrcAt + 20))},
    };
    for (const auto& [what, bytes] : cases) {
        SCOPED_TRACE(what);
        TIconLibrary library;
        EXPECT_FALSE(library.OpenFromBytes(bytes, "bad.dll"));
        EXPECT_EQ(library.GetCount(), 0);
        EXPECT_EQ(library.IconCount(), 0);
    }
}

TEST(PeIcons, DataAndNamesOutsideTheFileFailOnlyTheirGroup) {
    const Sample s;
    Bytes b = MakePe(SampleResources(s));
    const auto file = std::make_shared<const Bytes>(b);
    const TPeResources good(file);
    // Point kRtIcon 4 (group "3"'s only image) far outside the file.
    const auto data = good.Find(kRtIcon, TResName::FromId(4));
    ASSERT_TRUE(data);
    std::size_t entryAt = 0;
    const std::size_t rsrcFileAt = ReadLe32(b, ReadLe32(b, 0x3C) + 24 + 224 + 20);
    const std::uint32_t rva = 0x1000 + std::uint32_t(std::size_t(data->data() - file->data()) - rsrcFileAt);
    for (std::size_t i = 0; i + 8 <= b.size(); i += 4)
        if (ReadLe32(b, i) == rva && ReadLe32(b, i + 4) == data->size()) entryAt = i;
    ASSERT_NE(entryAt, 0u);
    WriteLe32(b.data() + entryAt, 0x7FFF0000);
    TIconLibrary library;
    ASSERT_TRUE(library.OpenNamesFromBytes(b, "x.dll"));
    EXPECT_EQ(library.GetIcon(0)->Images().Count(), 2);
    EXPECT_THROW(library.GetIcon(2), EResourceError);

    // A group name string beyond the section: the names cannot be listed at all.
    Bytes named = MakePe(SampleResources(s));
    const std::size_t rsrcAt = ReadLe32(named, ReadLe32(named, 0x3C) + 24 + 224 + 20);
    const std::size_t groupDir = rsrcAt + (ReadLe32(named, rsrcAt + 16 + 8 + 4) & 0x7FFFFFFF);
    WriteLe32(named.data() + groupDir + 16, 0x8000FFF0);
    TIconLibrary unnamed;
    EXPECT_FALSE(unnamed.OpenNamesFromBytes(named, "x.dll"));
}

TEST(PeIcons, ImageScanFindsImagesOfGroupsThatCannotBeListed) {
    const Sample s;
    Bytes b = MakePe(SampleResources(s));
    const std::size_t rsrcAt = ReadLe32(b, ReadLe32(b, 0x3C) + 24 + 224 + 20);
    // The group type's directory: its first entry's name now points outside the section.
    const std::size_t groupDir = rsrcAt + (ReadLe32(b, rsrcAt + 16 + 8 + 4) & 0x7FFFFFFF);
    WriteLe32(b.data() + groupDir + 16, 0x8000FFF0);
    TIconLibrary library;
    EXPECT_FALSE(library.OpenFromBytes(b, "x.dll"));
    EXPECT_EQ(library.IconCount(), 5);
    // Every square image of a size the scan looks for, in file order, as "Icon n".
    ASSERT_EQ(library.GetCount(), 5);
    const Bytes* order[] = {&s.a16, &s.a32, &s.b32, &s.c16, &s.d16};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(library.Icons().Name(i), "Icon " + std::to_string(i + 1));
        EXPECT_EQ(ImageData(*library.GetIcon(i), 0), *order[i]);
    }
}

TEST(PeIcons, IconListNamesUnnamedIconsByCount) {
    TIconList list;
    list.AddIcon("", nullptr);
    EXPECT_EQ(list.Count(), 0);
    list.AddIcon("A", std::make_unique<TAdvancedIcon>());
    list.AddIcon("", std::make_unique<TAdvancedIcon>());
    EXPECT_EQ(list.Name(1), "Icon 2");
    EXPECT_EQ(list.IndexOf("A"), 0);
    EXPECT_EQ(list.IndexOf("a"), -1);
}
