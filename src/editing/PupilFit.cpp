#include "editing/PupilFit.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace scarlex {

namespace {

// Below this, a region is not taken for red at all.
constexpr int kMinPeak = 24;
// A region whose bounding box it fills less than this, or that is longer
// than wide by more than this, has run into something that is not a pupil.
constexpr double kMinBoxFill = 0.42;
constexpr double kMaxAspect = 2.4;

struct RednessTable {
    std::array<std::array<uint8_t, 256>, 256> v{};  // [red][max(green, 0.8 blue)]
    RednessTable() {
        for (int r = 0; r < 256; ++r)
            for (int d = 0; d < 256; ++d) {
                const int dd = std::max(d, 1);
                if (r < 28 || r - dd < 10) continue;
                double value = 64.0 * std::log2(static_cast<double>(r) / dd);
                // In dark pixels the ratio is mostly noise.
                if (r < 48) value *= (r - 20) / 28.0;
                v[r][d] = static_cast<uint8_t>(std::clamp(value + 0.5, 0.0, 255.0));
            }
    }
};

const RednessTable& Table() {
    static const RednessTable table;
    return table;
}

}  // namespace

const uint8_t* PupilRednessTable() { return Table().v[0].data(); }

uint8_t PupilRedness(const uint8_t* bgr) { return PupilRedness(bgr, PupilRednessTable()); }

PupilFit FitPupil(const Bitmap& bitmap, double x, double y, const PupilFitOptions& options) {
    PupilFitter fitter;
    return fitter.Fit(bitmap, x, y, options);
}

// How far the pixels of distances_ reach, not counting a stray one or two
// that a region picks up at its edge.
double PupilFitter::Reach() {
    if (distances_.empty()) return 0;
    const std::size_t nth = distances_.size() - 1 - distances_.size() / 40;
    std::nth_element(distances_.begin(), distances_.begin() + static_cast<std::ptrdiff_t>(nth), distances_.end());
    return distances_[nth];
}

PupilFit PupilFitter::Fit(const Bitmap& bitmap, double x, double y, const PupilFitOptions& options) {
    PupilFit none;
    const int W = bitmap.Width(), H = bitmap.Height();
    if (bitmap.Empty() || !std::isfinite(x) || !std::isfinite(y)) return none;
    const double hint = std::isfinite(options.radiusHint) ? std::max(0.0, options.radiusHint) : 0.0;
    const int maxRadius = options.maxRadius > 0 ? options.maxRadius : std::clamp(std::min(W, H) / 4, 8, 400);

    // The reddest pixel near the point, the nearest of equals: a click on a
    // catch-light still finds the red around it.
    auto findSeed = [&](double reach, int& sx, int& sy) {
        int best = -1;
        double bestDistance = 0;
        const int r = static_cast<int>(std::ceil(reach));
        const int cx = static_cast<int>(std::lround(std::clamp(x, -1e6, 1e6)));
        const int cy = static_cast<int>(std::lround(std::clamp(y, -1e6, 1e6)));
        for (int j = std::max(0, cy - r); j <= std::min(H - 1, cy + r); ++j)
            for (int i = std::max(0, cx - r); i <= std::min(W - 1, cx + r); ++i) {
                const double d2 = (i - x) * (i - x) + (j - y) * (j - y);
                if (d2 > reach * reach) continue;
                const int v = PupilRedness(bitmap.Pixel(i, j));
                if (v > best || (v == best && d2 < bestDistance)) {
                    best = v;
                    bestDistance = d2;
                    sx = i;
                    sy = j;
                }
            }
        return best;
    };
    const double reach = options.searchRadius > 0 ? options.searchRadius : hint > 0 ? std::max(2.0, 0.75 * hint) : 6.0;
    int sx = 0, sy = 0;
    int peak = findSeed(reach, sx, sy);
    if (peak < kMinPeak && options.searchRadius <= 0 && hint <= 0) peak = findSeed(16.0, sx, sy);
    if (peak < kMinPeak) return none;

    // A hint bounds how far the window may grow; a click may be on a pupil
    // of any size.
    int half = hint > 0 ? static_cast<int>(std::ceil(3 * hint + 8)) : 16;
    const int maxHalf = hint > 0 ? std::min(3 * maxRadius, static_cast<int>(std::ceil(8 * hint + 16)))
                                 : std::max(16, 3 * maxRadius);
    while (true) {
        half = std::min(half, maxHalf);
        PupilFit fit;
        bool larger = false;
        const bool ok = FitInWindow(bitmap, sx, sy, half, maxRadius, fit, larger);
        if (larger && half < maxHalf) {
            half *= 2;
            continue;
        }
        if (!ok) return none;
        fit.seedX = sx;
        fit.seedY = sy;
        return fit;
    }
}

bool PupilFitter::FitInWindow(const Bitmap& bitmap, int seedX, int seedY, int half, int maxRadius, PupilFit& out,
                              bool& needsLargerWindow) {
    needsLargerWindow = false;
    const int W = bitmap.Width(), H = bitmap.Height();
    const int x0 = std::max(0, seedX - half), x1 = std::min(W - 1, seedX + half);
    const int y0 = std::max(0, seedY - half), y1 = std::min(H - 1, seedY + half);
    const int ww = x1 - x0 + 1, wh = y1 - y0 + 1;
    const std::size_t n = static_cast<std::size_t>(ww) * static_cast<std::size_t>(wh);
    // The median redness of 3 x 3 pixels: sensor noise on a pupil's even red
    // would otherwise break the region into specks near its top level, and a
    // median does not drag the red next to a catch-light down as a mean would.
    // Worked out only for the pixels the flood reaches.
    raw_.resize(n);
    redness_.resize(n);
    known_.assign(n, 0);  // bit 0: raw_ known, bit 1: redness_ known
    const uint8_t* table = PupilRednessTable();
    auto raw = [&](int i, int j) -> uint8_t {
        const std::size_t k = static_cast<std::size_t>(j) * ww + i;
        if (!(known_[k] & 1)) {
            raw_[k] = PupilRedness(bitmap.Pixel(x0 + i, y0 + j), table);
            known_[k] |= 1;
        }
        return raw_[k];
    };
    auto smoothed = [&](int i, int j) -> uint8_t {
        const std::size_t k = static_cast<std::size_t>(j) * ww + i;
        if (known_[k] & 2) return redness_[k];
        uint8_t value = 0;
        if (raw(i, j) != 0) {  // a pixel that is not red at all stays out
            uint8_t around[9];
            int count = 0;
            for (int dj = std::max(0, j - 1); dj <= std::min(wh - 1, j + 1); ++dj)
                for (int di = std::max(0, i - 1); di <= std::min(ww - 1, i + 1); ++di) around[count++] = raw(di, dj);
            std::nth_element(around, around + count / 2, around + count);
            value = around[count / 2];
        }
        redness_[k] = value;
        known_[k] |= 2;
        return value;
    };
    state_.assign(n, 0);
    buckets_.resize(256);
    for (auto& b : buckets_) b.clear();
    order_.clear();
    levels_.clear();

    // A window side that is not the photograph's edge: reaching it means
    // the region goes on beyond what we look at.
    const bool openLeft = x0 > 0, openRight = x1 < W - 1, openTop = y0 > 0, openBottom = y1 < H - 1;
    const int seedIndex = (seedY - y0) * ww + (seedX - x0);
    const int seedValue = smoothed(seedX - x0, seedY - y0);
    if (seedValue == 0) return false;
    const int floorValue = std::max(12, seedValue / 8);
    const std::size_t maxCount =
        static_cast<std::size_t>(std::ceil(3.2 * static_cast<double>(maxRadius) * static_cast<double>(maxRadius))) + 16;

    buckets_[static_cast<std::size_t>(seedValue)].push_back(seedIndex);
    state_[static_cast<std::size_t>(seedIndex)] = 1;
    int hi = seedValue;
    int level = seedValue;
    int left = seedX - x0, right = left, top = seedY - y0, bottom = top;
    bool touched = false;
    auto snapshot = [&](int value) {
        levels_.push_back(Level{value, static_cast<int>(order_.size()), left, top, right, bottom, touched});
    };

    // Priority flood: always take the reddest pixel next to the region, so
    // that the region after every level is the connected set at or above it.
    while (true) {
        while (hi >= 0 && buckets_[static_cast<std::size_t>(hi)].empty()) --hi;
        if (hi < 0) {
            snapshot(level);
            break;
        }
        const int index = buckets_[static_cast<std::size_t>(hi)].back();
        const int v = hi;
        if (v < level) {
            snapshot(level);
            level = v;
            if (level < floorValue) break;
        }
        buckets_[static_cast<std::size_t>(hi)].pop_back();
        state_[static_cast<std::size_t>(index)] = 2;
        order_.push_back(index);
        const int i = index % ww, j = index / ww;
        left = std::min(left, i);
        right = std::max(right, i);
        top = std::min(top, j);
        bottom = std::max(bottom, j);
        if ((i == 0 && openLeft) || (i == ww - 1 && openRight) || (j == 0 && openTop) || (j == wh - 1 && openBottom) ||
            order_.size() > maxCount) {
            touched = true;
            snapshot(level);
            break;
        }
        for (int dj = -1; dj <= 1; ++dj)
            for (int di = -1; di <= 1; ++di) {
                const int ni = i + di, nj = j + dj;
                if ((di == 0 && dj == 0) || ni < 0 || nj < 0 || ni >= ww || nj >= wh) continue;
                const int nIndex = nj * ww + ni;
                if (state_[static_cast<std::size_t>(nIndex)] != 0) continue;
                const int nv = smoothed(ni, nj);
                if (nv == 0) continue;
                state_[static_cast<std::size_t>(nIndex)] = 1;
                buckets_[static_cast<std::size_t>(nv)].push_back(nIndex);
                hi = std::max(hi, nv);
            }
    }

    // The first level at which the region stops looking like a pupil.
    auto compact = [](const Level& l) {
        const int bw = l.right - l.left + 1, bh = l.bottom - l.top + 1;
        const double boxFill = static_cast<double>(l.count) / (static_cast<double>(bw) * bh);
        const double aspect = static_cast<double>(std::max(bw, bh)) / std::min(bw, bh);
        return l.count < 12 || (boxFill >= kMinBoxFill && aspect <= kMaxAspect);
    };
    // The region spills where it reaches the window, or after the last level
    // at which it is still round: near its top level noise can make it a
    // scatter of specks for a while, which is not a spill.
    std::size_t touch = levels_.size();
    for (std::size_t k = 0; k < levels_.size(); ++k)
        if (levels_[k].touchesWindow) {
            touch = k;
            break;
        }
    std::size_t spill = 0;
    for (std::size_t k = 0; k < touch; ++k)
        if (compact(levels_[k])) spill = k + 1;
    if (touch < levels_.size()) {
        // Met the window while still round: the pupil may be larger.
        const Level& l = levels_[touch];
        const int extentSeen = std::max(l.right - l.left, l.bottom - l.top) + 1;
        if (compact(l) && extentSeen >= half / 2) needsLargerWindow = true;
    }
    if (spill == 0) return false;
    const Level& whole = levels_[spill - 1];
    const bool spilled = spill < levels_.size();
    const int surround = spilled ? levels_[spill].value : 0;

    // Typical inside redness: the level that a quarter of the pupil reaches.
    int peak = whole.value;
    for (std::size_t k = 0; k < spill; ++k)
        if (levels_[k].count * 4 >= whole.count) {
            peak = levels_[k].value;
            break;
        }
    if (peak <= surround) return false;
    const int cut = std::max((peak + surround + 1) / 2, spilled ? surround + 1 : floorValue);
    auto regionAt = [&](int value) {
        const Level* chosen = &levels_[0];
        for (std::size_t k = 0; k < spill; ++k)
            if (levels_[k].value >= value) chosen = &levels_[k];
        return chosen;
    };
    const Level& pupil = *regionAt(cut);

    // The pupil with its holes (catch-lights) filled: background reached
    // from outside the region's box, 4-connected, is outside; the rest is in.
    const int bx0 = pupil.left - 1, by0 = pupil.top - 1;
    const int bw = pupil.right - pupil.left + 3, bh = pupil.bottom - pupil.top + 3;
    mask_.assign(static_cast<std::size_t>(bw) * bh, 0);  // 1 region, 2 outside
    for (int k = 0; k < pupil.count; ++k) {
        const int index = order_[static_cast<std::size_t>(k)];
        const int i = index % ww - bx0, j = index / ww - by0;
        mask_[static_cast<std::size_t>(j) * bw + i] = 1;
    }
    stack_.clear();
    stack_.push_back(0);
    mask_[0] = 2;
    while (!stack_.empty()) {
        const int c = stack_.back();
        stack_.pop_back();
        const int i = c % bw, j = c / bw;
        const int next[4][2] = {{i - 1, j}, {i + 1, j}, {i, j - 1}, {i, j + 1}};
        for (const auto& nb : next) {
            if (nb[0] < 0 || nb[1] < 0 || nb[0] >= bw || nb[1] >= bh) continue;
            const std::size_t ni = static_cast<std::size_t>(nb[1]) * bw + nb[0];
            if (mask_[ni] != 0) continue;
            mask_[ni] = 2;
            stack_.push_back(static_cast<int32_t>(ni));
        }
    }
    double sum = 0, sx = 0, sy = 0, redLuma = 0, holeLuma = 0;
    int holes = 0;
    for (int j = 0; j < bh; ++j)
        for (int i = 0; i < bw; ++i) {
            const uint8_t m = mask_[static_cast<std::size_t>(j) * bw + i];
            if (m == 2) continue;
            const int px = x0 + bx0 + i, py = y0 + by0 + j;
            const uint8_t* p = bitmap.Pixel(std::clamp(px, 0, W - 1), std::clamp(py, 0, H - 1));
            const double luma = 0.114 * p[0] + 0.587 * p[1] + 0.299 * p[2];
            if (m == 0) {
                ++holes;
                holeLuma += luma;
            } else {
                redLuma += luma;
            }
            sum += 1;
            sx += i;
            sy += j;
        }
    out.redLuma = redLuma / std::max(1.0, sum - holes);
    out.holeLuma = holes > 0 ? holeLuma / holes : 0;
    int darkHoles = 0;
    for (int j = 0; j < bh && holes > 0; ++j)
        for (int i = 0; i < bw; ++i) {
            if (mask_[static_cast<std::size_t>(j) * bw + i] != 0) continue;
            const uint8_t* p = bitmap.Pixel(std::clamp(x0 + bx0 + i, 0, W - 1), std::clamp(y0 + by0 + j, 0, H - 1));
            darkHoles += 0.114 * p[0] + 0.587 * p[1] + 0.299 * p[2] < out.redLuma;
        }
    out.darkHoleArea = darkHoles;
    const double cx = sx / sum, cy = sy / sum;
    double sxx = 0, syy = 0, sxy = 0, extent = 0;
    distances_.clear();
    for (int j = 0; j < bh; ++j)
        for (int i = 0; i < bw; ++i) {
            if (mask_[static_cast<std::size_t>(j) * bw + i] == 2) continue;
            const double dx = i - cx, dy = j - cy;
            sxx += dx * dx;
            syy += dy * dy;
            sxy += dx * dy;
            const double d = std::hypot(dx, dy);
            extent = std::max(extent, d);
            distances_.push_back(static_cast<float>(d));
        }
    const double reach = Reach();
    const double a = sxx / sum, b = syy / sum, c = sxy / sum;
    const double root = std::sqrt((a - b) * (a - b) + 4 * c * c);
    const double major = (a + b + root) / 2, minor = (a + b - root) / 2;

    out.found = true;
    out.x = x0 + bx0 + cx;
    out.y = y0 + by0 + cy;
    out.area = static_cast<int>(sum);
    out.holeArea = holes;
    out.radius = std::sqrt(sum / M_PI);
    out.extent = extent;
    out.fill = sum / (M_PI * (extent + 0.5) * (extent + 0.5));
    out.elongation = minor > 1e-9 ? std::sqrt(major / minor) : (major > 1e-9 ? 100.0 : 1.0);
    out.peak = peak;
    out.surround = surround;
    out.level = cut;
    out.spilled = spilled;
    if (out.radius > maxRadius) return false;

    // The removal covers the pupil and its soft rim: out to where the
    // redness has fallen most of the way to its surroundings. Where those are
    // red as well (under flash the skin around an eye may pass the red test)
    // it stops well before them; where they are not, the rim is all pupil
    // blending into the iris and is taken to its end.
    const int outerCut = spilled ? surround + (2 * (peak - surround) + 4) / 5 : floorValue;
    const Level& outer = *regionAt(outerCut);
    distances_.clear();
    for (int k = 0; k < outer.count; ++k) {
        const int index = order_[static_cast<std::size_t>(k)];
        distances_.push_back(static_cast<float>(std::hypot(x0 + index % ww - out.x, y0 + index / ww - out.y)));
    }
    const double outerReach = std::max(reach, Reach());
    out.circle = std::min(std::max(reach + 0.5 + std::max(1.0, 0.1 * out.radius), outerReach + (spilled ? 1.5 : 2.5)),
                          1.35 * reach + 2.5);
    return true;
}

}  // namespace scarlex
