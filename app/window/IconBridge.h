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

// A picture in the form GDI draws fastest: a 32-bit premultiplied DIB section, made once,
// so that repaints and scrolling only blend it. Pictures without alpha are transparent
// where their mask is set.
class TPictureBitmap {
public:
    TPictureBitmap() = default;
    explicit TPictureBitmap(const THiResIcon& picture);
    ~TPictureBitmap();
    TPictureBitmap(TPictureBitmap&& other) noexcept;
    TPictureBitmap& operator=(TPictureBitmap&& other) noexcept;
    TPictureBitmap(const TPictureBitmap&) = delete;
    TPictureBitmap& operator=(const TPictureBitmap&) = delete;

    bool Empty() const { return bitmap_ == nullptr; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    // Alpha-blends the bitmap stretched to the rectangle; nothing for an empty one.
    void Draw(HDC dc, const RECT& rect) const;

private:
    HBITMAP bitmap_ = nullptr;
    int width_ = 0;
    int height_ = 0;
};

}  // namespace vantrel
