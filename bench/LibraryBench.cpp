// Extracting one icon group from the largest DLL at hand, side by side with icoutils'
// wrestool extracting the same group, both measured in this run. Prints milliseconds per
// extraction and the ratio ours / wrestool. wrestool runs as its own process each time, as
// it is used; ours is timed both in-process and through icontool, which adds the same
// process start.
//
//   library_bench [file] [index] [icontool]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "imaging/IconLibrary.h"

namespace fs = std::filesystem;
using namespace vantrel;

namespace {

template <class F>
double MillisecondsPerRun(int runs, F f) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < runs; ++i) f();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count() / runs;
}

}  // namespace

int main(int argc, char** argv) {
    fs::path file = argc > 1 ? fs::path(argv[1]) : fs::path();
    if (file.empty()) {
        // The largest Wine DLL that has icon groups.
        std::uintmax_t best = 0;
        for (const char* folder : {"/usr/lib/x86_64-linux-gnu/wine/x86_64-windows", "/usr/lib/i386-linux-gnu/wine/i386-windows"}) {
            std::error_code e;
            for (const auto& entry : fs::directory_iterator(folder, e)) {
                if (entry.path().extension() != ".dll" || entry.file_size() <= best) continue;
                TIconLibrary library;
                library.OpenNames(entry.path());
                if (library.GetCount() > 0) best = entry.file_size(), file = entry.path();
            }
        }
    }
    if (file.empty() || !fs::exists("/usr/bin/wrestool")) {
        std::puts("library_bench: no DLL with icons or no wrestool; nothing measured");
        return 0;
    }
    const int index = argc > 2 ? std::atoi(argv[2]) : 3;
    TIconLibrary library;
    library.OpenNames(file);
    if (index >= library.GetCount()) return 1;
    const std::string name = library.Icons().Name(index);
    const fs::path out = fs::temp_directory_path() / "vantrel-bench.ico";
    const int runs = 20;

    const double ours = MillisecondsPerRun(runs, [&] { ExtractIconResource(file, index, out); });
    const std::string wrestool = "wrestool -x -t14 -n '" + name + "' -o '" + out.string() + "' '" + file.string() + "'";
    const double theirs = MillisecondsPerRun(runs, [&] { (void)std::system(wrestool.c_str()); });
    std::printf("%s (%.1f MB, %d groups), group %d \"%s\"\n", file.string().c_str(), double(fs::file_size(file)) / 1e6,
                library.GetCount(), index, name.c_str());
    std::printf("  ExtractIconResource in-process  %8.2f ms   ratio to wrestool %.2f\n", ours, ours / theirs);
    if (argc > 3) {
        const std::string tool = std::string(argv[3]) + " extract '" + file.string() + "' " + std::to_string(index) + " '" +
                                 out.string() + "' >/dev/null";
        const double viaTool = MillisecondsPerRun(runs, [&] { (void)std::system(tool.c_str()); });
        std::printf("  icontool extract (own process)  %8.2f ms   ratio to wrestool %.2f\n", viaTool, viaTool / theirs);
    }
    std::printf("  wrestool -x (own process)       %8.2f ms   baseline\n", theirs);
    fs::remove(out);
    return 0;
}
