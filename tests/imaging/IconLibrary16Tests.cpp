// 16-bit icon libraries: groups, names, the reader's failures, the names reader and the
// marker store list, on NE files built by hand.
#include <gtest/gtest.h>

#include <filesystem>

#include "TestExecutables.h"
#include "imaging/ByteIo.h"
#include "imaging/IconLibrary16.h"
#include "imaging/IconsStorage.h"

using namespace vantrel;
using namespace vantrel::test;
namespace fs = std::filesystem;

namespace {

struct Library {
    Bytes i1 = PatternDib(16, 32, 1), i2 = PatternDib(32, 8, 2), i3 = PatternDib(16, 4, 3);
    std::vector<NeType> Types() const {
        return {
            {0x8006, {{1, Bytes(30, 's')}}},  // a string table, skipped by its count
            {0x8003, {{1, i1}, {2, i2}, {3, i3}}},
            {0x800E, {{1, MakeGroup({{&i1, 1}, {&i2, 2}})}, {2, MakeGroup({{&i3, 3}})}}},
        };
    }
};

std::unique_ptr<T16BitReader> Reader(const Bytes& bytes, const std::string& name = "Markers.icl") {
    return std::make_unique<T16BitReader>(name, bytes);
}

}  // namespace

TEST(IconLibrary16, NamesAfterTheIclEntryNameTheGroups) {
    const Library lib;
    auto reader = Reader(MakeNe(lib.Types(), {"ICL", "Hi-Priority", "Low Priority"}));
    ASSERT_TRUE(reader->Load());
    EXPECT_EQ(reader->AlignShift(), 4);
    EXPECT_EQ(reader->GroupCount(), 2);
    EXPECT_EQ(reader->IconResourceCount(), 3);
    TIconList& names = reader->Names();
    ASSERT_EQ(names.Count(), 2);
    EXPECT_EQ(names.Name(0), "Hi-Priority");
    EXPECT_EQ(names.Name(1), "Low Priority");
    const auto* first = dynamic_cast<TICL16Icon*>(names.Icon(0));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->Name, "Markers 001");
    ASSERT_EQ(first->Images().Count(), 2);
    // Resource lengths are whole alignment units; the image keeps what was read.
    EXPECT_EQ(Bytes(first->Images()[0]->Data().begin(), first->Images()[0]->Data().begin() + std::ptrdiff_t(lib.i1.size())), lib.i1);
    EXPECT_EQ(first->Images()[0]->Header().BytesInRes % 16, 0u);
    EXPECT_EQ(first->Images()[1]->GetWidth(), 32);
    EXPECT_EQ(names.Icon(1)->Images()[0]->GetBitDepth(), 4);

    // Only one name for two groups: every icon gets its default name.
    auto unnamed = Reader(MakeNe(lib.Types(), {"ICL", "Hi-Priority"}));
    ASSERT_TRUE(unnamed->LoadNames());
    EXPECT_EQ(unnamed->Names().Name(0), "Markers 001");
    EXPECT_EQ(unnamed->Names().Name(1), "Markers 002");
    EXPECT_EQ(unnamed->Names().Icon(0), nullptr);
}

TEST(IconLibrary16, AlignmentShiftScalesOffsetAndLength) {
    // With shift 4, offset 0x0010 and length 0x0005 read 80 bytes from byte 256.
    const Bytes image = PatternDib(16, 4, 7);  // 40 + 64 + 128 + 64 = 296 bytes
    Bytes b = MakeNe({{0x8003, {{1, image}}}, {0x800E, {{1, Bytes(20, 0)}}}}, {}, 4);
    // Rewrite the icon's NAMEINFO: offset 0x10, length 5, and put a DIB header at byte 256.
    const std::size_t info = kNeResourceTableAt + 2 + 8;
    WriteLe16(b.data() + info, 0x10);
    WriteLe16(b.data() + info + 2, 5);
    if (b.size() < 256 + 80) b.resize(256 + 80, 0);
    Bytes small = PatternDib(2, 1, 0);  // 40 + 8 + 8 + 8 = 64 bytes
    std::copy(small.begin(), small.end(), b.begin() + 256);
    // The group refers to icon 1.
    const Bytes group = MakeGroup({{&small, 1}});
    const std::size_t groupOffset = std::size_t(ReadLe16(b, info + 12 + 8)) << 4;
    std::copy(group.begin(), group.end(), b.begin() + std::ptrdiff_t(groupOffset));
    auto reader = Reader(b);
    ASSERT_TRUE(reader->Load());
    const TSubIcon& got = *reader->Names().Icon(0)->Images()[0];
    EXPECT_EQ(got.Data().size(), 80u);
    EXPECT_EQ(Bytes(got.Data().begin(), got.Data().begin() + 64), small);
    EXPECT_EQ(got.GetWidth(), 2);
}

TEST(IconLibrary16, EveryReadErrorHasItsText) {
    const Library lib;
    const Bytes good = MakeNe(lib.Types(), {"ICL", "A", "B"});
    auto with = [&](auto change) {
        Bytes b = good;
        change(b);
        return b;
    };
    const std::vector<std::pair<std::string, Bytes>> cases = {
        {"Not a valid ICL File", with([](Bytes& b) { b[0] = 'Z'; })},
        {"Invalid Windows 16 Offset", with([](Bytes& b) { WriteLe16(b.data() + 0x3C, 59); })},
        {"Invalid Windows 16 Header", with([](Bytes& b) { b[kNeHeaderAt + 1] = 'X'; })},
        {"Invalid Windows 16 Header", with([](Bytes& b) { WriteLe16(b.data() + 0x3C, 0xFFF0); })},
        {"No Resources in file", with([](Bytes& b) { WriteLe16(b.data() + kNeHeaderAt + 0x24, 0); })},
        {"Names Table not found", with([](Bytes& b) { WriteLe16(b.data() + kNeHeaderAt + 0x26, 0); })},
        {"ResourceTable has an Error", MakeNe({lib.Types()[1]}, {})},
        {"ResourceTable has an Error", with([](Bytes& b) { WriteLe16(b.data() + kNeResourceTableAt + 2 + 2, 0xFFFF); })},
        {"ResourceTable has an Error", with([](Bytes& b) { WriteLe16(b.data() + kNeResourceTableAt, 40); })},
        {"ResourceTable has an Error", Bytes(good.begin(), good.begin() + std::ptrdiff_t(kNeResourceTableAt + 1))},
    };
    for (const auto& [text, bytes] : cases) {
        SCOPED_TRACE(text);
        auto reader = Reader(bytes);
        try {
            reader->ReadTables();
            ADD_FAILURE() << "no failure";
        } catch (const EICLReadError& e) {
            EXPECT_EQ(e.what(), text);
        }
        EXPECT_FALSE(reader->Load());
        EXPECT_EQ(reader->Names().Count(), 0);
        TIconLibrary library;
        EXPECT_FALSE(library.OpenFromBytes(bytes, "x.icl"));
    }
}

TEST(IconLibrary16, MissingIconEndsOnlyItsGroup) {
    const Library lib;
    auto types = lib.Types();
    // Group 1 refers to icons 1, 9 (missing) and 2: it keeps icon 1 only.
    types[2].resources[0].data = MakeGroup({{&lib.i1, 1}, {&lib.i1, 9}, {&lib.i2, 2}});
    auto reader = Reader(MakeNe(types, {"ICL", "A", "B"}));
    ASSERT_TRUE(reader->Load());
    EXPECT_EQ(reader->Names().Icon(0)->Images().Count(), 1);
    EXPECT_EQ(reader->Names().Icon(1)->Images().Count(), 1);
}

TEST(IconLibrary16, LibraryOpensNeFilesAndExtractsOneGroup) {
    const Library lib;
    auto types = lib.Types();
    // A third group whose image is no image: reading every group fails, one group does not.
    const Bytes junk(64, 0xEE);
    types[1].resources.push_back({4, junk});
    types[2].resources.push_back({3, MakeGroup({{&junk, 4}})});
    const Bytes b = MakeNe(types, {"ICL", "A", "B", "C"});
    TIconLibrary all;
    EXPECT_FALSE(all.OpenFromBytes(b, "lib.icl"));
    EXPECT_TRUE(all.IsExecutable());
    EXPECT_FALSE(all.Is32Bit());
    EXPECT_EQ(all.IconCount(), 3);
    TIconLibrary lazy;
    ASSERT_TRUE(lazy.OpenNamesFromBytes(b, "lib.icl"));
    ASSERT_EQ(lazy.GetCount(), 3);
    EXPECT_EQ(lazy.Icons().Name(1), "B");
    EXPECT_EQ(lazy.GetIcon(1)->Images().Count(), 1);
    EXPECT_THROW(lazy.GetIcon(2), Error);
}

TEST(IconLibrary16, NamesReaderFollowsTheIclEntry) {
    const Library lib;
    const Bytes b = MakeNe(lib.Types(), {"ICL", "Hi-Priority", "Caf\xE9"});
    const std::int64_t at = FindIconNamesOffset(b);
    ASSERT_GT(at, 0);
    EXPECT_EQ(b[std::size_t(at)], 11);
    std::vector<std::string> names;
    ReadLibraryIconNames(b, names, 2);
    EXPECT_EQ(names, (std::vector<std::string>{"Hi-Priority", "Caf\xC3\xA9"}));
    // More names than there are: the bytes after the terminating zero are read on (the
    // zero itself an empty name, then the resident name table's module name "ICONLIB").
    ReadLibraryIconNames(b, names, 4);
    ASSERT_EQ(names.size(), 4u);
    EXPECT_EQ(names[2], "");
    EXPECT_EQ(names[3], "ICONLIB");
    // The file ends before the names do: the names read so far.
    const Bytes cut(b.begin(), b.begin() + at + 5);
    ReadLibraryIconNames(cut, names, 3);
    EXPECT_TRUE(names.empty());
    const Bytes cut2(b.begin(), b.begin() + at + 12);
    ReadLibraryIconNames(cut2, names, 3);
    EXPECT_EQ(names, std::vector<std::string>{"Hi-Priority"});
    // No "ICL" entry: nothing.
    const Bytes plain = MakeNe(lib.Types(), {"ICX", "A"});
    EXPECT_EQ(FindIconNamesOffset(plain), -1);
    ReadLibraryIconNames(plain, names, 2);
    EXPECT_TRUE(names.empty());
    EXPECT_EQ(FindIconNamesOffset(fs::path("/no/such/file.icl")), -1);
}

TEST(IconsStorage, ListsMainIclOfTheProgramFolder) {
    const fs::path root = fs::temp_directory_path() / "vantrel-iconsstorage";
    fs::remove_all(root);
    fs::create_directories(root / "icl");
    TIconsStorage storage;
    storage.SetProgramIconFolder(root / "icl");
    storage.SetUserIconFolder(root / "user" / "icl");
    EXPECT_EQ(storage.ProgramIconFolder(), root / "icl" / "");
    storage.Refresh();
    EXPECT_TRUE(storage.Paths().empty());
    WriteWholeFile(root / "icl" / "Main.icl", Bytes{1});
    WriteWholeFile(root / "icl" / "fMarkers.icl", Bytes{1});
    storage.Refresh();
    ASSERT_EQ(storage.Paths().size(), 1u);
    EXPECT_EQ(storage.Paths()[0], root / "icl" / "Main.icl");
    EXPECT_EQ(storage.Titles()[0], "Main");
    storage.AddLibrary("fMarkers.icl");
    EXPECT_EQ(storage.Titles()[1], "Markers");
    EXPECT_EQ(TIconsStorage::TitleOf("Flags.v2.icl"), "Flags.v2");
    fs::remove_all(root);
}
