// Writing the kept segments back in front of saved JPEG data.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>

#include "MetaTestSupport.h"
#include "support/TestSupport.h"

using namespace scarlex;
using namespace scarlex::test;

namespace {

// The saved data as the patch chain leaves it: a JFIF header, tables, scan.
Bytes SavedData() { return JpegBuilder().Seg(APP0, JfifPayload()).Table().Table(SOF0).Table(DHT).Scan(); }

std::size_t FilesIn(const TempDir& dir) {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++n;
    return n;
}

TEST(WriteBack, EveryCommentAndHeaderComesBackInOrder) {
    // Two comments once came out as the last one twice, and the JFIF
    // header was lost next to EXIF.
    Bytes exif = ExifPayload(), iptc = IptcPayload();
    TimgData meta;
    ASSERT_TRUE(Walk(meta, JpegBuilder().Seg(APP0, "JFIF").Seg(APP1, exif).Seg(APP13, iptc).Seg(COM, "first")
                               .Seg(COM, "last").Table().Scan()));
    // The chain copies the original's comments into the saved data.
    Bytes saved = JpegBuilder().Seg(APP0, JfifPayload()).Seg(COM, "first").Seg(COM, "last").Table().Table(SOF0).Scan(), out;
    ASSERT_TRUE(meta.BuildEXIFJpeg(saved, false, out));
    Bytes expected = Concat({{0xFF, 0xD8}, Segment(APP0, {'J', 'F', 'I', 'F'}), Segment(APP1, exif), Segment(APP13, iptc),
                             Segment(COM, {'f', 'i', 'r', 's', 't'}), Segment(COM, {'l', 'a', 's', 't'}),
                             Tail(saved, 2 + 18 + 9 + 8)});
    EXPECT_EQ(FirstByteDifference(out, expected), "");
}

TEST(WriteBack, IptcAndHeadersWithoutExif) {
    // Without EXIF the IPTC segment used to be left behind.
    Bytes iptc = IptcPayload(), adobe = {'A', 'd', 'o', 'b', 'e', 0, 100, 0, 0, 0, 0, 2};
    TimgData meta;
    ASSERT_TRUE(Walk(meta, JpegBuilder().Seg(APP0, "JFIF-original").Seg(APP13, iptc).Seg(0xEE, adobe).Scan()));
    // The encoder writes its own Adobe header; it must not appear twice.
    Bytes saved = JpegBuilder().Seg(0xEE, Bytes{'A', 'd', 'o', 'b', 'e', 0, 100, 0, 0, 0, 0, 0}).Table().Scan(), out;
    ASSERT_TRUE(meta.BuildEXIFJpeg(saved, false, out));
    Bytes expected = Concat({{0xFF, 0xD8}, Segment(APP0, Bytes{'J', 'F', 'I', 'F', '-', 'o', 'r', 'i', 'g', 'i', 'n', 'a', 'l'}),
                             Segment(APP13, iptc), Segment(0xEE, adobe), Tail(saved, 2 + 16)});
    EXPECT_EQ(FirstByteDifference(out, expected), "");
}

TEST(WriteBack, XmpIccAndOtherAppSegmentsKeptMpfDropped) {
    const std::string nul(1, '\0');
    const std::string xmp = "http://ns.adobe.com/xap/1.0/" + nul + "<x:xmpmeta xmlns:x='adobe:ns:meta/'/>";
    const std::string ext = "http://ns.adobe.com/xmp/extension/" + nul + "0123456789ABCDEF0123456789ABCDEF";
    const std::string icc = "ICC_PROFILE" + nul;
    JpegBuilder head;
    head.Seg(APP0, JfifPayload()).Seg(APP1, ExifPayload()).Seg(APP2, icc + "\1\2" + std::string(300, 'a'))
        .Seg(APP1, xmp).Seg(APP1, ext + "part one").Seg(APP1, ext + "part two").Seg(APP2, icc + "\2\2" + "rest")
        .Seg(APP2, "MPF" + nul + "MM" + nul + "*").Seg(0xEC, "Ducky").Seg(APP13, IptcPayload()).Seg(COM, "A")
        .Table().Table(SOF0).Seg(COM, "B").Seg(0xEB, "JP\1\2").Table(DHT).Scan();
    const Bytes original = head;
    TimgData meta;
    ASSERT_TRUE(Walk(meta, original));
    EXPECT_EQ(meta.XmpEntry(), 4);

    Bytes expected{0xFF, 0xD8};
    for (int n = 1; n <= meta.SectionCount(); ++n) {
        const TSection& s = meta.Section(n);
        if (s.Type == DQT || s.Type == SOF0 || s.Type == DHT || s.Type == SOS) continue;
        if (s.Type == 0xEB || (s.Type == APP2 && s.Data[2] == 'M')) {
            EXPECT_EQ(meta.Fate(n), SegmentFate::Dropped) << n;
            continue;
        }
        EXPECT_EQ(meta.Fate(n), SegmentFate::Kept) << n;
        expected.push_back(0xFF);
        expected.push_back(s.Type);
        expected.insert(expected.end(), s.Data.begin(), s.Data.end());
    }
    EXPECT_EQ(meta.KeptSegments().size(), 11u);
    Bytes saved = SavedData(), out;
    ASSERT_TRUE(meta.BuildEXIFJpeg(saved, false, out));
    EXPECT_EQ(FirstByteDifference(out, Concat({expected, Tail(saved, 2 + 4 + 14)})), "");

    // A save without edits hands over the original itself: every kept
    // segment still comes out once (APP13 used to come out twice).
    ASSERT_TRUE(meta.BuildEXIFJpeg(original, false, out));
    Bytes originalCoding = JpegBuilder().Table().Table(SOF0).Table(DHT).Scan();
    EXPECT_EQ(FirstByteDifference(out, Concat({expected, Tail(originalCoding, 2)})), "");
}

TEST(WriteBack, SinkGetsTheFileAndItsFailureIsReported) {
    TimgData meta;
    ASSERT_TRUE(Walk(meta, JpegBuilder().Seg(APP1, ExifPayload()).Seg(COM, "c").Scan()));
    Bytes built, streamed;
    ASSERT_TRUE(meta.BuildEXIFJpeg(SavedData(), false, built));
    int calls = 0;
    ASSERT_TRUE(meta.WriteJpeg(SavedData(), false, [&](std::span<const uint8_t> piece) {
        ++calls;
        streamed.insert(streamed.end(), piece.begin(), piece.end());
        return true;
    }));
    EXPECT_EQ(FirstByteDifference(streamed, built), "");

    // The sink is not called again once it has failed.
    int after = 0;
    MetaResult r = meta.WriteJpeg(SavedData(), false, [&](std::span<const uint8_t>) { return ++after > 2; });
    EXPECT_FALSE(r);
    EXPECT_EQ(after, 1);
    // Refused saved data sends nothing at all.
    calls = 0;
    EXPECT_FALSE(meta.WriteJpeg(Bytes{0xFF, 0xD8, 0xFF, APP0, 0x00}, false, [&](std::span<const uint8_t>) {
        ++calls;
        return true;
    }));
    EXPECT_EQ(calls, 0);

    // Segments handed in from elsewhere are checked too.
    TSection table{DQT, 3, {0, 3, 1}}, bad{COM, 5, {0, 3, 'x'}};
    auto ignore = [](std::span<const uint8_t>) { return true; };
    EXPECT_FALSE(WriteJpegWithSegments(std::vector<TSection>{table}, SavedData(), ignore));
    EXPECT_FALSE(WriteJpegWithSegments(std::vector<TSection>{bad}, SavedData(), ignore));
    EXPECT_TRUE(WriteJpegWithSegments({}, SavedData(), ignore));
}

// The writer fed in pieces of any size gives what the whole-data write
// gives: the same bytes, or the same refusal with nothing sent.
TEST(WriteBack, PiecesOfAnySizeGiveTheWholeDataWrite) {
    TimgData meta;
    ASSERT_TRUE(Walk(meta, JpegBuilder().Seg(APP1, ExifPayload()).Seg(COM, "kept").Scan()));
    const std::vector<TSection> kept = meta.KeptSegments();
    const TSection notMeta{DQT, 3, {0, 3, 1}};
    const Bytes good = JpegBuilder().Seg(APP0, JfifPayload()).Table().Seg(COM, "own").Raw({0xFF}).Table(SOF0)
                           .Table(DHT, 300).Scan();
    const Bytes cases[] = {
        good,
        SavedData(),
        Bytes(good.begin(), good.begin() + 40),                       // ends in the head
        Bytes(good.begin(), good.begin() + 3),                        // ends inside a marker
        JpegBuilder().Table().Raw({0xFF, 0xD9}).Scan(),               // EOI before the scan
        JpegBuilder().Raw({0xFF, DQT, 0x40, 0x00, 1, 2}),             // a length past the end
        JpegBuilder().Raw({0xFF, DQT, 0x00, 0x01}).Scan(),            // a length below 2
        JpegBuilder().Table().Raw({0x00}).Scan(),                     // not a marker
        Bytes{0xFF, 0xD8},
        Bytes{0xFF},
        Bytes{},
        Bytes{0x89, 'P', 'N', 'G'},
    };
    for (std::size_t c = 0; c < std::size(cases); ++c)
        for (const std::vector<TSection>& segments : {kept, std::vector<TSection>{}, std::vector<TSection>{notMeta}}) {
            const Bytes& saved = cases[c];
            Bytes whole;
            const MetaResult expected = WriteJpegWithSegments(segments, saved, [&](std::span<const uint8_t> piece) {
                whole.insert(whole.end(), piece.begin(), piece.end());
                return true;
            });
            for (std::size_t size : {1, 2, 3, 7, 64, 4096}) {
                Bytes streamed;
                JpegSegmentWriter writer(segments, [&](std::span<const uint8_t> piece) {
                    streamed.insert(streamed.end(), piece.begin(), piece.end());
                    return true;
                });
                for (std::size_t at = 0; at < saved.size(); at += size)
                    if (!writer.Put(std::span<const uint8_t>(saved).subspan(at, std::min(size, saved.size() - at)))) break;
                const MetaResult got = writer.Finish();
                EXPECT_EQ(got.ok, expected.ok) << c << " in pieces of " << size;
                EXPECT_EQ(got.error, expected.error) << c << " in pieces of " << size;
                EXPECT_EQ(FirstByteDifference(streamed, whole), "") << c << " in pieces of " << size;
                if (!expected.ok) {
                    EXPECT_TRUE(streamed.empty()) << c;
                }
            }
        }

    // A sink that stops part way: the writer takes nothing more.
    int calls = 0;
    JpegSegmentWriter writer(kept, [&](std::span<const uint8_t>) { return ++calls < 3; });
    bool taken = true;
    for (std::size_t at = 0; at < good.size() && taken; ++at) taken = writer.Put(std::span<const uint8_t>(good).subspan(at, 1));
    EXPECT_FALSE(taken);
    EXPECT_FALSE(writer.Rejected());
    EXPECT_FALSE(writer.Put(std::span<const uint8_t>(good).subspan(0, 1)));
    EXPECT_EQ(calls, 3);
    EXPECT_FALSE(writer.Finish());
}

// The saved data's own APPn and COM segments give way to the kept ones
// wherever they stand before the scan; its tables stay in their order.
struct Leading {
    const char* name;
    std::vector<uint8_t> types;  // metadata segments of the saved data
};

void PrintTo(const Leading& value, std::ostream* os) { *os << value.name; }


class LeadingSegments : public ::testing::TestWithParam<Leading> {};

TEST_P(LeadingSegments, AllGiveWayToTheKeptOnes) {
    JpegBuilder b, coding;
    for (std::size_t i = 0; i < GetParam().types.size(); ++i) {
        b.Seg(GetParam().types[i], "seg" + std::to_string(i));
        // A table after each, so that the metadata stands between tables.
        b.Table(DQT, i + 1);
        coding.Table(DQT, i + 1);
    }
    Bytes saved = b.Table(SOF0).Scan();
    TimgData meta;
    Bytes exif = ExifPayload();
    ASSERT_TRUE(Walk(meta, JpegBuilder().Seg(APP1, exif).Scan()));
    Bytes out;
    ASSERT_TRUE(meta.BuildEXIFJpeg(saved, false, out));
    EXPECT_EQ(FirstByteDifference(out, Concat({{0xFF, 0xD8}, Segment(APP1, exif), Tail(coding.Table(SOF0).Scan(), 2)})), "");
}

INSTANTIATE_TEST_SUITE_P(
    Orders, LeadingSegments,
    ::testing::Values(Leading{"app0_com", {APP0, COM}}, Leading{"all_four", {APP0, APP1, APP13, COM}},
                      Leading{"com_then_app0", {COM, APP0}}, Leading{"two_app0", {APP0, APP0}},
                      Leading{"two_com", {COM, COM}}, Leading{"app2_app14", {APP2, 0xEE}}, Leading{"none", {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WriteBack, RepeatedSavesWriteTheSameBytes) {
    TimgData meta;
    ASSERT_TRUE(Walk(meta, JpegBuilder().Seg(APP1, ExifPayload()).Seg(APP13, IptcPayload()).Seg(COM, "c").Scan()));
    Bytes once, twice;
    ASSERT_TRUE(meta.BuildEXIFJpeg(SavedData(), false, once));
    ASSERT_TRUE(meta.BuildEXIFJpeg(once, false, twice));
    EXPECT_EQ(FirstByteDifference(once, twice), "");
}

TEST(WriteBack, DamagedSavedDataIsRefusedAndTheFileLeftAlone) {
    TempDir dir;
    TimgData meta;
    ASSERT_TRUE(Walk(meta, JpegBuilder().Seg(APP1, ExifPayload()).Scan()));
    const std::string name = dir / "out.jpg";
    const Bytes before = SavedData();
    for (const Bytes& bad : {Bytes{}, Bytes{0xFF}, Bytes{0x89, 'P', 'N', 'G', 0, 0},
                             Bytes{0xFF, 0xD8, 0xFF, APP0, 0x00, 0x40, 'J'},  // runs past the end
                             Bytes{0xFF, 0xD8, 0xFF, APP1, 0x00, 0x01},       // below its own length bytes
                             Bytes{0xFF, 0xD8, 0xFF, APP0},
                             Bytes{0xFF, 0xD8}, Bytes{0xFF, 0xD8, 0xFF, EOI},  // no picture
                             Bytes(JpegBuilder().Seg(APP0, JfifPayload()).Table()),
                             Bytes{0xFF, 0xD8, 0x00, 0xFF, SOS, 0x00, 0x02}}) {
        SCOPED_TRACE(bad.size());
        WriteFileBytes(name, before);
        MetaResult r = meta.WriteEXIFJpeg(bad, name, false);
        EXPECT_FALSE(r);
        EXPECT_NE(r.error.find(name), std::string::npos) << r.error;
        EXPECT_EQ(ReadFileBytes(name), before);
        EXPECT_EQ(FilesIn(dir), 1u);
    }
}

TEST(WriteBack, ReplacesTheFileKeepingItsPermissions) {
    TempDir dir;
    const std::string name = dir / "out.jpg";
    Bytes saved = SavedData();
    WriteFileBytes(name, saved);
    ASSERT_EQ(::chmod(name.c_str(), 0640), 0);
    TimgData meta;
    ASSERT_TRUE(Walk(meta, JpegBuilder().Seg(APP1, ExifPayload()).Scan()));
    TJPEGImage image;
    ASSERT_TRUE(image.LoadFromFile(name));
    MetaResult r = meta.WriteEXIFJpeg(image, name, false);
    ASSERT_TRUE(r) << r.error;
    Bytes expected;
    ASSERT_TRUE(meta.BuildEXIFJpeg(saved, false, expected));
    EXPECT_EQ(FirstByteDifference(ReadFileBytes(name), expected), "");
    struct stat st {};
    ASSERT_EQ(::stat(name.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(FilesIn(dir), 1u);
}

TEST(WriteBack, NewFileGetsOrdinaryPermissions) {
    TempDir dir;
    TimgData meta;
    ASSERT_TRUE(Walk(meta, JpegBuilder().Seg(APP1, ExifPayload()).Scan()));
    ASSERT_TRUE(meta.WriteEXIFJpeg(SavedData(), dir / "new.jpg", false));
    mode_t mask = ::umask(0);
    ::umask(mask);
    struct stat st {};
    ASSERT_EQ(::stat((dir / "new.jpg").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666u & ~mask);
}

TEST(WriteBack, FailedWriteLeavesTheOldFileAndNoLeftovers) {
    TempDir dir;
    const std::string name = dir / "out.jpg";
    const Bytes before = SavedData();
    WriteFileBytes(name, before);
    TimgData meta;
    ASSERT_TRUE(Walk(meta, JpegBuilder().Seg(APP1, ExifPayload()).Seg(COM, std::string(3000, 'c')).Scan()));

    // A disk that fills up half-way: files may not grow past 1000 bytes.
    rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 1000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    MetaResult r = meta.WriteEXIFJpeg(before, name, false);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(r);
    EXPECT_FALSE(r.error.empty());
    EXPECT_EQ(ReadFileBytes(name), before);
    EXPECT_EQ(FilesIn(dir), 1u);
}

TEST(WriteBack, MissingFolderIsReported) {
    TempDir dir;
    TimgData meta;
    ASSERT_TRUE(Walk(meta, JpegBuilder().Seg(APP1, ExifPayload()).Scan()));
    MetaResult r = meta.WriteEXIFJpeg(SavedData(), dir / "no/such/folder/out.jpg", false);
    EXPECT_FALSE(r);
    EXPECT_NE(r.error.find("out.jpg"), std::string::npos) << r.error;
}

TEST(WriteBack, AdjustSizeRewritesOnlyTheWrittenCopy) {
    TempDir dir;
    const std::string saved = dir / "saved.jpg";
    TestJpegOptions options;
    WriteTestJpeg(saved, MakePhotoLike(40, 24), options);
    TimgData meta;
    ASSERT_TRUE(Walk(meta, JpegBuilder().Seg(APP1, ExifPayload()).Scan()));
    const Bytes keptBefore = meta.Section(1).Data;

    TJPEGImage image;
    ASSERT_TRUE(image.LoadFromFile(saved));
    int w = 0, h = 0;
    ASSERT_TRUE(image.FrameSize(w, h));
    EXPECT_EQ(w, 40);
    EXPECT_EQ(h, 24);
    const std::string out = dir / "out.jpg";
    ASSERT_TRUE(meta.WriteEXIFJpeg(image, out, true));

    TimgData written;
    ASSERT_TRUE(written.ProcessFile(out));
    const std::string listing = written.TagListing();
    EXPECT_NE(listing.find("Exif.Photo.PixelXDimension: 40\r\n"), std::string::npos) << listing;
    EXPECT_NE(listing.find("Exif.Photo.PixelYDimension: 24\r\n"), std::string::npos) << listing;
    EXPECT_NE(listing.find("Exif.Image.Make: Scarlex\r\n"), std::string::npos) << listing;
    EXPECT_EQ(meta.Section(1).Data, keptBefore);

    // Without the flag the segment goes out untouched.
    ASSERT_TRUE(meta.WriteEXIFJpeg(image, out, false));
    ASSERT_TRUE(written.ProcessFile(out));
    EXPECT_EQ(written.Section(1).Data, keptBefore);
}

}  // namespace
