#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "codec/JpegCodec.h"
#include "detect/Detector.h"
#include "common/Orientation.h"
#include "editing/FittedRemoval.h"
#include "support/FaceScene.h"
#include "support/TestSupport.h"

using namespace scarlex;
using namespace scarlex::test;

namespace {

// The scene as a camera would store it: through a JPEG at an everyday
// quality with 4:2:0 chroma, so that the red bleeds as it does in photographs.
Bitmap ThroughJpeg(const Bitmap& b, int quality = 88) {
    TempDir dir;
    TestJpegOptions o;
    o.quality = quality;
    WriteTestJpeg(dir / "scene.jpg", b, o);
    Bitmap out;
    Sampling s;
    EXPECT_TRUE(DecodeJpegToBitmap(dir / "scene.jpg", out, s).ok);
    return out;
}

const RedPupilDetector& Detector() {
    static const RedPupilDetector detector;
    return detector;
}

// Every drawn pupil suggested near its centre and size, and nothing else.
void ExpectExactly(const std::vector<SuggestedPupil>& found, const std::vector<DrawnPupil>& drawn) {
    std::vector<bool> matched(drawn.size(), false);
    for (const SuggestedPupil& p : found) {
        bool hit = false;
        for (std::size_t k = 0; k < drawn.size(); ++k) {
            const DrawnPupil& d = drawn[k];
            if (std::hypot(p.x - d.x, p.y - d.y) > std::max(1.5, 0.25 * d.radius)) continue;
            EXPECT_NEAR(p.radius, d.radius, std::max(1.0, 0.35 * d.radius)) << "pupil at " << d.x << "," << d.y;
            EXPECT_GE(p.score, kDefaultMinScore);
            EXPECT_LE(p.score, 1.0);
            matched[k] = hit = true;
        }
        EXPECT_TRUE(hit) << "false suggestion at " << p.x << "," << p.y << " r " << p.radius << " score " << p.score;
    }
    for (std::size_t k = 0; k < drawn.size(); ++k)
        EXPECT_TRUE(matched[k]) << "missed the pupil at " << drawn[k].x << "," << drawn[k].y << " r " << drawn[k].radius;
    for (std::size_t k = 1; k < found.size(); ++k) EXPECT_GE(found[k - 1].score, found[k].score) << "not best first";
}

TEST(Detector, FindsPupilsFromThreeToSixtyPixels) {
    for (double r : {3.0, 5.0, 9.0, 16.0, 30.0, 60.0}) {
        SCOPED_TRACE("pupil radius " + std::to_string(r));
        SceneLayout layout;
        // Large pupils come from close-ups: the face is larger than the frame.
        layout.width = static_cast<int>(std::max(640.0, 40 * r));
        layout.height = static_cast<int>(std::max(480.0, 26 * r));
        layout.seed = static_cast<uint32_t>(r * 10);
        DrawnFace face;
        face.x = layout.width / 2.0;
        face.y = layout.height * (r > 20 ? 0.5 : 0.35);
        face.pupilRadius = r;
        face.tilt = r < 10 ? 12 : -8;
        layout.faces = {face};
        std::vector<DrawnPupil> pupils;
        const Bitmap photo = ThroughJpeg(DrawScene(layout, &pupils));
        ExpectExactly(Detector().Detect(photo), pupils);
    }
}

TEST(Detector, SeveralFacesAndFacesCutByTheEdges) {
    SceneLayout layout;
    layout.width = 1400;
    layout.height = 700;
    layout.seed = 7;
    DrawnFace a, b, c;
    a.x = 18;  // only its right eye is in the picture
    a.y = 300;
    a.pupilRadius = 5;
    b.x = 700;
    b.y = 350;
    b.pupilRadius = 7;
    b.tilt = 20;
    c.x = 1330;
    c.y = 660;  // its mouth and chin are below the edge
    c.pupilRadius = 4;
    c.tilt = -15;
    layout.faces = {a, b, c};
    std::vector<DrawnPupil> pupils, inside;
    const Bitmap photo = ThroughJpeg(DrawScene(layout, &pupils));
    for (const DrawnPupil& p : pupils)
        if (p.x - p.radius >= 0 && p.x + p.radius < layout.width && p.y + p.radius < layout.height) inside.push_back(p);
    ASSERT_EQ(inside.size(), 5u);
    ExpectExactly(Detector().Detect(photo), inside);
}

TEST(Detector, RedThingsThatAreNotEyesAreNotSuggested) {
    // Red lips, clothing with red buttons, red hair and red patches around
    // faces whose eyes are not red; and a picture without any face.
    for (int variant = 0; variant < 3; ++variant) {
        SCOPED_TRACE("variant " + std::to_string(variant));
        SceneLayout layout;
        layout.width = 1000;
        layout.height = 750;
        layout.seed = 40 + variant;
        layout.redClothing = variant != 1;
        layout.redHair = variant != 0;
        layout.redObjects = true;
        if (variant < 2) {
            for (int k = 0; k < 2; ++k) {
                DrawnFace f;
                f.x = 280 + 440 * k;
                f.y = 260;
                f.pupilRadius = 5 + 3 * k;
                f.redLeft = f.redRight = false;
                layout.faces.push_back(f);
            }
        }
        const Bitmap photo = ThroughJpeg(DrawScene(layout));
        const std::vector<SuggestedPupil> found = Detector().Detect(photo);
        for (const SuggestedPupil& p : found)
            ADD_FAILURE() << "suggested " << p.x << "," << p.y << " r " << p.radius << " score " << p.score;
    }
    // Nothing at all, and pictures too small to hold an eye.
    EXPECT_TRUE(Detector().Detect(Bitmap(320, 240)).empty());
    EXPECT_TRUE(Detector().Detect(Bitmap(3, 2)).empty());
    EXPECT_TRUE(Detector().Detect(Bitmap(20000, 9)).empty());
    EXPECT_TRUE(Detector().Detect(Bitmap()).empty());
}

TEST(Detector, HardScenes) {
    // Red print beside the faces: red letters on a light card (round ones
    // as large as the pupils) and white letters on a red label.
    {
        SCOPED_TRACE("red print beside the faces");
        SceneLayout layout;
        layout.width = 1200;
        layout.height = 700;
        layout.seed = 61;
        layout.redLabels = true;
        for (int k = 0; k < 2; ++k) {
            DrawnFace f;
            f.x = 330 + 540 * k;
            f.y = 250;
            f.pupilRadius = 4 + 2 * k;
            layout.faces.push_back(f);
        }
        std::vector<DrawnPupil> pupils;
        const Bitmap photo = ThroughJpeg(DrawScene(layout, &pupils), 80);
        ExpectExactly(Detector().Detect(photo), pupils);
    }
    // Small faces in a group photograph, saved at an everyday quality.
    for (double r : {3.0, 3.5}) {
        SCOPED_TRACE("small faces, pupil radius " + std::to_string(r));
        SceneLayout layout;
        layout.width = 900;
        layout.height = 500;
        layout.seed = static_cast<uint32_t>(70 + 2 * r);
        layout.redClothing = true;
        for (int k = 0; k < 3; ++k) {
            DrawnFace f;
            f.x = 150 + 300 * k;
            f.y = 180 + 20 * k;
            f.pupilRadius = r;
            f.tilt = -10 + 10 * k;
            layout.faces.push_back(f);
        }
        std::vector<DrawnPupil> pupils;
        const Bitmap photo = ThroughJpeg(DrawScene(layout, &pupils), 75);
        ExpectExactly(Detector().Detect(photo), pupils);
    }
    // A head leaning well over, and catch-lights on the pupils' rims, which
    // cut into the red.
    {
        SCOPED_TRACE("leaning head, catch-lights on the rims");
        SceneLayout layout;
        layout.seed = 83;
        DrawnFace f;
        f.x = 400;
        f.y = 260;
        f.pupilRadius = 6;
        f.tilt = 28;
        f.catchLightAt = 0.6;
        layout.faces = {f};
        std::vector<DrawnPupil> pupils;
        const Bitmap photo = ThroughJpeg(DrawScene(layout, &pupils));
        ExpectExactly(Detector().Detect(photo), pupils);
    }
    // Red hair around flushed faces: the hair and the skin inside it make
    // red areas far larger than the pupils, which must not swallow them.
    {
        SCOPED_TRACE("red areas around the eyes");
        SceneLayout layout;
        layout.width = 2000;
        layout.height = 1650;
        layout.seed = 7039;
        layout.redHair = true;
        layout.redObjects = true;
        layout.noise = 7.7;
        struct Face {
            double x, y, r, tilt;
            bool catchLight;
            Colour skin;
        };
        for (const Face& g : {Face{311, 586, 4.8, -21, false, {137, 104, 79}}, Face{1067, 689, 4.4, 17, false, {234, 163, 134}},
                              Face{1605, 808, 4.8, -22, true, {199, 126, 117}}}) {
            DrawnFace f;
            f.x = g.x;
            f.y = g.y;
            f.pupilRadius = g.r;
            f.tilt = g.tilt;
            f.catchLight = g.catchLight;
            f.skin = g.skin;
            layout.faces.push_back(f);
        }
        std::vector<DrawnPupil> pupils;
        const Bitmap photo = ThroughJpeg(DrawScene(layout, &pupils), 95);
        ExpectExactly(Detector().Detect(photo), pupils);
    }
}

TEST(Orientation, MapsEveryTagBothWays) {
    for (int tag = 0; tag <= 9; ++tag) {
        SCOPED_TRACE(tag);
        const Orientation o(tag, 40, 30);
        EXPECT_EQ(o.UprightWidth(), tag >= 5 && tag <= 8 ? 30 : 40);
        // The stored corners land on the upright corners, and back.
        for (auto [x, y] : {std::pair{0, 0}, {39, 0}, {0, 29}, {39, 29}, {17, 11}}) {
            double ux = 0, uy = 0, sx = 0, sy = 0;
            o.ToUpright(x, y, ux, uy);
            EXPECT_GE(ux, 0);
            EXPECT_LT(ux, o.UprightWidth());
            EXPECT_GE(uy, 0);
            EXPECT_LT(uy, o.UprightHeight());
            o.ToStored(ux, uy, sx, sy);
            EXPECT_EQ(sx, x);
            EXPECT_EQ(sy, y);
            // A step in stored pixels points where the mapped points do.
            double ux2 = 0, uy2 = 0, dx = 0, dy = 0;
            o.ToUpright(x + 1, y, ux2, uy2);
            o.DirectionToUpright(1, 0, dx, dy);
            EXPECT_EQ(ux2 - ux, dx);
            EXPECT_EQ(uy2 - uy, dy);
        }
    }
    // Tag 6: the top row of the stored pixels is the right-hand column upright.
    double ux = 0, uy = 0;
    Orientation(6, 40, 30).ToUpright(0, 0, ux, uy);
    EXPECT_EQ(ux, 29);
    EXPECT_EQ(uy, 0);
}

TEST(Detector, FindsFacesInPhotographsStoredSideways) {
    SceneLayout layout;
    layout.width = 900;
    layout.height = 700;
    layout.seed = 12;
    DrawnFace f;
    f.x = 450;
    f.y = 260;
    f.pupilRadius = 6;
    layout.faces = {f};
    std::vector<DrawnPupil> upright;
    const Bitmap scene = DrawScene(layout, &upright);
    for (int tag : {3, 6, 8}) {
        SCOPED_TRACE("orientation " + std::to_string(tag));
        // The stored pixels of a camera that was held this way.
        const bool swaps = tag >= 5;
        Bitmap stored(swaps ? layout.height : layout.width, swaps ? layout.width : layout.height);
        const Orientation o(tag, stored.Width(), stored.Height());
        for (int y = 0; y < stored.Height(); ++y)
            for (int x = 0; x < stored.Width(); ++x) {
                double ux = 0, uy = 0;
                o.ToUpright(x, y, ux, uy);
                const uint8_t* p = scene.Pixel(static_cast<int>(ux), static_cast<int>(uy));
                std::copy(p, p + 3, stored.Pixel(x, y));
            }
        std::vector<DrawnPupil> pupils;
        for (const DrawnPupil& p : upright) {
            double x = 0, y = 0;
            o.ToStored(p.x, p.y, x, y);
            pupils.push_back({x, y, p.radius});
        }
        const Bitmap photo = ThroughJpeg(stored);
        ExpectExactly(Detector().Detect(photo, tag), pupils);
        // The same pixels with the tag lost, as after an editor that drops
        // the metadata: the face lies on its side and is found all the same.
        if (swaps) {
            SCOPED_TRACE("tag lost");
            ExpectExactly(Detector().Detect(photo, 1), pupils);
        }
    }
}

// --- The real red-eye photographs, when the shared folder is there ---

struct RealPupil {
    const char* file;
    double x, y, radius;
};
// The centres and radii the shared folder's README lists.
const RealPupil kRealPupils[] = {
    {"redeye_canon_sd100.jpg", 640, 425, 6},       {"redeye_canon_sd100.jpg", 747, 386, 5},
    {"redeye_canon_sd100.jpg", 591, 653, 7},       {"redeye_canon_sd100.jpg", 677, 623, 6},
    {"redeye_redhair_portrait.jpg", 249, 90, 5},   {"redeye_redhair_portrait.jpg", 376, 94, 5},
    {"redeye_child_closeup.jpg", 535, 646, 49},    {"redeye_child_closeup.jpg", 1439, 645, 51},
};
const char* const kRealFiles[] = {"redeye_canon_sd100.jpg", "redeye_redhair_portrait.jpg",
                                  "redeye_child_closeup.jpg"};

bool CheckRed(const uint8_t* p) { return p[2] > 60 && p[2] > 1.5 * p[1] && p[2] > 1.3 * p[0]; }

// Writes the pupil before and after side by side, enlarged, as PPM.
void WriteEnlargement(const std::string& path, const Bitmap& before, const Bitmap& after, const RealPupil& p) {
    const int half = static_cast<int>(2.5 * p.radius + 6), scale = p.radius > 20 ? 2 : 8;
    const int side = (2 * half + 1) * scale;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    std::fprintf(f, "P6\n%d %d\n255\n", 2 * side + 4, side);
    for (int y = 0; y < side; ++y)
        for (int panel = 0; panel < 2; ++panel) {
            for (int x = 0; x < side; ++x) {
                const int sx = static_cast<int>(p.x) - half + x / scale, sy = static_cast<int>(p.y) - half + y / scale;
                const Bitmap& b = panel == 0 ? before : after;
                uint8_t rgb[3] = {0, 0, 0};
                if (b.Contains(sx, sy)) {
                    const uint8_t* q = b.Pixel(sx, sy);
                    rgb[0] = q[2];
                    rgb[1] = q[1];
                    rgb[2] = q[0];
                }
                std::fwrite(rgb, 1, 3, f);
            }
            if (panel == 0) {
                const uint8_t gap[12] = {};
                std::fwrite(gap, 1, sizeof gap, f);
            }
        }
    std::fclose(f);
}

TEST(DetectorRealPhotographs, SuggestsTheRedPupilsAndLittleElse) {
    SCARLEX_TESTDATA_OR_SKIP(first, kRealFiles[0]);
    int found = 0, falseOnes = 0, pupils = 0;
    for (const char* name : kRealFiles) {
        SCARLEX_TESTDATA_OR_SKIP(path, name);
        Bitmap photo;
        Sampling s;
        ASSERT_TRUE(DecodeJpegToBitmap(path, photo, s).ok);
        const std::vector<SuggestedPupil> suggested = Detector().Detect(photo);
        std::vector<bool> matched(suggested.size(), false);
        for (const RealPupil& p : kRealPupils) {
            if (std::string(p.file) != name) continue;
            ++pupils;
            for (std::size_t k = 0; k < suggested.size(); ++k)
                if (!matched[k] && std::hypot(suggested[k].x - p.x, suggested[k].y - p.y) <= std::max(3.0, p.radius)) {
                    matched[k] = true;
                    ++found;
                    break;
                }
        }
        for (std::size_t k = 0; k < suggested.size(); ++k)
            if (!matched[k]) {
                ++falseOnes;
                std::printf("  false suggestion in %s at %.0f,%.0f r %.1f score %.2f\n", name, suggested[k].x,
                            suggested[k].y, suggested[k].radius, suggested[k].score);
            }
    }
    std::printf("  real photographs: %d of %d pupils suggested, %d false suggestions\n", found, pupils, falseOnes);
    EXPECT_GE(found * 10, pupils * 9);
    EXPECT_LE(falseOnes * 2, 3);  // at most half a false suggestion per photograph
}

TEST(DetectorRealPhotographs, FixingTheSuggestionsClearsTheirRedAndStaysNearThem) {
    SCARLEX_TESTDATA_OR_SKIP(first, kRealFiles[0]);
    const std::string artefacts = SCARLEX_ARTEFACT_DIR;
    std::filesystem::create_directories(artefacts);
    const Thresholds t = ConvertThresholds(DefaultEditSettings("."), ".").thresholds;
    for (const char* name : kRealFiles) {
        SCARLEX_TESTDATA_OR_SKIP(path, name);
        Bitmap before;
        Sampling s;
        ASSERT_TRUE(DecodeJpegToBitmap(path, before, s).ok);
        Bitmap after = before;
        DBUndoTable undo;
        for (const SuggestedPupil& p : Detector().Detect(before)) FixPupilAt(after, undo, t, p.x, p.y, p.radius);
        int index = 0;
        for (const RealPupil& p : kRealPupils) {
            if (std::string(p.file) != name) continue;
            SCOPED_TRACE(std::string(name) + " pupil " + std::to_string(index));
            int red = 0, cleared = 0;
            double farthest = 0;
            const int reach = static_cast<int>(4 * p.radius + 12);
            for (int y = static_cast<int>(p.y) - reach; y <= static_cast<int>(p.y) + reach; ++y)
                for (int x = static_cast<int>(p.x) - reach; x <= static_cast<int>(p.x) + reach; ++x) {
                    if (!before.Contains(x, y)) continue;
                    const double d = std::hypot(x - p.x, y - p.y);
                    if (!std::equal(before.Pixel(x, y), before.Pixel(x, y) + 3, after.Pixel(x, y)))
                        farthest = std::max(farthest, d);
                    if (d <= p.radius + 1 && CheckRed(before.Pixel(x, y))) {
                        ++red;
                        cleared += !CheckRed(after.Pixel(x, y));
                    }
                }
            std::printf("  %s pupil %d: %d of %d red pixels cleared, farthest change %.1f (limit %.1f)\n", name, index,
                        cleared, red, farthest, 2 * p.radius + 4);
            EXPECT_GE(cleared * 10, red * 9);
            EXPECT_LE(farthest, 2 * p.radius + 4);
            WriteEnlargement(artefacts + "/" + std::string(name).substr(0, std::string(name).size() - 4) + "_pupil" +
                                 std::to_string(index) + ".ppm",
                             before, after, p);
            ++index;
        }
    }
}

}  // namespace
