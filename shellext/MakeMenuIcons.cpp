// Draws the shell extension's menu pictures and writes them as .ico files for the
// resource script: 33 colour swatches (eleven hues in three shades, resources 300 to
// 332) and the "Mark File" picture (resource 333). Each icon holds a 16x16 and a 32x32
// image, 32-bit with alpha, drawn with 4x4 supersampling.
//
// Usage: make_menu_icons <output folder>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

struct Rgba {
    double r = 0, g = 0, b = 0, a = 0;  // straight (not premultiplied), 0..255 / 0..1
};

// Paints a shape into a size x size image: `sample` answers the colour at a point
// in a 0..1 x 0..1 square (y down), or alpha 0 outside the shape.
using Sampler = std::function<Rgba(double x, double y)>;

std::vector<uint8_t> Render(int size, const Sampler& sample) {
    std::vector<uint8_t> bgra(static_cast<size_t>(size) * size * 4);
    const int ss = 4;
    for (int py = 0; py < size; ++py)
        for (int px = 0; px < size; ++px) {
            double r = 0, g = 0, b = 0, a = 0;
            for (int sy = 0; sy < ss; ++sy)
                for (int sx = 0; sx < ss; ++sx) {
                    Rgba c = sample((px + (sx + 0.5) / ss) / size, (py + (sy + 0.5) / ss) / size);
                    r += c.r * c.a;
                    g += c.g * c.a;
                    b += c.b * c.a;
                    a += c.a;
                }
            size_t i = (static_cast<size_t>(py) * size + px) * 4;
            if (a > 0) {
                bgra[i + 0] = static_cast<uint8_t>(std::lround(std::clamp(b / a, 0.0, 255.0)));
                bgra[i + 1] = static_cast<uint8_t>(std::lround(std::clamp(g / a, 0.0, 255.0)));
                bgra[i + 2] = static_cast<uint8_t>(std::lround(std::clamp(r / a, 0.0, 255.0)));
            }
            bgra[i + 3] = static_cast<uint8_t>(std::lround(std::clamp(a / (ss * ss), 0.0, 1.0) * 255.0));
        }
    return bgra;
}

void Put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

// One ICO entry's image: BITMAPINFOHEADER, bottom-up BGRA rows, then the AND mask
// (set where the pixel is fully transparent), rows padded to 32 bits.
std::vector<uint8_t> DibImage(int size, const std::vector<uint8_t>& bgra) {
    std::vector<uint8_t> out;
    Put32(out, 40);
    Put32(out, static_cast<uint32_t>(size));
    Put32(out, static_cast<uint32_t>(size * 2));
    Put16(out, 1);
    Put16(out, 32);
    for (int i = 0; i < 6; ++i) Put32(out, 0);
    for (int y = size - 1; y >= 0; --y)
        out.insert(out.end(), bgra.begin() + static_cast<long>(y) * size * 4,
                   bgra.begin() + static_cast<long>(y + 1) * size * 4);
    const int maskStride = ((size + 31) / 32) * 4;
    for (int y = size - 1; y >= 0; --y) {
        std::vector<uint8_t> row(static_cast<size_t>(maskStride), 0);
        for (int x = 0; x < size; ++x)
            if (bgra[(static_cast<size_t>(y) * size + x) * 4 + 3] == 0) row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

bool WriteIco(const std::string& path, const Sampler& sample) {
    const int sizes[] = {16, 32};
    std::vector<std::vector<uint8_t>> images;
    for (int s : sizes) images.push_back(DibImage(s, Render(s, sample)));
    std::vector<uint8_t> out;
    Put16(out, 0);
    Put16(out, 1);
    Put16(out, static_cast<uint32_t>(images.size()));
    uint32_t offset = 6 + 16 * static_cast<uint32_t>(images.size());
    for (size_t i = 0; i < images.size(); ++i) {
        out.push_back(static_cast<uint8_t>(sizes[i]));
        out.push_back(static_cast<uint8_t>(sizes[i]));
        out.push_back(0);
        out.push_back(0);
        Put16(out, 1);
        Put16(out, 32);
        Put32(out, static_cast<uint32_t>(images[i].size()));
        Put32(out, offset);
        offset += static_cast<uint32_t>(images[i].size());
    }
    for (const auto& img : images) out.insert(out.end(), img.begin(), img.end());
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
    return std::fclose(f) == 0 && ok;
}

// Signed distance to a rounded rectangle centred at (cx, cy).
double RoundRect(double x, double y, double cx, double cy, double halfW, double halfH, double radius) {
    double qx = std::fabs(x - cx) - (halfW - radius);
    double qy = std::fabs(y - cy) - (halfH - radius);
    double outside = std::hypot(std::max(qx, 0.0), std::max(qy, 0.0));
    return outside + std::min(std::max(qx, qy), 0.0) - radius;
}

Rgba Scale(const Rgba& c, double f) { return {c.r * f, c.g * f, c.b * f, c.a}; }
Rgba Mix(const Rgba& a, const Rgba& b, double t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t, a.a + (b.a - a.a) * t};
}

// Eleven hues; the third shade of each is the colour itself, as the menu's colour
// commands pass it (Blue, Gray, Green and Red are those of the menu).
const Rgba kHues[11] = {
    {91, 145, 255, 1},   // blue
    {40, 200, 230, 1},   // cyan
    {178, 178, 178, 1},  // gray
    {20, 250, 44, 1},    // green
    {160, 220, 40, 1},   // lime
    {254, 211, 44, 1},   // yellow
    {255, 153, 51, 1},   // orange
    {170, 110, 60, 1},   // brown
    {254, 69, 54, 1},    // red
    {255, 105, 180, 1},  // pink
    {181, 106, 255, 1},  // purple
};
const double kShades[3] = {0.45, 0.7, 1.0};

// A rounded square of the colour with a darker rim and a soft highlight at the top.
Sampler Swatch(Rgba colour) {
    return [colour](double x, double y) -> Rgba {
        double d = RoundRect(x, y, 0.5, 0.5, 0.44, 0.44, 0.12);
        if (d > 0) return {};
        if (d > -0.07) return Scale(colour, 0.6);
        Rgba c = Mix(colour, Rgba{255, 255, 255, 1}, std::max(0.0, 0.35 - y) * 0.8);
        return c;
    };
}

// The "Mark File" picture: a page with a folded corner and a marker badge (a green
// disc with a white tick) at its lower right.
Rgba MenuPicture(double x, double y) {
    // Badge on top.
    const double bx = 0.68, by = 0.68, br = 0.29;
    double db = std::hypot(x - bx, y - by);
    if (db <= br) {
        if (db > br - 0.06) return {20, 120, 40, 1};
        // Tick: two strokes (0.56,0.69)-(0.65,0.78) and (0.65,0.78)-(0.81,0.58).
        auto segDist = [](double px, double py, double ax, double ay, double qx, double qy) {
            double vx = qx - ax, vy = qy - ay;
            double t = std::clamp(((px - ax) * vx + (py - ay) * vy) / (vx * vx + vy * vy), 0.0, 1.0);
            return std::hypot(px - (ax + t * vx), py - (ay + t * vy));
        };
        double dt = std::min(segDist(x, y, 0.56, 0.69, 0.65, 0.78), segDist(x, y, 0.65, 0.78, 0.81, 0.58));
        if (dt < 0.05) return {255, 255, 255, 1};
        return Mix(Rgba{60, 210, 80, 1}, Rgba{20, 160, 50, 1}, (y - (by - br)) / (2 * br));
    }
    // Page: x 0.12..0.72, y 0.04..0.92 with the top right corner folded.
    const double l = 0.12, r = 0.72, t = 0.04, b = 0.92, fold = 0.2;
    if (x < l || x > r || y < t || y > b) return {};
    if (x - (r - fold) > y - t) return {};  // cut corner
    const double rim = 0.055;
    bool edge = x < l + rim || x > r - rim || y < t + rim || y > b - rim ||
                std::fabs((x - (r - fold)) - (y - t)) < rim * 1.2;
    // The fold's triangle.
    if (x > r - fold && y < t + fold && x - (r - fold) <= y - t) {
        if (edge) return {90, 90, 100, 1};
        return {205, 210, 220, 1};
    }
    if (edge) return {90, 90, 100, 1};
    // Text lines on the page.
    if (x > l + 0.1 && x < r - 0.12 && y > 0.3 && y < 0.62 && std::fmod(y - 0.3, 0.11) < 0.05)
        return {150, 160, 180, 1};
    return {252, 252, 255, 1};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_menu_icons <output folder>\n");
        return 2;
    }
    const std::string dir = argv[1];
    for (int h = 0; h < 11; ++h)
        for (int s = 0; s < 3; ++s) {
            const int id = 300 + 3 * h + s;
            if (!WriteIco(dir + "/icon" + std::to_string(id) + ".ico", Swatch(Scale(kHues[h], kShades[s])))) {
                std::fprintf(stderr, "make_menu_icons: cannot write icon %d\n", id);
                return 1;
            }
        }
    if (!WriteIco(dir + "/icon333.ico", MenuPicture)) {
        std::fprintf(stderr, "make_menu_icons: cannot write icon 333\n");
        return 1;
    }
    return 0;
}
