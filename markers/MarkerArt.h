// The built-in markers: our own pictures, drawn from simple shapes at every size a marker
// has (16, 24, 32 and 48 pixels with alpha, 256 pixels as a PNG entry). Each marker is a
// full-size transparent picture with its sign in the lower left corner, where an overlay
// belongs, so it can be drawn over any file icon without scaling.
#pragma once

#include <string>
#include <vector>

#include "imaging/Bitmap.h"
#include "imaging/IconModel.h"

namespace vantrel {

struct TMarkerDesign {
    std::string Name;
    int Index;  // position in Main.icl
};

// The markers in library order. Positions 0, 2, 3, 5, 6 and 8 are Hi-Priority, Low Priority,
// Planned Work, Done Work, Approved and Rejected.
const std::vector<TMarkerDesign>& MarkerDesigns();

// The sizes every marker is drawn at.
const std::vector<int>& MarkerSizes();

// One marker picture: a 32-bit bitmap with alpha (colour not premultiplied).
TBitmap DrawMarker(int index, int size);

// The marker as an icon: 32-bit images at 16, 24, 32 and 48 pixels, a PNG entry at 256.
void MakeMarkerIcon(int index, TAdvancedIcon& icon);

// The program's own icon: a page with the "Approved" marker over it, at every marker size.
TBitmap DrawAppIcon(int size);
void MakeAppIcon(TAdvancedIcon& icon);

}  // namespace vantrel
