#include <gtest/gtest.h>

#include <filesystem>

#include "codec/JpegCodec.h"
#include "metadata/ImgData.h"
#include "support/Coefficients.h"
#include "support/TestSupport.h"

using namespace scarlex;
using namespace scarlex::test;

namespace {

int Cli(const std::string& args, std::string* out = nullptr) {
    return RunShell(Quote(CliPath()) + " " + args + " 2>&1", out);
}

std::string SamplePhoto() { return std::string(SCARLEX_SOURCE_DIR) + "/samples/sample.jpg"; }

bool Reddish(const Bitmap& b, int x, int y) {
    const uint8_t* p = b.Pixel(x, y);
    return p[2] > 70 && p[2] > 1.6 * p[1] && p[2] > 1.1 * p[0];
}

class CliFix : public ::testing::Test {
protected:
    TempDir dir;
    std::string photo;
    void SetUp() override {
        photo = dir / "sample.jpg";
        std::filesystem::copy_file(SamplePhoto(), photo);
    }
};

}  // namespace

TEST_F(CliFix, FixesBothPupilsKeepsMetadataAndEveryOtherBlock) {
    std::string out;
    ASSERT_EQ(Cli("fix " + Quote(photo) + " --click 652,540 --click 948,540", &out), 0) << out;
    EXPECT_NE(out.find("undo rows: 2"), std::string::npos) << out;
    const std::string saved = dir / "sample - nre.jpg";

    Bitmap before, after;
    Sampling s;
    ASSERT_TRUE(DecodeJpegToBitmap(photo, before, s).ok);
    ASSERT_TRUE(DecodeJpegToBitmap(saved, after, s).ok);
    for (int x : {652, 948}) {
        EXPECT_TRUE(Reddish(before, x, 540));
        EXPECT_FALSE(Reddish(after, x, 540)) << "pupil at x=" << x << " is still red";
    }

    // The original's Exif, IPTC and comment segments, byte for byte.
    TimgData a(255), b(255);
    ASSERT_TRUE(a.ProcessFile(photo));
    ASSERT_TRUE(b.ProcessFile(saved));
    ASSERT_TRUE(b.HasEXIF());
    EXPECT_EQ(a.Section(a.ExifEntry()).Data, b.Section(b.ExifEntry()).Data);
    EXPECT_EQ(a.Section(a.IptcEntry()).Data, b.Section(b.IptcEntry()).Data);
    EXPECT_EQ(a.Section(a.CommentEntry()).Data, b.Section(b.CommentEntry()).Data);

    // Away from the eyes every block decodes to the original's values.
    CoefficientImage o = ReadCoefficients(photo), n = ReadCoefficients(saved);
    ASSERT_TRUE(o.ok && n.ok);
    const ComponentCoefficients &oy = o.components[0], &ny = n.components[0];
    int compared = 0;
    for (int by = 0; by < oy.heightInBlocks; ++by)
        for (int bx = 0; bx < oy.widthInBlocks; ++bx) {
            if (by * 8 > 480 && by * 8 < 600) continue;  // the row of eyes
            for (int k = 0; k < 64; ++k) ASSERT_EQ(ny.Dequantised(bx, by, k), oy.Dequantised(bx, by, k));
            ++compared;
        }
    EXPECT_GT(compared, 20000);
    // The original itself is untouched.
    EXPECT_EQ(ReadFileBytes(photo), ReadFileBytes(SamplePhoto()));
}

TEST_F(CliFix, SavingOverTheInputNeedsYes) {
    std::string out;
    const std::vector<uint8_t> original = ReadFileBytes(photo);
    EXPECT_EQ(Cli("fix " + Quote(photo) + " --click 652,540 --no-append -o " + Quote(photo), &out), 1);
    EXPECT_NE(out.find("already exists; add --yes to replace it"), std::string::npos) << out;
    EXPECT_EQ(ReadFileBytes(photo), original);

    ASSERT_EQ(Cli("fix " + Quote(photo) + " --click 652,540 --no-append -o " + Quote(photo) + " --yes", &out), 0)
        << out;
    EXPECT_NE(ReadFileBytes(photo), original);
    Bitmap after;
    Sampling s;
    ASSERT_TRUE(DecodeJpegToBitmap(photo, after, s).ok);
    EXPECT_FALSE(Reddish(after, 652, 540));
}

TEST_F(CliFix, RelocationOptionsAndBadInput) {
    std::string out;
    ASSERT_EQ(Cli("fix " + Quote(photo) + " --click 948,540 --no-append --rename-ext .OGL", &out), 0) << out;
    EXPECT_NE(out.find("original moved to: " + (dir / "sample.OGL")), std::string::npos) << out;
    EXPECT_EQ(ReadFileBytes(dir / "sample.OGL"), ReadFileBytes(SamplePhoto()));
    EXPECT_TRUE(std::filesystem::exists(photo));

    EXPECT_EQ(Cli("fix " + Quote(photo) + " --frobnicate", &out), 1);
    EXPECT_NE(out.find("unknown option"), std::string::npos);
    EXPECT_EQ(Cli("fix " + Quote(dir / "missing.jpg") + " --click 1,1", &out), 1);
    EXPECT_NE(out.find("can't open image"), std::string::npos);
    EXPECT_EQ(Cli("fix " + Quote(photo) + " --rg abc --click 1,1", &out), 1);
}
