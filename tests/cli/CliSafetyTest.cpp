#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "CliRun.h"
#include "codec/JpegCodec.h"
#include "codec/PictureLimits.h"

using namespace scarlex;
using namespace scarlex::test;
namespace fs = std::filesystem;

namespace {

class CliSafety : public ::testing::Test {
protected:
    TempDir dir, scratch;
    std::vector<uint8_t> photoBytes;
    void SetUp() override {
        WriteTestJpeg(dir / "a.jpg", MakePhotoLike(96, 64, 4), {});
        photoBytes = ReadFileBytes(dir / "a.jpg");
    }
    CliRun Run(const std::string& args) { return RunCli(dir.path().string(), args, scratch.path().string()); }
    std::vector<std::string> Listing() const {
        std::vector<std::string> names;
        for (const auto& e : fs::recursive_directory_iterator(dir.path()))
            names.push_back(fs::relative(e.path(), dir.path()).string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

// Exactly one line, for the command, naming what it must.
void ExpectOneLine(const CliRun& r, const std::string& command, const std::vector<std::string>& names) {
    EXPECT_EQ(r.status, 1);
    ASSERT_EQ(r.errLines.size(), 1u) << r.err();
    EXPECT_EQ(r.errLines[0].rfind("scarlex-cli " + command + ": ", 0), 0u) << r.errLines[0];
    for (const std::string& n : names) EXPECT_NE(r.errLines[0].find(n), std::string::npos) << r.errLines[0];
}

}  // namespace

TEST_F(CliSafety, NoExistingFileIsReplacedWithoutYes) {
    fs::create_directory(dir.path() / "sub");
    WriteFileBytes(dir / "other.jpg", {'k', 'e', 'e', 'p'});
    struct Case {
        std::string args;
        std::vector<std::string> named;
    };
    const Case cases[] = {
        {"fix a.jpg --click 10,10 -o a.jpg", {"a.jpg", "--yes"}},
        {"fix a.jpg --click 10,10 -o ./a.jpg --no-append", {"./a.jpg", "--yes"}},
        {"fix a.jpg --click 10,10 -o " + Quote(dir / "a.jpg") + " --no-append", {"--yes"}},
        {"fix a.jpg --click 10,10 -o other.jpg", {"other.jpg", "--yes"}},
        {"fix a.jpg --click 10,10 --no-append", {"a.jpg", "--yes"}},
        // The output would be the moved original: refused, both named.
        {"fix a.jpg --circle 40,30,8 --move-to sub -o ./sub/a.jpg", {"./sub/a.jpg", "sub/a.jpg"}},
        {"fix a.jpg --circle 40,30,8 --rename-ext .OGL -o ./a.OGL", {"./a.OGL", "a.OGL"}},
        // Every command that writes a file.
        {"decode a.jpg other.jpg", {"other.jpg", "--yes"}},
        {"reencode a.jpg ./other.jpg", {"./other.jpg", "--yes"}},
        {"crop a.jpg other.jpg 16x16+0+0", {"other.jpg", "--yes"}},
        {"drop a.jpg a.jpg other.jpg +0+0", {"other.jpg", "--yes"}},
        {"reattach a.jpg a.jpg other.jpg", {"other.jpg", "--yes"}},
        {"edit a.jpg other.jpg --click 1,1", {"other.jpg", "--yes"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        ExpectOneLine(Run(c.args), c.args.substr(0, c.args.find(' ')), c.named);
        EXPECT_EQ(ReadFileBytes(dir / "other.jpg"), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));
        EXPECT_EQ(ReadFileBytes(dir / "a.jpg"), photoBytes);
        EXPECT_EQ(Listing(), (std::vector<std::string>{"a.jpg", "other.jpg", "sub"}));
    }
    // With --yes: written whole and renamed over, the original's mode kept.
    ::chmod((dir / "a.jpg").c_str(), 0600);
    CliRun r = Run("fix a.jpg --circle 40,30,8 -o ./a.jpg --no-append --yes");
    ASSERT_EQ(r.status, 0) << r.err();
    EXPECT_TRUE(r.errLines.empty()) << r.err();
    EXPECT_NE(ReadFileBytes(dir / "a.jpg"), photoBytes);
    struct stat st {};
    ::stat((dir / "a.jpg").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    r = Run("fix a.jpg --circle 40,30,8 -o other.jpg --yes");
    ASSERT_EQ(r.status, 0) << r.err();
    Bitmap b;
    Sampling s;
    EXPECT_TRUE(DecodeJpegToBitmap(dir / "other.jpg", b, s).ok);
    EXPECT_EQ(Listing(), (std::vector<std::string>{"a.jpg", "other.jpg", "sub"}));
    // Renaming the original aside frees its name without --yes.
    r = Run("fix a.jpg --circle 40,30,8 --no-append --rename-ext .OGL");
    ASSERT_EQ(r.status, 0) << r.err();
    EXPECT_NE(r.out.find("original moved to: a.OGL"), std::string::npos) << r.out;
}

TEST_F(CliSafety, EveryFailureIsOneLineNamingTheFileAndTheCause) {
    fs::create_directory(dir.path() / "folder.jpg");
    WriteFileBytes(dir / "huge.jpg", WithDeclaredSize(photoBytes, 60000, 60000));
    WriteFileBytes(dir / "big.jpg", WithDeclaredSize(photoBytes, 1200, 1000));
    const std::string limit = FormatMegapixels(DefaultPictureLimits().maxPixels);
    struct Case {
        std::string args, command;
        std::vector<std::string> named;
    };
    const Case cases[] = {
        {"fix folder.jpg --click 1,1", "fix", {"folder.jpg", "is a directory"}},
        {"info folder.jpg", "info", {"folder.jpg", "is a directory"}},
        {"fix a.jpg --rg 1.6x --click 1,1", "fix", {"a.jpg", "--rg", "1.6x"}},
        {"fix a.jpg --attenuation 200 --click 1,1", "fix", {"a.jpg", "--attenuation"}},
        {"fix huge.jpg --click 1,1", "fix", {"huge.jpg declares 60000 \u00d7 60000 pixels (3600 MP); the limit is " + limit}},
        {"decode huge.jpg out.ppm", "decode", {"huge.jpg declares 60000"}},
        {"fix big.jpg --click 1,1 --max-megapixels 1", "fix", {"big.jpg declares 1200 \u00d7 1000 pixels (1.2 MP); the limit is 1 MP"}},
        {"crop big.jpg c.jpg 8x8+0+0 --max-megapixels 1", "crop", {"big.jpg declares"}},
        {"info a.jpg --max-megapixels lots", "info", {"--max-megapixels", "lots"}},
        {"decode missing.jpg out.ppm", "decode", {"missing.jpg", "can't open image", "No such file"}},
        {"fix a.jpg --frobnicate", "fix", {"a.jpg", "--frobnicate"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        ExpectOneLine(Run(c.args), c.command, c.named);
        EXPECT_EQ(ReadFileBytes(dir / "a.jpg"), photoBytes);
        EXPECT_FALSE(fs::exists(dir / "out.ppm"));
        EXPECT_FALSE(fs::exists(dir / "c.jpg"));
    }
    EXPECT_EQ(Listing(), (std::vector<std::string>{"a.jpg", "big.jpg", "folder.jpg", "huge.jpg"}));
    // A command name with a line break in it is still one line.
    const CliRun unknown = Run("\"$(printf 'r\\nesa')\" a.jpg");
    EXPECT_EQ(unknown.status, 1);
    EXPECT_EQ(unknown.errLines.size(), 1u) << unknown.err();
    // The header alone is still shown.
    CliRun r = Run("info huge.jpg");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("width: 60000"), std::string::npos);
}

TEST_F(CliSafety, DamageInTheInputIsOneWarningLineAndNoFailure) {
    std::vector<uint8_t> cut = photoBytes;
    cut.resize(cut.size() * 2 / 3);
    WriteFileBytes(dir / "cut.jpg", cut);
    CliRun r = Run("fix cut.jpg --circle 40,20,6 -o fixed.jpg");
    ASSERT_EQ(r.status, 0) << r.err();
    ASSERT_EQ(r.errLines.size(), 1u) << r.err();
    EXPECT_EQ(r.errLines[0].rfind("warning: cut.jpg: ", 0), 0u) << r.errLines[0];
    r = Run("decode fixed.jpg fixed.ppm");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.errLines.empty()) << "the saved file carries no damage: " << r.err();
}
