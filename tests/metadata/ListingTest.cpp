// The tag listing of the image tags window.
#include <gtest/gtest.h>

#include "MetaTestSupport.h"
#include "metadata/ImageInfo.h"
#include "support/TestSupport.h"

using namespace scarlex;
using namespace scarlex::test;

namespace {

std::vector<std::string> Lines(const std::string& listing) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < listing.size()) {
        std::size_t end = listing.find("\r\n", start);
        if (end == std::string::npos) {
            ADD_FAILURE() << "listing does not end with CR LF: " << listing.substr(start);
            break;
        }
        lines.push_back(listing.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

std::string ValueOf(const std::string& listing, const std::string& key) {
    for (const std::string& line : Lines(listing))
        if (line.rfind(key + ": ", 0) == 0) return line.substr(key.size() + 2);
    return "<missing " + key + ">";
}

// Restores the global switch after a test that changes it.
struct DecodeSwitch {
    bool saved = DexifDecode;
    ~DecodeSwitch() { DexifDecode = saved; }
};

std::string ListingOf(const Bytes& file, int option = 255, int trace = 0) {
    TimgData meta(option);
    meta.TraceLevel = trace;
    Walk(meta, file);
    return meta.TagListing();
}

TEST(Listing, DecodedValuesOneTagPerLine) {
    DecodeSwitch keep;
    DexifDecode = true;
    std::string listing = ListingOf(JpegBuilder().Seg(APP1, ExifPayload()).Scan());
    EXPECT_EQ(ValueOf(listing, "Exif.Image.Make"), "Scarlex");
    EXPECT_EQ(ValueOf(listing, "Exif.Photo.ExposureTime"), "1/60 s");
    EXPECT_EQ(ValueOf(listing, "Exif.Photo.FNumber"), "F2.8");
    EXPECT_EQ(ValueOf(listing, "Exif.Photo.DateTimeOriginal"), "2004:06:05 12:34:56");
    for (const std::string& line : Lines(listing)) {
        EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << line;
        EXPECT_NE(line.find(": "), std::string::npos) << line;
    }
}

TEST(Listing, RawValuesWithoutDecoding) {
    DecodeSwitch keep;
    DexifDecode = false;
    std::string listing = ListingOf(JpegBuilder().Seg(APP1, ExifPayload()).Scan());
    EXPECT_EQ(ValueOf(listing, "Exif.Photo.ExposureTime"), "1/60");
    EXPECT_EQ(ValueOf(listing, "Exif.Photo.FNumber"), "28/10");
}

TEST(Listing, BigEndianExifReadsTheSame) {
    TimgData meta;
    ASSERT_TRUE(Walk(meta, JpegBuilder().Seg(APP1, ExifPayload("Motorola", Exiv2::bigEndian)).Scan()));
    EXPECT_TRUE(meta.BigEndian());
    EXPECT_EQ(ValueOf(meta.TagListing(), "Exif.Image.Make"), "Motorola");
}

TEST(Listing, IptcRecordsFollowTheExifTags) {
    // The IPTC segment comes first in the file; its records still go last.
    std::string listing = ListingOf(JpegBuilder().Seg(APP13, IptcPayload("Red eyes")).Seg(APP1, ExifPayload()).Scan());
    std::vector<std::string> lines = Lines(listing);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front().rfind("Exif.", 0), 0u) << listing;
    EXPECT_EQ(ValueOf(listing, "Iptc.Application2.Caption"), "Red eyes");
    EXPECT_EQ(ValueOf(listing, "Iptc.Application2.City"), "London");
    bool inIptc = false;
    for (const std::string& line : lines) {
        if (line.rfind("Iptc.", 0) == 0) inIptc = true;
        else EXPECT_FALSE(inIptc) << "EXIF line after IPTC: " << line;
    }
}

TEST(Listing, OptionSelectsGroups) {
    Bytes file = JpegBuilder().Seg(APP1, ExifPayload()).Seg(APP13, IptcPayload()).Scan();
    struct Case {
        int option;
        std::vector<std::string> present, absent;
    };
    for (const Case& c : {Case{kListImage, {"Exif.Image.Make"}, {"Exif.Photo.", "Exif.GPSInfo.", "Iptc."}},
                          Case{kListPhoto | kListIptc, {"Exif.Photo.FNumber", "Iptc.Application2.City"}, {"Exif.Image.", "Exif.GPSInfo."}},
                          Case{kListGps, {"Exif.GPSInfo.GPSVersionID"}, {"Exif.Image.", "Exif.Photo.", "Iptc."}},
                          Case{0, {}, {"Exif.", "Iptc."}}}) {
        SCOPED_TRACE(c.option);
        std::string listing = ListingOf(file, c.option);
        for (const std::string& s : c.present) EXPECT_NE(listing.find(s), std::string::npos) << s;
        for (const std::string& s : c.absent) EXPECT_EQ(listing.find(s), std::string::npos) << s;
    }
}

// EXIF data Exiv2 cannot make sense of: the segment is kept, the status
// says so, the listing says what could be read, and nothing reaches stderr.
struct Broken {
    const char* name;
    Bytes payload;
};

void PrintTo(const Broken& value, std::ostream* os) { *os << value.name; }


Bytes BrokenIfdOffset() {
    Bytes p = ExifPayload();
    p[6 + 4] = 0xF0;  // first directory far beyond the data
    p[6 + 5] = 0xFF;
    return p;
}

// The Make value points outside the data: Exiv2 warns and reads on.
Bytes BadValueOffset() {
    Bytes p = ExifPayload();
    const std::size_t makeOffset = 6 + 8 + 2 + 8;  // TIFF header, entry count, first entry's tag/type/count
    p[makeOffset] = 0x00;
    p[makeOffset + 1] = 0xFF;
    return p;
}

Bytes TruncatedTiff() {
    Bytes p = ExifPayload();
    p.resize(6 + 20);
    return p;
}

class BrokenExif : public ::testing::TestWithParam<Broken> {};

TEST_P(BrokenExif, IsKeptAndReported) {
    TempDir dir;
    const Bytes payload = GetParam().payload;
    WriteFileBytes(dir / "broken.jpg", JpegBuilder().Seg(APP1, payload).Seg(COM, "still here").Table().Scan());
    for (int trace : {0, 1}) {
        SCOPED_TRACE(trace);
        TimgData meta;
        meta.TraceLevel = trace;
        ::testing::internal::CaptureStderr();
        EXPECT_TRUE(meta.ProcessFile(dir / "broken.jpg"));
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
        EXPECT_EQ(meta.Status(), "Illegal Exif construction");
        ASSERT_TRUE(meta.HasEXIF());
        EXPECT_EQ(meta.Section(meta.ExifEntry()).Data, Kept(payload));
        EXPECT_EQ(meta.CommentEntry(), 2);
        std::string listing = meta.TagListing();
        EXPECT_NE(listing.find("Error: "), std::string::npos) << listing;
        Lines(listing);  // every line ends with CR LF
        Bytes out;
        ASSERT_TRUE(meta.BuildEXIFJpeg(Bytes(JpegBuilder().Table().Scan()), false, out));
        EXPECT_EQ(Bytes(out.begin() + 2, out.begin() + 2 + 4 + static_cast<std::ptrdiff_t>(payload.size())), Segment(APP1, payload));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Payloads, BrokenExif,
    ::testing::Values(Broken{"headerOnly", Bytes{'E', 'x', 'i', 'f', 0, 0}},
                      Broken{"badTiffMagic", Bytes{'E', 'x', 'i', 'f', 0, 0, 'X', 'X', 42, 0, 8, 0, 0, 0}},
                      Broken{"ifdOutside", BrokenIfdOffset()},
                      Broken{"truncatedTiff", TruncatedTiff()}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Listing, App1WithoutExifHeaderIsKeptButNotTakenForExif) {
    const Bytes payload{'h', 't', 't', 'p', ':', '/', '/'};
    TimgData meta;
    ASSERT_TRUE(Walk(meta, JpegBuilder().Seg(APP1, payload).Seg(COM, "still here").Table().Scan()));
    EXPECT_FALSE(meta.HasEXIF());
    EXPECT_EQ(meta.ExifInfo(), nullptr);
    EXPECT_EQ(meta.Fate(1), SegmentFate::Kept);
    Bytes out;
    ASSERT_TRUE(meta.BuildEXIFJpeg(Bytes(JpegBuilder().Table().Scan()), false, out));
    EXPECT_EQ(Bytes(out.begin() + 2, out.begin() + 2 + 4 + static_cast<std::ptrdiff_t>(payload.size())), Segment(APP1, payload));
}

TEST(Listing, XmpPropertiesFollowIptc) {
    const std::string packet =
        std::string("http://ns.adobe.com/xap/1.0/\0", 29) +
        "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
        "<rdf:Description rdf:about='' xmlns:xmp='http://ns.adobe.com/xap/1.0/' xmlns:dc='http://purl.org/dc/elements/1.1/'"
        " xmp:Rating='4'><dc:subject><rdf:Bag><rdf:li>eyes</rdf:li><rdf:li>red</rdf:li></rdf:Bag></dc:subject>"
        "</rdf:Description></rdf:RDF></x:xmpmeta>";
    std::string listing = ListingOf(JpegBuilder().Seg(APP1, packet).Seg(APP13, IptcPayload()).Seg(APP1, ExifPayload()).Scan());
    EXPECT_EQ(ValueOf(listing, "Xmp.xmp.Rating"), "4");
    EXPECT_EQ(ValueOf(listing, "Xmp.dc.subject"), "eyes, red");
    EXPECT_LT(listing.find("Iptc.Application2.Caption"), listing.find("Xmp.xmp.Rating"));
    EXPECT_EQ(listing.find("Error"), std::string::npos) << listing;
    // A damaged packet says so and loses nothing else.
    std::string broken = packet.substr(0, packet.size() - 40);
    ::testing::internal::CaptureStderr();
    listing = ListingOf(JpegBuilder().Seg(APP1, ExifPayload()).Seg(APP1, broken).Scan(), 255, 1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_NE(listing.find("Error: "), std::string::npos) << listing;
    EXPECT_EQ(ValueOf(listing, "Exif.Image.Make"), "Scarlex");
    // Not asked for, not listed.
    EXPECT_EQ(ListingOf(JpegBuilder().Seg(APP1, packet).Scan(), kListAll & ~kListXmp), "");
}

TEST(Listing, TraceAddsParserWarnings) {
    Bytes file = JpegBuilder().Seg(APP1, BadValueOffset()).Scan();
    auto warnings = [](const std::string& listing) {
        std::size_t n = 0;
        for (const std::string& line : Lines(listing)) n += line.rfind("Warning: ", 0) == 0;
        return n;
    };
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(warnings(ListingOf(file, 255, 0)), 0u);
    const std::string traced = ListingOf(file, 255, 1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_GT(warnings(traced), 0u) << traced;
    // A warning is not an error: the rest is listed as usual.
    EXPECT_EQ(traced.find("Error: "), std::string::npos) << traced;
    EXPECT_EQ(ValueOf(traced, "Exif.Photo.FNumber"), "F2.8");
}

TEST(Listing, DamagedIptcIsReportedAndKept) {
    Bytes iptc = IptcPayload();
    iptc[14 + 4 + 2 + 2] = 0x7F;  // resource size far beyond the segment
    TimgData meta;
    ASSERT_TRUE(Walk(meta, JpegBuilder().Seg(APP1, ExifPayload()).Seg(APP13, iptc).Scan()));
    EXPECT_EQ(meta.Section(meta.IptcEntry()).Data, Kept(iptc));
    EXPECT_NE(meta.TagListing().find("Error: "), std::string::npos) << meta.TagListing();
    EXPECT_NE(meta.TagListing().find("Exif.Image.Make: Scarlex"), std::string::npos);
}

TEST(Listing, ValuesAreMadeSafeForOneLine) {
    EXPECT_EQ(CleanListingValue("two\r\nlines\tand\x01"), "two  lines and");
    EXPECT_EQ(CleanListingValue("Gr\xf6\xdf" "e"), "Gr\xc3\xb6\xc3\x9f" "e");  // Latin-1 becomes UTF-8
    EXPECT_EQ(CleanListingValue("Gr\xc3\xb6\xc3\x9f" "e"), "Gr\xc3\xb6\xc3\x9f" "e");
    std::string longText(300, 'a');
    EXPECT_EQ(CleanListingValue(longText), std::string(256, 'a') + "...");
    // A cut never splits a UTF-8 sequence.
    std::string accented = std::string(255, 'a') + "\xc3\xa9" + "tail";
    EXPECT_EQ(CleanListingValue(accented), std::string(255, 'a') + "...");
}

TEST(Listing, LongBinaryValuesAreSummarised) {
    Exiv2::ExifData data;
    data["Exif.Image.Make"] = "Scarlex";
    Exiv2::DataValue blob(Exiv2::undefined);
    std::vector<Exiv2::byte> bytes(500, 7);
    blob.read(bytes.data(), static_cast<long>(bytes.size()));
    data.add(Exiv2::ExifKey("Exif.Photo.UserComment"), &blob);
    data.add(Exiv2::ExifKey("Exif.Image.0x9999"), &blob);
    Exiv2::Blob tiff;
    Exiv2::ExifParser::encode(tiff, Exiv2::littleEndian, data);
    Bytes payload{'E', 'x', 'i', 'f', 0, 0};
    payload.insert(payload.end(), tiff.begin(), tiff.end());
    std::string listing = ListingOf(JpegBuilder().Seg(APP1, payload).Scan());
    EXPECT_EQ(ValueOf(listing, "Exif.Image.0x9999"), "(500 bytes of binary data)") << listing;
    for (const std::string& line : Lines(listing)) EXPECT_LE(line.size(), 300u) << line;
}

}  // namespace
