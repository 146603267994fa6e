// Fuzz target: icon groups of PE and NE files and icon library names. Every reader of the
// library must end cleanly on any bytes: groups read all at once and one by one, the names
// after the "ICL" entry, and every group that was read must save and load again.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <vector>

#include "imaging/IconLibrary.h"
#include "imaging/IconLibrary16.h"

using namespace vantrel;

namespace {

[[noreturn]] void Broken(const char* what, int index) {
    std::fprintf(stderr, "library reading broken: %s (group %d)\n", what, index);
    std::abort();
}

void CheckGroup(const TAdvancedIcon* icon, int index) {
    if (!icon || icon->Images().Count() == 0) return;
    for (int i = 0; i < icon->Images().Count(); ++i)
        if (icon->Images()[i]->GetWidth() <= 0) Broken("image without a size", index);
    TAdvancedIcon again;
    if (!again.LoadFromBytes(icon->SaveToBytes())) Broken("saved group does not load", index);
    if (again.Images().Count() != icon->Images().Count()) Broken("image count", index);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> bytes(data, data + size);

    // Every group at once; a damaged group may fail the whole read with a vantrel::Error.
    TIconLibrary all;
    try {
        all.OpenFromBytes(bytes, "fuzz.dll");
        for (int i = 0; i < all.GetCount(); ++i) CheckGroup(all.GetIcon(i), i);
    } catch (const Error&) {
    }

    // Names first, then each group on its own: a failing group leaves the others readable.
    TIconLibrary lazy;
    try {
        lazy.OpenNamesFromBytes(bytes, "fuzz.icl");
    } catch (const Error&) {
        Broken("listing names failed", -1);
    }
    for (int i = 0; i < lazy.GetCount() && i < 64; ++i) {
        try {
            CheckGroup(lazy.GetIcon(i), i);
        } catch (const Error&) {
        }
    }

    // The 16-bit reader directly, and the names reader.
    T16BitReader reader("fuzz.icl", bytes);
    if (reader.Load())
        for (int i = 0; i < reader.Names().Count(); ++i) CheckGroup(reader.Names().Icon(i), i);
    std::vector<std::string> names;
    ReadLibraryIconNames(bytes, names, 300);
    if (names.size() > 300) Broken("too many names", -1);
    (void)CountIconGroups(bytes);
    return 0;
}
