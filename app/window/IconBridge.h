// The bridge between the imaging code's portable icon pictures and the platform's icon
// handles and bitmaps, for the window code's previews.
#pragma once

#include "imaging/IconHandle.h"  // before windows.h and its RGB macros

#include <windows.h>

#include <string>

namespace vantrel {

// The platform's icon number `index` of `file` (negative: minus a resource id), loaded at
// `size` x `size` pixels; an empty picture when the file yields none.
THiResIcon LoadIconPicture(const std::wstring& file, int index, int size);
// A platform icon handle as a portable picture (colour bitmap and mask copied).
THiResIcon PictureFromHicon(::HICON icon);
// A portable picture as a new platform icon handle (the caller destroys it); null for an
// empty picture.
::HICON HiconFromPicture(const THiResIcon& picture);
// Draws the picture stretched to the rectangle, alpha-blended when it has alpha.
void DrawPicture(HDC dc, const RECT& rect, const THiResIcon& picture);

}  // namespace vantrel
