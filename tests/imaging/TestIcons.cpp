#include "TestIcons.h"

#include <filesystem>

namespace vantrel::test {

void Put16(Bytes& b, std::uint16_t v) {
    b.push_back(std::uint8_t(v));
    b.push_back(std::uint8_t(v >> 8));
}

void Put32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(std::uint8_t(v >> (8 * i)));
}

Bytes MakeDib(const DibSpec& s) {
    Bytes b;
    Put32(b, 40);
    Put32(b, std::uint32_t(s.biWidth == -1 ? s.width : s.biWidth));
    Put32(b, std::uint32_t(s.height * 2));
    Put16(b, s.planes);
    Put16(b, std::uint16_t(s.bits));
    for (int i = 0; i < 6; ++i) Put32(b, 0);
    for (std::uint32_t c : s.palette) Put32(b, c & 0xFFFFFF);
    const int stride = ((s.width * s.bits + 31) / 32) * 4;
    for (int y = s.height - 1; y >= 0; --y) {
        Bytes row(std::size_t(stride), 0);
        for (int x = 0; x < s.width; ++x) {
            const std::uint32_t v = s.pixel ? s.pixel(x, y) : 0;
            switch (s.bits) {
                case 1: row[x / 8] |= std::uint8_t((v & 1) << (7 - x % 8)); break;
                case 4: row[x / 2] |= std::uint8_t((v & 15) << (x % 2 ? 0 : 4)); break;
                case 8: row[x] = std::uint8_t(v); break;
                case 16: row[2 * x] = std::uint8_t(v); row[2 * x + 1] = std::uint8_t(v >> 8); break;
                case 24: for (int i = 0; i < 3; ++i) row[3 * x + i] = std::uint8_t(v >> (8 * i)); break;
                case 32: for (int i = 0; i < 4; ++i) row[4 * x + i] = std::uint8_t(v >> (8 * i)); break;
            }
        }
        b.insert(b.end(), row.begin(), row.end());
    }
    const int maskStride = ((s.width + 31) / 32) * 4;
    for (int y = s.height - 1; y >= 0; --y) {
        Bytes row(std::size_t(maskStride), 0);
        for (int x = 0; x < s.width; ++x)
            if (s.transparent && s.transparent(x, y)) row[x / 8] |= std::uint8_t(0x80 >> (x % 8));
        b.insert(b.end(), row.begin(), row.end());
    }
    return b;
}

Bytes MakeIco(const std::vector<Entry>& entries, std::uint16_t type) {
    Bytes b;
    Put16(b, 0);
    Put16(b, type);
    Put16(b, std::uint16_t(entries.size()));
    std::uint32_t offset = 6 + 16 * std::uint32_t(entries.size());
    for (const Entry& e : entries) {
        b.push_back(e.width);
        b.push_back(e.height);
        b.push_back(e.colours);
        b.push_back(e.reserved);
        Put16(b, e.planes);
        Put16(b, e.bits);
        Put32(b, e.bytesInRes < 0 ? std::uint32_t(e.data.size()) : std::uint32_t(e.bytesInRes));
        Put32(b, e.offset < 0 ? offset : std::uint32_t(e.offset));
        offset += std::uint32_t(e.data.size());
    }
    for (const Entry& e : entries) b.insert(b.end(), e.data.begin(), e.data.end());
    return b;
}

std::vector<std::string> MachineIcons() {
    // Icon files shipped by other software on this machine.
    const char* candidates[] = {
        "/usr/share/clang/scan-view-14/share/bugcatcher.ico",
        "/usr/lib/llvm-14/share/scan-view/bugcatcher.ico",
        "/usr/share/doc/fp-compiler/3.2.2/wince/SysInfo/sysinfo.ico",
        "/root/.pyenv/versions/3.13.0/lib/python3.13/idlelib/Icons/idle.ico",
        "/root/.pyenv/versions/3.12.1/lib/python3.12/idlelib/Icons/idle.ico",
        "/root/.pyenv/versions/3.7.16/lib/python3.7/idlelib/Icons/idle.ico",
        "/root/.pyenv/versions/2.7.18/lib/python2.7/idlelib/Icons/idle.ico",
        "/usr/lib/google-cloud-sdk/platform/google_appengine/php/new_project_template/favicon.ico",
        "/usr/lib/google-cloud-sdk/platform/gsutil/third_party/pyasn1/docs/source/.static/favicon.ico",
        ("/usr/lib/google-cloud-sdk/platform/google_appengine/google/appengine/tools/java/jetty12/jetty-home/"
         "modules/demo.d/root/favicon.ico"),
    };
    std::vector<std::string> found;
    for (const char* c : candidates) {
#ifdef _WIN32
        // Under Wine the machine's root folder is drive Z:.
        const std::string path = std::string("Z:") + c;
#else
        const std::string path = c;
#endif
        std::error_code ec;
        if (std::filesystem::is_regular_file(path, ec)) found.push_back(path);
    }
    return found;
}

}  // namespace vantrel::test
