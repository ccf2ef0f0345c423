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
    const std::pair<std::vector<uint8_t>, FileKind> cases[] = {
        {{0xFF, 0xD8, 0xFF, 0xE0}, FileKind::Jpeg},
        {{}, FileKind::Empty},
        {{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}, FileKind::Png},
        {Bytes("GIF89a"), FileKind::Gif},
        {{'I', 'I', 42, 0, 8, 0, 0, 0}, FileKind::Tiff},
        {{'M', 'M', 0, 42, 0, 0, 0, 8}, FileKind::Tiff},
        {Bytes(std::string("RIFF\x24\x10\0\0WEBPVP8 ", 16)), FileKind::WebP},
        {Bytes(std::string("\0\0\0\x18" "ftypheic\0\0\0\0", 16)), FileKind::Heic},
        {Bytes(std::string("BM\x36\x10\0\0\0\0\0\0\x36\0\0\0", 14)), FileKind::Bmp},
        {Bytes("BMW service invoice"), FileKind::Unknown},
        {Bytes("\n  <!DOCTYPE html>"), FileKind::Html},
        {Bytes("hello\n"), FileKind::Unknown},
    };
    for (const auto& [head, kind] : cases) {
        SCOPED_TRACE(std::string(head.begin(), head.end()));
        EXPECT_EQ(RecogniseFileKind(head.data(), head.size()), kind);
    }
}

TEST(FileKinds, AForeignFileGetsThePhotographersMessageAndChangesNothing) {
    TempDir dir;
    Bitmap bitmap(4, 4);
    Sampling sampling{{1, 1, 1, 1, 1, 1}};
    const std::string png = dir / "holiday.jpg";
    test::WriteFileBytes(png, {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'});
    const std::string message = "holiday.jpg is a PNG image, not a JPEG photograph; Scarlex edits JPEG files only";
    EXPECT_EQ(DecodeJpegToBitmap(png, bitmap, sampling).error, message);
    JpegInfo info;
    EXPECT_EQ(ReadJpegInfo(png, info).error, message);
    EXPECT_EQ(bitmap.Width(), 4);
    EXPECT_EQ(sampling, (Sampling{{1, 1, 1, 1, 1, 1}}));
}

// Decodes a test photograph cut after `keep` of its bytes.
CodecResult DecodeCut(const TempDir& dir, bool progressive, Bitmap& b) {
    const std::string path = dir / (progressive ? "p.jpg" : "s.jpg");
    test::TestJpegOptions options;
    options.progressive = progressive;
    test::WriteTestJpeg(path, test::MakePhotoLike(160, 400, 7), options);
    std::vector<uint8_t> bytes = test::ReadFileBytes(path);
    bytes.resize(bytes.size() * 6 / 10);
    test::WriteFileBytes(path, bytes);
    Sampling s;
    return DecodeJpegToBitmap(path, b, s);
}

TEST(DecodeDamage, ACutOffFileSaysHowMuchOfTheBottomIsGrey) {
    TempDir dir;
    Bitmap b;
    CodecResult r = DecodeCut(dir, false, b);
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_FALSE(r.warningKinds.empty());
    EXPECT_EQ(r.warningKinds[0].code, JWRN_JPEG_EOF);
    // Flat grey rows at the bottom, as the decoder fills what it lacked.
    int grey = 0;
    for (int y = b.Height() - 1; y >= 0 && std::abs(b.Pixel(b.Width() / 2, y)[1] - 128) <= 2; --y) ++grey;
    const std::string words = DescribeDecodeDamage(r.warningKinds);
    const std::string lead = "the file ends early, so the lower part of the picture (about the bottom ";
    ASSERT_EQ(words.rfind(lead, 0), 0u) << words;
    EXPECT_NEAR(std::stoi(words.substr(lead.size())), grey * 100 / b.Height(), 8) << words;
    EXPECT_NE(words.find("is missing and is shown grey; saving keeps it so"), std::string::npos) << words;

    r = DecodeCut(dir, true, b);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_NE(DescribeDecodeDamage(r.warningKinds).find("last passes are missing"), std::string::npos);
}

TEST(DecodeDamage, HarmlessWarningsSayNothing) {
    // Stray bytes in front of the end marker: a warning, nothing to see.
    TempDir dir;
    const std::string padded = dir / "padded.jpg";
    test::WriteTestJpeg(padded, test::MakePhotoLike(64, 64, 3), {});
    std::vector<uint8_t> bytes = test::ReadFileBytes(padded);
    bytes.insert(bytes.end() - 2, 40, 0x55);
    test::WriteFileBytes(padded, bytes);
    Bitmap b;
    Sampling s;
    CodecResult r = DecodeJpegToBitmap(padded, b, s);
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.warningKinds.size(), 1u);
    EXPECT_EQ(r.warningKinds[0].code, JWRN_EXTRANEOUS_DATA);
    EXPECT_EQ(DescribeDecodeDamage(r.warningKinds), "");
    // Before another marker the same code is damage; a JFIF revision is not.
    EXPECT_NE(DescribeDecodeDamage({{JWRN_EXTRANEOUS_DATA, 0xD3, 100, 400, false}}), "");
    EXPECT_EQ(DescribeDecodeDamage({{JWRN_JFIF_MAJOR, 0, -1, 400, false}}), "");
}

}  // namespace
}  // namespace scarlex
