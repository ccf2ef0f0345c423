#include "editing/FittedRemoval.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace scarlex {

namespace {

// Pixels that come less close than this to the test's thresholds (as a
// share of each) are left as they are.
constexpr double kCloseFloor = 0.5;

double Share(long double value, long double threshold) {
    if (!(threshold > 0)) return 1.0;
    return static_cast<double>(value / threshold);
}

}  // namespace

double RedTestCloseness(const uint8_t* bgr, const Thresholds& t) {
    uint8_t probe[3] = {bgr[0], bgr[1], bgr[2]};
    if (ClearRedPixel(probe, t)) return 1.0;
    const long double r = bgr[2];
    const long double g = std::max<int>(bgr[1], 1), b = std::max<int>(bgr[0], 1);
    const double m = std::min({Share(r / g, t.RatioRG), Share(r / b, t.RatioRB),
                               Share(r, static_cast<long double>(t.Red))});
    const double s = std::clamp((m - kCloseFloor) / (1.0 - kCloseFloor), 0.0, 1.0);
    return std::min(s * s * (3 - 2 * s), 0.999);
}

double MagentaShare(const uint8_t* bgr) {
    // Red and blue both well above green: the pupil's red blended with a
    // bluish catch-light. Skin, irises and whites never look like this.
    const int b = bgr[0], g = bgr[1], r = bgr[2];
    const int low = std::min(r, b), high = std::max(r, b);
    if (high < 40) return 0;
    const double s = std::clamp((static_cast<double>(low - g) / high - 0.08) / 0.22, 0.0, 1.0);
    return s * s * (3 - 2 * s);
}

RemovalResult RemoveRedInCircle(Bitmap& work, DBUndoTable& undo, const Thresholds& t, const PupilCircle& circle,
                                const LimitCircle* limit) {
    RemovalResult result;
    const double r = circle.radius;
    if (work.Empty() || !std::isfinite(circle.x) || !std::isfinite(circle.y) || !std::isfinite(r) || r <= 0)
        return result;
    const double bound = 4.0 * std::max(work.Width(), work.Height());
    if (std::fabs(circle.x) > bound || std::fabs(circle.y) > bound || r > bound) return result;

    const int left = std::max(0, static_cast<int>(std::floor(circle.x - r)));
    const int right = std::min(work.Width() - 1, static_cast<int>(std::ceil(circle.x + r)));
    const int top = std::max(0, static_cast<int>(std::floor(circle.y - r)));
    const int bottom = std::min(work.Height() - 1, static_cast<int>(std::ceil(circle.y + r)));
    if (left > right || top > bottom) return result;

    // The half-red pixels fade out over the last stretch inside the circle,
    // so that the edge of the change does not show as a line.
    const double fade = std::clamp(0.25 * r, 1.0, 2.0);
    const int bw = right - left + 1;
    std::vector<uint8_t> next(static_cast<std::size_t>(bw) * (bottom - top + 1) * 3);
    Rect changed{work.Width(), work.Height(), -1, -1};
    for (int y = top; y <= bottom; ++y) {
        const double dy = y - circle.y;
        for (int x = left; x <= right; ++x) {
            const double dx = x - circle.x;
            const double d2 = dx * dx + dy * dy;
            const uint8_t* p = work.Pixel(x, y);
            uint8_t* q = &next[(static_cast<std::size_t>(y - top) * bw + (x - left)) * 3];
            q[0] = p[0];
            q[1] = p[1];
            q[2] = p[2];
            if (!(d2 < r * r) || (limit && !limit->Inside(x, y))) continue;
            if (!ClearRedPixel(q, t)) {
                const double w = std::max(RedTestCloseness(p, t), MagentaShare(p)) *
                                 std::clamp((r - std::sqrt(d2)) / fade, 0.0, 1.0);
                if (w <= 0) continue;
                uint8_t cleared[3] = {p[0], p[1], p[2]};
                WriteClearedPixel(cleared, std::max<int>(p[1], 1), std::max<int>(p[0], 1), t);
                for (int c = 0; c < 3; ++c)
                    q[c] = static_cast<uint8_t>(std::lround(p[c] + w * (static_cast<int>(cleared[c]) - p[c])));
            }
            if (q[0] == p[0] && q[1] == p[1] && q[2] == p[2]) continue;
            changed.left = std::min(changed.left, x);
            changed.top = std::min(changed.top, y);
            changed.right = std::max(changed.right, x + 1);
            changed.bottom = std::max(changed.bottom, y + 1);
        }
    }
    if (changed.right <= changed.left) return result;

    // The photograph is still as it was: the undo row is cut from it before
    // the new pixels go in.
    if (!undo.Append(changed, work)) return result;
    for (int y = changed.top; y < changed.bottom; ++y)
        for (int x = changed.left; x < changed.right; ++x) {
            const uint8_t* q = &next[(static_cast<std::size_t>(y - top) * bw + (x - left)) * 3];
            uint8_t* p = work.Pixel(x, y);
            p[0] = q[0];
            p[1] = q[1];
            p[2] = q[2];
        }
    result.outcome = RemovalOutcome::Recorded;
    result.rect = changed;
    return result;
}

RemovalResult RemoveRedInCircle(Bitmap& work, DBUndoTable& undo, const EditSettings& settings,
                                const PupilCircle& circle, const std::string& decimalSeparator) {
    const ThresholdConversion c = ConvertThresholds(settings, decimalSeparator);
    if (!c.ok) {
        RemovalResult refused;
        refused.outcome = RemovalOutcome::Refused;
        refused.error = c.error;
        return refused;
    }
    return RemoveRedInCircle(work, undo, c.thresholds, circle);
}

bool FitRemovalCircle(const Bitmap& work, double x, double y, double radiusHint, PupilCircle& circle) {
    PupilFitOptions options;
    options.radiusHint = radiusHint;
    const PupilFit fit = FitPupil(work, x, y, options);
    if (!fit.found) return false;
    circle = {fit.x, fit.y, fit.circle};
    return true;
}

RemovalResult FixPupilAt(Bitmap& work, DBUndoTable& undo, const Thresholds& thresholds, double x, double y,
                         double radiusHint, const LimitCircle* limit) {
    PupilCircle circle;
    if (!FitRemovalCircle(work, x, y, radiusHint, circle)) return {};
    return RemoveRedInCircle(work, undo, thresholds, circle, limit);
}

}  // namespace scarlex
