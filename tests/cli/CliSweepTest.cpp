// Damaged files through `info` and `fix`: seeded mutants of photographs
// (truncations, flipped header bytes, lying segment lengths, frame sizes and
// sampling factors, stray markers). Whatever the damage: exit status 0 or
// 1, one line on stderr for a failure, nothing left behind by a failure, the
// input never changed, and an output that decodes no worse than its input.

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "CliRun.h"
#include "codec/JpegCodec.h"
#include "codec/PictureLimits.h"

using namespace scarlex;
using namespace scarlex::test;
namespace fs = std::filesystem;

namespace {

// A small EXIF segment (one IFD entry) and an IPTC-like APP13, so the
// metadata walker and the tag parser see damage too.
std::vector<uint8_t> WithMetadata(std::vector<uint8_t> jpeg) {
    const std::vector<uint8_t> tiff = {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x0F, 0x01, 2, 0, 6, 0, 0, 0,
                                       26, 0, 0, 0, 0, 0, 0, 0, 'C', 'a', 'n', 'o', 'n', 0};
    std::vector<uint8_t> app1 = {0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
    app1.insert(app1.end(), tiff.begin(), tiff.end());
    app1[2] = uint8_t((app1.size() - 2) >> 8), app1[3] = uint8_t(app1.size() - 2);
    std::vector<uint8_t> app13 = {0xFF, 0xED, 0, 20, 'P', 'h', 'o', 't', 'o', 's', 'h', 'o', 'p', ' ', '3', '.', '0', 0,
                                  '8', 'B', 'I', 'M'};
    jpeg.insert(jpeg.begin() + 2, app13.begin(), app13.end());
    jpeg.insert(jpeg.begin() + 2, app1.begin(), app1.end());
    return jpeg;
}

// Offsets of the segments before the scan data: marker position and length.
struct Segment {
    std::size_t at, length;
    uint8_t marker;
};
std::vector<Segment> Segments(const std::vector<uint8_t>& b) {
    std::vector<Segment> out;
    for (std::size_t i = 2; i + 4 <= b.size() && b[i] == 0xFF;) {
        const std::size_t length = std::size_t(b[i + 2]) << 8 | b[i + 3];
        out.push_back({i, length, b[i + 1]});
        if (b[i + 1] == 0xDA) break;
        i += 2 + length;
    }
    return out;
}

std::vector<uint8_t> Mutate(std::vector<uint8_t> b, std::mt19937& rng) {
    auto pick = [&rng](std::size_t n) { return n == 0 ? 0 : std::size_t(rng() % n); };
    const std::vector<Segment> segs = Segments(b);
    const std::size_t header = segs.empty() ? b.size() : std::min(b.size(), segs.back().at + 2 + segs.back().length);
    switch (rng() % 6) {
        case 0:  // truncated, mostly inside the headers
            b.resize(rng() % 2 ? pick(header) : pick(b.size()));
            break;
        case 1:  // flipped bits in the headers
            for (int n = 1 + int(rng() % 4); n > 0; --n) b[2 + pick(header - 2)] ^= uint8_t(1u << (rng() % 8));
            break;
        case 2: {  // a segment length that lies
            if (segs.empty()) break;
            const Segment& s = segs[pick(segs.size())];
            const unsigned lies[] = {0, 1, 2, 3, unsigned(s.length) + 1, unsigned(s.length) - 1, 0xFFFF, unsigned(rng() % 300)};
            const unsigned l = lies[pick(8)];
            b[s.at + 2] = uint8_t(l >> 8), b[s.at + 3] = uint8_t(l);
            break;
        }
        case 3: {  // frame size and sampling factors
            for (const Segment& s : segs) {
                if (s.marker < 0xC0 || s.marker > 0xC2 || s.at + 12 > b.size()) continue;
                const unsigned sizes[] = {0, 1, 7, 17, 255, 4096, 30000, 60000, 65535, unsigned(rng() % 2000)};
                if (rng() % 2) b[s.at + 5] = uint8_t(sizes[pick(10)] >> 8), b[s.at + 6] = uint8_t(sizes[pick(10)]);
                if (rng() % 2) b[s.at + 7] = uint8_t(sizes[pick(10)] >> 8), b[s.at + 8] = uint8_t(sizes[pick(10)]);
                const std::size_t comps = b[s.at + 9];
                for (std::size_t c = 0; c < comps && s.at + 11 + 3 * c < b.size(); ++c)
                    if (rng() % 2) b[s.at + 11 + 3 * c] = uint8_t(rng());  // H and V nibbles
                if (rng() % 4 == 0) b[s.at + 9] = uint8_t(rng() % 6);  // component count
            }
            break;
        }
        case 4: {  // stray markers anywhere
            const uint8_t codes[] = {0xD8, 0xD9, 0xDA, 0xC0, 0xC2, 0xC4, 0xDB, 0xDD, 0xE1, 0xFE, 0x00, 0xFF, 0xD0, 0xD5};
            for (int n = 1 + int(rng() % 3); n > 0; --n) {
                const std::size_t at = 2 + pick(b.size() - 2);
                b.insert(b.begin() + std::ptrdiff_t(at), {0xFF, codes[pick(14)]});
            }
            break;
        }
        default: {  // a segment dropped or doubled
            if (segs.size() < 2) break;
            const Segment& s = segs[pick(segs.size() - 1)];
            const auto first = b.begin() + std::ptrdiff_t(s.at), last = first + std::ptrdiff_t(2 + s.length);
            if (last > b.end()) break;
            if (rng() % 2) {
                b.erase(first, last);
            } else {
                std::vector<uint8_t> copy(first, last);
                b.insert(first, copy.begin(), copy.end());
            }
            break;
        }
    }
    return b;
}

struct Base {
    const char* name;
    std::vector<uint8_t> (*make)(const std::string& scratch);
};

std::vector<uint8_t> Generated(const std::string& scratch, TestJpegOptions o, int w, int h, bool metadata) {
    const std::string path = scratch + "/base.jpg";
    WriteTestJpeg(path, MakePhotoLike(w, h, 21), o);
    std::vector<uint8_t> bytes = ReadFileBytes(path);
    fs::remove(path);
    return metadata ? WithMetadata(bytes) : bytes;
}

const Base kBases[] = {
    {"s420_exif", [](const std::string& s) {
         TestJpegOptions o;
         o.comment = "a comment";
         return Generated(s, o, 96, 64, true);
     }},
    {"s422_progressive", [](const std::string& s) {
         TestJpegOptions o;
         o.h[0] = 2, o.v[0] = 1, o.progressive = true;
         return Generated(s, o, 80, 48, false);
     }},
    {"s444_restarts_odd", [](const std::string& s) {
         TestJpegOptions o;
         o.h[0] = o.v[0] = 1, o.restartInterval = 2;
         return Generated(s, o, 71, 45, true);
     }},
    {"grey_optimised", [](const std::string& s) {
         TestJpegOptions o;
         o.grayscale = true, o.optimize = true;
         return Generated(s, o, 64, 40, false);
     }},
};

class Sweep : public ::testing::Test {
protected:
    TempDir work, scratch;
    void SetUp() override { SetMaxMegapixels(4); }
    void TearDown() override { SetMaxMegapixels(0); }

    // One mutant through both commands.
    void Check(const std::vector<uint8_t>& mutant, const std::string& what) {
        SCOPED_TRACE(what);
        const fs::path folder = work.path() / "m";
        fs::remove_all(folder);
        fs::create_directory(folder);
        WriteFileBytes((folder / "m.jpg").string(), mutant);

        CliRun info = RunCli(folder.string(), "info m.jpg --max-megapixels 4", scratch.path().string());
        ExpectOutcome(info, "info");

        CliRun fix = RunCli(folder.string(), "fix m.jpg --circle 20,20,9 --click 40,30 -o out.jpg --max-megapixels 4",
                            scratch.path().string());
        ExpectOutcome(fix, "fix");
        EXPECT_EQ(ReadFileBytes((folder / "m.jpg").string()), mutant) << "the input changed";
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        if (fix.status != 0) {
            EXPECT_EQ(names, std::vector<std::string>{"m.jpg"}) << "a failure left something behind";
            return;
        }
        ASSERT_EQ(names, (std::vector<std::string>{"m.jpg", "out.jpg"}));
        EXPECT_NE(fix.out.find("output: out.jpg"), std::string::npos) << fix.out;
        Bitmap in, out;
        Sampling s;
        const CodecResult ri = DecodeJpegToBitmap((folder / "m.jpg").string(), in, s);
        const CodecResult ro = DecodeJpegToBitmap((folder / "out.jpg").string(), out, s);
        ASSERT_TRUE(ri.ok) << "fix succeeded on an input that does not decode: " << ri.error;
        ASSERT_TRUE(ro.ok) << "the saved file does not decode: " << ro.error;
        EXPECT_LE(ro.warningCount, ri.warningCount) << (ro.warnings.empty() ? "" : ro.warnings[0]);
        EXPECT_EQ(out.Width(), in.Width());
        EXPECT_EQ(out.Height(), in.Height());
    }

    static void ExpectOutcome(const CliRun& r, const std::string& command) {
        ASSERT_TRUE(r.status == 0 || r.status == 1) << command << " exited " << r.status << "\n" << r.err();
        if (r.status == 1) {
            ASSERT_EQ(r.errLines.size(), 1u) << command << ":\n" << r.err();
            EXPECT_EQ(r.errLines[0].rfind("scarlex-cli " + command + ": ", 0), 0u) << r.errLines[0];
        } else {
            // Damage carried over, or a note on how the file was saved.
            for (const std::string& line : r.errLines)
                EXPECT_TRUE(line.rfind("warning: ", 0) == 0 || line.rfind("note: ", 0) == 0) << line;
        }
    }

    void Run(const std::vector<uint8_t>& base, uint32_t seed, int count) {
        Check(base, "the unharmed base");
        std::mt19937 rng(seed);
        for (int i = 0; i < count; ++i) {
            std::vector<uint8_t> m = Mutate(base, rng);
            if (rng() % 3 == 0) m = Mutate(m, rng);  // now and then two kinds at once
            Check(m, "mutant " + std::to_string(i) + " of seed " + std::to_string(seed));
            if (HasFatalFailure()) return;
        }
    }
};

class GeneratedSweep : public Sweep, public ::testing::WithParamInterface<Base> {};

TEST_P(GeneratedSweep, DamagedFilesAreRefusedOrSavedSoundly) {
    Run(GetParam().make(scratch.path().string()), 1000 + uint32_t(GetParam().name[1]), 70);
}

INSTANTIATE_TEST_SUITE_P(Bases, GeneratedSweep, ::testing::ValuesIn(kBases),
                         [](const auto& info) { return std::string(info.param.name); });

// The shared photographs, when present: the small ones by default, every
// one under the long label.
TEST_F(Sweep, SharedPhotographs) {
    const std::vector<std::string> files = TestDataJpegs();
    if (files.empty()) GTEST_SKIP() << "shared test data not present";
#ifdef SCARLEX_SWEEP_LONG
    const std::uintmax_t most = UINTMAX_MAX;
    const int each = 25;
#else
    const std::uintmax_t most = 40 * 1024;
    const int each = 12;
#endif
    uint32_t seed = 7;
    for (const std::string& f : files) {
        if (fs::file_size(f) > most) continue;
        SCOPED_TRACE(f);
        Run(ReadFileBytes(f), seed++, each);
        if (HasFatalFailure()) return;
    }
}

}  // namespace
