#include <gtest/gtest.h>

#include <cmath>

#include "view/ViewState.h"

namespace scarlex {
namespace {

ViewState Fitted(int w, int h, int vw, int vh, int magnification = 5) {
    ViewState v;
    v.SetMagnification(magnification);
    EXPECT_TRUE(v.Fit(w, h, vw, vh));
    return v;
}

TEST(ViewFit, LandscapeInPortraitishView) {
    ViewState v = Fitted(3000, 2000, 536, 486);
    EXPECT_FLOAT_EQ(v.ViewScale, 3000.0f / 536.0f);
    EXPECT_NEAR(v.ViewScale, 5.597, 0.001);
    EXPECT_EQ(v.DisplayWidth(), 536);
    EXPECT_EQ(v.DisplayHeight(), 357);
    EXPECT_FLOAT_EQ(v.MagnifierScale, v.ViewScale / 5);
}

TEST(ViewFit, DisplayTouchesOneSideAndStaysInside) {
    const int sizes[][4] = {{3000, 2000, 536, 486}, {2000, 3000, 536, 486}, {6000, 4000, 1280, 900},
                            {100, 50, 800, 600},    {1, 1, 300, 200},       {4000, 4000, 333, 777},
                            {7, 3000, 640, 480},    {3000, 7, 640, 480}};
    for (const auto& s : sizes) {
        SCOPED_TRACE(testing::Message() << s[0] << "x" << s[1] << " in " << s[2] << "x" << s[3]);
        ViewState v = Fitted(s[0], s[1], s[2], s[3]);
        EXPECT_LE(v.DisplayWidth(), s[2]);
        EXPECT_LE(v.DisplayHeight(), s[3]);
        EXPECT_TRUE(v.DisplayWidth() >= s[2] - 1 || v.DisplayHeight() >= s[3] - 1);
        // Every display pixel maps inside the photograph.
        EXPECT_LT(v.SourceColumn(v.DisplayWidth() - 1), s[0]);
        EXPECT_LT(v.SourceRow(v.DisplayHeight() - 1), s[1]);
    }
}

TEST(ViewFit, NothingToFit) {
    ViewState v;
    EXPECT_FALSE(v.Fit(0, 0, 500, 400));
    EXPECT_FALSE(v.Fit(100, 100, 0, 400));
    EXPECT_EQ(v.ViewScale, 0.0f);
    EXPECT_EQ(v.DisplayWidth(), 0);
}

TEST(ViewMapping, CentreFromViewHeldAtSizeFromAbove) {
    ViewState v = Fitted(3000, 2000, 536, 486);
    v.ViewX = 100;
    v.ViewY = 50;
    v.CentreFromView();
    EXPECT_EQ(v.CentreX, static_cast<int>(100 * static_cast<long double>(v.ViewScale)));
    EXPECT_EQ(v.CentreX, 559);
    EXPECT_EQ(v.CentreY, 279);
    v.ViewX = 530;
    v.ViewY = 480;  // below the display
    v.CentreFromView();
    EXPECT_EQ(v.CentreX, 2966);
    EXPECT_EQ(v.CentreY, 2000);
}

TEST(ViewMapping, ClampCentreHasNoLowerBoundAndSetsHome) {
    ViewState v = Fitted(3000, 2000, 536, 486);
    v.ScreenDX = 1000;
    v.ScreenDY = 200;
    v.CentreX = 5000;
    v.CentreY = -30;
    v.ClampCentre();
    EXPECT_EQ(v.CentreX, 3000);
    EXPECT_EQ(v.CentreY, -30);
    EXPECT_EQ(v.ViewX, 536);
    EXPECT_EQ(v.ViewY, -5);  // toward zero
    EXPECT_EQ(v.CursorHomeX, 1536);
    EXPECT_EQ(v.CursorHomeY, 195);
}

TEST(ViewMapping, AimedPixelTruncatesTowardZero) {
    ViewState v = Fitted(3000, 2000, 536, 486);  // MagnifierScale 1.1194...
    v.CentreX = 10;
    v.CentreY = 10;
    v.CrossX = 3;
    v.CrossY = -3;
    EXPECT_EQ(v.AimedX(), 13);  // 10 + 3.358
    EXPECT_EQ(v.AimedY(), 6);   // 10 - 3.358 = 6.64
    v.CentreX = 0;
    v.CrossX = -1;
    EXPECT_EQ(v.AimedX(), -1);  // -1.119 cut toward zero
}

TEST(ViewLens, SideAndSpan) {
    ViewState v = Fitted(3000, 2000, 536, 486);
    LensGeometry g = v.Lens();
    EXPECT_EQ(g.rho, 20.0f);
    EXPECT_EQ(g.S, 208);
    EXPECT_EQ(g.f, 111);  // floor(20 * 5.597)
    EXPECT_EQ(g.N, 223);
    v.SetMagnification(3);
    g = v.Lens();
    EXPECT_EQ(g.S, 206);  // 3 * single(33.33..) falls just below 100
    EXPECT_EQ(g.f, static_cast<int>(std::floor(static_cast<long double>(g.rho) * v.ViewScale)));
}

TEST(ViewLens, Placement) {
    ViewState v = Fitted(3000, 2000, 536, 486, 3);
    v.ViewX = 200;
    v.ViewY = 150;
    v.CentreX = 1119;
    v.CentreY = 839;
    v.CrossX = -4;
    v.CrossY = 7;
    const LensPlacement p = v.Placement();
    // e = 99.99999..: floor 99, ceil 100.
    EXPECT_EQ(p.discLeft, 101);
    EXPECT_EQ(p.discTop, 51);
    EXPECT_EQ(p.discRight, 300);
    EXPECT_EQ(p.discBottom, 250);
    EXPECT_EQ(p.lensLeft, 97);
    EXPECT_EQ(p.lensTop, 47);
    EXPECT_EQ(p.sourceLeft, 1119 - v.Lens().f);
    EXPECT_EQ(p.crossX, 196);
    EXPECT_EQ(p.crossY, 157);
}

TEST(ViewSteps, MagnificationHeldWithinBounds) {
    ViewState v = Fitted(3000, 2000, 536, 486);
    for (int i = 0; i < 120; ++i) v.ChangeSize(true, true, 1);  // Ctrl wins over Shift
    EXPECT_EQ(v.Magnification, 100);
    EXPECT_EQ(v.Panels[kPanelMagnification], "Magnification : 100");
    EXPECT_EQ(v.Limit, 100);
    v.ChangeSize(true, false, -1000000);
    EXPECT_EQ(v.Magnification, 2);
    EXPECT_FLOAT_EQ(v.MagnifierScale, v.ViewScale / 2);
}

TEST(ViewSteps, LimitStepsAndNotLimiting) {
    ViewState v = Fitted(3000, 2000, 536, 486);  // one notch = ceil(1 / 1.119) = 1
    v.SetStartValues();
    v.ChangeSize(false, true, -1);
    EXPECT_EQ(v.Limit, 99);
    EXPECT_TRUE(v.LimitActive);
    EXPECT_EQ(v.Panels[kPanelLimit], "Limit : 99");
    v.ChangeSize(false, true, 1);
    EXPECT_EQ(v.Limit, 100);
    EXPECT_FALSE(v.LimitActive);
    EXPECT_EQ(v.Panels[kPanelLimit], "Not limiting");
    v.ChangeSize(false, true, 5);  // beyond the radius
    EXPECT_EQ(v.Limit, 100);
    EXPECT_FALSE(v.LimitActive);
    EXPECT_EQ(v.Panels[kPanelLimit], "Not limiting");
    for (int i = 0; i < 400; ++i) v.ChangeSize(false, true, -1);
    EXPECT_EQ(v.Limit, 1);
    EXPECT_TRUE(v.LimitActive);
}

TEST(ViewSteps, NotchFollowsMagnifiedPixel) {
    // A small photograph in a large view: one bitmap pixel spans many view pixels.
    ViewState v = Fitted(100, 100, 400, 400, 4);  // MagnifierScale 0.0625
    v.ChangeSize(false, false, -1);
    EXPECT_EQ(v.Radius, 84);  // 100 - ceil(1 / 0.0625)
    EXPECT_EQ(v.Limit, 84);
    EXPECT_EQ(v.Panels[kPanelRadius], "Radius : 84");
    v.ChangeSize(false, false, 100);
    EXPECT_EQ(v.Radius, 300);
}

TEST(ViewSteps, RadiusStepDownToLimitEndsLimiting) {
    ViewState v = Fitted(3000, 2000, 536, 486);
    v.SetStartValues();
    for (int i = 0; i < 3; ++i) v.ChangeSize(false, true, -1);
    ASSERT_EQ(v.Limit, 97);
    ASSERT_TRUE(v.LimitActive);
    v.ChangeSize(false, false, -1);
    v.ChangeSize(false, false, -1);
    EXPECT_TRUE(v.LimitActive);
    EXPECT_EQ(v.Limit, 97);
    v.ChangeSize(false, false, -1);  // radius 97 reaches the limit
    EXPECT_EQ(v.Radius, 97);
    EXPECT_FALSE(v.LimitActive);
    EXPECT_EQ(v.Limit, 97);
    EXPECT_EQ(v.Panels[kPanelLimit], "Not limiting");
    v.ChangeSize(false, false, 2);  // the limit follows the radius again
    EXPECT_EQ(v.Limit, 99);
}

TEST(ViewSteps, LessThanANotchChangesNothing) {
    ViewState v = Fitted(3000, 2000, 536, 486);
    v.SetStartValues();
    const ViewState before = v;
    for (bool ctrl : {false, true})
        for (bool shift : {false, true}) v.ChangeSize(ctrl, shift, 0);
    EXPECT_EQ(v.Radius, before.Radius);
    EXPECT_EQ(v.Limit, before.Limit);
    EXPECT_EQ(v.Magnification, before.Magnification);
    EXPECT_EQ(v.Panels, before.Panels);
}

TEST(ViewCross, PulledOntoLimitCircle) {
    ViewState v;
    v.Limit = 50;
    v.CrossX = 0;
    v.CrossY = 300;
    v.PullCrossOntoLimit();
    // Straight down: cos(1.5707964) is a hair below 0 and its sine a hair
    // below 1, so the offset lands one short of Limit - 1.
    EXPECT_EQ(v.CrossX, 0);
    EXPECT_EQ(v.CrossY, 48);
    v.CrossX = 0;
    v.CrossY = -300;
    v.PullCrossOntoLimit();
    EXPECT_EQ(v.CrossX, 0);
    EXPECT_EQ(v.CrossY, -48);
    v.CrossX = -100;
    v.CrossY = 100;
    v.PullCrossOntoLimit();
    EXPECT_EQ(v.CrossX, -34);  // 49 * cos(single(pi/4)) = 34.6
    EXPECT_EQ(v.CrossY, 34);
    v.CrossX = 30;
    v.CrossY = 30;  // inside: untouched
    v.PullCrossOntoLimit();
    EXPECT_EQ(v.CrossX, 30);
    EXPECT_EQ(v.CrossY, 30);
}

TEST(ViewCross, PullKeepsDirectionAllRound) {
    ViewState v;
    for (int limit : {1, 2, 10, 100, 300}) {
        for (int deg = 0; deg < 360; deg += 7) {
            const double a = deg * M_PI / 180;
            v.Limit = limit;
            v.CrossX = static_cast<int>(std::lround(1000 * std::cos(a)));
            v.CrossY = static_cast<int>(std::lround(1000 * std::sin(a)));
            const int x0 = v.CrossX, y0 = v.CrossY;
            v.PullCrossOntoLimit();
            SCOPED_TRACE(testing::Message() << "limit " << limit << " angle " << deg);
            const int r = limit - 1;
            EXPECT_LE(v.CrossX * v.CrossX + v.CrossY * v.CrossY, r * r);
            EXPECT_GE(std::hypot(v.CrossX, v.CrossY), r - 1.5);
            EXPECT_TRUE(v.CrossX == 0 || (v.CrossX > 0) == (x0 > 0));
            EXPECT_TRUE(v.CrossY == 0 || (v.CrossY > 0) == (y0 > 0));
        }
    }
}

TEST(ViewMove, MagnifierOffFollowsPointer) {
    ViewState v = Fitted(3000, 2000, 536, 486);
    EXPECT_FALSE(v.ApplyMove(101, 77, 0, 0));
    EXPECT_EQ(v.ViewX, 101);
    EXPECT_EQ(v.CentreX, 565);
    EXPECT_EQ(v.CentreY, 430);
    EXPECT_EQ(v.MoveDivisor, 20);  // odd remainders count only with the magnifier on
}

TEST(ViewMove, DivisorShrinksOnOddRemaindersOnly) {
    ViewState v = Fitted(3000, 2000, 536, 486);
    v.MagnifierOn = true;
    v.ViewX = 200;
    v.ViewY = 200;
    v.CentreX = 1119;
    v.CentreY = 1119;
    v.ApplyMove(240, 200, 200, 200);  // remainder 0
    EXPECT_EQ(v.MoveDivisor, 20);
    v.ApplyMove(v.ViewX + 46, v.ViewY, v.ViewX, v.ViewY);  // remainder 6: even
    EXPECT_EQ(v.MoveDivisor, 20);
    v.ApplyMove(v.ViewX - 7, v.ViewY, v.ViewX, v.ViewY);  // remainder -7
    EXPECT_EQ(v.MoveDivisor, 7);
    v.ApplyMove(v.ViewX + 9, v.ViewY, v.ViewX, v.ViewY);  // 9 rem 7 = 2
    EXPECT_EQ(v.MoveDivisor, 7);
    v.ApplyMove(v.ViewX + 1, v.ViewY, v.ViewX, v.ViewY);
    EXPECT_EQ(v.MoveDivisor, 1);
    v.ApplyMove(v.ViewX + 21, v.ViewY, v.ViewX, v.ViewY);
    EXPECT_EQ(v.MoveDivisor, 1);  // never grows
}

TEST(ViewMove, MagnifierMovesByHalfTheSteps) {
    ViewState v = Fitted(3000, 2000, 536, 486);
    v.MagnifierOn = true;
    v.MoveDivisor = 1;
    v.ScreenDX = 10;
    v.ScreenDY = 20;
    v.CentreX = 1000;
    v.CentreY = 1000;
    v.ClampCentre();
    const int vx = v.ViewX, vy = v.ViewY;
    EXPECT_TRUE(v.ApplyMove(vx + 9, vy - 5, vx, vy));
    EXPECT_EQ(v.CentreX, 1004);
    EXPECT_EQ(v.CentreY, 998);  // half(-5) = -2
    EXPECT_EQ(v.CursorHomeX, v.ViewX + 10);
    EXPECT_EQ(v.CursorHomeY, v.ViewY + 20);
    EXPECT_TRUE(v.ApplyMove(v.ViewX + 1, v.ViewY, v.ViewX, v.ViewY));
    EXPECT_EQ(v.CentreX, 1004);  // a single pixel is half of nothing
}

TEST(ViewMove, HeldCrossFollowsDragWithinLimit) {
    ViewState v = Fitted(3000, 2000, 536, 486);  // MagnifierScale 1.1194
    v.MagnifierOn = true;
    v.CrossHeld = true;
    v.MoveDivisor = 1;
    v.ViewX = 200;
    v.ViewY = 200;
    EXPECT_FALSE(v.ApplyMove(220, 189, 200, 200));
    EXPECT_EQ(v.CrossX, 8);   // trunc(10 / 1.1194)
    EXPECT_EQ(v.CrossY, -4);  // trunc(-5 / 1.1194)
    EXPECT_EQ(v.ViewX, 200);  // the magnifier stays
    v.ApplyMove(200, 200 + 1000, 200, 200);
    EXPECT_EQ(v.CrossX, 0);
    EXPECT_EQ(v.CrossY, 98);
}

TEST(ViewClick, CarriesAimAndLimit) {
    ViewState v = Fitted(3000, 2000, 536, 486);
    v.CentreX = 500;
    v.CentreY = 400;
    v.CrossX = 10;
    v.Limit = 40;
    v.LimitActive = true;
    const ClickRequest c = v.Click(true);
    EXPECT_EQ(c.x, 511);
    EXPECT_EQ(c.y, 400);
    EXPECT_TRUE(c.shift);
    EXPECT_TRUE(c.limitActive);
    EXPECT_EQ(c.crossX, v.CrossX);
    EXPECT_FLOAT_EQ(c.magnifierScale, v.MagnifierScale);
}

TEST(ViewReadout, RatiosAndLevels) {
    EXPECT_EQ(FormatRatio(250.0f), "250");
    EXPECT_EQ(FormatRatio(100.0f), "100");
    EXPECT_EQ(FormatRatio(2.5f), "2.50");
    EXPECT_EQ(FormatRatio(0.125f), "0.13");  // halves away from zero
    EXPECT_EQ(FormatRatio(99.996f), "100.00");
    EXPECT_EQ(FormatRatio(200.0f / 3.0f), "66.67");
    EXPECT_EQ(FormatRatio(0.0f), "0.00");
    EXPECT_EQ(PositionText(12, 345), " x : 12   y : 345");

    PixelReadout r;
    r.Show(250, 1, 2);
    EXPECT_EQ(r.LR, "250");
    EXPECT_EQ(r.LRG, "250");
    EXPECT_EQ(r.LRB, "125");
    r.Show(200, 0, 160);  // green 0: its ratio keeps the old text
    EXPECT_EQ(r.LG, "0");
    EXPECT_EQ(r.LRG, "250");
    EXPECT_EQ(r.LRB, "1.25");
    r.Show(0, 7, 0);
    EXPECT_EQ(r.LRG, "0.00");
    EXPECT_EQ(r.LRB, "1.25");
}

}  // namespace
}  // namespace scarlex
