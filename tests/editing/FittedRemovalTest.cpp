#include <gtest/gtest.h>

#include <cmath>

#include "EditingTestUtil.h"
#include "editing/FittedRemoval.h"
#include "editing/PupilFit.h"

using namespace scarlex;
using namespace scarlex::test;

namespace {

void Set(Bitmap& b, int x, int y, int r, int g, int bl) {
    uint8_t* p = b.Pixel(x, y);
    p[0] = static_cast<uint8_t>(bl);
    p[1] = static_cast<uint8_t>(g);
    p[2] = static_cast<uint8_t>(r);
}

bool CheckRed(const uint8_t* p) { return p[2] > 60 && p[2] > 1.5 * p[1] && p[2] > 1.3 * p[0]; }

// A flash-lit eye: skin that passes the click's default test, an iris, a
// red pupil of radius r whose edge blends into the iris over a pixel or two,
// and a white catch-light bar across its middle that splits the red in two.
struct DrawnEye {
    double cx = 40.3, cy = 30.6, r = 8;
    bool magentaFringe = false;
    Bitmap Draw(int w = 90, int h = 64) const {
        Bitmap b(w, h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const double d = std::hypot(x - cx, y - cy);
                double mix = std::clamp((r + 1 - d) / 2, 0.0, 1.0);  // 1 inside the pupil
                int R = 150, G = 88, B = 70;                           // skin, passes 1.6 / 1.1 / 35
                if (d < 2.2 * r) R = 60, G = 70, B = 96;               // blue-grey iris
                R = static_cast<int>(R + mix * (175 - R));
                G = static_cast<int>(G + mix * (38 - G));
                B = static_cast<int>(B + mix * (34 - B));
                if (std::fabs(x - cx) < 1.2 && std::fabs(y - cy) < r * 0.8) R = G = B = 245;  // catch-light bar
                if (magentaFringe && std::fabs(std::fabs(x - cx) - 1.7) < 0.5 && std::fabs(y - cy) < r * 0.7)
                    R = 170, G = 40, B = 160;
                Set(b, x, y, R, G, B);
            }
        return b;
    }
};

TEST(PupilFit, FindsThePupilNotTheRedSkinAroundIt) {
    const DrawnEye eye;
    const Bitmap b = eye.Draw();
    // Aimed at the catch-light, at the pupil's edge, and with a size hint.
    for (auto [x, y, hint] : {std::tuple{40.0, 31.0, 0.0}, {35.0, 27.0, 0.0}, {41.0, 30.0, 8.0}}) {
        SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));
        PupilFitOptions o;
        o.radiusHint = hint;
        const PupilFit fit = FitPupil(b, x, y, o);
        ASSERT_TRUE(fit.found);
        EXPECT_NEAR(fit.x, eye.cx, 0.6);
        EXPECT_NEAR(fit.y, eye.cy, 0.6);
        EXPECT_NEAR(fit.radius, eye.r, 1.2);
        EXPECT_GE(fit.circle, eye.r + 1);
        EXPECT_LE(fit.circle, 2 * eye.r + 4);
    }
    // Nothing red near the point: no pupil.
    EXPECT_FALSE(FitPupil(b, 5, 5).found);
    EXPECT_FALSE(FitPupil(Bitmap(), 1, 1).found);
    EXPECT_FALSE(FitPupil(b, std::nan(""), 3).found);
}

TEST(FittedRemoval, ClearsBothHalvesOfThePupilAndNothingOutsideTheCircle) {
    const DrawnEye eye;
    const Bitmap before = eye.Draw();
    Bitmap work = before;
    DBUndoTable undo;
    const Thresholds t = DefaultThresholds();
    PupilCircle circle;
    ASSERT_TRUE(FitRemovalCircle(work, 40, 31, 0, circle));
    const RemovalResult r = RemoveRedInCircle(work, undo, t, circle);
    ASSERT_EQ(r.outcome, RemovalOutcome::Recorded);
    ASSERT_EQ(undo.Count(), 1u);

    Rect changed{work.Width(), work.Height(), 0, 0};
    for (int y = 0; y < work.Height(); ++y)
        for (int x = 0; x < work.Width(); ++x) {
            const double d = std::hypot(x - circle.x, y - circle.y);
            const bool differs = !std::equal(before.Pixel(x, y), before.Pixel(x, y) + 3, work.Pixel(x, y));
            if (differs) {
                EXPECT_LT(d, circle.radius) << x << "," << y;
                changed = {std::min(changed.left, x), std::min(changed.top, y), std::max(changed.right, x + 1),
                           std::max(changed.bottom, y + 1)};
            }
            // Every red pixel of the pupil is gone, on both sides of the bar.
            if (d <= eye.r + 0.5) {
                EXPECT_FALSE(CheckRed(work.Pixel(x, y))) << x << "," << y;
            }
            // A pixel that passes the test is changed by the pixel rule itself.
            uint8_t rule[3] = {before.Pixel(x, y)[0], before.Pixel(x, y)[1], before.Pixel(x, y)[2]};
            if (d < circle.radius && ClearRedPixel(rule, t)) {
                EXPECT_TRUE(std::equal(rule, rule + 3, work.Pixel(x, y))) << x << "," << y;
            }
        }
    // The catch-light is kept.
    EXPECT_EQ(work.Pixel(40, 31)[2], 245);
    EXPECT_EQ(work.Pixel(40, 31)[1], 245);
    // The row's rectangle is that of the changed pixels, its image what was there.
    EXPECT_EQ(r.rect, changed);
    EXPECT_EQ(undo.Row(0).Rectangle(), changed);
    EXPECT_FALSE(undo.Undo(work));
    EXPECT_EQ(FirstPixelDifference(work, before), "");
}

TEST(FittedRemoval, LeavesNoMagentaAroundTheCatchLight) {
    DrawnEye eye;
    eye.magentaFringe = true;
    Bitmap work = eye.Draw();
    DBUndoTable undo;
    ASSERT_EQ(FixPupilAt(work, undo, DefaultThresholds(), 40, 31).outcome, RemovalOutcome::Recorded);
    for (int y = 0; y < work.Height(); ++y)
        for (int x = 0; x < work.Width(); ++x) {
            if (std::hypot(x - eye.cx, y - eye.cy) > eye.r) continue;
            const uint8_t* p = work.Pixel(x, y);
            EXPECT_LT(MagentaShare(p), 0.2) << x << "," << y << ": " << int(p[2]) << "/" << int(p[1]) << "/" << int(p[0]);
        }
}

TEST(FittedRemoval, SettingsLimitsAndRefusals) {
    const DrawnEye eye;
    const Bitmap before = eye.Draw();
    PupilCircle circle;
    ASSERT_TRUE(FitRemovalCircle(before, 40, 31, 0, circle));

    // Attenuation and colour kept: the passing pixels get the rule's values.
    EditSettings s = DefaultEditSettings(".");
    s.Attenuation = 40;
    s.ForceGrey = false;
    Bitmap work = before;
    DBUndoTable undo;
    ASSERT_EQ(RemoveRedInCircle(work, undo, s, circle, ".").outcome, RemovalOutcome::Recorded);
    uint8_t rule[3] = {before.Pixel(37, 31)[0], before.Pixel(37, 31)[1], before.Pixel(37, 31)[2]};
    ASSERT_TRUE(ClearRedPixel(rule, Convert(s)));
    EXPECT_TRUE(std::equal(rule, rule + 3, work.Pixel(37, 31)));

    // A threshold that does not convert: refused, nothing touched.
    s.ThresholdRB = "1,1";
    work = before;
    const RemovalResult refused = RemoveRedInCircle(work, undo, s, circle, ".");
    EXPECT_EQ(refused.outcome, RemovalOutcome::Refused);
    EXPECT_EQ(refused.error, "'1,1' is not a valid floating point value");
    EXPECT_EQ(FirstPixelDifference(work, before), "");
    EXPECT_EQ(undo.Count(), 1u);

    // A limit circle bounds the fitted one.
    RemovalView view = UnitView(34, 31);
    view.Limit = 4;
    view.LimitActive = true;
    const LimitCircle limit(view);
    DBUndoTable limited;
    ASSERT_EQ(RemoveRedInCircle(work, limited, DefaultThresholds(), circle, &limit).outcome, RemovalOutcome::Recorded);
    for (int y = 0; y < work.Height(); ++y)
        for (int x = 0; x < work.Width(); ++x)
            if (!limit.Inside(x, y)) {
                ASSERT_TRUE(std::equal(before.Pixel(x, y), before.Pixel(x, y) + 3, work.Pixel(x, y)));
            }

    // Nothing to fix: no pupil there, or a circle off the picture or absurd.
    DBUndoTable none;
    EXPECT_EQ(FixPupilAt(work, none, DefaultThresholds(), 3, 60).outcome, RemovalOutcome::Unchanged);
    EXPECT_EQ(RemoveRedInCircle(work, none, DefaultThresholds(), {500, 500, 20}).outcome, RemovalOutcome::Unchanged);
    EXPECT_EQ(RemoveRedInCircle(work, none, DefaultThresholds(), {40, 30, std::nan("")}).outcome,
              RemovalOutcome::Unchanged);
    EXPECT_EQ(RemoveRedInCircle(work, none, DefaultThresholds(), {40, 30, 1e300}).outcome, RemovalOutcome::Unchanged);
    EXPECT_EQ(none.Count(), 0u);
}

TEST(FittedRemoval, APupilCutByTheCornerOfThePicture) {
    DrawnEye eye;
    eye.cx = 1.5;
    eye.cy = 2.2;
    eye.r = 6;
    Bitmap work = eye.Draw(30, 24);
    DBUndoTable undo;
    const RemovalResult r = FixPupilAt(work, undo, DefaultThresholds(), 2, 5);
    ASSERT_EQ(r.outcome, RemovalOutcome::Recorded);
    EXPECT_GE(r.rect.left, 0);
    EXPECT_GE(r.rect.top, 0);
    EXPECT_LE(r.rect.right, 30);
    EXPECT_LE(r.rect.bottom, 24);
    EXPECT_FALSE(CheckRed(work.Pixel(4, 2)));
}

}  // namespace
