#include <gtest/gtest.h>

#include <string>

#include "view/ViewRenderer.h"

namespace scarlex {
namespace {

// A picture where every pixel tells where it came from.
Bitmap Coded(int w, int h) {
    Bitmap b(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = b.Pixel(x, y);
            p[0] = static_cast<uint8_t>(x * 7 + 1);
            p[1] = static_cast<uint8_t>(y * 5 + 1);
            p[2] = static_cast<uint8_t>((x + y) | 1);
        }
    return b;
}

uint32_t ColourAt(const Bitmap& b, int x, int y) {
    const uint8_t* p = b.Pixel(x, y);
    return static_cast<uint32_t>(p[0]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[2];
}

std::string FirstDifference(const Bitmap& a, const Bitmap& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height()) return "sizes differ";
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x)
            if (ColourAt(a, x, y) != ColourAt(b, x, y))
                return "(" + std::to_string(x) + "," + std::to_string(y) + ")";
    return "";
}

struct Scene {
    Bitmap work;
    ViewState view;
    ViewRenderer renderer;

    Scene(int w, int h, int vw, int vh) : work(Coded(w, h)) {
        view.SetMagnification(5);
        view.Fit(w, h, vw, vh);
        renderer.RenderDisplay(work, view);
        renderer.BuildLens(view);
        view.MagnifierOn = true;
    }
    void AimAt(int vx, int vy) {
        view.ViewX = vx;
        view.ViewY = vy;
        view.CentreFromView();
    }
};

TEST(ViewRender, DisplayShowsThePixelTheMouseMapsTo) {
    Scene s(3000, 2000, 536, 486);
    const Bitmap& d = s.renderer.Display();
    ASSERT_EQ(d.Width(), 536);
    ASSERT_EQ(d.Height(), 357);
    for (int y = 0; y < d.Height(); y += 13)
        for (int x = 0; x < d.Width(); x += 11) {
            s.view.ViewX = x;
            s.view.ViewY = y;
            s.view.CentreFromView();
            ASSERT_EQ(ColourAt(d, x, y), ColourAt(s.work, s.view.CentreX, s.view.CentreY)) << x << "," << y;
        }
}

TEST(ViewRender, EnlargesSmallPhotographs) {
    Scene s(10, 5, 400, 400);
    const Bitmap& d = s.renderer.Display();
    // The single-precision scale 0.025 lies a hair above 1/40: 399 x 199.
    ASSERT_EQ(d.Width(), 399);
    ASSERT_EQ(d.Height(), 199);
    EXPECT_EQ(ColourAt(d, 39, 39), ColourAt(s.work, 0, 0));
    EXPECT_EQ(ColourAt(d, 40, 40), ColourAt(s.work, 1, 1));
    EXPECT_EQ(ColourAt(d, 398, 198), ColourAt(s.work, 9, 4));
}

TEST(ViewRender, LensMaskAndRings) {
    Scene s(3000, 2000, 536, 486);
    const Bitmap& mask = s.renderer.LensMask();
    const Bitmap& rings = s.renderer.LensRings();
    ASSERT_EQ(mask.Width(), 208);
    EXPECT_EQ(ColourAt(mask, 104, 104), 0xFFFFFFu);
    EXPECT_EQ(ColourAt(mask, 3, 104), 0u);
    EXPECT_EQ(ColourAt(mask, 4, 103), 0xFFFFFFu);
    EXPECT_EQ(ColourAt(mask, 10, 10), 0u);
    EXPECT_EQ(ColourAt(rings, 4, 103), kDefaultBorderColour);
    EXPECT_EQ(ColourAt(rings, 203, 104), kDefaultBorderColour);
    EXPECT_EQ(ColourAt(rings, 104, 104), 0u);

    // The limit ring appears only while limiting.
    s.view.Limit = 50;
    s.view.LimitActive = true;
    s.renderer.BuildLens(s.view);
    EXPECT_EQ(ColourAt(s.renderer.LensRings(), 104 - 52, 104), kDefaultLimitColour);
    s.view.LimitActive = false;
    s.renderer.BuildLens(s.view);
    EXPECT_EQ(ColourAt(s.renderer.LensRings(), 104 - 52, 104), 0u);
}

TEST(ViewRender, MagnifierShowsMagnifiedPixelsAndInvertingCross) {
    Scene s(3000, 2000, 536, 486);
    s.AimAt(250, 150);
    s.renderer.DrawLens(s.work, s.view);
    const Bitmap& c = s.renderer.Composed();
    const LensPlacement p = s.view.Placement();
    const LensGeometry g = s.view.Lens();
    // The crosshair's centre is inverted twice, so it shows the pixel under the aim.
    EXPECT_EQ(ColourAt(c, 250, 150), ColourAt(s.work, s.view.CentreX, s.view.CentreY));
    // Along its arms every pixel is the inverse of the magnified one.
    for (int k : {-10, -3, 9}) {
        SCOPED_TRACE(k);
        const int i = 250 + k - p.lensLeft, j = 150 - p.lensTop;
        const uint32_t magnified =
            ColourAt(s.work, p.sourceLeft + i * g.N / g.S, p.sourceTop + j * g.N / g.S);
        EXPECT_EQ(ColourAt(c, 250 + k, 150), ~magnified & 0xFFFFFFu);
    }
    EXPECT_EQ(ColourAt(c, 250 + 10, 150), ColourAt(s.work, p.sourceLeft + (260 - p.lensLeft) * g.N / g.S,
                                                  p.sourceTop + (150 - p.lensTop) * g.N / g.S));
    // Outside the lens the display shows through.
    EXPECT_EQ(ColourAt(c, 5, 5), ColourAt(s.renderer.Display(), 5, 5));
    EXPECT_EQ(ColourAt(c, p.lensLeft + 4, p.lensTop + g.S / 2 - 1), kDefaultBorderColour);
}

TEST(ViewRender, BlackPixelsShowTheDiscAndBlackRingsVanish) {
    Scene s(600, 400, 600, 400);
    // A black square where the lens looks, and a black border ring.
    for (int y = 190; y < 210; ++y)
        for (int x = 290; x < 310; ++x) s.work.Pixel(x, y)[0] = s.work.Pixel(x, y)[1] = s.work.Pixel(x, y)[2] = 0;
    s.renderer.RenderDisplay(s.work, s.view);
    s.renderer.MagnifierBorderColour = 0;
    s.renderer.BuildLens(s.view);
    s.AimAt(300, 200);
    s.renderer.DrawLens(s.work, s.view);
    const Bitmap& c = s.renderer.Composed();
    EXPECT_EQ(ColourAt(c, 310, 210), 0u);  // magnified black over the black disc
    const LensPlacement p = s.view.Placement();
    const int ringX = p.lensLeft + 4, ringY = p.lensTop + s.view.Lens().S / 2;
    EXPECT_NE(ColourAt(c, ringX, ringY), 0u);  // the content shows where the ring would be
}

TEST(ViewRender, LensNearTheEdgesReadsBlackOutsideThePhotograph) {
    Scene s(300, 200, 300, 200);  // one bitmap pixel per view pixel
    // Centres on and beyond every edge: nothing is read outside the bitmap.
    for (int cx : {-400, -40, 0, 150, 299, 300, 700})
        for (int cy : {-300, -60, 0, 100, 199, 200, 500}) {
            s.view.CentreX = s.view.ViewX = cx;
            s.view.CentreY = s.view.ViewY = cy;
            s.renderer.DrawLens(s.work, s.view);
        }
    // Held at the far corner, the magnified pixels beyond it read black.
    s.view.CentreX = s.view.ViewX = 300;
    s.view.CentreY = s.view.ViewY = 200;
    s.renderer.DrawLens(s.work, s.view);
    EXPECT_EQ(ColourAt(s.renderer.Composed(), 299, 199), 0u);
    // Left of the photograph likewise.
    s.view.CentreX = s.view.ViewX = -10;
    s.view.CentreY = s.view.ViewY = 100;
    s.renderer.DrawLens(s.work, s.view);
    EXPECT_EQ(ColourAt(s.renderer.Composed(), 0, 100), 0u);
    EXPECT_EQ(ColourAt(s.renderer.Composed(), 150, 100), ColourAt(s.renderer.Display(), 150, 100));

    uint8_t r = 1, g = 1, b = 1;
    ReadPixel(s.work, -1, 5, r, g, b);
    EXPECT_EQ(r + g + b, 0);
    ReadPixel(s.work, 300, 5, r, g, b);
    EXPECT_EQ(r + g + b, 0);
}

TEST(ViewRender, MovingTheLensLeavesNoTrace) {
    // Composing at a sequence of places must equal composing once, fresh.
    Scene moving(1200, 800, 500, 400);
    const int path[][2] = {{100, 100}, {104, 102}, {400, 300}, {0, 0}, {499, 10}, {250, 333}, {251, 333}};
    for (const auto& at : path) {
        moving.AimAt(at[0], at[1]);
        moving.view.CrossX = at[0] % 9 - 4;
        const ViewRect changed = moving.renderer.DrawLens(moving.work, moving.view);
        Scene fresh(1200, 800, 500, 400);
        fresh.view = moving.view;
        fresh.renderer.DrawLens(fresh.work, fresh.view);
        SCOPED_TRACE(testing::Message() << at[0] << "," << at[1]);
        EXPECT_EQ(FirstDifference(moving.renderer.Composed(), fresh.renderer.Composed()), "");
        EXPECT_FALSE(changed.Empty());
    }
    moving.renderer.ClearLens();
    EXPECT_EQ(FirstDifference(moving.renderer.Composed(), moving.renderer.Display()), "");
}

TEST(ViewRender, EllipseFillAndFrame) {
    Bitmap b(20, 20);
    FillEllipse(b, 2, 2, 12, 12, 0xFFFFFF);
    int filled = 0;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x)
            if (ColourAt(b, x, y)) {
                ++filled;
                EXPECT_TRUE(x >= 2 && x < 12 && y >= 2 && y < 12);
            }
    EXPECT_GT(filled, 60);   // close to pi * 25
    EXPECT_LT(filled, 100);
    Bitmap f(20, 20);
    FrameEllipse(f, 2, 2, 12, 12, 0x0000FF);
    EXPECT_EQ(ColourAt(f, 7, 7), 0u);
    EXPECT_EQ(ColourAt(f, 2, 7), 0x0000FFu);
    EXPECT_EQ(ColourAt(f, 11, 6), 0x0000FFu);
    // Clipped boxes and empty boxes are harmless.
    FillEllipse(b, -30, -30, 50, 50, 0x123456);
    FillEllipse(b, 5, 5, 5, 9, 0);
    EXPECT_EQ(ColourAt(b, 0, 0), 0x123456u);
    EXPECT_EQ(ColourAt(b, 10, 10), 0x123456u);
}

}  // namespace
}  // namespace scarlex
