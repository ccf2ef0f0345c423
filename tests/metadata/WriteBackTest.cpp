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

Bytes Tail(const Bytes& bytes, std::size_t from) { return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.end()); }

std::size_t FilesIn(const TempDir& dir) {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++n;
    return n;
}

TEST(WriteBack, ExifIptcCommentThenSavedDataWithoutItsHeader) {
    Bytes exif = ExifPayload(), iptc = IptcPayload();
    TimgData meta;
    ASSERT_TRUE(Walk(meta, JpegBuilder().Seg(APP0, "JFIF").Seg(APP1, exif).Seg(APP13, iptc).Seg(COM, "first")
                               .Seg(COM, "last").Table().Scan()));
    Bytes saved = SavedData(), out;
    ASSERT_TRUE(meta.BuildEXIFJpeg(saved, false, out));
    Bytes expected = Concat({{0xFF, 0xD8}, Segment(APP1, exif), Segment(APP13, iptc), Segment(COM, {'l', 'a', 's', 't'}),
                             Tail(saved, 2 + 4 + 14)});
    EXPECT_EQ(FirstByteDifference(out, expected), "");
}

TEST(WriteBack, HeaderIsWrittenOnlyWithoutExif) {
    Bytes saved = SavedData(), out;
    TimgData meta;
    ASSERT_TRUE(Walk(meta, JpegBuilder().Seg(APP0, "JFIF-original").Seg(COM, "c").Scan()));
    ASSERT_TRUE(meta.BuildEXIFJpeg(saved, false, out));
    Bytes expected = Concat({{0xFF, 0xD8}, Segment(APP0, Bytes{'J', 'F', 'I', 'F', '-', 'o', 'r', 'i', 'g', 'i', 'n', 'a', 'l'}),
                             Segment(COM, {'c'}), Tail(saved, 2 + 4 + 14)});
    EXPECT_EQ(FirstByteDifference(out, expected), "");
}

// The leading APP0, APP1, APP13 and COM of the saved data are dropped, each
// only when it is next at that point, in this order.
struct Leading {
    const char* name;
    std::vector<uint8_t> types;  // leading segments of the saved data
    std::size_t dropped;         // how many of them are dropped
};

void PrintTo(const Leading& value, std::ostream* os) { *os << value.name; }


class LeadingSegments : public ::testing::TestWithParam<Leading> {};

TEST_P(LeadingSegments, AreDroppedInTheFixedOrder) {
    JpegBuilder b;
    std::size_t droppedBytes = 2;
    for (std::size_t i = 0; i < GetParam().types.size(); ++i) {
        b.Seg(GetParam().types[i], "seg" + std::to_string(i));
        if (i < GetParam().dropped) droppedBytes += 4 + 4;
    }
    Bytes saved = b.Table().Scan();
    TimgData meta;
    Bytes exif = ExifPayload();
    ASSERT_TRUE(Walk(meta, JpegBuilder().Seg(APP1, exif).Scan()));
    Bytes out;
    ASSERT_TRUE(meta.BuildEXIFJpeg(saved, false, out));
    EXPECT_EQ(FirstByteDifference(out, Concat({{0xFF, 0xD8}, Segment(APP1, exif), Tail(saved, droppedBytes)})), "");
}

INSTANTIATE_TEST_SUITE_P(
    Orders, LeadingSegments,
    ::testing::Values(Leading{"app0_com", {APP0, COM}, 2}, Leading{"all_four", {APP0, APP1, APP13, COM}, 4},
                      Leading{"app1_app13", {APP1, APP13}, 2}, Leading{"com_then_app0", {COM, APP0}, 1},
                      Leading{"app1_app0", {APP1, APP0}, 1}, Leading{"two_app0", {APP0, APP0}, 1},
                      Leading{"two_com", {COM, COM}, 1}, Leading{"app2_first", {APP2, APP1}, 0},
                      Leading{"none", {}, 0}),
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
                             Bytes{0xFF, 0xD8, 0xFF, APP0}}) {
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
