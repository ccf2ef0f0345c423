// libFuzzer target: up to four removals (span walks or grey circles) on a
// small fuzzed bitmap, with fuzzed clicks, view numbers, thresholds and
// aborts, then every edit undone, newest first.
//
// Checked: a refused, aborted or empty removal leaves every pixel and the
// undo store alone; a recorded one changes no pixel outside its rectangle,
// and a walk aimed inside the picture reports a rectangle inside it; for
// thresholds under which a changed pixel cannot pass again, the walk gives
// exactly what the recursion it is written from gives; each undo brings
// back the picture as it was before that edit.
//
// Input: byte 0 and 1 width and height (1..64), byte 2 the number of
// removals (1..4), then per removal 12 bytes (see Removal below), then the
// pixels, repeated as needed to fill the picture.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "editing/RedEye.h"
#include "editing/UndoStore.h"

using namespace scarlex;
using scarlex::fuzz::ByteReader;
using scarlex::fuzz::Require;

namespace {

// FillSpan as the recursion it is written as, pumping on its first call and
// every 20th like the walker.
class RecursiveFill {
public:
    RecursiveFill(Bitmap& bmp, const Thresholds& t, const LimitCircle& limit, const RemovalHooks& hooks)
        : bmp_(bmp), t_(t), limit_(limit), hooks_(hooks), W(bmp.Width()), H(bmp.Height()) {}
    Rect Walk(int cx, int cy) { return FillSpan(cx, cx, Rect{W, H, 0, 0}, -1, cy); }

private:
    bool Aborted() const { return *hooks_.abortRemoval; }
    bool Passes(int x, int y) {
        return x >= 0 && x <= W - 1 && limit_.Inside(x, y) && ClearRedPixel(bmp_.Pixel(x, y), t_);
    }
    Rect FillSpan(int xl, int xr, Rect rect, int dy, int y) {
        if (Aborted()) return rect;
        if (calls_++ % 20 == 0) hooks_.pump();
        if (y < 0 || y > H - 1 || Aborted()) return rect;
        bool leak = false;
        int x = xl - 1;
        while (Passes(x, y)) --x;
        ++x;
        if (x != xl) leak = true;
        int i = xl;
        while (i >= 0 && i <= W - 1 && i <= xr && limit_.Inside(i, y) && !ClearRedPixel(bmp_.Pixel(i, y), t_)) ++i;
        int j = i + 1;
        if (x < xl)
            i = x;
        else
            x = i;
        if (j > W) j = xl;
        while (i <= xr) {
            while (Passes(j, y)) ++j;
            if (j - 1 > xr) leak = true;
            if (j - 1 > i) {
                rect = UniteRect(rect, FillSpan(i, j - 1, rect, dy, y + dy));
                if (leak) rect = UniteRect(rect, FillSpan(i, j - 1, rect, -dy, y - dy));
            }
            i = j + 1;
            j = j + 1;
        }
        return UniteRect(rect, Rect{x, y, j - 1, y});
    }

    Bitmap& bmp_;
    const Thresholds& t_;
    const LimitCircle& limit_;
    const RemovalHooks& hooks_;
    const int W, H;
    uint64_t calls_ = 0;
};

// A threshold text from the input: a few characters of what numbers are
// made of, so that the conversion is fuzzed too.
std::string FuzzedText(ByteReader& in) {
    static const char kChars[] = "0123456789.,-+eE 1.";
    const int n = in.Byte() % 7;
    std::string s;
    for (int k = 0; k < n; ++k) s += kChars[in.Byte() % (sizeof kChars - 1)];
    return s;
}

EditSettings Settings(ByteReader& in) {
    struct Preset {
        const char *rg, *rb, *r;
    };
    static const Preset kPresets[] = {
        {"1.6", "1.1", "35"}, {"1.01", "1.01", "0"},  {"1.2", "3", "-1"}, {"2", "1.0001", "150.5"},
        {"1", "1", "0"},      {"0.5", "0.8", "10"},   {"0", "0", "-1"},   {nullptr, nullptr, nullptr},
    };
    const uint8_t b = in.Byte();
    EditSettings s = DefaultEditSettings(".");
    const Preset& p = kPresets[b & 7];
    if (p.rg) {
        s.ThresholdRG = p.rg;
        s.ThresholdRB = p.rb;
        s.ThresholdR = p.r;
    } else {
        s.ThresholdRG = FuzzedText(in);
        s.ThresholdRB = FuzzedText(in);
        s.ThresholdR = FuzzedText(in);
    }
    s.ForceGrey = b & 8;
    // Mostly within 0..100; now and then outside it, which is refused.
    const uint8_t a = in.Byte();
    s.Attenuation = a < 202 ? a % 101 : a - 230;
    return s;
}

// Per removal: settings (2 bytes, more for fuzzed texts), flags, centre x
// and y, cross x and y, radius, limit, magnification, view scale, abort.
struct Removal {
    EditSettings settings;
    RemovalView view;
    bool shift = false;
    int abortAfter = 0;  // pumps before the abort; 0: never
};

Removal ReadRemoval(ByteReader& in, int w, int h) {
    static const float kScales[] = {1.0f, 0.25f, 0.5f, 2.0f, 3.7f, 0.01f, 40.0f, 1.5f};
    Removal r;
    r.settings = Settings(in);
    const uint8_t flags = in.Byte();
    r.shift = flags & 1;
    RemovalView& v = r.view;
    v.LimitActive = flags & 2;
    // Centres a little way past every edge too.
    v.CentreX = static_cast<int>(in.Byte() % (w + 8)) - 4;
    v.CentreY = static_cast<int>(in.Byte() % (h + 8)) - 4;
    v.CrossX = static_cast<int8_t>(in.Byte());
    v.CrossY = static_cast<int8_t>(in.Byte());
    v.Radius = in.Byte();
    v.Limit = in.Byte();
    v.Magnification = 1 + in.Byte() % 100;
    v.ViewScale = kScales[(flags >> 2) & 7];
    v.MagnifierScale = v.ViewScale / static_cast<float>(v.Magnification);
    r.abortAfter = (flags >> 5) & 3;
    return r;
}

void RequireOutsideUnchanged(const Bitmap& a, const Bitmap& b, const Rect& r) {
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x) {
            if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) continue;
            const uint8_t *p = a.Pixel(x, y), *q = b.Pixel(x, y);
            Require(p[0] == q[0] && p[1] == q[1] && p[2] == q[2]);
        }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    ByteReader in(data, size);
    const int w = 1 + in.Byte() % 64, h = 1 + in.Byte() % 64;
    const int count = 1 + in.Byte() % 4;
    std::vector<Removal> removals;
    for (int k = 0; k < count; ++k) removals.push_back(ReadRemoval(in, w, h));

    Bitmap work(w, h);
    const std::size_t n = in.Left();
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < 3 * w; ++x)
            work.Row(y)[x] = n ? in.Rest()[(static_cast<std::size_t>(y) * 3 * w + x) % n] : static_cast<uint8_t>(x * y);

    DBUndoTable undo;
    RedEyeRemover remover;
    std::vector<Bitmap> beforeEach;  // the picture before each recorded edit
    for (Removal& r : removals) {
        const Bitmap before = work;
        const std::size_t rows = undo.Count();
        bool abort = false;
        int pumps = 0;
        uint64_t counter = 0;
        const int abortAfter = r.abortAfter;
        RemovalHooks hooks{[&] { if (++pumps == abortAfter) abort = true; }, &abort, &counter};
        const RemovalView viewBefore = r.view;
        const RemovalResult result = remover.Remove(work, undo, r.settings, r.view, r.shift, hooks, ".");

        switch (result.outcome) {
            case RemovalOutcome::Refused:
                Require(!result.error.empty());
                [[fallthrough]];
            case RemovalOutcome::Aborted:
            case RemovalOutcome::Unchanged:
                Require(work.SamePixels(before) && undo.Count() == rows);
                break;
            case RemovalOutcome::Recorded: {
                Require(undo.Count() == rows + 1);
                const Rect rect = result.rect;
                Require(rect.right > rect.left && rect.bottom > rect.top);
                Require(undo.Row(rows).Rectangle() == rect);
                RequireOutsideUnchanged(before, work, rect);
                int ax = 0, ay = 0;
                AimedPixel(viewBefore, ax, ay);
                if (!r.shift && work.Contains(ax, ay))
                    Require(rect.left >= 0 && rect.top >= 0 && rect.right <= w && rect.bottom <= h);
                beforeEach.push_back(before);
                break;
            }
        }
        if (result.outcome == RemovalOutcome::Refused || r.shift) continue;

        // The same walk by the recursion, where the recursion ends.
        const ThresholdConversion c = ConvertThresholds(r.settings, ".");
        if (!c.ok || ThresholdsLetChangedPixelsPass(c.thresholds)) continue;
        Bitmap again = before;
        bool abort2 = false;
        int pumps2 = 0;
        RemovalHooks hooks2{[&] { if (++pumps2 == abortAfter) abort2 = true; }, &abort2, nullptr};
        const LimitCircle limit(viewBefore);
        int cx = 0, cy = 0;
        AimedPixel(viewBefore, cx, cy);
        Rect rect = RecursiveFill(again, c.thresholds, limit, hooks2).Walk(cx, cy);
        Require(pumps2 == pumps && abort2 == abort);
        if (abort2) continue;  // the remover restored the picture; the recursion did not
        if (rect.right > rect.left) {
            ++rect.bottom;
            Require(result.outcome == RemovalOutcome::Recorded && result.rect == rect);
        } else {
            Require(result.outcome == RemovalOutcome::Unchanged);
        }
        Require(again.SamePixels(work));
    }

    // Undo, newest first: each brings back the picture before its edit.
    Require(undo.Count() == beforeEach.size());
    while (!beforeEach.empty()) {
        const bool more = undo.Undo(work);
        Require(work.SamePixels(beforeEach.back()));
        beforeEach.pop_back();
        Require(more == !beforeEach.empty());
    }
    Require(!undo.Undo(work));
    return 0;
}
