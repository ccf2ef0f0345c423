#include <gtest/gtest.h>

#include <filesystem>

#include "save/OutputNaming.h"
#include "support/TestSupport.h"

using namespace scarlex;
using namespace scarlex::test;

TEST(OutputNaming, NamesFollowTheAppendPreference) {
    SettingsModel s;
    EXPECT_EQ(AutoSaveName("/p/IMG_0001.JPG", s), "/p/IMG_0001 - nre.jpg");
    EXPECT_EQ(ProposedSaveName("/p/IMG_0001.JPG", s), "/p/IMG_0001 - nre.jpg");
    EXPECT_EQ(AutoSaveName("/p.q/IMG.0001.jpg", s), "/p.q/IMG.0001 - nre.jpg");
    s.AppendEnabled = false;
    EXPECT_EQ(AutoSaveName("/p/IMG_0001.JPG", s), "/p/IMG_0001.jpg");
    EXPECT_EQ(ProposedSaveName("/p/IMG_0001.JPG", s), "/p/IMG_0001");  // the dialog adds its default extension
    EXPECT_EQ(OverwritePrompt("/p/a.jpg"), "Filename /p/a.jpg already exists. Overwrite?");
}

class Relocation : public ::testing::Test {
protected:
    TempDir dir;
    std::string open;
    SettingsModel s;
    void SetUp() override {
        open = dir / "IMG_0001.jpg";
        WriteFileBytes(open, {1});
    }
};

TEST_F(Relocation, NothingMovesByDefault) {
    RelocationPlan p = PlanRelocation(open, s);
    EXPECT_FALSE(p.relocate);
    EXPECT_EQ(p.relocated, open);
}

TEST_F(Relocation, RenameNumbersTakenNames) {
    s.RenameOriginal = true;
    EXPECT_EQ(PlanRelocation(open, s).relocated, dir / "IMG_0001.OGL");
    WriteFileBytes(dir / "IMG_0001.OGL", {2});
    EXPECT_EQ(PlanRelocation(open, s).relocated, dir / "IMG_0001_0.OGL");
    WriteFileBytes(dir / "IMG_0001_0.OGL", {2});
    EXPECT_EQ(PlanRelocation(open, s).relocated, dir / "IMG_0001_1.OGL");

    s.NumberDuplicates = false;
    RelocationPlan p = PlanRelocation(open, s);
    EXPECT_TRUE(p.refused);
    EXPECT_EQ(p.warning, "Filename " + (dir / "IMG_0001.OGL") +
                             " already exists...\nPlease turn on Number duplicate files (under Files in prefs), or "
                             "perform a standard save.");
}

TEST_F(Relocation, MoveGoesToAnExistingFolderOrNumbersInPlace) {
    std::filesystem::create_directory(dir / "orig");
    s.MoveOriginal = true;
    s.OriginalsFolder = dir / "orig";
    EXPECT_EQ(PlanRelocation(open, s).relocated, dir / "orig/IMG_0001.jpg");

    // Folder missing: the "relocated" name is the open file itself, which is
    // taken, so it is numbered in its own folder, or refused.
    s.OriginalsFolder = dir / "gone";
    EXPECT_EQ(PlanRelocation(open, s).relocated, dir / "IMG_0001_0.jpg");
    s.NumberDuplicates = false;
    RelocationPlan p = PlanRelocation(open, s);
    EXPECT_TRUE(p.refused);
    EXPECT_NE(p.warning.find(open), std::string::npos);
}
