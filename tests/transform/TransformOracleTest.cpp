// Crop and drop against jpegtran, which implements the same operations:
// for every request both accept the bytes must be identical, and every
// request jpegtran refuses we refuse too. Built twice: a short sweep for
// the default run and, with SCARLEX_TRANSFORM_LONG, the full one.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "transform/LosslessFiles.h"
#include "transform/TransformSupport.h"

namespace scarlex::test {
namespace {

#ifdef SCARLEX_TRANSFORM_LONG
constexpr bool kLong = true;
#define SWEEP LongSweep
#else
constexpr bool kLong = false;
#define SWEEP Sweep
#endif

struct SourceKind {
    const char* name;
    int width, height;
    int h0, v0;  // luma factors; chroma 1x1
    bool grey, progressive;
    int restart;
    const char* comment;
    int imcuW() const { return grey ? 8 : 8 * h0; }
    int imcuH() const { return grey ? 8 : 8 * v0; }
    TestJpegOptions Options(int quality = 85) const {
        TestJpegOptions o;
        o.quality = quality;
        o.h[0] = h0;
        o.v[0] = v0;
        o.h[1] = o.h[2] = o.v[1] = o.v[2] = 1;
        o.grayscale = grey;
        o.progressive = progressive;
        o.restartInterval = restart;
        o.comment = comment;
        return o;
    }
};

const SourceKind kSources[] = {
    {"s444", 227, 149, 1, 1, false, false, 0, ""},    {"s422", 200, 120, 2, 1, false, false, 0, "note"},
    {"s420p", 227, 149, 2, 2, false, true, 0, ""},    {"s440r", 131, 99, 1, 2, false, false, 1, ""},
    {"grey", 150, 77, 1, 1, true, false, 0, ""},      {"s420r", 96, 64, 2, 2, false, false, 2, "two\ncomments"},
    {"greyp", 61, 45, 1, 1, true, true, 0, "grey"},
};

std::string Name(const testing::TestParamInfo<SourceKind>& info) { return info.param.name; }
void PrintTo(const SourceKind& k, std::ostream* os) { *os << k.name; }

class CropOracle : public testing::TestWithParam<SourceKind> {};

// Every pair of the given offsets; the long sweep adds every offset 0..17
// in x against each given y, and in y against each given x.
std::vector<std::pair<unsigned, unsigned>> Offsets(const std::vector<unsigned>& some) {
    std::vector<std::pair<unsigned, unsigned>> out;
    for (unsigned y : some)
        for (unsigned x : some) out.emplace_back(x, y);
    if (kLong)
        for (unsigned i = 0; i <= 17; ++i)
            for (unsigned j : some) {
                out.emplace_back(i, j);
                out.emplace_back(j, i);
            }
    return out;
}

std::vector<unsigned> Sizes(int imcu, int extent, unsigned offset) {
    std::vector<unsigned> s = {1, unsigned(imcu), unsigned(imcu + 1), unsigned(extent) + 3};
    if (kLong) s.insert(s.end(), {unsigned(imcu - 1), unsigned(2 * imcu + 1)});
    if (offset < unsigned(extent)) {
        s.push_back(unsigned(extent) - offset);      // reaches the far edge
        s.push_back(unsigned(extent) - offset + 1);  // one past it
    }
    return s;
}

TEST_P(CropOracle, SameBytesAsJpegtran) {
    SCARLEX_REQUIRE_TOOL("jpegtran");
    const SourceKind& k = GetParam();
    TempDir dir;
    const std::string src = dir / "src.jpg", ours = dir / "ours.jpg", theirs = dir / "theirs.jpg";
    MakeJpeg(src, k.width, k.height, k.Options());
    int accepted = 0, refused = 0;
    for (const auto& [x, y] : Offsets({0, 9, 17}))
            for (unsigned w : Sizes(k.imcuW(), k.width, x))
                for (unsigned h : Sizes(k.imcuH(), k.height, y)) {
                    const std::string g =
                        std::to_string(w) + "x" + std::to_string(h) + "+" + std::to_string(x) + "+" + std::to_string(y);
                    SCOPED_TRACE(g);
                    std::remove(ours.c_str());
                    const int rc = Jpegtran("-copy comments -crop " + g + " " + Quote(src), theirs);
                    CodecResult r = CropJpegFile(src, ours, int(w), int(h), int(x), int(y));
                    if (rc != 0) {
                        ++refused;
                        EXPECT_FALSE(r.ok);
                        EXPECT_FALSE(fs::exists(ours));
                        continue;
                    }
                    ++accepted;
                    ASSERT_TRUE(r.ok) << r.error;
                    ASSERT_EQ(FirstByteDifference(theirs, ours), "");
                }
    EXPECT_GT(accepted, 0);
    EXPECT_GT(refused, 0);
}

INSTANTIATE_TEST_SUITE_P(SWEEP, CropOracle, testing::ValuesIn(kSources), Name);

// Patches coded in several ways, each dropped at many places into each
// source kind.
struct PatchKind {
    const char* name;
    int width, height;
    int quality;          // 0: the source's own tables
    int oneEntryDiffers;  // with quality 0: change luma entry 1 to this
    bool grey;            // single component
    bool sameSampling;    // else 4:4:4 colour
};

const PatchKind kPatches[] = {
    {"same45x35", 45, 35, 0, 0, false, true},  {"oneEntry81", 81, 81, 0, 16, false, true},
    {"q50_17x9", 17, 9, 50, 0, false, true},   {"q60_16", 16, 16, 60, 0, false, true},
    {"grey40x24", 40, 24, 70, 0, true, false}, {"c444_33", 33, 33, 90, 0, false, false},
};

class DropOracle : public testing::TestWithParam<SourceKind> {};

TEST_P(DropOracle, SameBytesAsJpegtran) {
    SCARLEX_REQUIRE_TOOL("jpegtran");
    const SourceKind& k = GetParam();
    TempDir dir;
    const std::string src = dir / "src.jpg", ours = dir / "ours.jpg", theirs = dir / "theirs.jpg";
    MakeJpeg(src, k.width, k.height, k.Options());
    int accepted = 0, refused = 0;
    for (const PatchKind& p : kPatches) {
        const std::string patch = dir / (std::string(p.name) + ".jpg");
        TestJpegOptions o = k.Options(p.quality ? p.quality : 85);
        o.progressive = false;
        o.restartInterval = 0;
        o.comment = "";
        if (p.oneEntryDiffers) {
            o.lumaTable = ScaledTable(false, 85);
            o.lumaTable[1] = uint16_t(p.oneEntryDiffers);
            o.chromaTable = ScaledTable(true, 85);
        }
        if (p.grey) o.grayscale = true;
        if (!p.sameSampling && !p.grey) {
            o.grayscale = false;
            o.h[0] = o.v[0] = 1;
        }
        MakeJpeg(patch, p.width, p.height, o, 7);
        // Offsets near the grid, one reaching the far edges and one past them.
        const unsigned rightEdge = unsigned(k.width - p.width), bottomEdge = unsigned(k.height - p.height);
        std::vector<std::pair<unsigned, unsigned>> places = Offsets({0, 5, 17});
        places.insert(places.end(), {{40, 33}, {rightEdge, 3}, {rightEdge + 1, 0}, {16, bottomEdge},
                                     {0, bottomEdge + 1}, {rightEdge, bottomEdge}, {rightEdge - 7, bottomEdge - 9}});
        for (const auto& [x, y] : places) {
                const std::string g = "+" + std::to_string(x) + "+" + std::to_string(y);
                SCOPED_TRACE(std::string(p.name) + " at " + g);
                std::remove(ours.c_str());
                std::string why;
                const int rc =
                    Jpegtran("-copy comments -drop " + g + " " + Quote(patch) + " " + Quote(src), theirs, &why);
                CodecResult r = DropJpegFile(src, patch, ours, int(x), int(y));
                if (rc != 0 && why.find("Bogus virtual array access") != std::string::npos) {
                    // jpegtran cannot read a patch whose rows come fewer at a
                    // time than the source's (a greyscale patch into 4:2:0);
                    // we can, and the content is checked elsewhere.
                    EXPECT_TRUE(r.ok) << r.error;
                    continue;
                }
                if (rc != 0) {
                    ++refused;
                    EXPECT_FALSE(r.ok);
                    EXPECT_FALSE(fs::exists(ours));
                    continue;
                }
                ++accepted;
                ASSERT_TRUE(r.ok) << r.error;
                ASSERT_EQ(FirstByteDifference(theirs, ours), "");
            }
    }
    EXPECT_GT(accepted, 0);
    EXPECT_GT(refused, 0);
}

INSTANTIATE_TEST_SUITE_P(SWEEP, DropOracle, testing::ValuesIn(kSources), Name);

#ifndef SCARLEX_TRANSFORM_LONG
// The real photographs of the shared folder: one crop and one drop of a
// patch cut from a re-encode, as a save does.
TEST(RealPhotos, CropAndDropSameAsJpegtran) {
    SCARLEX_REQUIRE_TOOL("jpegtran");
    const std::vector<std::string> files = TestDataJpegs();
    if (files.empty()) GTEST_SKIP() << "shared test data not present";
    TempDir dir;
    const std::string ours = dir / "ours.jpg", theirs = dir / "theirs.jpg", patch = dir / "patch.jpg",
                      encoded = dir / "q75.jpg";
    for (const std::string& f : files) {
        SCOPED_TRACE(f);
        std::remove(ours.c_str());
        // jpegtran exits 2 after warnings (a truncated scan), having written
        // its output; so do we, with the warnings in the result.
        int rc = Jpegtran("-copy comments -crop 97x61+37+21 " + Quote(f), theirs);
        CodecResult r = CropJpegFile(f, ours, 97, 61, 37, 21);
        EXPECT_EQ(rc == 1, !r.ok) << r.error;
        EXPECT_EQ(rc == 2, r.ok && r.warningCount > 0);
        if (rc == 2) rc = 0;
        if (rc == 0 && r.ok) {
            EXPECT_EQ(FirstByteDifference(theirs, ours), "");
        }
        if (rc != 0) {
            EXPECT_FALSE(fs::exists(ours));
            continue;
        }
        // A patch coded with other tables, as the full re-encode is.
        if (RunShell("djpeg " + Quote(f) + " 2>/dev/null | cjpeg -quality 60 > " + Quote(encoded) + " 2>/dev/null") != 0)
            continue;
        ASSERT_TRUE(CropJpegFile(encoded, patch, 40, 40, 37, 21).ok);
        std::remove(ours.c_str());
        rc = Jpegtran("-copy comments -drop +32+16 " + Quote(patch) + " " + Quote(f), theirs);
        r = DropJpegFile(f, patch, ours, 32, 16);
        EXPECT_EQ(rc == 1, !r.ok) << r.error;
        if (rc == 2) rc = 0;
        // Where all components share one table (this CMYK file) jpegtran
        // writes some of them under a table they were not rescaled to; we
        // keep them exact instead (see Harmonise.SharedSlot...).
        if (f.find("cmyk_adobe") != std::string::npos) continue;
        if (rc == 0 && r.ok) {
            EXPECT_EQ(FirstByteDifference(theirs, ours), "");
        }
    }
}

#endif

}  // namespace
}  // namespace scarlex::test
