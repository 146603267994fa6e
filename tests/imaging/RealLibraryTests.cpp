// Icon groups of real executables that no one here wrote: Wine's own DLLs and EXEs, and the
// 16-bit NE module carried inside one of Wine's 16-bit drivers. Natively, icoutils' wrestool
// is the independent reader the results are compared with.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include <sstream>

#include "PillowReader.h"
#include "TestExecutables.h"
#include "imaging/ByteIo.h"
#include "imaging/IconLibrary.h"
#include "imaging/IconLibrary16.h"
#include "imaging/PeResources.h"
#include "imaging/PngCodec.h"

using namespace vantrel;
using namespace vantrel::test;
namespace fs = std::filesystem;

namespace {

#ifndef _WIN32
bool HaveWrestool() { return fs::exists("/usr/bin/wrestool"); }

// Runs a command, returns its standard output.
std::string RunCommand(const std::string& command) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
        pclose(p);
    }
    return out;
}

// Group names in wrestool's listing order ("--name=1" or "--name='TEXT'").
std::vector<std::string> WrestoolGroups(const fs::path& file) {
    std::vector<std::string> names;
    std::istringstream lines(RunCommand("wrestool -l -t14 '" + file.string() + "' 2>/dev/null"));
    for (std::string line; std::getline(lines, line);) {
        const std::size_t at = line.find("--name=");
        if (at == std::string::npos) continue;
        std::string name = line.substr(at + 7, line.find(' ', at) - at - 7);
        if (name.size() >= 2 && name.front() == '\'') name = name.substr(1, name.size() - 2);
        names.push_back(name);
    }
    return names;
}
#endif

[[maybe_unused]] void ExpectSameImages(const fs::path& ours, const fs::path& theirs) {
    TAdvancedIcon a, b;
    ASSERT_TRUE(a.LoadFromFile(ours));
    ASSERT_TRUE(b.LoadFromFile(theirs));
    ASSERT_EQ(a.Images().Count(), b.Images().Count());
    for (int i = 0; i < a.Images().Count(); ++i) {
        // DIB entries are the resource's bytes; PNG entries are encoded again when an icon is
        // written, so they are compared as the pixels they show.
        const TSubIcon& x = *a.Images()[i];
        const TSubIcon& y = *b.Images()[i];
        EXPECT_EQ(x.StoreAsPng(), y.StoreAsPng()) << "image " << i;
        if (x.StoreAsPng()) {
            EXPECT_EQ(IconImageToBgra(x), IconImageToBgra(y)) << "image " << i;
        } else {
            EXPECT_EQ(x.Data(), y.Data()) << "image " << i;
        }
    }
}

}  // namespace

TEST(RealLibraries, GroupsAndImagesAgreeWithWrestool) {
#ifdef _WIN32
    GTEST_SKIP() << "wrestool is compared natively";
#else
    if (!HaveWrestool()) GTEST_SKIP() << "wrestool (icoutils) is not installed";
    const auto files = RealExecutables();
    if (files.empty()) GTEST_SKIP() << "no Wine DLLs on this machine";
    const fs::path tmp = fs::temp_directory_path() / "vantrel-real-libraries";
    fs::create_directories(tmp);
    int compared = 0;
    for (const fs::path& file : files) {
        SCOPED_TRACE(file.string());
        TIconLibrary library;
        library.OpenNames(file);
        std::vector<std::string> ours;
        for (int i = 0; i < library.GetCount(); ++i) ours.push_back(library.Icons().Name(i));
        EXPECT_EQ(ours, WrestoolGroups(file));
        EXPECT_EQ(library.IconCount(), library.GetCount());
        if (library.GetCount() == 0) continue;
        // A few groups by position and by negative id.
        std::vector<int> locations = {0, 1, library.GetCount() / 2, library.GetCount() - 1};
        for (int i = 0; i < library.GetCount() && locations.size() < 7; ++i)
            if (ours[std::size_t(i)].find_first_not_of("0123456789") == std::string::npos) locations.push_back(-std::stoi(ours[std::size_t(i)]));
        for (int location : locations) {
            if (location >= library.GetCount()) continue;
            SCOPED_TRACE(location);
            const int position = location >= 0 ? location : library.Icons().IndexOf(std::to_string(-location));
            const fs::path mine = tmp / "ours.ico", theirs = tmp / "wrestool.ico";
            fs::remove(mine);
            fs::remove(theirs);
            ExtractIconResource(file, location, mine);
            RunCommand("wrestool -x -t14 -n '" + ours[std::size_t(position)] + "' -o '" + theirs.string() + "' '" + file.string() + "' 2>/dev/null");
            ASSERT_TRUE(fs::exists(theirs));
            ExpectSameImages(mine, theirs);
            ++compared;
        }
    }
    fs::remove_all(tmp);
    std::printf("compared %d groups with wrestool\n", compared);
#endif
}

TEST(RealLibraries, SixteenBitModuleOfWineReadsLikeWrestoolSeesIt) {
    const fs::path ne = CarvedNeModule();
    if (ne.empty()) GTEST_SKIP() << "no 16-bit Wine module with icons on this machine";
    TIconLibrary library;
    ASSERT_TRUE(library.Open(ne));
    EXPECT_TRUE(library.IsExecutable());
    EXPECT_FALSE(library.Is32Bit());
    ASSERT_GT(library.GetCount(), 0);
    EXPECT_EQ(library.IconCount(), library.GetCount());
    const TAdvancedIcon& icon = *library.GetIcon(0);
    ASSERT_GT(icon.Images().Count(), 0);
    for (int i = 0; i < icon.Images().Count(); ++i) EXPECT_GT(icon.Images()[i]->GetWidth(), 0);
#ifndef _WIN32
    if (HaveWrestool()) {
        const fs::path tmp = fs::temp_directory_path() / "vantrel-real-ne";
        fs::create_directories(tmp);
        ExtractIconResource(ne, 0, tmp / "ours.ico");
        // wrestool names NE groups by their id.
        RunCommand("wrestool -x -t14 -n 1 -o '" + (tmp / "wrestool.ico").string() + "' '" + ne.string() + "' 2>/dev/null");
        if (fs::exists(tmp / "wrestool.ico")) {
            TAdvancedIcon theirs;
            ASSERT_TRUE(theirs.LoadFromFile(tmp / "wrestool.ico"));
            TAdvancedIcon mine;
            ASSERT_TRUE(mine.LoadFromFile(tmp / "ours.ico"));
            ASSERT_EQ(mine.Images().Count(), theirs.Images().Count());
            // NE resources are whole alignment units: ours may carry the padding.
            for (int i = 0; i < mine.Images().Count(); ++i) {
                EXPECT_EQ(mine.Images()[i]->GetWidth(), theirs.Images()[i]->GetWidth());
                EXPECT_EQ(IconImageToBgra(*mine.Images()[i]), IconImageToBgra(*theirs.Images()[i]));
            }
        }
        fs::remove_all(tmp);
    }
#endif
}

// Wine's 256-pixel entries stored as palette PNGs whose tRNS holds soft alpha (shell32's
// groups 48 and 194, user32's 32512): the group's image reads as Pillow reads the same PNG.
TEST(RealLibraries, SoftAlphaPalettePngsOfWineReadAsPillowReadsThem) {
    if (!HavePillow()) GTEST_SKIP() << "Pillow (python3-pil) is compared natively";
    const std::pair<const char*, std::uint16_t> groups[] = {
        {"/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/shell32.dll", 48},
        {"/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/shell32.dll", 194},
        {"/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/user32.dll", 32512},
        {"/usr/lib/i386-linux-gnu/wine/i386-windows/shell32.dll", 48},
        {"/usr/lib/i386-linux-gnu/wine/i386-windows/user32.dll", 32512},
    };
    const fs::path tmp = fs::temp_directory_path() / "vantrel-wine-entry.png";
    int compared = 0;
    for (const auto& [file, id] : groups) {
        if (!fs::is_regular_file(file)) continue;
        SCOPED_TRACE(std::string(file) + " group " + std::to_string(id));
        const TPeResources module(ReadWholeFile(file));
        // The group's directory: 6 bytes, then 14-byte entries, width first and image id last.
        const auto group = module.Find(kRtGroupIcon, TResName::FromId(id));
        ASSERT_TRUE(group);
        int bigId = -1;
        for (std::size_t at = 6; at + 14 <= group->size(); at += 14)
            if ((*group)[at] == 0) bigId = ReadLe16(*group, at + 12);
        const auto png = module.Find(kRtIcon, TResName::FromId(std::uint16_t(bigId)));
        ASSERT_TRUE(png && IsPngStream(*png));
        WriteWholeFile(tmp, *png);
        const PillowPicture theirs = PillowRgba(tmp);
        int soft = 0;
        for (std::size_t a = 3; a < theirs.rgba.size(); a += 4) soft += theirs.rgba[a] > 0 && theirs.rgba[a] < 255;
        EXPECT_GT(soft, 0) << "Pillow reads no soft alpha";

        TAdvancedIcon icon;
        ASSERT_TRUE(icon.LoadFromResource(module, TResName::FromId(id)));
        int matched = 0;
        for (int i = 0; i < icon.Images().Count(); ++i) {
            const TSubIcon& image = *icon.Images()[i];
            if (image.GetWidth() != 256) continue;
            EXPECT_EQ(image.GetBitDepth(), 32);
            EXPECT_EQ(PixelsDifferingFromPillow(IconImageToBgra(image), theirs), 0);
            ++matched;
        }
        EXPECT_EQ(matched, 1);
        ++compared;
    }
    fs::remove(tmp);
    if (compared == 0) GTEST_SKIP() << "no Wine shell32.dll or user32.dll on this machine";
}
