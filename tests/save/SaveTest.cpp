#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <filesystem>

#include "codec/JpegCodec.h"
#include "common/Paths.h"
#include "platform/ScriptedPlatform.h"
#include "save/OutputNaming.h"
#include "save/PatchChain.h"
#include "save/SaveCommands.h"
#include "support/Coefficients.h"
#include "support/TestSupport.h"

using namespace scarlex;
using namespace scarlex::test;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> FolderListing(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class SaveFixture : public ::testing::Test {
protected:
    TempDir dir;
    std::string original;
    Bitmap bmp;
    std::vector<Rect> rows;
    SettingsModel settings;
    ScriptedPlatform platform;
    SaveDocument doc;
    SaveCommands commands{platform, settings, doc};

    void MakeOriginal(int w, int h, TestJpegOptions o = {}, const std::string& name = "IMG_0001.jpg") {
        original = dir / name;
        if (o.comment.empty()) o.comment = "kept comment";
        o.quality = 92;
        WriteTestJpeg(original, MakePhotoLike(w, h, 3), o);
        Load();
    }

    void Load() {
        Sampling s;
        ASSERT_TRUE(DecodeJpegToBitmap(original, bmp, s, &doc.LoadedFile).ok);
        doc.OpenFilePath = doc.OriginalPath = original;
        doc.WorkBitmap = &bmp;
        doc.SourceSampling = s;
        doc.Saved = false;
        doc.UndoRows = [this] { return rows; };
        rows.clear();
    }

    // Stands in for a removal: greys the pixels inside the picture and
    // records the rectangle as given.
    void Edit(const Rect& r) {
        for (int y = std::max(r.top, 0); y < std::min(r.bottom, bmp.Height()); ++y)
            for (int x = std::max(r.left, 0); x < std::min(r.right, bmp.Width()); ++x) {
                uint8_t* p = bmp.Pixel(x, y);
                p[0] = p[1] = p[2] = uint8_t((p[0] + p[1] + p[2]) / 3);
            }
        rows.push_back(r);
        doc.Saved = false;
    }

    static int ColorSpaceOf(const std::string& path) {
        JpegInfo info;
        EXPECT_TRUE(ReadJpegInfo(path, info).ok) << path;
        return info.colorSpace;
    }

    // The same chain run with jpegtran on the same full re-encode.
    std::vector<uint8_t> JpegtranChain(const std::string& source) {
        TempDir work;
        std::string reencode = work / "full.jpg";
        EXPECT_TRUE(EncodeBitmapToJpeg(reencode, bmp, doc.SourceSampling, ColorSpaceOf(source)).ok);
        std::string current = source;
        int i = 0;
        for (const Rect& row : rows) {
            const Sampling& f = doc.SourceSampling;
            const int mh = 8 * std::max({f.H(0), f.H(1), f.H(2)}), mv = 8 * std::max({f.V(0), f.V(1), f.V(2)});
            PatchRequest req = PatchRequestFor(row, bmp.Width(), bmp.Height(), mh, mv);
            std::string patch = work / ("patch" + std::to_string(i) + ".jpg");
            std::string next = work / ("chain" + std::to_string(i) + ".jpg");
            char crop[96];
            std::snprintf(crop, sizeof crop, "%dx%d+%d+%d", req.cropW, req.cropH, req.cropX, req.cropY);
            EXPECT_EQ(RunShell("jpegtran -copy comments -crop " + std::string(crop) + " -outfile " + Quote(patch) +
                               " " + Quote(reencode)),
                      0);
            JpegInfo info;
            EXPECT_TRUE(ReadJpegInfo(patch, info).ok);
            char drop[64];
            std::snprintf(drop, sizeof drop, "+%d+%d", req.cropX + req.cropW - info.width,
                          req.cropY + req.cropH - info.height);
            EXPECT_EQ(RunShell("jpegtran -copy comments -drop " + std::string(drop) + " " + Quote(patch) +
                               " -outfile " + Quote(next) + " " + Quote(current)),
                      0);
            current = next;
            ++i;
        }
        return ReadFileBytes(current);
    }

    // Every block touching an edit holds the full re-encode's values (unless
    // `inside` is false, for a save that kept the original's quality); every
    // block well away from all edits holds the original's.
    void ExpectLosslessOutsideAndCoveredInside(const std::string& output, const std::string& source, bool inside = true) {
        TempDir work;
        std::string reencode = work / "full.jpg";
        ASSERT_TRUE(EncodeBitmapToJpeg(reencode, bmp, doc.SourceSampling, ColorSpaceOf(source)).ok);
        CoefficientImage out = ReadCoefficients(output), orig = ReadCoefficients(source),
                         full = ReadCoefficients(reencode);
        ASSERT_TRUE(out.ok && orig.ok && full.ok) << out.error << orig.error << full.error;
        ASSERT_EQ(out.components.size(), orig.components.size());
        const int dh = 8 * out.maxH, dv = 8 * out.maxV;
        for (std::size_t ci = 0; ci < out.components.size(); ++ci) {
            const ComponentCoefficients &o = out.components[ci], &a = orig.components[ci], &f = full.components[ci];
            // Pixels per block of this component.
            const int bw = dh / o.h, bh = dv / o.v;
            for (int by = 0; by < o.heightInBlocks; ++by)
                for (int bx = 0; bx < o.widthInBlocks; ++bx) {
                    const int x0 = bx * bw, y0 = by * bh, x1 = x0 + bw, y1 = y0 + bh;
                    bool touches = false, near = false;
                    for (const Rect& r : rows) {
                        const int l = std::max(r.left, 0), t = std::max(r.top, 0);
                        const int rr = std::min(r.right, bmp.Width()), b = std::min(r.bottom, bmp.Height());
                        if (rr <= l || b <= t) continue;
                        if (x0 < rr && l < x1 && y0 < b && t < y1) touches = true;
                        if (x0 < rr + 17 + dh && l - dh < x1 && y0 < b + 17 + dv && t - dv < y1) near = true;
                    }
                    const ComponentCoefficients& want = touches ? f : a;
                    if ((!touches && near) || (touches && !inside)) continue;
                    for (int k = 0; k < 64; ++k)
                        if (o.Dequantised(bx, by, k) != want.Dequantised(bx, by, k)) {
                            ADD_FAILURE() << "component " << ci << " block (" << bx << "," << by << ") coefficient "
                                          << k << ": " << o.Dequantised(bx, by, k) << " but the "
                                          << (touches ? "re-encode" : "original") << " has "
                                          << want.Dequantised(bx, by, k);
                            return;
                        }
                }
        }
    }
};

struct ChainLayout {
    const char* name;
    TestJpegOptions options;
};

TestJpegOptions Sampled(int h0, int v0) {
    TestJpegOptions o;
    o.h[0] = h0;
    o.v[0] = v0;
    return o;
}

TestJpegOptions Grey(int headerH = 1, int headerV = 1) {
    TestJpegOptions o;
    o.grayscale = true;
    o.greyH = headerH;
    o.greyV = headerV;
    return o;
}

class SaveChainLayouts : public SaveFixture, public ::testing::WithParamInterface<ChainLayout> {};

TEST_P(SaveChainLayouts, ChainEqualsTheSameChainRunByJpegtran) {
    SCARLEX_REQUIRE_TOOL("jpegtran");
    MakeOriginal(160, 128, GetParam().options);
    Edit({37, 21, 52, 33});          // one edit
    Edit({90, 60, 91, 61});          // a single pixel
    Edit({44, 25, 70, 50});          // overlapping the first
    ASSERT_TRUE(commands.AutoSave1Click()) << (platform.messages.empty() ? "" : platform.messages.back().text);
    std::string out = dir / "IMG_0001 - nre.jpg";
    EXPECT_TRUE(ReadFileBytes(out) == JpegtranChain(original)) << "differs from the jpegtran chain";
    ExpectLosslessOutsideAndCoveredInside(out, original);
    EXPECT_TRUE(doc.Saved);
    EXPECT_EQ(commands.LastReport().appliedRows, 3);
    // Only the original and the output: every temporary is gone.
    EXPECT_EQ(FolderListing(dir.path()), (std::vector<std::string>{"IMG_0001 - nre.jpg", "IMG_0001.jpg"}));
}

INSTANTIATE_TEST_SUITE_P(Layouts, SaveChainLayouts,
                         ::testing::Values(ChainLayout{"s420", Sampled(2, 2)}, ChainLayout{"s422", Sampled(2, 1)},
                                           ChainLayout{"s444", Sampled(1, 1)}, ChainLayout{"grey", Grey()},
                                           // Its header's 2x2 still means blocks of 8x8.
                                           ChainLayout{"grey_header_2x2", Grey(2, 2)},
                                           // iMCUs of 32 pixels across, and down.
                                           ChainLayout{"s411", Sampled(4, 1)}, ChainLayout{"s1x4", Sampled(1, 4)}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SaveFixture, EditsAtEveryEdgeAreCoveredAndTheRestIsLossless) {
    // 4:2:0 with partial iMCUs at the right and bottom edges.
    MakeOriginal(203, 141, Sampled(2, 2));
    Edit({195, 20, 203, 30});     // right edge, in the partial iMCU column
    Edit({10, 135, 30, 141});     // bottom edge, in the partial iMCU row
    Edit({-12, -9, 11, 8});       // a grey circle past the top-left corner
    Edit({190, 130, 215, 150});   // past the bottom-right corner
    Edit({400, 400, 420, 420});   // wholly outside: nothing to do
    ASSERT_TRUE(commands.AutoSave1Click()) << (platform.messages.empty() ? "" : platform.messages.back().text);
    ExpectLosslessOutsideAndCoveredInside(dir / "IMG_0001 - nre.jpg", original);
    EXPECT_EQ(commands.LastReport().appliedRows, 4);
}

TEST_F(SaveFixture, AnRgbCodedPhotographKeepsItsColoursInTheEdits) {
    TestJpegOptions o = Sampled(1, 1);
    o.rgb = true;
    MakeOriginal(96, 64, o);
    Edit({20, 12, 44, 30});
    ASSERT_TRUE(commands.AutoSave1Click()) << (platform.messages.empty() ? "" : platform.messages.back().text);
    const std::string out = dir / "IMG_0001 - nre.jpg";
    EXPECT_EQ(ColorSpaceOf(out), JCS_RGB);
    ExpectLosslessOutsideAndCoveredInside(out, original);
    // Decoded, the edit is the greyed picture give or take the re-encode's
    // loss, not its luma and chroma taken for red, green and blue.
    Bitmap saved;
    Sampling s;
    ASSERT_TRUE(DecodeJpegToBitmap(out, saved, s).ok);
    long total = 0, count = 0;
    for (int y = 12; y < 30; ++y)
        for (int x = 20; x < 44; ++x)
            for (int c = 0; c < 3; ++c, ++count) total += std::abs(saved.Pixel(x, y)[c] - bmp.Pixel(x, y)[c]);
    EXPECT_LT(total / count, 6);
}

TEST(PatchChain, AReencodeCodedInAnotherColourSpaceIsRefused) {
    TempDir dir;
    TestJpegOptions rgb;
    rgb.rgb = true;
    rgb.h[0] = rgb.v[0] = 1;
    const Bitmap picture = MakePhotoLike(48, 32, 5);
    WriteTestJpeg(dir / "rgb.jpg", picture, rgb);
    ASSERT_TRUE(EncodeBitmapToJpeg(dir / "full.jpg", picture, Sampling{{1, 1, 1, 1, 1, 1}}).ok);
    fs::create_directory(dir / "work");
    std::string result;
    CodecResult r = BuildPatchedFile(dir / "rgb.jpg", dir / "full.jpg", {Rect{4, 4, 20, 20}}, dir / "work", &result);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find("another colour space"), std::string::npos) << r.error;
    EXPECT_TRUE(FolderListing(dir / "work").empty());
}

TEST_F(SaveFixture, NoEditsGiveTheOriginalsBytesAndKeepTheOriginal) {
    MakeOriginal(64, 48);
    std::vector<uint8_t> before = ReadFileBytes(original);
    ASSERT_TRUE(commands.AutoSave1Click());
    EXPECT_EQ(ReadFileBytes(dir / "IMG_0001 - nre.jpg"), before);
    EXPECT_EQ(ReadFileBytes(original), before);
    EXPECT_TRUE(doc.Saved);
}

TEST_F(SaveFixture, RenamingTheOriginalFreesItsNameForTheOutput) {
    MakeOriginal(64, 48);
    std::vector<uint8_t> before = ReadFileBytes(original);
    settings.AppendEnabled = false;
    settings.RenameOriginal = true;
    Edit({10, 10, 20, 20});
    ASSERT_TRUE(commands.AutoSave1Click());
    EXPECT_TRUE(platform.messages.empty());
    EXPECT_EQ(ReadFileBytes(dir / "IMG_0001.OGL"), before);
    EXPECT_EQ(FolderListing(dir.path()), (std::vector<std::string>{"IMG_0001.OGL", "IMG_0001.jpg"}));
    ExpectLosslessOutsideAndCoveredInside(original, dir / "IMG_0001.OGL");
    EXPECT_EQ(commands.LastReport().relocatedOriginal, dir / "IMG_0001.OGL");

    // A second save chains from where the first one put the original: the
    // output at the open path is renamed aside (numbered) and rebuilt.
    Edit({30, 30, 34, 34});
    ASSERT_TRUE(commands.AutoSave1Click());
    EXPECT_EQ(ReadFileBytes(dir / "IMG_0001.OGL"), before);
    EXPECT_TRUE(FileExists(dir / "IMG_0001_0.OGL"));
    EXPECT_TRUE(FileExists(original));
}

TEST_F(SaveFixture, ASecondSaveAfterAMoveChainsFromTheMovedOriginal) {
    MakeOriginal(64, 48);
    std::vector<uint8_t> before = ReadFileBytes(original);
    fs::create_directory(dir / "orig");
    settings.MoveOriginal = true;
    settings.OriginalsFolder = dir / "orig";
    Edit({10, 10, 20, 20});
    ASSERT_TRUE(commands.AutoSave1Click());
    EXPECT_FALSE(FileExists(original));
    EXPECT_EQ(ReadFileBytes(dir / "orig/IMG_0001.jpg"), before);

    Edit({30, 30, 40, 40});
    ASSERT_TRUE(commands.AutoSave1Click()) << platform.messages.back().text;
    EXPECT_EQ(ReadFileBytes(dir / "orig/IMG_0001.jpg"), before);
    EXPECT_EQ(FolderListing(dir / "orig"), std::vector<std::string>{"IMG_0001.jpg"});
    ExpectLosslessOutsideAndCoveredInside(dir / "IMG_0001 - nre.jpg", dir / "orig/IMG_0001.jpg");
}

TEST_F(SaveFixture, ATakenNameWithoutNumberingRefusesAndWritesNothing) {
    MakeOriginal(64, 48);
    settings.RenameOriginal = true;
    settings.NumberDuplicates = false;
    WriteFileBytes(dir / "IMG_0001.OGL", {7});
    Edit({10, 10, 20, 20});
    EXPECT_FALSE(commands.AutoSave1Click());
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0].type, MsgType::Warning);
    EXPECT_EQ(platform.messages[0].buttons, MsgButtons::Cancel);
    EXPECT_FALSE(doc.Saved);
    EXPECT_EQ(FolderListing(dir.path()), (std::vector<std::string>{"IMG_0001.OGL", "IMG_0001.jpg"}));
    EXPECT_EQ(platform.CurrentCursorShape(), CursorShape::Default);
}

TEST_F(SaveFixture, SavingOntoTheOpenPhotographAsksFirst) {
    MakeOriginal(64, 48);
    settings.AppendEnabled = false;
    Edit({10, 10, 20, 20});
    // No, then cancel the dialog shown again: nothing happens.
    platform.saveAnswers = {original, std::nullopt};
    platform.messageAnswers = {MsgAnswer::No};
    std::vector<uint8_t> before = ReadFileBytes(original);
    EXPECT_FALSE(commands.Save1Click());
    ASSERT_EQ(platform.saveRequests.size(), 2u);
    EXPECT_EQ(platform.saveRequests[0].title, "Save As...");
    EXPECT_EQ(platform.saveRequests[0].filter, "JPEG (*.jpg;*.jpeg)|*.jpg");
    EXPECT_EQ(platform.saveRequests[0].defaultExtension, "jpg");
    EXPECT_EQ(platform.saveRequests[0].fileName, dir / "IMG_0001");
    EXPECT_EQ(platform.saveRequests[1].fileName, original);
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0].caption, "File Exists");
    EXPECT_EQ(platform.messages[0].text, "Filename " + original + " already exists. Overwrite?");
    EXPECT_EQ(ReadFileBytes(original), before);

    // Yes: the photograph is rebuilt in place from its own blocks.
    std::string keep = dir / "before.jpg";
    WriteFileBytes(keep, before);
    platform.saveAnswers = {original};
    platform.messageAnswers = {MsgAnswer::Yes};
    ASSERT_TRUE(commands.Save1Click());
    ExpectLosslessOutsideAndCoveredInside(original, keep);
    EXPECT_EQ(FolderListing(dir.path()), (std::vector<std::string>{"IMG_0001.jpg", "before.jpg"}));
}

TEST_F(SaveFixture, AutoSaveOntoTheOpenFileAsksAndNoSwitchesToSave) {
    MakeOriginal(64, 48);
    settings.FileNameAppend = "";
    Edit({1, 1, 2, 2});
    platform.messageAnswers = {MsgAnswer::No};
    EXPECT_FALSE(commands.AutoSave1Click());
    EXPECT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.saveRequests.size(), 1u);
}

TEST_F(SaveFixture, UserFilesNamedLikeTemporariesAreNeverTouched) {
    MakeOriginal(64, 48);
    for (const char* name : {"IMG_0001_0.jpg", "IMG_0001_1.jpg", "IMG_0001-cpd.jpg", "IMG_0001_0-cpd.jpg"})
        WriteFileBytes(dir / name, {'m', 'i', 'n', 'e'});
    Edit({1, 1, 5, 5});
    Edit({20, 20, 25, 25});
    ASSERT_TRUE(commands.AutoSave1Click());
    for (const char* name : {"IMG_0001_0.jpg", "IMG_0001_1.jpg", "IMG_0001-cpd.jpg", "IMG_0001_0-cpd.jpg"})
        EXPECT_EQ(ReadFileBytes(dir / name), (std::vector<uint8_t>{'m', 'i', 'n', 'e'})) << name;
}

TEST_F(SaveFixture, FailuresLoseNothingAndLeaveNothingBehind) {
    MakeOriginal(64, 48);
    Edit({10, 10, 20, 20});
    // An output folder that does not exist.
    platform.saveAnswers = {dir / "no/such/folder/out.jpg"};
    EXPECT_FALSE(commands.Save1Click());
    ASSERT_FALSE(platform.messages.empty());
    EXPECT_EQ(platform.messages.back().type, MsgType::Error);
    EXPECT_FALSE(doc.Saved);

    // The original damaged after loading: the chain fails on it. The original
    // is not moved aside (that waits for a finished output); no output, no
    // temporaries.
    settings.RenameOriginal = true;
    std::vector<uint8_t> damaged = ReadFileBytes(original);
    damaged.resize(150);
    WriteFileBytes(original, damaged);
    EXPECT_FALSE(commands.AutoSave1Click());
    EXPECT_EQ(platform.messages.back().type, MsgType::Error);
    EXPECT_FALSE(doc.Saved);
    EXPECT_EQ(FolderListing(dir.path()), std::vector<std::string>{"IMG_0001.jpg"});
    EXPECT_EQ(ReadFileBytes(original), damaged);
    EXPECT_EQ(platform.CurrentCursorShape(), CursorShape::Default);

    if (::geteuid() != 0) {  // root writes anywhere
        WriteTestJpeg(original, MakePhotoLike(64, 48, 3), {});
        settings.RenameOriginal = false;
        ::chmod(dir.path().c_str(), 0555);
        EXPECT_FALSE(commands.AutoSave1Click());
        ::chmod(dir.path().c_str(), 0755);
        EXPECT_EQ(FolderListing(dir.path()), std::vector<std::string>{"IMG_0001.jpg"});
    }
}

// A greyscale file coded arithmetically, with a table of ones, every DC
// within what 8-bit samples give and one block holding an AC value of 3000:
// valid, and decoded without a warning, but no 8-bit Huffman code carries
// such a value.
void WriteWideCoefficientJpeg(const std::string& path, int w, int h, int wideX, int wideY) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, f);
    c.image_width = JDIMENSION(w);
    c.image_height = JDIMENSION(h);
    c.input_components = 1;
    c.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&c);
    unsigned ones[64];
    std::fill(ones, ones + 64, 1u);
    jpeg_add_quant_table(&c, 0, ones, 100, TRUE);
    c.arith_code = TRUE;
    const JDIMENSION bw = JDIMENSION((w + 7) / 8), bh = JDIMENSION((h + 7) / 8);
    jvirt_barray_ptr arrays[1] = {
        (*c.mem->request_virt_barray)(reinterpret_cast<j_common_ptr>(&c), JPOOL_IMAGE, TRUE, bw, bh, 1)};
    (*c.mem->realize_virt_arrays)(reinterpret_cast<j_common_ptr>(&c));
    for (JDIMENSION by = 0; by < bh; ++by) {
        JBLOCKARRAY row = (*c.mem->access_virt_barray)(reinterpret_cast<j_common_ptr>(&c), arrays[0], by, 1, TRUE);
        for (JDIMENSION bx = 0; bx < bw; ++bx) {
            row[0][bx][0] = JCOEF(int(bx * 97 + by * 31) % 1600 - 800);
            row[0][bx][1] = JCOEF(int(bx + by) % 7 - 3);
            if (int(bx) == wideX / 8 && int(by) == wideY / 8) row[0][bx][1] = 3000;
        }
    }
    jpeg_write_coefficients(&c, arrays);
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::fclose(f);
}

// Found by the save fuzz target: a save writes the original's blocks again
// with Huffman codes, and without a range check against what those codes
// carry, the output is damaged from such a block on while the save reports
// success.
TEST_F(SaveFixture, CoefficientsNoHuffmanCodeCarriesAreKeptOrTheSaveRefused) {
    original = dir / "IMG_0001.jpg";
    WriteWideCoefficientJpeg(original, 96, 48, 72, 24);
    Bitmap loaded;
    Sampling s0;
    const CodecResult r0 = DecodeJpegToBitmap(original, loaded, s0);
    ASSERT_TRUE(r0.ok && r0.warningCount == 0) << r0.error;
    Load();
    Edit({4, 4, 12, 12});  // far from the wide block
    const std::string out = dir / "IMG_0001 - nre.jpg";
    if (!commands.AutoSave1Click()) {
        EXPECT_FALSE(platform.messages.empty());
        EXPECT_EQ(FolderListing(dir.path()), std::vector<std::string>{"IMG_0001.jpg"});
        return;
    }
    Bitmap saved;
    Sampling s;
    const CodecResult r = DecodeJpegToBitmap(out, saved, s);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.warningCount, 0) << (r.warnings.empty() ? "" : r.warnings[0]);
    // Written with standard Huffman tables the wide block cannot go out, so
    // the save keeps the original's (arithmetic) coding and quality.
    EXPECT_TRUE(commands.LastReport().keptQualityInstead);
    ExpectLosslessOutsideAndCoveredInside(out, original, false);
}

TEST_F(SaveFixture, TheRelocatedOriginalIsNeverTheOutput) {
    MakeOriginal(64, 48);
    settings.RenameOriginal = true;
    Edit({10, 10, 20, 20});
    platform.saveAnswers = {dir / "IMG_0001.OGL"};
    EXPECT_FALSE(commands.Save1Click());
    EXPECT_TRUE(FileExists(original));
    EXPECT_FALSE(FileExists(dir / "IMG_0001.OGL"));
}

// --- The user's files are safe ------------------------------------------

unsigned ModeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 0777 : 0;
}

// Runs `during` in the middle of the save, after the output is built and
// before it is put in place, where the metadata goes in.
void Meanwhile(SaveDocument& doc, std::function<void()> during) {
    doc.KeepsMetadata = [] { return true; };
    doc.WriteWithMetadata = [during](std::span<const uint8_t> saved, const std::function<bool(std::span<const uint8_t>)>& sink) {
        during();
        CodecResult r;
        r.ok = sink(saved);
        return r;
    };
}

TEST_F(SaveFixture, NamesAreComparedAsFiles) {
    MakeOriginal(64, 48);
    const std::vector<uint8_t> before = ReadFileBytes(original);
    Edit({10, 10, 20, 20});
    // The moved original and the output, spelled differently.
    fs::create_directory(dir / "sub");
    settings.MoveOriginal = true;
    settings.OriginalsFolder = dir / "sub";
    const std::string out = dir / "sub/../sub/IMG_0001.jpg";
    platform.saveAnswers = {out};
    EXPECT_FALSE(commands.Save1Click());
    ASSERT_FALSE(platform.messages.empty());
    EXPECT_EQ(platform.messages.back().text, SameFileRefusal(out, dir / "sub/IMG_0001.jpg"));
    EXPECT_TRUE(fs::is_empty(dir / "sub"));
    settings.MoveOriginal = false;

    settings.RenameOriginal = true;
    platform.saveAnswers = {dir / "./IMG_0001.OGL"};
    EXPECT_FALSE(commands.Save1Click());
    EXPECT_EQ(FolderListing(dir.path()), (std::vector<std::string>{"IMG_0001.jpg", "sub"}));
    EXPECT_EQ(ReadFileBytes(original), before);
    settings.RenameOriginal = false;

    // Onto the open photograph under another spelling: asked like the plain one.
    settings.AppendEnabled = false;
    platform.saveAnswers = {dir / "sub/../IMG_0001.jpg", std::nullopt};
    platform.messageAnswers = {MsgAnswer::No};
    EXPECT_FALSE(commands.Save1Click());
    EXPECT_EQ(platform.messages.back().caption, "File Exists");
    EXPECT_EQ(ReadFileBytes(original), before);
    EXPECT_FALSE(doc.Saved);
}

TEST_F(SaveFixture, EveryFileTheSaveWritesKeepsTheOriginalsPermissions) {
    MakeOriginal(64, 48);
    ::chmod(original.c_str(), 0600);
    Load();
    Edit({10, 10, 20, 20});
    ASSERT_TRUE(commands.AutoSave1Click());
    EXPECT_EQ(ModeOf(dir / "IMG_0001 - nre.jpg"), 0600u);

    // In place, with the question answered Yes; then renamed aside.
    settings.AppendEnabled = false;
    platform.messageAnswers = {MsgAnswer::Yes};
    ASSERT_TRUE(commands.AutoSave1Click());
    EXPECT_EQ(ModeOf(original), 0600u);
    settings.RenameOriginal = true;
    Edit({30, 30, 40, 40});
    ASSERT_TRUE(commands.AutoSave1Click()) << platform.messages.back().text;
    EXPECT_EQ(ModeOf(original), 0600u);
    EXPECT_EQ(ModeOf(dir / "IMG_0001.OGL"), 0600u);
}

TEST_F(SaveFixture, AnOriginalChangedSinceLoadingIsNeverSplicedWithTheEdits) {
    MakeOriginal(64, 48);
    Edit({10, 10, 20, 20});
    // Another program rewrites the photograph: same size, other content.
    std::vector<uint8_t> changed = ReadFileBytes(original);
    changed[changed.size() - 40] ^= 0x10;
    WriteFileBytes(original, changed);
    EXPECT_FALSE(commands.AutoSave1Click());
    ASSERT_FALSE(platform.messages.empty());
    EXPECT_EQ(platform.messages.back().text, ChangedOnDiskRefusal(original));
    EXPECT_FALSE(doc.Saved);
    EXPECT_EQ(doc.UndoRows().size(), 1u) << "the edits are kept";
    EXPECT_EQ(ReadFileBytes(original), changed);
    EXPECT_EQ(FolderListing(dir.path()), std::vector<std::string>{"IMG_0001.jpg"});

    // Replaced while the save runs: refused just the same, nothing written.
    MakeOriginal(64, 48);
    Edit({10, 10, 20, 20});
    Meanwhile(doc, [this] { WriteTestJpeg(original, MakePhotoLike(64, 48, 9), {}); });
    EXPECT_FALSE(commands.AutoSave1Click());
    EXPECT_EQ(platform.messages.back().text, ChangedOnDiskRefusal(original));
    EXPECT_EQ(FolderListing(dir.path()), std::vector<std::string>{"IMG_0001.jpg"});
}

TEST_F(SaveFixture, TablesThatWouldOverflowTheCoderKeepTheOriginalsQualityInstead) {
    MakeOriginal(64, 48);
    // High bits set in three luma table entries after encoding: the file
    // still decodes, but sharing its tables overflows the coefficients.
    std::vector<uint8_t> bytes = ReadFileBytes(original);
    for (std::size_t i = 2; i + 4 < bytes.size();) {
        const std::size_t length = std::size_t(bytes[i + 2]) << 8 | bytes[i + 3];
        if (bytes[i + 1] == 0xDB) {
            for (int k : {1, 2, 8}) bytes[i + 5 + k] |= 0x80;
            break;
        }
        i += 2 + length;
    }
    WriteFileBytes(original, bytes);
    Load();
    Edit({20, 20, 30, 30});
    const std::string out = dir / "IMG_0001 - nre.jpg";
    ASSERT_TRUE(commands.AutoSave1Click()) << (platform.messages.empty() ? "" : platform.messages.back().text);
    // Said, not asked: no box, a note in the report.
    EXPECT_TRUE(platform.messages.empty());
    EXPECT_TRUE(commands.LastReport().keptQualityInstead);
    EXPECT_EQ(commands.LastReport().mode, PatchMode::KeepQuality);
    EXPECT_EQ(commands.LastReport().note, KeptQualityNote(out));
    EXPECT_EQ(ReadFileBytes(original), bytes);
    // The original's tables, and its blocks away from the edit as they were.
    CoefficientImage saved = ReadCoefficients(out), orig = ReadCoefficients(original);
    ASSERT_TRUE(saved.ok && orig.ok) << saved.error << orig.error;
    const ComponentCoefficients &s0 = saved.components[0], &o0 = orig.components[0];
    EXPECT_EQ(s0.quant, o0.quant);
    ASSERT_EQ(commands.LastReport().engine.areas.size(), 1u);
    const PatchArea a = commands.LastReport().engine.areas[0];
    for (int by = 0; by < o0.heightInBlocks; ++by)
        for (int bx = 0; bx < o0.widthInBlocks; ++bx)
            if (bx * 8 < a.x || bx * 8 >= a.x + a.width || by * 8 < a.y || by * 8 >= a.y + a.height) {
                for (int k = 0; k < 64; ++k) ASSERT_EQ(s0.Block(bx, by)[k], o0.Block(bx, by)[k]) << bx << "," << by;
            }
}

TEST_F(SaveFixture, TheOutputIsInPlaceBeforeTheOriginalMovesAndStaysIfItCannot) {
    MakeOriginal(64, 48);
    const std::vector<uint8_t> before = ReadFileBytes(original);
    settings.RenameOriginal = true;
    Edit({10, 10, 20, 20});
    // Someone takes the original's new name while the save runs.
    Meanwhile(doc, [this] { WriteFileBytes(dir / "IMG_0001.OGL", {'m', 'i', 'n', 'e'}); });
    ASSERT_TRUE(commands.AutoSave1Click());
    EXPECT_TRUE(doc.Saved);
    EXPECT_FALSE(commands.LastReport().relocationError.empty());
    ASSERT_FALSE(platform.messages.empty());
    EXPECT_EQ(platform.messages.back().type, MsgType::Warning);
    EXPECT_NE(platform.messages.back().text.find("the original was not moved"), std::string::npos);
    EXPECT_EQ(ReadFileBytes(original), before);
    EXPECT_EQ(ReadFileBytes(dir / "IMG_0001.OGL"), (std::vector<uint8_t>{'m', 'i', 'n', 'e'}));
    Bitmap saved;
    Sampling s;
    EXPECT_TRUE(DecodeJpegToBitmap(dir / "IMG_0001 - nre.jpg", saved, s).ok);
}

// The disk fills up while the output is written (a file size limit stands
// in for it): the save says so, and nothing is left under any name.
TEST_F(SaveFixture, AFullDiskLeavesNothingHalfWritten) {
    MakeOriginal(160, 128);
    const std::vector<uint8_t> before = ReadFileBytes(original);
    ASSERT_GT(before.size(), 4096u) << "the output must not fit in the space left";
    Edit({10, 10, 40, 40});
    auto saveOnAFullDisk = [this] {
        ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit {};
        limit.rlim_cur = limit.rlim_max = 2048;
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const bool saved = commands.AutoSave1Click();
        const bool told = !platform.messages.empty() && platform.messages.back().type == MsgType::Error;
        std::exit(!saved && told && !doc.Saved ? 0 : 1);
    };
    EXPECT_EXIT(saveOnAFullDisk(), ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(FolderListing(dir.path()), std::vector<std::string>{"IMG_0001.jpg"});
    EXPECT_EQ(ReadFileBytes(original), before);
}

TEST_F(SaveFixture, WorkFoldersOfKilledSavesGoOnceADayOld) {
    MakeOriginal(64, 48);
    auto age = [](const fs::path& p, int days) {
        const struct timeval old[2] = {{::time(nullptr) - days * 86400 - 60, 0}, {::time(nullptr) - days * 86400 - 60, 0}};
        ::utimes(p.c_str(), old);
    };
    for (const char* name : {".scarlex-save-Ab12cd", ".scarlex-save-fresh1", ".scarlex-save-nested", ".scarlex-other"}) {
        fs::create_directory(dir.path() / name);
        WriteFileBytes((dir.path() / name / "IMG_0001_0.jpg").string(), {1, 2, 3});
    }
    fs::create_directory(dir.path() / ".scarlex-save-nested/inner");
    for (const char* name : {".scarlex-save-Ab12cd", ".scarlex-save-nested", ".scarlex-other"}) age(dir.path() / name, 2);
    Edit({10, 10, 20, 20});
    ASSERT_TRUE(commands.AutoSave1Click());
    EXPECT_FALSE(fs::exists(dir.path() / ".scarlex-save-Ab12cd"));
    EXPECT_TRUE(fs::exists(dir.path() / ".scarlex-save-fresh1")) << "perhaps another save at work";
    EXPECT_TRUE(fs::exists(dir.path() / ".scarlex-save-nested/inner")) << "not of our making";
    EXPECT_TRUE(fs::exists(dir.path() / ".scarlex-other"));
}

TEST_F(SaveFixture, ATerminatedSaveLeavesNoTemporaries) {
    MakeOriginal(64, 48);
    const std::vector<uint8_t> before = ReadFileBytes(original);
    Edit({10, 10, 20, 20});
    Meanwhile(doc, [] { ::kill(::getpid(), SIGTERM); });
    EXPECT_EXIT(commands.AutoSave1Click(), ::testing::KilledBySignal(SIGTERM), "");
    EXPECT_EQ(FolderListing(dir.path()), std::vector<std::string>{"IMG_0001.jpg"});
    EXPECT_EQ(ReadFileBytes(original), before);
}

}  // namespace
