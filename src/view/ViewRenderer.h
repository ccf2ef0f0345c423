#pragma once
// The pictures of the view: the display bitmap (the working bitmap fitted
// to the view), the lens bitmaps and the composed view with the magnifier.
// All of them are view-sized or lens-sized: nothing here copies the whole
// working bitmap, so a 24 MP photograph costs no more per mouse move than
// a small one.

#include <cstddef>
#include <cstdint>

#include "common/Bitmap.h"
#include "common/Orientation.h"
#include "view/ViewState.h"

namespace scarlex {

// A rectangle of view pixels, right and bottom exclusive.
struct ViewRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    bool Empty() const { return right <= left || bottom <= top; }
    ViewRect United(const ViewRect& o) const;
    ViewRect Clipped(int width, int height) const;
    bool operator==(const ViewRect&) const = default;
};

// Colours are 0x00BBGGRR, as the preferences hold them.
inline constexpr uint32_t kDefaultBorderColour = 0x00FF0000;  // blue
inline constexpr uint32_t kDefaultLimitColour = 0x00FFFF00;   // aqua

// Reads a pixel; positions outside the bitmap read as black.
void ReadPixel(const Bitmap& bitmap, int x, int y, uint8_t& red, uint8_t& green, uint8_t& blue);

// The working bitmap as the view sees it: turned upright by its EXIF
// orientation, without a copy. Positions are upright pixels.
class UprightPicture {
public:
    // An upright photograph converts as it stands.
    UprightPicture(const Bitmap& stored, int orientationTag = 1);  // NOLINT(google-explicit-constructor)
    int Width() const { return width_; }
    int Height() const { return height_; }
    bool Contains(int x, int y) const { return x >= 0 && y >= 0 && x < width_ && y < height_; }
    void ToStored(int x, int y, int& sx, int& sy) const { map_.Apply(x, y, sx, sy); }
    // Inside only.
    const uint8_t* Pixel(int x, int y) const { return base_ + x * stepX_ + y * stepY_; }
    bool Empty() const { return width_ == 0 || height_ == 0; }

private:
    Orientation::Map map_;
    const uint8_t* base_ = nullptr;  // upright (0, 0)
    std::ptrdiff_t stepX_ = 3, stepY_ = 0;
    int width_ = 0, height_ = 0;
};

void ReadPixel(const UprightPicture& picture, int x, int y, uint8_t& red, uint8_t& green, uint8_t& blue);

// Ellipses inside the box (left, top, right, bottom), right and bottom
// exclusive, clipped to the bitmap. Filled: every pixel of the figure.
// Framed: a one-pixel outline (the figure's pixels on its boundary).
void FillEllipse(Bitmap& bitmap, int left, int top, int right, int bottom, uint32_t colour);
void FrameEllipse(Bitmap& bitmap, int left, int top, int right, int bottom, uint32_t colour);

class ViewRenderer {
public:
    uint32_t MagnifierBorderColour = kDefaultBorderColour;
    uint32_t LimitBorderColour = kDefaultLimitColour;

    // The stretch of RenderView: the display bitmap becomes the fitted
    // picture and the composed view a copy of it.
    void RenderDisplay(const UprightPicture& work, const ViewState& view);
    // Lens mask and rings for the current radius, limit and magnification.
    void BuildLens(const ViewState& view);
    // Composes the magnifier onto the composed view. Returns the area of the
    // composed view that changed since the previous composition (the old
    // lens put back plus the new one).
    ViewRect DrawLens(const UprightPicture& work, const ViewState& view);
    // Puts the composed view back to the plain display; returns the area.
    ViewRect ClearLens();

    const Bitmap& Display() const { return display_; }
    const Bitmap& Composed() const { return composed_; }
    const Bitmap& LensMask() const { return mask_; }
    const Bitmap& LensRings() const { return rings_; }
    const LensGeometry& Geometry() const { return geometry_; }

private:
    Bitmap display_;
    Bitmap composed_;
    Bitmap mask_;
    Bitmap rings_;
    LensGeometry geometry_;
    ViewRect drawn_;  // where the composed view differs from the display
};

}  // namespace scarlex
