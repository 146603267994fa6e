#include "imaging/Colorize.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "imaging/ImagingLog.h"
#include "imaging/OverlayCompose.h"

namespace vantrel {

namespace {

// Round to nearest, ties to even (4.5 gives 4, 5.5 gives 6).
long RoundEven(double value) {
    double r = std::round(value);
    if (std::fabs(value - std::trunc(value)) == 0.5 && std::fmod(r, 2.0) != 0.0) r -= std::copysign(1.0, value);
    return static_cast<long>(r);
}

int ImageDepth(int bits) {
    switch (bits) {
        case 1: case 4: case 8: case 16: case 24: case 32: return bits;
        default: return 32;
    }
}

double ChannelValue(double p, double q, double t) {
    if (t < 0) t += 1;
    if (t > 1) t -= 1;
    if (t < 1.0 / 6) return p + (q - p) * 6 * t;
    if (t < 1.0 / 2) return q;
    if (t < 2.0 / 3) return p + (q - p) * (2.0 / 3 - t) * 6;
    return p;
}

int ToChannel(double value) { return static_cast<int>(std::clamp<long>(RoundEven(value * 255), 0, 255)); }

}  // namespace

const std::array<TNamedColor, 7>& ColorTable() {
    static const std::array<TNamedColor, 7> table = {{
        {L"Red", 3556862},
        {L"Orange", 3381759},
        {L"Yellow", 2937854},
        {L"Green", 2947604},
        {L"Blue", 16748891},
        {L"Purple", 16738997},
        {L"Gray", 11711154},
    }};
    return table;
}

THsl RgbToHsl(int r, int g, int b) {
    const int maxc = std::max({r, g, b}), minc = std::min({r, g, b});
    THsl hsl;
    if (maxc == minc) {
        hsl.H = 240;
    } else {
        const double d = maxc - minc;
        double h;
        if (maxc == r && g >= b) h = (g - b) * 60 / d;
        else if (maxc == r) h = (g - b) * 60 / d + 360;
        else if (maxc == g) h = (b - r) * 60 / d + 120;
        else h = (r - g) * 60 / d + 240;
        hsl.H = static_cast<int>(RoundEven(h));
    }
    hsl.L = (maxc + minc) / 2.0 / 255.0;
    if (maxc == minc || hsl.L == 0) {
        hsl.S = 0;
    } else {
        const double dn = (maxc - minc) / 255.0;
        hsl.S = hsl.L <= 0.5 ? dn / (2 * hsl.L) : dn / (2 - 2 * hsl.L);
    }
    return hsl;
}

void HslToRgb(const THsl& hsl, int& red, int& green, int& blue) {
    const double q = hsl.L < 0.5 ? hsl.L * (1 + hsl.S) : hsl.L + hsl.S - hsl.L * hsl.S;
    const double p = 2 * hsl.L - q;
    const double h = hsl.H / 360.0;
    red = ToChannel(ChannelValue(p, q, h + 1.0 / 3));
    green = ToChannel(ChannelValue(p, q, h));
    blue = ToChannel(ChannelValue(p, q, h - 1.0 / 3));
}

namespace {

THsl TargetOf(std::int32_t color) {
    const auto c = static_cast<std::uint32_t>(color);
    return RgbToHsl(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF));
}

TColorRef TintWith(const THsl& target, TColorRef pixel) {
    const int r = GetRValue(pixel), g = GetGValue(pixel), b = GetBValue(pixel);
    THsl tinted = target;
    tinted.L *= (std::max({r, g, b}) + std::min({r, g, b})) / 2.0 / 255.0;
    int nr, ng, nb;
    HslToRgb(tinted, nr, ng, nb);
    return RGB(std::uint8_t(nr), std::uint8_t(ng), std::uint8_t(nb));
}

}  // namespace

TColorRef TintPixel(TColorRef pixel, std::int32_t color) { return TintWith(TargetOf(color), pixel); }

void TintBitmap(TBitmap& bitmap, std::int32_t color) {
    const THsl target = TargetOf(color);
    if (bitmap.BitCount() == 32) {
        for (int y = 0; y < bitmap.Height(); ++y) {
            std::uint8_t* row = bitmap.ScanLine(y);
            for (int x = 0; x < bitmap.Width(); ++x) {
                std::uint8_t* px = row + 4 * x;
                const TColorRef tinted = TintWith(target, RGB(px[2], px[1], px[0]));
                px[0] = GetBValue(tinted);
                px[1] = GetGValue(tinted);
                px[2] = GetRValue(tinted);
            }
        }
        return;
    }
    if (bitmap.IsIndexed()) {
        // The tint is a function of the colour alone, so tinting the palette tints every
        // pixel exactly; mapping tinted pixels onto the old palette would lose them (a
        // tinted white in a two-colour image is nearer to black than to white).
        std::vector<TRgbQuad> palette = bitmap.Palette();
        for (TRgbQuad& entry : palette) entry = QuadFromColor(TintWith(target, ColorFromQuad(entry)));
        bitmap.SetPalette(std::move(palette));
        return;
    }
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x) bitmap.SetPixel(x, y, TintWith(target, bitmap.GetPixel(x, y)));
}

void ColorizeIcon(const TAdvancedIcon& source, TAdvancedIcon& result, std::int32_t color) {
    const TSubIconList& images = source.Images();
    for (int i = 0; i < images.Count(); ++i) {
        const TSubIcon& image = *images.Get(i);
        bool pngInvolved = false;
        TBitmap colour, mask;
        if (image.StoreAsPng()) {
            PngToBitmaps(image, colour, mask);
            pngInvolved = true;
        } else {
            try {
                TIconInfo info = GetIconInfo(image.GetHandle());
                if (info.Colour.Empty() || info.Mask.Empty()) throw Error("The image has no pixels");
                colour = info.Colour.ConvertTo(ImageDepth(image.GetBitDepth()));
                mask = std::move(info.Mask);
            } catch (const Error& e) {
                ImagingLog(std::wstring(e.what(), e.what() + std::char_traits<char>::length(e.what())), L"Colorize",
                           ImagingLogError, false);
                ImagingLog(L"not GetIconInfo from Icon", L"Colorize", ImagingLogError, false);
                PngToBitmaps(image, colour, mask);
                pngInvolved = true;
            }
        }
        TintBitmap(colour, color);
        result.Images().AddFromBitmaps(colour, &mask, 1);
        if (pngInvolved) {
            TSubIcon* added = result.Images().Get(result.Images().Count() - 1);
            added->EncodePng(*added);
        }
    }
}

void ColorizeIcon(const std::filesystem::path& source, const std::filesystem::path& destination, std::int32_t color) {
    TAdvancedIcon icon, result;
    icon.LoadFromFile(source);
    ColorizeIcon(icon, result, color);
    result.SaveToFile(destination);
}

void ColorizeIconPicture(const THiResIcon& icon, THiResIcon& result, std::int32_t color) {
    TIconInfo info = GetIconInfo(icon.Handle());
    if (info.Colour.Empty()) return;
    TBitmap colour = info.Colour.BitCount() == 32 ? info.Colour : info.Colour.ConvertTo(32);
    TintBitmap(colour, color);
    result.SetHandle(CreateIconIndirect(colour, info.Mask));
}

}  // namespace vantrel
