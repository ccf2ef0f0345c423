// The transform's own guarantees: the request step's arithmetic, the
// lossless quantisation harmonisation, marker handling, and the drivers'
// behaviour on bad input.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <csetjmp>
#include <cstring>
#include <cstdio>
#include <string>

#include "codec/JpegError.h"
#include "transform/LosslessFiles.h"
#include "transform/LosslessTransform.h"
#include "transform/TransformSupport.h"

namespace scarlex::test {
namespace {

TestJpegOptions Sampled(int h0, int v0, int quality = 85) {
    TestJpegOptions o;
    o.quality = quality;
    o.h[0] = h0;
    o.v[0] = v0;
    o.h[1] = o.h[2] = o.v[1] = o.v[2] = 1;
    return o;
}

// Reads the headers and runs the request step alone. Plain data only
// across setjmp.
struct RequestRun {
    JpegErrorManager err[2];
    jpeg_decompress_struct src, patch;
    jpeg_transform_info info;
    FILE* files[2];
    bool failed;
};

void RequestCore(RequestRun* run, bool drop) {
    run->src.err = InitErrorManager(&run->err[0]);
    run->patch.err = InitErrorManager(&run->err[1]);
    if (setjmp(run->err[0].jump)) {
        run->failed = true;
        jpeg_destroy_decompress(&run->patch);
        jpeg_destroy_decompress(&run->src);
        return;
    }
    jpeg_create_decompress(&run->src);
    jpeg_stdio_src(&run->src, run->files[0]);
    jpeg_read_header(&run->src, TRUE);
    if (drop) {
        std::memcpy(run->err[1].jump, run->err[0].jump, sizeof(jmp_buf));
        jpeg_create_decompress(&run->patch);
        jpeg_stdio_src(&run->patch, run->files[1]);
        jpeg_read_header(&run->patch, TRUE);
        run->info.drop_ptr = &run->patch;
        run->info.crop_width = run->patch.image_width;
        run->info.crop_height = run->patch.image_height;
    }
    jtransform_request_workspace(&run->src, &run->info);
    jpeg_destroy_decompress(&run->patch);
    jpeg_destroy_decompress(&run->src);
}

// Returns the record after the request step, or the error message.
std::string Request(const std::string& src, const std::string& patch, jpeg_transform_info* info) {
    auto run = std::make_unique<RequestRun>();
    run->info = *info;
    run->info.crop = true;
    run->info.crop_width_set = run->info.crop_height_set = JCROP_POS;
    run->info.crop_xoffset_set = run->info.crop_yoffset_set = JCROP_POS;
    run->files[0] = std::fopen(src.c_str(), "rb");
    run->files[1] = patch.empty() ? nullptr : std::fopen(patch.c_str(), "rb");
    RequestCore(run.get(), !patch.empty());
    for (FILE* f : run->files)
        if (f) std::fclose(f);
    *info = run->info;
    return run->failed ? run->err[0].message : "";
}

TEST(Request, CropWidensToTheImcuGrid) {
    TempDir dir;
    MakeJpeg(dir / "s.jpg", 160, 96, Sampled(2, 2));
    jpeg_transform_info info{};
    info.transform = JXFORM_NONE;
    info.crop_width = 40;
    info.crop_height = 30;
    info.crop_xoffset = 37;
    info.crop_yoffset = 5;
    ASSERT_EQ(Request(dir / "s.jpg", "", &info), "");
    EXPECT_EQ(info.x_crop_offset, 2u);
    EXPECT_EQ(info.y_crop_offset, 0u);
    EXPECT_EQ(info.output_width, 45u);
    EXPECT_EQ(info.output_height, 35u);
    EXPECT_EQ(info.max_h_samp_factor, 2);
    EXPECT_NE(info.workspace_coef_arrays, nullptr);

    // Starting in the first iMCU column and row: the source's own arrays.
    info = jpeg_transform_info{};
    info.crop_width = 40;
    info.crop_height = 30;
    info.crop_xoffset = 15;
    info.crop_yoffset = 15;
    ASSERT_EQ(Request(dir / "s.jpg", "", &info), "");
    EXPECT_EQ(info.x_crop_offset, 0u);
    EXPECT_EQ(info.output_width, 55u);
    EXPECT_EQ(info.workspace_coef_arrays, nullptr);
}

TEST(Request, DropCountsWholeImcusOnly) {
    TempDir dir;
    MakeJpeg(dir / "s.jpg", 160, 96, Sampled(2, 2));
    MakeJpeg(dir / "p.jpg", 45, 35, Sampled(2, 2));
    MakeJpeg(dir / "small.jpg", 23, 23, Sampled(2, 2));
    jpeg_transform_info info{};
    info.transform = JXFORM_DROP;
    info.crop_xoffset = 32;
    ASSERT_EQ(Request(dir / "s.jpg", dir / "p.jpg", &info), "");
    EXPECT_EQ(info.drop_width, 2u);
    EXPECT_EQ(info.drop_height, 2u);
    EXPECT_EQ(info.x_crop_offset, 2u);
    EXPECT_EQ(info.output_width, 160u);

    info = jpeg_transform_info{};
    info.transform = JXFORM_DROP;
    info.crop_xoffset = 40;  // moves right to 48
    ASSERT_EQ(Request(dir / "s.jpg", dir / "p.jpg", &info), "");
    EXPECT_EQ(info.x_crop_offset, 3u);
    EXPECT_EQ(info.drop_width, (45u - 8u) / 16u);

    info = jpeg_transform_info{};
    info.transform = JXFORM_DROP;
    info.crop_xoffset = 9;  // 23 - 7 = 16 wide after the shift, 23 - 0 high
    ASSERT_EQ(Request(dir / "s.jpg", dir / "small.jpg", &info), "");
    EXPECT_EQ(info.drop_width, 1u);
    info.crop_xoffset = 17;  // 23 - 15 is less than one iMCU
    info.drop_ptr = nullptr;
    ASSERT_EQ(Request(dir / "s.jpg", dir / "small.jpg", &info), "");
    EXPECT_EQ(info.drop_width, 0u);
}

struct BadRequest {
    const char* what;
    bool drop;
    unsigned w, h, x, y;
};

TEST(Request, InvalidRegionsAreRefused) {
    TempDir dir;
    MakeJpeg(dir / "s.jpg", 160, 96, Sampled(2, 2));
    MakeJpeg(dir / "big.jpg", 161, 32, Sampled(2, 2));
    MakeJpeg(dir / "p.jpg", 32, 32, Sampled(2, 2));
    const BadRequest cases[] = {
        {"past the right edge", false, 40, 30, 121, 0},
        {"past the bottom edge", false, 40, 30, 0, 67},
        {"zero width", false, 0, 30, 0, 0},
        {"zero height", false, 30, 0, 0, 0},
        {"offset outside", false, 10, 10, 160, 0},
        {"wider, source not inside", false, 200, 10, 41, 0},
        {"drop past the right edge", true, 0, 0, 129, 0},
        {"drop past the bottom edge", true, 0, 0, 0, 65},
    };
    for (const BadRequest& c : cases) {
        SCOPED_TRACE(c.what);
        jpeg_transform_info info{};
        info.transform = c.drop ? JXFORM_DROP : JXFORM_NONE;
        info.crop_width = c.w;
        info.crop_height = c.h;
        info.crop_xoffset = c.x;
        info.crop_yoffset = c.y;
        EXPECT_EQ(Request(dir / "s.jpg", c.drop ? dir / "p.jpg" : "", &info), "Invalid crop request");
    }
    jpeg_transform_info info{};
    info.transform = JXFORM_DROP;
    EXPECT_EQ(Request(dir / "s.jpg", dir / "big.jpg", &info), "Invalid crop request");
}

TEST(Request, SamplingMismatchNamesAllSixParameters) {
    TempDir dir;
    MakeJpeg(dir / "s422.jpg", 160, 96, Sampled(2, 1));
    MakeJpeg(dir / "p420.jpg", 32, 32, Sampled(2, 2));
    MakeJpeg(dir / "p444.jpg", 32, 32, Sampled(1, 1));
    jpeg_transform_info info{};
    info.transform = JXFORM_DROP;
    EXPECT_EQ(Request(dir / "s422.jpg", dir / "p420.jpg", &info),
              "Component index 1: mismatching sampling ratio 1:2, 1:1, v");
    info = jpeg_transform_info{};
    info.transform = JXFORM_DROP;
    EXPECT_EQ(Request(dir / "s422.jpg", dir / "p444.jpg", &info),
              "Component index 1: mismatching sampling ratio 1:1, 1:2, h");
    // The same text through the driver, with no output left behind.
    CodecResult r = DropJpegFile(dir / "s422.jpg", dir / "p420.jpg", dir / "out.jpg", 0, 0);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find("Component index 1: mismatching sampling ratio 1:2, 1:1, v"), std::string::npos) << r.error;
    EXPECT_FALSE(fs::exists(dir / "out.jpg"));
}

// Every block's dequantised values, coefficient x table entry.
int Dequantised(const ComponentDump& c, int bx, int by, int k) { return c.At(bx, by, k) * c.table[k]; }

// Outside the dropped area every block decodes as before; inside it, as
// the patch's blocks.
void ExpectLosslessDrop(const JpegDump& src, const JpegDump& patch, const JpegDump& out, int areaX, int areaY,
                        int areaW, int areaH, int imcuW, int imcuH) {
    ASSERT_TRUE(src.ok && patch.ok && out.ok);
    ASSERT_EQ(src.comps.size(), out.comps.size());
    const int hmax = imcuW / 8, vmax = imcuH / 8;
    for (size_t ci = 0; ci < out.comps.size(); ++ci) {
        const ComponentDump &s = src.comps[ci], &o = out.comps[ci];
        const int h = src.comps.size() == 1 ? 1 : s.h, v = src.comps.size() == 1 ? 1 : s.v;
        const int x0 = areaX / imcuW * h, y0 = areaY / imcuH * v;
        const int x1 = x0 + areaW / imcuW * h, y1 = y0 + areaH / imcuH * v;
        (void)hmax, (void)vmax;
        for (int by = 0; by < o.heightInBlocks; ++by)
            for (int bx = 0; bx < o.widthInBlocks; ++bx) {
                const bool inside = bx >= x0 && bx < x1 && by >= y0 && by < y1;
                for (int k = 0; k < 64; ++k) {
                    int expected = 0;
                    if (!inside)
                        expected = Dequantised(s, bx, by, k);
                    else if (ci < patch.comps.size())
                        expected = Dequantised(patch.comps[ci], bx - x0, by - y0, k);
                    if (Dequantised(o, bx, by, k) != expected) {
                        ADD_FAILURE() << "component " << ci << " block (" << bx << "," << by << ") coefficient " << k
                                      << (inside ? " inside" : " outside") << ": " << Dequantised(o, bx, by, k)
                                      << " != " << expected;
                        return;
                    }
                }
            }
    }
}

TEST(Harmonise, DequantisedValuesAreKept) {
    TempDir dir;
    MakeJpeg(dir / "s.jpg", 160, 96, Sampled(2, 2, 85));
    const int qualities[] = {85, 50, 95};
    for (int q : qualities) {
        SCOPED_TRACE(q);
        MakeJpeg(dir / "p.jpg", 50, 40, Sampled(2, 2, q), 3);
        ASSERT_TRUE(DropJpegFile(dir / "s.jpg", dir / "p.jpg", dir / "o.jpg", 32, 16).ok);
        ExpectLosslessDrop(DumpJpeg(dir / "s.jpg"), DumpJpeg(dir / "p.jpg"), DumpJpeg(dir / "o.jpg"), 32, 16, 48, 32,
                           16, 16);
    }
}

TEST(Harmonise, OneDifferingEntryBecomesTheirDivisor) {
    TempDir dir;
    TestJpegOptions so = Sampled(1, 1), po = Sampled(1, 1);
    so.lumaTable = ScaledTable(false, 85);
    so.lumaTable[9] = 5;  // natural order: row 1, column 1
    po.lumaTable = so.lumaTable;
    po.lumaTable[9] = 16;
    so.chromaTable = po.chromaTable = ScaledTable(true, 85);
    MakeJpeg(dir / "s.jpg", 64, 64, so);
    MakeJpeg(dir / "p.jpg", 16, 16, po, 5);
    ASSERT_TRUE(DropJpegFile(dir / "s.jpg", dir / "p.jpg", dir / "o.jpg", 16, 16).ok);
    const JpegDump s = DumpJpeg(dir / "s.jpg"), p = DumpJpeg(dir / "p.jpg"), o = DumpJpeg(dir / "o.jpg");
    ASSERT_TRUE(o.ok);
    for (int k = 0; k < 64; ++k) EXPECT_EQ(o.comps[0].table[k], k == 9 ? 1 : s.comps[0].table[k]) << k;
    EXPECT_EQ(o.comps[1].table, s.comps[1].table);
    EXPECT_EQ(o.comps[0].At(0, 0, 9), 5 * s.comps[0].At(0, 0, 9));
    EXPECT_EQ(o.comps[0].At(2, 2, 9), 16 * p.comps[0].At(0, 0, 9));
    EXPECT_EQ(o.comps[0].At(0, 0, 8), s.comps[0].At(0, 0, 8));

    // A second drop with the same patch: the tables stay, only the patch's
    // coefficients are rescaled.
    ASSERT_TRUE(DropJpegFile(dir / "o.jpg", dir / "p.jpg", dir / "o2.jpg", 40, 40).ok);
    const JpegDump o2 = DumpJpeg(dir / "o2.jpg");
    EXPECT_EQ(o2.comps[0].table, o.comps[0].table);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(o2.comps[0].At(0, 0, i), o.comps[0].At(0, 0, i)) << i;
    EXPECT_EQ(o2.comps[0].At(5, 5, 9), 16 * p.comps[0].At(0, 0, 9));
    if (HaveTool("jpegtran")) {
        Jpegtran("-copy comments -drop +40+40 " + Quote(dir / "p.jpg") + " " + Quote(dir / "o.jpg"), dir / "j.jpg");
        EXPECT_EQ(FirstByteDifference(dir / "j.jpg", dir / "o2.jpg"), "");
    }
}

// All three components share one table in the source (as in many CMYK
// files), while the patch codes luma and chroma with different tables: the
// shared table must divide every patch table involved, or some component
// would be written under a table it was not rescaled to.
TEST(Harmonise, SharedSlotTakesEveryComponentIntoAccount) {
    SCARLEX_REQUIRE_TOOL("cjpeg");
    TempDir dir;
    MakeJpeg(dir / "p.jpg", 32, 32, Sampled(2, 2, 70), 9);
    const std::string ppm = dir / "s.ppm";
    WriteFileBytes(ppm, [] {
        std::string head = "P6\n64 48\n255\n";
        std::vector<uint8_t> b(head.begin(), head.end());
        const Bitmap bmp = MakePhotoLike(64, 48, 4);
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x)
                for (int c = 2; c >= 0; --c) b.push_back(bmp.Row(y)[3 * x + c]);
        return b;
    }());
    ASSERT_EQ(RunShell("cjpeg -sample 2x2 -qslots 0,0,0 -quality 90 " + Quote(ppm) + " > " + Quote(dir / "s.jpg")), 0);
    ASSERT_TRUE(DropJpegFile(dir / "s.jpg", dir / "p.jpg", dir / "o.jpg", 16, 16).ok);
    const JpegDump s = DumpJpeg(dir / "s.jpg"), p = DumpJpeg(dir / "p.jpg"), o = DumpJpeg(dir / "o.jpg");
    ASSERT_NE(p.comps[0].table, p.comps[1].table);
    ExpectLosslessDrop(s, p, o, 16, 16, 32, 32, 16, 16);
}

TEST(Drop, GreyPatchIntoColourAndColourIntoGrey) {
    TempDir dir;
    TestJpegOptions grey;
    grey.grayscale = true;
    MakeJpeg(dir / "sc.jpg", 96, 64, Sampled(2, 2));
    MakeJpeg(dir / "sg.jpg", 96, 64, grey);
    MakeJpeg(dir / "pg.jpg", 32, 32, grey, 4);
    MakeJpeg(dir / "pc.jpg", 32, 32, Sampled(2, 2), 4);
    ASSERT_TRUE(DropJpegFile(dir / "sc.jpg", dir / "pg.jpg", dir / "o1.jpg", 16, 16).ok);
    ExpectLosslessDrop(DumpJpeg(dir / "sc.jpg"), DumpJpeg(dir / "pg.jpg"), DumpJpeg(dir / "o1.jpg"), 16, 16, 32, 32,
                       16, 16);
    ASSERT_TRUE(DropJpegFile(dir / "sg.jpg", dir / "pc.jpg", dir / "o2.jpg", 8, 8).ok);
    ExpectLosslessDrop(DumpJpeg(dir / "sg.jpg"), DumpJpeg(dir / "pc.jpg"), DumpJpeg(dir / "o2.jpg"), 8, 8, 32, 32, 8,
                       8);
}

// Inserts an APP1 segment right after SOI.
void AddExif(const std::string& path) {
    std::vector<uint8_t> b = ReadFileBytes(path);
    const std::vector<uint8_t> app1 = {0xFF, 0xE1, 0x00, 0x0A, 'E', 'x', 'i', 'f', 0, 0, 'M', 'M'};
    b.insert(b.begin() + 2, app1.begin(), app1.end());
    WriteFileBytes(path, b);
}

TEST(Markers, CommentsFollowTheJfifHeaderAndExifIsDropped) {
    TempDir dir;
    TestJpegOptions o = Sampled(2, 2);
    o.comment = "kept comment";
    MakeJpeg(dir / "s.jpg", 64, 64, o);
    AddExif(dir / "s.jpg");
    MakeJpeg(dir / "p.jpg", 32, 32, Sampled(2, 2), 2);
    ASSERT_TRUE(CropJpegFile(dir / "s.jpg", dir / "c.jpg", 20, 20, 17, 3).ok);
    ASSERT_TRUE(DropJpegFile(dir / "s.jpg", dir / "p.jpg", dir / "d.jpg", 16, 16).ok);
    for (const char* name : {"c.jpg", "d.jpg"}) {
        SCOPED_TRACE(name);
        const JpegDump d = DumpJpeg(dir / name);
        ASSERT_TRUE(d.ok) << d.error;
        EXPECT_EQ(d.markers, (std::vector<int>{JPEG_APP0, JPEG_COM}));
        EXPECT_EQ(d.comments, std::vector<std::string>{"kept comment"});
        // Byte layout: SOI, APP0 (JFIF, 18 bytes), then the comment.
        const std::vector<uint8_t> b = ReadFileBytes(dir / name);
        ASSERT_GT(b.size(), 24u);
        EXPECT_EQ(b[20], 0xFF);
        EXPECT_EQ(b[21], 0xFE);
    }
}

TEST(Crop, LargerThanTheSourceIsGreyAround) {
    TempDir dir;
    MakeJpeg(dir / "s.jpg", 40, 24, Sampled(2, 2));  // 2 x 1 whole iMCUs, part of a third column
    ASSERT_TRUE(CropJpegFile(dir / "s.jpg", dir / "o.jpg", 100, 60, 35, 20).ok);
    const JpegDump s = DumpJpeg(dir / "s.jpg"), o = DumpJpeg(dir / "o.jpg");
    ASSERT_TRUE(o.ok);
    EXPECT_EQ(o.width, 100);
    EXPECT_EQ(o.height, 60);
    // Luma: the source's whole iMCUs sit at block (4, 2); the rest is zero.
    for (int by = 0; by < o.comps[0].heightInBlocks; ++by)
        for (int bx = 0; bx < o.comps[0].widthInBlocks; ++bx) {
            const bool inside = bx >= 4 && bx < 8 && by >= 2 && by < 4;
            const int expected = inside ? s.comps[0].At(bx - 4, by - 2, 0) : 0;
            ASSERT_EQ(o.comps[0].At(bx, by, 0), expected) << bx << "," << by;
        }
}

// --- The drivers on bad input: a message, and never an output file ---------

TEST(Drivers, BadInputGivesAMessageAndNoOutput) {
    TempDir dir;
    MakeJpeg(dir / "s.jpg", 64, 48, Sampled(2, 2));
    MakeJpeg(dir / "p.jpg", 32, 32, Sampled(2, 2));
    MakeJpeg(dir / "big.jpg", 80, 32, Sampled(2, 2));
    const std::vector<uint8_t> good = ReadFileBytes(dir / "s.jpg");
    // Cut inside the headers.
    WriteFileBytes(dir / "short.jpg", std::vector<uint8_t>(good.begin(), good.begin() + 120));
    WriteFileBytes(dir / "text.jpg", std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o'});
    // A 0x0 patch: zero the size in its frame header.
    std::vector<uint8_t> zero = ReadFileBytes(dir / "p.jpg");
    for (size_t i = 2; i + 8 < zero.size(); ++i)
        if (zero[i] == 0xFF && zero[i + 1] == 0xC0) {
            zero[i + 5] = zero[i + 6] = zero[i + 7] = zero[i + 8] = 0;
            break;
        }
    WriteFileBytes(dir / "zero.jpg", zero);

    const std::string out = dir / "out.jpg";
    struct Case {
        const char* what;
        CodecResult (*run)(const TempDir&, const std::string&);
        const char* message;
    };
    const Case cases[] = {
        {"missing source", [](const TempDir& d, const std::string& o) { return CropJpegFile(d / "none.jpg", o, 8, 8, 0, 0); },
         "can't open"},
        {"missing patch",
         [](const TempDir& d, const std::string& o) { return DropJpegFile(d / "s.jpg", d / "none.jpg", o, 0, 0); },
         "can't open"},
        {"not a JPEG", [](const TempDir& d, const std::string& o) { return CropJpegFile(d / "text.jpg", o, 8, 8, 0, 0); },
         "Not a JPEG file"},
        {"truncated headers",
         [](const TempDir& d, const std::string& o) { return CropJpegFile(d / "short.jpg", o, 8, 8, 0, 0); }, ""},
        {"0x0 patch", [](const TempDir& d, const std::string& o) { return DropJpegFile(d / "s.jpg", d / "zero.jpg", o, 0, 0); },
         ""},
        {"patch larger than the source",
         [](const TempDir& d, const std::string& o) { return DropJpegFile(d / "s.jpg", d / "big.jpg", o, 0, 0); },
         "Invalid crop request"},
        {"negative offset", [](const TempDir& d, const std::string& o) { return CropJpegFile(d / "s.jpg", o, 8, 8, -1, 0); },
         "Invalid crop request"},
        {"output folder missing",
         [](const TempDir& d, const std::string&) { return CropJpegFile(d / "s.jpg", d / "no/out.jpg", 8, 8, 0, 0); },
         "Can't open output file for writing"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CodecResult r = c.run(dir, out);
        EXPECT_FALSE(r.ok);
        EXPECT_FALSE(r.error.empty());
        EXPECT_EQ(r.error.find('\n'), std::string::npos) << r.error;
        EXPECT_NE(r.error.find(c.message), std::string::npos) << r.error;
        EXPECT_FALSE(fs::exists(out));
    }
    // Nothing else appeared in the folder (no temporary left behind).
    int files = 0;
    for (const auto& e : fs::directory_iterator(dir.path())) files += e.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, 6);
}

TEST(Drivers, TablesTheSourceCannotHandOnNameTheSource) {
    // A progressive file whose table slot 0 is redefined after its first
    // scan: libjpeg cannot transcode it, and says so through the output's
    // error manager.
    TempDir dir;
    TestJpegOptions o = Sampled(2, 2);
    o.progressive = true;
    MakeJpeg(dir / "s.jpg", 64, 48, o);
    MakeJpeg(dir / "p.jpg", 16, 16, Sampled(2, 2));
    std::vector<uint8_t> b = ReadFileBytes(dir / "s.jpg");
    int scans = 0;
    for (size_t i = 2; i + 1 < b.size(); ++i)
        if (b[i] == 0xFF && b[i + 1] == 0xDA && ++scans == 2) {
            std::vector<uint8_t> dqt(5 + 64, 3);  // table 0, every entry 3
            dqt[0] = 0xFF, dqt[1] = 0xDB, dqt[2] = 0x00, dqt[3] = 0x43, dqt[4] = 0x00;
            b.insert(b.begin() + static_cast<std::ptrdiff_t>(i), dqt.begin(), dqt.end());
            break;
        }
    ASSERT_EQ(scans, 2);
    const std::string source = dir / "reused.jpg";
    WriteFileBytes(source, b);
    for (const CodecResult& r : {CropJpegFile(source, dir / "out.jpg", 16, 16, 0, 0),
                                 DropJpegFile(source, dir / "p.jpg", dir / "out.jpg", 16, 16)}) {
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error.rfind(source + ": ", 0), 0u) << r.error;
        EXPECT_NE(r.error.find("quantization table"), std::string::npos) << r.error;
        EXPECT_FALSE(fs::exists(dir / "out.jpg"));
    }
}

TEST(Drivers, FailureLeavesAnExistingOutputAlone) {
    TempDir dir;
    MakeJpeg(dir / "s.jpg", 64, 48, Sampled(2, 2));
    WriteFileBytes(dir / "out.jpg", std::vector<uint8_t>{1, 2, 3});
    EXPECT_FALSE(CropJpegFile(dir / "s.jpg", dir / "out.jpg", 65, 8, 2, 0).ok);
    EXPECT_EQ(ReadFileBytes(dir / "out.jpg"), (std::vector<uint8_t>{1, 2, 3}));
    // Success replaces it, with the usual permissions.
    ASSERT_TRUE(CropJpegFile(dir / "s.jpg", dir / "out.jpg", 64, 8, 0, 0).ok);
    struct stat st {};
    ASSERT_EQ(::stat((dir / "out.jpg").c_str(), &st), 0);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
    // The output may replace the source itself.
    ASSERT_TRUE(CropJpegFile(dir / "out.jpg", dir / "out.jpg", 16, 8, 0, 0).ok);
    EXPECT_EQ(DumpJpeg(dir / "out.jpg").width, 16);
}

TEST(Drivers, TruncatedScanWarnsAndGoesOn) {
    TempDir dir;
    MakeJpeg(dir / "s.jpg", 64, 48, Sampled(2, 2));
    std::vector<uint8_t> b = ReadFileBytes(dir / "s.jpg");
    b.resize(b.size() - 300);
    WriteFileBytes(dir / "t.jpg", b);
    CodecResult r = CropJpegFile(dir / "t.jpg", dir / "o.jpg", 32, 32, 0, 0);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_GE(r.warningCount, 1);
    EXPECT_TRUE(DumpJpeg(dir / "o.jpg").ok);
}

TEST(Cli, CropAndDropCommands) {
    TempDir dir;
    MakeJpeg(dir / "s.jpg", 64, 48, Sampled(2, 2));
    MakeJpeg(dir / "p.jpg", 32, 32, Sampled(2, 2), 2);
    const std::string cli = Quote(CliPath());
    EXPECT_EQ(RunShell(cli + " crop " + Quote(dir / "s.jpg") + " " + Quote(dir / "c.jpg") + " 20x20+17+3"), 0);
    EXPECT_EQ(DumpJpeg(dir / "c.jpg").width, 21);
    EXPECT_EQ(RunShell(cli + " drop " + Quote(dir / "s.jpg") + " " + Quote(dir / "p.jpg") + " " + Quote(dir / "d.jpg") +
                       " +16+16"),
              0);
    EXPECT_TRUE(DumpJpeg(dir / "d.jpg").ok);
    for (const std::string& bad : {std::string(" crop ") + Quote(dir / "s.jpg") + " " + Quote(dir / "x.jpg") + " 65x8+2+0",
                                   std::string(" crop ") + Quote(dir / "s.jpg") + " " + Quote(dir / "x.jpg") + " 8x8",
                                   std::string(" drop ") + Quote(dir / "s.jpg") + " " + Quote(dir / "none.jpg") + " " +
                                       Quote(dir / "x.jpg") + " +0+0"}) {
        SCOPED_TRACE(bad);
        std::string err;
        EXPECT_EQ(RunShell(cli + bad + " 2>&1 >/dev/null | wc -l", &err), 0);
        EXPECT_EQ(err, "1\n");
        EXPECT_NE(RunShell(cli + bad + " 2>/dev/null"), 0);
        EXPECT_FALSE(fs::exists(dir / "x.jpg"));
    }
}

}  // namespace
}  // namespace scarlex::test
