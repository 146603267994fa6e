// Writes the program's own icon (a page with the "Approved" marker) as an ICO file.
//
//   build_app_icon <Vantrel.ico>
#include <cstdio>

#include "markers/MarkerArt.h"

using namespace vantrel;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: build_app_icon <file.ico>\n", stderr);
        return 2;
    }
    try {
        TAdvancedIcon icon;
        MakeAppIcon(icon);
        icon.SaveToFile(argv[1]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "build_app_icon: %s\n", e.what());
        return 1;
    }
    return 0;
}
