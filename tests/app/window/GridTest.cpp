// The picker grids in real windows under Wine, over icons of Wine's shell32.dll and the
// staged Main.icl. Expected pixels come from our own icon readers and tint, not from the
// platform path the grids load through.
#include "imaging/Colorize.h"  // before windows.h and its RGB macros
#include "imaging/IconLibrary.h"
#include "imaging/PngCodec.h"

#include "app/window/MarkerGrid.h"

#include <gtest/gtest.h>
#include <commctrl.h>
#include <oleacc.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "TestSupport.h"
#include "app/common/FileHelpers.h"
#include "app/registration/RegisterIconHandlerUnit.h"
#include "app/window/WindowDpi.h"
#include "imaging/Error.h"

using namespace vantrel;
using namespace testsupport;

namespace {

const int kEdge = 4;       // the grid's sunken edge, 2 pixels a side
const int kDocument = -1;  // Wine's document icon, shell32 resource 1: alpha images at 16, 32, 48

std::wstring Shell32() {
    wchar_t folder[MAX_PATH] = {};
    GetSystemDirectoryW(folder, MAX_PATH);
    return std::wstring(folder) + L"\\shell32.dll";
}
std::wstring MainIcl() { return DistFolder() + L"\\icl\\Main.icl"; }

BOOL CALLBACK AddGroupId(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR list) {
    reinterpret_cast<std::vector<ULONG_PTR>*>(list)->push_back(IS_INTRESOURCE(name) ? ULONG_PTR(name) : 0);
    return TRUE;
}

// Position of icon group `id` in the platform's enumeration, the order icon indices count.
int GroupPosition(const std::wstring& file, WORD id) {
    HMODULE module = LoadLibraryExW(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    std::vector<ULONG_PTR> ids;  // 0 for a named group
    EnumResourceNamesW(module, MAKEINTRESOURCEW(14), AddGroupId, reinterpret_cast<LONG_PTR>(&ids));
    FreeLibrary(module);
    const auto at = std::find(ids.begin(), ids.end(), ULONG_PTR(id));
    return at == ids.end() ? -1 : int(at - ids.begin());
}

// The 32-bit image of one size of an icon group, read by our own reader.
TBitmap ReaderImage(const std::wstring& file, int position, int size) {
    TIconLibrary library;
    TAdvancedIcon* icon = library.OpenNames(std::filesystem::path(file)) ? library.GetIcon(position) : nullptr;
    for (int i = 0; icon && i < icon->Images().Count(); ++i) {
        const TSubIcon* image = icon->Images().Get(i);
        if (image->GetWidth() == size && image->GetBitDepth() == 32) return GetIconInfo(image->GetHandle()).Colour;
    }
    return {};
}

// Wine waits for the display when a shown top-level window is hidden or destroyed, so the
// tests share one shown host for the run; a hidden one costs nothing.
HWND NewHost(bool visible) {
    return CreateWindowExW(0, L"STATIC", L"Grids", WS_OVERLAPPEDWINDOW | (visible ? WS_VISIBLE : 0), 0, 0, 700, 500,
                           nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
}
HWND Host() {
    static const HWND host = NewHost(true);
    return host;
}

// The page's resize: the grid gets its outer size, then lays its cells out.
void Resize(TMarkerGrid& grid, int width, int height) {
    SetWindowPos(grid.Handle(), nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    grid.AdjustLayout();
}

// The colour page's grid, `cols` cells wide (plus `extra` pixels) and `rows` high.
struct ColorPage : TColorGrid {
    ColorPage(int cols, int rows, int extra = 0, HWND host = Host()) {
        for (const TNamedColor& c : ColorTable()) AddColorValue(c.Value, c.Name);
        CreateWindowIn(host, 100);
        Resize(*this, kEdge + cols * CellSize() + extra, kEdge + rows * CellSize());
    }
};

struct MarkerPage : TOverlayGrid {
    MarkerPage(int cols, int rows, int extra = 0, HWND host = Host()) : TOverlayGrid(MainIcl()) {
        CreateWindowIn(host, 101);
        SetBaseIcon(Shell32(), kDocument);
        Resize(*this, kEdge + cols * CellSize() + extra, kEdge + rows * CellSize());
    }
};

void Key(const TMarkerGrid& g, WPARAM key, LPARAM flags = 1) { SendMessageW(g.Handle(), WM_KEYDOWN, key, flags); }
void Mouse(const TMarkerGrid& g, UINT msg, int x, int y) { SendMessageW(g.Handle(), msg, 0, MAKELPARAM(x, y)); }
void Wheel(const TMarkerGrid& g, int delta) { SendMessageW(g.Handle(), WM_MOUSEWHEEL, WPARAM(WORD(delta)) << 16, 0); }
void DoubleClick(const TMarkerGrid& g, int x, int y) {
    for (UINT msg : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP}) Mouse(g, msg, x, y);
}
bool ScrollBarShown(const TMarkerGrid& g) { return (GetWindowLongPtrW(g.Handle(), GWL_STYLE) & WS_VSCROLL) != 0; }

std::vector<int> Built(TMarkerGrid& grid, bool paintFirst = false) {
    if (paintFirst) UpdateWindow(grid.Handle());
    std::vector<int> cells;
    for (int c = 0; c < grid.CellImageSlots(); ++c)
        if (grid.CellImageBuilt(c)) cells.push_back(c);
    return cells;
}
std::vector<int> Range(int from, int to) {
    std::vector<int> cells;
    for (int c = from; c < to; ++c) cells.push_back(c);
    return cells;
}

TBitmap ColourOf(const THiResIcon* picture) {
    return picture && picture->Handle() ? picture->Handle()->Colour : TBitmap();
}
TBitmap ColourOf(const THiResIcon& picture) { return ColourOf(&picture); }
TBitmap Pixels(const TMarkerGrid& grid, int cell) { return ColourOf(grid.CellImage(cell)); }
TColorRef Rgb(TBgra p) { return RGB(p.R, p.G, p.B); }

std::wstring TooltipText(const TMarkerGrid& grid) {
    wchar_t text[256] = L"<no tooltip>";
    TTTOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.hwnd = grid.Handle();
    tool.uId = 1;
    tool.lpszText = text;
    SendMessageW(grid.TooltipHandle(), TTM_GETTEXTW, 256, reinterpret_cast<LPARAM>(&tool));
    return text;
}

// A window's client area, 32 bits a pixel: as it paints itself for PrintWindow, or as the
// screen shows it.
TBitmap Capture(HWND window, bool fromScreen = false) {
    RECT client{};
    GetClientRect(window, &client);
    TBitmap shot(client.right, client.bottom, 32);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), client.right, client.bottom, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HDC screen = GetDC(fromScreen ? window : nullptr);
    HBITMAP dib = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC dc = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(dc, dib);
    if (fromScreen)
        BitBlt(dc, 0, 0, client.right, client.bottom, screen, 0, 0, SRCCOPY);
    else
        SendMessageW(window, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
    GdiFlush();
    std::memcpy(shot.Bits().data(), bits, shot.Bits().size());
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(dib);
    ReleaseDC(fromScreen ? window : nullptr, screen);
    return shot;
}

// Saved for people to look at, beside the test reports.
void SavePng(const TBitmap& shot, const std::wstring& name) {
    const std::wstring folder = GetEnvVar(L"VANTREL_TEST_RESULTS");
    const std::vector<std::uint8_t> png = EncodePngRgb(shot);
    if (!folder.empty()) WriteFileBytes(folder + L"\\" + name, png.data(), png.size());
}

}  // namespace

// --- layout, keyboard, mouse ---------------------------------------------------------

TEST(GridLayout, ColumnsFitTheWidthAndTheSelectedItemStays) {
    ColorPage grid(3, 10);  // 8 cells
    const int c = grid.CellSize(), bar = GetSystemMetrics(SM_CXVSCROLL), tall = kEdge + 10 * c;
    ASSERT_EQ(c, GetSystemMetrics(SM_CXICON));
    // {width, height, columns}; two rows high, three columns would need three rows, so the
    // scroll bar's width is taken off before counting again.
    const int layouts[][3] = {{kEdge + 3 * c, tall, 3},           {kEdge + 3 * c - 1, tall, 2},
                              {kEdge + 12 * c, tall, 8},          {10, tall, 1},
                              {kEdge + 3 * c + bar - 1, kEdge + 2 * c, 2}, {kEdge + 4 * c, kEdge + 2 * c, 4}};
    for (auto [width, height, cols] : layouts) {
        Resize(grid, width, height);
        EXPECT_EQ(grid.ColCount(), cols) << width << "x" << height;
        EXPECT_EQ(grid.RowCount(), (8 + cols - 1) / cols) << width << "x" << height;
        EXPECT_EQ(ScrollBarShown(grid), grid.RowCount() > 2 && height < tall) << width << "x" << height;
    }
    // Reflowing keeps the selected item; an empty cell that no longer exists gives way to
    // the last item.
    Resize(grid, kEdge + 3 * c, tall);
    grid.SelectCell(5);
    Resize(grid, kEdge + 4 * c, tall);
    EXPECT_EQ(grid.SelectedIndex(), 4);
    EXPECT_EQ(WindowText(grid.Handle()), L"Blue");
    Resize(grid, kEdge + 3 * c, tall);
    grid.SelectCell(8);
    EXPECT_EQ(grid.SelectedIndex(), grid.ItemCount());
    Resize(grid, kEdge + 4 * c, tall);
    EXPECT_EQ(grid.SelectedCell(), 7);
}

TEST(GridLayout, AWidthThatKeepsTheColumnsChangesNothing) {
    const int bar = GetSystemMetrics(SM_CXVSCROLL);
    ColorPage grid(3, 2, bar + 10);
    ASSERT_EQ(grid.ColCount(), 3);
    grid.SelectCell(7);
    ASSERT_EQ(grid.TopRow(), 1);
    SetWindowPos(grid.Handle(), nullptr, 0, 0, kEdge + 3 * grid.CellSize() + bar + 2, kEdge + 2 * grid.CellSize(),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    UpdateWindow(grid.Handle());
    grid.AdjustLayout();
    EXPECT_EQ(std::vector<int>({grid.ColCount(), grid.RowCount(), grid.SelectedCell(), grid.TopRow()}),
              std::vector<int>({3, 3, 7, 1}));
    EXPECT_FALSE(GetUpdateRect(grid.Handle(), nullptr, FALSE)) << "nothing to repaint";
}

TEST(GridInput, KeysWheelAndClicksWorkInWholeRows) {
    ColorPage grid(3, 2, GetSystemMetrics(SM_CXVSCROLL));  // 3 rows, 2 visible
    const LRESULT code = SendMessageW(grid.Handle(), WM_GETDLGCODE, 0, 0);
    EXPECT_TRUE(code & DLGC_WANTARROWS);
    EXPECT_FALSE(code & DLGC_WANTALLKEYS) << "Enter belongs to the default button";
    const std::pair<WPARAM, int> moves[] = {{VK_RIGHT, 1}, {VK_RIGHT, 2}, {VK_RIGHT, 2}, {VK_DOWN, 5}, {VK_DOWN, 8},
                                            {VK_LEFT, 7},  {VK_HOME, 0},  {VK_END, 7},   {VK_PRIOR, 1}, {VK_NEXT, 7},
                                            {VK_UP, 4}};
    for (auto [key, cell] : moves) {
        Key(grid, key);
        EXPECT_EQ(grid.SelectedCell(), cell) << key;
        EXPECT_EQ(WindowText(grid.Handle()), grid.CellName(cell));
        EXPECT_TRUE(grid.TopRow() <= cell / 3 && cell / 3 < grid.TopRow() + 2) << "selection in view";
    }
    SendMessageW(grid.Handle(), WM_VSCROLL, SB_TOP, 0);
    EXPECT_EQ(grid.TopRow(), 0);
    SendMessageW(grid.Handle(), WM_VSCROLL, SB_PAGEDOWN, 0);
    EXPECT_EQ(grid.TopRow(), 1) << "the last row ends at the bottom";
    Wheel(grid, WHEEL_DELTA);
    Wheel(grid, -WHEEL_DELTA / 2);
    EXPECT_EQ(grid.TopRow(), 0);
    Wheel(grid, -WHEEL_DELTA / 2);
    EXPECT_EQ(grid.TopRow(), 1);
    EXPECT_EQ(GetScrollPos(grid.Handle(), SB_VERT), 1);
    EXPECT_EQ(grid.SelectedCell(), 4) << "scrolling leaves the selection";
    Mouse(grid, WM_LBUTTONDOWN, 2 * grid.CellSize() + 1, grid.CellSize() + 1);
    EXPECT_EQ(grid.SelectedCell(), 8) << "a click counts the rows scrolled away";
    EXPECT_EQ(GetFocus(), grid.Handle());
}

TEST(GridInput, ChooseFiresOnDefaultAndItemsOnly) {
    ColorPage grid(3, 3);
    const int c = grid.CellSize();
    std::vector<int> chosen;
    grid.OnChoose = [&](TMarkerGrid& g) { chosen.push_back(g.SelectedIndex()); };
    DoubleClick(grid, 1, 1);                  // "Default"
    DoubleClick(grid, c + 1, 2 * c + 1);      // "Gray"
    DoubleClick(grid, 2 * c + 1, 2 * c + 1);  // the empty cell after it
    DoubleClick(grid, 3 * c + 5, 1);          // beside the cells
    Key(grid, VK_SPACE);                      // still on the empty cell
    grid.SelectCell(2);
    Key(grid, VK_SPACE);
    Key(grid, VK_SPACE, 1 | (1 << 30));  // held down
    Key(grid, VK_RETURN);
    EXPECT_EQ(chosen, (std::vector<int>{-1, 6, 1}));
    EXPECT_EQ(grid.SelectedColor(), ColorTable()[1].Value);
    grid.SelectCell(0);
    EXPECT_THROW(grid.SelectedColor(), Error);
}

// --- names ---------------------------------------------------------------------------

TEST(GridNames, HintsLibraryNamesAndAccessibleName) {
    ColorPage grid(3, 3);
    const int c = grid.CellSize();
    const std::pair<POINT, const wchar_t*> hovers[] = {
        {{1, 1}, L"Default"}, {{2 * c + 1, 1}, L"Orange"}, {{2 * c + 1, 2 * c + 1}, L""}};
    for (auto [at, hint] : hovers) {
        Mouse(grid, WM_MOUSEMOVE, at.x, at.y);
        EXPECT_EQ(grid.HintText(), hint) << at.x << "," << at.y;
        EXPECT_EQ(TooltipText(grid), hint);
    }
    Mouse(grid, WM_MOUSEMOVE, 3 * c + 5, 1);
    EXPECT_EQ(std::make_pair(grid.HoverRow(), grid.HoverCol()), std::make_pair(2, 2)) << "beside the cells";

    IAccessible* accessible = nullptr;
    ASSERT_EQ(AccessibleObjectFromWindow(grid.Handle(), DWORD(OBJID_CLIENT), __uuidof(IAccessible),
                                         reinterpret_cast<void**>(&accessible)),
              S_OK);
    auto name = [&, text = BSTR()]() mutable {
        VARIANT self{};
        self.vt = VT_I4;  // CHILDID_SELF
        std::wstring result = accessible->get_accName(self, &text) == S_OK && text ? text : L"<none>";
        SysFreeString(text);
        return result;
    };
    EXPECT_EQ(name(), L"Default");
    Key(grid, VK_DOWN);
    EXPECT_EQ(name(), L"Yellow");
    accessible->Release();

    ASSERT_TRUE(FileExists(MainIcl())) << "the build stages Main.icl";
    TOverlayGrid markers(MainIcl());
    EXPECT_EQ(markers.ItemCount(), int(ExtractIconExW(MainIcl().c_str(), -1, nullptr, nullptr, 0)));
    EXPECT_EQ(markers.CellName(7), L"Approved");
    EXPECT_EQ(markers.CellName(9), L"Rejected");
    TOverlayGrid missing(L"C:\\no such folder\\Main.icl");
    EXPECT_EQ(missing.ItemCount(), 0);
    EXPECT_EQ(missing.CellName(1), L"");
}

// --- the preview cache ---------------------------------------------------------------

TEST(GridCache, BuiltOnlyWhenPaintedClearedOnlyByChanges) {
    ASSERT_TRUE(FileExists(MainIcl()));
    {
        const HWND hidden = NewHost(false);
        MarkerPage page(3, 2, 0, hidden);
        EXPECT_TRUE(Built(page, true).empty()) << "a page never shown builds nothing";
        DestroyWindow(hidden);
    }
    MarkerPage grid(3, 2, GetSystemMetrics(SM_CXVSCROLL));  // 14 cells: 5 rows of 3, 2 visible
    EXPECT_EQ(Built(grid, true), Range(0, 6));
    SendMessageW(grid.Handle(), WM_VSCROLL, SB_LINEDOWN, 0);
    EXPECT_EQ(Built(grid, true), Range(0, 9));
    const THiResIcon* kept = grid.CellImage(4);
    grid.SetPreviewColor(NoColor);
    grid.SetBaseIcon(Shell32(), kDocument);  // the window clears after a new base
    EXPECT_EQ(Built(grid), Range(0, 9));
    EXPECT_EQ(grid.CellImage(4), kept);
    grid.SetPreviewColor(ColorTable()[4].Value);
    EXPECT_TRUE(Built(grid).empty());
    EXPECT_EQ(grid.CellImageSlots(), grid.ItemCount() + 1);
    EXPECT_EQ(Built(grid, true), Range(3, 9));

    ColorPage colors(3, 3);
    colors.SetMarkerFile(MainIcl());
    ASSERT_EQ(Built(colors, true), Range(0, 8));
    colors.SetMarkerFile(MainIcl());
    colors.SetMarkerIndex(0);
    EXPECT_EQ(Built(colors), Range(0, 8)) << "the same file and index";
    std::wstring otherCase = MainIcl();
    otherCase.replace(otherCase.size() - 8, 8, L"main.ICL");
    colors.SetMarkerFile(otherCase);
    EXPECT_TRUE(Built(colors).empty()) << "letter case counts";
    Built(colors, true);
    colors.SetMarkerIndex(6);
    EXPECT_TRUE(Built(colors).empty());
}

// --- preview pictures ----------------------------------------------------------------

TEST(GridPictures, MarkersDrawOverTheTintedBase) {
    ASSERT_TRUE(FileExists(MainIcl()));
    MarkerPage grid(7, 2);
    ColorPage colors(8, 1);
    SetWindowPos(colors.Handle(), nullptr, 0, 200, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    colors.SetBaseIcon(Shell32(), kDocument);
    const int c = grid.CellSize();
    const TBitmap base = ReaderImage(Shell32(), GroupPosition(Shell32(), 1), c);
    const TBitmap approved = ReaderImage(MainIcl(), 6, c);
    ASSERT_EQ(base.Width(), c);
    ASSERT_EQ(approved.Width(), c);
    // Where the marker is opaque the cell is the marker; where it is clear, the base pixel,
    // tinted when the file has a colour.
    auto checkMarked = [&](const TBitmap& cell, std::int32_t tint) {
        ASSERT_EQ(cell.Width(), c);
        int changed = 0;
        for (int y = 0; y < c; ++y) {
            for (int x = 0; x < c; ++x) {
                const TBgra m = approved.GetBgra(x, y), b = base.GetBgra(x, y), p = cell.GetBgra(x, y);
                if (m.A == 255) {
                    ASSERT_EQ(Rgb(p), Rgb(m)) << x << "," << y;
                    changed += Rgb(p) != Rgb(b);
                } else if (m.A == 0 && b.A == 255) {
                    ASSERT_EQ(Rgb(p), tint == NoColor ? Rgb(b) : TintPixel(Rgb(b), tint)) << x << "," << y;
                }
            }
        }
        EXPECT_GT(changed, c * c / 20) << "the marker shows";
    };
    UpdateWindow(grid.Handle());
    EXPECT_EQ(Pixels(grid, 0), base) << "Default is the plain base icon";
    checkMarked(Pixels(grid, 7), NoColor);
    grid.SetPreviewColor(ColorTable()[0].Value);
    UpdateWindow(grid.Handle());
    checkMarked(Pixels(grid, 7), ColorTable()[0].Value);
    EXPECT_EQ(Pixels(grid, 0), base) << "Default is never tinted";

    UpdateWindow(colors.Handle());
    const TBitmap orange = Pixels(colors, 2);
    colors.SetMarkerFile(MainIcl());
    colors.SetMarkerIndex(6);
    UpdateWindow(colors.Handle());
    checkMarked(Pixels(colors, 1), ColorTable()[0].Value);
    colors.SetMarkerFile(L"C:\\no such folder\\Main.icl");
    UpdateWindow(colors.Handle());
    EXPECT_EQ(Pixels(colors, 2), orange) << "no marker from a missing file";

    // No base icon at all: the marker on its own.
    grid.SetBaseIcon(L"C:\\no such folder\\none.dll", 0);
    grid.ClearCellImages();
    EXPECT_EQ(Built(grid, true), Range(0, 14));
    const TBitmap alone = Pixels(grid, 7);
    ASSERT_EQ(alone.Width(), c);
    for (int y = 0; y < c; ++y)
        for (int x = 0; x < c; ++x) {
            const TBgra m = approved.GetBgra(x, y), p = alone.GetBgra(x, y);
            ASSERT_TRUE(m.A == 255 ? Rgb(p) == Rgb(m) : m.A != 0 || p.A == 0) << x << "," << y;
        }
}

TEST(GridPictures, CellsAreLoadedAtTheSizeOfTheWindowsDpi) {
    const int document = GroupPosition(Shell32(), 1);
    const TBitmap image48 = ReaderImage(Shell32(), document, 48);
    ASSERT_EQ(image48.Width(), 48);
    SetWindowDpiSource([](HWND) -> UINT { return 144; });
    MarkerPage grid(4, 4);
    SetWindowDpiSource(nullptr);
    ASSERT_EQ(grid.CellSize(), 48);
    EXPECT_EQ(grid.ColCount(), 4);
    UpdateWindow(grid.Handle());
    EXPECT_EQ(Pixels(grid, 0), image48) << "the 48-pixel image itself, not a smaller one stretched";
    EXPECT_EQ(Pixels(grid, 1).Width(), 48);
    SavePng(Capture(grid.Handle()), L"grid-markers-48.png");
    SendMessageW(grid.Handle(), 0x02E3 /* WM_DPICHANGED_AFTERPARENT */, 0, 0);  // back at the display's
    EXPECT_EQ(grid.CellSize(), GetSystemMetrics(SM_CXICON));
    EXPECT_TRUE(Built(grid).empty());
    UpdateWindow(grid.Handle());
    EXPECT_EQ(Pixels(grid, 0), ReaderImage(Shell32(), document, grid.CellSize()));
}

// --- the bridge and the screen -------------------------------------------------------

TEST(GridBridge, IconFilesAndHandlesRoundTrip) {
    TempDir dir;
    TIconLibrary library;
    ASSERT_TRUE(library.OpenNames(std::filesystem::path(Shell32())));
    const int document = GroupPosition(Shell32(), 1);
    library.GetIcon(document)->SaveToFile(std::filesystem::path(dir / L"document.ico"));
    const THiResIcon fromDll = LoadIconPicture(Shell32(), document, 32);
    EXPECT_EQ(ColourOf(LoadIconPicture(dir / L"document.ico", 0, 32)), ColourOf(fromDll));
    EXPECT_EQ(ColourOf(LoadIconPicture(MainIcl(), 6, 24)).Width(), 24);
    // Through a platform handle and back, with alpha and with a mask only.
    TBitmap colour(8, 8, 32), mask = NewMaskBitmap(8, 8);
    for (int i = 0; i < 64; ++i) {
        colour.SetBgra(i % 8, i / 8, {std::uint8_t(i * 4), 9, std::uint8_t(i), 0});
        mask.SetIndex(i % 8, i / 8, i % 8 < 3);
    }
    for (const THiResIcon& picture : {fromDll, THiResIcon(CreateIconIndirect(colour, mask))}) {
        ::HICON handle = HiconFromPicture(picture);
        const THiResIcon back = PictureFromHicon(handle);
        DestroyIcon(handle);
        ASSERT_TRUE(back.Handle());
        EXPECT_EQ(back.Handle()->Colour, picture.Handle()->Colour);
        EXPECT_EQ(back.Handle()->Mask, picture.Handle()->Mask);
        EXPECT_EQ(back.Handle()->HasAlpha, picture.Handle()->HasAlpha);
    }
    // A monochrome icon (AND mask and XOR bits in one bitmap): left half clear, top half white.
    BYTE andBits[32 * 4], xorBits[32 * 4];
    for (int row = 0; row < 32; ++row)
        for (int b = 0; b < 4; ++b) {
            andBits[row * 4 + b] = b < 2 ? 0xFF : 0x00;
            xorBits[row * 4 + b] = row < 16 ? 0xFF : 0x00;
        }
    ::HICON mono = CreateIcon(nullptr, 32, 32, 1, 1, andBits, xorBits);
    const THiResIcon monoPicture = PictureFromHicon(mono);
    DestroyIcon(mono);
    ASSERT_TRUE(monoPicture.Handle());
    const TIconHandleData& data = *monoPicture.Handle();
    EXPECT_EQ(std::vector<bool>({MaskPixelSet(data.Mask, 5, 5), MaskPixelSet(data.Mask, 20, 5)}),
              std::vector<bool>({true, false}));
    EXPECT_EQ(data.Colour.GetPixel(20, 5), RGB(255, 255, 255));
    EXPECT_EQ(data.Colour.GetPixel(20, 25), RGB(0, 0, 0));
}

// Painted: each preview alpha-blended over white, the selected cell of the focused grid
// over the menu highlight; the screen shows what the grid paints.
TEST(GridScreen, PaintedCellsShowThePreviews) {
    ASSERT_TRUE(FileExists(MainIcl()));
    ColorPage colors(4, 2);
    MarkerPage markers(5, 3);
    SetWindowPos(markers.Handle(), nullptr, 0, kEdge + 2 * colors.CellSize() + 8, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    const TIconPathRec help = GetIconLocation(L"C:\\guide.chm");  // a type icon of Wine's own
    ASSERT_TRUE(FileExists(help.Path)) << help.Path;
    colors.SetBaseIcon(help.Path, help.Index);
    markers.SetBaseIcon(help.Path, help.Index);
    colors.SetMarkerFile(MainIcl());
    colors.SetMarkerIndex(6);
    markers.SetPreviewColor(ColorTable()[4].Value);
    colors.SelectCell(2);
    SetFocus(colors.Handle());
    UpdateWindow(Host());
    const TBitmap shot = Capture(colors.Handle());
    SavePng(shot, L"grid-colors.png");
    SavePng(Capture(markers.Handle()), L"grid-markers.png");
    SavePng(Capture(Host(), true), L"grid-window.png");
    EXPECT_EQ(Capture(colors.Handle(), true), shot);

    const int c = colors.CellSize();
    const TBitmap red = Pixels(colors, 1), orange = Pixels(colors, 2);
    ASSERT_EQ(red.Width(), c);
    SetFocus(markers.Handle());
    const TBitmap unfocused = Capture(colors.Handle());
    int worst = 0, clear = 0, filled = 0, white = 0;
    for (int y = 1; y < c - 1; ++y) {  // inside the focus rectangle
        for (int x = 1; x < c - 1; ++x) {
            const TBgra p = red.GetBgra(x, y);
            const TColorRef got = shot.GetPixel(c + x, y);
            for (auto [want, have] : {std::pair{p.R, GetRValue(got)}, {p.G, GetGValue(got)}, {p.B, GetBValue(got)}})
                worst = std::max(worst, std::abs((want * p.A + 255 * (255 - p.A) + 127) / 255 - have));
            if (orange.GetBgra(x, y).A == 0) {
                ++clear;
                filled += shot.GetPixel(2 * c + x, y) == GetSysColor(COLOR_MENUHILIGHT);
                white += unfocused.GetPixel(2 * c + x, y) == RGB(255, 255, 255);
            }
        }
    }
    EXPECT_LE(worst, 2) << "red cell over white";
    EXPECT_GT(clear, 0);
    EXPECT_EQ(filled, clear) << "selected cell of the focused grid";
    EXPECT_EQ(white, clear) << "selected cell of a grid without focus";
}
