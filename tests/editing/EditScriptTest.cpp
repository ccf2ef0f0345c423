#include <gtest/gtest.h>

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
    EXPECT_EQ((std::vector<int>{steps[6].x, steps[6].y, steps[6].r}), (std::vector<int>{10, -2, 7}));
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
