#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "codec/JpegCodec.h"
#include "metadata/ImgData.h"
#include "support/Coefficients.h"
#include "CliRun.h"
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

TEST_F(CliFix, KeepQualityKeepsTheTablesAndTablesThatCannotBeSharedAreANote) {
    ASSERT_EQ(RunCli(dir.path(), "fix sample.jpg --click 652,540 --keep-quality -o kept.jpg", dir.path()).status, 0);
    const CoefficientImage o = ReadCoefficients(photo), k = ReadCoefficients(dir / "kept.jpg");
    ASSERT_TRUE(o.ok && k.ok);
    for (std::size_t c = 0; c < o.components.size(); ++c) EXPECT_EQ(k.components[c].quant, o.components[c].quant);
    const long long before = ReadFileBytes(photo).size(), after = ReadFileBytes(dir / "kept.jpg").size();
    EXPECT_LE(after - before, std::max(before / 200, 2048LL));

    // Entries with their high bit set: quality 75's tables cannot be shared
    // with these, so the default save keeps the original's quality and says so.
    std::vector<uint8_t> bytes;
    {
        TempDir work;
        WriteTestJpeg(work / "t.jpg", MakePhotoLike(64, 48, 3), {});
        bytes = ReadFileBytes(work / "t.jpg");
    }
    for (std::size_t i = 2; i + 4 < bytes.size(); i += 2 + (std::size_t(bytes[i + 2]) << 8 | bytes[i + 3]))
        if (bytes[i + 1] == 0xDB) {
            for (int e : {1, 2, 8}) bytes[i + 5 + e] |= 0x80;
            break;
        }
    WriteFileBytes(dir / "tables.jpg", bytes);
    const CliRun r = RunCli(dir.path(), "fix tables.jpg --circle 20,20,6", dir.path());
    EXPECT_EQ(r.status, 0) << r.err();
    ASSERT_EQ(r.errLines.size(), 1u) << r.err();
    EXPECT_EQ(r.errLines[0].rfind("note: ", 0), 0u) << r.err();
    EXPECT_NE(r.out.find("quality: kept"), std::string::npos) << r.out;
}
