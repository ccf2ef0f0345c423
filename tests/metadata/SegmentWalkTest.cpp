// The segment walk: which segments are kept and which entries the four
// references point at, for hand-built heads of JPEG files.
#include <gtest/gtest.h>

#include "MetaTestSupport.h"
#include "support/TestSupport.h"

using namespace scarlex;
using namespace scarlex::test;

namespace {

TEST(SegmentWalk, CameraFileKeepsExifWithoutHeader) {
    Bytes exif = ExifPayload();
    TimgData meta;
    ASSERT_TRUE(Walk(meta, JpegBuilder().Seg(APP1, exif).Table().Table(SOF0).Table(DHT).Scan()));
    EXPECT_TRUE(meta.HasEXIF());
    EXPECT_EQ(meta.HeaderEntry(), 0);
    EXPECT_EQ(meta.ExifEntry(), 1);
    EXPECT_EQ(meta.Section(1).Data, Kept(exif));
    EXPECT_EQ(meta.Section(1).Size, exif.size() + 2);
    // The walk stops at the start of scan, which is kept as the last entry.
    EXPECT_EQ(meta.SectionCount(), 5) << TableText(meta);
    EXPECT_EQ(meta.Section(5).Type, SOS);
}

TEST(SegmentWalk, HeaderAndExifBothKept) {
    TimgData meta;
    ASSERT_TRUE(Walk(meta, JpegBuilder().Seg(APP0, JfifPayload()).Seg(APP1, ExifPayload()).Scan()));
    EXPECT_EQ(meta.HeaderEntry(), 1);
    EXPECT_EQ(meta.ExifEntry(), 2);
}

// Four segments without metadata used to end the walk at the fifth, and
// an EXIF segment there was lost.
class FifthSegment : public ::testing::TestWithParam<uint8_t> {};

TEST_P(FifthSegment, IsFound) {
    const uint8_t type = GetParam();
    Bytes payload = type == APP1 ? ExifPayload() : type == APP13 ? IptcPayload() : Bytes{'h', 'i'};
    TimgData meta;
    EXPECT_TRUE(Walk(meta, JpegBuilder().Table().Table().Table(SOF0).Table(DHT).Seg(type, payload).Table(DHT).Scan()));
    EXPECT_EQ(meta.SectionCount(), 7) << TableText(meta);
    EXPECT_EQ(type == APP1 ? meta.ExifEntry() : type == APP13 ? meta.IptcEntry() : meta.CommentEntry(), 5);
    EXPECT_EQ(meta.ExifInfo() != nullptr, type == APP1);
    EXPECT_EQ(meta.IptcInfo() != nullptr, type == APP13);
    EXPECT_EQ(meta.Fate(5), SegmentFate::Kept);
}

INSTANTIATE_TEST_SUITE_P(Types, FifthSegment, ::testing::Values(APP1, APP13, COM));

TEST(SegmentWalk, ExifAsFourthEntryIsFoundAndTheWalkGoesOn) {
    TimgData meta;
    ASSERT_TRUE(Walk(meta, JpegBuilder().Table().Table().Table().Seg(APP1, ExifPayload()).Table().Table().Seg(COM, "late").Scan()));
    EXPECT_EQ(meta.ExifEntry(), 4);
    EXPECT_EQ(meta.CommentEntry(), 7);
}

TEST(SegmentWalk, ExifFarDownTheHeadIsFound) {
    TimgData meta;
    Bytes exif = ExifPayload();
    ASSERT_TRUE(Walk(meta, JpegBuilder().Seg(COM, "c").Table().Table().Table().Table().Table(SOF0).Table(DHT)
                               .Seg(APP1, exif).Table(SOF0).Scan()));
    EXPECT_EQ(meta.ExifEntry(), 8) << TableText(meta);
    EXPECT_EQ(meta.Section(8).Data, Kept(exif));
    EXPECT_EQ(meta.Section(9).Type, SOF0);
}

TEST(SegmentWalk, XmpAfterExifKeepsItsOwnEntry) {
    TimgData meta;
    Bytes exif = ExifPayload();
    const std::string xmp("http://ns.adobe.com/xap/1.0/\0<x/>", 34);
    ASSERT_TRUE(Walk(meta, JpegBuilder().Seg(APP1, exif).Seg(APP1, xmp).Table().Scan()));
    EXPECT_EQ(meta.ExifEntry(), 1);
    EXPECT_EQ(meta.XmpEntry(), 2);
    EXPECT_EQ(meta.Section(2).Data, Kept(Bytes(xmp.begin(), xmp.end())));
    EXPECT_EQ(meta.Fate(2), SegmentFate::Kept);
    EXPECT_EQ(meta.SectionCount(), 4);
}

TEST(SegmentWalk, ExifAfterAnXmpPacketIsNotLost) {
    TimgData meta;
    Bytes xmp = Bytes{'h', 't', 't', 'p', ':', '/', '/', 'n', 's', '.', 'a', 'd', 'o', 'b', 'e'};
    Bytes exif = ExifPayload();
    ASSERT_TRUE(Walk(meta, JpegBuilder().Seg(APP1, xmp).Seg(APP1, exif).Seg(APP1, ExifPayload("second")).Table().Scan()));
    EXPECT_EQ(meta.ExifEntry(), 2) << TableText(meta);
    EXPECT_EQ(meta.Section(2).Data, Kept(exif));
    // The second EXIF segment is kept, not parsed.
    EXPECT_EQ(meta.Section(3).Type, APP1) << TableText(meta);
    EXPECT_EQ(meta.Fate(3), SegmentFate::Kept);
    EXPECT_EQ(meta.TagListing().find("Error"), std::string::npos) << meta.TagListing();
    // An APP1 that is not EXIF is no EXIF entry, but it is still carried.
    EXPECT_FALSE(Walk(meta, JpegBuilder().Seg(APP1, xmp).Table().Scan()));
    EXPECT_EQ(meta.ExifEntry(), 0);
    EXPECT_TRUE(meta.KeepsSegments());
}

TEST(SegmentWalk, LastCommentAndLastHeaderFirstIptc) {
    TimgData meta;
    Bytes iptc1 = IptcPayload("first"), iptc2 = IptcPayload("second");
    ASSERT_TRUE(Walk(meta, JpegBuilder().Seg(APP0, "JFIF").Seg(COM, "one").Seg(APP13, iptc1).Seg(APP0, "JFXX")
                               .Seg(COM, "two").Seg(APP13, iptc2).Scan()));
    EXPECT_EQ(meta.HeaderEntry(), 4);
    EXPECT_EQ(meta.CommentEntry(), 5);
    EXPECT_EQ(meta.IptcEntry(), 3);
    EXPECT_EQ(meta.Section(5).Data, Kept(Bytes{'t', 'w', 'o'}));
    EXPECT_FALSE(meta.HasEXIF());
}

TEST(SegmentWalk, OnlyMaxSectionsSegmentsAreExamined) {
    JpegBuilder b;
    b.Seg(APP1, ExifPayload());
    for (int i = 0; i < TimgData::MaxSections + 10; ++i) b.Seg(COM, "comment " + std::to_string(i + 2));
    TimgData meta;
    ASSERT_TRUE(Walk(meta, b.Scan()));
    EXPECT_EQ(meta.SectionCount(), TimgData::MaxSections);
    EXPECT_EQ(meta.CommentEntry(), TimgData::MaxSections);
    const std::string last = "comment " + std::to_string(TimgData::MaxSections);
    EXPECT_EQ(meta.Section(TimgData::MaxSections).Data, Kept(Bytes(last.begin(), last.end())));
}

TEST(SegmentWalk, ExtraneousBytesBetweenSegmentsArePassedOver) {
    // As a decoder does: junk before a marker is skipped, not read as one.
    Bytes exif = ExifPayload();
    Bytes bytes = Concat({{0xFF, 0xD8}, Segment(APP1, exif), {0x00, 0x12, 0xE5, 0xFF, 0x00}, Segment(COM, {'c'}),
                          Segment(SOS, {1, 1, 0, 0, 63, 0})});
    TimgData meta;
    ASSERT_TRUE(Walk(meta, bytes));
    EXPECT_EQ(meta.CommentEntry(), 2) << TableText(meta);
    EXPECT_EQ(meta.Section(2).Data, Kept(Bytes{'c'}));
}

// What a save does with each kind of segment.
TEST(SegmentRule, KeepsMetadataDropsWhatPointsIntoTheOldPicture) {
    struct Case {
        uint8_t type;
        std::string payload;
        SegmentFate fate;
        const char* name;
    };
    const std::string nul(1, '\0');
    const Case cases[] = {
        {APP0, "JFIF" + nul + "\1\2", SegmentFate::Kept, "JFIF"},
        {APP1, "Exif" + nul + nul + "II*", SegmentFate::Kept, "EXIF"},
        {APP1, "http://ns.adobe.com/xap/1.0/" + nul + "<x/>", SegmentFate::Kept, "XMP"},
        {APP1, "http://ns.adobe.com/xmp/extension/" + nul + "0123", SegmentFate::Kept, "extended XMP"},
        {APP2, "ICC_PROFILE" + nul + "\1\2", SegmentFate::Kept, "ICC profile"},
        {APP2, "MPF" + nul + "II*", SegmentFate::Dropped, "MPF"},
        {0xEB, "JP\0\0", SegmentFate::Dropped, "JPEG XT/JUMBF"},
        {0xEB, "other", SegmentFate::Kept, "APP11"},
        {0xEC, "Ducky", SegmentFate::Kept, "APP12"},
        {APP13, "Photoshop 3.0" + nul + "8BIM", SegmentFate::Kept, "Photoshop"},
        {0xEE, "Adobe\0\x64", SegmentFate::Kept, "Adobe"},
        {COM, "", SegmentFate::Kept, "comment"},
        {DQT, "\0", SegmentFate::Coding, "DQT"},
        {0xC2, "\x08", SegmentFate::Coding, "SOF2"},
        {SOS, "\1", SegmentFate::Coding, "SOS"},
    };
    for (const Case& c : cases) {
        const Bytes data = Kept(Bytes(c.payload.begin(), c.payload.end()));
        EXPECT_EQ(FateOf(c.type, data), c.fate) << c.name;
        EXPECT_EQ(SegmentName(c.type, data), c.name);
    }
    // A name cut short by the segment's end is not that name.
    EXPECT_EQ(SegmentName(APP2, Kept(Bytes{'M', 'P', 'F'})), "APP2");
    EXPECT_EQ(FateOf(APP2, Kept(Bytes{'M', 'P', 'F'})), SegmentFate::Kept);
}

TEST(SegmentWalk, PaddingBytesBeforeMarkersArePassedOver) {
    Bytes exif = ExifPayload();
    Bytes bytes = Concat({{0xFF, 0xD8, 0xFF, 0xFF, 0xFF}, Segment(APP1, exif), {0xFF, 0xFF}, Segment(COM, {'c'})});
    TimgData meta;
    ASSERT_TRUE(Walk(meta, bytes));
    EXPECT_EQ(meta.ExifEntry(), 1);
    EXPECT_EQ(meta.CommentEntry(), 2);
    EXPECT_EQ(meta.Section(1).Data, Kept(exif));
}

TEST(SegmentWalk, StopsAtStartOfScanAndEndOfImage) {
    // A comment behind the scan header is entropy-coded data as far as the
    // walk knows: never read.
    TimgData meta;
    EXPECT_FALSE(Walk(meta, JpegBuilder().Table().Seg(SOS, Bytes{1, 1, 0, 0, 63, 0}).Seg(COM, "after")));
    EXPECT_EQ(meta.SectionCount(), 2);
    EXPECT_FALSE(Walk(meta, JpegBuilder().Table().Raw({0xFF, EOI, 0x00, 0x02}).Seg(COM, "after")));
    EXPECT_EQ(meta.SectionCount(), 2);
}

TEST(SegmentWalk, NotStartingWithStartOfImage) {
    TimgData meta;
    for (const Bytes& bytes : {Bytes{}, Bytes{0xFF}, Bytes{0xD8, 0xFF}, Bytes{0x89, 'P', 'N', 'G'},
                               Concat({{0xFF, 0xD9}, Segment(APP1, ExifPayload())})}) {
        SCOPED_TRACE(bytes.size());
        EXPECT_FALSE(Walk(meta, bytes));
        EXPECT_EQ(meta.SectionCount(), 0);
    }
}

// Damaged lengths end the walk; what came before stays kept and nothing is
// read outside the data.
struct BadTail {
    const char* name;
    Bytes tail;
};

void PrintTo(const BadTail& value, std::ostream* os) { *os << value.name; }


class DamagedLength : public ::testing::TestWithParam<BadTail> {};

TEST_P(DamagedLength, EndsTheWalkKeepingEarlierSegments) {
    Bytes comment = Segment(COM, {'k', 'e', 'p', 't'});
    Bytes bytes = Concat({{0xFF, 0xD8}, comment, GetParam().tail});
    // An exactly sized copy, so that ASan sees any read past its end.
    auto heap = std::make_unique<uint8_t[]>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), heap.get());
    TimgData meta;
    meta.reset();
    EXPECT_TRUE(meta.ReadJpegSections(std::span<const uint8_t>(heap.get(), bytes.size())));
    EXPECT_EQ(meta.SectionCount(), 1) << TableText(meta);
    EXPECT_EQ(meta.CommentEntry(), 1);
    EXPECT_FALSE(meta.HasEXIF());
}

INSTANTIATE_TEST_SUITE_P(
    Tails, DamagedLength,
    ::testing::Values(BadTail{"length0", {0xFF, APP1, 0x00, 0x00, 'E', 'x', 'i', 'f'}},
                      BadTail{"length1", {0xFF, APP1, 0x00, 0x01, 'E', 'x', 'i', 'f'}},
                      BadTail{"pastEnd", {0xFF, APP1, 0x01, 0x00, 'E', 'x', 'i', 'f', 0, 0}},
                      BadTail{"maxLength", {0xFF, APP1, 0xFF, 0xFF}},
                      BadTail{"halfLength", {0xFF, APP1, 0x00}},
                      BadTail{"markerOnly", {0xFF, APP1}},
                      BadTail{"paddingOnly", {0xFF, 0xFF, 0xFF}},
                      BadTail{"endsAtMarker", {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SegmentWalk, EveryTruncationKeepsOnlyCompleteSegments) {
    Bytes exif = ExifPayload(), iptc = IptcPayload();
    Bytes full = JpegBuilder().Seg(APP1, exif).Seg(APP13, iptc).Seg(COM, "end").Table().Scan();
    const std::size_t exifEnd = 2 + 4 + exif.size(), iptcEnd = exifEnd + 4 + iptc.size(), comEnd = iptcEnd + 7;
    TimgData meta;
    for (std::size_t n = 0; n <= full.size(); ++n) {
        SCOPED_TRACE("first " + std::to_string(n) + " bytes");
        Bytes cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
        bool found = Walk(meta, cut);
        ASSERT_EQ(found, n >= exifEnd);
        ASSERT_EQ(meta.HasEXIF(), n >= exifEnd);
        ASSERT_EQ(meta.IptcEntry() != 0, n >= iptcEnd);
        ASSERT_EQ(meta.CommentEntry() != 0, n >= comEnd);
        for (int e = 1; e <= meta.SectionCount(); ++e) ASSERT_EQ(meta.Section(e).Data.size(), meta.Section(e).Size);
    }
}

// ProcessFile: the file around the walk.
TEST(ProcessFile, StatusTextsAndFileDetails) {
    TempDir dir;
    std::string good = dir / "good.jpg", plain = dir / "plain.jpg", missing = dir / "missing.jpg";
    Bytes goodBytes = JpegBuilder().Seg(APP1, ExifPayload()).Table().Scan();
    WriteFileBytes(good, goodBytes);
    WriteFileBytes(plain, JpegBuilder().Seg(APP0, "JFIF").Table().Scan());

    TimgData meta(255);
    EXPECT_TRUE(meta.ProcessFile(good));
    EXPECT_EQ(meta.Status(), "<none>");
    EXPECT_EQ(meta.FileName(), good);
    EXPECT_EQ(meta.FileSize(), goodBytes.size());
    EXPECT_NE(meta.FileDate(), 0);

    EXPECT_FALSE(meta.ProcessFile(plain));
    EXPECT_EQ(meta.Status(), "Not an EXIF file");
    EXPECT_EQ(meta.HeaderEntry(), 1);
    EXPECT_TRUE(meta.TagListing().empty());

    EXPECT_FALSE(meta.ProcessFile(missing));
    EXPECT_EQ(meta.Status(), "");
    EXPECT_EQ(meta.SectionCount(), 0);
    EXPECT_FALSE(meta.ProcessFile(dir.path().string()));  // a folder
}

TEST(ProcessFile, ForgetsThePreviousFile) {
    TempDir dir;
    WriteFileBytes(dir / "a.jpg", JpegBuilder().Seg(APP1, ExifPayload()).Seg(APP13, IptcPayload()).Seg(COM, "c").Scan());
    WriteFileBytes(dir / "b.jpg", JpegBuilder().Table().Scan());
    TimgData meta;
    ASSERT_TRUE(meta.ProcessFile(dir / "a.jpg"));
    ASSERT_FALSE(meta.TagListing().empty());
    EXPECT_FALSE(meta.ProcessFile(dir / "b.jpg"));
    EXPECT_FALSE(meta.HasMetaData());
    EXPECT_EQ(meta.ExifEntry() + meta.IptcEntry() + meta.CommentEntry() + meta.HeaderEntry(), 0);
    EXPECT_EQ(meta.ExifInfo(), nullptr);
    EXPECT_TRUE(meta.TagListing().empty());
}

TEST(ProcessFile, OnlyJpegExtensionsAreRead) {
    TempDir dir;
    Bytes bytes = JpegBuilder().Seg(APP1, ExifPayload()).Scan();
    TimgData meta;
    for (const char* name : {"a.jpg", "b.JPG", "c.jpeg", "d.Jpe"}) {
        WriteFileBytes(dir / name, bytes);
        EXPECT_TRUE(meta.ProcessFile(dir / name)) << name;
    }
    for (const char* name : {"e.png", "f", "g.jpg.bak"}) {
        WriteFileBytes(dir / name, bytes);
        EXPECT_FALSE(meta.ProcessFile(dir / name)) << name;
        EXPECT_EQ(meta.Status(), "Not an EXIF file") << name;
    }
}

}  // namespace
