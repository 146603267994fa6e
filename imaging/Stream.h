// An in-memory byte stream with a position, for reading and writing icon data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

namespace vantrel {

class TMemoryStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
    explicit TMemoryStream(std::span<const std::uint8_t> bytes) : bytes_(bytes.begin(), bytes.end()) {}

    std::size_t Size() const { return bytes_.size(); }
    std::size_t Position() const { return position_; }
    // Positions beyond the end are allowed; reads there return nothing and writes extend
    // the stream with zero bytes.
    void Seek(std::size_t position) { position_ = position; }
    std::size_t Remaining() const { return position_ < bytes_.size() ? bytes_.size() - position_ : 0; }

    // Reads up to `count` bytes; returns how many were read.
    std::size_t Read(void* buffer, std::size_t count);
    // Reads exactly `count` bytes or returns false (the position is then unchanged).
    bool ReadExact(void* buffer, std::size_t count);
    void Write(const void* buffer, std::size_t count);
    void Write(std::span<const std::uint8_t> bytes) { Write(bytes.data(), bytes.size()); }

    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }
    std::vector<std::uint8_t> TakeBytes() { position_ = 0; return std::move(bytes_); }

private:
    std::vector<std::uint8_t> bytes_;
    std::size_t position_ = 0;
};

// The whole content of a file. Fails with the platform's open failure text
// ("Cannot open file \"<path>\". <reason>").
std::vector<std::uint8_t> ReadWholeFile(const std::filesystem::path& path);
// Creates or replaces a file with `bytes`. Fails with "Cannot create file \"<path>\". <reason>".
void WriteWholeFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);

}  // namespace vantrel
