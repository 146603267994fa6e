#include <gtest/gtest.h>

#include <set>

#include "markers/IclWriter.h"
#include "markers/MarkerArt.h"

using namespace vantrel;

TEST(Markers, TheContextMenuPositionsHoldTheirMarkers) {
    const auto& designs = MarkerDesigns();
    ASSERT_GE(designs.size(), 12u);
    EXPECT_EQ(designs[0].Name, "Hi-Priority");
    EXPECT_EQ(designs[2].Name, "Low Priority");
    EXPECT_EQ(designs[3].Name, "Planned Work");
    EXPECT_EQ(designs[5].Name, "Done Work");
    EXPECT_EQ(designs[6].Name, "Approved");
    EXPECT_EQ(designs[8].Name, "Rejected");
    std::set<std::string> names;
    for (std::size_t i = 0; i < designs.size(); ++i) {
        EXPECT_EQ(designs[i].Index, int(i));
        EXPECT_TRUE(names.insert(designs[i].Name).second) << designs[i].Name;
    }
}

TEST(Markers, SignsSitInTheLowerLeftCornerWithSoftEdges) {
    for (const TMarkerDesign& design : MarkerDesigns()) {
        for (int size : MarkerSizes()) {
            const TBitmap picture = DrawMarker(design.Index, size);
            ASSERT_EQ(picture.Width(), size);
            ASSERT_EQ(picture.BitCount(), 32);
            int opaque = 0, partial = 0, upperRight = 0;
            for (int y = 0; y < size; ++y)
                for (int x = 0; x < size; ++x) {
                    const int a = picture.GetBgra(x, y).A;
                    if (a == 255) ++opaque;
                    if (a > 0 && a < 255) ++partial;
                    // The file icon must show through above and right of the sign.
                    if (a && (x >= size * 3 / 4 || y < size / 4)) ++upperRight;
                }
            EXPECT_EQ(upperRight, 0) << design.Name << " " << size;
            // Large enough to read: a good part of the picture is solid.
            EXPECT_GT(opaque, size * size / 10) << design.Name << " " << size;
            EXPECT_GT(partial, 0) << design.Name << " " << size << " has no anti-aliased edge";
        }
    }
}

TEST(Markers, EveryMarkerLooksDifferent) {
    std::set<std::vector<std::uint8_t>> seen;
    for (const TMarkerDesign& design : MarkerDesigns())
        for (int size : {16, 32}) {
            const TBitmap p = DrawMarker(design.Index, size);
            std::vector<std::uint8_t> bits(p.Bits().begin(), p.Bits().end());
            EXPECT_TRUE(seen.insert(bits).second) << design.Name << " " << size;
        }
}

TEST(Markers, IconsHaveEverySizeAndAPngAt256) {
    TAdvancedIcon icon;
    MakeMarkerIcon(6, icon);
    ASSERT_EQ(icon.Images().Count(), 5);
    const int sizes[] = {16, 24, 32, 48, 256};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(icon.Images()[i]->GetWidth(), sizes[i]);
        EXPECT_EQ(icon.Images()[i]->GetBitDepth(), 32);
        EXPECT_EQ(icon.Images()[i]->StoreAsPng(), sizes[i] == 256);
    }
    // Written and read back unchanged.
    TAdvancedIcon back;
    ASSERT_TRUE(back.LoadFromBytes(icon.SaveToBytes()));
    EXPECT_EQ(back.SaveToBytes(), icon.SaveToBytes());
}

namespace {
unsigned Word(const std::vector<std::uint8_t>& f, std::size_t at) { return f.at(at) | f.at(at + 1) << 8; }
}  // namespace

TEST(IconLibrary, LayoutOfA16BitLibrary) {
    TAdvancedIcon a, b;
    MakeMarkerIcon(0, a);
    MakeMarkerIcon(8, b);
    const auto f = BuildIconLibrary("MAIN", {{"Hi-Priority", &a}, {"Rejected", &b}});
    ASSERT_EQ(f[0], 'M');
    ASSERT_EQ(f[1], 'Z');
    const unsigned ne = Word(f, 0x3C);
    ASSERT_GE(ne, 60u);
    ASSERT_EQ(f.at(ne), 'N');
    ASSERT_EQ(f.at(ne + 1), 'E');
    const std::size_t table = ne + Word(f, ne + 0x24);
    EXPECT_NE(Word(f, ne + 0x26), 0u);  // resident names present
    const unsigned shift = Word(f, table);
    std::size_t at = table + 2;
    // Type RT_ICON with ten images, then RT_GROUP_ICON with two groups.
    ASSERT_EQ(Word(f, at), 0x8003u);
    ASSERT_EQ(Word(f, at + 2), 10u);
    at += 8 + 10 * 12;
    ASSERT_EQ(Word(f, at), 0x800Eu);
    ASSERT_EQ(Word(f, at + 2), 2u);
    const std::size_t firstGroup = at + 8;
    at += 8 + 2 * 12;
    ASSERT_EQ(Word(f, at), 0u);
    at += 2;
    // Names: "ICL", then the icons' names in group order, then a zero length.
    std::vector<std::string> names;
    while (f.at(at)) {
        names.emplace_back(f.begin() + long(at) + 1, f.begin() + long(at) + 1 + f[at]);
        at += 1 + f[at];
    }
    EXPECT_EQ(names, (std::vector<std::string>{"ICL", "Hi-Priority", "Rejected"}));
    // The second group's data is a group header for five images, inside the file.
    const std::size_t groupOffset = std::size_t(Word(f, firstGroup + 12)) << shift;
    ASSERT_LT(groupOffset + 6 + 5 * 14, f.size());
    EXPECT_EQ(Word(f, groupOffset + 2), 1u);
    EXPECT_EQ(Word(f, groupOffset + 4), 5u);
    EXPECT_EQ(Word(f, groupOffset + 6 + 4 * 14 + 12), 10u);  // its last image is RT_ICON 10
}

TEST(IconLibrary, RefusesWhatTheFormatCannotHold) {
    TAdvancedIcon empty, one;
    MakeMarkerIcon(1, one);
    EXPECT_THROW(BuildIconLibrary("MAIN", {}), Error);
    EXPECT_THROW(BuildIconLibrary("MAIN", {{"Empty", &empty}}), Error);
    EXPECT_THROW(BuildIconLibrary("MAIN", {{std::string(300, 'x'), &one}}), Error);
}
