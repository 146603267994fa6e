#include <gtest/gtest.h>

#include "TestIcons.h"
#include "imaging/IconModel.h"

using namespace vantrel;

// Icon files made by other software load, save and load again with the same images.
TEST(RealIcons, LoadSaveLoadKeepsEveryImage) {
    const auto files = test::MachineIcons();
    if (files.empty()) GTEST_SKIP() << "no icon files found on this machine";
    for (const auto& file : files) {
        SCOPED_TRACE(file);
        TAdvancedIcon first;
        ASSERT_TRUE(first.LoadFromFile(file));
        TAdvancedIcon second;
        ASSERT_TRUE(second.LoadFromBytes(first.SaveToBytes()));
        ASSERT_EQ(second.Images().Count(), first.Images().Count());
        for (int i = 0; i < first.Images().Count(); ++i) {
            const TSubIcon& a = *first.Images()[i];
            const TSubIcon& b = *second.Images()[i];
            EXPECT_EQ(a.GetWidth(), b.GetWidth());
            EXPECT_EQ(a.GetHeight(), b.GetHeight());
            EXPECT_EQ(a.StoreAsPng(), b.StoreAsPng());
            EXPECT_EQ(a.Data(), b.Data()) << "image " << i;
            EXPECT_EQ(IconImageToBgra(a), IconImageToBgra(b));
        }
    }
}
