// The whole save, as the window does it (through scarlex-cli fix), with and
// without edits: every kept segment of the original reaches the saved file
// once, in order, and nothing that points into the old picture does.
#include <gtest/gtest.h>

#include "MetaTestSupport.h"
#include "save/SaveCommands.h"
#include "support/TestSupport.h"

using namespace scarlex;
using namespace scarlex::test;

namespace {

const std::string kNul(1, '\0');

Bytes Of(const std::string& s) { return Bytes(s.begin(), s.end()); }

std::string Xmp(const std::string& rating) {
    return "http://ns.adobe.com/xap/1.0/" + kNul +
           "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
           "<rdf:Description rdf:about='' xmlns:xmp='http://ns.adobe.com/xap/1.0/' xmp:Rating='" +
           rating + "'/></rdf:RDF></x:xmpmeta>";
}

std::string Icc(int chunk, int count) {
    return "ICC_PROFILE" + kNul + char(chunk) + char(count) + std::string(200 + chunk, char('p' + chunk));
}

// A photograph from the plain encoder with `segments` put in after its SOI
// (and after its JFIF header when `afterJfif`).
Bytes Photograph(const TempDir& dir, const std::vector<Bytes>& segments, bool afterJfif) {
    TestJpegOptions options;
    WriteTestJpeg(dir / "plain.jpg", MakePhotoLike(96, 64), options);
    const Bytes plain = ReadFileBytes(dir / "plain.jpg");
    const std::size_t jfifEnd = 4 + (std::size_t(plain[4]) << 8 | plain[5]);
    Bytes out(plain.begin(), plain.begin() + (afterJfif ? static_cast<std::ptrdiff_t>(jfifEnd) : 2));
    for (const Bytes& s : segments) out.insert(out.end(), s.begin(), s.end());
    out.insert(out.end(), plain.begin() + static_cast<std::ptrdiff_t>(jfifEnd), plain.end());
    return out;
}

std::vector<Bytes> MetadataSegments(const std::string& path) {
    TimgData meta(0);
    meta.ProcessFile(path);
    std::vector<Bytes> out;
    for (int n = 1; n <= meta.SectionCount(); ++n) {
        const TSection& s = meta.Section(n);
        if ((s.Type >= 0xE0 && s.Type <= 0xEF) || s.Type == COM) out.push_back(Concat({{0xFF, s.Type}, s.Data}));
    }
    return out;
}

struct Layout {
    const char* name;
    bool afterJfif;
    std::vector<Bytes> segments;  // as they stand in the original
    std::vector<std::size_t> kept;  // which of them a save keeps, in order
};

void PrintTo(const Layout& value, std::ostream* os) { *os << value.name; }

class SaveKeepsMetadata : public ::testing::TestWithParam<Layout> {};

TEST_P(SaveKeepsMetadata, WithAndWithoutEdits) {
    const Layout& layout = GetParam();
    TempDir dir;
    const std::string photo = dir / "photo.jpg";
    WriteFileBytes(photo, Photograph(dir, layout.segments, layout.afterJfif));
    std::vector<Bytes> expected;
    if (layout.afterJfif) expected.push_back(MetadataSegments(dir / "plain.jpg").at(0));
    for (std::size_t i : layout.kept) expected.push_back(layout.segments[i]);

    for (const char* edit : {"--circle 40,30,6", ""}) {
        SCOPED_TRACE(*edit ? "one edit" : "no edit");
        const std::string out = dir / "out.jpg";
        std::string log;
        ASSERT_EQ(RunShell(Quote(CliPath()) + " fix " + Quote(photo) + " " + edit + " -o " + Quote(out) + " --yes 2>&1",
                           &log),
                  0)
            << log;
        const std::vector<Bytes> got = MetadataSegments(out);
        ASSERT_EQ(got.size(), expected.size());
        for (std::size_t i = 0; i < got.size(); ++i) EXPECT_EQ(FirstByteDifference(got[i], expected[i]), "") << i;
        EXPECT_EQ(RunShell("djpeg " + Quote(out) + " >/dev/null 2>&1"), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, SaveKeepsMetadata,
    ::testing::Values(
        // EXIF as the fifth segment, behind XMP and a split ICC profile;
        // the MPF index goes.
        Layout{"exifFifth",
               true,
               {Segment(APP2, Of(Icc(1, 2))),
                Segment(APP2, Of(Icc(2, 2))), Segment(APP1, Of(Xmp("2"))),
                Segment(APP1, ExifPayload()), Segment(APP13, IptcPayload()), Segment(COM, Bytes{'A'}),
                Segment(COM, Bytes{'B'}), Segment(APP2, Bytes{'M', 'P', 'F', 0, 'I', 'I', '*', 0})},
               {0, 1, 2, 3, 4, 5, 6}},
        // IPTC and comments without EXIF; APP13 behind XMP behind EXIF.
        Layout{"noExif",
               false,
               {Segment(APP13, IptcPayload("no exif")), Segment(COM, Bytes{'A'}), Segment(COM, Bytes{'B'}),
                Segment(APP1, Of(Xmp("5")))},
               {0, 1, 2, 3}},
        Layout{"exifXmpIptc",
               false,
               {Segment(APP1, ExifPayload()), Segment(APP1, Of(Xmp("1"))),
                Segment(APP13, IptcPayload())},
               {0, 1, 2}}),
    [](const auto& info) { return std::string(info.param.name); });

// The in-memory hook that a save writing its file once calls.
TEST(SaveKeepsMetadata, InMemoryHookOfTheSaveDocument) {
    const Bytes saved = JpegBuilder().Seg(APP0, JfifPayload()).Table().Scan();
    TimgData meta;
    SaveDocument doc;
    UseMetadata(doc, meta);
    Bytes got, expected;
    auto collect = [&got](std::span<const uint8_t> piece) {
        got.insert(got.end(), piece.begin(), piece.end());
        return true;
    };
    // Nothing kept: the saved bytes as they are, its JFIF header included.
    ASSERT_FALSE(Walk(meta, JpegBuilder().Table().Scan()));
    ASSERT_TRUE(doc.WriteWithMetadata(saved, collect));
    EXPECT_EQ(got, saved);
    ASSERT_TRUE(Walk(meta, JpegBuilder().Seg(APP13, IptcPayload()).Seg(COM, "c").Scan()));
    ASSERT_TRUE(doc.KeepsMetadata());
    got.clear();
    ASSERT_TRUE(doc.WriteWithMetadata(saved, collect));
    ASSERT_TRUE(meta.BuildEXIFJpeg(saved, false, expected));
    EXPECT_EQ(FirstByteDifference(got, expected), "");
    // A sink that cannot take the bytes fails the write, kept segments or not.
    auto refuse = [](std::span<const uint8_t>) { return false; };
    EXPECT_FALSE(doc.WriteWithMetadata(saved, refuse));
    Walk(meta, JpegBuilder().Table().Scan());
    EXPECT_FALSE(doc.WriteWithMetadata(saved, refuse));
}

}  // namespace
