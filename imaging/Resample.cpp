#include "imaging/Resample.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "imaging/Error.h"

namespace vantrel {

namespace {

constexpr double kLobes = 3.0;

double Sinc(double x) {
    if (x == 0.0) return 1.0;
    const double px = std::numbers::pi * x;
    return std::sin(px) / px;
}

double Lanczos(double x) { return std::abs(x) < kLobes ? Sinc(x) * Sinc(x / kLobes) : 0.0; }

// The input pixels and weights that make each output pixel of one axis.
struct TTaps {
    std::vector<int> First;       // first input pixel of output pixel i
    std::vector<int> Count;       // number of input pixels of output pixel i
    std::vector<double> Weights;  // Count[i] weights of output pixel i, from Offset[i]
    std::vector<std::size_t> Offset;
};

TTaps MakeTaps(int inSize, int outSize) {
    TTaps taps;
    const double scale = double(inSize) / double(outSize);
    // Shrinking widens the kernel so that every input pixel contributes.
    const double widen = std::max(scale, 1.0);
    const double support = kLobes * widen;
    taps.First.resize(std::size_t(outSize));
    taps.Count.resize(std::size_t(outSize));
    taps.Offset.resize(std::size_t(outSize));
    for (int i = 0; i < outSize; ++i) {
        const double centre = (i + 0.5) * scale;
        const int first = std::max(int(std::floor(centre - support + 0.5)), 0);
        const int last = std::min(int(std::floor(centre + support + 0.5)), inSize);  // one past
        taps.First[std::size_t(i)] = first;
        taps.Offset[std::size_t(i)] = taps.Weights.size();
        double sum = 0;
        for (int x = first; x < last; ++x) {
            const double w = Lanczos((x - centre + 0.5) / widen);
            taps.Weights.push_back(w);
            sum += w;
        }
        int count = std::max(last - first, 0);
        if (sum == 0.0) {
            // Cannot happen for a centre inside the input; one pixel keeps the output defined.
            taps.Weights.resize(taps.Offset[std::size_t(i)]);
            taps.Weights.push_back(1.0);
            taps.First[std::size_t(i)] = std::clamp(int(centre), 0, inSize - 1);
            count = 1;
        } else {
            for (std::size_t k = taps.Offset[std::size_t(i)]; k < taps.Weights.size(); ++k) taps.Weights[k] /= sum;
        }
        taps.Count[std::size_t(i)] = count;
    }
    return taps;
}

void CheckSide(int side, const char* what) {
    if (side < 1 || side > MaxResampleSide)
        throw Error(std::string("Cannot scale a picture to a ") + what + " of " + std::to_string(side) +
                    " pixels (1 to " + std::to_string(MaxResampleSide) + " are possible)");
}

}  // namespace

TBitmap ResampleBitmap(const TBitmap& source, int width, int height, TAlphaForm form) {
    if (source.BitCount() != 32) throw Error("Only 32-bit pictures can be scaled");
    if (source.Empty()) throw Error("Cannot scale a picture without pixels");
    if (source.Width() > MaxResampleSide || source.Height() > MaxResampleSide)
        throw Error("The picture is too large to scale (" + std::to_string(source.Width()) + " x " +
                    std::to_string(source.Height()) + " pixels)");
    CheckSide(width, "width");
    CheckSide(height, "height");
    const int sw = source.Width(), sh = source.Height();

    // Horizontal pass into width x sh, premultiplying the source's pixels as they are read,
    // then the vertical pass into width x height. Only the narrow intermediate picture is
    // held, its values kept in 0 .. 255 as an 8-bit picture would keep them.
    const bool straight = form == TAlphaForm::Straight;
    const TTaps horizontal = MakeTaps(sw, width);
    std::vector<float> mid(std::size_t(width) * std::size_t(sh) * 4);
    for (int y = 0; y < sh; ++y)
        for (int x = 0; x < width; ++x) {
            double acc[4] = {0, 0, 0, 0};
            const std::size_t offset = horizontal.Offset[std::size_t(x)];
            const int first = horizontal.First[std::size_t(x)];
            for (int k = 0; k < horizontal.Count[std::size_t(x)]; ++k) {
                const double w = horizontal.Weights[offset + std::size_t(k)];
                const TBgra p = source.GetBgra(first + k, y);
                const double f = straight ? p.A / 255.0 : 1.0;
                acc[0] += w * p.B * f;
                acc[1] += w * p.G * f;
                acc[2] += w * p.R * f;
                acc[3] += w * p.A;
            }
            float* q = &mid[(std::size_t(y) * std::size_t(width) + std::size_t(x)) * 4];
            for (int c = 0; c < 4; ++c) q[c] = float(std::clamp(acc[c], 0.0, 255.0));
        }

    const TTaps vertical = MakeTaps(sh, height);
    TBitmap result(width, height, 32);
    for (int y = 0; y < height; ++y) {
        const std::size_t offset = vertical.Offset[std::size_t(y)];
        const int first = vertical.First[std::size_t(y)];
        for (int x = 0; x < width; ++x) {
            double acc[4] = {0, 0, 0, 0};
            for (int k = 0; k < vertical.Count[std::size_t(y)]; ++k) {
                const double w = vertical.Weights[offset + std::size_t(k)];
                const float* p = &mid[(std::size_t(first + k) * std::size_t(width) + std::size_t(x)) * 4];
                for (int c = 0; c < 4; ++c) acc[c] += w * p[c];
            }
            // Ringing may leave a colour above its alpha or below zero: premultiplied colours
            // live in 0 .. alpha.
            const double a = std::clamp(acc[3], 0.0, 255.0);
            const auto alpha = std::uint8_t(std::lround(a));
            TBgra out;
            out.A = alpha;
            if (alpha > 0) {
                const double f = straight ? 255.0 / a : 1.0;
                const auto channel = [&](double v) {
                    const double premultiplied = std::clamp(v, 0.0, a);
                    return std::uint8_t(std::lround(std::clamp(premultiplied * f, 0.0, 255.0)));
                };
                out.B = channel(acc[0]);
                out.G = channel(acc[1]);
                out.R = channel(acc[2]);
            }
            result.SetBgra(x, y, out);
        }
    }
    return result;
}

}  // namespace vantrel
