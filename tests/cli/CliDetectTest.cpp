#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "codec/JpegCodec.h"
#include "support/FaceScene.h"
#include "support/TestSupport.h"

using namespace scarlex;
using namespace scarlex::test;

namespace {

namespace fs = std::filesystem;

int Cli(const std::string& args, std::string* out = nullptr) {
    return RunShell(Quote(CliPath()) + " " + args, out);
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

bool Reddish(const Bitmap& b, double x, double y) {
    const uint8_t* p = b.Pixel(static_cast<int>(x), static_cast<int>(y));
    return p[2] > 60 && p[2] > 1.5 * p[1] && p[2] > 1.3 * p[0];
}

// A face with two red pupils (or none) written as a JPEG.
std::vector<DrawnPupil> WriteFace(const std::string& path, uint32_t seed, bool red = true, double radius = 7) {
    SceneLayout layout;
    layout.width = 720;
    layout.height = 540;
    layout.seed = seed;
    DrawnFace f;
    f.x = 360;
    f.y = 220;
    f.pupilRadius = radius;
    f.redLeft = f.redRight = red;
    layout.faces = {f};
    std::vector<DrawnPupil> pupils;
    TestJpegOptions o;
    o.quality = 88;
    WriteTestJpeg(path, DrawScene(layout, &pupils), o);
    return pupils;
}

// The bytes of an APP1 Exif segment holding only IFD0's Orientation tag.
std::vector<uint8_t> ExifOrientation(uint16_t tag) {
    std::vector<uint8_t> tiff = {'M', 'M', 0, 42, 0, 0, 0, 8,  // big-endian header, IFD0 at 8
                                 0, 1,                          // one entry
                                 0x01, 0x12, 0, 3, 0, 0, 0, 1,  // Orientation, SHORT, count 1
                                 static_cast<uint8_t>(tag >> 8), static_cast<uint8_t>(tag), 0, 0,
                                 0, 0, 0, 0};  // no next IFD
    std::vector<uint8_t> seg = {0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
    seg.insert(seg.end(), tiff.begin(), tiff.end());
    const std::size_t length = seg.size() - 2;
    seg[2] = static_cast<uint8_t>(length >> 8);
    seg[3] = static_cast<uint8_t>(length);
    return seg;
}

TEST(CliDetect, PrintsOneLinePerPupilBestFirst) {
    TempDir dir;
    const auto pupils = WriteFace(dir / "face.jpg", 3);
    std::string out;
    ASSERT_EQ(Cli("detect " + Quote(dir / "face.jpg") + " 2>&1", &out), 0) << out;
    const auto lines = Lines(out);
    ASSERT_EQ(lines.size(), 2u) << out;
    double previous = 2;
    for (const std::string& l : lines) {
        // "pupil X Y R SCORE": whole pixels, then one decimal and two.
        int x = 0, y = 0, rWhole = 0, rTenth = 0, sWhole = 0, sHundredths = 0, end = 0;
        ASSERT_EQ(std::sscanf(l.c_str(), "pupil %d %d %d.%1d %1d.%2d%n", &x, &y, &rWhole, &rTenth, &sWhole, &sHundredths,
                              &end),
                  6)
            << l;
        EXPECT_EQ(static_cast<std::size_t>(end), l.size()) << l;
        EXPECT_EQ(l.substr(l.rfind(' ') + 1).size(), 4u) << l;
        const double score = sWhole + sHundredths / 100.0;
        EXPECT_TRUE(std::abs(x - pupils[0].x) < 2 || std::abs(x - pupils[1].x) < 2) << l;
        EXPECT_NEAR(y, pupils[0].y, 2) << l;
        EXPECT_LE(score, previous);
        previous = score;
    }
    // A dot for the decimals whatever the locale says, and the cut moves.
    ASSERT_EQ(Cli("detect " + Quote(dir / "face.jpg") + " --min-score 1 2>&1", &out), 0) << out;
    EXPECT_EQ(out, "");

    // No red eyes: nothing printed, still success. Bad input: one line, 1.
    WriteFace(dir / "calm.jpg", 4, false);
    ASSERT_EQ(Cli("detect " + Quote(dir / "calm.jpg") + " 2>&1", &out), 0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(Cli("detect " + Quote(dir / "missing.jpg") + " 2>&1", &out), 1);
    EXPECT_EQ(Lines(out).size(), 1u) << out;
    EXPECT_EQ(Cli("detect " + Quote(dir / "face.jpg") + " --min-score 2 2>&1", &out), 1);
    EXPECT_EQ(Cli("detect " + Quote(dir / "face.jpg") + " --orientation 9 2>&1", &out), 1);
}

TEST(CliDetect, ReadsTheOrientationOfAPhotographStoredSideways) {
    TempDir dir;
    // The face upright, stored turned a quarter to the left, tagged 6.
    SceneLayout layout;
    layout.width = 720;
    layout.height = 540;
    layout.seed = 5;
    DrawnFace f;
    f.x = 360;
    f.y = 220;
    f.pupilRadius = 7;
    layout.faces = {f};
    std::vector<DrawnPupil> upright;
    const Bitmap scene = DrawScene(layout, &upright);
    Bitmap stored(layout.height, layout.width);
    for (int y = 0; y < stored.Height(); ++y)
        for (int x = 0; x < stored.Width(); ++x) {
            const uint8_t* p = scene.Pixel(stored.Height() - 1 - y, x);  // upright (H - 1 - y, x)
            std::copy(p, p + 3, stored.Pixel(x, y));
        }
    WriteTestJpeg(dir / "plain.jpg", stored, TestJpegOptions{});
    std::vector<uint8_t> bytes = ReadFileBytes(dir / "plain.jpg");
    const std::vector<uint8_t> app1 = ExifOrientation(6);
    bytes.insert(bytes.begin() + 2, app1.begin(), app1.end());
    WriteFileBytes(dir / "sideways.jpg", bytes);

    std::string out;
    ASSERT_EQ(Cli("detect " + Quote(dir / "sideways.jpg") + " 2>&1", &out), 0) << out;
    const auto lines = Lines(out);
    ASSERT_EQ(lines.size(), 2u) << out;
    for (const std::string& l : lines) {
        int x = 0, y = 0;
        ASSERT_EQ(std::sscanf(l.c_str(), "pupil %d %d", &x, &y), 2) << l;
        // Stored pixels: the upright row of the eyes is a stored column.
        EXPECT_NEAR(x, upright[0].y, 2) << l;
    }
}

TEST(CliDetect, EditAutoAndFractionalRadii) {
    TempDir dir;
    const auto pupils = WriteFace(dir / "face.jpg", 6);
    std::string out;
    ASSERT_EQ(Cli("edit " + Quote(dir / "face.jpg") + " " + Quote(dir / "auto.ppm") + " --auto 2>&1", &out), 0) << out;
    EXPECT_EQ(Lines(out).size(), 2u) << out;  // one undo row per pupil
    const Bitmap fixed = ReadPnm(dir / "auto.ppm");
    Bitmap original;
    Sampling s;
    ASSERT_TRUE(DecodeJpegToBitmap(dir / "face.jpg", original, s).ok);
    for (const DrawnPupil& p : pupils) {
        EXPECT_TRUE(Reddish(original, p.x, p.y));
        EXPECT_FALSE(Reddish(fixed, p.x, p.y));
    }
    // A fractional circle as the window makes it, in any locale.
    ASSERT_EQ(Cli("edit " + Quote(dir / "face.jpg") + " " + Quote(dir / "c.ppm") +
                      " --circle 100,100,2.5 --pupil 5,5 2>&1",
                  &out),
              0)
        << out;
    EXPECT_EQ(out, "row 0: left 96 top 96 right 103 bottom 104\n");
}

class CliBatch : public ::testing::Test {
protected:
    TempDir dir;
    std::vector<std::string> files;
    void SetUp() override {
        for (int k = 0; k < 3; ++k) {
            files.push_back(dir / ("face" + std::to_string(k) + ".jpg"));
            WriteFace(files.back(), 10 + k, true, 5 + 2 * k);
        }
        files.push_back(dir / "calm.jpg");
        WriteFace(files.back(), 20, false);
        // A photograph cut off in the middle of its header.
        std::vector<uint8_t> bytes = ReadFileBytes(files[0]);
        bytes.resize(300);
        files.push_back(dir / "damaged.jpg");
        WriteFileBytes(files.back(), bytes);
    }
    std::string Inputs() const {
        std::string s;
        for (const std::string& f : files) s += " " + Quote(f);
        return s;
    }
};

TEST_F(CliBatch, FixesTheGoodOnesAndReportsTheDamagedOne) {
    std::string out;
    EXPECT_EQ(Cli("fix --auto" + Inputs() + " --jobs 2 2>" + Quote(dir / "err.txt"), &out), 1);
    const std::string err = [&] {
        const auto b = ReadFileBytes(dir / "err.txt");
        return std::string(b.begin(), b.end());
    }();
    EXPECT_NE(out.find("files fixed: 3\npupils fixed: 6\nfiles without red eyes: 1\nfailed: 1\n"), std::string::npos)
        << out;
    EXPECT_NE(out.find("damaged.jpg: "), std::string::npos) << out;
    // One progress line per file when stderr is not a terminal.
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 5) << err;
    for (int k = 0; k < 3; ++k) {
        const std::string saved = dir / ("face" + std::to_string(k) + " - nre.jpg");
        EXPECT_TRUE(fs::exists(saved)) << saved;
    }
    EXPECT_FALSE(fs::exists(dir / "calm - nre.jpg"));  // nothing to fix, nothing written
    EXPECT_FALSE(fs::exists(dir / "damaged - nre.jpg"));

    // A second run finds the outputs there: each worker refuses to replace
    // its own unless --yes reaches it.
    EXPECT_EQ(Cli("fix --auto" + Inputs() + " 2>/dev/null", &out), 1);
    EXPECT_NE(out.find("files fixed: 0\n"), std::string::npos) << out;
    EXPECT_EQ(Cli("fix --yes" + Inputs() + " --auto 2>/dev/null", &out), 1);
    EXPECT_NE(out.find("files fixed: 3\n"), std::string::npos) << out;
}

TEST_F(CliBatch, JsonOnePerFileAndTheRulesOfABatch) {
    // A name that must be escaped in JSON.
    const std::string odd = dir / "say \"cheese\".jpg";
    fs::copy_file(files[1], odd);
    files.push_back(odd);
    std::string out;
    EXPECT_EQ(Cli("fix" + Inputs() + " --auto --json --no-append --rename-ext .orig 2>/dev/null", &out), 1);
    const auto lines = Lines(out);
    ASSERT_EQ(lines.size(), files.size()) << out;
    int fixed = 0, none = 0, failed = 0;
    for (const std::string& l : lines) {
        EXPECT_EQ(l.front(), '{');
        EXPECT_EQ(l.back(), '}');
        fixed += l.find("\"status\":\"fixed\",\"pupils\":2,\"output\":") != std::string::npos;
        none += l.find("\"status\":\"none\",\"pupils\":0") != std::string::npos;
        failed += l.find("\"status\":\"failed\",\"pupils\":0,\"error\":\"") != std::string::npos;
    }
    EXPECT_EQ(fixed, 4);
    EXPECT_EQ(none, 1);
    EXPECT_EQ(failed, 1);
    EXPECT_NE(out.find("say \\\"cheese\\\".jpg"), std::string::npos) << out;
    // The preferences options reach every file: originals renamed, outputs
    // under the original names.
    EXPECT_TRUE(fs::exists(dir / "face2.orig"));
    EXPECT_TRUE(fs::exists(dir / "face2.jpg"));
    EXPECT_TRUE(fs::exists(dir / "calm.jpg"));

    // One output name cannot serve several photographs.
    EXPECT_EQ(Cli("fix --auto" + Inputs() + " -o " + Quote(dir / "x.jpg") + " 2>&1", &out), 1);
    EXPECT_NE(out.find("-o names one output"), std::string::npos) << out;
    EXPECT_FALSE(fs::exists(dir / "x.jpg"));
    // Options before a single photograph work as after it.
    ASSERT_EQ(Cli("fix --auto " + Quote(files[3]) + " 2>&1", &out), 0) << out;
    EXPECT_NE(out.find("no red eyes found"), std::string::npos) << out;
}

}  // namespace
