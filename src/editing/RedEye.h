#pragma once
// Red-eye removal without a window: the pixel rule, the limit circle, the
// span walk, the Shift-click blanket treatment and the removal sequence that
// copies, walks, restores on abort and records one undo row.
//
// The window keeps its own flags (Removing, CrossHeld, Saved), the cursor and
// the redraws; it hands this core the bitmap, the undo store, the settings,
// the view numbers, a pump callback and the abort flag.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/Bitmap.h"
#include "common/Rect.h"
#include "editing/FloatText.h"
#include "editing/UndoStore.h"

namespace scarlex {

// What the user set: the three threshold boxes as typed, the attenuation
// spin edit and the "Force to grey" preference.
struct EditSettings {
    std::string ThresholdRG;  // EThresholdRG
    std::string ThresholdRB;  // EThresholdRB
    std::string ThresholdR;   // EThresholdR
    int Attenuation = 0;      // SEAttenuation, 0 .. 100
    bool ForceGrey = true;
};

// "1.6", "1.1" and "35", the fractions written with the given separator.
EditSettings DefaultEditSettings(const std::string& decimalSeparator);

// The settings converted once, before a removal starts.
struct Thresholds {
    long double RatioRG = 0;  // R / G must reach it (extended precision)
    long double RatioRB = 0;
    double Red = 0;           // R must exceed it
    long double K = 1;        // (100 - A) * 0.01
    bool ForceGrey = true;
};

struct ThresholdConversion {
    bool ok = false;
    Thresholds thresholds;
    std::string error;  // the conversion message when !ok
};

// Fails with "'%s' is not a valid floating point value" for a ratio box and
// "Could not convert variant of type (String) into type (Double)" for the
// red level; an attenuation outside 0 .. 100 is refused as well.
ThresholdConversion ConvertThresholds(const EditSettings& settings, const std::string& decimalSeparator);

// k = (100 - A) * 0.01 with 0.01 as the nearest extended value.
inline long double AttenuationFactor(int attenuation) {
    return static_cast<long double>(100 - attenuation) * 0.01L;
}

// Writes the removed-red values from green and blue as given (already
// substituted by the test, raw for the blanket treatment).
inline void WriteClearedPixel(uint8_t* bgr, int g, int b, const Thresholds& t) {
    const int m = (g + b) / 2;
    const uint8_t r2 = static_cast<uint8_t>(static_cast<int>(t.K * static_cast<long double>(m)));
    if (t.ForceGrey) {
        bgr[0] = bgr[1] = bgr[2] = r2;
    } else {
        bgr[0] = static_cast<uint8_t>(static_cast<int>(t.K * static_cast<long double>(b)));
        bgr[1] = static_cast<uint8_t>(static_cast<int>(t.K * static_cast<long double>(g)));
        bgr[2] = r2;
    }
}

// The pixel rule: tests one blue-green-red pixel and, if it passes, changes
// it in place. Green or blue of 0 count as 1, in the test and the result.
inline bool ClearRedPixel(uint8_t* bgr, const Thresholds& t) {
    int b = bgr[0], g = bgr[1];
    const int r = bgr[2];
    if (g == 0) g = 1;
    if (b == 0) b = 1;
    const long double R = static_cast<long double>(r);
    const bool pass = R / static_cast<long double>(g) >= t.RatioRG && R / static_cast<long double>(b) >= t.RatioRB &&
                      static_cast<double>(r) > t.Red;
    if (!pass) return false;
    WriteClearedPixel(bgr, g, b, t);
    return true;
}

// The numbers of the view that a removal reads (kept by the view).
struct RemovalView {
    int CentreX = 0, CentreY = 0;  // magnifier centre, bitmap pixels
    int CrossX = 0, CrossY = 0;    // crosshair offset, view pixels
    int Radius = 100, Limit = 100; // view pixels
    int Magnification = 5;
    bool LimitActive = false;
    float ViewScale = 1.0f;        // bitmap pixels per view pixel
    float MagnifierScale = 0.2f;   // ViewScale / Magnification
};

// Limit (or magnifier) radius in bitmap pixels: Limit * ViewScale /
// Magnification, rounded to single precision.
float LimitRadius(const RemovalView& view);

// The aimed pixel: trunc(CentreX + CrossX * MagnifierScale), likewise y.
void AimedPixel(const RemovalView& view, int& x, int& y);

// InsideLimit: true without a limit, else strictly inside the circle of
// LimitRadius around the magnifier centre.
class LimitCircle {
public:
    explicit LimitCircle(const RemovalView& view);
    bool Inside(int x, int y) const {
        if (!active_) return true;
        const int64_t dx = x - cx_, dy = y - cy_;
        return static_cast<long double>(dx * dx + dy * dy) < radiusSquared_;
    }

private:
    bool active_;
    int64_t cx_, cy_;
    long double radiusSquared_;
};

// Component-wise min of left/top and max of right/bottom; inverted
// rectangles take part like any other.
inline Rect UniteRect(const Rect& a, const Rect& b) {
    return {a.left < b.left ? a.left : b.left, a.top < b.top ? a.top : b.top,
            a.right > b.right ? a.right : b.right, a.bottom > b.bottom ? a.bottom : b.bottom};
}

// The hooks a walk uses to let the window breathe.
struct RemovalHooks {
    std::function<void()> pump;      // process pending window messages; may be empty
    bool* abortRemoval = nullptr;    // AbortRemoval, set by the pump's handlers
    uint64_t* pumpCounter = nullptr; // null: the one process-wide counter
};

// The process-wide count of span-walk calls.
uint64_t& ProcessPumpCounter();

// True when a pixel changed by the rule can pass the test again (a ratio
// threshold at or below 1); the walk then remembers what it changed.
bool ThresholdsLetChangedPixelsPass(const Thresholds& t);

// The pixels a removal changes, kept tile by tile as they were before it:
// enough to put them back when the removal is aborted and to cut the undo
// row's image, without copying the whole photograph first. Memory grows
// with the area touched, never beyond one copy of the photograph.
class ChangeJournal {
public:
    // Starts over for `work`; no tile is kept yet.
    void Begin(const Bitmap& work);
    // Must be called before the pixel at (x, y), inside the picture, may
    // change.
    void Touch(const Bitmap& work, int x, int y) {
        const std::size_t tile = static_cast<std::size_t>(y >> kTileShift) * tilesAcross_ + (x >> kTileShift);
        if (index_[tile] < 0) Keep(work, tile);
    }
    // Puts every kept tile back.
    void Restore(Bitmap& work) const;
    // The pixels of `inside` (a rectangle within the picture) as they were
    // at Begin.
    Bitmap Before(const Bitmap& work, const Rect& inside) const;
    std::size_t KeptBytes() const { return saved_.size() * kTileBytes; }

private:
    static constexpr int kTileShift = 6;
    static constexpr int kTile = 1 << kTileShift;
    static constexpr std::size_t kTileBytes = static_cast<std::size_t>(kTile) * kTile * 3;
    void Keep(const Bitmap& work, std::size_t tile);
    // The kept copy of a row of a tile, or null when the tile is not kept.
    const uint8_t* KeptRow(int x, int y) const;

    std::size_t tilesAcross_ = 0;
    std::vector<int32_t> index_;  // per tile: its place in saved_, or -1
    std::vector<std::size_t> saved_;  // the tiles kept, in order
    std::vector<uint8_t> store_;      // kTileBytes per kept tile
};

// FillSpan, run on an explicit stack in the order of the recursive form:
// Walk(cx, cy) is FillSpan(cx, cx, (W, H, 0, 0), -1, cy). The bottom of the
// returned rectangle is still inclusive.
class SpanWalker {
public:
    Rect Walk(Bitmap& bitmap, const Thresholds& t, const LimitCircle& limit, const RemovalHooks& hooks, int cx,
              int cy);
    // Deepest stack of the last walk, in frames and in bytes.
    std::size_t PeakDepth() const { return peak_; }
    std::size_t PeakStackBytes() const { return peak_ * sizeof(Frame); }
    // The bytes of the changed-pixel marks (0 for ordinary thresholds).
    std::size_t MarkBytes() const { return changed_.capacity() * sizeof(uint64_t); }
    // Keeps what the walks change in `journal` (null: nothing is kept).
    void SetJournal(ChangeJournal* journal) { journal_ = journal; }

private:
    struct Frame {
        int32_t xl, xr, y, x, i, j;
        int8_t dy;
        bool leak;
        uint8_t stage;
    };
    template <bool Marked>
    Rect Run(Bitmap& bitmap, const Thresholds& t, const LimitCircle& limit, const RemovalHooks& hooks, int cx,
             int cy);

    std::vector<Frame> stack_;
    std::vector<uint64_t> changed_;  // one bit per pixel; only when thresholds need it
    std::size_t peak_ = 0;
    ChangeJournal* journal_ = nullptr;
};

// GreyCircle: every pixel inside the limit circle (the magnifier circle when
// no limit is set; Limit is then set to Radius) changed without a test.
// Returns the bounding square widened by one pixel, not clipped. With a
// journal, every pixel is touched in it before it changes.
Rect GreyCircle(Bitmap& bitmap, const Thresholds& t, RemovalView& view, ChangeJournal* journal = nullptr);

enum class RemovalOutcome {
    Refused,    // a threshold text failed to convert, or a removal is already
                // running; nothing touched
    Aborted,    // the walk was aborted; every changed pixel put back
    Unchanged,  // the rectangle came out empty; nothing recorded
    Recorded,   // one undo row appended: the picture changed
};

struct RemovalResult {
    RemovalOutcome outcome = RemovalOutcome::Unchanged;
    Rect rect;          // as recorded (bottom exclusive) when Recorded
    std::string error;  // the conversion message when Refused
};

// The removal of a left-button release, without the window's part. Owns the
// journal of changed pixels and the walk's stack so repeated clicks reuse
// them.
class RedEyeRemover {
public:
    // Converts the texts first and refuses without touching anything when
    // one fails; then clears the abort flag and removes.
    RemovalResult Remove(Bitmap& work, DBUndoTable& undo, const EditSettings& settings, RemovalView& view,
                         bool shift, const RemovalHooks& hooks,
                         const std::string& decimalSeparator = UserDecimalSeparator());
    // For a window that converted the texts itself before setting Removing.
    RemovalResult Remove(Bitmap& work, DBUndoTable& undo, const Thresholds& thresholds, RemovalView& view,
                         bool shift, const RemovalHooks& hooks);

    const ChangeJournal& Journal() const { return journal_; }
    const SpanWalker& Walker() const { return walker_; }

private:
    ChangeJournal journal_;
    SpanWalker walker_;
    bool busy_ = false;
};

}  // namespace scarlex
