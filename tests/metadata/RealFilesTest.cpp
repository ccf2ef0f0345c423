// Real camera files: what the walk finds, and the round trip of a save
// through scarlex-cli reattach, checked byte for byte and with exiv2.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "MetaTestSupport.h"
#include "common/Paths.h"
#include "support/TestSupport.h"

#ifndef SCARLEX_METADATA_LONG
#define SCARLEX_METADATA_LONG 0
#endif

using namespace scarlex;
using namespace scarlex::test;

namespace {

struct Expected {
    const char* file;
    bool found;
    int header, exif, iptc, comment;
};

void PrintTo(const Expected& value, std::ostream* os) { *os << value.file; }


// Segment orders as listed in the test data's README.
const Expected kExpected[] = {
    {"canon_ixus.jpg", true, 0, 1, 0, 0},
    {"nikon_e950.jpg", true, 1, 2, 3, 0},  // APP0 before APP1
    {"nikon_e995_iptc.jpg", true, 0, 1, 2, 0},
    {"canon_sx60hs_xmp_iptc.jpg", true, 0, 1, 2, 0},  // XMP APP1 dropped
    {"ycck_adobe_pil_sample.jpg", true, 0, 1, 2, 0},  // XMP APP1 after APP13 dropped
    {"kodak_dc210.jpg", true, 0, 1, 0, 2},
    {"minolta_dimage_ex.jpg", true, 0, 1, 0, 9},  // comment after the frame header
    {"sony_cybershot_exif_before_jfif.jpg", true, 3, 1, 0, 0},  // the last of two APP0
    {"nikon_d70_app13_after_sof.jpg", true, 0, 1, 5, 0},
    {"cmyk_adobe_mozilla.jpg", true, 1, 0, 0, 3},
    {"ijg_testorig.jpg", false, 1, 0, 0, 0},
    {"truncated_in_exif_canon_ixus.jpg", false, 0, 0, 0, 0},
    {"truncated_in_scan_canon_ixus.jpg", true, 0, 1, 0, 0},
    {"not_a_jpeg_png.jpg", false, 0, 0, 0, 0},
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
    EXPECT_EQ(meta.Status(), e.found ? "<none>" : "Not an EXIF file");
    if (e.exif) {
        EXPECT_NE(meta.TagListing().find("Exif.Image."), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(TestData, RealFile, ::testing::ValuesIn(kExpected), [](const auto& info) {
    std::string name = info.param.file;
    name = name.substr(0, name.find('.'));
    return name;
});

// Exif and Iptc lines of `exiv2 -pa`.
std::string Exiv2Values(const std::string& path) {
    std::string out;
    RunShell("exiv2 -pa " + Quote(path) + " 2>/dev/null", &out);
    std::istringstream in(out);
    std::string line, kept;
    while (std::getline(in, line))
        if (line.rfind("Exif.", 0) == 0 || line.rfind("Iptc.", 0) == 0) kept += line + "\n";
    return kept;
}

Bytes SegmentBytes(const TimgData& meta, int entry) {
    if (!entry) return {};
    Bytes out{0xFF, meta.Section(entry).Type};
    out.insert(out.end(), meta.Section(entry).Data.begin(), meta.Section(entry).Data.end());
    return out;
}

void CheckRoundTrip(const std::string& original) {
    SCOPED_TRACE(original);
    TempDir dir;
    const std::string saved = dir / "saved.jpg", out = dir / "out.jpg";
    // The saved data as a save makes it: the picture with a plain JFIF header.
    ASSERT_EQ(RunShell("jpegtran -copy none -outfile " + Quote(saved) + " " + Quote(original) + " 2>/dev/null"), 0);
    ASSERT_EQ(RunShell(Quote(CliPath()) + " reattach " + Quote(original) + " " + Quote(saved) + " " + Quote(out)), 0);

    const Bytes savedBytes = ReadFileBytes(saved), outBytes = ReadFileBytes(out);
    TimgData meta;
    meta.ProcessFile(original);
    if (!meta.HasEXIF()) {
        EXPECT_EQ(FirstByteDifference(outBytes, savedBytes), "");
        return;
    }
    ASSERT_GE(savedBytes.size(), 6u);
    // jpegtran writes a JFIF header, which goes, or for CMYK an Adobe
    // header, which stays.
    ASSERT_TRUE(savedBytes[3] == 0xE0 || savedBytes[3] == 0xEE) << int(savedBytes[3]);
    const std::size_t savedHead = savedBytes[3] == 0xE0 ? 4 + (std::size_t(savedBytes[4]) << 8 | savedBytes[5]) : 2;
    const Bytes expected = Concat({{0xFF, 0xD8}, SegmentBytes(meta, meta.ExifEntry()), SegmentBytes(meta, meta.IptcEntry()),
                                   SegmentBytes(meta, meta.CommentEntry()),
                                   Bytes(savedBytes.begin() + static_cast<std::ptrdiff_t>(savedHead), savedBytes.end())});
    EXPECT_EQ(FirstByteDifference(outBytes, expected), "");

    // The kept segments are those of the original file, byte for byte.
    const Bytes originalBytes = ReadFileBytes(original);
    for (int entry : {meta.ExifEntry(), meta.IptcEntry(), meta.CommentEntry()}) {
        if (!entry) continue;
        Bytes seg = SegmentBytes(meta, entry);
        EXPECT_NE(std::search(originalBytes.begin(), originalBytes.end(), seg.begin(), seg.end()), originalBytes.end())
            << "entry " << entry;
    }

    const std::string before = Exiv2Values(original), after = Exiv2Values(out);
    EXPECT_FALSE(after.empty());
    EXPECT_EQ(before, after);
}

TEST(RoundTrip, ReattachKeepsExifIptcAndComment) {
    SCARLEX_REQUIRE_TOOL("jpegtran");
    SCARLEX_REQUIRE_TOOL("exiv2");
    std::vector<std::string> files;
    if (SCARLEX_METADATA_LONG) {
        files = TestDataJpegs();
    } else {
        for (const char* name : {"canon_ixus.jpg", "nikon_e950.jpg", "kodak_dc210.jpg", "canon_sx60hs_xmp_iptc.jpg",
                                 "ijg_testorig.jpg"})
            if (std::string p = TestDataFile(name); !p.empty()) files.push_back(p);
    }
    if (files.empty()) GTEST_SKIP() << "shared test data not present";
    for (const std::string& file : files) {
        if (ExtractFileName(file).rfind("not_a_jpeg", 0) == 0 || ExtractFileName(file).rfind("truncated", 0) == 0)
            continue;  // jpegtran cannot make the saved data
        CheckRoundTrip(file);
    }
}

TEST(RoundTrip, ReattachWithoutExifCopiesTheSavedFile) {
    TempDir dir;
    WriteFileBytes(dir / "orig.jpg", JpegBuilder().Seg(COM, "only a comment").Table().Scan());
    const Bytes saved = JpegBuilder().Seg(APP0, JfifPayload()).Table().Scan();
    WriteFileBytes(dir / "saved.jpg", saved);
    ASSERT_EQ(RunShell(Quote(CliPath()) + " reattach " + Quote(dir / "orig.jpg") + " " + Quote(dir / "saved.jpg") + " " +
                       Quote(dir / "out.jpg")),
              0);
    EXPECT_EQ(ReadFileBytes(dir / "out.jpg"), saved);
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
