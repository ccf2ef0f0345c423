#include "app/RemovalReport.h"

#include <cstring>

#include "editing/UndoStore.h"

namespace scarlex {

namespace {

// Whether the pixel would pass the test. Used outside the limit, where the
// removal changed nothing, so the edited picture shows it as it was.
bool Passes(const Bitmap& picture, int x, int y, const Thresholds& t) {
    uint8_t copy[3];
    std::memcpy(copy, picture.Pixel(x, y), 3);
    return ClearRedPixel(copy, t);
}

}  // namespace

RemovalSummary SummariseRemoval(const Bitmap& before, const Bitmap& after, const Rect& rect,
                                const LimitCircle* limit, const Thresholds& thresholds) {
    RemovalSummary summary;
    const Rect r = ClipToBitmap(rect, after.Width(), after.Height());
    if (r.right <= r.left || r.bottom <= r.top) return summary;
    if (before.Width() != r.right - r.left || before.Height() != r.bottom - r.top) return summary;
    const int dx[4] = {-1, 1, 0, 0};
    const int dy[4] = {0, 0, -1, 1};
    for (int y = r.top; y < r.bottom; ++y) {
        const uint8_t* a = after.Pixel(r.left, y);
        const uint8_t* b = before.Pixel(0, y - r.top);
        for (int x = r.left; x < r.right; ++x, a += 3, b += 3) {
            if (std::memcmp(a, b, 3) == 0) continue;
            ++summary.changed;
            if (!limit || summary.reachedEdge) continue;
            for (int k = 0; k < 4; ++k) {
                const int nx = x + dx[k], ny = y + dy[k];
                if (!after.Contains(nx, ny) || limit->Inside(nx, ny)) continue;
                if (Passes(after, nx, ny, thresholds)) {
                    summary.reachedEdge = true;
                    break;
                }
            }
        }
    }
    return summary;
}

}  // namespace scarlex
