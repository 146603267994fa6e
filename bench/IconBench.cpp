// Reading and writing a 7-image icon (16 to 128 pixels as 32-bit DIBs, 256 pixels as a PNG
// entry), with libpng's own decode and encode of the same 256-pixel PNG as the baseline.
// After the usual table it prints each figure as a ratio to its baseline.
#include <benchmark/benchmark.h>
#include <png.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <string>

#include "imaging/IconModel.h"
#include "imaging/PngCodec.h"

using namespace vantrel;

namespace {

TBitmap Picture(int size) {
    // A round, shaded picture with soft edges, as icons are.
    TBitmap b(size, size, 32);
    const double c = size / 2.0;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const double d = std::hypot(x - c + 0.5, y - c + 0.5) / c;
            const auto a = std::uint8_t(d >= 1.0 ? 0 : d > 0.9 ? (1.0 - d) * 2550 : 255);
            b.SetBgra(x, y, {std::uint8_t(200 * (1 - d / 2)), std::uint8_t(x * 255 / size), std::uint8_t(y * 255 / size), a});
        }
    return b;
}

struct Fixture {
    std::vector<std::uint8_t> ico;
    std::vector<std::uint8_t> png;
    TBitmap picture256;
    Fixture() {
        TAdvancedIcon icon;
        for (int size : {16, 24, 32, 48, 64, 128, 256}) icon.Images().AddFromBitmaps(Picture(size), nullptr, 0);
        icon.Images()[6]->SetStoreAsPng(true);
        ico = icon.SaveToBytes();
        picture256 = Picture(256);
        png = EncodePngRgba(picture256);
    }
};

const Fixture& Data() {
    static const Fixture f;
    return f;
}

void ReadIcon(benchmark::State& state) {
    for (auto _ : state) {
        TAdvancedIcon icon;
        benchmark::DoNotOptimize(icon.LoadFromBytes(Data().ico));
    }
}

void WriteIcon(benchmark::State& state) {
    TAdvancedIcon icon;
    icon.LoadFromBytes(Data().ico);
    for (auto _ : state) benchmark::DoNotOptimize(icon.SaveToBytes());
}

void LibpngDecode(benchmark::State& state) {
    std::vector<std::uint8_t> pixels(256 * 256 * 4);
    for (auto _ : state) {
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        png_image_begin_read_from_memory(&image, Data().png.data(), Data().png.size());
        image.format = PNG_FORMAT_BGRA;
        png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr);
        benchmark::DoNotOptimize(pixels.data());
    }
}

void LibpngEncode(benchmark::State& state) {
    // Rows of the picture from the top, as a PNG wants them.
    std::vector<std::uint8_t> rows;
    for (int y = 0; y < 256; ++y) {
        const std::uint8_t* r = Data().picture256.ScanLine(y);
        rows.insert(rows.end(), r, r + 256 * 4);
    }
    std::vector<std::uint8_t> out(1 << 20);
    for (auto _ : state) {
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        image.width = 256;
        image.height = 256;
        image.format = PNG_FORMAT_BGRA;
        png_alloc_size_t size = out.size();
        png_image_write_to_memory(&image, out.data(), &size, 0, rows.data(), 0, nullptr);
        benchmark::DoNotOptimize(size);
    }
}

BENCHMARK(ReadIcon)->Unit(benchmark::kMicrosecond);
BENCHMARK(LibpngDecode)->Unit(benchmark::kMicrosecond);
BENCHMARK(WriteIcon)->Unit(benchmark::kMicrosecond);
BENCHMARK(LibpngEncode)->Unit(benchmark::kMicrosecond);

// Keeps each benchmark's time per iteration for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> times;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration || run.aggregate_name == "mean")
                times[run.run_name.function_name] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::printf("icon: %zu bytes, 7 images (256 px as a %zu-byte PNG)\n", Data().ico.size(), Data().png.size());
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto ratio = [&](const char* a, const char* b) {
        if (reporter.times.count(a) && reporter.times.count(b) && reporter.times[b] > 0)
            std::printf("%-12s / %-12s = %.2f\n", a, b, reporter.times[a] / reporter.times[b]);
    };
    std::printf("\nRatios to libpng alone, same run:\n");
    ratio("ReadIcon", "LibpngDecode");
    ratio("WriteIcon", "LibpngEncode");
    benchmark::Shutdown();
    return 0;
}
