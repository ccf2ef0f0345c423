#include <gtest/gtest.h>

#include "codec/JpegCodec.h"
#include "support/TestSupport.h"

using namespace scarlex;
using namespace scarlex::test;

namespace {
int Cli(const std::string& args, std::string* out = nullptr) {
    return RunShell(Quote(CliPath()) + " " + args + " 2>&1", out);
}
}  // namespace

TEST(CliCodec, InfoDecodeAndReencodeAgreeWithTheBridge) {
    TempDir dir;
    TestJpegOptions o;
    o.h[0] = 2;
    o.v[0] = 1;
    WriteTestJpeg(dir / "in.jpg", MakePhotoLike(40, 24), o);

    std::string out;
    ASSERT_EQ(Cli("info " + Quote(dir / "in.jpg"), &out), 0) << out;
    EXPECT_EQ(out, "width: 40\nheight: 24\ncomponents: 3\nsampling: 2 1 1 1 1 1\nprogressive: no\n");

    ASSERT_EQ(Cli("decode " + Quote(dir / "in.jpg") + " " + Quote(dir / "out.ppm"), &out), 0) << out;
    Bitmap viaBridge;
    Sampling s;
    ASSERT_TRUE(DecodeJpegToBitmap(dir / "in.jpg", viaBridge, s).ok);
    EXPECT_EQ(FirstPixelDifference(ReadPnm(dir / "out.ppm"), viaBridge), "");

    ASSERT_EQ(Cli("reencode " + Quote(dir / "in.jpg") + " " + Quote(dir / "re.jpg"), &out), 0) << out;
    ASSERT_TRUE(EncodeBitmapToJpeg(dir / "bridge.jpg", viaBridge, s).ok);
    EXPECT_EQ(ReadFileBytes(dir / "re.jpg"), ReadFileBytes(dir / "bridge.jpg"));
}

TEST(CliCodec, ErrorsGiveOneLineAndStatusOne) {
    TempDir dir;
    std::string out;
    EXPECT_EQ(Cli("info " + Quote(dir / "missing.jpg"), &out), 1);
    EXPECT_NE(out.find("can't open image"), std::string::npos) << out;

    WriteFileBytes(dir / "png.jpg", {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'});
    EXPECT_EQ(Cli("decode " + Quote(dir / "png.jpg") + " " + Quote(dir / "x.ppm"), &out), 1);
    EXPECT_NE(out.find("png.jpg is a PNG image, not a JPEG photograph"), std::string::npos) << out;
    EXPECT_FALSE(std::filesystem::exists(dir / "x.ppm"));

    EXPECT_EQ(Cli("reencode onlyone", &out), 1);
    EXPECT_NE(out.find("usage: scarlex-cli reencode"), std::string::npos) << out;
    EXPECT_EQ(Cli("frobnicate", &out), 1);
    EXPECT_EQ(Cli("-h", &out), 0);
    EXPECT_NE(out.find("reencode"), std::string::npos);
}
