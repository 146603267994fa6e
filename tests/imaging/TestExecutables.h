// Small executables built by hand for the tests and the fuzz seeds: a PE image with a
// resource section, and a 16-bit NE icon library. Written from the published layouts,
// independently of the readers under test.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "TestIcons.h"

namespace vantrel::test {

struct PeResource {
    std::uint16_t type = 3;
    std::uint16_t id = 1;
    std::u16string name;  // non-empty: a named resource
    Bytes data;
    std::uint16_t language = 0x409;
};

struct PeLayout {
    bool pe64 = false;
    std::uint32_t headerOffset = 0x40;  // e_lfanew
    std::size_t padBeforeHeader = 0;    // filler bytes between the DOS header and the PE header
};

// A PE image with one ".rsrc" section holding the resources. Types appear in the order of
// their first resource, and each type's entries in the order given (so tests choose whether
// the directory is in the platform's order).
Bytes MakePe(const std::vector<PeResource>& resources, const PeLayout& layout = {});

// A group icon resource (GRPICONDIR) for images given as (image bytes, RT_ICON id).
Bytes MakeGroup(const std::vector<std::pair<const Bytes*, std::uint16_t>>& images);

struct NeResource {
    std::uint16_t id = 1;  // without the high bit; the builder sets it
    Bytes data;
};
struct NeType {
    std::uint16_t type = 0x8003;
    std::vector<NeResource> resources;
};

// A 16-bit NE file with the given resource types, the resource names after the type list
// (length-prefixed, ending with a zero length), and resources aligned to 1 << alignShift.
Bytes MakeNe(const std::vector<NeType>& types, const std::vector<std::string>& names, std::uint16_t alignShift = 4);

// Offsets inside a MakeNe file, for tests that damage it.
constexpr std::size_t kNeHeaderAt = 0x40;
constexpr std::size_t kNeResourceTableAt = kNeHeaderAt + 0x40;

// A 32 x 32 image of the given depth, with a recognisable pattern per `seed`.
Bytes PatternDib(int size, int bits, int seed);

// Wine's own executables on this machine (64-bit and 32-bit DLLs and EXEs with icons); the
// paths that exist. Under Wine the Unix root is drive Z:.
std::vector<std::filesystem::path> RealExecutables();
// The 16-bit NE module with icon resources that one of Wine's 16-bit drivers carries,
// written to a file of its own in the temporary folder; empty when there is none.
std::filesystem::path CarvedNeModule();

}  // namespace vantrel::test
