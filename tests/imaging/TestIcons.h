// Icon bytes built by hand for the tests, independently of the code under test.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vantrel::test {

using Bytes = std::vector<std::uint8_t>;

void Put16(Bytes& b, std::uint16_t v);
void Put32(Bytes& b, std::uint32_t v);

// A DIB icon image: BITMAPINFOHEADER (biHeight doubled), `colours` palette entries
// (B, G, R, 0 each, as given by `palette` or grey ramps), then XOR and AND rows filled by
// the callbacks with (x, y from the top).
struct DibSpec {
    int width = 16;
    int height = 16;
    int bits = 32;
    std::int32_t biWidth = -1;  // -1: width
    std::uint16_t planes = 1;
    std::vector<std::uint32_t> palette;       // 0xRRGGBB entries for indexed images
    std::uint32_t (*pixel)(int x, int y) = nullptr;  // index, or 0xAARRGGBB / 0xRRGGBB value
    bool (*transparent)(int x, int y) = nullptr;
};
Bytes MakeDib(const DibSpec& spec);

struct Entry {
    std::uint8_t width, height, colours, reserved;
    std::uint16_t planes, bits;
    Bytes data;
    std::int64_t bytesInRes = -1;  // -1: data size
    std::int64_t offset = -1;      // -1: back to back after the directory
};
Bytes MakeIco(const std::vector<Entry>& entries, std::uint16_t type = 1);

// The folder holding icon files that exist on this machine, or the paths of those found.
std::vector<std::string> MachineIcons();

}  // namespace vantrel::test
