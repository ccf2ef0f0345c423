#include <gtest/gtest.h>

#include <jpeglib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "codec/JpegCodec.h"
#include "support/TestSupport.h"

using namespace scarlex;
using namespace scarlex::test;

namespace {

struct Layout {
    const char* name;
    int width, height;
    TestJpegOptions options;
};

TestJpegOptions Sampled(int h0, int v0, int h1 = 1, int v1 = 1, bool progressive = false, int restart = 0) {
    TestJpegOptions o;
    o.h[0] = h0; o.v[0] = v0; o.h[1] = o.h[2] = h1; o.v[1] = o.v[2] = v1;
    o.progressive = progressive;
    o.restartInterval = restart;
    return o;
}

TestJpegOptions Grey(bool progressive = false) {
    TestJpegOptions o;
    o.grayscale = true;
    o.progressive = progressive;
    return o;
}

// A greyscale file whose header gives larger factors than 1x1.
TestJpegOptions GreyFactors(int h, int v) {
    TestJpegOptions o = Grey();
    o.greyH = h;
    o.greyV = v;
    return o;
}

std::vector<Layout> Layouts() {
    return {
        {"444", 64, 48, Sampled(1, 1)},
        {"422", 80, 40, Sampled(2, 1)},
        {"420", 96, 64, Sampled(2, 2)},
        {"440", 48, 64, Sampled(1, 2)},
        {"odd_chroma", 50, 70, Sampled(2, 2, 1, 2)},
        {"grey", 40, 24, Grey()},
        {"grey_progressive_odd", 227, 149, Grey(true)},
        {"grey_header_2x2", 35, 21, GreyFactors(2, 2)},
        {"progressive_420_odd", 227, 149, Sampled(2, 2, 1, 1, true)},
        {"restarts_422_odd", 131, 75, Sampled(2, 1, 1, 1, false, 3)},
        {"tiny", 1, 1, Sampled(2, 2)},
        {"narrow_444", 5, 33, Sampled(1, 1)},
    };
}

// What djpeg makes of the file, spread to three channels as our bridge does.
Bitmap DjpegPixels(const std::string& jpeg, const TempDir& dir) {
    std::string ppm = dir / "djpeg.ppm";
    RunShell("djpeg -pnm -outfile " + Quote(ppm) + " " + Quote(jpeg) + " 2>/dev/null");
    return ReadPnm(ppm);
}

std::string SampleArg(const Sampling& s) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%dx%d,%dx%d,%dx%d", s.H(0), s.V(0), s.H(1), s.V(1), s.H(2), s.V(2));
    return buf;
}

// The reference full re-encode: djpeg's pixels through cjpeg at quality 75.
std::vector<uint8_t> ReferenceReencode(const std::string& jpeg, const Sampling& s, const TempDir& dir) {
    std::string out = dir / "ref.jpg";
    std::string cmd = "djpeg -rgb -pnm " + Quote(jpeg) + " 2>/dev/null | cjpeg -quality 75 -sample " + SampleArg(s) +
                      " -outfile " + Quote(out);
    EXPECT_EQ(RunShell(cmd), 0) << cmd;
    return ReadFileBytes(out);
}

void ExpectBridgeMatchesLibraryTools(const std::string& jpeg, bool checkReencode) {
    TempDir dir;
    Bitmap ours;
    Sampling sampling;
    CodecResult r = DecodeJpegToBitmap(jpeg, ours, sampling);
    ASSERT_TRUE(r.ok) << r.error;
    Bitmap reference = DjpegPixels(jpeg, dir);
    ASSERT_EQ(FirstPixelDifference(ours, reference), "");
    if (!checkReencode) return;
    std::string mine = dir / "mine.jpg";
    ASSERT_TRUE(EncodeBitmapToJpeg(mine, ours, sampling).ok);
    EXPECT_TRUE(ReadFileBytes(mine) == ReferenceReencode(jpeg, sampling, dir)) << "re-encode differs from cjpeg";
}

}  // namespace

class BridgeLayouts : public ::testing::TestWithParam<Layout> {};

TEST_P(BridgeLayouts, DecodeAndReencodeMatchDjpegAndCjpeg) {
    SCARLEX_REQUIRE_TOOL("djpeg");
    SCARLEX_REQUIRE_TOOL("cjpeg");
    const Layout& layout = GetParam();
    TempDir dir;
    std::string path = dir / "in.jpg";
    WriteTestJpeg(path, MakePhotoLike(layout.width, layout.height, 7), layout.options);

    Bitmap bmp;
    Sampling s;
    s.f = {9, 9, 9, 9, 9, 9};
    ASSERT_TRUE(DecodeJpegToBitmap(path, bmp, s).ok);
    if (layout.options.grayscale) {
        EXPECT_EQ(s, (Sampling{{1, 1, 1, 1, 1, 1}}));
    } else {
        const auto& o = layout.options;
        EXPECT_EQ(s, (Sampling{{o.h[0], o.h[1], o.h[2], o.v[0], o.v[1], o.v[2]}}));
    }
    ExpectBridgeMatchesLibraryTools(path, true);
}

INSTANTIATE_TEST_SUITE_P(Generated, BridgeLayouts, ::testing::ValuesIn(Layouts()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(BridgeRealPhotographs, EveryDecodableFileMatchesDjpeg) {
    SCARLEX_REQUIRE_TOOL("djpeg");
    std::vector<std::string> files = TestDataJpegs();
    if (files.empty()) GTEST_SKIP() << "shared test data not present";
    // Files the bridge must refuse: not JPEG, cut inside the headers, or four components.
    const std::vector<std::string> refused = {"not_a_jpeg_png.jpg", "truncated_in_exif_canon_ixus.jpg",
                                              "cmyk_adobe_mozilla.jpg", "ycck_adobe_pil_sample.jpg"};
    for (const std::string& f : files) {
        SCOPED_TRACE(f);
        std::string name = std::filesystem::path(f).filename();
        if (std::find(refused.begin(), refused.end(), name) != refused.end()) {
            Bitmap bmp(3, 3);
            bmp.Pixel(1, 1)[0] = 77;
            Sampling s;
            s.f = {4, 3, 2, 1, 0, 5};
            CodecResult r = DecodeJpegToBitmap(f, bmp, s);
            EXPECT_FALSE(r.ok);
            EXPECT_FALSE(r.error.empty());
            EXPECT_EQ(bmp.Width(), 3);
            EXPECT_EQ(bmp.Pixel(1, 1)[0], 77);
            EXPECT_EQ(s, (Sampling{{4, 3, 2, 1, 0, 5}}));
            continue;
        }
        // Re-encoding the biggest files twice is slow under the sanitizers;
        // a few layouts cover it.
        bool reencode = name == "canon_ixus.jpg" || name == "nikon_e950.jpg" || name == "redeye_canon_sd100.jpg" ||
                        name == "minolta_dimage_ex.jpg" || name == "nikon_d90_gray_progressive.jpg" ||
                        name == "fujifilm_finepix40i.jpg";
        ExpectBridgeMatchesLibraryTools(f, reencode);
    }
}

TEST(BridgeRealPhotographs, TruncatedScanDecodesWithAWarning) {
    SCARLEX_TESTDATA_OR_SKIP(path, "truncated_in_scan_canon_ixus.jpg");
    Bitmap bmp;
    Sampling s;
    CodecResult r = DecodeJpegToBitmap(path, bmp, s);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_GE(r.warningCount, 1);
    ASSERT_FALSE(r.warnings.empty());
    EXPECT_NE(r.warnings[0].find("Premature end"), std::string::npos) << r.warnings[0];
    EXPECT_EQ(bmp.Width(), 640);
}

TEST(BridgeColour, RedStaysRedThroughAFullCycle) {
    TempDir dir;
    Bitmap red(64, 32);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 64; ++x) {
            uint8_t* p = red.Pixel(x, y);
            p[0] = 10; p[1] = 20; p[2] = 230;  // blue, green, red
        }
    Sampling s;
    ASSERT_TRUE(EncodeBitmapToJpeg(dir / "red.jpg", red, s).ok);
    Bitmap back;
    ASSERT_TRUE(DecodeJpegToBitmap(dir / "red.jpg", back, s).ok);
    const uint8_t* p = back.Pixel(30, 15);
    EXPECT_GT(p[2], 200);
    EXPECT_LT(p[0], 40);
    EXPECT_LT(p[1], 50);
}

TEST(BridgeColour, RowCopiesLeavePaddingAlone) {
    Bitmap bmp(5, 2);  // 15 picture bytes, one padding byte
    std::memset(bmp.Row(0), 0xAB, bmp.Stride());
    JSAMPLE row[15];
    for (int i = 0; i < 15; ++i) row[i] = JSAMPLE(i);
    CopyRowToBitmap(bmp, row, 15, 0);
    EXPECT_EQ(bmp.Row(0)[14], 14);
    EXPECT_EQ(bmp.Row(0)[15], 0xAB);
    JSAMPLE out[16];
    std::memset(out, 0xCD, sizeof out);
    CopyRowFromBitmap(bmp, out, 0);
    EXPECT_EQ(out[14], 14);
    EXPECT_EQ(out[15], 0xCD);
}

class BridgeFailures : public ::testing::Test {
protected:
    TempDir dir;
    Bitmap bmp{4, 4};
    Sampling s{{2, 1, 1, 1, 1, 1}};

    void SetUp() override { bmp.Pixel(2, 2)[1] = 123; }

    void ExpectRefused(const std::string& path, const std::string& messagePart) {
        CodecResult r = DecodeJpegToBitmap(path, bmp, s);
        EXPECT_FALSE(r.ok);
        EXPECT_NE(r.error.find(messagePart), std::string::npos) << r.error;
        EXPECT_EQ(bmp.Width(), 4);
        EXPECT_EQ(bmp.Pixel(2, 2)[1], 123);
        EXPECT_EQ(s, (Sampling{{2, 1, 1, 1, 1, 1}}));
    }
};

TEST_F(BridgeFailures, DamagedOrForeignInputIsRefusedWithTheLibrarysMessage) {
    ExpectRefused(dir / "missing.jpg", "can't open image\nClosing...");

    WriteFileBytes(dir / "empty.jpg", {});
    ExpectRefused(dir / "empty.jpg", "empty.jpg is an empty file, not a JPEG photograph");

    WriteFileBytes(dir / "text.jpg", {'h', 'e', 'l', 'l', 'o', '\n'});
    ExpectRefused(dir / "text.jpg", "Not a JPEG file");

    std::string good = dir / "good.jpg";
    WriteTestJpeg(good, MakePhotoLike(32, 32), {});
    std::vector<uint8_t> bytes = ReadFileBytes(good);
    bytes.resize(200);  // inside the tables
    WriteFileBytes(dir / "cut.jpg", bytes);
    CodecResult r = DecodeJpegToBitmap(dir / "cut.jpg", bmp, s);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(bmp.Pixel(2, 2)[1], 123);
}

TEST_F(BridgeFailures, FourComponentFilesAreRefusedByName) {
    std::string path = dir / "cmyk.jpg";
    {
        FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        jpeg_compress_struct c;
        jpeg_error_mgr e;
        c.err = jpeg_std_error(&e);
        jpeg_create_compress(&c);
        jpeg_stdio_dest(&c, f);
        c.image_width = 16;
        c.image_height = 8;
        c.input_components = 4;
        c.in_color_space = JCS_CMYK;
        jpeg_set_defaults(&c);
        jpeg_start_compress(&c, TRUE);
        JSAMPLE row[64] = {};
        JSAMPROW rp = row;
        while (c.next_scanline < c.image_height) jpeg_write_scanlines(&c, &rp, 1);
        jpeg_finish_compress(&c);
        jpeg_destroy_compress(&c);
        std::fclose(f);
    }
    ExpectRefused(path, "four colour components");
}

TEST_F(BridgeFailures, AFailedEncodeLeavesTheExistingFileAndNoTemporaries) {
    std::string target = dir / "keep.jpg";
    WriteFileBytes(target, {1, 2, 3});
    Sampling bad{{0, 1, 1, 1, 1, 1}};  // invalid factors: the library refuses at start
    CodecResult r = EncodeBitmapToJpeg(target, MakePhotoLike(16, 16), bad);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find("sampling"), std::string::npos) << r.error;
    EXPECT_EQ(ReadFileBytes(target), (std::vector<uint8_t>{1, 2, 3}));
    int files = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++files;
    EXPECT_EQ(files, 1);

    r = EncodeBitmapToJpeg(dir / "no/such/folder/out.jpg", MakePhotoLike(16, 16), s);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, kCantOpenImage);
}

TEST(BridgeInfo, ReportsHeaderFacts) {
    TempDir dir;
    TestJpegOptions o = Sampled(2, 1, 1, 1, true);
    WriteTestJpeg(dir / "p.jpg", MakePhotoLike(33, 17), o);
    JpegInfo info;
    ASSERT_TRUE(ReadJpegInfo(dir / "p.jpg", info).ok);
    EXPECT_EQ(info.width, 33);
    EXPECT_EQ(info.height, 17);
    EXPECT_EQ(info.components, 3);
    EXPECT_EQ(info.h[0], 2);
    EXPECT_EQ(info.v[0], 1);
    EXPECT_TRUE(info.progressive);
}
