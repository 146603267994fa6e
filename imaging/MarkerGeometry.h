// Where a marker's picture sits in its icon: a badge in the lower-left box of each icon
// size, the rest of the square transparent, so that the file's own icon stays visible
// around it. The built-in markers are drawn into this box and the user's pictures fitted
// into it, so both kinds look alike over a file icon.
#pragma once

#include <cmath>

namespace vantrel {

// The side of the badge's box in an icon of `size` pixels: large enough to read at 16
// pixels, about a third of the area (56 % of the side) at 256.
constexpr int MarkerBadgeSize(int size) {
    switch (size) {
        case 16: return 11;
        case 24: return 15;
        case 32: return 19;
        case 48: return 27;
        default: return int(size * 0.56 + 0.5);
    }
}

// The box's left and top edges in the icon (its lower-left corner is the icon's).
constexpr int MarkerBadgeLeft(int /*size*/) { return 0; }
constexpr int MarkerBadgeTop(int size) { return size - MarkerBadgeSize(size); }

}  // namespace vantrel
