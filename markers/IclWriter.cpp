#include "markers/IclWriter.h"

#include <algorithm>

#include "imaging/Error.h"

namespace vantrel {

namespace {

constexpr std::uint16_t kRtIcon = 0x8003;
constexpr std::uint16_t kRtGroupIcon = 0x800E;
constexpr unsigned kAlignShift = 6;  // resources start on 64-byte boundaries
constexpr std::size_t kNeOffset = 0x80;
// Flags of each resource: moveable, pure, discardable (as icon resources usually are).
constexpr std::uint16_t kResourceFlags = 0x1C30;

void Put8(std::vector<std::uint8_t>& b, unsigned v) { b.push_back(std::uint8_t(v)); }
void Put16(std::vector<std::uint8_t>& b, unsigned v) {
    b.push_back(std::uint8_t(v));
    b.push_back(std::uint8_t(v >> 8));
}
void Put32(std::vector<std::uint8_t>& b, std::uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}
void Set16(std::vector<std::uint8_t>& b, std::size_t at, unsigned v) {
    b[at] = std::uint8_t(v);
    b[at + 1] = std::uint8_t(v >> 8);
}
void Set32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    Set16(b, at, v & 0xFFFF);
    Set16(b, at + 2, v >> 16);
}
void PutName(std::vector<std::uint8_t>& b, const std::string& name) {
    if (name.size() > 255) throw Error("Icon name \"" + name + "\" is longer than 255 bytes");
    Put8(b, unsigned(name.size()));
    b.insert(b.end(), name.begin(), name.end());
}

struct Resource {
    std::vector<std::uint8_t> data;
    std::uint16_t id;
    std::size_t entry = 0;  // where its NAMEINFO sits in the file
};

}  // namespace

std::vector<std::uint8_t> BuildIconLibrary(const std::string& moduleName, const std::vector<TLibraryIcon>& icons) {
    if (icons.empty()) throw Error("An icon library needs at least one icon");
    std::vector<Resource> images, groups;
    for (std::size_t g = 0; g < icons.size(); ++g) {
        const TAdvancedIcon& icon = *icons[g].Icon;
        const std::vector<std::uint8_t> ico = icon.SaveToBytes();  // the images as an ICO file writes them
        const unsigned count = icon.Images().Count();
        if (count == 0) throw Error("Icon \"" + icons[g].Name + "\" has no images");
        Resource group;
        group.id = std::uint16_t(g + 1);
        Put16(group.data, 0);
        Put16(group.data, 1);
        Put16(group.data, count);
        for (unsigned i = 0; i < count; ++i) {
            const std::uint8_t* dir = ico.data() + 6 + 16 * i;
            const std::uint32_t size = std::uint32_t(dir[8] | dir[9] << 8 | dir[10] << 16 | std::uint32_t(dir[11]) << 24);
            const std::uint32_t offset = std::uint32_t(dir[12] | dir[13] << 8 | dir[14] << 16 | std::uint32_t(dir[15]) << 24);
            if (images.size() >= 0x7FFF) throw Error("Too many images for an icon library");
            Resource image;
            image.id = std::uint16_t(images.size() + 1);
            image.data.assign(ico.begin() + offset, ico.begin() + offset + size);
            images.push_back(std::move(image));
            // GRPICONDIRENTRY: the ICO entry's first 12 bytes, then the RT_ICON id.
            group.data.insert(group.data.end(), dir, dir + 12);
            Put16(group.data, images.back().id);
        }
        groups.push_back(std::move(group));
    }

    std::vector<std::uint8_t> f(kNeOffset, 0);
    // DOS header: "MZ", header size in paragraphs, relocation table offset 0x40, and the
    // offset of the new (NE) header at 0x3C.
    f[0] = 'M';
    f[1] = 'Z';
    Set16(f, 0x02, kNeOffset % 512);
    Set16(f, 0x04, 1);
    Set16(f, 0x08, 4);
    Set16(f, 0x18, 0x40);
    Set32(f, 0x3C, kNeOffset);

    const std::size_t ne = f.size();
    f.resize(ne + 0x40, 0);
    f[ne] = 'N';
    f[ne + 1] = 'E';
    f[ne + 2] = 5;                      // linker version
    Set16(f, ne + 0x0C, 0x8000);        // a library module
    Set16(f, ne + 0x32, kAlignShift);   // alignment shift of the segment table
    f[ne + 0x36] = 2;                   // target: Windows
    Set16(f, ne + 0x3E, 0x030A);        // expected Windows version 3.10

    // Resource table.
    const std::size_t resourceTable = f.size();
    Put16(f, kAlignShift);
    for (auto* list : {&images, &groups}) {
        Put16(f, list == &images ? kRtIcon : kRtGroupIcon);
        Put16(f, unsigned(list->size()));
        Put32(f, 0);
        for (Resource& r : *list) {
            r.entry = f.size();
            Put16(f, 0);  // offset, set below
            Put16(f, 0);  // length, set below
            Put16(f, kResourceFlags);
            Put16(f, 0x8000u | r.id);
            Put16(f, 0);
            Put16(f, 0);
        }
    }
    Put16(f, 0);
    // The names: "ICL", then the icons' names in group order, ended by a zero length.
    PutName(f, "ICL");
    for (const TLibraryIcon& icon : icons) PutName(f, icon.Name);
    Put8(f, 0);

    // Resident-name table (the module name), then empty module-reference, imported-name
    // and entry tables.
    const std::size_t residentNames = f.size();
    PutName(f, moduleName);
    Put16(f, 0);
    Put8(f, 0);
    const std::size_t importedNames = f.size();
    Put8(f, 0);
    const std::size_t entryTable = f.size();
    Put8(f, 0);
    Put8(f, 0);
    const std::size_t nonResidentNames = f.size();
    PutName(f, moduleName + " icon library");
    Put16(f, 0);
    Put8(f, 0);
    const std::size_t nonResidentSize = f.size() - nonResidentNames;

    Set16(f, ne + 0x04, unsigned(entryTable - ne));
    Set16(f, ne + 0x06, 2);
    Set16(f, ne + 0x20, unsigned(nonResidentSize));
    Set16(f, ne + 0x22, unsigned(resourceTable - ne));  // no segments: the table is empty
    Set16(f, ne + 0x24, unsigned(resourceTable - ne));
    Set16(f, ne + 0x26, unsigned(residentNames - ne));
    Set16(f, ne + 0x28, unsigned(importedNames - ne));
    Set16(f, ne + 0x2A, unsigned(importedNames - ne));
    Set32(f, ne + 0x2C, std::uint32_t(nonResidentNames));
    Set16(f, ne + 0x34, unsigned(images.size() + groups.size()));

    // Resource data, each aligned; offsets and lengths are counted in alignment units.
    const std::size_t unit = std::size_t(1) << kAlignShift;
    for (auto* list : {&images, &groups}) {
        for (Resource& r : *list) {
            f.resize((f.size() + unit - 1) / unit * unit, 0);
            const std::size_t units = (r.data.size() + unit - 1) / unit;
            if (f.size() / unit > 0xFFFF || units > 0xFFFF)
                throw Error("The icons do not fit a 16-bit icon library");
            Set16(f, r.entry, unsigned(f.size() / unit));
            Set16(f, r.entry + 2, unsigned(units));
            f.insert(f.end(), r.data.begin(), r.data.end());
        }
    }
    f.resize((f.size() + unit - 1) / unit * unit, 0);
    return f;
}

}  // namespace vantrel
