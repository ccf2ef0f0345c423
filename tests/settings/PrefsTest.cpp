// The preferences dialog on the offscreen platform.

#include <QAbstractButton>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <functional>

#include "QtTestApp.h"
#include "platform/ScriptedPlatform.h"
#include "settings/Prefs.h"
#include "settings/Settings.h"
#include "support/TestSupport.h"

namespace scarlex {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

// Records where the dialogs started.
class RecordingPlatform : public ScriptedPlatform {
public:
    std::vector<std::pair<std::string, std::string>> folderRequests;  // title, initial folder
    std::vector<uint32_t> colourRequests;

    std::optional<std::string> FolderDialog(const std::string& title, const std::string& initial) override {
        folderRequests.emplace_back(title, initial);
        return ScriptedPlatform::FolderDialog(title, initial);
    }
    std::optional<uint32_t> ColourDialog(uint32_t initial) override {
        colourRequests.push_back(initial);
        return ScriptedPlatform::ColourDialog(initial);
    }
};

// A click on a check box's tick, where the user would click.
void ClickBox(QAbstractButton* box) { QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2)); }

class PrefsTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string iniPath = dir / "scarlex.INI";
    RecordingPlatform platform;
    TFPrefs prefs{platform, iniPath};
    int applied = 0;
    SettingsModel lastApplied;
    bool autoSaveEnabled = false;

    // The main window's part of Prefs1Click.
    ApplySettings Apply() {
        return [this](const SettingsModel& s) {
            ++applied;
            lastApplied = s;
            autoSaveEnabled = AutoSavePossible(s);
        };
    }

    // Runs Edit with `user` acting inside the modal dialog.
    bool EditWith(SettingsModel& s, std::function<void()> user) {
        QTimer::singleShot(0, &prefs, [this, user] {
            EXPECT_TRUE(prefs.isVisible());
            user();
            if (prefs.isVisible()) ADD_FAILURE() << "the user left the dialog open";
        });
        return prefs.Edit(s, Apply());
    }
};

TEST_F(PrefsTest, LayoutCaptionsAndHints) {
    EXPECT_EQ(prefs.windowTitle(), "Prefs");
    EXPECT_EQ(prefs.size(), QSize(360, 290)) << "the controls need more room than the dialog's fixed size";
    EXPECT_FALSE(prefs.windowFlags() & Qt::WindowCloseButtonHint);
    ASSERT_EQ(prefs.PageControl1->count(), 3);
    EXPECT_EQ(prefs.PageControl1->tabText(0), "General");
    EXPECT_EQ(prefs.PageControl1->tabText(1), "Files");
    EXPECT_EQ(prefs.PageControl1->tabText(2), "Main Controls");
    EXPECT_EQ(prefs.PageControl1->currentWidget(), prefs.TMainControls);
    EXPECT_EQ(prefs.BitBtn1->toolTip(), "Accept and save these preferences");
    EXPECT_EQ(prefs.BitBtn2->toolTip(), "Discard any changes.");
    EXPECT_EQ(prefs.CBIni->text(), "Store defaults in ini file");
    EXPECT_EQ(prefs.RemoveIniFileLabel->text(), "Remove ini file");
    EXPECT_TRUE(prefs.RemoveIniFileLabel->font().underline());
    EXPECT_EQ(prefs.RemoveIniFileLabel->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(prefs.Label2->text(), "Default (and AutoSave) filename append characters");
    EXPECT_TRUE(prefs.EOriginalsFolder->isReadOnly());
    EXPECT_EQ(prefs.CBNumberDuplicates->toolTip(),
              "When a file is edited a second time, this appends a number to the rear of the file to prevent the "
              "original being overwritten");
    EXPECT_EQ(prefs.EOpeningMagnification->toolTip(), "Magnification that Scarlex will default to at startup");
    EXPECT_EQ(prefs.CBRememberThresholdSettings->text(), "Remember threshold settings");
    EXPECT_EQ(prefs.CBLimitToGlass->text(), "Keep a click's removal inside the magnifying glass");
    EXPECT_EQ(prefs.CBLimitToGlass->parentWidget(), prefs.TMainControls);
    EXPECT_EQ(prefs.CBAskBeforeDiscard->text(), "Ask before discarding unsaved changes");
    EXPECT_EQ(prefs.CBAskBeforeDiscard->parentWidget(), prefs.TFiles);
    EXPECT_EQ(prefs.CBKeepQuality->text(), "Keep the original's quality (the file does not grow)");
    EXPECT_EQ(prefs.CBKeepQuality->parentWidget(), prefs.TFiles);
    EXPECT_FALSE(prefs.CBKeepQuality->whatsThis().isEmpty());
    EXPECT_EQ(prefs.DirDlg.Title, "Folder to move original files to");
}

TEST_F(PrefsTest, OkTakesEveryValueBackAndApplies) {
    SettingsModel s;
    s.OriginalsFolder = dir.path().string();
    SettingsModel before = s;
    platform.colourAnswers = {0x0000FFu, 0x00FF00u};
    std::string newFolder = dir / "originals";
    fs::create_directory(newFolder);
    platform.folderAnswers = {newFolder};

    bool ok = EditWith(s, [&] {
        EXPECT_TRUE(prefs.CBIni->isChecked() == before.UseIniFile);
        EXPECT_EQ(prefs.EFileNameAppend->text(), " - nre");
        EXPECT_EQ(prefs.EOpeningMagnification->text(), "5");
        EXPECT_TRUE(prefs.CBLimitToGlass->isChecked());
        EXPECT_TRUE(prefs.CBAskBeforeDiscard->isChecked());
        EXPECT_FALSE(prefs.CBKeepQuality->isChecked());
        prefs.PageControl1->setCurrentWidget(prefs.TGeneral);
        ClickBox(prefs.CBIni);
        prefs.PageControl1->setCurrentWidget(prefs.TFiles);
        prefs.EOpeningMagnification->setText("8");
        prefs.CBShowHints->setChecked(false);
        prefs.CBAppendChars->setChecked(false);
        prefs.EFileNameAppend->setText(" fixed ");
        prefs.CBRenameExtension->setChecked(false);
        prefs.ERenameExtension->setText(".old");
        prefs.CBOriginalsFolder->setChecked(true);
        QTest::mouseClick(prefs.BSelDir, Qt::LeftButton);
        prefs.CBNumberDuplicates->setChecked(false);
        ClickBox(prefs.CBAskBeforeDiscard);
        ClickBox(prefs.CBKeepQuality);
        prefs.PageControl1->setCurrentWidget(prefs.TMainControls);
        ClickBox(prefs.CBLimitToGlass);
        prefs.CBForceToGrey->setChecked(false);
        prefs.CBOpenFileFolder->setChecked(false);
        prefs.CBSaveFileFolder->setChecked(false);
        QTest::mouseClick(prefs.ColorBorder, Qt::RightButton);  // any button
        QTest::mouseClick(prefs.ColorLimit, Qt::LeftButton);
        prefs.CBHints->setChecked(false);
        prefs.CBRememberThresholdSettings->setChecked(true);
        QTest::mouseClick(prefs.BitBtn1, Qt::LeftButton);
    });
    ASSERT_TRUE(ok);
    EXPECT_TRUE(s.UseIniFile);
    EXPECT_EQ(s.OpeningMagnification, 8);
    EXPECT_FALSE(s.ShowPopupHints);
    EXPECT_FALSE(s.AppendEnabled);
    EXPECT_EQ(s.FileNameAppend, " fixed ");
    EXPECT_FALSE(s.RenameOriginal);
    EXPECT_EQ(s.RenameExtension, ".old");
    EXPECT_TRUE(s.MoveOriginal);
    EXPECT_EQ(s.OriginalsFolder, newFolder);
    EXPECT_FALSE(s.NumberDuplicates);
    EXPECT_TRUE(s.KeepOriginalQuality);
    EXPECT_FALSE(s.ForceGrey);
    EXPECT_FALSE(s.RememberOpenFolder);
    EXPECT_FALSE(s.RememberSaveFolder);
    EXPECT_EQ(s.MagnifierBorderColour, 0x0000FFu);
    EXPECT_EQ(s.LimitBorderColour, 0x00FF00u);
    EXPECT_FALSE(s.StartupHints);
    EXPECT_TRUE(s.RememberThresholds);
    EXPECT_FALSE(s.LimitToGlass);
    EXPECT_FALSE(s.AskBeforeDiscard);
    // Not the dialog's: untouched.
    EXPECT_EQ(s.NextHint, before.NextHint);
    EXPECT_EQ(s.ThresholdR, before.ThresholdR);

    EXPECT_EQ(platform.colourRequests, (std::vector<uint32_t>{0xFF0000u, 0xFFFF00u}));
    ASSERT_EQ(platform.folderRequests.size(), 1u);
    EXPECT_EQ(platform.folderRequests[0].first, "Folder to move original files to");
    EXPECT_EQ(platform.folderRequests[0].second, dir.path().string()) << "starts in the existing folder";
    EXPECT_EQ(applied, 1);
    EXPECT_EQ(lastApplied.FileNameAppend, " fixed ");
    EXPECT_EQ(AutoSaveHint(lastApplied), "Auto Save (with appended  fixed )");
    EXPECT_TRUE(autoSaveEnabled) << "moving to an existing folder";
}

TEST_F(PrefsTest, AutoSaveFollowsThePredicateWithNoPhotograph) {
    SettingsModel s;
    ASSERT_TRUE(EditWith(s, [&] {
        prefs.CBAppendChars->setChecked(false);
        prefs.CBRenameExtension->setChecked(false);
        prefs.CBOriginalsFolder->setChecked(true);  // with no folder chosen
        prefs.BitBtn1->click();
    }));
    EXPECT_EQ(applied, 1);
    EXPECT_FALSE(autoSaveEnabled);
    EXPECT_TRUE(s.MoveOriginal) << "not checked against the disk on OK";

    ASSERT_TRUE(EditWith(s, [&] {
        prefs.CBRenameExtension->setChecked(true);
        prefs.BitBtn1->click();
    }));
    EXPECT_EQ(applied, 2);
    EXPECT_TRUE(autoSaveEnabled);
}

TEST_F(PrefsTest, CancelChangesNothing) {
    SettingsModel s;
    s.UseIniFile = true;
    const SettingsModel before = s;
    platform.colourAnswers = {0x123456u};
    platform.folderAnswers = {dir.path().string()};
    bool ok = EditWith(s, [&] {
        prefs.CBIni->setChecked(false);
        prefs.EOpeningMagnification->setText("9");
        prefs.EFileNameAppend->setText("changed");
        prefs.ColorBorderMouseDown();
        prefs.BSelDirClick();
        prefs.CBForceToGrey->setChecked(false);
        QTest::mouseClick(prefs.BitBtn2, Qt::LeftButton);
    });
    EXPECT_FALSE(ok);
    EXPECT_EQ(applied, 0);
    EXPECT_TRUE(s.UseIniFile);
    EXPECT_EQ(s.OpeningMagnification, before.OpeningMagnification);
    EXPECT_EQ(s.FileNameAppend, before.FileNameAppend);
    EXPECT_EQ(s.MagnifierBorderColour, before.MagnifierBorderColour);
    EXPECT_EQ(s.OriginalsFolder, before.OriginalsFolder);
    EXPECT_TRUE(s.ForceGrey);

    // Refilled from the settings at the next showing.
    EditWith(s, [&] {
        EXPECT_EQ(prefs.EFileNameAppend->text(), " - nre");
        EXPECT_EQ(prefs.ColorBorder->Colour(), 0xFF0000u);
        EXPECT_EQ(prefs.CDBorder.Color, 0xFF0000u);
        EXPECT_TRUE(prefs.EOriginalsFolder->text().isEmpty());
        prefs.reject();
    });
}

TEST_F(PrefsTest, AnInvalidIntegerStopsAfterUseIniFile) {
    for (const char* typed : {"abc", "", "5x", "1.5"}) {
        SCOPED_TRACE(typed);
        SettingsModel s;
        RecordingPlatform local;
        TFPrefs dialog(local, iniPath);
        int appliedHere = 0;
        QTimer::singleShot(0, &dialog, [&] {
            dialog.CBIni->setChecked(true);
            dialog.EOpeningMagnification->setText(typed);
            dialog.CBShowHints->setChecked(false);
            dialog.CBAppendChars->setChecked(false);
            dialog.CBRememberThresholdSettings->setChecked(true);
            dialog.BitBtn1->click();
        });
        EXPECT_FALSE(dialog.Edit(s, [&](const SettingsModel&) { ++appliedHere; }));
        EXPECT_FALSE(dialog.isVisible());
        ASSERT_EQ(local.messages.size(), 1u);
        EXPECT_EQ(local.messages[0].type, MsgType::Error);
        EXPECT_EQ(local.messages[0].text, std::string("'") + typed + "' is not a valid integer value");
        EXPECT_TRUE(s.UseIniFile) << "taken before the magnification";
        EXPECT_TRUE(s.ShowPopupHints);
        EXPECT_TRUE(s.AppendEnabled);
        EXPECT_FALSE(s.RememberThresholds);
        EXPECT_EQ(s.OpeningMagnification, 5);
        EXPECT_EQ(appliedHere, 0);
    }
}

TEST_F(PrefsTest, TypedMagnificationIsHeldInRange) {
    for (auto [typed, value] : {std::pair{"500", 100}, {"0", 2}, {" 7 ", 7}, {"0x10", 16}}) {
        SCOPED_TRACE(typed);
        SettingsModel s;
        ASSERT_TRUE(EditWith(s, [&] {
            prefs.EOpeningMagnification->setText(typed);
            prefs.BitBtn1->click();
        }));
        EXPECT_EQ(s.OpeningMagnification, value);
    }
}

TEST_F(PrefsTest, RemoveIniFileThenOkWritesNothing) {
    std::ofstream(iniPath) << "[General]\nIni File=1\n";
    SettingsModel s;
    s.UseIniFile = true;
    ASSERT_TRUE(EditWith(s, [&] {
        prefs.PageControl1->setCurrentWidget(prefs.TGeneral);
        EXPECT_TRUE(prefs.RemoveIniFileLabel->isVisible());
        QTest::mouseClick(prefs.RemoveIniFileLabel, Qt::LeftButton);
        EXPECT_FALSE(fs::exists(iniPath)) << "deleted at once";
        EXPECT_FALSE(prefs.CBIni->isChecked());
        EXPECT_FALSE(prefs.RemoveIniFileLabel->isVisible());
        prefs.BitBtn1->click();
    }));
    EXPECT_FALSE(s.UseIniFile);
    SaveSettings(s, iniPath, true);
    EXPECT_FALSE(fs::exists(iniPath));
}

TEST_F(PrefsTest, RemoveIniFileThenCancelWritesItAgain) {
    std::ofstream(iniPath) << "[General]\nIni File=1\n";
    SettingsModel s;
    s.UseIniFile = true;
    EXPECT_FALSE(EditWith(s, [&] {
        prefs.RemoveIniFileLabelClick();
        EXPECT_FALSE(fs::exists(iniPath));
        prefs.BitBtn2->click();
    }));
    EXPECT_TRUE(s.UseIniFile);
    SaveSettings(s, iniPath, true);
    EXPECT_TRUE(IniFile(iniPath).ReadBool("General", "Ini File", false));
}

TEST_F(PrefsTest, TheLinkShowsOnlyWhileTheFileIsInUse) {
    SettingsModel s;
    EditWith(s, [&] {
        prefs.PageControl1->setCurrentWidget(prefs.TGeneral);
        EXPECT_FALSE(prefs.RemoveIniFileLabel->isVisible());
        prefs.CBIni->setChecked(true);  // ticking does not show it
        EXPECT_FALSE(prefs.RemoveIniFileLabel->isVisible());
        prefs.reject();
    });
    // Unticking without removing: off for this run only.
    std::ofstream(iniPath) << "[General]\nIni File=1\n";
    s.UseIniFile = true;
    ASSERT_TRUE(EditWith(s, [&] {
        prefs.CBIni->setChecked(false);
        prefs.BitBtn1->click();
    }));
    EXPECT_FALSE(s.UseIniFile);
    SaveSettings(s, iniPath, true);
    ScriptedPlatform p;
    SettingsModel next;
    LoadSettings(next, iniPath, p);
    EXPECT_TRUE(next.UseIniFile);
}

TEST_F(PrefsTest, CancelledDialogsChangeNothing) {
    SettingsModel s;
    s.OriginalsFolder = "/was/here";
    EditWith(s, [&] {
        prefs.ColorBorderMouseDown();  // cancelled: the queue is empty
        prefs.ColorLimitMouseDown();
        prefs.BSelDirClick();
        EXPECT_EQ(prefs.ColorBorder->Colour(), 0xFF0000u);
        EXPECT_EQ(prefs.ColorLimit->Colour(), 0xFFFF00u);
        EXPECT_EQ(prefs.EOriginalsFolder->text(), "/was/here");
        prefs.reject();
    });
    ASSERT_EQ(platform.folderRequests.size(), 1u);
    EXPECT_EQ(platform.folderRequests[0].second, "") << "a missing folder is not a starting folder";
}

TEST_F(PrefsTest, ReopensOnThePageLastShown) {
    SettingsModel s;
    EditWith(s, [&] {
        EXPECT_EQ(prefs.PageControl1->currentWidget(), prefs.TMainControls);
        prefs.PageControl1->setCurrentWidget(prefs.TFiles);
        prefs.reject();
    });
    EditWith(s, [&] {
        EXPECT_EQ(prefs.PageControl1->currentWidget(), prefs.TFiles);
        prefs.BitBtn1->click();
    });
}

TEST_F(PrefsTest, OwnPopupHintsFollowShowHints) {
    SettingsModel s;
    s.ShowPopupHints = false;
    EditWith(s, [&] {
        EXPECT_FALSE(prefs.PopupHintsShown());
        prefs.CBShowHints->setChecked(true);
        EXPECT_FALSE(prefs.PopupHintsShown()) << "only CBHints re-reads the box";
        prefs.PageControl1->setCurrentWidget(prefs.TGeneral);
        ClickBox(prefs.CBHints);
        EXPECT_TRUE(prefs.PopupHintsShown());
        prefs.reject();
    });
}

}  // namespace
}  // namespace scarlex
