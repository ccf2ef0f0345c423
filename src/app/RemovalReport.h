#pragma once
// What one click did, for the status bar: how many pixels changed and
// whether the limit (the glass or the limit circle) cut the removal short,
// that is, whether red that passes the thresholds lies just beyond it.

#include <cstdint>

#include "common/Bitmap.h"
#include "common/Rect.h"
#include "editing/RedEye.h"

namespace scarlex {

struct RemovalSummary {
    int64_t changed = 0;       // pixels that differ from before the edit
    bool reachedEdge = false;  // a changed pixel borders passing red outside the limit
};

// Compares `after` with `before` inside `rect` (bottom exclusive; clipped to
// the photograph); `before` holds just that clipped rectangle as it was. The
// edge test runs only when `limit` is given.
RemovalSummary SummariseRemoval(const Bitmap& before, const Bitmap& after, const Rect& rect,
                                const LimitCircle* limit, const Thresholds& thresholds);

}  // namespace scarlex
