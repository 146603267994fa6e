// Writes a 16-bit (NE) icon library: the classic ".icl" layout. Each icon of the library
// is an RT_GROUP_ICON group whose images are RT_ICON resources; the resource table is
// followed by the name "ICL" and then the icons' names in group order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "imaging/IconModel.h"

namespace vantrel {

struct TLibraryIcon {
    std::string Name;            // shown for the icon; at most 255 bytes
    const TAdvancedIcon* Icon;   // its images, in order (PNG entries stay PNG)
};

// The library file's bytes. `moduleName` is the library's module name (resident-name
// table). Fails with a vantrel::Error when the icons do not fit the format's limits.
std::vector<std::uint8_t> BuildIconLibrary(const std::string& moduleName, const std::vector<TLibraryIcon>& icons);

}  // namespace vantrel
