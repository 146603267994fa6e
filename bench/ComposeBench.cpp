// Marking one icon: colourise a 7-image icon (16 to 256 pixels, 256 as a PNG entry) and
// draw a marker over it, from ICO bytes to ICO bytes. Baseline in the same run:
// ImageMagick (Magick++, one thread) reading the same two icons from ICO files, compositing each marker frame over
// its base frame and writing an ICO. Both are reported as icons per second, then as a ratio.
#include <benchmark/benchmark.h>

#include <Magick++.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "imaging/Colorize.h"
#include "imaging/OverlayCompose.h"

using namespace vantrel;

namespace {

const int kSizes[] = {16, 24, 32, 48, 64, 128, 256};

TBitmap Base(int size) {
    TBitmap b(size, size, 32);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const bool page = x > size / 8 && x < size * 7 / 8;
            b.SetBgra(x, y, {std::uint8_t(230 - y * 60 / size), 235, 240, std::uint8_t(page ? 255 : 0)});
        }
    return b;
}

TBitmap Marker(int size) {
    TBitmap b(size, size, 32);
    const double c = size * 0.72, r = size * 0.26;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const double a = std::clamp(r - std::hypot(x + 0.5 - c, y + 0.5 - c) + 0.5, 0.0, 1.0);
            const auto alpha = std::uint8_t(std::lround(a * 255));
            b.SetBgra(x, y, {std::uint8_t(30 * alpha / 255), std::uint8_t(160 * alpha / 255), std::uint8_t(40 * alpha / 255), alpha});
        }
    return b;
}

std::vector<std::uint8_t> MakeIcon(TBitmap (*picture)(int)) {
    TAdvancedIcon icon;
    for (int size : kSizes) icon.Images().AddFromBitmaps(picture(size), nullptr, 0);
    icon.Images()[6]->SetStoreAsPng(true);
    return icon.SaveToBytes();
}

struct Inputs {
    std::vector<std::uint8_t> base = MakeIcon(&Base);
    std::vector<std::uint8_t> marker = MakeIcon(&Marker);
    std::string basePath = Save("vantrel-bench-base.ico", base);
    std::string markerPath = Save("vantrel-bench-marker.ico", marker);

    static std::string Save(const char* name, const std::vector<std::uint8_t>& bytes) {
        const std::string path = (std::filesystem::temp_directory_path() / name).string();
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (f) {
            std::fwrite(bytes.data(), 1, bytes.size(), f);
            std::fclose(f);
        }
        return path;
    }
};

const Inputs& In() {
    static Inputs inputs;
    return inputs;
}

void BM_VantrelColorizeAndCompose(benchmark::State& state) {
    for (auto _ : state) {
        TAdvancedIcon base, marker, tinted, result;
        base.LoadFromBytes(In().base);
        marker.LoadFromBytes(In().marker);
        ColorizeIcon(base, tinted, 3556862);
        ComposeOverlay(tinted, marker, result);
        auto bytes = result.SaveToBytes();
        benchmark::DoNotOptimize(bytes.data());
    }
    state.counters["icons/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_VantrelColorizeAndCompose)->Unit(benchmark::kMillisecond);

void BM_VantrelComposeOnly(benchmark::State& state) {
    for (auto _ : state) {
        TAdvancedIcon base, marker, result;
        base.LoadFromBytes(In().base);
        marker.LoadFromBytes(In().marker);
        ComposeOverlay(base, marker, result);
        auto bytes = result.SaveToBytes();
        benchmark::DoNotOptimize(bytes.data());
    }
    state.counters["icons/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_VantrelComposeOnly)->Unit(benchmark::kMillisecond);

void BM_MagickCompose(benchmark::State& state) {
    for (auto _ : state) {
        std::vector<Magick::Image> base, marker;
        Magick::readImages(&base, "ICO:" + In().basePath);
        Magick::readImages(&marker, "ICO:" + In().markerPath);
        for (std::size_t i = 0; i < base.size() && i < marker.size(); ++i) {
            base[i].composite(marker[i], 0, 0, Magick::OverCompositeOp);
            base[i].magick("ICO");
        }
        Magick::Blob out;
        Magick::writeImages(base.begin(), base.end(), &out);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["icons/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_MagickCompose)->Unit(benchmark::kMillisecond);

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration) times_[run.benchmark_name()] = run.GetAdjustedRealTime();
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        const double magick = times_["BM_MagickCompose"];
        if (magick <= 0) return;
        std::printf("\nper icon, as a ratio to ImageMagick's composite of the same files (lower is faster):\n");
        for (const char* name : {"BM_VantrelComposeOnly", "BM_VantrelColorizeAndCompose"})
            std::printf("  %-30s %.2fx\n", name, times_[name] / magick);
    }

private:
    std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
    Magick::InitializeMagick(argv[0]);
    // One thread, as the program composes: no OpenMP fan-out in the baseline.
    Magick::ResourceLimits::thread(1);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
