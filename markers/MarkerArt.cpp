#include "markers/MarkerArt.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>

#include "imaging/Error.h"
#include "imaging/MarkerGeometry.h"

namespace vantrel {

namespace {

// --- shapes as signed distances, in the sign's own unit square (y down) ------------------
struct P {
    double x, y;
};
using Shape = std::function<double(P)>;

double Length(double x, double y) { return std::sqrt(x * x + y * y); }

Shape Disc(P c, double r) {
    return [=](P p) { return Length(p.x - c.x, p.y - c.y) - r; };
}

Shape RoundBox(P c, double hw, double hh, double r) {
    return [=](P p) {
        const double qx = std::fabs(p.x - c.x) - hw + r, qy = std::fabs(p.y - c.y) - hh + r;
        return Length(std::max(qx, 0.0), std::max(qy, 0.0)) + std::min(std::max(qx, qy), 0.0) - r;
    };
}

// A thick line with round ends.
Shape Capsule(P a, P b, double r) {
    return [=](P p) {
        const double px = p.x - a.x, py = p.y - a.y, bx = b.x - a.x, by = b.y - a.y;
        const double h = std::clamp((px * bx + py * by) / (bx * bx + by * by), 0.0, 1.0);
        return Length(px - bx * h, py - by * h) - r;
    };
}

Shape Polygon(std::vector<P> v) {
    return [v](P p) {
        double d = 1e9;
        bool inside = false;
        for (std::size_t i = 0, j = v.size() - 1; i < v.size(); j = i++) {
            const double ex = v[j].x - v[i].x, ey = v[j].y - v[i].y;
            const double wx = p.x - v[i].x, wy = p.y - v[i].y;
            const double h = std::clamp((wx * ex + wy * ey) / (ex * ex + ey * ey), 0.0, 1.0);
            d = std::min(d, Length(wx - ex * h, wy - ey * h));
            if ((v[i].y > p.y) != (v[j].y > p.y) && p.x < (v[j].x - v[i].x) * (p.y - v[i].y) / (v[j].y - v[i].y) + v[i].x)
                inside = !inside;
        }
        return inside ? -d : d;
    };
}

Shape Union(std::vector<Shape> parts) {
    return [parts](P p) {
        double d = 1e9;
        for (const Shape& s : parts) d = std::min(d, s(p));
        return d;
    };
}

// A thick arc from angle a0 to a1 (degrees, 0 = right, clockwise on screen), as capsules.
Shape Arc(P c, double radius, double a0, double a1, double r) {
    std::vector<Shape> parts;
    const int steps = 12;
    for (int i = 0; i < steps; ++i) {
        const double t0 = (a0 + (a1 - a0) * i / steps) * std::numbers::pi / 180, t1 = (a0 + (a1 - a0) * (i + 1) / steps) * std::numbers::pi / 180;
        parts.push_back(Capsule({c.x + radius * std::cos(t0), c.y + radius * std::sin(t0)},
                                {c.x + radius * std::cos(t1), c.y + radius * std::sin(t1)}, r));
    }
    return Union(parts);
}

Shape Star(P c, double outer, double inner) {
    std::vector<P> v;
    for (int i = 0; i < 10; ++i) {
        const double a = (-90 + 36 * i) * std::numbers::pi / 180, r = i % 2 ? inner : outer;
        v.push_back({c.x + r * std::cos(a), c.y + r * std::sin(a)});
    }
    return Polygon(v);
}

struct Rgb {
    double r, g, b;
};

// A marker: a badge of one colour with a white sign on it.
struct Design {
    const char* name;
    Shape badge;
    Rgb colour;
    Shape sign;  // may be empty: the badge is the sign
};

const double kStroke = 0.085;  // line width of the white signs, in badge units

std::vector<Design> Designs() {
    const Shape circle = Disc({0.5, 0.5}, 0.46);
    const Shape square = RoundBox({0.5, 0.5}, 0.44, 0.44, 0.12);
    const Rgb red{0.86, 0.16, 0.14}, green{0.15, 0.62, 0.22}, blue{0.13, 0.42, 0.84}, orange{0.95, 0.53, 0.08},
        amber{0.93, 0.70, 0.05}, purple{0.50, 0.30, 0.80}, grey{0.40, 0.42, 0.46}, gold{0.98, 0.76, 0.10};
    auto check = Union({Capsule({0.27, 0.52}, {0.43, 0.68}, kStroke), Capsule({0.43, 0.68}, {0.74, 0.33}, kStroke)});
    auto cross = Union({Capsule({0.32, 0.32}, {0.68, 0.68}, kStroke), Capsule({0.68, 0.32}, {0.32, 0.68}, kStroke)});
    return {
        {"Hi-Priority", circle, red,
         Union({Capsule({0.5, 0.22}, {0.5, 0.56}, kStroke), Disc({0.5, 0.77}, kStroke * 1.15)})},
        {"Question", circle, blue,
         Union({Arc({0.5, 0.38}, 0.15, 180, 390, kStroke), Capsule({0.63, 0.45}, {0.5, 0.58}, kStroke),
                Disc({0.5, 0.79}, kStroke * 1.1)})},
        {"Low Priority", circle, grey,
         Union({Capsule({0.5, 0.22}, {0.5, 0.6}, kStroke), Polygon({{0.27, 0.52}, {0.73, 0.52}, {0.5, 0.8}})})},
        {"Planned Work", circle, orange,
         Union({Capsule({0.5, 0.5}, {0.5, 0.24}, kStroke), Capsule({0.5, 0.5}, {0.7, 0.62}, kStroke)})},
        {"In Progress", circle, amber, Polygon({{0.36, 0.26}, {0.76, 0.5}, {0.36, 0.74}})},
        {"Done Work", square, green, check},
        {"Approved", circle, green, check},
        {"On Hold", circle, purple,
         Union({Capsule({0.39, 0.3}, {0.39, 0.7}, kStroke), Capsule({0.61, 0.3}, {0.61, 0.7}, kStroke)})},
        {"Rejected", circle, red, cross},
        {"Important", Star({0.5, 0.53}, 0.5, 0.22), gold, nullptr},
        {"Flagged", Union({Capsule({0.2, 0.1}, {0.2, 0.92}, 0.07), Polygon({{0.22, 0.08}, {0.92, 0.32}, {0.22, 0.58}})}),
         red, nullptr},
        {"Locked", Union({RoundBox({0.5, 0.66}, 0.36, 0.28, 0.07), Arc({0.5, 0.38}, 0.2, 180, 360, 0.075),
                          Capsule({0.3, 0.38}, {0.3, 0.45}, 0.075), Capsule({0.7, 0.38}, {0.7, 0.45}, 0.075)}),
         grey, Union({Disc({0.5, 0.62}, 0.07), Capsule({0.5, 0.62}, {0.5, 0.76}, 0.04)})},
        {"Information", circle, blue,
         Union({Disc({0.5, 0.25}, kStroke * 1.1), Capsule({0.5, 0.48}, {0.5, 0.77}, kStroke)})},
    };
}

const std::vector<Design>& AllDesigns() {
    static const std::vector<Design> designs = Designs();
    return designs;
}

double Coverage(const Shape& s, double x0, double y0, double px, int samples) {
    int in = 0;
    for (int j = 0; j < samples; ++j)
        for (int i = 0; i < samples; ++i)
            if (s({x0 + (i + 0.5) * px / samples, y0 + (j + 0.5) * px / samples}) < 0) ++in;
    return double(in) / (samples * samples);
}

}  // namespace

const std::vector<TMarkerDesign>& MarkerDesigns() {
    static const std::vector<TMarkerDesign> list = [] {
        std::vector<TMarkerDesign> out;
        for (std::size_t i = 0; i < AllDesigns().size(); ++i) out.push_back({AllDesigns()[i].name, int(i)});
        return out;
    }();
    return list;
}

const std::vector<int>& MarkerSizes() {
    static const std::vector<int> sizes = {16, 24, 32, 48, 256};
    return sizes;
}

TBitmap DrawMarker(int index, int size) {
    if (index < 0 || std::size_t(index) >= AllDesigns().size()) throw Error("No such marker");
    const Design& d = AllDesigns()[std::size_t(index)];
    TBitmap bitmap(size, size, 32);
    const int box = MarkerBadgeSize(size);
    const int left = MarkerBadgeLeft(size), top = MarkerBadgeTop(size);
    const double px = 1.0 / box;  // one pixel in badge units
    // A dark rim of about one pixel (thinner, relatively, on large pictures) keeps the sign
    // readable over light and dark icons alike.
    const double rim = std::max(px * 1.1, 0.035);
    const Shape rimShape = [&](P p) { return d.badge(p) - rim; };
    const Rgb dark{d.colour.r * 0.45, d.colour.g * 0.45, d.colour.b * 0.45};
    const int samples = size >= 128 ? 4 : 8;

    for (int y = 0; y < box; ++y)
        for (int x = 0; x < box; ++x) {
            const double ux = x * px, uy = y * px;
            const double aRim = Coverage(rimShape, ux - rim * 0, uy, px, samples);
            if (aRim <= 0) continue;
            const double aFill = Coverage(d.badge, ux, uy, px, samples);
            const double aSign = d.sign ? Coverage(d.sign, ux, uy, px, samples) : 0.0;
            // Fill: lighter at the top, the colour itself at the bottom.
            const double shade = 1.0 + 0.35 * (0.5 - (uy + px / 2));
            Rgb fill{std::min(1.0, d.colour.r * shade), std::min(1.0, d.colour.g * shade),
                     std::min(1.0, d.colour.b * shade)};
            // Layers over each other: rim, fill, white sign.
            Rgb c = dark;
            c = {c.r + (fill.r - c.r) * (aFill / aRim), c.g + (fill.g - c.g) * (aFill / aRim),
                 c.b + (fill.b - c.b) * (aFill / aRim)};
            const double s = aFill > 0 ? std::min(aSign / aFill, 1.0) : 0.0;
            c = {c.r + (1 - c.r) * s, c.g + (1 - c.g) * s, c.b + (1 - c.b) * s};
            auto to8 = [](double v) { return std::uint8_t(std::lround(std::clamp(v, 0.0, 1.0) * 255)); };
            bitmap.SetBgra(left + x, top + y, {to8(c.b), to8(c.g), to8(c.r), to8(aRim)});
        }
    return bitmap;
}

namespace {

void AddPictures(TAdvancedIcon& icon, const std::function<TBitmap(int)>& draw) {
    icon.Images().Clear();
    for (int size : MarkerSizes()) {
        TBitmap picture = draw(size);
        icon.Images().AddFromBitmaps(picture, nullptr, 0);
        if (size >= 256) {
            TSubIcon* image = icon.Images().Get(icon.Images().Count() - 1);
            image->EncodePng(*image);
        }
    }
}

}  // namespace

void MakeMarkerIcon(int index, TAdvancedIcon& icon) {
    AddPictures(icon, [index](int size) { return DrawMarker(index, size); });
}

TBitmap DrawAppIcon(int size) {
    // A sheet with a folded corner and a few lines of text, in the upper right of the
    // square, so the marker's sign in the lower left overlaps its edge as on a marked file.
    const Shape sheet = Polygon({{0.22, 0.04}, {0.70, 0.04}, {0.90, 0.24}, {0.90, 0.96}, {0.22, 0.96}});
    const Shape fold = Polygon({{0.70, 0.04}, {0.70, 0.24}, {0.90, 0.24}});
    const Shape lines = Union({Capsule({0.34, 0.36}, {0.78, 0.36}, 0.022), Capsule({0.34, 0.48}, {0.78, 0.48}, 0.022),
                               Capsule({0.34, 0.60}, {0.78, 0.60}, 0.022), Capsule({0.34, 0.24}, {0.58, 0.24}, 0.022)});
    const double px = 1.0 / size;
    const double rim = std::max(px * 1.2, 0.02);
    const Shape outline = [&](P p) { return sheet(p) - rim; };
    const int samples = size >= 128 ? 3 : 8;
    TBitmap bitmap(size, size, 32);
    auto to8 = [](double v) { return std::uint8_t(std::lround(std::clamp(v, 0.0, 1.0) * 255)); };
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const double ux = x * px, uy = y * px;
            const double aOut = Coverage(outline, ux, uy, px, samples);
            if (aOut <= 0) continue;
            const double aIn = Coverage(sheet, ux, uy, px, samples);
            const double aFold = Coverage(fold, ux, uy, px, samples);
            const double aLine = Coverage(lines, ux, uy, px, samples);
            // Grey rim, white sheet lightly shaded to the bottom, a darker fold, blue-grey lines.
            double v = 0.45;
            const double paper = 1.0 - 0.08 * uy;
            v += (paper - v) * (aIn / aOut);
            v += (0.80 - v) * std::min(aFold / std::max(aIn, 1e-9), 1.0) * (aIn / aOut);
            double r = v, g = v, b = v;
            const double l = std::min(aLine / std::max(aIn, 1e-9), 1.0) * (aIn / aOut);
            r += (0.55 - r) * l;
            g += (0.62 - g) * l;
            b += (0.74 - b) * l;
            bitmap.SetBgra(x, y, {to8(b), to8(g), to8(r), to8(aOut)});
        }
    // The "Approved" sign over it, blended source-over.
    const TBitmap sign = DrawMarker(6, size);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const TBgra s = sign.GetBgra(x, y);
            if (s.A == 0) continue;
            const TBgra d = bitmap.GetBgra(x, y);
            const double sa = s.A / 255.0, da = d.A / 255.0, oa = sa + da * (1 - sa);
            auto mix = [&](std::uint8_t sc, std::uint8_t dc) { return (sc * sa + dc * da * (1 - sa)) / (oa * 255.0); };
            bitmap.SetBgra(x, y, {to8(mix(s.B, d.B)), to8(mix(s.G, d.G)), to8(mix(s.R, d.R)), to8(oa)});
        }
    return bitmap;
}

void MakeAppIcon(TAdvancedIcon& icon) { AddPictures(icon, DrawAppIcon); }

}  // namespace vantrel
