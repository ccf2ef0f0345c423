#pragma once
// Helpers for the editing tests: pictures drawn as text, the thresholds a
// window would convert, and the walk written as the plain recursion it
// replaces, to prove that the explicit stack visits the same runs.

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "common/Bitmap.h"
#include "editing/RedEye.h"
#include "support/TestSupport.h"

namespace scarlex::test {

// 'R' passes the default test (200, 40, 40); '.' fails (90, 100, 110).
inline Bitmap Picture(const std::vector<std::string>& rows) {
    Bitmap bmp(static_cast<int>(rows[0].size()), static_cast<int>(rows.size()));
    for (int y = 0; y < bmp.Height(); ++y)
        for (int x = 0; x < bmp.Width(); ++x) {
            uint8_t* p = bmp.Pixel(x, y);
            const bool red = rows[y][x] == 'R';
            p[0] = red ? 40 : 110;
            p[1] = red ? 40 : 100;
            p[2] = red ? 200 : 90;
        }
    return bmp;
}

// The picture as text again: 'x' for a pixel that differs from `before`.
inline std::vector<std::string> ChangedMap(const Bitmap& before, const Bitmap& after) {
    std::vector<std::string> out(before.Height(), std::string(before.Width(), '.'));
    for (int y = 0; y < before.Height(); ++y)
        for (int x = 0; x < before.Width(); ++x)
            for (int c = 0; c < 3; ++c)
                if (before.Pixel(x, y)[c] != after.Pixel(x, y)[c]) out[y][x] = 'x';
    return out;
}

inline Thresholds Convert(const EditSettings& s) {
    ThresholdConversion c = ConvertThresholds(s, ".");
    EXPECT_TRUE(c.ok) << c.error;
    return c.thresholds;
}

inline Thresholds DefaultThresholds() { return Convert(DefaultEditSettings(".")); }

// A view at scale 1: view pixels are bitmap pixels.
inline RemovalView UnitView(int cx, int cy) {
    RemovalView v;
    v.CentreX = cx;
    v.CentreY = cy;
    v.ViewScale = 1.0f;
    v.Magnification = 1;
    v.MagnifierScale = 1.0f;
    return v;
}

// FillSpan as the recursion it is written as. Counts its calls, pumps on
// the first and every 20th, and honours the abort flag, like the walker.
class RecursiveFill {
public:
    RecursiveFill(Bitmap& bmp, const Thresholds& t, const LimitCircle& limit, const RemovalHooks& hooks)
        : bmp_(bmp), t_(t), limit_(limit), hooks_(hooks), W(bmp.Width()), H(bmp.Height()) {}

    Rect Walk(int cx, int cy) { return FillSpan(cx, cx, Rect{W, H, 0, 0}, -1, cy); }
    uint64_t Calls() const { return calls_; }

private:
    bool Aborted() const { return hooks_.abortRemoval && *hooks_.abortRemoval; }
    bool Inside(int x, int y) const { return x >= 0 && x <= W - 1 && limit_.Inside(x, y); }
    bool Clear(int x, int y) { return ClearRedPixel(bmp_.Pixel(x, y), t_); }

    Rect FillSpan(int xl, int xr, Rect rect, int dy, int y) {
        if (Aborted()) return rect;
        if (calls_++ % 20 == 0 && hooks_.pump) hooks_.pump();
        if (y < 0 || y > H - 1 || Aborted()) return rect;
        bool leak = false;
        int x = xl - 1;
        while (Inside(x, y) && Clear(x, y)) --x;
        ++x;
        if (x != xl) leak = true;
        int i = xl;
        while (i >= 0 && i <= W - 1 && i <= xr && limit_.Inside(i, y) && !Clear(i, y)) ++i;
        int j = i + 1;
        if (x < xl)
            i = x;
        else
            x = i;
        if (j > W) j = xl;
        while (i <= xr) {
            while (Inside(j, y) && Clear(j, y)) ++j;
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

// Random pictures: a mix of passing and failing pixels in blobs and noise.
inline Bitmap RandomPicture(std::mt19937& rng, int w, int h) {
    Bitmap bmp(w, h);
    std::uniform_int_distribution<int> byte(0, 255);
    std::bernoulli_distribution red(std::uniform_real_distribution<double>(0.45, 0.9)(rng));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = bmp.Pixel(x, y);
            if (red(rng)) {
                p[2] = uint8_t(120 + byte(rng) % 136);
                p[1] = uint8_t(byte(rng) % 70);
                p[0] = uint8_t(byte(rng) % 90);
            } else {
                p[0] = uint8_t(byte(rng));
                p[1] = uint8_t(byte(rng));
                p[2] = uint8_t(byte(rng));
            }
        }
    return bmp;
}

inline void CompareWithRecursion(int cases, int maxSide, uint32_t seed) {
    std::mt19937 rng(seed);
    const char* rg[] = {"1.6", "1.2", "1.01", "2"};
    const char* rb[] = {"1.1", "1.3", "1.0001"};
    const char* red[] = {"35", "0", "150.5", "-1"};
    for (int n = 0; n < cases; ++n) {
        const int w = 1 + int(rng() % maxSide), h = 1 + int(rng() % maxSide);
        Bitmap a = RandomPicture(rng, w, h);
        Bitmap b = a;
        EditSettings s = DefaultEditSettings(".");
        s.ThresholdRG = rg[rng() % 4];
        s.ThresholdRB = rb[rng() % 3];
        s.ThresholdR = red[rng() % 4];
        s.Attenuation = int(rng() % 101);
        s.ForceGrey = rng() % 2;
        const Thresholds t = Convert(s);
        RemovalView view = UnitView(int(rng() % (w + 2)) - 1, int(rng() % (h + 2)) - 1);
        view.LimitActive = rng() % 3 == 0;
        view.Limit = 1 + int(rng() % maxSide);
        const int cx = view.CentreX + int(rng() % 5) - 2, cy = view.CentreY + int(rng() % 5) - 2;
        // Abort after a random number of pumps in a quarter of the cases.
        const int abortAfter = rng() % 4 == 0 ? 1 + int(rng() % 4) : -1;
        SCOPED_TRACE("case " + std::to_string(n) + ": " + std::to_string(w) + "x" + std::to_string(h) + " click " +
                     std::to_string(cx) + "," + std::to_string(cy) + " abort after " + std::to_string(abortAfter));

        const LimitCircle limit(view);
        bool abortA = false, abortB = false;
        int pumpsA = 0, pumpsB = 0;
        uint64_t counterA = 0;
        RemovalHooks hooksA{[&] { if (++pumpsA == abortAfter) abortA = true; }, &abortA, &counterA};
        RemovalHooks hooksB{[&] { if (++pumpsB == abortAfter) abortB = true; }, &abortB, nullptr};
        SpanWalker walker;
        const Rect ra = walker.Walk(a, t, limit, hooksA, cx, cy);
        RecursiveFill reference(b, t, limit, hooksB);
        const Rect rb2 = reference.Walk(cx, cy);
        ASSERT_EQ(ra, rb2);
        ASSERT_EQ(counterA, reference.Calls());
        ASSERT_EQ(pumpsA, pumpsB);
        ASSERT_EQ(FirstPixelDifference(a, b), "");
    }
}

inline void WholeFrame(int w, int h) {
    Bitmap bmp(w, h);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = bmp.Row(y);
        for (int x = 0; x < w; ++x) row[3 * x] = 20, row[3 * x + 1] = 30, row[3 * x + 2] = 220;
    }
    DBUndoTable undo;
    RedEyeRemover remover;
    RemovalView view = UnitView(w / 2, h / 2);
    const RemovalResult r = remover.Remove(bmp, undo, DefaultThresholds(), view, false, {nullptr, nullptr, nullptr});
    ASSERT_EQ(r.outcome, RemovalOutcome::Recorded);
    EXPECT_EQ(r.rect, (Rect{0, 0, w, h}));
    for (int y = 0; y < h; ++y) {
        const uint8_t* row = bmp.Row(y);
        for (int x = 0; x < w; ++x) ASSERT_EQ(row[3 * x + 2], 25) << x << "," << y;
    }
    ::testing::Test::RecordProperty("peak_depth", static_cast<int>(remover.Walker().PeakDepth()));
}

}  // namespace scarlex::test
