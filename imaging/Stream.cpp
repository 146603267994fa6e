#include "imaging/Stream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>

#include "imaging/Error.h"

namespace vantrel {

std::size_t TMemoryStream::Read(void* buffer, std::size_t count) {
    const std::size_t n = std::min(count, Remaining());
    if (n > 0) std::memcpy(buffer, bytes_.data() + position_, n);
    position_ += n;
    return n;
}

bool TMemoryStream::ReadExact(void* buffer, std::size_t count) {
    if (Remaining() < count) return false;
    Read(buffer, count);
    return true;
}

void TMemoryStream::Write(const void* buffer, std::size_t count) {
    if (count == 0) return;
    if (bytes_.size() < position_ + count) bytes_.resize(position_ + count);
    std::memcpy(bytes_.data() + position_, buffer, count);
    position_ += count;
}

namespace {

std::string PathText(const std::filesystem::path& path) {
    const std::u8string u8 = path.u8string();
    return std::string(u8.begin(), u8.end());
}

std::string Reason(int error) {
    std::string text = std::strerror(error);
    if (!text.empty() && text.back() != '.') text += '.';
    return text;
}

}  // namespace

std::vector<std::uint8_t> ReadWholeFile(const std::filesystem::path& path) {
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Error("Cannot open file \"" + PathText(path) + "\". " + Reason(errno ? errno : ENOENT));
    std::vector<std::uint8_t> bytes;
    char chunk[65536];
    while (in) {
        in.read(chunk, sizeof chunk);
        bytes.insert(bytes.end(), chunk, chunk + in.gcount());
    }
    if (in.bad()) throw Error("Cannot read file \"" + PathText(path) + "\". " + Reason(errno ? errno : EIO));
    return bytes;
}

void WriteWholeFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
    errno = 0;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw Error("Cannot create file \"" + PathText(path) + "\". " + Reason(errno ? errno : EACCES));
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    out.close();
    if (!out) throw Error("Cannot write file \"" + PathText(path) + "\". " + Reason(errno ? errno : EIO));
}

}  // namespace vantrel
