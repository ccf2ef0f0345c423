#include "editing/RedEye.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace scarlex {

namespace {

// trunc toward zero, held well inside 32 bits so that rectangle widths
// and the walk's +-1 steps never overflow, whatever the view numbers.
int32_t TruncHeld(long double v) {
    constexpr long double kBound = 1 << 30;
    if (std::isnan(v)) return 0;
    if (v > kBound) return 1 << 30;
    if (v < -kBound) return -(1 << 30);
    return static_cast<int32_t>(v);
}

enum Stage : uint8_t { kEnter, kLoop, kAfterForward, kAfterBackward };

}  // namespace

EditSettings DefaultEditSettings(const std::string& decimalSeparator) {
    EditSettings s;
    s.ThresholdRG = "1" + decimalSeparator + "6";
    s.ThresholdRB = "1" + decimalSeparator + "1";
    s.ThresholdR = "35";
    return s;
}

ThresholdConversion ConvertThresholds(const EditSettings& settings, const std::string& decimalSeparator) {
    ThresholdConversion out;
    // The order in which the pixel test reads them.
    const auto rg = TextToExtended(settings.ThresholdRG, decimalSeparator);
    if (!rg) {
        out.error = "'" + settings.ThresholdRG + "' is not a valid floating point value";
        return out;
    }
    const auto rb = TextToExtended(settings.ThresholdRB, decimalSeparator);
    if (!rb) {
        out.error = "'" + settings.ThresholdRB + "' is not a valid floating point value";
        return out;
    }
    const auto r = TextToDouble(settings.ThresholdR, decimalSeparator);
    if (!r) {
        out.error = "Could not convert variant of type (String) into type (Double)";
        return out;
    }
    if (settings.Attenuation < 0 || settings.Attenuation > 100) {
        out.error = "Attenuation " + std::to_string(settings.Attenuation) + " is not within 0 .. 100";
        return out;
    }
    out.ok = true;
    out.thresholds.RatioRG = *rg;
    out.thresholds.RatioRB = *rb;
    out.thresholds.Red = *r;
    out.thresholds.K = AttenuationFactor(settings.Attenuation);
    out.thresholds.ForceGrey = settings.ForceGrey;
    return out;
}

float LimitRadius(const RemovalView& view) {
    return static_cast<float>(static_cast<long double>(view.Limit) * static_cast<long double>(view.ViewScale) /
                              static_cast<long double>(view.Magnification));
}

void AimedPixel(const RemovalView& view, int& x, int& y) {
    const long double scale = view.MagnifierScale;
    x = TruncHeld(static_cast<long double>(view.CentreX) + static_cast<long double>(view.CrossX) * scale);
    y = TruncHeld(static_cast<long double>(view.CentreY) + static_cast<long double>(view.CrossY) * scale);
}

LimitCircle::LimitCircle(const RemovalView& view)
    : active_(view.LimitActive), cx_(view.CentreX), cy_(view.CentreY), radiusSquared_(0) {
    const long double rl = LimitRadius(view);
    radiusSquared_ = rl * rl;
}

uint64_t& ProcessPumpCounter() {
    static uint64_t counter = 0;
    return counter;
}

bool ThresholdsLetChangedPixelsPass(const Thresholds& t) {
    // A changed pixel has red at most max(green, blue) (or equal to both
    // under force grey), so both ratios above 1 keep it from passing again.
    return !(t.RatioRG > 1.0L && t.RatioRB > 1.0L);
}

void ChangeJournal::Begin(const Bitmap& work) {
    tilesAcross_ = (static_cast<std::size_t>(work.Width()) + kTile - 1) >> kTileShift;
    const std::size_t down = (static_cast<std::size_t>(work.Height()) + kTile - 1) >> kTileShift;
    index_.assign(tilesAcross_ * down, -1);
    saved_.clear();
    store_.clear();  // keeps its capacity for the next removal
}

void ChangeJournal::Keep(const Bitmap& work, std::size_t tile) {
    index_[tile] = static_cast<int32_t>(saved_.size());
    saved_.push_back(tile);
    const std::size_t at = store_.size();
    store_.resize(at + kTileBytes);
    const int x0 = static_cast<int>(tile % tilesAcross_) << kTileShift;
    const int y0 = static_cast<int>(tile / tilesAcross_) << kTileShift;
    const int w = std::min(kTile, work.Width() - x0), h = std::min(kTile, work.Height() - y0);
    for (int r = 0; r < h; ++r)
        std::memcpy(store_.data() + at + static_cast<std::size_t>(r) * kTile * 3, work.Pixel(x0, y0 + r),
                    static_cast<std::size_t>(w) * 3);
}

const uint8_t* ChangeJournal::KeptRow(int x, int y) const {
    const std::size_t tile = static_cast<std::size_t>(y >> kTileShift) * tilesAcross_ + (x >> kTileShift);
    const int32_t slot = index_[tile];
    if (slot < 0) return nullptr;
    return store_.data() + static_cast<std::size_t>(slot) * kTileBytes +
           static_cast<std::size_t>(y & (kTile - 1)) * kTile * 3;
}

void ChangeJournal::Restore(Bitmap& work) const {
    for (std::size_t i = 0; i < saved_.size(); ++i) {
        const std::size_t tile = saved_[i];
        const int x0 = static_cast<int>(tile % tilesAcross_) << kTileShift;
        const int y0 = static_cast<int>(tile / tilesAcross_) << kTileShift;
        const int w = std::min(kTile, work.Width() - x0), h = std::min(kTile, work.Height() - y0);
        for (int r = 0; r < h; ++r)
            std::memcpy(work.Pixel(x0, y0 + r), store_.data() + i * kTileBytes + static_cast<std::size_t>(r) * kTile * 3,
                        static_cast<std::size_t>(w) * 3);
    }
}

Bitmap ChangeJournal::Before(const Bitmap& work, const Rect& inside) const {
    Bitmap out;
    if (inside.Width() <= 0 || inside.Height() <= 0) return out;
    out.SetSize(inside.Width(), inside.Height());
    for (int y = inside.top; y < inside.bottom; ++y) {
        uint8_t* dst = out.Row(y - inside.top);
        // Tile by tile along the row: kept pixels from the journal, the rest
        // from the photograph, which has not changed there.
        for (int x = inside.left; x < inside.right;) {
            const int end = std::min(inside.right, ((x >> kTileShift) + 1) << kTileShift);
            const uint8_t* kept = KeptRow(x, y);
            const uint8_t* src = kept ? kept + static_cast<std::size_t>(x & (kTile - 1)) * 3 : work.Pixel(x, y);
            std::memcpy(dst + static_cast<std::size_t>(x - inside.left) * 3, src, static_cast<std::size_t>(end - x) * 3);
            x = end;
        }
    }
    return out;
}

Rect SpanWalker::Walk(Bitmap& bitmap, const Thresholds& t, const LimitCircle& limit, const RemovalHooks& hooks,
                      int cx, int cy) {
    if (ThresholdsLetChangedPixelsPass(t)) return Run<true>(bitmap, t, limit, hooks, cx, cy);
    return Run<false>(bitmap, t, limit, hooks, cx, cy);
}

template <bool Marked>
Rect SpanWalker::Run(Bitmap& bitmap, const Thresholds& t, const LimitCircle& limit, const RemovalHooks& hooks,
                     int cx, int cy) {
    const int W = bitmap.Width();
    const int H = bitmap.Height();
    uint64_t& counter = hooks.pumpCounter ? *hooks.pumpCounter : ProcessPumpCounter();
    auto aborted = [&hooks] { return hooks.abortRemoval != nullptr && *hooks.abortRemoval; };
    if constexpr (Marked) changed_.assign((static_cast<std::size_t>(W) * static_cast<std::size_t>(H) + 63) / 64, 0);

    Rect rect{W, H, 0, 0};
    stack_.clear();
    peak_ = 0;
    stack_.push_back(Frame{cx, cx, cy, 0, 0, 0, -1, false, kEnter});

    while (!stack_.empty()) {
        peak_ = std::max(peak_, stack_.size());
        Frame& f = stack_.back();
        const int y = f.y;
        uint8_t* row = (y >= 0 && y < H) ? bitmap.Row(y) : nullptr;
        // The pixel rule, never twice on one pixel when thresholds would let
        // a changed pixel pass again.
        auto test = [&](int x) -> bool {
            if constexpr (Marked) {
                const std::size_t bit = static_cast<std::size_t>(y) * static_cast<std::size_t>(W) + x;
                if (changed_[bit >> 6] >> (bit & 63) & 1) return false;
                if (journal_) journal_->Touch(bitmap, x, y);
                if (!ClearRedPixel(row + 3 * x, t)) return false;
                changed_[bit >> 6] |= uint64_t{1} << (bit & 63);
                return true;
            } else {
                if (journal_) journal_->Touch(bitmap, x, y);
                return ClearRedPixel(row + 3 * x, t);
            }
        };
        // A column outside the photograph ends a scan untested.
        auto passes = [&](int x) -> bool { return x >= 0 && x <= W - 1 && limit.Inside(x, y) && test(x); };

        switch (f.stage) {
            case kEnter: {
                if (aborted()) {
                    stack_.pop_back();
                    break;
                }
                if (counter++ % 20 == 0 && hooks.pump) hooks.pump();
                if (row == nullptr || aborted()) {
                    stack_.pop_back();
                    break;
                }
                f.leak = false;
                int x = f.xl - 1;
                while (passes(x)) --x;
                ++x;
                if (x != f.xl) f.leak = true;
                // Step over failing pixels up to the first that passes.
                int i = f.xl;
                while (i >= 0 && i <= W - 1 && i <= f.xr && limit.Inside(i, y) && !test(i)) ++i;
                int j = i + 1;
                if (x < f.xl)
                    i = x;
                else
                    x = i;
                if (j > W) j = f.xl;
                f.x = x;
                f.i = i;
                f.j = j;
                f.stage = kLoop;
                break;
            }
            case kLoop: {
                if (f.i > f.xr) {
                    rect = UniteRect(rect, Rect{f.x, y, f.j - 1, y});
                    stack_.pop_back();
                    break;
                }
                int j = f.j;
                while (passes(j)) ++j;
                f.j = j;
                if (j - 1 > f.xr) f.leak = true;
                if (j - 1 > f.i) {
                    // A run of two or more spreads on, in its own direction first.
                    f.stage = kAfterForward;
                    const Frame next{f.i, j - 1, y + f.dy, 0, 0, 0, f.dy, false, kEnter};
                    stack_.push_back(next);
                    break;
                }
                f.i = j + 1;
                f.j = j + 1;
                break;
            }
            case kAfterForward:
                if (f.leak) {
                    f.stage = kAfterBackward;
                    const Frame next{f.i, f.j - 1, y - f.dy, 0, 0, 0, static_cast<int8_t>(-f.dy), false, kEnter};
                    stack_.push_back(next);
                    break;
                }
                [[fallthrough]];
            case kAfterBackward:
                f.i = f.j + 1;
                f.j = f.j + 1;
                f.stage = kLoop;
                break;
        }
    }
    return rect;
}

Rect GreyCircle(Bitmap& bitmap, const Thresholds& t, RemovalView& view, ChangeJournal* journal) {
    if (!view.LimitActive) view.Limit = view.Radius;
    const long double a = LimitRadius(view);
    const long double cx = view.CentreX;
    const long double cy = view.CentreY;
    const Rect rect{TruncHeld(cx - a - 1), TruncHeld(cy - a - 1), TruncHeld(cx + a + 1), TruncHeld(cy + a + 1)};

    const int W = bitmap.Width();
    const int H = bitmap.Height();
    const int64_t top = std::max<int64_t>(0, TruncHeld(cy - a));
    const int64_t bottom = std::min<int64_t>(TruncHeld(cy + a), H - 1);
    for (int64_t y = top; y <= bottom; ++y) {
        const int64_t dy = y - view.CentreY;
        const long double d = a * a - static_cast<long double>(dy * dy);
        if (!(d > 0)) continue;
        const int64_t h = TruncHeld(sqrtl(d));
        const int64_t left = std::max<int64_t>(0, view.CentreX - h);
        const int64_t right = std::min<int64_t>(view.CentreX + h, W - 1);
        uint8_t* row = bitmap.Row(static_cast<int>(y));
        for (int64_t x = left; x <= right; ++x) {
            if (journal) journal->Touch(bitmap, static_cast<int>(x), static_cast<int>(y));
            uint8_t* p = row + 3 * x;
            WriteClearedPixel(p, p[1], p[0], t);
        }
    }
    return rect;
}

RemovalResult RedEyeRemover::Remove(Bitmap& work, DBUndoTable& undo, const EditSettings& settings,
                                    RemovalView& view, bool shift, const RemovalHooks& hooks,
                                    const std::string& decimalSeparator) {
    const ThresholdConversion c = ConvertThresholds(settings, decimalSeparator);
    if (!c.ok) {
        RemovalResult refused;
        refused.outcome = RemovalOutcome::Refused;
        refused.error = c.error;
        return refused;
    }
    return Remove(work, undo, c.thresholds, view, shift, hooks);
}

RemovalResult RedEyeRemover::Remove(Bitmap& work, DBUndoTable& undo, const Thresholds& thresholds,
                                    RemovalView& view, bool shift, const RemovalHooks& hooks) {
    RemovalResult result;
    // The walk pumps messages; a release that slips past the window's
    // Removing flag must not start a second walk on the same stack.
    if (busy_) {
        result.outcome = RemovalOutcome::Refused;
        result.error = "A red removal is already running";
        return result;
    }
    if (hooks.abortRemoval) *hooks.abortRemoval = false;
    if (work.Empty()) return result;

    struct Busy {
        bool& flag;
        explicit Busy(bool& f) : flag(f) { flag = true; }
        ~Busy() { flag = false; }
    } busy(busy_);
    journal_.Begin(work);
    Rect rect;
    if (shift) {
        rect = GreyCircle(work, thresholds, view, &journal_);
    } else {
        int cx = 0, cy = 0;
        AimedPixel(view, cx, cy);
        walker_.SetJournal(&journal_);
        try {
            rect = walker_.Walk(work, thresholds, LimitCircle(view), hooks, cx, cy);
        } catch (...) {
            // Whatever the pump threw, the photograph is not left half done.
            walker_.SetJournal(nullptr);
            journal_.Restore(work);
            throw;
        }
        walker_.SetJournal(nullptr);
    }

    if (hooks.abortRemoval && *hooks.abortRemoval) {
        journal_.Restore(work);
        result.outcome = RemovalOutcome::Aborted;
        return result;
    }
    if (rect.right > rect.left) {
        rect.bottom += 1;
        const Rect inside = ClipToBitmap(rect, work.Width(), work.Height());
        if (undo.Append(rect, journal_.Before(work, inside), work.Width(), work.Height())) {
            result.outcome = RemovalOutcome::Recorded;
            result.rect = rect;
        }
    }
    return result;
}

}  // namespace scarlex
