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

// Four segments without metadata: the fifth is stored but never looked at,
// whatever its type.
class FifthSegment : public ::testing::TestWithParam<uint8_t> {};

TEST_P(FifthSegment, IsNotExamined) {
    const uint8_t type = GetParam();
    Bytes payload = type == APP1 ? ExifPayload() : type == APP13 ? IptcPayload() : Bytes{'h', 'i'};
    TimgData meta;
    EXPECT_FALSE(Walk(meta, JpegBuilder().Table().Table().Table(SOF0).Table(DHT).Seg(type, payload).Seg(COM, "x").Scan()));
    EXPECT_EQ(meta.SectionCount(), 5) << TableText(meta);
    EXPECT_FALSE(meta.HasMetaData());
    EXPECT_EQ(meta.ExifInfo(), nullptr);
    EXPECT_EQ(meta.IptcInfo(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Types, FifthSegment, ::testing::Values(APP1, APP13, COM));

TEST(SegmentWalk, ExifAsFourthEntryIsFoundAndTheWalkGoesOn) {
    TimgData meta;
    ASSERT_TRUE(Walk(meta, JpegBuilder().Table().Table().Table().Seg(APP1, ExifPayload()).Table().Table().Seg(COM, "late").Scan()));
    EXPECT_EQ(meta.ExifEntry(), 4);
    EXPECT_EQ(meta.CommentEntry(), 7);
}

TEST(SegmentWalk, FirstApp1AfterTheFifthEntryIsDropped) {
    // A comment keeps the walk going past entry five; the APP1 at six is
    // not taken as EXIF and its slot goes to the next segment.
    TimgData meta;
    ASSERT_TRUE(Walk(meta, JpegBuilder().Seg(COM, "c").Table().Table().Table().Table().Seg(APP1, ExifPayload()).Table(SOF0).Scan()));
    EXPECT_FALSE(meta.HasEXIF());
    EXPECT_EQ(meta.Section(6).Type, SOF0) << TableText(meta);
}

TEST(SegmentWalk, SecondApp1IsDroppedAndItsSlotReused) {
    TimgData meta;
    Bytes exif = ExifPayload();
    ASSERT_TRUE(Walk(meta, JpegBuilder().Seg(APP1, exif).Seg(APP1, std::string("http://ns.adobe.com/xap/1.0/\0<x/>", 34)).Table().Scan()));
    EXPECT_EQ(meta.ExifEntry(), 1);
    EXPECT_EQ(meta.Section(1).Data, Kept(exif));
    EXPECT_EQ(meta.Section(2).Type, DQT) << TableText(meta);
    EXPECT_EQ(meta.SectionCount(), 3);
}

TEST(SegmentWalk, ExifAfterAnXmpPacketIsNotLost) {
    TimgData meta;
    Bytes xmp = Bytes{'h', 't', 't', 'p', ':', '/', '/', 'n', 's', '.', 'a', 'd', 'o', 'b', 'e'};
    Bytes exif = ExifPayload();
    ASSERT_TRUE(Walk(meta, JpegBuilder().Seg(APP1, xmp).Seg(APP1, exif).Seg(APP1, ExifPayload("second")).Table().Scan()));
    EXPECT_EQ(meta.ExifEntry(), 2) << TableText(meta);
    EXPECT_EQ(meta.Section(2).Data, Kept(exif));
    EXPECT_EQ(meta.Section(3).Type, DQT) << TableText(meta);
    EXPECT_EQ(meta.TagListing().find("Error"), std::string::npos) << meta.TagListing();
    // Without EXIF data anywhere, the first APP1 is the one carried.
    ASSERT_TRUE(Walk(meta, JpegBuilder().Seg(APP1, xmp).Table().Scan()));
    EXPECT_EQ(meta.ExifEntry(), 1);
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

TEST(SegmentWalk, OnlyTwentySegmentsAreExamined) {
    JpegBuilder b;
    b.Seg(APP1, ExifPayload());
    for (int i = 0; i < 30; ++i) b.Seg(COM, "comment " + std::to_string(i + 2));
    TimgData meta;
    ASSERT_TRUE(Walk(meta, b.Scan()));
    EXPECT_EQ(meta.SectionCount(), TimgData::MaxSections);
    EXPECT_EQ(meta.CommentEntry(), 20);
    EXPECT_EQ(meta.Section(20).Data, Kept(Bytes{'c', 'o', 'm', 'm', 'e', 'n', 't', ' ', '2', '0'}));
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
