#include <gtest/gtest.h>

#include "codec/JpegCodec.h"
#include "codec/PictureLimits.h"
#include "common/Fingerprint.h"
#include "common/Paths.h"
#include "support/TestSupport.h"
#include "transform/LosslessFiles.h"

using namespace scarlex;
using namespace scarlex::test;

namespace {

// Rewrites the size in the frame header of a JPEG's bytes.
std::vector<uint8_t> DeclareSize(std::vector<uint8_t> bytes, unsigned width, unsigned height) {
    for (std::size_t i = 2; i + 9 < bytes.size();) {
        const uint8_t marker = bytes[i + 1];
        const std::size_t length = std::size_t(bytes[i + 2]) << 8 | bytes[i + 3];
        if (marker >= 0xC0 && marker <= 0xC2) {
            bytes[i + 5] = uint8_t(height >> 8);
            bytes[i + 6] = uint8_t(height);
            bytes[i + 7] = uint8_t(width >> 8);
            bytes[i + 8] = uint8_t(width);
            return bytes;
        }
        i += 2 + length;
    }
    ADD_FAILURE() << "no frame header";
    return bytes;
}

class Limits : public ::testing::Test {
protected:
    TempDir dir;
    void TearDown() override { SetPictureLimits(DefaultPictureLimits()); }

    std::string Small(const std::string& name, TestJpegOptions o = {}, int w = 64, int h = 48) {
        const std::string path = dir / name;
        WriteTestJpeg(path, MakePhotoLike(w, h, 7), o);
        return path;
    }
};

}  // namespace

TEST_F(Limits, AHugeDeclaredSizeIsRefusedFromTheHeader) {
    // A few kilobytes that declare 60000 x 60000 pixels.
    std::vector<uint8_t> bytes = DeclareSize(ReadFileBytes(Small("src.jpg")), 60000, 60000);
    const std::string huge = dir / "huge.jpg";
    WriteFileBytes(huge, bytes);

    Bitmap bitmap(3, 2);
    bitmap.Pixel(1, 1)[2] = 200;
    Sampling sampling;
    sampling.f = {1, 1, 1, 1, 1, 1};
    CodecResult r = DecodeJpegToBitmap(huge, bitmap, sampling);
    ASSERT_FALSE(r.ok);
    EXPECT_EQ(r.kind, CodecFailure::TooLarge);
    EXPECT_EQ(r.error, huge + " declares 60000 \u00d7 60000 pixels (3600 MP); the limit is " +
                           FormatMegapixels(DefaultPictureLimits().maxPixels));
    // The photograph that was there stays.
    EXPECT_EQ(bitmap.Width(), 3);
    EXPECT_EQ(bitmap.Pixel(1, 1)[2], 200);
    EXPECT_EQ(sampling.f[0], 1);
    // The lossless transform holds every coefficient: refused the same way.
    CodecResult crop = CropJpegFile(huge, dir / "crop.jpg", 16, 16, 0, 0);
    EXPECT_EQ(crop.kind, CodecFailure::TooLarge) << crop.error;
    EXPECT_FALSE(FileExists(dir / "crop.jpg"));
    // The header alone can still be read.
    JpegInfo info;
    ASSERT_TRUE(ReadJpegInfo(huge, info).ok);
    EXPECT_EQ(info.width, 60000);
}

TEST_F(Limits, TheLimitIsAdjustableAndMemoryIsBoundedToo) {
    std::vector<uint8_t> bytes = DeclareSize(ReadFileBytes(Small("src.jpg")), 1200, 1000);
    const std::string lying = dir / "lying.jpg";
    WriteFileBytes(lying, bytes);
    Bitmap bitmap;
    Sampling s;
    // Within the default: decodes, with the damage reported as a warning.
    CodecResult r = DecodeJpegToBitmap(lying, bitmap, s);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_GT(r.warningCount, 0);
    SetMaxMegapixels(1);
    r = DecodeJpegToBitmap(lying, bitmap, s);
    EXPECT_EQ(r.error, lying + " declares 1200 \u00d7 1000 pixels (1.2 MP); the limit is 1 MP");
    SetMaxMegapixels(0);
    EXPECT_EQ(CurrentPictureLimits().maxPixels, DefaultPictureLimits().maxPixels);

    // A progressive file keeps all its coefficients while decoding: with
    // libjpeg's memory bounded it is refused, clearly, where a baseline
    // file of the same size still decodes.
    TestJpegOptions progressive;
    progressive.progressive = true;
    const std::string prog = Small("prog.jpg", progressive, 512, 512);
    const std::string base = Small("base.jpg", {}, 512, 512);
    PictureLimits tight = DefaultPictureLimits();
    tight.maxMemory = 256 * 1024;
    SetPictureLimits(tight);
    r = DecodeJpegToBitmap(prog, bitmap, s);
    EXPECT_EQ(r.kind, CodecFailure::TooLarge) << r.error;
    EXPECT_NE(r.error.find("needs more memory"), std::string::npos) << r.error;
    EXPECT_TRUE(DecodeJpegToBitmap(base, bitmap, s).ok);
}

TEST_F(Limits, LoadingFingerprintsTheWholeFile) {
    const std::string path = Small("a.jpg");
    std::vector<uint8_t> bytes = ReadFileBytes(path);
    bytes.insert(bytes.end(), {'t', 'r', 'a', 'i', 'l'});  // data after the picture counts too
    WriteFileBytes(path, bytes);
    Bitmap bitmap;
    Sampling s;
    FileFingerprint loaded, now;
    ASSERT_TRUE(DecodeJpegToBitmap(path, bitmap, s, &loaded).ok);
    ASSERT_EQ(FingerprintFile(path, now), "");
    EXPECT_TRUE(loaded.Matches(now));
    EXPECT_EQ(loaded.size, bytes.size());
    Bitmap fromBytes;
    EXPECT_TRUE(DecodeJpegBytesToBitmap(bytes, fromBytes, s).ok && fromBytes.SamePixels(bitmap));

    // A folder is named as one, and a failed load leaves the fingerprint.
    CodecResult r = DecodeJpegToBitmap(dir.path().string(), bitmap, s, &loaded);
    EXPECT_NE(r.error.find("is a directory"), std::string::npos) << r.error;
    EXPECT_TRUE(loaded.Matches(now));
}
