// The user's own markers: pictures made from a PNG of ours and from an icon of a Wine
// program, marked on files through the engine and checked pixel by pixel; references that
// stay put while other markers come and go; refusals that leave the store as it was.
#include "imaging/IconLibrary.h"  // the imaging headers before windows.h
#include "imaging/MarkerGeometry.h"
#include "imaging/MarkerPicture.h"
#include "imaging/OverlayCompose.h"
#include "imaging/PngCodec.h"
#include "imaging/Resample.h"

#include "app/engine/UserMarkers.h"

#include <windows.h>


#include "app/common/FileHelpers.h"
#include "app/common/TextConv.h"
#include "app/engine/VantrelClass.h"
#include "engine/MarkingFixture.h"

using namespace vantrel;
using namespace testsupport;

namespace {

// Quadrants of flat colour: opaque red, half-transparent blue, transparent, opaque green.
TBgra Quadrant(int x, int y, int size) {
    const bool right = x >= size / 2, bottom = y >= size / 2;
    if (!right && !bottom) return {0, 0, 255, 255};
    if (right && !bottom) return {255, 0, 0, 128};
    if (!right && bottom) return {0, 0, 0, 0};
    return {0, 200, 0, 255};
}

std::wstring WritePng(const std::wstring& path, int w, int h) {
    TBitmap picture(w, h, 32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) picture.SetBgra(x, y, Quadrant(x * 256 / w, y * 256 / h, 256));
    const auto png = EncodePngRgba(picture);
    WriteFile(path, std::string(png.begin(), png.end()));
    return path;
}

std::wstring Notepad() { return GetEnvVar(L"SystemRoot") + L"\\system32\\notepad.exe"; }

std::unique_ptr<TAdvancedIcon> LoadIco(const std::string& bytes) {
    auto icon = std::make_unique<TAdvancedIcon>();
    icon->LoadFromBytes(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    return icon;
}

// The stored picture of a marker: icon 0 of its library, as the reader finds it.
std::unique_ptr<TAdvancedIcon> StoredIcon(const TUserMarker& marker) {
    TIconLibrary library;
    EXPECT_TRUE(library.Open(std::filesystem::path(marker.File)));
    auto icon = std::make_unique<TAdvancedIcon>();
    if (library.GetCount() == 1) icon->Assign(*library.GetIcon(0));
    return icon;
}

const TSubIcon* ImageOfSize(const TAdvancedIcon& icon, int size) {
    const TSubIcon* best = nullptr;
    for (int i = 0; i < icon.Images().Count(); ++i)
        if (icon.Images()[i]->GetWidth() == size && (!best || icon.Images()[i]->GetBitDepth() > best->GetBitDepth()))
            best = icon.Images()[i];
    return best;
}

std::vector<std::wstring> FolderFiles(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE h = FindFirstFileW((folder + L"*").c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(data.cFileName);
    } while (FindNextFileW(h, &data));
    FindClose(h);
    return names;
}

class UserMarkers : public MarkingTest {
protected:
    TVantrel& core() { return TVantrel::Core(); }
    std::wstring Folder() { return core().DataFolder + L"icl\\"; }

    // The file's icon stream holds, in the marker's order, one image for each marker
    // image that the type icon has an image of the same size for. Each 32-bit one is the
    // type's image with the marker's drawn over it: where the marker is opaque its pixels
    // show, where it is transparent the type icon's do.
    void ExpectMarkedWith(const std::wstring& file, const TAdvancedIcon& marker) {
        const auto stream = LoadIco(IconStream(file));
        const auto type = LoadIco(ReadFile(typeIcon_).value_or(""));
        std::vector<std::pair<const TSubIcon*, const TSubIcon*>> pairs;  // marker, type
        for (int i = 0; i < marker.Images().Count(); ++i) {
            bool lower = false;
            if (const TSubIcon* base = FindMatchingImage(*marker.Images()[i], *type, lower))
                pairs.emplace_back(marker.Images()[i], base);
        }
        ASSERT_EQ(int(pairs.size()), int(stream->Images().Count()));
        std::vector<int> checked;
        for (int i = 0; i < stream->Images().Count(); ++i) {
            const TSubIcon& image = *stream->Images()[i];
            const auto [m, t] = pairs[std::size_t(i)];
            const int size = image.GetWidth();
            ASSERT_EQ(size, m->GetWidth());
            if (m->GetBitDepth() != 32 || t->GetBitDepth() != 32) continue;
            const TBitmap out = IconImageToBgra(image), mb = IconImageToBgra(*m), tb = IconImageToBgra(*t);
            int opaque = 0;
            for (int y = 0; y < size; ++y)
                for (int x = 0; x < size; ++x) {
                    const TBgra mp = mb.GetBgra(x, y);
                    if (mp.A == 255) {
                        ++opaque;
                        EXPECT_EQ(out.GetBgra(x, y), mp) << size << ": " << x << "," << y;
                    } else if (mp.A == 0 && tb.GetBgra(x, y).A == 255) {
                        EXPECT_EQ(out.GetBgra(x, y), tb.GetBgra(x, y)) << size << ": " << x << "," << y;
                    }
                }
            EXPECT_GT(opaque, 0) << size;
            checked.push_back(size);
        }
        // Every marker size the type icon has a 32-bit image of was composed and checked.
        for (int size : kMarkerPictureSizes) {
            const TSubIcon* t = ImageOfSize(*type, size);
            if (t && t->GetBitDepth() == 32) {
                EXPECT_NE(std::find(checked.begin(), checked.end(), size), checked.end()) << "32-bit image of " << size;
            }
        }
        EXPECT_GE(checked.size(), 3u);
    }
};

}  // namespace

namespace {

// Each image of a stored marker is `source` fitted (proportions kept, centred) into the
// badge's lower-left box, or into the whole square: inside, the source scaled to that
// size; outside, fully transparent.
void ExpectFittedIntoBox(const TAdvancedIcon& stored, const TBitmap& source, bool badge) {
    ASSERT_EQ(stored.Images().Count(), 5);
    for (int k = 0; k < 5; ++k) {
        const int size = kMarkerPictureSizes[k];
        const TSubIcon& image = *stored.Images()[k];
        ASSERT_EQ(image.GetWidth(), size);
        EXPECT_EQ(image.GetBitDepth(), 32);
        const int box = badge ? MarkerBadgeSize(size) : size, boxTop = badge ? size - box : 0;
        const int w = source.Width(), h = source.Height();
        const int fw = w >= h ? box : (w * box + h / 2) / h, fh = h >= w ? box : (h * box + w / 2) / w;
        const int left = (box - fw) / 2, top = boxTop + (box - fh) / 2;
        const TBitmap want = ResampleBitmap(source, fw, fh), pixels = IconImageToBgra(image);
        int shown = 0;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) {
                const TBgra p = pixels.GetBgra(x, y);
                if (x < left || x >= left + fw || y < top || y >= top + fh) {
                    EXPECT_EQ(p.A, 0) << size << ": " << x << "," << y;
                    continue;
                }
                const TBgra q = want.GetBgra(x - left, y - top);
                EXPECT_NEAR(p.A, q.A, 1) << size << ": " << x << "," << y;
                if (q.A > 8) {
                    ++shown;
                    EXPECT_NEAR(p.R, q.R, 1) << size << ": " << x << "," << y;
                    EXPECT_NEAR(p.G, q.G, 1);
                    EXPECT_NEAR(p.B, q.B, 1);
                }
            }
        EXPECT_GT(shown, fw * fh / 3) << size;
    }
}

TBitmap Largest(const TAdvancedIcon& icon) {
    const TSubIcon* largest = nullptr;
    for (int i = 0; i < icon.Images().Count(); ++i)
        if (!largest || icon.Images()[i]->GetWidth() > largest->GetWidth() ||
            (icon.Images()[i]->GetWidth() == largest->GetWidth() &&
             icon.Images()[i]->GetBitDepth() > largest->GetBitDepth()))
            largest = icon.Images()[i];
    const TBitmap pixels = IconImageToBgra(*largest);
    return pixels.BitCount() == 32 ? pixels : pixels.ConvertTo(32);
}

}  // namespace

TEST_F(UserMarkers, PicturesBecomeBadgesInTheLowerLeftOrStayAsTheyAre) {
    TUserMarkers store(Folder());
    const std::wstring png = WritePng(files_ / L"quadrants.png", 300, 200);
    const TUserMarker sun = store.Add(png, 0, L"Quadrants");
    const TUserMarker pad = store.Add(Notepad(), 0, L"Notepad");
    EXPECT_EQ(sun.File.substr(0, sun.File.size() - 13), Folder() + L"User-1");
    EXPECT_EQ(pad.File.substr(0, pad.File.size() - 13), Folder() + L"User-2");
    EXPECT_NE(sun.File.substr(sun.File.size() - 13), pad.File.substr(pad.File.size() - 13));

    // By default the PNG and the program's largest icon image are badges: fitted into the
    // box the built-in markers use at each size, transparent elsewhere.
    TBitmap quadrants(300, 200, 32);
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 300; ++x) quadrants.SetBgra(x, y, Quadrant(x * 256 / 300, y * 256 / 200, 256));
    ExpectFittedIntoBox(*StoredIcon(sun), quadrants, true);
    TIconLibrary notepad;
    ASSERT_TRUE(notepad.Open(std::filesystem::path(Notepad())));
    const TAdvancedIcon& source = *notepad.GetIcon(0);
    ExpectFittedIntoBox(*StoredIcon(pad), Largest(source), true);

    // As it is (an overlay already): the PNG fills the square, the program's icon keeps
    // each of its own images unchanged and gains every marker size.
    ExpectFittedIntoBox(*StoredIcon(store.Add(png, 0, L"Whole", TMarkerPlacement::FullSquare)), quadrants, false);
    const auto stored = StoredIcon(store.Add(Notepad(), 0, L"Whole pad", TMarkerPlacement::FullSquare));
    ASSERT_GE(stored->Images().Count(), source.Images().Count());
    for (int i = 0; i < source.Images().Count(); ++i) {
        EXPECT_EQ(stored->Images()[i]->GetWidth(), source.Images()[i]->GetWidth());
        EXPECT_EQ(stored->Images()[i]->GetBitDepth(), source.Images()[i]->GetBitDepth());
        EXPECT_EQ(IconImageToBgra(*stored->Images()[i]), IconImageToBgra(*source.Images()[i])) << i;
    }
    for (int size : kMarkerPictureSizes) EXPECT_NE(ImageOfSize(*stored, size), nullptr) << size;

    const auto listed = store.List();
    ASSERT_EQ(listed.size(), 4u);
    EXPECT_EQ(listed[0].Name, L"Quadrants");
    EXPECT_EQ(listed[1].Name, L"Notepad");
}

TEST_F(UserMarkers, MarkedFilesKeepTheirMarkerWhileOthersComeAndGo) {
    TUserMarkers store(Folder());
    const TUserMarker sun = store.Add(WritePng(files_ / L"quadrants.png", 256, 256), 0, L"Quadrants");
    const TUserMarker pad = store.Add(Notepad(), 0, L"Notepad");
    const std::wstring a = NewFile(L"a.vtdoc"), b = NewFile(L"b.vtdoc");
    ReportWatcher reports;
    core().FileList = {a};
    core().ApplyOverlay(sun.File, 0);
    core().FileList = {b};
    core().ApplyOverlay(pad.File, 0);
    EXPECT_EQ(reports.Shown(), 0) << reports.Details();
    ExpectMarkedWith(a, *StoredIcon(sun));
    ExpectMarkedWith(b, *StoredIcon(pad));
    const std::string infoA = InfoStream(a), iconA = IconStream(a);
    const auto sunBefore = StoredIcon(sun);
    EXPECT_NE(infoA.find(WideToUtf8(sun.File) + "\r\nOverlayIconIndex=0"), std::string::npos) << infoA;

    // Others added and removed, one renamed: a's marker keeps its file, picture and index,
    // and a colour change re-composes the same picture.
    const TUserMarker third = store.Add(Notepad(), 0, L"Third");
    store.Remove(pad);
    store.Rename(sun, L"Four quadrants");
    const TUserMarker fourth = store.AddIcon(*StoredIcon(third), L"Fourth");
    EXPECT_EQ(third.Number, 3u);
    EXPECT_EQ(fourth.Number, 4u) << "numbers are never handed out twice";
    store.Remove(fourth);
    EXPECT_EQ(store.AddIcon(*StoredIcon(third), L"Fifth").Number, 5u) << "not even the highest one";
    EXPECT_EQ(InfoStream(a), infoA);
    EXPECT_EQ(IconStream(a), iconA);
    EXPECT_EQ(store.List().front().Name, L"Four quadrants");
    const auto sunAfter = StoredIcon(sun);
    ASSERT_EQ(sunAfter->Images().Count(), sunBefore->Images().Count());
    for (int i = 0; i < sunBefore->Images().Count(); ++i)
        EXPECT_EQ(IconImageToBgra(*sunAfter->Images()[i]), IconImageToBgra(*sunBefore->Images()[i])) << "renamed " << i;
    core().FileList = {a};
    core().ApplyColor(255);
    EXPECT_EQ(reports.Shown(), 0) << reports.Details();
    EXPECT_NE(InfoStream(a).find(WideToUtf8(sun.File)), std::string::npos);
    EXPECT_NE(IconStream(a), iconA);

    // b's marker is gone: its colour change says so and keeps b's icon as it was.
    const std::string iconB = IconStream(b);
    core().FileList = {b};
    core().ApplyColor(255);
    WaitFor([&] { return reports.Shown() == 1; });
    EXPECT_EQ(reports.Shown(), 1);
    EXPECT_NE(reports.Details().find(pad.File + L"\" doesn't exist"), std::wstring::npos) << reports.Details();
    EXPECT_EQ(IconStream(b), iconB);
    EXPECT_NE(InfoStream(b).find(WideToUtf8(pad.File)), std::string::npos);
}

TEST_F(UserMarkers, BadInputIsRefusedClearlyAndChangesNothing) {
    TUserMarkers store(Folder());
    store.Add(WritePng(files_ / L"ok.png", 64, 64), 0, L"Kept");
    const auto before = FolderFiles(Folder());

    // A PNG whose header says 0 or 100000 pixels wide (the header's checksum made to fit).
    std::string png = ReadFile(files_ / L"ok.png").value();
    auto withWidth = [&](std::uint32_t width) {
        std::string patched = png;
        for (int i = 0; i < 4; ++i) patched[16 + i] = char(width >> (24 - 8 * i));
        std::uint32_t crc = 0xFFFFFFFF;
        for (int i = 12; i < 29; ++i) {
            crc ^= std::uint8_t(patched[std::size_t(i)]);
            for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
        }
        crc ^= 0xFFFFFFFF;
        for (int i = 0; i < 4; ++i) patched[29 + i] = char(crc >> (24 - 8 * i));
        return patched;
    };
    WriteFile(files_ / L"zero.png", withWidth(0));
    WriteFile(files_ / L"huge.png", withWidth(100000));
    WriteFile(files_ / L"text.png", "this is no picture");
    WriteFile(files_ / L"text.ico", "this is no icon either");
    // A program without icons: Wine's ntdll under an .exe name.
    CopyFileToPath(GetEnvVar(L"SystemRoot") + L"\\system32\\ntdll.dll", files_ / L"noicons.exe");
    const std::pair<std::wstring, std::string> refused[] = {
        {files_ / L"zero.png", "no pixels"},         {files_ / L"huge.png", "too large"},
        {files_ / L"text.png", "no PNG picture"},    {files_ / L"text.ico", "no icon"},
        {files_ / L"noicons.exe", "has no icons"},   {files_ / L"missing.png", "does not exist"},
        {files_ / L"a.txt", "markers are made from"},
    };
    for (const auto& [source, reason] : refused) {
        try {
            store.Add(source, 0, L"Name");
            ADD_FAILURE() << "accepted " << WideToUtf8(source);
        } catch (const EUserMarkerError& e) {
            EXPECT_NE(std::string(e.what()).find(reason), std::string::npos) << e.what();
        }
    }
    EXPECT_THROW(store.Add(Notepad(), 99, L"Name"), EUserMarkerError);
    const std::vector<std::wstring> names = {L"", L"   ", L"a/b", L"what?", L"CON", L"nul.txt", L"dot.",
                                             std::wstring(65, L'x'), L"\x65e5\x672c"};
    for (const std::wstring& name : names) {
        EXPECT_FALSE(TUserMarkers::CheckName(name).empty()) << WideToUtf8(name);
        EXPECT_THROW(store.Add(files_ / L"ok.png", 0, name), EUserMarkerError) << WideToUtf8(name);
    }
    EXPECT_THROW(store.Rename(store.List().front(), L"a|b"), EUserMarkerError);
    EXPECT_EQ(FolderFiles(Folder()), before) << "nothing written, nothing left behind";
    EXPECT_EQ(store.List().front().Name, L"Kept");
    EXPECT_TRUE(TUserMarkers::CheckName(L"  Caf\xe9 draft 2 ").empty());
}
