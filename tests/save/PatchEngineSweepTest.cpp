// Every sampling the decoder accepts, with edits at each phase of the iMCU
// and at every edge, in both modes: every block that holds an edited pixel
// comes from the edited picture, every block away from the edits keeps the
// original's values (default: dequantised; keep quality: quantised, with
// the original's tables). Built twice: a few phases for the default run
// and, with SCARLEX_ENGINE_LONG, every phase.

#include <gtest/gtest.h>

#include "codec/JpegCodec.h"
#include "save/EngineTestSupport.h"
#include "save/PatchEngine.h"

namespace scarlex::test {
namespace {

#ifdef SCARLEX_ENGINE_LONG
constexpr bool kLong = true;
#define SWEEP LongSweep
#else
constexpr bool kLong = false;
#define SWEEP Sweep
#endif

std::vector<Layout> Samplings() {
    std::vector<Layout> out;
    for (int h = 1; h <= 4; ++h)
        for (int v = 1; v <= 4; ++v) out.push_back(ColourLayout("luma" + std::to_string(h) + "x" + std::to_string(v), h, v));
    out.push_back(ColourLayout("odd2x2_1x2_1x2", 2, 2, 1, 2, 1, 2));
    out.push_back(ColourLayout("odd2x1_1x2_1x2", 2, 1, 1, 2, 1, 2));
    out.push_back(ColourLayout("odd1x1_2x2_1x1", 1, 1, 2, 2, 1, 1));
    for (int f : {1, 2, 4}) out.push_back(GreyLayout("grey" + std::to_string(f) + "x" + std::to_string(f), f, f));
    out.push_back(GreyLayout("grey3x1", 3, 1));
    return out;
}

class EverySampling : public testing::TestWithParam<Layout> {
protected:
    void SetUp() override {
        const Layout& layout = GetParam();
        dw = layout.ImcuWidth();
        dh = layout.ImcuHeight();
        // Partial iMCUs at the right and bottom edges.
        width = 4 * dw + 3;
        height = 4 * dh + 5;
        Bitmap picture = MakePhotoLike(width, height, 9);
        original = EncodeLayout(picture, layout, "sweep");
        if (original.empty()) return;
        WriteFileBytes(dir / "orig.jpg", original);
        ASSERT_TRUE(DecodeJpegToBitmap(dir / "orig.jpg", decoded, sampling).ok);
        originalBlocks = ReadCoefficients(dir / "orig.jpg");
        ASSERT_TRUE(originalBlocks.ok);
        keepTables = layout;
        for (const ComponentCoefficients& c : originalBlocks.components) {
            std::array<uint16_t, 64> t{};
            for (int k = 0; k < 64; ++k) t[std::size_t(k)] = uint16_t(c.quant[std::size_t(k)]);
            keepTables.tables.push_back(t);
        }
    }

    // Saves `rows` in both modes and checks every block.
    void Check(const std::vector<Rect>& rows) {
        Bitmap edited = decoded;
        for (const Rect& r : rows) GreyRect(edited, r);
        for (PatchMode mode : {PatchMode::Default, PatchMode::KeepQuality}) {
            SCOPED_TRACE(mode == PatchMode::Default ? "default" : "keep quality");
            std::vector<uint8_t> out;
            CodecResult r = BuildPatchedJpeg(original, edited, sampling, rows, mode, out);
            ASSERT_TRUE(r.ok) << r.error;
            std::vector<uint8_t> reference;
            if (mode == PatchMode::KeepQuality) {
                reference = EncodeLayout(edited, keepTables);
            } else if (EncodeBitmapToJpeg(dir / "full.jpg", edited, sampling).ok) {
                reference = ReadFileBytes(dir / "full.jpg");
            } else {
                // Factors the re-encode cannot write in one scan: a plain
                // quality-75 encode (luma only for greyscale) gives the same.
                Layout q75 = GetParam().components == 1 ? GreyLayout("q75") : GetParam();
                q75.quality = 75;
                reference = EncodeLayout(edited, q75);
            }
            ASSERT_FALSE(reference.empty());
            ASSERT_EQ(CompareBlocks(CoefficientsOf(out), originalBlocks, CoefficientsOf(reference), rows,
                                    mode == PatchMode::KeepQuality),
                      "");
        }
    }

    TempDir dir;
    int dw = 8, dh = 8, width = 0, height = 0;
    std::vector<uint8_t> original;
    Bitmap decoded;
    Sampling sampling;
    CoefficientImage originalBlocks;
    Layout keepTables;
};

TEST_P(EverySampling, EditsAtEveryPhaseReachTheOutput) {
    ASSERT_FALSE(original.empty());
    std::vector<std::pair<int, int>> phases = {{0, 0}, {1, dh - 1}, {dw / 2, 1}, {dw - 1, dh / 2}};
    if (kLong) {
        phases.clear();
        for (int p = 0; p < dw; ++p) phases.push_back({p, p % dh});
        for (int p = 0; p < dh; ++p) phases.push_back({dw - 1 - p % dw, p});
    }
    for (const auto& [px, py] : phases)
        for (const auto& [w, h] : {std::pair{1, 1}, std::pair{dw + 3, 2}}) {
            SCOPED_TRACE(testing::Message() << "phase " << px << "," << py << " size " << w << "x" << h);
            Check({{dw + px, dh + py, dw + px + w, dh + py + h}});
        }
}

TEST_P(EverySampling, EditsAtEveryEdgeReachTheOutput) {
    ASSERT_FALSE(original.empty());
    const int W = width, H = height;
    Check({{0, 2 * dh, 1, 2 * dh + 1},            // left edge
           {W - 1, dh + 1, W, dh + 4},            // right edge, in the partial iMCU
           {dw + 2, 0, dw + 5, 1},                // top edge
           {2 * dw + 1, H - 1, 2 * dw + 9, H},    // bottom edge, in the partial iMCU
           {W - 2, H - 2, W + 20, H + 20},        // past the bottom right corner
           {-15, -15, 3, 2}});                    // past the top left corner
    // Edits in the last whole iMCU before a partial one.
    const int lx = (W / dw - 1) * dw, ly = (H / dh - 1) * dh;
    Check({{lx + dw - 1, ly, lx + dw, ly + dh}});
    Check({{lx, ly + dh - 1, lx + dw, ly + dh}});
}

INSTANTIATE_TEST_SUITE_P(SWEEP, EverySampling, testing::ValuesIn(Samplings()),
                         [](const testing::TestParamInfo<Layout>& info) { return info.param.name; });

}  // namespace
}  // namespace scarlex::test
