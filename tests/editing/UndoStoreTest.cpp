#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/JpegCodec.h"
#include "editing/RedEye.h"
#include "editing/UndoStore.h"
#include "support/TestSupport.h"
#include "EditingTestUtil.h"

using namespace scarlex;
using namespace scarlex::test;

namespace {

RemovalResult RemoveAt(RedEyeRemover& remover, Bitmap& bmp, DBUndoTable& undo, const EditSettings& s,
                       RemovalView view, bool shift) {
    return remover.Remove(bmp, undo, s, view, shift, {nullptr, nullptr, nullptr}, ".");
}

TEST(UndoStore, ThreeRemovalsAndThreeUndosGiveBackThePhotograph) {
    Bitmap bmp = MakePhotoLike(240, 180, 5);
    const Bitmap loaded = bmp;
    DBUndoTable undo;
    RedEyeRemover remover;
    std::vector<Bitmap> states{bmp};

    // The red disc of the picture sits at (144, 72): click it, then treat
    // an overlapping circle, then click it again darker with other ratios.
    EditSettings s = DefaultEditSettings(".");
    ASSERT_EQ(RemoveAt(remover, bmp, undo, s, UnitView(144, 72), false).outcome, RemovalOutcome::Recorded);
    states.push_back(bmp);
    RemovalView circle = UnitView(150, 80);
    circle.Radius = 30;
    ASSERT_EQ(RemoveAt(remover, bmp, undo, s, circle, true).outcome, RemovalOutcome::Recorded);
    states.push_back(bmp);
    s.ThresholdRG = "1.05";
    s.ThresholdRB = "1.05";
    s.ThresholdR = "0";
    s.Attenuation = 40;
    s.ForceGrey = false;
    ASSERT_EQ(RemoveAt(remover, bmp, undo, s, UnitView(20, 20), false).outcome, RemovalOutcome::Recorded);
    ASSERT_EQ(undo.Count(), 3u);
    ASSERT_FALSE(bmp.SamePixels(states.back()));

    // Each undo gives back the state before its own edit.
    for (int k = 2; k >= 0; --k) {
        SCOPED_TRACE("undo of edit " + std::to_string(k));
        const bool remain = undo.Undo(bmp);
        EXPECT_EQ(remain, k > 0);
        EXPECT_EQ(undo.Count(), static_cast<std::size_t>(k));
        EXPECT_EQ(FirstPixelDifference(states[k], bmp), "");
    }
    EXPECT_EQ(FirstPixelDifference(loaded, bmp), "");
    EXPECT_FALSE(undo.Undo(bmp));  // an empty store does nothing
    EXPECT_EQ(FirstPixelDifference(loaded, bmp), "");
}

TEST(UndoStore, RowsStayInAppendOrder) {
    Bitmap before(20, 10);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 20; ++x) before.Pixel(x, y)[0] = uint8_t(x + 20 * y);
    DBUndoTable undo;
    const std::vector<Rect> rects = {{3, 2, 5, 4}, {-4, -3, 2, 1}, {18, 8, 25, 12}, {30, 30, 40, 40}, {0, 0, 20, 10}};
    for (const Rect& r : rects) ASSERT_TRUE(undo.Append(r, before));
    EXPECT_FALSE(undo.Append(Rect{5, 5, 5, 6}, before));   // right <= left
    EXPECT_FALSE(undo.Append(Rect{5, 5, 6, 5}, before));   // bottom <= top
    EXPECT_EQ(undo.Rectangles(), rects);
    std::size_t i = 0;
    for (const UndoRow& row : undo) {
        SCOPED_TRACE(i);
        EXPECT_EQ(row.Rectangle(), rects[i]);
        // The image holds the part inside the photograph, pixel for pixel.
        const Rect in = ClipToBitmap(rects[i], 20, 10);
        ASSERT_EQ(row.Image.Width(), in.Width());
        ASSERT_EQ(row.Image.Height(), in.Height());
        for (int y = 0; y < in.Height(); ++y)
            for (int x = 0; x < in.Width(); ++x)
                ASSERT_EQ(row.Image.Pixel(x, y)[0], before.Pixel(in.left + x, in.top + y)[0]);
        ++i;
    }
    undo.Clear();
    EXPECT_EQ(undo.Count(), 0u);
}

TEST(UndoStore, UndoRestoresTheWholeRectangleAndNothingOutside) {
    Bitmap bmp(12, 8);
    const Bitmap before = bmp;  // black
    DBUndoTable undo;
    ASSERT_TRUE(undo.Append(Rect{-3, 5, 4, 11}, before));
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 12; ++x) bmp.Pixel(x, y)[1] = 99;
    undo.Undo(bmp);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 12; ++x)
            EXPECT_EQ(bmp.Pixel(x, y)[1], (x < 4 && y >= 5) ? 0 : 99) << x << "," << y;
}

// The real flash photograph with four red pupils.
TEST(UndoStore, RealRedEyesRemovedAndUndone) {
    SCARLEX_TESTDATA_OR_SKIP(path, "redeye_canon_sd100.jpg");
    Bitmap bmp;
    Sampling sampling;
    ASSERT_TRUE(DecodeJpegToBitmap(path, bmp, sampling));
    const Bitmap loaded = bmp;
    struct Eye {
        int x, y, x0, x1, y0, y1;  // centre and the red box
    };
    const Eye eyes[] = {{640, 425, 633, 646, 416, 431},
                        {747, 386, 741, 751, 376, 393},
                        {591, 653, 585, 597, 646, 660},
                        {677, 623, 670, 682, 617, 629}};
    DBUndoTable undo;
    RedEyeRemover remover;
    const EditSettings s = DefaultEditSettings(".");
    for (const Eye& e : eyes) {
        SCOPED_TRACE(std::to_string(e.x) + "," + std::to_string(e.y));
        // Aim at the reddest pixel near the centre.
        int bx = e.x, by = e.y, best = -1;
        for (int y = e.y - 3; y <= e.y + 3; ++y)
            for (int x = e.x - 3; x <= e.x + 3; ++x) {
                const uint8_t* p = bmp.Pixel(x, y);
                if (p[2] - p[1] > best) best = p[2] - p[1], bx = x, by = y;
            }
        // Reddish skin passes the default test too, so aim as a user would:
        // with a limit circle around the eye.
        RemovalView view = UnitView(e.x, e.y);
        view.LimitActive = true;
        view.Limit = 12;
        view.CrossX = bx - e.x;
        view.CrossY = by - e.y;
        const Bitmap beforeClick = bmp;
        const RemovalResult r = RemoveAt(remover, bmp, undo, s, view, false);
        ASSERT_EQ(r.outcome, RemovalOutcome::Recorded);
        EXPECT_GE(r.rect.left, e.x - 12);
        EXPECT_LE(r.rect.right, e.x + 13);
        EXPECT_GE(r.rect.top, e.y - 13);
        EXPECT_LE(r.rect.bottom, e.y + 14);
        // Most of the red box went grey.
        int changed = 0;
        for (int y = e.y0; y <= e.y1; ++y)
            for (int x = e.x0; x <= e.x1; ++x) changed += bmp.Pixel(x, y)[2] != beforeClick.Pixel(x, y)[2];
        EXPECT_GE(changed, 40) << "rect " << r.rect.left << "," << r.rect.top << "," << r.rect.right << ","
                               << r.rect.bottom;
    }
    ASSERT_EQ(undo.Count(), 4u);
    while (undo.Undo(bmp)) {
    }
    EXPECT_EQ(FirstPixelDifference(loaded, bmp), "");
}

}  // namespace
