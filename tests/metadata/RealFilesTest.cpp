// Real camera files: what the walk finds, and the round trip of a save
// through scarlex-cli reattach, checked byte for byte and with exiv2.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "MetaTestSupport.h"
#include "common/Paths.h"
#include "support/TestSupport.h"

using namespace scarlex;
using namespace scarlex::test;

namespace {

struct Expected {
    const char* file;
    bool found;
    int header, exif, iptc, comment, xmp;
};

void PrintTo(const Expected& value, std::ostream* os) { *os << value.file; }


// Segment orders as listed in the test data's README.
const Expected kExpected[] = {
    {"canon_ixus.jpg", true, 0, 1, 0, 0, 0},
    {"nikon_e950.jpg", true, 1, 2, 3, 0, 0},  // APP0 before APP1
    {"nikon_e995_iptc.jpg", true, 0, 1, 2, 0, 0},
    {"canon_sx60hs_xmp_iptc.jpg", true, 0, 1, 3, 0, 2},
    {"ycck_adobe_pil_sample.jpg", true, 0, 1, 2, 0, 3},  // XMP after APP13
    {"apple_iphone5s.jpg", true, 0, 1, 0, 0, 2},
    {"nikon_d90_gray_progressive.jpg", true, 1, 2, 0, 4, 3},
    {"kodak_dc210.jpg", true, 0, 1, 0, 2, 0},
    {"minolta_dimage_ex.jpg", true, 0, 1, 0, 9, 0},  // comment after the frame header
    {"sony_cybershot_exif_before_jfif.jpg", true, 3, 1, 0, 0, 0},  // the last of two APP0
    {"nikon_d70_app13_after_sof.jpg", true, 0, 1, 5, 0, 0},
    {"cmyk_adobe_mozilla.jpg", true, 1, 0, 0, 3, 0},
    {"ijg_testorig.jpg", false, 1, 0, 0, 0, 0},
    {"truncated_in_exif_canon_ixus.jpg", false, 0, 0, 0, 0, 0},
    {"truncated_in_scan_canon_ixus.jpg", true, 0, 1, 0, 0, 0},
    {"not_a_jpeg_png.jpg", false, 0, 0, 0, 0, 0},
};

class RealFile : public ::testing::TestWithParam<Expected> {};

TEST_P(RealFile, WalkFindsTheSegments) {
    const Expected& e = GetParam();
    SCARLEX_TESTDATA_OR_SKIP(path, e.file);
    TimgData meta;
    EXPECT_EQ(meta.ProcessFile(path), e.found);
    EXPECT_EQ(meta.HeaderEntry(), e.header) << TableText(meta);
    EXPECT_EQ(meta.ExifEntry(), e.exif) << TableText(meta);
    EXPECT_EQ(meta.IptcEntry(), e.iptc) << TableText(meta);
    EXPECT_EQ(meta.CommentEntry(), e.comment) << TableText(meta);
    EXPECT_EQ(meta.XmpEntry(), e.xmp) << TableText(meta);
    EXPECT_EQ(meta.Status(), e.found ? "<none>" : "Not an EXIF file");
    if (e.exif) {
        EXPECT_NE(meta.TagListing().find("Exif.Image."), std::string::npos);
    }
    if (e.xmp) {
        EXPECT_NE(meta.TagListing().find("\r\nXmp."), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(TestData, RealFile, ::testing::ValuesIn(kExpected), [](const auto& info) {
    std::string name = info.param.file;
    name = name.substr(0, name.find('.'));
    return name;
});

// What exiv2 reads: the Exif, Iptc and Xmp lines of -pa, the XMP packet
// (-px) and the ICC profile (-pC).
std::string Exiv2Reads(const std::string& path) {
    std::string out, packet, icc;
    RunShell("exiv2 -pa " + Quote(path) + " 2>/dev/null", &out);
    RunShell("exiv2 -px " + Quote(path) + " 2>/dev/null", &packet);
    RunShell("exiv2 -pC " + Quote(path) + " 2>/dev/null", &icc);
    std::istringstream in(out);
    std::string line, kept;
    while (std::getline(in, line))
        if (line.rfind("Exif.", 0) == 0 || line.rfind("Iptc.", 0) == 0 || line.rfind("Xmp.", 0) == 0) kept += line + "\n";
    return kept + "--- XMP packet\n" + packet + "--- ICC profile\n" + icc;
}

Bytes Decoded(const std::string& path) {
    std::string pixels;
    EXPECT_EQ(RunShell("djpeg -pnm " + Quote(path) + " 2>/dev/null", &pixels), 0) << path;
    return Bytes(pixels.begin(), pixels.end());
}

std::vector<Bytes> MetadataSegmentsOf(const TimgData& meta) {
    std::vector<Bytes> out;
    for (int n = 1; n <= meta.SectionCount(); ++n) {
        const TSection& s = meta.Section(n);
        if ((s.Type >= 0xE0 && s.Type <= 0xEF) || s.Type == COM) out.push_back(Concat({{0xFF, s.Type}, s.Data}));
    }
    return out;
}

void CheckRoundTrip(const std::string& original) {
    SCOPED_TRACE(original);
    TempDir dir;
    const std::string saved = dir / "saved.jpg", out = dir / "out.jpg";
    // The saved data as a save makes it: the picture with the encoder's own
    // JFIF or Adobe header and nothing else.
    ASSERT_EQ(RunShell("jpegtran -copy none -outfile " + Quote(saved) + " " + Quote(original) + " 2>/dev/null"), 0);
    ASSERT_EQ(RunShell(Quote(CliPath()) + " reattach " + Quote(original) + " " + Quote(saved) + " " + Quote(out)), 0);

    TimgData meta, written;
    meta.ProcessFile(original);
    if (!meta.KeepsSegments()) {
        EXPECT_EQ(FirstByteDifference(ReadFileBytes(out), ReadFileBytes(saved)), "");
        return;
    }
    // Every kept segment once, in the original's order, each found in the
    // original byte for byte; the saved data's own headers gone.
    written.ProcessFile(out);
    std::vector<Bytes> expected;
    const Bytes originalBytes = ReadFileBytes(original);
    for (const TSection& s : meta.KeptSegments()) {
        expected.push_back(Concat({{0xFF, s.Type}, s.Data}));
        EXPECT_NE(std::search(originalBytes.begin(), originalBytes.end(), expected.back().begin(), expected.back().end()),
                  originalBytes.end());
    }
    const std::vector<Bytes> got = MetadataSegmentsOf(written);
    ASSERT_EQ(got.size(), expected.size()) << TableText(written);
    for (std::size_t i = 0; i < got.size(); ++i) EXPECT_EQ(FirstByteDifference(got[i], expected[i]), "") << "segment " << i;

    // The picture is the saved one, and exiv2 reads what it read before.
    EXPECT_EQ(Decoded(out), Decoded(saved));
    const std::string before = Exiv2Reads(original), after = Exiv2Reads(out);
    EXPECT_EQ(before, after);
}

TEST(RoundTrip, ReattachKeepsEveryKeptSegment) {
    SCARLEX_REQUIRE_TOOL("jpegtran");
    SCARLEX_REQUIRE_TOOL("djpeg");
    SCARLEX_REQUIRE_TOOL("exiv2");
    const std::vector<std::string> files = TestDataJpegs();
    if (files.empty()) GTEST_SKIP() << "shared test data not present";
    for (const std::string& file : files) {
        if (ExtractFileName(file).rfind("not_a_jpeg", 0) == 0 || ExtractFileName(file).rfind("truncated", 0) == 0)
            continue;  // jpegtran cannot make the saved data
        CheckRoundTrip(file);
    }
}

TEST(RoundTrip, ReattachWithNothingKeptCopiesTheSavedFile) {
    TempDir dir;
    WriteFileBytes(dir / "bare.jpg", JpegBuilder().Table().Table(SOF0).Scan());
    WriteFileBytes(dir / "comment.jpg", JpegBuilder().Seg(COM, "only a comment").Table().Scan());
    const Bytes saved = JpegBuilder().Seg(APP0, JfifPayload()).Table().Scan();
    WriteFileBytes(dir / "saved.jpg", saved);
    auto reattach = [&](const std::string& original) {
        return RunShell(Quote(CliPath()) + " reattach --yes " + Quote(dir / original) + " " +
                        Quote(dir / "saved.jpg") + " " + Quote(dir / "out.jpg"));
    };
    ASSERT_EQ(reattach("bare.jpg"), 0);
    EXPECT_EQ(ReadFileBytes(dir / "out.jpg"), saved);
    // Without EXIF the rest is still carried.
    ASSERT_EQ(reattach("comment.jpg"), 0);
    EXPECT_EQ(FirstByteDifference(ReadFileBytes(dir / "out.jpg"),
                                  Concat({{0xFF, 0xD8}, Segment(COM, Bytes{'o', 'n', 'l', 'y', ' ', 'a', ' ', 'c', 'o', 'm', 'm', 'e', 'n', 't'}),
                                          Tail(saved, 2 + 18)})),
              "");
}

TEST(RoundTrip, ReattachRefusesDamagedSavedData) {
    TempDir dir;
    WriteFileBytes(dir / "orig.jpg", JpegBuilder().Seg(APP1, ExifPayload()).Table().Scan());
    WriteFileBytes(dir / "saved.jpg", Bytes{'n', 'o', 't', ' ', 'J', 'P', 'E', 'G'});
    std::string out;
    EXPECT_EQ(RunShell(Quote(CliPath()) + " reattach " + Quote(dir / "orig.jpg") + " " + Quote(dir / "saved.jpg") + " " +
                           Quote(dir / "out.jpg") + " 2>&1",
                       &out),
              1);
    EXPECT_NE(out.find("start-of-image"), std::string::npos) << out;
    EXPECT_FALSE(FileExists(dir / "out.jpg"));
}

}  // namespace
