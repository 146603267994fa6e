#include "TestExecutables.h"

#include <fstream>
#include <iterator>
#include <map>

namespace vantrel::test {

namespace {

void Pad(Bytes& b, std::size_t alignment) {
    while (b.size() % alignment) b.push_back(0);
}

void Set16(Bytes& b, std::size_t at, std::uint16_t v) {
    b[at] = std::uint8_t(v);
    b[at + 1] = std::uint8_t(v >> 8);
}

void Set32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + std::size_t(i)] = std::uint8_t(v >> (8 * i));
}

}  // namespace

Bytes PatternDib(int size, int bits, int seed) {
    Bytes b;
    Put32(b, 40);
    Put32(b, std::uint32_t(size));
    Put32(b, std::uint32_t(size * 2));
    Put16(b, 1);
    Put16(b, std::uint16_t(bits));
    for (int i = 0; i < 6; ++i) Put32(b, 0);
    if (bits <= 8)
        for (int i = 0; i < (1 << bits); ++i) Put32(b, std::uint32_t((i * 37 + seed * 11) & 0xFF) * 0x010101u ^ std::uint32_t(i << 16));
    const int stride = ((size * bits + 31) / 32) * 4;
    for (int y = 0; y < size; ++y) {
        Bytes row(std::size_t(stride), 0);
        for (int x = 0; x < size; ++x) {
            const int v = (x * 7 + y * 3 + seed * 29) & 0xFF;
            switch (bits) {
                case 4: row[std::size_t(x / 2)] |= std::uint8_t((v & 15) << (x % 2 ? 0 : 4)); break;
                case 8: row[std::size_t(x)] = std::uint8_t(v); break;
                case 24:
                    row[std::size_t(3 * x)] = std::uint8_t(v);
                    row[std::size_t(3 * x + 1)] = std::uint8_t(seed * 40);
                    row[std::size_t(3 * x + 2)] = std::uint8_t(y * 8);
                    break;
                case 32:
                    row[std::size_t(4 * x)] = std::uint8_t(v);
                    row[std::size_t(4 * x + 1)] = std::uint8_t(seed * 40);
                    row[std::size_t(4 * x + 2)] = std::uint8_t(y * 8);
                    row[std::size_t(4 * x + 3)] = std::uint8_t(x < 2 ? 0 : 255);
                    break;
            }
        }
        b.insert(b.end(), row.begin(), row.end());
    }
    const int maskStride = ((size + 31) / 32) * 4;
    for (int y = 0; y < size; ++y) {
        Bytes row(std::size_t(maskStride), 0);
        row[0] = 0xC0;  // the first two pixels of each row are transparent
        b.insert(b.end(), row.begin(), row.end());
    }
    return b;
}

Bytes MakeGroup(const std::vector<std::pair<const Bytes*, std::uint16_t>>& images) {
    Bytes b;
    Put16(b, 0);
    Put16(b, 1);
    Put16(b, std::uint16_t(images.size()));
    for (const auto& [data, id] : images) {
        const std::uint32_t width = std::uint32_t((*data)[4]) | std::uint32_t((*data)[5]) << 8;
        const std::uint16_t bits = std::uint16_t((*data)[14] | (*data)[15] << 8);
        b.push_back(std::uint8_t(width));
        b.push_back(std::uint8_t(width));
        b.push_back(bits < 8 ? std::uint8_t(1 << bits) : 0);
        b.push_back(0);
        Put16(b, 1);
        Put16(b, bits);
        Put32(b, std::uint32_t(data->size()));
        Put16(b, id);
    }
    return b;
}

Bytes MakePe(const std::vector<PeResource>& resources, const PeLayout& layout) {
    constexpr std::uint32_t kSectionRva = 0x1000;

    // Resource section: root, type directories, name directories, language directories,
    // data entries, name strings, data.
    std::vector<std::uint16_t> types;
    std::map<std::uint16_t, std::vector<const PeResource*>> byType;
    for (const PeResource& r : resources) {
        if (!byType.count(r.type)) types.push_back(r.type);
        byType[r.type].push_back(&r);
    }
    const std::size_t rootSize = 16 + 8 * types.size();
    std::size_t at = rootSize;
    std::map<std::uint16_t, std::size_t> typeDirAt;
    for (std::uint16_t t : types) {
        typeDirAt[t] = at;
        at += 16 + 8 * byType[t].size();
    }
    const std::size_t langDirsAt = at;
    at += 24 * resources.size();
    const std::size_t dataEntriesAt = at;
    at += 16 * resources.size();
    const std::size_t stringsAt = at;
    for (const PeResource& r : resources)
        if (!r.name.empty()) at += 2 + 2 * r.name.size();
    at = (at + 7) & ~std::size_t(7);
    const std::size_t dataAt = at;

    Bytes rsrc(dataAt, 0);
    auto dirHeader = [&](std::size_t dirAt, std::size_t named, std::size_t ids) {
        Set16(rsrc, dirAt + 12, std::uint16_t(named));
        Set16(rsrc, dirAt + 14, std::uint16_t(ids));
    };
    dirHeader(0, 0, types.size());
    std::size_t resourceIndex = 0, stringAt = stringsAt;
    std::map<const PeResource*, std::size_t> indexOf;
    for (const PeResource& r : resources) indexOf[&r] = 0;
    for (std::size_t ti = 0; ti < types.size(); ++ti) {
        const std::uint16_t t = types[ti];
        Set32(rsrc, 16 + 8 * ti, t);
        Set32(rsrc, 16 + 8 * ti + 4, 0x80000000u | std::uint32_t(typeDirAt[t]));
        const auto& list = byType[t];
        std::size_t named = 0;
        for (const PeResource* r : list) named += !r->name.empty();
        dirHeader(typeDirAt[t], named, list.size() - named);
        for (std::size_t ni = 0; ni < list.size(); ++ni) {
            const PeResource& r = *list[ni];
            const std::size_t entry = typeDirAt[t] + 16 + 8 * ni;
            if (r.name.empty()) {
                Set32(rsrc, entry, r.id);
            } else {
                Set32(rsrc, entry, 0x80000000u | std::uint32_t(stringAt));
                Set16(rsrc, stringAt, std::uint16_t(r.name.size()));
                for (std::size_t c = 0; c < r.name.size(); ++c) Set16(rsrc, stringAt + 2 + 2 * c, std::uint16_t(r.name[c]));
                stringAt += 2 + 2 * r.name.size();
            }
            const std::size_t langDir = langDirsAt + 24 * resourceIndex;
            Set32(rsrc, entry + 4, 0x80000000u | std::uint32_t(langDir));
            dirHeader(langDir, 0, 1);
            Set32(rsrc, langDir + 16, r.language);
            const std::size_t dataEntry = dataEntriesAt + 16 * resourceIndex;
            Set32(rsrc, langDir + 20, std::uint32_t(dataEntry));
            Set32(rsrc, dataEntry, kSectionRva + std::uint32_t(rsrc.size()));
            Set32(rsrc, dataEntry + 4, std::uint32_t(r.data.size()));
            rsrc.insert(rsrc.end(), r.data.begin(), r.data.end());
            Pad(rsrc, 8);
            ++resourceIndex;
        }
    }
    const std::size_t virtualSize = rsrc.size();
    Pad(rsrc, 0x200);

    const std::uint32_t peAt = std::uint32_t(0x40 + layout.padBeforeHeader);
    const std::uint16_t optionalSize = layout.pe64 ? 240 : 224;
    const std::size_t headersEnd = peAt + 4 + 20 + optionalSize + 40;
    const std::uint32_t headerSize = std::uint32_t((headersEnd + 0x1FF) & ~std::size_t(0x1FF));
    Bytes b(headerSize, 0);
    b[0] = 'M';
    b[1] = 'Z';
    Set32(b, 0x3C, peAt);
    b[peAt] = 'P';
    b[peAt + 1] = 'E';
    const std::size_t fh = peAt + 4;
    Set16(b, fh, layout.pe64 ? 0x8664 : 0x14C);
    Set16(b, fh + 2, 1);
    Set16(b, fh + 16, optionalSize);
    Set16(b, fh + 18, layout.pe64 ? 0x2022 : 0x2102);
    const std::size_t oh = fh + 20;
    Set16(b, oh, layout.pe64 ? 0x20B : 0x10B);
    b[oh + 2] = 2;
    Set32(b, oh + 8, std::uint32_t(rsrc.size()));
    if (layout.pe64) {
        Set32(b, oh + 24, 0x80000000u);
        Set32(b, oh + 28, 1);  // image base 0x180000000
    } else {
        Set32(b, oh + 28, 0x10000000u);
    }
    Set32(b, oh + 32, 0x1000);
    Set32(b, oh + 36, 0x200);
    Set16(b, oh + 40, 4);
    Set16(b, oh + 48, 4);
    Set32(b, oh + 56, kSectionRva + std::uint32_t((virtualSize + 0xFFF) & ~std::size_t(0xFFF)));
    Set32(b, oh + 60, headerSize);
    Set16(b, oh + 68, 2);
    const std::size_t counts = oh + (layout.pe64 ? 108 : 92);
    Set32(b, counts, 16);
    Set32(b, counts + 4 + 2 * 8, kSectionRva);
    Set32(b, counts + 4 + 2 * 8 + 4, std::uint32_t(virtualSize));
    const std::size_t sh = oh + optionalSize;
    const char name[] = ".rsrc";
    for (std::size_t i = 0; i < 5; ++i) b[sh + i] = std::uint8_t(name[i]);
    Set32(b, sh + 8, std::uint32_t(virtualSize));
    Set32(b, sh + 12, kSectionRva);
    Set32(b, sh + 16, std::uint32_t(rsrc.size()));
    Set32(b, sh + 20, headerSize);
    Set32(b, sh + 36, 0x40000040u);
    b.insert(b.end(), rsrc.begin(), rsrc.end());
    return b;
}

Bytes MakeNe(const std::vector<NeType>& types, const std::vector<std::string>& names, std::uint16_t alignShift) {
    const std::size_t alignment = std::size_t(1) << alignShift;
    // Resource table first, to know where the resident names and the data go.
    std::size_t tableSize = 2 + 2;
    for (const NeType& t : types) tableSize += 8 + 12 * t.resources.size();
    for (const std::string& n : names) tableSize += 1 + n.size();
    tableSize += 1;
    const std::string module = "ICONLIB";
    const std::size_t residentAt = kNeResourceTableAt + tableSize;
    const std::size_t residentSize = 1 + module.size() + 2 + 1;
    std::size_t dataAt = residentAt + residentSize;
    dataAt = (dataAt + alignment - 1) / alignment * alignment;

    Bytes b(kNeResourceTableAt, 0);
    b[0] = 'M';
    b[1] = 'Z';
    Set32(b, 0x3C, std::uint32_t(kNeHeaderAt));
    b[kNeHeaderAt] = 'N';
    b[kNeHeaderAt + 1] = 'E';
    b[kNeHeaderAt + 2] = 5;
    const std::uint16_t rel = std::uint16_t(kNeResourceTableAt - kNeHeaderAt);
    const std::uint16_t relResident = std::uint16_t(residentAt - kNeHeaderAt);
    const std::uint16_t relAfter = std::uint16_t(residentAt + residentSize - kNeHeaderAt);
    Set16(b, kNeHeaderAt + 0x04, relAfter);  // entry table (empty)
    Set16(b, kNeHeaderAt + 0x0C, 0x8000);    // a library
    Set16(b, kNeHeaderAt + 0x22, rel);       // segment table (no segments)
    Set16(b, kNeHeaderAt + 0x24, rel);
    Set16(b, kNeHeaderAt + 0x26, relResident);
    Set16(b, kNeHeaderAt + 0x28, relAfter);
    Set16(b, kNeHeaderAt + 0x2A, relAfter);
    b[kNeHeaderAt + 0x36] = 2;                // Windows
    Set16(b, kNeHeaderAt + 0x3E, 0x030A);

    Bytes data;
    Put16(b, alignShift);
    for (const NeType& t : types) {
        Put16(b, t.type);
        Put16(b, std::uint16_t(t.resources.size()));
        Put32(b, 0);
        for (const NeResource& r : t.resources) {
            const std::size_t offset = dataAt + data.size();
            const std::size_t units = (r.data.size() + alignment - 1) / alignment;
            Put16(b, std::uint16_t(offset >> alignShift));
            Put16(b, std::uint16_t(units));
            Put16(b, 0x1C30);
            Put16(b, std::uint16_t(r.id | 0x8000));
            Put32(b, 0);
            data.insert(data.end(), r.data.begin(), r.data.end());
            data.resize(data.size() + (units * alignment - r.data.size()), 0);
        }
    }
    Put16(b, 0);
    for (const std::string& n : names) {
        b.push_back(std::uint8_t(n.size()));
        b.insert(b.end(), n.begin(), n.end());
    }
    b.push_back(0);
    b.push_back(std::uint8_t(module.size()));
    b.insert(b.end(), module.begin(), module.end());
    Put16(b, 0);
    b.push_back(0);
    b.resize(dataAt, 0);
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

namespace {

std::filesystem::path UnixPath(const std::string& path) {
#ifdef _WIN32
    return std::filesystem::path("Z:" + path);
#else
    return std::filesystem::path(path);
#endif
}

Bytes ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace

std::vector<std::filesystem::path> RealExecutables() {
    std::vector<std::filesystem::path> found;
    for (const char* name : {"/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/shell32.dll",
                             "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/imageres.dll",
                             "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/notepad.exe",
                             "/usr/lib/i386-linux-gnu/wine/i386-windows/shell32.dll",
                             "/usr/lib/i386-linux-gnu/wine/i386-windows/regedit.exe"}) {
        const std::filesystem::path p = UnixPath(name);
        std::error_code e;
        if (std::filesystem::is_regular_file(p, e)) found.push_back(p);
    }
    return found;
}

std::filesystem::path CarvedNeModule() {
    const std::filesystem::path source = UnixPath("/usr/lib/i386-linux-gnu/wine/i386-windows/display.drv16");
    std::error_code e;
    if (!std::filesystem::is_regular_file(source, e)) return {};
    const Bytes b = ReadAll(source);
    // The module is a complete NE file image of its own, starting with its own "MZ".
    for (std::size_t at = 1; at + 64 < b.size(); ++at) {
        if (b[at] != 'M' || b[at + 1] != 'Z') continue;
        const std::size_t ne = at + (std::size_t(b[at + 60]) | std::size_t(b[at + 61]) << 8);
        if (ne + 2 > b.size() || b[ne] != 'N' || b[ne + 1] != 'E') continue;
        const std::filesystem::path out = std::filesystem::temp_directory_path() / "vantrel-display-module.ne";
        std::ofstream(out, std::ios::binary).write(reinterpret_cast<const char*>(b.data() + at), std::streamsize(b.size() - at));
        return out;
    }
    return {};
}

}  // namespace vantrel::test
