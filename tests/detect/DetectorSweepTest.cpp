// A sweep over random drawn scenes: faces of every size, tilt and skin at
// random places (the edges too), some eyes not red, red clothing, hair and
// patches around them. The share of pupils suggested and the false
// suggestions per scene, over the whole sweep.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>

#include "codec/JpegCodec.h"
#include "detect/Detector.h"
#include "support/FaceScene.h"
#include "support/TestSupport.h"

using namespace scarlex;
using namespace scarlex::test;

TEST(DetectorSweep, RandomScenes) {
    constexpr int kScenes = 120;
    const RedPupilDetector detector;
    TempDir dir;
    int pupils = 0, found = 0, falseOnes = 0;
    for (int k = 0; k < kScenes; ++k) {
        std::mt19937 rng(1000 + k);
        auto u = [&](double a, double b) { return std::uniform_real_distribution<double>(a, b)(rng); };
        SceneLayout layout;
        layout.seed = 1000 + k;
        layout.width = static_cast<int>(u(500, 1400));
        layout.height = static_cast<int>(u(400, 1100));
        layout.redClothing = u(0, 1) < 0.4;
        layout.redHair = u(0, 1) < 0.3;
        layout.redObjects = u(0, 1) < 0.3;
        layout.noise = u(2, 9);
        const int faces = static_cast<int>(u(0, 3.99));
        for (int i = 0; i < faces; ++i) {
            // One face to a column, so that no face covers another's eyes.
            DrawnFace f;
            const double column = static_cast<double>(layout.width) / faces;
            f.pupilRadius = std::exp(u(std::log(3.0), std::log(std::max(3.2, std::min(40.0, column / 48)))));
            f.x = column * i + u(0.25, 0.75) * column;
            f.y = u(0.1, 0.9) * layout.height;
            f.tilt = u(-30, 30);
            f.redLeft = u(0, 1) < 0.85;
            f.redRight = u(0, 1) < 0.85;
            f.catchLight = u(0, 1) < 0.8;
            f.skin = {u(120, 235), 0, 0};
            f.skin.g = f.skin.r * u(0.62, 0.82);
            f.skin.b = f.skin.g * u(0.75, 0.95);
            f.iris = {u(30, 120), u(40, 120), u(30, 140)};
            layout.faces.push_back(f);
        }
        std::vector<DrawnPupil> drawn;
        TestJpegOptions o;
        o.quality = static_cast<int>(u(75, 95));
        WriteTestJpeg(dir / "scene.jpg", DrawScene(layout, &drawn), o);
        Bitmap photo;
        Sampling s;
        ASSERT_TRUE(DecodeJpegToBitmap(dir / "scene.jpg", photo, s).ok);
        std::vector<bool> hit(drawn.size(), false);
        for (const SuggestedPupil& p : detector.Detect(photo)) {
            bool matched = false;
            for (std::size_t q = 0; q < drawn.size() && !matched; ++q)
                if (!hit[q] && std::hypot(p.x - drawn[q].x, p.y - drawn[q].y) <= std::max(3.0, drawn[q].radius))
                    hit[q] = matched = true;
            falseOnes += !matched;
        }
        for (std::size_t q = 0; q < drawn.size(); ++q) {
            const DrawnPupil& d = drawn[q];
            if (d.x - d.radius < 0 || d.y - d.radius < 0 || d.x + d.radius >= layout.width ||
                d.y + d.radius >= layout.height)
                continue;  // cut by the edge
            ++pupils;
            found += hit[q];
        }
    }
    std::printf("  %d scenes: %d of %d pupils suggested, %d false suggestions\n", kScenes, found, pupils, falseOnes);
    EXPECT_GE(found * 100, pupils * 95);
    EXPECT_LE(falseOnes * 20, kScenes);  // at most one in twenty scenes
}
