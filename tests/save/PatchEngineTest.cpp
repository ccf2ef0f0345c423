// The one-pass save engine: areas encoded alone against the full
// re-encode, default mode against the crop-and-drop chain byte for byte,
// keep-quality coding, real photographs, and damaged or mismatched input.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "codec/JpegCodec.h"
#include "editing/EditScript.h"
#include "save/EngineTestSupport.h"
#include "save/PatchChain.h"
#include "save/PatchEngine.h"

namespace scarlex::test {
namespace {

std::string Name(const testing::TestParamInfo<Layout>& info) { return info.param.name; }

// --- An area encoded alone ------------------------------------------------

class AreaAlone : public testing::TestWithParam<Layout> {};

// Every block of an area on the grid, interior or at an edge (partial
// iMCUs included), holds what the full re-encode holds there.
TEST_P(AreaAlone, GivesTheFullReencodesCoefficients) {
    const Layout& layout = GetParam();
    const int W = 203, H = 141;  // partial iMCUs at the right and bottom for every grid
    const Bitmap bmp = MakePhotoLike(W, H, 7);
    TempDir dir;
    ASSERT_TRUE(EncodeBitmapToJpeg(dir / "full.jpg", bmp, layout.AsSampling()).ok);
    const CoefficientImage full = ReadCoefficients(dir / "full.jpg");
    ASSERT_TRUE(full.ok) << full.error;

    AreaCoding coding;
    coding.components = layout.components;
    for (int c = 0; c < 3; ++c) coding.h[c] = layout.h[c], coding.v[c] = layout.v[c];
    const int dw = layout.ImcuWidth(), dh = layout.ImcuHeight();
    const int lastX = (W - 1) / dw * dw, lastY = (H - 1) / dh * dh;
    const PatchArea areas[] = {
        {dw, dh, 2 * dw, dh},                   // interior
        {lastX - dw, dh, W - (lastX - dw), dh},  // to the right edge
        {0, lastY, dw, H - lastY},               // to the bottom edge
        {lastX, lastY, W - lastX, H - lastY},    // the partial corner iMCU
        {0, 0, W, H},                            // everything
    };
    for (const PatchArea& a : areas) {
        SCOPED_TRACE(testing::Message() << "area " << a.width << "x" << a.height << "+" << a.x << "+" << a.y);
        std::vector<uint8_t> jpeg;
        CodecResult r = EncodeArea(bmp, a, coding, jpeg);
        ASSERT_TRUE(r.ok) << r.error;
        const CoefficientImage part = CoefficientsOf(jpeg);
        ASSERT_TRUE(part.ok) << part.error;
        ASSERT_EQ(part.components.size(), std::size_t(layout.components));
        for (std::size_t ci = 0; ci < part.components.size(); ++ci) {
            const ComponentCoefficients& p = part.components[ci];
            const ComponentCoefficients& f = full.components[ci];
            EXPECT_EQ(p.quant, f.quant) << "component " << ci;
            // In a colour layout a component's blocks per iMCU are its
            // factors; alone, one component is its own 8 x 8 grid.
            const int hx = layout.components == 1 ? 1 : f.h, vy = layout.components == 1 ? 1 : f.v;
            const int bx0 = a.x / dw * hx, by0 = a.y / dh * vy;
            const int bx1 = std::min(f.widthInBlocks, bx0 + (a.width + dw - 1) / dw * hx);
            const int by1 = std::min(f.heightInBlocks, by0 + (a.height + dh - 1) / dh * vy);
            ASSERT_EQ(p.widthInBlocks, bx1 - bx0) << "component " << ci;
            ASSERT_EQ(p.heightInBlocks, by1 - by0) << "component " << ci;
            for (int by = by0; by < by1; ++by)
                for (int bx = bx0; bx < bx1; ++bx)
                    for (int k = 0; k < 64; ++k)
                        ASSERT_EQ(p.Block(bx - bx0, by - by0)[k], f.Block(bx, by)[k])
                            << "component " << ci << " block " << bx << "," << by << " coefficient " << k;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, AreaAlone,
                         testing::Values(ColourLayout("s420", 2, 2), ColourLayout("s422", 2, 1), ColourLayout("s444", 1, 1),
                                         ColourLayout("s440", 1, 2), ColourLayout("s411", 4, 1), ColourLayout("s14", 1, 4),
                                         ColourLayout("s42", 4, 2), ColourLayout("s31", 3, 1),
                                         ColourLayout("odd", 2, 2, 1, 2, 1, 2), GreyLayout("grey"),
                                         GreyLayout("grey22", 2, 2)),
                         Name);

// --- Default mode: the chain's bytes --------------------------------------

struct ChainCase {
    Layout layout;
    int width, height;
};

void PrintTo(const ChainCase& c, std::ostream* os) { *os << c.layout.name; }

class DefaultMode : public testing::TestWithParam<ChainCase> {
protected:
    // Runs the chain on a copy of the same original with the same edits.
    std::vector<uint8_t> Chain(const std::vector<uint8_t>& original, const Bitmap& bmp, const Sampling& s,
                               const std::vector<Rect>& rows) {
        TempDir dir;
        WriteFileBytes(dir / "orig.jpg", original);
        EXPECT_TRUE(EncodeBitmapToJpeg(dir / "full.jpg", bmp, s).ok);
        std::string result;
        CodecResult r = BuildPatchedFile(dir / "orig.jpg", dir / "full.jpg", rows, dir.path().string(), &result);
        EXPECT_TRUE(r.ok) << r.error;
        return r.ok ? ReadFileBytes(result) : std::vector<uint8_t>{};
    }
};

TEST_P(DefaultMode, WritesTheChainsBytes) {
    const ChainCase& c = GetParam();
    Bitmap bmp = MakePhotoLike(c.width, c.height, 11);
    const std::vector<uint8_t> original = EncodeLayout(bmp, c.layout, "first comment");
    ASSERT_FALSE(original.empty());
    TempDir dir;
    WriteFileBytes(dir / "orig.jpg", original);
    Sampling s;
    ASSERT_TRUE(DecodeJpegToBitmap(dir / "orig.jpg", bmp, s).ok);

    std::vector<Rect> twenty;
    for (int i = 0; i < 20; ++i) {
        const int x = (i * 37) % (c.width - 8), y = (i * 23) % (c.height - 6);
        twenty.push_back({x, y, x + 3 + i % 9, y + 2 + i % 7});
    }
    const std::vector<std::pair<const char*, std::vector<Rect>>> edits = {
        {"one", {{37, 21, 52, 33}}},
        {"two", {{5, 5, 9, 9}, {60, 40, 75, 47}}},
        {"twenty", twenty},
        {"overlapping", {{20, 20, 50, 40}, {30, 25, 60, 60}, {20, 20, 50, 40}}},
        {"edges", {{c.width - 3, 0, c.width + 9, 4}, {-5, c.height - 2, 6, c.height + 7}}},
    };
    Bitmap edited = bmp;
    std::vector<Rect> rows;
    for (const auto& [name, add] : edits) {
        SCOPED_TRACE(name);
        for (const Rect& r : add) {
            GreyRect(edited, r);
            rows.push_back(r);
        }
        std::vector<uint8_t> ours, fromFile;
        PatchEngineReport report;
        CodecResult r = BuildPatchedJpeg(original, edited, s, rows, PatchMode::Default, ours, &report);
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(report.appliedRows, int(rows.size()));
        EXPECT_TRUE(ours == Chain(original, edited, s, rows)) << "differs from the chain's output";
        r = BuildPatchedJpegFromFile(dir / "orig.jpg", edited, s, rows, PatchMode::Default, fromFile);
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_TRUE(fromFile == ours) << "reading from the file gives other bytes";
    }
}

ChainCase Case(Layout l, int w = 160, int h = 128) { return {l, w, h}; }
Layout Progressive(Layout l) {
    l.progressive = true;
    return l;
}
Layout Restarts(Layout l, int interval) {
    l.restart = interval;
    return l;
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, DefaultMode,
    testing::Values(Case(ColourLayout("s420", 2, 2)), Case(ColourLayout("s422", 2, 1), 203, 141),
                    Case(ColourLayout("s444", 1, 1)), Case(ColourLayout("s440", 1, 2), 131, 99),
                    Case(GreyLayout("grey"), 150, 77), Case(Progressive(ColourLayout("s420p", 2, 2)), 227, 149),
                    Case(Progressive(GreyLayout("greyp"))), Case(Restarts(ColourLayout("s422r", 2, 1), 3)),
                    Case(Restarts(Progressive(ColourLayout("s444pr", 1, 1)), 5), 99, 70)),
    [](const testing::TestParamInfo<ChainCase>& info) { return info.param.layout.name; });

// --- Keep quality: how the file is coded ----------------------------------

struct CodingCase {
    Layout layout;
    bool progressive, originalHuffman, optimised, arithmetic;
};

void PrintTo(const CodingCase& c, std::ostream* os) { *os << c.layout.name; }

class KeepQualityCoding : public testing::TestWithParam<CodingCase> {};

// The original's kind of coding is kept, and re-coding areas whose pixels
// did not change does not grow the file. (Blocks and pixels: the sweep and
// the photographs.)
TEST_P(KeepQualityCoding, KeepsTheOriginalsCoding) {
    const CodingCase& c = GetParam();
    Bitmap bmp = MakePhotoLike(256, 192, 5);
    const std::vector<uint8_t> original = EncodeLayout(bmp, c.layout, "kept");
    ASSERT_FALSE(original.empty());
    TempDir dir;
    WriteFileBytes(dir / "orig.jpg", original);
    Sampling s;
    ASSERT_TRUE(DecodeJpegToBitmap(dir / "orig.jpg", bmp, s).ok);
    const std::vector<Rect> rows = {{100, 80, 132, 112}, {3, 150, 20, 192}};
    std::vector<uint8_t> out;
    PatchEngineReport report;
    CodecResult r = BuildPatchedJpeg(original, bmp, s, rows, PatchMode::KeepQuality, out, &report);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_LE(out.size(), original.size() + original.size() / 500) << "the coding alone grows the file";
    EXPECT_EQ(report.progressive, c.progressive);
    EXPECT_EQ(report.originalHuffman, c.originalHuffman);
    EXPECT_EQ(report.optimisedHuffman, c.optimised);
    EXPECT_EQ(report.arithmetic, c.arithmetic);
    EXPECT_EQ(report.restartInterval, unsigned(c.layout.restart));
    WriteFileBytes(dir / "out.jpg", out);
    JpegInfo info;
    ASSERT_TRUE(ReadJpegInfo(dir / "out.jpg", info).ok);
    EXPECT_EQ(info.progressive, c.progressive);
    EXPECT_EQ(info.arithmetic, c.arithmetic);
}

Layout Optimised(Layout l) {
    l.optimize = true;
    return l;
}
Layout Arithmetic(Layout l) {
    l.arithmetic = true;
    return l;
}

INSTANTIATE_TEST_SUITE_P(
    Codings, KeepQualityCoding,
    testing::Values(CodingCase{ColourLayout("standard", 2, 2), false, true, false, false},
                    CodingCase{Optimised(ColourLayout("optimised", 2, 1)), false, false, true, false},
                    CodingCase{Restarts(ColourLayout("restarts", 2, 2), 7), false, true, false, false},
                    CodingCase{Progressive(ColourLayout("progressive", 2, 2)), true, false, true, false},
                    CodingCase{Restarts(Progressive(GreyLayout("greyprogressive")), 4), true, false, true, false},
                    CodingCase{Arithmetic(ColourLayout("arithmetic", 1, 1)), false, false, false, true},
                    CodingCase{Arithmetic(Progressive(ColourLayout("arithprogressive", 2, 2))), true, false, false, true}),
    [](const testing::TestParamInfo<CodingCase>& info) { return info.param.layout.name; });

// --- Real photographs -----------------------------------------------------

// One grey circle of radius 16 in the middle of every camera photograph:
// the image data may grow by max(0.5 %, 2 KB) at most, every untouched
// block keeps its quantised values and tables, and the decoded pixels away
// from the edit are the original's.
TEST(KeepQualityPhotographs, AGreyCircleBarelyChangesTheSize) {
    const std::vector<std::string> photos = TestDataJpegs();
    if (photos.empty()) GTEST_SKIP() << "shared test data not present";
    int checked = 0;
    for (const std::string& path : photos) {
        SCOPED_TRACE(path);
        Bitmap bmp;
        Sampling s;
        const CodecResult loaded = DecodeJpegToBitmap(path, bmp, s);
        if (!loaded.ok) continue;  // not a photograph we open
        const Bitmap decoded = bmp;
        DBUndoTable undo;
        EditSession session(bmp, undo);
        EditStep circle;
        circle.kind = EditStepKind::Circle;
        circle.x = bmp.Width() / 2, circle.y = bmp.Height() / 2, circle.r = 16;
        ASSERT_EQ(session.Apply(circle), "");
        const std::vector<Rect> rows = undo.Rectangles();
        ASSERT_EQ(rows.size(), 1u);

        const std::vector<uint8_t> original = ReadFileBytes(path);
        std::vector<uint8_t> out;
        PatchEngineReport report;
        CodecResult r = BuildPatchedJpeg(original, bmp, s, rows, PatchMode::KeepQuality, out, &report);
        ASSERT_TRUE(r.ok) << r.error;
        const long before = ImageDataSize(original), after = ImageDataSize(out);
        const long allowed = std::max(before / 200, 2048L);
        std::printf("%-40s image data %9ld -> %9ld bytes (%+.3f %%)\n", fs::path(path).filename().c_str(), before, after,
                    100.0 * double(after - before) / double(before));
        // A damaged original comes back whole: it may grow.
        if (loaded.warnings.empty()) {
            EXPECT_LE(after - before, allowed);
        }

        TempDir dir;
        WriteFileBytes(dir / "out.jpg", out);
        const CoefficientImage got = ReadCoefficients(dir / "out.jpg"), orig = ReadCoefficients(path);
        // Away from the edit: the original's quantised values and tables.
        EXPECT_EQ(CompareBlocks(got, orig, got, rows, true), "");
        Bitmap saved;
        Sampling ss;
        ASSERT_TRUE(DecodeJpegToBitmap(dir / "out.jpg", saved, ss).ok);
        const PatchArea& a = report.areas.at(0);
        for (int y = 0; y < saved.Height(); y += 1)
            for (int x = 0; x < saved.Width(); ++x) {
                if (x >= a.x - 16 && x < a.x + a.width + 16 && y >= a.y - 16 && y < a.y + a.height + 16) continue;
                ASSERT_EQ(std::memcmp(saved.Pixel(x, y), decoded.Pixel(x, y), 3), 0) << "pixel " << x << "," << y;
            }
        ++checked;
    }
    EXPECT_GT(checked, 10);
}

// --- What the engine refuses, and what it leaves alone --------------------

TEST(PatchEngineInput, NothingToReplaceGivesTheOriginalsBytes) {
    const Bitmap bmp = MakePhotoLike(64, 48, 2);
    const std::vector<uint8_t> original = EncodeLayout(bmp, ColourLayout("s420", 2, 2));
    for (PatchMode mode : {PatchMode::Default, PatchMode::KeepQuality}) {
        for (const std::vector<Rect>& rows : {std::vector<Rect>{}, std::vector<Rect>{{70, 10, 90, 20}, {-9, -9, 0, 5}}}) {
            std::vector<uint8_t> out;
            PatchEngineReport report;
            ASSERT_TRUE(BuildPatchedJpeg(original, bmp, Sampling{}, rows, mode, out, &report).ok);
            EXPECT_TRUE(report.unchanged);
            EXPECT_EQ(out, original);
        }
    }
}

TEST(PatchEngineInput, MismatchedOrDamagedInputIsRefusedWithAReason) {
    Bitmap bmp = MakePhotoLike(64, 48, 2);
    const std::vector<uint8_t> original = EncodeLayout(bmp, ColourLayout("s420", 2, 2));
    const std::vector<Rect> rows = {{10, 10, 20, 20}};
    std::vector<uint8_t> out = {1, 2, 3};
    auto refused = [&](const std::vector<uint8_t>& bytes, const Bitmap& b, const Sampling& s) {
        CodecResult r = BuildPatchedJpeg(bytes, b, s, rows, PatchMode::Default, out);
        EXPECT_FALSE(r.ok);
        EXPECT_FALSE(r.error.empty());
        return r.error;
    };
    EXPECT_NE(refused(original, MakePhotoLike(64, 40, 2), Sampling{}).find("size"), std::string::npos);
    EXPECT_NE(refused(original, bmp, Sampling{{2, 1, 1, 1, 1, 1}}).find("sampling"), std::string::npos);
    refused({original.begin(), original.begin() + 100}, bmp, Sampling{});  // header cut short
    refused({'P', 'N', 'G', 0}, bmp, Sampling{});
    EXPECT_FALSE(BuildPatchedJpegFromFile("/no/such/file.jpg", bmp, Sampling{}, rows, PatchMode::Default, out).ok);

    EXPECT_EQ(out, (std::vector<uint8_t>{1, 2, 3})) << "a failure must leave the output alone";

    // A zero table entry (a hostile file) cannot be coded with; the default
    // mode's common tables can.
    std::vector<uint8_t> zero = original;
    for (std::size_t i = 0; i + 5 < zero.size(); ++i)
        if (zero[i] == 0xFF && zero[i + 1] == 0xDB) {
            zero[i + 5 + 10] = 0;  // an entry of the first table
            break;
        }
    EXPECT_FALSE(BuildPatchedJpeg(zero, bmp, Sampling{}, rows, PatchMode::KeepQuality, out).ok);
    EXPECT_TRUE(BuildPatchedJpeg(zero, bmp, Sampling{}, rows, PatchMode::Default, out).ok);

    // Scan data cut short decodes with a warning; the save goes on and says so.
    std::vector<uint8_t> cut(original.begin(), original.begin() + long(original.size()) * 2 / 3);
    CodecResult r = BuildPatchedJpeg(cut, bmp, Sampling{}, rows, PatchMode::KeepQuality, out);
    EXPECT_TRUE(r.ok) << r.error;
    EXPECT_FALSE(r.warnings.empty());
}

// An RGB-coded original gets its areas coded as RGB, not as YCbCr blocks
// that would decode in the wrong colours.
TEST(PatchEngineInput, AnRgbOriginalKeepsItsColours) {
    Layout rgb = ColourLayout("rgb", 1, 1);
    rgb.rgb = true;
    Bitmap bmp = MakePhotoLike(96, 64, 4);
    const std::vector<uint8_t> original = EncodeLayout(bmp, rgb);
    TempDir dir;
    WriteFileBytes(dir / "orig.jpg", original);
    Sampling s;
    ASSERT_TRUE(DecodeJpegToBitmap(dir / "orig.jpg", bmp, s).ok);
    const Rect row{30, 20, 60, 44};
    for (int y = row.top; y < row.bottom; ++y)
        for (int x = row.left; x < row.right; ++x) {
            uint8_t* p = bmp.Pixel(x, y);
            p[0] = 200, p[1] = 30, p[2] = 10;  // strong blue
        }
    for (PatchMode mode : {PatchMode::Default, PatchMode::KeepQuality}) {
        std::vector<uint8_t> out;
        ASSERT_TRUE(BuildPatchedJpeg(original, bmp, s, {row}, mode, out).ok);
        WriteFileBytes(dir / "out.jpg", out);
        Bitmap saved;
        Sampling ss;
        ASSERT_TRUE(DecodeJpegToBitmap(dir / "out.jpg", saved, ss).ok);
        const uint8_t* p = saved.Pixel(45, 32);
        EXPECT_NEAR(p[0], 200, 12);
        EXPECT_NEAR(p[1], 30, 12);
        EXPECT_NEAR(p[2], 10, 12);
    }
}

}  // namespace
}  // namespace scarlex::test
