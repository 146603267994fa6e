// Scaling of 32-bit pictures with a Lanczos filter (three lobes), for marker pictures the
// user brings in any size. The filter runs on premultiplied colours, so that the colour of
// transparent pixels never bleeds into the edges of the picture (no dark fringes).
#pragma once

#include "imaging/Bitmap.h"

namespace vantrel {

// Largest side a picture may be scaled from or to; larger ones are refused.
constexpr int MaxResampleSide = 8192;

// How the colours of a 32-bit bitmap relate to its alpha.
enum class TAlphaForm {
    Straight,       // colours as they are, alpha beside them (icon images, PNG pictures)
    Premultiplied,  // colours already multiplied by alpha (what AlphaBlend draws)
};

// `source` (32 bits) scaled to width x height, in the same alpha form. The weights of each
// output pixel are the Lanczos kernel's, widened by the reduction factor when shrinking, and
// sum to one. Fails with a vantrel::Error for a source that is not 32 bits or has no pixels,
// and for a target side below 1 or above MaxResampleSide.
TBitmap ResampleBitmap(const TBitmap& source, int width, int height, TAlphaForm form = TAlphaForm::Straight);

}  // namespace vantrel
