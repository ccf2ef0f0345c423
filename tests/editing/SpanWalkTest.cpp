#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "editing/RedEye.h"
#include "support/TestSupport.h"
#include "EditingTestUtil.h"

using namespace scarlex;
using namespace scarlex::test;

namespace {

struct WalkOutcome {
    Rect rect;  // bottom made exclusive, as recorded
    bool recorded = false;
    bool undoRestores = false;
    std::vector<std::string> changed;
    Bitmap after;
};

WalkOutcome Click(const std::vector<std::string>& art, int x, int y, RemovalView view) {
    Bitmap bmp = Picture(art);
    const Bitmap before = bmp;
    DBUndoTable undo;
    RedEyeRemover remover;
    view.CrossX = x - view.CentreX;
    view.CrossY = y - view.CentreY;
    bool abort = false;
    uint64_t counter = 0;
    RemovalHooks hooks{nullptr, &abort, &counter};
    const RemovalResult r = remover.Remove(bmp, undo, DefaultThresholds(), view, false, hooks);
    WalkOutcome out;
    out.recorded = r.outcome == RemovalOutcome::Recorded;
    out.rect = r.rect;
    out.changed = ChangedMap(before, bmp);
    out.after = bmp;
    EXPECT_EQ(undo.Count(), out.recorded ? 1u : 0u);
    if (out.recorded) {
        Bitmap undone = bmp;
        undo.Undo(undone);
        out.undoRestores = undone.SamePixels(before);
    }
    return out;
}

WalkOutcome Click(const std::vector<std::string>& art, int x, int y) { return Click(art, x, y, UnitView(x, y)); }

TEST(SpanWalk, SinglePassingPixelRecordsOneByOne) {
    const auto out = Click({".....", "..R..", ".....", "....."}, 2, 1);
    ASSERT_TRUE(out.recorded);
    EXPECT_EQ(out.rect, (Rect{2, 1, 3, 2}));
    EXPECT_EQ(out.changed, (std::vector<std::string>{".....", "..x..", ".....", "....."}));
}

TEST(SpanWalk, SingleRunDoesNotSpread) {
    // A lone pixel below a blob: the click changes it and goes no further.
    const auto out = Click({"........", "..RRR...", "........", "...R....", "........"}, 3, 3);
    EXPECT_EQ(out.changed, (std::vector<std::string>{"........", "........", "........", "...x....", "........"}));
}

TEST(SpanWalk, BlobRectangleCountsTheExaminedRows) {
    const std::vector<std::string> art = {
        "..........", "..........", "...RRRR...", "..RRRRRR..", "...RRRRR..", "....RR....", "..........", "..........",
    };
    const auto out = Click(art, 4, 3);
    ASSERT_TRUE(out.recorded);
    // Rows 2..5 changed; rows 1 and 6 were examined: top 1, bottom 5 + 2.
    EXPECT_EQ(out.rect, (Rect{2, 1, 8, 7}));
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 10; ++x)
            EXPECT_EQ(out.changed[y][x] == 'x', art[y][x] == 'R') << x << "," << y;
}

TEST(SpanWalk, LeftScanReachesTheFirstColumn) {
    const auto out = Click({"......", "RRRR..", "RRRR..", "......"}, 3, 1);
    EXPECT_EQ(out.changed, (std::vector<std::string>{"......", "xxxx..", "xxxx..", "......"}));
    EXPECT_EQ(out.rect.left, 0);
}

TEST(SpanWalk, LastColumnAndBottomRow) {
    const auto out = Click({"......", "..RRRR", "..RRRR"}, 2, 2);
    EXPECT_EQ(out.changed, (std::vector<std::string>{"......", "..xxxx", "..xxxx"}));
    EXPECT_EQ(out.rect, (Rect{2, 0, 6, 3}));
}

TEST(SpanWalk, ClickOnFailingPixelAndLeftNeighbourRecordsNothing) {
    // Whatever lies to the right.
    const auto out = Click({"......", "...RRR", "...RRR"}, 2, 1);
    EXPECT_FALSE(out.recorded);
    EXPECT_EQ(out.changed, (std::vector<std::string>{"......", "......", "......"}));
}

TEST(SpanWalk, FailingClickWithPassingLeftNeighbourWalks) {
    const auto out = Click({"......", ".RR...", ".RR..."}, 3, 1);
    EXPECT_TRUE(out.recorded);
    EXPECT_EQ(out.changed, (std::vector<std::string>{"......", ".xx...", ".xx..."}));
}

TEST(SpanWalk, NeverCrossesTheLimitCircle) {
    std::vector<std::string> art(41, std::string(41, 'R'));
    for (int cx : {20, 3, 38})
        for (int r : {1, 2, 5, 12}) {
            SCOPED_TRACE("centre " + std::to_string(cx) + " radius " + std::to_string(r));
            RemovalView view = UnitView(cx, 20);
            view.LimitActive = true;
            view.Limit = r;
            const auto out = Click(art, cx, 20, view);
            for (int y = 0; y < 41; ++y)
                for (int x = 0; x < 41; ++x) {
                    const bool inside = (x - cx) * (x - cx) + (y - 20) * (y - 20) < r * r;
                    if (!inside) {
                        ASSERT_EQ(out.changed[y][x], '.') << x << "," << y;
                    }
                }
            ASSERT_EQ(out.changed[20][cx], 'x');
        }
}

TEST(SpanWalk, LimitRadiusIsSinglePrecisionOfTheViewNumbers) {
    RemovalView v;
    v.Limit = 100;
    v.ViewScale = 5.5970149f;
    v.Magnification = 5;
    EXPECT_EQ(LimitRadius(v), static_cast<float>(100.0L * 5.5970149f / 5.0L));
    v.LimitActive = true;
    v.CentreX = 0;
    v.CentreY = 0;
    const LimitCircle circle(v);
    const long double r = LimitRadius(v);
    for (int x = 100; x < 120; ++x) EXPECT_EQ(circle.Inside(x, 0), x * x < r * r) << x;
}

TEST(SpanWalk, AimedPixelFollowsTheCrosshair) {
    RemovalView v;
    v.CentreX = 100;
    v.CentreY = 50;
    v.CrossX = -7;
    v.CrossY = 9;
    v.MagnifierScale = 0.5f;
    int x = 0, y = 0;
    AimedPixel(v, x, y);
    EXPECT_EQ(x, 96);  // trunc(96.5)
    EXPECT_EQ(y, 54);  // trunc(54.5)
}

TEST(SpanWalk, ClicksOutsideThePhotographStayInside) {
    // Run under the address sanitizer: no read or write outside the bitmap.
    const std::vector<std::string> art = {"RRRR", "RRRR", "RRRR"};
    for (auto [x, y] : std::vector<std::pair<int, int>>{{-1, 1}, {-5, 1}, {4, 1}, {9, 1}, {1, -1}, {1, 3}, {-1, -1}}) {
        SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));
        const auto out = Click(art, x, y);
        if (out.recorded) {
            EXPECT_TRUE(out.undoRestores);
        }
    }
    // The column just right of the photograph is where a clamped centre
    // lands; its left scan walks the last column.
    const auto right = Click(art, 4, 1);
    EXPECT_EQ(right.changed, (std::vector<std::string>{"xxxx", "xxxx", "xxxx"}));
}

TEST(GreyCircle, CornerChangesInsideAndRecordsTheWholeSquare) {
    Bitmap bmp = Picture(std::vector<std::string>(12, std::string(16, '.')));
    const Bitmap before = bmp;
    DBUndoTable undo;
    RedEyeRemover remover;
    RemovalView view = UnitView(0, 0);
    view.Radius = 5;
    view.Limit = 2;  // not active: the magnifier radius serves
    bool abort = false;
    uint64_t counter = 0;
    const RemovalResult r = remover.Remove(bmp, undo, DefaultThresholds(), view, true, {nullptr, &abort, &counter});
    ASSERT_EQ(r.outcome, RemovalOutcome::Recorded);
    EXPECT_EQ(view.Limit, 5);
    EXPECT_EQ(r.rect, (Rect{-6, -6, 6, 7}));
    EXPECT_EQ(counter, 0u);  // no pumping
    const auto changed = ChangedMap(before, bmp);
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 16; ++x) {
            // Rows with d = 25 - y^2 > 0, columns up to trunc(sqrt(d)).
            const int d = 25 - y * y;
            const bool in = d > 0 && x * x <= d;
            EXPECT_EQ(changed[y][x] == 'x', in) << x << "," << y;
        }
    ASSERT_EQ(undo.Count(), 1u);
    EXPECT_EQ(undo.Row(0).Rectangle(), r.rect);
    undo.Undo(bmp);
    EXPECT_EQ(FirstPixelDifference(before, bmp), "");
}

TEST(GreyCircle, ChangesEveryPixelWithoutTestUnderALimit) {
    Bitmap bmp(30, 30);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 30; ++x) {
            uint8_t* p = bmp.Pixel(x, y);
            p[0] = 200;  // blue: fails every test
            p[1] = uint8_t(7 * x);
            p[2] = uint8_t(3 * y);
        }
    const Bitmap before = bmp;
    RemovalView view = UnitView(15, 14);
    view.Radius = 10;
    view.Limit = 4;
    view.LimitActive = true;
    EditSettings s = DefaultEditSettings(".");
    s.ForceGrey = false;
    s.Attenuation = 30;
    const Thresholds t = Convert(s);
    const Rect rect = GreyCircle(bmp, t, view);
    EXPECT_EQ(rect, (Rect{10, 9, 20, 19}));
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 30; ++x) {
            const int dy = y - 14;
            const int d = 16 - dy * dy;
            int h = 0;
            while ((h + 1) * (h + 1) <= d) ++h;
            uint8_t expect[3] = {before.Pixel(x, y)[0], before.Pixel(x, y)[1], before.Pixel(x, y)[2]};
            if (d > 0 && std::abs(x - 15) <= h) WriteClearedPixel(expect, expect[1], expect[0], t);
            for (int c = 0; c < 3; ++c) ASSERT_EQ(bmp.Pixel(x, y)[c], expect[c]) << x << "," << y << " channel " << c;
        }
}

TEST(GreyCircle, FarOutsideTouchesNothing) {
    Bitmap bmp = Picture({"RRRR", "RRRR"});
    const Bitmap before = bmp;
    for (auto [cx, cy] : std::vector<std::pair<int, int>>{{-50, 0}, {60, 1}, {2, -40}, {2, 90}}) {
        RemovalView view = UnitView(cx, cy);
        view.Radius = 10;
        GreyCircle(bmp, DefaultThresholds(), view);
        EXPECT_TRUE(bmp.SamePixels(before));
    }
}

TEST(SpanWalk, ExplicitStackMatchesTheRecursion) { CompareWithRecursion(400, 24, 7); }

TEST(SpanWalk, PumpsOnTheFirstCallAndEveryTwentiethAfter) {
    Bitmap bmp = Picture(std::vector<std::string>(60, std::string(3, 'R')));
    RemovalView view = UnitView(1, 30);
    uint64_t counter = 0;
    std::vector<uint64_t> pumpedAt;
    RemovalHooks hooks{[&] { pumpedAt.push_back(counter); }, nullptr, &counter};
    SpanWalker walker;
    walker.Walk(bmp, DefaultThresholds(), LimitCircle(view), hooks, 1, 30);
    ASSERT_GT(counter, 41u);
    ASSERT_FALSE(pumpedAt.empty());
    for (std::size_t k = 0; k < pumpedAt.size(); ++k) EXPECT_EQ(pumpedAt[k], 1 + 20 * k);  // counted before the pump
    EXPECT_EQ(pumpedAt.size(), (counter + 19) / 20);
    // The counter carries on across walks, as one count for the process.
    const uint64_t before = counter;
    Bitmap again = Picture(std::vector<std::string>(60, std::string(3, 'R')));
    walker.Walk(again, DefaultThresholds(), LimitCircle(view), hooks, 1, 30);
    EXPECT_EQ(counter, 2 * before);
}

TEST(Removal, AbortRestoresEveryPixelAndAddsNoRow) {
    const Bitmap photo = MakePhotoLike(300, 200, 3);
    for (int abortAfter : {1, 2, 5}) {
        SCOPED_TRACE("abort after " + std::to_string(abortAfter) + " pumps");
        Bitmap bmp = photo;
        DBUndoTable undo;
        RedEyeRemover remover;
        // A red field the walk needs many calls for.
        for (int y = 20; y < 180; ++y)
            for (int x = 30; x < 270; ++x) {
                uint8_t* p = bmp.Pixel(x, y);
                p[0] = 30, p[1] = 30, p[2] = uint8_t(150 + (x * y) % 100);
            }
        const Bitmap loaded = bmp;
        bool abort = true;  // a stale flag is cleared when the removal starts
        int pumps = 0;
        uint64_t counter = 0;
        RemovalHooks hooks{[&] { if (++pumps == abortAfter) abort = true; }, &abort, &counter};
        RemovalView view = UnitView(150, 100);
        const RemovalResult r = remover.Remove(bmp, undo, DefaultThresholds(), view, false, hooks);
        EXPECT_EQ(r.outcome, RemovalOutcome::Aborted);
        EXPECT_EQ(pumps, abortAfter);
        EXPECT_EQ(undo.Count(), 0u);
        EXPECT_EQ(FirstPixelDifference(loaded, bmp), "");
    }
}

TEST(Removal, RefusedThresholdTouchesNothing) {
    Bitmap bmp = Picture({"RRR", "RRR"});
    const Bitmap before = bmp;
    DBUndoTable undo;
    RedEyeRemover remover;
    EditSettings s = DefaultEditSettings(".");
    s.ThresholdR = "3 5";
    bool abort = true;
    RemovalView view = UnitView(1, 1);
    const RemovalResult r = remover.Remove(bmp, undo, s, view, false, {nullptr, &abort, nullptr}, ".");
    EXPECT_EQ(r.outcome, RemovalOutcome::Refused);
    EXPECT_EQ(r.error, "Could not convert variant of type (String) into type (Double)");
    EXPECT_TRUE(abort);  // flags untouched
    EXPECT_EQ(undo.Count(), 0u);
    EXPECT_TRUE(bmp.SamePixels(before));
}

TEST(Removal, RatiosAtOrBelowOneStillEnd) {
    // Grey pixels pass ratios of 1 and stay grey: each is changed once.
    for (const char* ratio : {"1", "0.5", "0", "-3"}) {
        SCOPED_TRACE(ratio);
        Bitmap bmp(40, 30);
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 40; ++x) {
                uint8_t* p = bmp.Pixel(x, y);
                p[0] = p[1] = p[2] = uint8_t(60 + x + y);
            }
        const Bitmap before = bmp;
        EditSettings s = DefaultEditSettings(".");
        s.ThresholdRG = ratio;
        s.ThresholdRB = ratio;
        s.ThresholdR = "-1";
        s.Attenuation = 10;
        const Thresholds t = Convert(s);
        ASSERT_TRUE(ThresholdsLetChangedPixelsPass(t));
        DBUndoTable undo;
        RedEyeRemover remover;
        RemovalView view = UnitView(20, 15);
        const RemovalResult r = remover.Remove(bmp, undo, t, view, false, {nullptr, nullptr, nullptr});
        ASSERT_EQ(r.outcome, RemovalOutcome::Recorded);
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 40; ++x) {
                uint8_t once[3] = {before.Pixel(x, y)[0], before.Pixel(x, y)[1], before.Pixel(x, y)[2]};
                ASSERT_TRUE(ClearRedPixel(once, t));
                const uint8_t* got = bmp.Pixel(x, y);
                ASSERT_TRUE(got[0] == once[0] && got[1] == once[1] && got[2] == once[2]) << x << "," << y;
            }
    }
}

TEST(Removal, WholeRedFrameNeedsNoDeepRecursion) { WholeFrame(1200, 900); }

// A serpentine of two-row corridors: the recursion would go one level per
// run, thousands deep.
TEST(Removal, SerpentineWalksToTheEnd) {
    const int w = 64, h = 3000;
    std::vector<std::string> art(h, std::string(w, '.'));
    for (int y = 0; y + 2 < h; y += 3) {
        art[y] = std::string(w, 'R');
        art[y + 1] = std::string(w, 'R');
        const int gap = (y / 3) % 2 ? 0 : w - 2;
        art[y + 2][gap] = 'R';
        art[y + 2][gap + 1] = 'R';
    }
    const auto out = Click(art, 5, 0);
    int changed = 0, red = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            changed += out.changed[y][x] == 'x';
            red += art[y][x] == 'R';
        }
    EXPECT_EQ(changed, red);
}

}  // namespace

namespace {

TEST(Removal, ReleaseDuringTheWalkDoesNotStartAnother) {
    Bitmap bmp = Picture(std::vector<std::string>(50, std::string(8, 'R')));
    const Bitmap loaded = bmp;
    DBUndoTable undo;
    RedEyeRemover remover;
    RemovalView view = UnitView(4, 25);
    bool abort = false;
    RemovalResult inner;
    bool tried = false;
    RemovalHooks hooks;
    hooks.abortRemoval = &abort;
    hooks.pump = [&] {
        if (tried) return;
        tried = true;
        RemovalView other = UnitView(1, 1);
        inner = remover.Remove(bmp, undo, DefaultThresholds(), other, false, hooks);
    };
    const RemovalResult outer = remover.Remove(bmp, undo, DefaultThresholds(), view, false, hooks);
    EXPECT_EQ(inner.outcome, RemovalOutcome::Refused);
    EXPECT_EQ(outer.outcome, RemovalOutcome::Recorded);
    EXPECT_EQ(undo.Count(), 1u);
    undo.Undo(bmp);
    EXPECT_EQ(FirstPixelDifference(loaded, bmp), "");
}

TEST(Removal, PumpThatThrowsLeavesThePhotographWhole) {
    Bitmap bmp = Picture(std::vector<std::string>(50, std::string(8, 'R')));
    const Bitmap loaded = bmp;
    DBUndoTable undo;
    RedEyeRemover remover;
    RemovalView view = UnitView(4, 25);
    int pumps = 0;
    RemovalHooks hooks;
    hooks.pump = [&] {
        if (++pumps == 2) throw std::runtime_error("window closed");
    };
    EXPECT_THROW(remover.Remove(bmp, undo, DefaultThresholds(), view, false, hooks), std::runtime_error);
    EXPECT_EQ(undo.Count(), 0u);
    EXPECT_EQ(FirstPixelDifference(loaded, bmp), "");
    // And the remover is usable again.
    EXPECT_EQ(remover.Remove(bmp, undo, DefaultThresholds(), view, false, {}).outcome, RemovalOutcome::Recorded);
}

}  // namespace

TEST(Removal, EachEditKeepsOnlyWhatItTouchedAndUndoesExactly) {
    // Red blobs of every size across a photograph, at its edges too; clicks
    // on them, grey circles past the corners, with ratios above and at 1.
    Bitmap bmp = MakePhotoLike(700, 500, 11);
    std::mt19937 rng(5);
    std::vector<std::pair<int, int>> centres;
    for (int blob = 0; blob < 14; ++blob) {
        const int cx = int(rng() % 700), cy = int(rng() % 500), r = 2 + int(rng() % (blob == 0 ? 120 : 25));
        centres.emplace_back(cx, cy);
        for (int y = std::max(0, cy - r); y < std::min(500, cy + r); ++y)
            for (int x = std::max(0, cx - r); x < std::min(700, cx + r); ++x)
                if ((x - cx) * (x - cx) + (y - cy) * (y - cy) < r * r) {
                    uint8_t* p = bmp.Pixel(x, y);
                    p[0] = uint8_t(20 + x % 30), p[1] = uint8_t(25 + y % 20), p[2] = uint8_t(160 + (x + y) % 90);
                }
    }
    EditSettings lenient = DefaultEditSettings(".");
    lenient.ThresholdRG = "1";
    lenient.ThresholdRB = "0.9";
    DBUndoTable undo;
    RedEyeRemover remover;
    std::vector<Bitmap> states{bmp};
    for (int i = 0; i < 24; ++i) {
        SCOPED_TRACE("edit " + std::to_string(i));
        const bool shift = i % 5 == 4;
        const auto [bx, by] = centres[std::size_t(i) % centres.size()];
        RemovalView view = shift ? UnitView(i % 2 ? 699 : 0, int(rng() % 500)) : UnitView(bx, by);
        view.Radius = view.Limit = 10 + int(rng() % 60);
        const Bitmap before = bmp;
        bool abort = false;
        RemovalHooks hooks{{}, &abort, nullptr};
        const RemovalResult r = remover.Remove(bmp, undo, Convert(i % 3 ? DefaultEditSettings(".") : lenient), view,
                                               shift, hooks);
        if (r.outcome != RemovalOutcome::Recorded) continue;
        // The row holds exactly the pixels that lay in its rectangle before.
        const UndoRow& row = undo.Row(undo.Count() - 1);
        for (int y = 0; y < row.Image.Height(); ++y)
            ASSERT_EQ(std::memcmp(row.Image.Row(y), before.Pixel(row.ImageLeft, row.ImageTop + y),
                                  std::size_t(row.Image.Width()) * 3),
                      0)
                << "row " << y;
        // What was kept grows with the edit, not with the photograph.
        const std::size_t area = std::size_t(row.Image.Width() + 128) * std::size_t(row.Image.Height() + 128) * 3;
        EXPECT_LE(remover.Journal().KeptBytes(), std::max<std::size_t>(area, 64 * 64 * 3));
        states.push_back(bmp);
    }
    ASSERT_GE(undo.Count(), 8u);
    // Undo walks back through every state.
    states.pop_back();
    while (!undo.Empty()) {
        undo.Undo(bmp);
        ASSERT_EQ(FirstPixelDifference(states.back(), bmp), "") << undo.Count() << " rows left";
        states.pop_back();
    }
}
