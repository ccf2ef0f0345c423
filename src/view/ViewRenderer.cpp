#include "view/ViewRenderer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace scarlex {

namespace {

struct Span {
    int x0 = 0, x1 = -1;  // inclusive; empty when x1 < x0
    bool Has(int x) const { return x >= x0 && x <= x1; }
};

// Row spans of the ellipse inscribed in the box; index 0 is row `top`.
std::vector<Span> EllipseSpans(int left, int top, int right, int bottom) {
    std::vector<Span> spans;
    if (right <= left || bottom <= top) return spans;
    const long double cx = (left + right - 1) / 2.0L, cy = (top + bottom - 1) / 2.0L;
    const long double ax = (right - left) / 2.0L, ay = (bottom - top) / 2.0L;
    spans.resize(static_cast<std::size_t>(bottom - top));
    for (int y = top; y < bottom; ++y) {
        const long double dy = (y - cy) / ay;
        const long double s = 1 - dy * dy;
        if (s < 0) continue;
        const long double half = ax * std::sqrt(s);
        Span span;
        span.x0 = std::max(left, static_cast<int>(std::ceil(cx - half)));
        span.x1 = std::min(right - 1, static_cast<int>(std::floor(cx + half)));
        spans[static_cast<std::size_t>(y - top)] = span;
    }
    return spans;
}

void Put(Bitmap& bitmap, int x, int y, uint32_t colour) {
    uint8_t* p = bitmap.Pixel(x, y);
    p[0] = static_cast<uint8_t>(colour >> 16);
    p[1] = static_cast<uint8_t>(colour >> 8);
    p[2] = static_cast<uint8_t>(colour);
}

void CopyRegion(const Bitmap& from, Bitmap& to, ViewRect r) {
    r = r.Clipped(std::min(from.Width(), to.Width()), std::min(from.Height(), to.Height()));
    if (r.Empty()) return;
    const std::size_t bytes = static_cast<std::size_t>(r.right - r.left) * 3;
    for (int y = r.top; y < r.bottom; ++y) std::memcpy(to.Pixel(r.left, y), from.Pixel(r.left, y), bytes);
}

void InvertPixel(Bitmap& bitmap, int x, int y) {
    if (!bitmap.Contains(x, y)) return;
    uint8_t* p = bitmap.Pixel(x, y);
    p[0] = static_cast<uint8_t>(~p[0]);
    p[1] = static_cast<uint8_t>(~p[1]);
    p[2] = static_cast<uint8_t>(~p[2]);
}

bool IsBlack(const uint8_t* p) { return p[0] == 0 && p[1] == 0 && p[2] == 0; }

}  // namespace

ViewRect ViewRect::United(const ViewRect& o) const {
    if (Empty()) return o;
    if (o.Empty()) return *this;
    return {std::min(left, o.left), std::min(top, o.top), std::max(right, o.right), std::max(bottom, o.bottom)};
}

ViewRect ViewRect::Clipped(int width, int height) const {
    ViewRect r{std::max(left, 0), std::max(top, 0), std::min(right, width), std::min(bottom, height)};
    if (r.Empty()) return {};
    return r;
}

void ReadPixel(const Bitmap& bitmap, int x, int y, uint8_t& red, uint8_t& green, uint8_t& blue) {
    if (!bitmap.Contains(x, y)) {
        red = green = blue = 0;
        return;
    }
    const uint8_t* p = bitmap.Pixel(x, y);
    blue = p[0];
    green = p[1];
    red = p[2];
}

UprightPicture::UprightPicture(const Bitmap& stored, int orientationTag) {
    if (stored.Empty()) return;
    const Orientation orientation(orientationTag, stored.Width(), stored.Height());
    map_ = orientation.StoredFromUpright();
    width_ = orientation.UprightWidth();
    height_ = orientation.UprightHeight();
    const auto stride = static_cast<std::ptrdiff_t>(stored.Stride());
    stepX_ = map_.ax * 3 + map_.ay * stride;
    stepY_ = map_.bx * 3 + map_.by * stride;
    base_ = stored.Pixel(map_.cx, map_.cy);
}

void ReadPixel(const UprightPicture& picture, int x, int y, uint8_t& red, uint8_t& green, uint8_t& blue) {
    if (!picture.Contains(x, y)) {
        red = green = blue = 0;
        return;
    }
    const uint8_t* p = picture.Pixel(x, y);
    blue = p[0];
    green = p[1];
    red = p[2];
}

void FillEllipse(Bitmap& bitmap, int left, int top, int right, int bottom, uint32_t colour) {
    const std::vector<Span> spans = EllipseSpans(left, top, right, bottom);
    for (std::size_t i = 0; i < spans.size(); ++i) {
        const int y = top + static_cast<int>(i);
        if (y < 0 || y >= bitmap.Height()) continue;
        const int x0 = std::max(spans[i].x0, 0), x1 = std::min(spans[i].x1, bitmap.Width() - 1);
        for (int x = x0; x <= x1; ++x) Put(bitmap, x, y, colour);
    }
}

void FrameEllipse(Bitmap& bitmap, int left, int top, int right, int bottom, uint32_t colour) {
    const std::vector<Span> spans = EllipseSpans(left, top, right, bottom);
    const auto has = [&](int row, int x) {
        return row >= 0 && row < static_cast<int>(spans.size()) && spans[static_cast<std::size_t>(row)].Has(x);
    };
    for (int i = 0; i < static_cast<int>(spans.size()); ++i) {
        const int y = top + i;
        if (y < 0 || y >= bitmap.Height()) continue;
        const Span& s = spans[static_cast<std::size_t>(i)];
        for (int x = std::max(s.x0, 0); x <= std::min(s.x1, bitmap.Width() - 1); ++x) {
            if (x == s.x0 || x == s.x1 || !has(i - 1, x) || !has(i + 1, x)) Put(bitmap, x, y, colour);
        }
    }
}

void ViewRenderer::RenderDisplay(const UprightPicture& work, const ViewState& view) {
    const int dw = view.DisplayWidth(), dh = view.DisplayHeight();
    display_.SetSize(dw, dh);
    if (!work.Empty()) {
        // Nearest neighbour: the same column and row a mouse position maps
        // to. Upright column and row each add their own step in the stored
        // bitmap, so a turned photograph costs no more than an upright one.
        std::vector<const uint8_t*> columns(static_cast<std::size_t>(dw));
        for (int x = 0; x < dw; ++x)
            columns[static_cast<std::size_t>(x)] = work.Pixel(std::min(view.SourceColumn(x), work.Width() - 1), 0);
        const uint8_t* origin = work.Pixel(0, 0);
        for (int y = 0; y < dh; ++y) {
            const std::ptrdiff_t row = work.Pixel(0, std::min(view.SourceRow(y), work.Height() - 1)) - origin;
            uint8_t* dst = display_.Row(y);
            for (int x = 0; x < dw; ++x) {
                const uint8_t* s = columns[static_cast<std::size_t>(x)] + row;
                dst[0] = s[0];
                dst[1] = s[1];
                dst[2] = s[2];
                dst += 3;
            }
        }
    }
    composed_ = display_;
    drawn_ = {};
}

void ViewRenderer::BuildLens(const ViewState& view) {
    geometry_ = view.Lens();
    const int S = geometry_.S;
    mask_.SetSize(S, S);
    FillEllipse(mask_, 4, 4, S - 4, S - 4, 0x00FFFFFF);
    rings_.SetSize(S, S);
    FrameEllipse(rings_, 4, 4, S - 4, S - 4, MagnifierBorderColour);
    if (view.LimitActive) {
        const int c = S / 2;
        FrameEllipse(rings_, c - view.Limit - 2, c - view.Limit - 2, c + view.Limit + 2, c + view.Limit + 2,
                     LimitBorderColour);
    }
}

ViewRect ViewRenderer::ClearLens() {
    const ViewRect old = drawn_;
    CopyRegion(display_, composed_, old);
    drawn_ = {};
    return old.Clipped(composed_.Width(), composed_.Height());
}

ViewRect ViewRenderer::DrawLens(const UprightPicture& work, const ViewState& view) {
    const ViewRect old = ClearLens();
    const LensGeometry g = view.Lens();
    if (g.S != geometry_.S || g.N != geometry_.N || mask_.Width() != g.S) BuildLens(view);
    const LensPlacement pl = view.Placement();
    const int S = geometry_.S, N = geometry_.N;
    const int cw = composed_.Width(), ch = composed_.Height();

    FillEllipse(composed_, pl.discLeft, pl.discTop, pl.discRight, pl.discBottom, 0);

    // Lens content: the source square stretched over the lens, kept inside
    // the mask's disc (an AND with white), black left transparent. Read
    // straight from the working bitmap: only S x S pixels are touched.
    const int i0 = std::max(0, -pl.lensLeft), i1 = std::min(S, cw - pl.lensLeft);
    const int j0 = std::max(0, -pl.lensTop), j1 = std::min(S, ch - pl.lensTop);
    std::vector<int> columns(static_cast<std::size_t>(std::max(0, i1 - i0)));
    for (int i = i0; i < i1; ++i)
        columns[static_cast<std::size_t>(i - i0)] = pl.sourceLeft + static_cast<int>(static_cast<long long>(i) * N / S);
    for (int j = j0; j < j1; ++j) {
        const int sy = pl.sourceTop + static_cast<int>(static_cast<long long>(j) * N / S);
        const bool rowInside = sy >= 0 && sy < work.Height();
        const uint8_t* maskRow = mask_.Row(j);
        const uint8_t* ringRow = rings_.Row(j);
        uint8_t* out = composed_.Row(pl.lensTop + j);
        for (int i = i0; i < i1; ++i) {
            uint8_t* dst = out + 3 * static_cast<std::size_t>(pl.lensLeft + i);
            const uint8_t* m = maskRow + 3 * static_cast<std::size_t>(i);
            if (rowInside && !IsBlack(m)) {
                const int sx = columns[static_cast<std::size_t>(i - i0)];
                if (sx >= 0 && sx < work.Width()) {
                    const uint8_t* s = work.Pixel(sx, sy);
                    const uint8_t v[3] = {static_cast<uint8_t>(s[0] & m[0]), static_cast<uint8_t>(s[1] & m[1]),
                                          static_cast<uint8_t>(s[2] & m[2])};
                    if (!IsBlack(v)) std::memcpy(dst, v, 3);
                }
            }
            const uint8_t* r = ringRow + 3 * static_cast<std::size_t>(i);
            if (!IsBlack(r)) std::memcpy(dst, r, 3);
        }
    }

    // Crosshair with an inverting pen; the lines end one short of their end
    // point, and the centre, covered by both, comes back to its colour.
    for (int y = pl.crossY - 10; y < pl.crossY + 10; ++y) InvertPixel(composed_, pl.crossX, y);
    for (int x = pl.crossX - 10; x < pl.crossX + 10; ++x) InvertPixel(composed_, x, pl.crossY);

    ViewRect now{pl.lensLeft, pl.lensTop, pl.lensLeft + S, pl.lensTop + S};
    now = now.United({pl.discLeft, pl.discTop, pl.discRight, pl.discBottom});
    now = now.United({pl.crossX - 10, pl.crossY - 10, pl.crossX + 11, pl.crossY + 11});
    drawn_ = now.Clipped(cw, ch);
    return old.United(drawn_);
}

}  // namespace scarlex
