// The save commands on the one-pass engine: what they write equals the
// crop-and-drop chain followed by the metadata rewrite, byte for byte, in
// the default mode; keep quality on real photographs.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "codec/JpegCodec.h"
#include "editing/EditScript.h"
#include "metadata/ImgData.h"
#include "platform/ScriptedPlatform.h"
#include "save/EngineTestSupport.h"
#include "save/PatchChain.h"
#include "save/SaveCommands.h"

namespace scarlex::test {
namespace {

namespace fs = std::filesystem;

// Segments a camera would write, put in after SOI: EXIF (a TIFF header and
// an empty directory) and a one-chunk ICC profile.
std::vector<uint8_t> WithCameraSegments(const std::vector<uint8_t>& jpeg) {
    auto segment = [](uint8_t type, const std::string& payload) {
        std::vector<uint8_t> s = {0xFF, type, uint8_t((payload.size() + 2) >> 8), uint8_t((payload.size() + 2) & 0xFF)};
        s.insert(s.end(), payload.begin(), payload.end());
        return s;
    };
    using namespace std::string_literals;
    const std::vector<uint8_t> exif = segment(0xE1, "Exif\0\0II*\0\x08\0\0\0\0\0\0\0\0\0"s);
    const std::vector<uint8_t> icc = segment(0xE2, "ICC_PROFILE\0\x01\x01not really a profile"s);
    std::vector<uint8_t> out(jpeg.begin(), jpeg.begin() + 2);
    out.insert(out.end(), exif.begin(), exif.end());
    out.insert(out.end(), icc.begin(), icc.end());
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

// A photograph as the window holds it after loading.
struct Loaded {
    std::string path;
    Bitmap bitmap;
    Sampling sampling;
    TimgData meta{255};
    SaveDocument doc;
    std::vector<Rect> rows;

    explicit Loaded(const std::string& file) : path(file) {
        CodecResult r = DecodeJpegToBitmap(path, bitmap, sampling, &doc.LoadedFile);
        ok = r.ok;
        warnings = r.warningCount;
        if (!ok) return;
        meta.ProcessFile(path);
        doc.OpenFilePath = doc.OriginalPath = path;
        doc.WorkBitmap = &bitmap;
        doc.SourceSampling = sampling;
        doc.UndoRows = [this] { return rows; };
        UseMetadata(doc, meta);
    }
    bool ok = false;
    int warnings = 0;
};

struct RowSet {
    const char* name;
    std::vector<Rect> rows;
};

std::vector<Rect> TwentyRows(int w, int h) {
    std::vector<Rect> rows;
    for (int i = 0; i < 20; ++i) {
        const int x = (i * 37) % (w + 10) - 5, y = (i * 23) % (h + 6) - 3;
        rows.push_back({x, y, x + 3 + i % 11, y + 4 + i % 7});
    }
    return rows;
}

const RowSet kRowSets[] = {
    {"one", {{37, 21, 52, 33}}},
    {"two", {{37, 21, 52, 33}, {150, 100, 161, 111}}},
    {"twenty", TwentyRows(203, 141)},
    {"overlapping", {{40, 30, 70, 60}, {50, 40, 80, 70}, {45, 35, 47, 37}, {40, 30, 70, 60}}},
};

Layout Progressive() {
    Layout l = ColourLayout("progressive", 2, 2);
    l.progressive = true;
    return l;
}

Layout Restarts() {
    Layout l = ColourLayout("restarts", 2, 1);
    l.restart = 3;
    return l;
}

const Layout kLayouts[] = {ColourLayout("s420", 2, 2), ColourLayout("s422", 2, 1), ColourLayout("s444", 1, 1),
                           ColourLayout("s440", 1, 2), GreyLayout("grey"),        Progressive(),
                           Restarts()};

class SaveOnePass : public testing::TestWithParam<std::tuple<Layout, RowSet>> {};

TEST_P(SaveOnePass, WritesWhatTheChainAndTheMetadataRewriteWrite) {
    const auto& [layout, set] = GetParam();
    TempDir dir;
    const std::string original = dir / "IMG_0001.jpg";
    Bitmap picture = MakePhotoLike(203, 141, 4);  // partial iMCUs at the right and bottom
    const std::vector<uint8_t> encoded = EncodeLayout(picture, layout, "a comment");
    ASSERT_FALSE(encoded.empty());
    WriteFileBytes(original, WithCameraSegments(encoded));

    Loaded photo(original);
    ASSERT_TRUE(photo.ok);
    ASSERT_TRUE(photo.meta.HasEXIF());
    for (const Rect& r : set.rows) GreyRect(photo.bitmap, r);
    photo.rows = set.rows;
    SettingsModel settings;
    ScriptedPlatform platform;
    SaveCommands commands(platform, settings, photo.doc);
    const std::string out = dir / "out.jpg";
    ASSERT_TRUE(commands.SaveTo(out)) << (platform.messages.empty() ? "" : platform.messages.back().text);
    EXPECT_EQ(commands.LastReport().mode, PatchMode::Default);
    EXPECT_FALSE(commands.LastReport().keptQualityInstead);

    // The old way: the full re-encode, one crop and drop per row, then the
    // file rewritten with the kept segments in front.
    TempDir work;
    JpegInfo info;
    ASSERT_TRUE(ReadJpegInfo(original, info).ok);
    ASSERT_TRUE(EncodeBitmapToJpeg(work / "full.jpg", photo.bitmap, photo.sampling, info.colorSpace).ok);
    std::string patched;
    fs::create_directory(work / "chain");
    ASSERT_TRUE(BuildPatchedFile(original, work / "full.jpg", set.rows, work / "chain", &patched).ok);
    TJPEGImage image;
    ASSERT_TRUE(image.LoadFromFile(patched).ok);
    ASSERT_TRUE(photo.meta.WriteEXIFJpeg(image, work / "reference.jpg", false).ok);

    const std::vector<uint8_t> got = ReadFileBytes(out), want = ReadFileBytes(work / "reference.jpg");
    ASSERT_EQ(got.size(), want.size());
    EXPECT_TRUE(got == want) << "differs from the chain and the metadata rewrite";
    // Nothing left beside the output.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator{}), 2);
}

INSTANTIATE_TEST_SUITE_P(Layouts, SaveOnePass, testing::Combine(testing::ValuesIn(kLayouts), testing::ValuesIn(kRowSets)),
                         [](const auto& info) {
                             return std::get<0>(info.param).name + "_" + std::get<1>(info.param).name;
                         });

// On every camera photograph (one with EXIF) one grey circle, saved keeping
// the original's quality, grows the file by at most 0.5 % or 2 KB, and the
// decoded pixels away from the edit are the original's.
TEST(SaveKeepingQuality, AGreyCircleBarelyGrowsACameraPhotograph) {
    const std::vector<std::string> photos = TestDataJpegs();
    if (photos.empty()) GTEST_SKIP() << "shared test data not present";
    int checked = 0;
    for (const std::string& path : photos) {
        SCOPED_TRACE(path);
        Loaded photo(path);
        if (!photo.ok || !photo.meta.HasEXIF()) continue;  // not a camera photograph we open
        const Bitmap decoded = photo.bitmap;
        DBUndoTable undo;
        EditSession session(photo.bitmap, undo);
        EditStep circle;
        circle.kind = EditStepKind::Circle;
        circle.x = photo.bitmap.Width() / 3, circle.y = photo.bitmap.Height() / 2, circle.r = 16;
        ASSERT_EQ(session.Apply(circle), "");
        photo.rows = undo.Rectangles();

        TempDir dir;
        const std::string out = dir / "out.jpg";
        SettingsModel settings;
        settings.KeepOriginalQuality = true;
        ScriptedPlatform platform;
        SaveCommands commands(platform, settings, photo.doc);
        ASSERT_TRUE(commands.SaveTo(out)) << (platform.messages.empty() ? "" : platform.messages.back().text);
        ASSERT_EQ(commands.LastReport().mode, PatchMode::KeepQuality);

        const long long before = static_cast<long long>(fs::file_size(path)), after = commands.LastReport().outputSize;
        std::printf("%-40s %9lld -> %9lld bytes (%+.3f %%)\n", fs::path(path).filename().c_str(), before, after,
                    100.0 * double(after - before) / double(before));
        // A damaged original comes back whole, so it may grow.
        if (photo.warnings == 0) {
            EXPECT_LE(after - before, std::max(before / 200, 2048LL));
        }

        Bitmap saved;
        Sampling s;
        ASSERT_TRUE(DecodeJpegToBitmap(out, saved, s).ok);
        ASSERT_EQ(commands.LastReport().engine.areas.size(), 1u);
        // Smoothed chroma reaches one iMCU into the neighbours.
        const PatchArea& a = commands.LastReport().engine.areas[0];
        const int mx = commands.LastReport().engine.grid.imcuWidth, my = commands.LastReport().engine.grid.imcuHeight;
        for (int y = 0; y < saved.Height(); ++y)
            for (int x = 0; x < saved.Width(); ++x) {
                if (x >= a.x - mx && x < a.x + a.width + mx && y >= a.y - my && y < a.y + a.height + my) continue;
                ASSERT_EQ(std::memcmp(saved.Pixel(x, y), decoded.Pixel(x, y), 3), 0) << "pixel " << x << "," << y;
            }
        ++checked;
    }
    EXPECT_GT(checked, 10);
}

}  // namespace
}  // namespace scarlex::test
