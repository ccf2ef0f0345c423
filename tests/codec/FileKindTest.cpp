// Foreign files named like photographs, and photographs that decode with
// damage: both get words a photographer understands.

#include <gtest/gtest.h>

#include <jerror.h>

#include <string>
#include <vector>

#include "codec/DecodeDamage.h"
#include "codec/FileKind.h"
#include "codec/JpegCodec.h"
#include "support/TestSupport.h"

namespace scarlex {
namespace {

using test::TempDir;

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

TEST(FileKinds, FirstBytesNameTheFormat) {
    struct Case {
        const char* what;
        std::vector<uint8_t> head;
        FileKind kind;
    };
    const Case cases[] = {
        {"jpeg", {0xFF, 0xD8, 0xFF, 0xE0}, FileKind::Jpeg},
        {"empty", {}, FileKind::Empty},
        {"png", {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13}, FileKind::Png},
        {"gif", Bytes("GIF89a\x10\0"), FileKind::Gif},
        {"tiff little-endian", {'I', 'I', 42, 0, 8, 0, 0, 0}, FileKind::Tiff},
        {"tiff big-endian", {'M', 'M', 0, 42, 0, 0, 0, 8}, FileKind::Tiff},
        {"canon cr2", {'I', 'I', 42, 0, 16, 0, 0, 0, 'C', 'R', 2, 0}, FileKind::CanonRaw},
        {"webp", Bytes(std::string("RIFF\x24\x10\0\0WEBPVP8 ", 16)), FileKind::WebP},
        {"heic", Bytes(std::string("\0\0\0\x18" "ftypheic\0\0\0\0", 16)), FileKind::Heic},
        {"heif mif1", Bytes(std::string("\0\0\0\x18" "ftypmif1\0\0\0\0", 16)), FileKind::Heic},
        {"avif", Bytes(std::string("\0\0\0\x1C" "ftypavif\0\0\0\0", 16)), FileKind::Avif},
        {"mp4", Bytes(std::string("\0\0\0\x20" "ftypisom\0\0\2\0", 16)), FileKind::Video},
        {"bmp", Bytes(std::string("BM\x36\x10\0\0\0\0\0\0\x36\0\0\0", 14)), FileKind::Bmp},
        {"text starting BM", Bytes("BMW service invoice"), FileKind::Unknown},
        {"html", Bytes("\n  <!DOCTYPE html><html>"), FileKind::Html},
        {"pdf", Bytes("%PDF-1.7"), FileKind::Pdf},
        {"plain text", Bytes("hello\n"), FileKind::Unknown},
        {"one byte", {0xFF}, FileKind::Unknown},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(RecogniseFileKind(c.head.data(), c.head.size()), c.kind);
    }
}

TEST(FileKinds, AForeignFileGetsThePhotographersMessageAndChangesNothing) {
    TempDir dir;
    Bitmap bitmap(4, 4);
    bitmap.Pixel(1, 1)[2] = 77;
    Sampling sampling{{1, 1, 1, 1, 1, 1}};
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        const char* message;
    };
    const Case cases[] = {
        {"holiday.jpg", {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'},
         "holiday.jpg is a PNG image, not a JPEG photograph; Scarlex edits JPEG files only"},
        {"IMG_0001.JPG", Bytes(std::string("\0\0\0\x18" "ftypheic\0\0\0\0", 16)),
         "IMG_0001.JPG is a HEIC image, not a JPEG photograph; Scarlex edits JPEG files only"},
        {"saved.jpg", Bytes("<html><body>"),
         "saved.jpg is a web page (HTML), not a JPEG photograph; Scarlex edits JPEG files only"},
        {"nothing.jpg", {}, "nothing.jpg is an empty file, not a JPEG photograph; Scarlex edits JPEG files only"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir / c.name;
        test::WriteFileBytes(path, c.bytes);
        CodecResult r = DecodeJpegToBitmap(path, bitmap, sampling);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error, c.message);
        JpegInfo info;
        EXPECT_EQ(ReadJpegInfo(path, info).error, c.message);
    }
    EXPECT_EQ(bitmap.Width(), 4);
    EXPECT_EQ(bitmap.Pixel(1, 1)[2], 77);
    EXPECT_EQ(sampling, (Sampling{{1, 1, 1, 1, 1, 1}}));
}

// A test photograph cut after `keep` of its bytes.
std::string CutPhotograph(const TempDir& dir, const std::string& name, bool progressive, double keep) {
    const std::string whole = dir / ("whole-" + name);
    test::TestJpegOptions options;
    options.progressive = progressive;
    test::WriteTestJpeg(whole, test::MakePhotoLike(160, 400, 7), options);
    std::vector<uint8_t> bytes = test::ReadFileBytes(whole);
    bytes.resize(static_cast<std::size_t>(static_cast<double>(bytes.size()) * keep));
    const std::string cut = dir / name;
    test::WriteFileBytes(cut, bytes);
    return cut;
}

// Rows at the bottom that are flat mid-grey, as the decoder fills what it
// could not read.
int GreyRowsAtTheBottom(const Bitmap& b) {
    int rows = 0;
    for (int y = b.Height() - 1; y >= 0; --y, ++rows)
        for (int x = 0; x < b.Width(); ++x)
            for (int c = 0; c < 3; ++c)
                if (std::abs(b.Pixel(x, y)[c] - 128) > 2) return rows;
    return rows;
}

TEST(DecodeDamage, ACutOffFileSaysHowMuchOfTheBottomIsGrey) {
    TempDir dir;
    const std::string cut = CutPhotograph(dir, "cut.jpg", false, 0.6);
    Bitmap b;
    Sampling s;
    CodecResult r = DecodeJpegToBitmap(cut, b, s);
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_FALSE(r.warningKinds.empty());
    EXPECT_EQ(r.warningKinds[0].code, JWRN_JPEG_EOF);
    const int grey = GreyRowsAtTheBottom(b);
    ASSERT_GT(grey, 40);
    const std::string words = DescribeDecodeDamage(r.warningKinds);
    const std::string lead = "the file ends early, so the lower part of the picture (about the bottom ";
    ASSERT_EQ(words.rfind(lead, 0), 0u) << words;
    const int percent = std::stoi(words.substr(lead.size()));
    EXPECT_NEAR(percent, grey * 100 / b.Height(), 8) << words;
    EXPECT_NE(words.find("is missing and is shown grey; saving keeps it so"), std::string::npos) << words;
}

TEST(DecodeDamage, ProgressiveAndHarmlessWarningsAreToldApart) {
    TempDir dir;
    const std::string cut = CutPhotograph(dir, "cut-progressive.jpg", true, 0.6);
    Bitmap b;
    Sampling s;
    CodecResult r = DecodeJpegToBitmap(cut, b, s);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_NE(DescribeDecodeDamage(r.warningKinds).find("last passes are missing"), std::string::npos)
        << DescribeDecodeDamage(r.warningKinds);

    // Stray bytes in front of the end marker: a warning, but nothing to see.
    const std::string padded = dir / "padded.jpg";
    test::WriteTestJpeg(padded, test::MakePhotoLike(64, 64, 3), {});
    std::vector<uint8_t> bytes = test::ReadFileBytes(padded);
    bytes.insert(bytes.end() - 2, 40, 0x55);
    test::WriteFileBytes(padded, bytes);
    r = DecodeJpegToBitmap(padded, b, s);
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.warningKinds.size(), 1u);
    EXPECT_EQ(r.warningKinds[0].code, JWRN_EXTRANEOUS_DATA);
    EXPECT_EQ(DescribeDecodeDamage(r.warningKinds), "");

    // The same code before another marker is damage; unknown codes are not.
    CodecWarning inside{JWRN_EXTRANEOUS_DATA, 0xD3, 100, 400, false};
    EXPECT_NE(DescribeDecodeDamage({inside}), "");
    CodecWarning revision{JWRN_JFIF_MAJOR, 0, -1, 400, false};
    EXPECT_EQ(DescribeDecodeDamage({revision}), "");
    // A cut file warns twice; the end of the file is what is told.
    CodecWarning marker{JWRN_HIT_MARKER, 0, 200, 400, false};
    CodecWarning end{JWRN_JPEG_EOF, 0, 200, 400, false};
    EXPECT_NE(DescribeDecodeDamage({marker, end}).find("bottom 50 %"), std::string::npos);
}

}  // namespace
}  // namespace scarlex
