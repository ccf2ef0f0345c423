#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "codec/JpegCodec.h"
#include "editing/EditScript.h"
#include "support/TestSupport.h"
#include "EditingTestUtil.h"

using namespace scarlex;
using namespace scarlex::test;

namespace {

std::vector<EditStep> Parse(const std::vector<std::string>& args) {
    std::vector<EditStep> steps;
    const std::string error = ParseEditScript(args, steps);
    EXPECT_EQ(error, "");
    return steps;
}

TEST(EditScript, ParsesEveryOption) {
    const auto steps = Parse({"--rg", "1.3", "--rb", "x", "--red", "40", "--attenuation", "25", "--no-force-grey",
                              "--force-grey", "--limit", "10,-2,7", "--click", "3,4", "--no-limit", "--circle",
                              "-5,6,9", "--undo"});
    ASSERT_EQ(steps.size(), 11u);
    EXPECT_EQ(steps[0].kind, EditStepKind::ThresholdRG);
    EXPECT_EQ(steps[0].text, "1.3");
    EXPECT_EQ(steps[1].text, "x");  // converted only when a removal starts
    EXPECT_EQ(steps[3].kind, EditStepKind::Attenuation);
    EXPECT_EQ(steps[3].value, 25);
    EXPECT_EQ(steps[4].value, 0);
    EXPECT_EQ(steps[5].value, 1);
    EXPECT_EQ(steps[6].kind, EditStepKind::Limit);
    EXPECT_EQ((std::vector<double>{double(steps[6].x), double(steps[6].y), steps[6].r}),
              (std::vector<double>{10, -2, 7}));
    EXPECT_EQ(steps[7].kind, EditStepKind::Click);
    EXPECT_EQ(steps[7].written, "--click 3,4");
    EXPECT_EQ(steps[9].kind, EditStepKind::Circle);
    EXPECT_EQ(steps[9].x, -5);
    EXPECT_EQ(steps[10].kind, EditStepKind::Undo);
}

TEST(EditScript, RefusesMalformedOptions) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--click"}, "--click needs a value (X,Y)"},
        {{"--click", "3"}, "--click: bad value '3' (expected X,Y)"},
        {{"--click", "3,4,5"}, "--click: bad value '3,4,5' (expected X,Y)"},
        {{"--click", "3, 4"}, "--click: bad value '3, 4' (expected X,Y)"},
        {{"--circle", "1,2,0"}, "--circle: the radius must be at least 1"},
        {{"--limit", "1,2,999999999999"}, "--limit: '1,2,999999999999' is out of range"},
        {{"--attenuation", "101"}, "--attenuation: 101 is not within 0 .. 100"},
        {{"--attenuation", "1.5"}, "--attenuation: bad value '1.5' (expected N)"},
        {{"--frobnicate"}, "unknown edit option '--frobnicate'"},
        {{"--click", "1,1", "extra"}, "unknown edit option 'extra'"},
    };
    for (const auto& [args, message] : cases) {
        SCOPED_TRACE(message);
        std::vector<EditStep> steps;
        EXPECT_EQ(ParseEditScript(args, steps), message);
    }
}

TEST(EditScript, FrontEndsCanMixInTheirOwnOptions) {
    const std::vector<std::string> args = {"--quality", "90", "--click", "1,2"};
    std::vector<EditStep> steps;
    std::string error;
    std::size_t i = 0;
    EXPECT_EQ(ParseEditOption(args, i, steps, error), EditOptionStatus::NotEditOption);
    EXPECT_EQ(i, 0u);
    i = 2;
    EXPECT_EQ(ParseEditOption(args, i, steps, error), EditOptionStatus::Parsed);
    EXPECT_EQ(i, 4u);
    ASSERT_EQ(steps.size(), 1u);
}

TEST(EditScript, ClicksAimThroughTheLimitCentre) {
    const std::vector<std::string> art(30, std::string(30, 'R'));
    Bitmap bmp = Picture(art);
    const Bitmap before = bmp;
    DBUndoTable undo;
    EditSession session(bmp, undo, ".");
    // The click at (14, 10) inside a limit of radius 4 around (12, 10).
    ASSERT_EQ(session.ApplyAll(Parse({"--limit", "12,10,4", "--click", "14,10"})), "");
    ASSERT_EQ(undo.Count(), 1u);
    const auto changed = ChangedMap(before, bmp);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 30; ++x) {
            const bool inside = (x - 12) * (x - 12) + (y - 10) * (y - 10) < 16;
            EXPECT_EQ(changed[y][x] == 'x', inside) << x << "," << y;
        }
    // Without the limit the same click takes the rest.
    ASSERT_EQ(session.ApplyAll(Parse({"--no-limit", "--click", "29,29"})), "");
    EXPECT_EQ(undo.Count(), 2u);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 30; ++x) ASSERT_EQ(bmp.Pixel(x, y)[2], 40) << x << "," << y;
}

TEST(EditScript, SettingsApplyToTheEditsAfterThem) {
    const std::vector<std::string> art = {"RRRR", "....", "RRRR"};
    Bitmap bmp = Picture(art);
    DBUndoTable undo;
    EditSession session(bmp, undo, ".");
    ASSERT_EQ(session.ApplyAll(Parse({"--click", "1,0", "--attenuation", "50", "--no-force-grey", "--click", "1,2"})),
              "");
    EXPECT_EQ(bmp.Pixel(0, 0)[2], 40);  // (40 + 40) / 2
    EXPECT_EQ(bmp.Pixel(0, 2)[2], 20);  // halved
    EXPECT_EQ(bmp.Pixel(0, 2)[0], 20);
}

TEST(EditScript, RefusedStepsLoseNothing) {
    const std::vector<std::string> art = {"RRRR", "RRRR"};
    Bitmap bmp = Picture(art);
    DBUndoTable undo;
    EditSession session(bmp, undo, ".");
    EXPECT_EQ(session.ApplyAll(Parse({"--undo"})), "--undo: nothing to undo");
    // The message names the option the bad text came from.
    EXPECT_EQ(session.ApplyAll(Parse({"--rg", "1,6", "--click", "1,1"})),
              "--rg 1,6: '1,6' is not a valid floating point value");
    EXPECT_EQ(session.ApplyAll(Parse({"--red", "lots"})),
              "--red lots: Could not convert variant of type (String) into type (Double)");
    EXPECT_EQ(undo.Count(), 0u);
    EXPECT_TRUE(bmp.SamePixels(Picture(art)));
    // The comma is the separator when the user's locale says so.
    Bitmap other = Picture(art);
    DBUndoTable undo2;
    EditSession comma(other, undo2, ",");
    EXPECT_EQ(comma.Settings().ThresholdRG, "1,6");
    EXPECT_EQ(comma.ApplyAll(Parse({"--rb", "1,05", "--click", "1,1"})), "");
    EXPECT_EQ(undo2.Count(), 1u);
}

TEST(EditScript, FractionalRadiiAndThePupilSteps) {
    const auto steps = Parse({"--circle", "5,6,2.5", "--limit", "1,2,3.75", "--pupil", "7,8", "--min-score", "0,25",
                              "--auto"});
    ASSERT_EQ(steps.size(), 5u);
    EXPECT_EQ(steps[0].r, 2.5);
    EXPECT_EQ(steps[1].r, 3.75);
    EXPECT_EQ(steps[2].kind, EditStepKind::Pupil);
    EXPECT_EQ(steps[2].y, 8);
    EXPECT_EQ(steps[3].score, 0.25);
    EXPECT_EQ(steps[4].kind, EditStepKind::Auto);
    for (const auto& [args, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"--circle", "1,2,0.5"}, "--circle: the radius must be at least 1"},
             {{"--limit", "1,2,2.5.1"}, "--limit: bad value '1,2,2.5.1' (expected X,Y,R)"},
             {{"--limit", "1.5,2,3"}, "--limit: bad value '1.5,2,3' (expected X,Y,R)"},
             {{"--min-score", "1.5"}, "--min-score: bad value '1.5' (expected a number from 0 to 1)"},
             {{"--pupil", "4"}, "--pupil: bad value '4' (expected X,Y)"}}) {
        std::vector<EditStep> out;
        EXPECT_EQ(ParseEditScript(args, out), message);
    }

    // A blanket circle of 2.5 takes the rows of 2.5, not of 2 or 3.
    const std::vector<std::string> art(21, std::string(21, 'R'));
    Bitmap bmp = Picture(art);
    const Bitmap before = bmp;
    DBUndoTable undo;
    EditSession session(bmp, undo, ".");
    ASSERT_EQ(session.ApplyAll(Parse({"--circle", "10,10,2.5"})), "");
    int changed = 0;
    for (const std::string& row : ChangedMap(before, bmp))
        for (char c : row) changed += c == 'x';
    EXPECT_EQ(changed, 5 + 2 * 5 + 2 * 3);
    EXPECT_EQ(undo.Row(0).Rectangle(), (Rect{6, 6, 13, 14}));
    // A limit of 3.75 bounds a click to the pixels strictly within it.
    ASSERT_EQ(session.ApplyAll(Parse({"--undo", "--limit", "10,10,3.75", "--click", "10,10"})), "");
    const auto map = ChangedMap(before, bmp);
    for (int y = 0; y < 21; ++y)
        for (int x = 0; x < 21; ++x) EXPECT_EQ(map[y][x] == 'x', (x - 10) * (x - 10) + (y - 10) * (y - 10) < 14.0625);
}

TEST(EditScript, AutoFixesEverySuggestionBestFirst) {
    // Two pupils on a face-coloured picture that fails the test.
    std::vector<std::string> art(40, std::string(60, '.'));
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 60; ++x)
            if (std::hypot(x - 15, y - 20) < 5 || std::hypot(x - 45, y - 20) < 4) art[y][x] = 'R';
    Bitmap bmp = Picture(art);
    DBUndoTable undo;
    EditSession session(bmp, undo, ".");
    EXPECT_EQ(session.ApplyAll(Parse({"--auto"})), "--auto: no detector to find the pupils");
    double cut = -1;
    session.SetPupilFinder([&cut](const Bitmap&, double minScore) {
        cut = minScore;
        return std::vector<SuggestedPupil>{{45, 20, 4, 0.9}, {15, 20, 5, 0.8}, {30, 35, 3, 0.6}};
    });
    ASSERT_EQ(session.ApplyAll(Parse({"--min-score", "0.6", "--auto"})), "");
    EXPECT_EQ(cut, 0.6);
    EXPECT_EQ(session.Suggested(), 3);
    EXPECT_EQ(session.PupilsFixed(), 2);  // nothing red at the third
    ASSERT_EQ(undo.Count(), 2u);
    EXPECT_GT(undo.Row(0).left, 30);  // the best first
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 60; ++x) EXPECT_NE(bmp.Pixel(x, y)[2], 200) << x << "," << y;
    // --pupil fits the pupil under the point, as a Ctrl release.
    Bitmap again = Picture(art);
    DBUndoTable rows;
    EditSession pupil(again, rows, ".");
    ASSERT_EQ(pupil.ApplyAll(Parse({"--pupil", "16,21"})), "");
    ASSERT_EQ(rows.Count(), 1u);
    EXPECT_LT(rows.Row(0).right, 30);
}

// scarlex-cli edit against the same core in this process.
TEST(EditCommand, WritesTheEditedPictureAndTheRows) {
    TempDir dir;
    const std::string jpeg = dir / "in.jpg";
    TestJpegOptions o;
    o.quality = 95;
    WriteTestJpeg(jpeg, MakePhotoLike(160, 120, 9), o);
    const std::string out = dir / "out.ppm";
    const std::vector<std::string> edits = {"--click", "96,48", "--attenuation", "30", "--circle", "-2,3,6",
                                            "--limit",  "20,20,5", "--rg", "1.05", "--rb", "1.05", "--red", "0",
                                            "--click",  "21,20", "--undo"};
    std::string cmd = Quote(CliPath()) + " edit " + Quote(jpeg) + " " + Quote(out);
    for (const std::string& e : edits) cmd += " " + Quote(e);
    std::string printed;
    ASSERT_EQ(RunShell("LC_ALL=C " + cmd, &printed), 0) << cmd;

    Bitmap bmp;
    Sampling sampling;
    ASSERT_TRUE(DecodeJpegToBitmap(jpeg, bmp, sampling));
    DBUndoTable undo;
    EditSession session(bmp, undo, ".");
    ASSERT_EQ(session.ApplyAll(Parse(edits)), "");
    EXPECT_EQ(FirstPixelDifference(ReadPnm(out), bmp), "");
    std::string expected;
    std::size_t n = 0;
    for (const UndoRow& row : undo)
        expected += "row " + std::to_string(n++) + ": left " + std::to_string(row.left) + " top " +
                    std::to_string(row.top) + " right " + std::to_string(row.right) + " bottom " +
                    std::to_string(row.bottom) + "\n";
    ASSERT_EQ(n, 2u);
    EXPECT_EQ(printed, expected);
    EXPECT_NE(printed.find("row 1: left -9 top -4 right 5 bottom 11"), std::string::npos);
}

TEST(EditCommand, RefusedThresholdWritesNothing) {
    TempDir dir;
    const std::string jpeg = dir / "in.jpg";
    WriteTestJpeg(jpeg, MakePhotoLike(32, 32, 2), TestJpegOptions{});
    const std::string out = dir / "out.ppm";
    std::string printed;
    const std::string cmd = "LC_ALL=C " + Quote(CliPath()) + " edit " + Quote(jpeg) + " " + Quote(out) +
                            " --rg abc --click 5,5 2>&1";
    EXPECT_EQ(RunShell(cmd, &printed), 1);
    EXPECT_NE(printed.find("'abc' is not a valid floating point value"), std::string::npos) << printed;
    EXPECT_FALSE(std::filesystem::exists(out));
    // Naming the photograph itself as the output is refused, not obeyed.
    const auto bytes = ReadFileBytes(jpeg);
    EXPECT_EQ(RunShell(Quote(CliPath()) + " edit " + Quote(jpeg) + " " + Quote(jpeg) + " --click 5,5 2>/dev/null"), 1);
    EXPECT_EQ(ReadFileBytes(jpeg), bytes);
}

}  // namespace
