// The settings file layer and LoadSettings/SaveSettings, byte for byte.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <clocale>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

#include "platform/ScriptedPlatform.h"
#include "settings/IniFile.h"
#include "settings/Settings.h"
#include "support/TestSupport.h"

namespace scarlex {
namespace {

using test::TempDir;
namespace fs = std::filesystem;

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

// Names the first field that differs, or "".
std::string FirstDifference(const SettingsModel& a, const SettingsModel& b) {
#define SCARLEX_FIELD(f) \
    if (a.f != b.f) return #f;
    SCARLEX_FIELD(Top) SCARLEX_FIELD(Left) SCARLEX_FIELD(Width) SCARLEX_FIELD(Height)
    SCARLEX_FIELD(UseIniFile) SCARLEX_FIELD(ShowPopupHints) SCARLEX_FIELD(AppendEnabled)
    SCARLEX_FIELD(FileNameAppend) SCARLEX_FIELD(RenameOriginal) SCARLEX_FIELD(RenameExtension)
    SCARLEX_FIELD(MoveOriginal) SCARLEX_FIELD(OriginalsFolder) SCARLEX_FIELD(ForceGrey)
    SCARLEX_FIELD(RememberOpenFolder) SCARLEX_FIELD(LastOpenFolder) SCARLEX_FIELD(RememberSaveFolder)
    SCARLEX_FIELD(LastSaveFolder) SCARLEX_FIELD(NumberDuplicates) SCARLEX_FIELD(MagnifierBorderColour)
    SCARLEX_FIELD(LimitBorderColour) SCARLEX_FIELD(OpeningMagnification) SCARLEX_FIELD(NextHint)
    SCARLEX_FIELD(StartupHints) SCARLEX_FIELD(RememberThresholds) SCARLEX_FIELD(ThresholdR)
    SCARLEX_FIELD(ThresholdRG) SCARLEX_FIELD(ThresholdRB) SCARLEX_FIELD(LimitToGlass)
    SCARLEX_FIELD(AskBeforeDiscard) SCARLEX_FIELD(UseOrientation) SCARLEX_FIELD(Maximised)
    SCARLEX_FIELD(KeepOriginalQuality)
#undef SCARLEX_FIELD
    return "";
}

// Every value changed from its default.
SettingsModel EveryValueChanged(const std::string& existingFolder) {
    SettingsModel s;
    s.Top = 10;
    s.Left = -20;
    s.Width = 900;
    s.Height = 700;
    s.UseIniFile = true;
    s.ShowPopupHints = false;
    s.AppendEnabled = false;
    s.FileNameAppend = "  fixed  ";
    s.RenameOriginal = true;
    s.RenameExtension = ".orig";
    s.MoveOriginal = true;
    s.OriginalsFolder = existingFolder;
    s.ForceGrey = false;
    s.RememberOpenFolder = false;
    s.LastOpenFolder = "/photos/in";
    s.RememberSaveFolder = false;
    s.LastSaveFolder = "/photos/out";
    s.NumberDuplicates = false;
    s.MagnifierBorderColour = 0x0000FF;
    s.LimitBorderColour = 0x00FF00;
    s.OpeningMagnification = 12;
    s.NextHint = 7;
    s.StartupHints = false;
    s.RememberThresholds = true;
    s.ThresholdR = "50";
    s.ThresholdRG = "2.5";
    s.ThresholdRB = " 1.3 ";
    s.LimitToGlass = false;
    s.AskBeforeDiscard = false;
    s.UseOrientation = false;
    s.Maximised = true;
    s.KeepOriginalQuality = true;
    return s;
}

class SettingsFileTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string path = dir / "scarlex.INI";
    ScriptedPlatform platform;
};

TEST_F(SettingsFileTest, FirstRunGivesEveryDefaultAndWritesNothing) {
    SettingsModel s = EveryValueChanged("/nowhere");
    LoadSettings(s, path, platform);
    EXPECT_EQ(FirstDifference(s, SettingsModel{}), "");
    EXPECT_EQ(s.Top, 126);
    EXPECT_EQ(s.Left, 300);
    EXPECT_EQ(std::max(s.Width, kMinWindowWidth), 506);
    EXPECT_EQ(s.Height, 640);
    EXPECT_EQ(s.FileNameAppend, " - nre");
    EXPECT_EQ(s.RenameExtension, ".OGL");
    EXPECT_EQ(s.MagnifierBorderColour, 0xFF0000u);
    EXPECT_EQ(s.LimitBorderColour, 0xFFFF00u);
    EXPECT_EQ(s.ThresholdR, "35");
    EXPECT_TRUE(platform.messages.empty());

    SaveSettings(s, path, true);
    EXPECT_FALSE(fs::exists(path)) << "Ini File defaults to false";
}

TEST_F(SettingsFileTest, FreshFileIsWrittenInTheWriteOrder) {
    SettingsModel s;
    s.UseIniFile = true;
    SaveSettings(s, path, true);
    EXPECT_EQ(ReadText(path),
              "[Main Form]\n"
              "Top=126\n"
              "Left=300\n"
              "Width=500\n"
              "Height=640\n"
              "\n"
              "[General]\n"
              "Ini File=1\n"
              "Show Hints=1\n"
              "Force Grey=1\n"
              "Magnifying Glass Border Colour=16711680\n"
              "Limit Circle Border Colour=16776960\n"
              "Magnification=5\n"
              "Hint=0\n"
              "Startup Hints=1\n"
              "Remember Threshold settings=0\n"
              "Limit To Glass=1\n"
              "Use Orientation=1\n"
              "\n"
              "[File]\n"
              "Enable FIle Name Append=1\n"
              "File Name Append= - nre\n"
              "Rename Original File=0\n"
              "New File Extension=.OGL\n"
              "Move Original File=0\n"
              "Move Original Directory=\n"
              "Remember Last Open Folder=1\n"
              "Last Open Folder Name=\n"
              "Last Save Folder Name=\n"
              "Remember Last Save Folder=1\n"
              "Number Duplicate Files=1\n"
              "Ask Before Discard=1\n"
              "Keep Original Quality=0\n");
}

TEST_F(SettingsFileTest, EveryKeyReadsBackAsWritten) {
    SettingsModel written = EveryValueChanged(dir.path().string());
    SaveSettings(written, path, true);
    SettingsModel read;
    LoadSettings(read, path, platform);
    EXPECT_EQ(FirstDifference(read, written), "");
    EXPECT_TRUE(platform.messages.empty());
    // Written twice: the second write changes nothing.
    std::string once = ReadText(path);
    SaveSettings(written, path, true);
    EXPECT_EQ(ReadText(path), once);
}

TEST_F(SettingsFileTest, TextsKeepTheirSpaces) {
    for (std::string text : {" - nre", "  both  ", "trailing ", "", "=equals=in=it", "tab\there"}) {
        SCOPED_TRACE("[" + text + "]");
        IniFile ini(path);
        ini.WriteString("File", "File Name Append", text);
        EXPECT_EQ(IniFile(path).ReadString("File", "File Name Append", "default"), text);
    }
}

TEST_F(SettingsFileTest, LineBreaksInATextCannotMakeNewKeys) {
    IniFile ini(path);
    ini.WriteString("File", "File Name Append", "x\n[General]\nIni File=1");
    IniFile back(path);
    EXPECT_FALSE(back.ValueExists("General", "Ini File"));
    EXPECT_EQ(back.ReadString("File", "File Name Append", ""), "x [General] Ini File=1");
}

TEST_F(SettingsFileTest, ACarriageReturnEndsALineWhereverItStands) {
    // Lone CRs and CR CR LF, as a file edited elsewhere may hold: no value
    // keeps a CR, and writing the settings back changes none of them.
    WriteText(path,
              "[File]\r\r\nNew File Extension=.BAK\r\rFile Name Append= - fixed\r"
              "[General]\rHint=4\r\nForce Grey=0\r");
    SettingsModel s;
    ReadSettings(s, IniFile(path));
    EXPECT_EQ(s.RenameExtension, ".BAK");
    EXPECT_EQ(s.FileNameAppend, " - fixed");
    EXPECT_EQ(s.NextHint, 4);
    EXPECT_FALSE(s.ForceGrey);
    s.UseIniFile = true;
    SaveSettings(s, path, true);
    SettingsModel again;
    ReadSettings(again, IniFile(path));
    EXPECT_EQ(FirstDifference(s, again), "");
    EXPECT_EQ(ReadText(path).find('\r'), std::string::npos);
}

TEST_F(SettingsFileTest, IntegersReadAsDecimalOrHexadecimal) {
    struct Case {
        const char* text;
        std::optional<int32_t> value;
    };
    const Case cases[] = {
        {"0x0000FF", 0xFF},     {"0X00ff00", 0xFF00}, {"16711680", 0xFF0000}, {"-7", -7},
        {"+7", 7},              {" 42 ", 42},         {"0x", std::nullopt},   {"0xG1", std::nullopt},
        {"12abc", std::nullopt}, {"", std::nullopt},  {"abc", std::nullopt},  {"2147483648", std::nullopt},
        {"0xFFFFFFFF", -1},     {"0x100000000", std::nullopt}, {"1.5", std::nullopt}, {"+-1", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        int32_t value = 1234;
        ASSERT_EQ(ParseIniInteger(c.text, value), c.value.has_value());
        if (c.value) {
            EXPECT_EQ(value, *c.value);
        }
        WriteText(path, std::string("[General]\nMagnifying Glass Border Colour=") + c.text + "\n");
        EXPECT_EQ(IniFile(path).ReadInteger("General", "Magnifying Glass Border Colour", 99), c.value.value_or(99));
    }
}

TEST_F(SettingsFileTest, HexadecimalColourReadsAsRed) {
    WriteText(path, "[General]\nMagnifying Glass Border Colour=0x0000FF\nLimit Circle Border Colour=junk\n");
    SettingsModel s;
    ReadSettings(s, IniFile(path));
    EXPECT_EQ(s.MagnifierBorderColour, 0x0000FFu);  // 0x00BBGGRR: red
    EXPECT_EQ(s.LimitBorderColour, 0xFFFF00u);      // unreadable: the default
}

TEST_F(SettingsFileTest, BooleansAreIntegers) {
    struct Case {
        const char* text;
        bool value;
    };
    // Default of Show Hints is true.
    for (Case c : {Case{"1", true}, {"0", false}, {"2", true}, {"-1", true}, {"0x0", false}, {"yes", true},
                   {"", true}, {" 0", false}}) {
        SCOPED_TRACE(c.text);
        WriteText(path, std::string("[General]\nShow Hints=") + c.text + "\n");
        SettingsModel s;
        ReadSettings(s, IniFile(path));
        EXPECT_EQ(s.ShowPopupHints, c.value);
    }
}

TEST_F(SettingsFileTest, NamesMatchWithoutCaseAndTheFirstKeyWins) {
    WriteText(path,
              "Hint=9\n"
              "[general]\n"
              "  HINT = 4\n"
              "Hint=5\n"
              "[General]\n"
              "Hint=6\n");
    IniFile ini(path);
    EXPECT_EQ(ini.ReadInteger("General", "Hint", 0), 4);
    ini.WriteInteger("General", "Hint", 3);
    EXPECT_EQ(ReadText(path),
              "Hint=9\n"
              "[general]\n"
              "Hint=3\n"
              "Hint=5\n"
              "[General]\n"
              "Hint=6\n");
}

TEST_F(SettingsFileTest, UnknownSectionsKeysAndCommentsSurviveAWrite) {
    WriteText(path,
              "; kept\r\n"
              "[Other]\r\n"
              "Colour=blue\r\n"
              "\r\n"
              "[General]\r\n"
              "Mystery=42\r\n"
              "Hint=3\r\n"
              "\r\n"
              "[Last]\r\n"
              "x=y");
    SettingsModel s;
    s.UseIniFile = true;
    SaveSettings(s, path, false);
    std::string text = ReadText(path);
    EXPECT_EQ(text.rfind("; kept\n"
              "[Other]\n"
              "Colour=blue\n"
              "\n"
              "[General]\n"
              "Mystery=42\n"
              "Hint=0\n"
              "Ini File=1\n"
              "Show Hints=1\n"
              "Force Grey=1\n"
              "Magni",
                        0),
              0u)
        << text;
    EXPECT_NE(text.find("\n\n[Last]\nx=y\n\n[File]\nEnable FIle Name Append=1\n"), std::string::npos) << text;
}

TEST_F(SettingsFileTest, ThresholdsStayInTheFileWhileNotRemembered) {
    WriteText(path,
              "[General]\n"
              "Remember Threshold settings=0\n"
              "Red Threshold=50\n"
              "Red/Green Threshold=2.5\n"
              "Red/Blue Threshold=1.3\n");
    SettingsModel s;
    ReadSettings(s, IniFile(path));
    EXPECT_FALSE(s.RememberThresholds);
    EXPECT_EQ(s.ThresholdR, "35");
    EXPECT_EQ(s.ThresholdRG, SettingsModel::DefaultRedGreenThreshold());
    s.UseIniFile = true;
    s.ThresholdR = "99";
    SaveSettings(s, path, true);
    IniFile back(path);
    EXPECT_EQ(back.ReadString("General", "Red Threshold", ""), "50");
    EXPECT_EQ(back.ReadString("General", "Red/Green Threshold", ""), "2.5");

    // Switched on again, the stored values come back.
    back.WriteBool("General", "Remember Threshold settings", true);
    ReadSettings(s, IniFile(path));
    EXPECT_EQ(s.ThresholdR, "50");
    EXPECT_EQ(s.ThresholdRB, "1.3");
}

TEST_F(SettingsFileTest, AWindowNotInItsNormalStateLeavesTheStoredGeometry) {
    SettingsModel s;
    s.UseIniFile = true;
    SaveSettings(s, path, true);
    s.Top = 0;
    s.Left = 0;
    s.Width = 1920;
    s.Height = 1080;
    s.NextHint = 4;
    SaveSettings(s, path, false);
    SettingsModel back;
    ReadSettings(back, IniFile(path));
    EXPECT_EQ(back.Top, 126);
    EXPECT_EQ(back.Left, 300);
    EXPECT_EQ(back.Width, 500);
    EXPECT_EQ(back.Height, 640);
    EXPECT_EQ(back.NextHint, 4);
}

TEST_F(SettingsFileTest, MissingOriginalsFolderWarnsAndTurnsMovingOff) {
    for (bool exists : {false, true}) {
        SCOPED_TRACE(exists ? "folder exists" : "folder missing");
        ScriptedPlatform p;
        std::string folder = exists ? dir.path().string() : dir / "gone";
        IniFile ini(path);
        ini.WriteBool("File", "Move Original File", true);
        ini.WriteString("File", "Move Original Directory", folder);
        SettingsModel s;
        std::vector<std::string> order;
        LoadSettings(s, IniFile(path), p, [&](const SettingsModel& applied) {
            order.push_back("apply");
            EXPECT_TRUE(applied.MoveOriginal);
            EXPECT_TRUE(p.messages.empty());
        });
        EXPECT_EQ(order.size(), 1u);
        EXPECT_EQ(s.OriginalsFolder, folder);
        if (exists) {
            EXPECT_TRUE(s.MoveOriginal);
            EXPECT_TRUE(p.messages.empty());
        } else {
            EXPECT_FALSE(s.MoveOriginal);
            ASSERT_EQ(p.messages.size(), 1u);
            EXPECT_EQ(p.messages[0].type, MsgType::Warning);
            EXPECT_EQ(p.messages[0].buttons, MsgButtons::Ok);
            EXPECT_EQ(p.messages[0].text,
                      "The directory for moving the original files to does not appear to exist. Moving originals has "
                      "been turn off. \nTo re-enable moving originals, go to prefs and set a directory which exists.");
            // Written at exit, the move is off for good.
            s.UseIniFile = true;
            SaveSettings(s, path, true);
            EXPECT_EQ(IniFile(path).ReadString("File", "Move Original File", ""), "0");
        }
    }
}

TEST_F(SettingsFileTest, OpeningMagnificationIsHeldInTheViewsRange) {
    for (auto [stored, used] : {std::pair{"0", 2}, {"1", 2}, {"2", 2}, {"-3", 2}, {"100", 100}, {"101", 100},
                                {"0x7FFFFFFF", 100}, {"7", 7}}) {
        SCOPED_TRACE(stored);
        WriteText(path, std::string("[General]\nMagnification=") + stored + "\n");
        SettingsModel s;
        ReadSettings(s, IniFile(path));
        EXPECT_EQ(s.OpeningMagnification, used);
    }
}

TEST_F(SettingsFileTest, DamagedFilesGiveDefaults) {
    std::string binary;
    for (int i = 0; i < 5000; ++i) binary += static_cast<char>((i * 7919) & 0xFF);
    binary += "\n[General]\nHint=3\n";
    binary += std::string(3, '\0') + "[File]\r\r\nFile Name Append";
    WriteText(path, binary);
    SettingsModel s;
    ReadSettings(s, IniFile(path));
    EXPECT_EQ(s.NextHint, 3);
    EXPECT_EQ(s.FileNameAppend, " - nre");

    // A value longer than 2047 characters comes back cut.
    WriteText(path, "[File]\nFile Name Append=" + std::string(5000, 'a') + "\n");
    EXPECT_EQ(IniFile(path).ReadString("File", "File Name Append", "").size(), 2047u);
    WriteText(path, "[File]\nFile Name Append=" + std::string(2046, 'a') + "\xC3\xA9" + "\n");
    EXPECT_EQ(IniFile(path).ReadString("File", "File Name Append", "").size(), 2046u) << "no half characters";
}

TEST_F(SettingsFileTest, AFileTooLargeOrNotAFileIsNeitherReadNorReplaced) {
    std::string huge = "[General]\nHint=5\n" + std::string(IniFile::kMaxFileSize, 'x');
    WriteText(path, huge);
    IniFile ini(path);
    EXPECT_EQ(ini.ReadInteger("General", "Hint", 0), 0);
    EXPECT_THROW(ini.WriteInteger("General", "Hint", 1), IniWriteError);
    EXPECT_EQ(fs::file_size(path), huge.size());

    std::string folder = dir / "folder.INI";
    fs::create_directory(folder);
    IniFile notAFile(folder);
    EXPECT_THROW(notAFile.WriteInteger("General", "Hint", 1), IniWriteError);
    EXPECT_TRUE(fs::is_directory(folder));
}

TEST_F(SettingsFileTest, AFailedWriteRaisesAndLeavesTheFileWhole) {
    const std::string before = "[Other]\n" + std::string(200, 'k') + "=v\n";
    WriteText(path, before);
    IniFile ini(path);

    // Files may not grow past 64 bytes for a moment: the rewrite fails.
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string message;
    try {
        ini.WriteString("General", "Hint", "1");
    } catch (const IniWriteError& e) {
        message = e.what();
    }
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(message, "Unable to write to " + path);
    EXPECT_EQ(ReadText(path), before);
    int files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir.path())) ++files;
    EXPECT_EQ(files, 1) << "no temporary file left beside it";
    // The failed key was not kept either: the next write starts from the file.
    ini.WriteString("General", "Show Hints", "0");
    EXPECT_FALSE(IniFile(path).ValueExists("General", "Hint"));
}

TEST_F(SettingsFileTest, AFolderThatCannotBeMadeRaisesTheWriteError) {
    WriteText(dir / "notafolder", "x");
    SettingsModel s;
    s.UseIniFile = true;
    std::string inside = dir / "notafolder/scarlex.INI";
    try {
        SaveSettings(s, inside, true);
        FAIL() << "no error";
    } catch (const IniWriteError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + inside);
    }
    // A missing folder is made.
    std::string nested = dir / "a/b/scarlex.INI";
    SaveSettings(s, nested, true);
    EXPECT_TRUE(fs::exists(nested));
}

class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST_F(SettingsFileTest, TheFileIsTheExecutablesNameInTheConfigFolder) {
    EXPECT_EQ(SettingsFileName("/usr/bin/scarlex"), "scarlex.INI");
    EXPECT_EQ(SettingsFileName("/opt/a.b/scarlex"), "scarlex.INI");
    EXPECT_EQ(SettingsFileName("scarlex.exe"), "scarlex.INI");
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", dir.path().c_str());
        EXPECT_EQ(SettingsFilePath(), dir / SettingsFileName(ExecutablePath()));
        EXPECT_EQ(SettingsFileName(ExecutablePath()), "settings_file_tests.INI");
    }
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
        ScopedEnv home("HOME", dir.path().c_str());
        EXPECT_EQ(SettingsFolder(), dir / ".config");
    }
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", "relative/ignored");
        ScopedEnv home("HOME", "/home/someone");
        EXPECT_EQ(SettingsFolder(), "/home/someone/.config");
    }
}

TEST_F(SettingsFileTest, RemoveDeletesExactlyTheSettingsFile) {
    WriteText(path, "[General]\n");
    WriteText(dir / "scarlex.ini", "lower case: another file");
    RemoveSettingsFile(path);
    EXPECT_FALSE(fs::exists(path));
    EXPECT_TRUE(fs::exists(dir / "scarlex.ini"));
    RemoveSettingsFile(path);  // missing: nothing happens
    fs::create_directory(path);
    RemoveSettingsFile(path);
    EXPECT_TRUE(fs::is_directory(path)) << "a folder is not the settings file";
}

TEST(AutoSave, PossibleWhenAnyWayOfNamingWorks) {
    TempDir dir;
    struct Case {
        bool move;
        bool folderExists;
        bool append;
        bool rename;
        bool possible;
    };
    for (Case c : {Case{false, true, false, false, false}, {true, false, false, false, false},
                   {true, true, false, false, true}, {false, false, true, false, true},
                   {false, false, false, true, true}}) {
        SettingsModel s;
        s.MoveOriginal = c.move;
        s.OriginalsFolder = c.folderExists ? dir.path().string() : dir / "missing";
        s.AppendEnabled = c.append;
        s.RenameOriginal = c.rename;
        SCOPED_TRACE(::testing::Message() << c.move << c.folderExists << c.append << c.rename);
        EXPECT_EQ(AutoSavePossible(s), c.possible);
        EXPECT_EQ(OriginalsFolderUsable(s), c.move && c.folderExists);
    }
    SettingsModel s;
    EXPECT_EQ(AutoSaveHint(s), "Auto Save (with appended  - nre)");
}

// Switches LC_ALL to a comma-decimal locale for the life of the object, if
// one can be had: an installed one, or one compiled into a temporary folder.
class CommaLocale {
public:
    CommaLocale() {
        previous_ = std::setlocale(LC_ALL, nullptr);
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "nl_NL.UTF-8", "de_DE"})
            if (Use(name)) return;
        if (!test::HaveTool("localedef")) return;
        std::string out = dir_ / "de_DE.UTF-8";
        if (test::RunShell("localedef -i de_DE -f UTF-8 " + test::Quote(out) + " >/dev/null 2>&1") > 1) return;
        locpath_.emplace("LOCPATH", dir_.path().c_str());
        if (!Use("de_DE.UTF-8")) locpath_.reset();
    }
    ~CommaLocale() { std::setlocale(LC_ALL, previous_.c_str()); }
    bool Active() const { return active_; }

private:
    bool Use(const char* name) {
        if (!std::setlocale(LC_ALL, name)) return false;
        active_ = std::string(std::localeconv()->decimal_point) == ",";
        if (!active_) std::setlocale(LC_ALL, previous_.c_str());
        return active_;
    }
    std::string previous_;
    TempDir dir_;
    std::optional<ScopedEnv> locpath_;
    bool active_ = false;
};

TEST(DecimalNumbers, FormattedWithTheGivenSeparator) {
    EXPECT_EQ(FormatDecimal(1.6, "."), "1.6");
    EXPECT_EQ(FormatDecimal(1.1, ","), "1,1");
    EXPECT_EQ(FormatDecimal(35, ","), "35");
}

TEST(DecimalNumbers, CommaLocaleThresholds) {
    TempDir dir;
    CommaLocale comma;
    if (!comma.Active()) GTEST_SKIP() << "no comma-decimal locale available";
    SettingsModel s;
    EXPECT_EQ(s.ThresholdRG, "1,6");
    EXPECT_EQ(s.ThresholdRB, "1,1");
    s.UseIniFile = true;
    s.RememberThresholds = true;
    s.ThresholdRG = "1,75";
    std::string path = dir / "scarlex.INI";
    SaveSettings(s, path, true);
    EXPECT_EQ(IniFile(path).ReadString("General", "Red/Green Threshold", ""), "1,75");
    SettingsModel back;
    ReadSettings(back, IniFile(path));
    EXPECT_EQ(back.ThresholdRG, "1,75");
    EXPECT_EQ(back.ThresholdRB, "1,1");
}

TEST_F(SettingsFileTest, MaxMegapixelsIsReadAndWrittenOnlyOnceSet) {
    WriteText(path, "[General]\nMax Megapixels=120\n");
    SettingsModel s;
    ReadSettings(s, IniFile(path));
    EXPECT_EQ(s.MaxMegapixels, 120);
    s.UseIniFile = true;
    s.MaxMegapixels = 80;
    SaveSettings(s, path, true);
    EXPECT_NE(ReadText(path).find("Max Megapixels=80\n"), std::string::npos);
    // Nonsense reads as the default; a file that never had the key stays without it.
    WriteText(path, "[General]\nMax Megapixels=-4\n");
    ReadSettings(s, IniFile(path));
    EXPECT_EQ(s.MaxMegapixels, 0);
    fs::remove(path);
    SettingsModel fresh;
    fresh.UseIniFile = true;
    SaveSettings(fresh, path, true);
    EXPECT_EQ(ReadText(path).find("Max Megapixels"), std::string::npos);
}

TEST_F(SettingsFileTest, WritesInABatchReachTheFileOnceAtTheEnd) {
    WriteText(path, "[Other]\nkeep=1\n");
    IniFile ini(path);
    ini.BeginWrites();
    ini.WriteString("General", "Hint", "4");
    ini.WriteInteger("File", "Top", 7);
    EXPECT_EQ(ReadText(path), "[Other]\nkeep=1\n");
    EXPECT_EQ(ini.ReadInteger("General", "Hint", 0), 4);  // read back before the file has it
    ini.CommitWrites();
    const IniFile again(path);
    EXPECT_EQ(again.ReadInteger("General", "Hint", 0), 4);
    EXPECT_EQ(again.ReadInteger("File", "Top", 0), 7);
    EXPECT_EQ(again.ReadInteger("Other", "keep", 0), 1);

    // A file that must not be rewritten refuses the batch as a whole.
    const std::string huge = "[General]\nHint=5\n" + std::string(IniFile::kMaxFileSize, 'x');
    WriteText(path, huge);
    IniFile big(path);
    big.BeginWrites();
    big.WriteInteger("General", "Hint", 1);
    EXPECT_THROW(big.CommitWrites(), IniWriteError);
    EXPECT_EQ(fs::file_size(path), huge.size());
}

}  // namespace
}  // namespace scarlex
