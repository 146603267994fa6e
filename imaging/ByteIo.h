// Little-endian field access on byte buffers. Readers take the offset and check it against
// the buffer; callers test `Fits` first or accept zero for bytes beyond the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vantrel {

// True when `count` bytes starting at `offset` lie inside a buffer of `size` bytes.
constexpr bool Fits(std::size_t size, std::size_t offset, std::size_t count) {
    return offset <= size && count <= size - offset;
}

// Reads a little-endian field; bytes beyond the end of the buffer read as zero.
inline std::uint16_t ReadLe16(std::span<const std::uint8_t> b, std::size_t at) {
    std::uint16_t v = 0;
    for (std::size_t i = 0; i < 2; ++i)
        if (Fits(b.size(), at + i, 1)) v |= std::uint16_t(b[at + i] << (8 * i));
    return v;
}

inline std::uint32_t ReadLe32(std::span<const std::uint8_t> b, std::size_t at) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i)
        if (Fits(b.size(), at + i, 1)) v |= std::uint32_t(b[at + i]) << (8 * i);
    return v;
}

inline void WriteLe16(std::uint8_t* p, std::uint16_t v) {
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
}

inline void WriteLe32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = std::uint8_t(v >> (8 * i));
}

inline void AppendLe16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(std::uint8_t(v));
    out.push_back(std::uint8_t(v >> 8));
}

inline void AppendLe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(std::uint8_t(v >> (8 * i)));
}

}  // namespace vantrel
