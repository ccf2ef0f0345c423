// The whole job by hand on the real window and its real subsystems: open,
// aim with the magnifier, click, abort, undo, save, close, and the
// preferences and tags windows; every input a real mouse or key event.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QFontMetrics>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "AppTestSupport.h"
#include "app/MainWidgets.h"
#include "app/Unit1.h"
#include "codec/JpegCodec.h"
#include "common/Orientation.h"
#include "metadata/ImageInfo.h"
#include "metadata/ImgData.h"
#include "editing/EditScript.h"
#include "platform/ScriptedPlatform.h"
#include "settings/Prefs.h"
#include "support/Coefficients.h"
#include "support/FaceScene.h"
#include "support/TestSupport.h"
#include "windows/Hints.h"
#include "windows/Tags.h"

// Font caches the desktop libraries keep for the life of the process.
extern "C" __attribute__((used)) const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\nleak:libdbus\n";
}

struct MainFormProbe {
    static int UndoRows(const TMainForm& f) { return f.UndoRowCount(); }
    static bool Saved(const TMainForm& f) { return f.Saved; }
    static bool Removing(const TMainForm& f) { return f.Removing; }
    static scarlex::SettingsModel& Settings(TMainForm& f) { return f.Settings; }
    static const scarlex::DBUndoTable& Undo(const TMainForm& f) { return f.DBUndoTable; }
};

// The caption without the unsaved-changes placeholder.
std::string Caption(const QWidget& w) { return w.windowTitle().remove(QStringLiteral("[*]")).toStdString(); }

namespace {

using namespace scarlex;
using scarlex::test::TempDir;

constexpr int kW = 320, kH = 240;
// Two pupils: a small one and a large one the walk needs many pumps for.
constexpr int kPupilX = 80, kPupilY = 90, kPupilR = 9;
constexpr int kBigX = 210, kBigY = 130, kBigR = 70;

Bitmap FacePhoto() {
    Bitmap b(kW, kH);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            uint8_t* p = b.Pixel(x, y);
            // Skin: red over green 1.3, never taken for a pupil.
            p[2] = static_cast<uint8_t>(190 + (x + y) % 7);
            p[1] = 146;
            p[0] = 120;
            auto inside = [&](int cx, int cy, int r) { return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r; };
            if (inside(kPupilX, kPupilY, kPupilR) || inside(kBigX, kBigY, kBigR)) {
                p[2] = 200;
                p[1] = 40;
                p[0] = 45;
            }
        }
    return b;
}

bool RedDominant(const Bitmap& b, int x, int y) {
    const uint8_t* p = b.Pixel(x, y);
    return p[2] > 1.5 * p[1] && p[2] > 1.5 * p[0];
}

class WorkflowTest : public testing::Test {
protected:
    void SetUp() override {
        test::TestApplication().SetErrorPlatform(&platform);
        // This test's own settings file, with the startup hints off so that
        // no modal window waits for a click.
        ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
        std::ofstream(SettingsFilePath()) << "[General]\nStartup Hints=0\n";
        photo = dir / "face.jpg";
        test::TestJpegOptions options;
        options.quality = 95;
        test::WriteTestJpeg(photo, FacePhoto(), options);
        Sampling sampling;
        ASSERT_TRUE(DecodeJpegToBitmap(photo, loaded, sampling));
    }
    void TearDown() override { test::TestApplication().SetErrorPlatform(nullptr); }

    // `name` shown, `waiting` queued behind it.
    std::unique_ptr<TMainForm> Open(const std::string& name, const std::vector<std::string>& waiting = {}) {
        std::vector<std::string> args{name};
        args.insert(args.end(), waiting.begin(), waiting.end());
        auto form = std::make_unique<TMainForm>(platform, args);
        form->show();
        form->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(form.get()));
        EXPECT_EQ(form->CurrentPath(), name);
        // Qt drops a move to where the pointer already is, and the last
        // test may have left it over a pupil.
        MoveTo(*form, QPoint(1, 1));
        return form;
    }

    // The view position that shows bitmap pixel (x, y).
    static QPoint ViewPoint(const TMainForm& f, int x, int y) {
        const ViewState& v = f.ImageOnForm->State();
        const float scale = v.ViewScale;
        // The middle of the pixel's square once it spans several view pixels.
        const int in = scale < 1 ? static_cast<int>(0.5f / scale) : 1;
        return {static_cast<int>(x / scale) - v.ScrollX + in, static_cast<int>(y / scale) - v.ScrollY + in};
    }
    // The pointer reaches `at`: the platform's screen position moves with it.
    void MoveTo(TMainForm& f, QPoint at) {
        platform.SetCursorPos(at.x() + 400, at.y() + 300);
        QTest::mouseMove(f.ImageOnForm, at);
    }
    // The readout at the crosshair, as a key that aims does it.
    void ShowPixelInfoAt(TMainForm& f) {
        const ViewState& v = f.ImageOnForm->State();
        f.ImageOnForm->ShowPixelInfo(v.ViewX + v.CrossX, v.ViewY + v.CrossY);
    }
    // Pointer to the pupil, right click for the magnifier.
    void AimAt(TMainForm& f, int x, int y) {
        const QPoint at = ViewPoint(f, x, y);
        MoveTo(f, at);
        QTest::mouseClick(f.ImageOnForm, Qt::RightButton, {}, at);
        ASSERT_TRUE(f.ImageOnForm->State().MagnifierOn);
    }
    // Left press, a small move, release: the removal at the crosshair.
    void ClickAtCrosshair(TMainForm& f) {
        const QPoint at = ViewPoint(f, f.ImageOnForm->State().CentreX, f.ImageOnForm->State().CentreY);
        QTest::mousePress(f.ImageOnForm, Qt::LeftButton, {}, at);
        MoveTo(f, at + QPoint(2, 2));
        QTest::mouseRelease(f.ImageOnForm, Qt::LeftButton, {}, at + QPoint(2, 2));
    }

    ScriptedPlatform platform;
    TempDir dir;
    TempDir config;
    std::string photo;
    Bitmap loaded;
};

TEST_F(WorkflowTest, RightClickShowsTheMagnifierAndAgainHidesIt) {
    auto form = Open(photo);
    AimAt(*form, kPupilX, kPupilY);
    const ViewState& view = form->ImageOnForm->State();
    EXPECT_NEAR(view.CentreX, kPupilX, 2);
    EXPECT_NEAR(view.CentreY, kPupilY, 2);
    EXPECT_FALSE(form->ImageOnForm->Renderer().Composed().Empty());
    EXPECT_EQ(platform.CurrentCursorShape(), CursorShape::Hidden);
    QTest::mouseClick(form->ImageOnForm, Qt::RightButton, {}, ViewPoint(*form, kPupilX, kPupilY));
    EXPECT_FALSE(view.MagnifierOn);
    EXPECT_EQ(platform.CurrentCursorShape(), CursorShape::Default);
}

TEST_F(WorkflowTest, AClickRemovesTheRedAtTheCrosshairAndCtrlZTakesItBack) {
    auto form = Open(photo);
    AimAt(*form, kPupilX, kPupilY);
    ClickAtCrosshair(*form);
    EXPECT_EQ(MainFormProbe::UndoRows(*form), 1);
    EXPECT_FALSE(MainFormProbe::Removing(*form));
    EXPECT_TRUE(form->Undo1->isEnabled());
    EXPECT_TRUE(form->TBUndo->isEnabled());
    const Bitmap& work = form->Photograph();
    for (int dy = -kPupilR + 3; dy <= kPupilR - 3; dy += 3) {
        SCOPED_TRACE(dy);
        EXPECT_FALSE(RedDominant(work, kPupilX, kPupilY + dy));
    }
    // The other pupil is not touched, nor the skin.
    EXPECT_TRUE(RedDominant(work, kBigX, kBigY));
    EXPECT_EQ(std::memcmp(work.Pixel(5, 5), loaded.Pixel(5, 5), 3), 0);
    // The hourglass showed during the walk and is gone.
    EXPECT_NE(std::find(platform.cursorHistory.begin(), platform.cursorHistory.end(), CursorShape::Hourglass),
              platform.cursorHistory.end());
    EXPECT_NE(platform.CurrentCursorShape(), CursorShape::Hourglass);
    // The crosshair is back at the centre.
    EXPECT_EQ(form->ImageOnForm->State().CrossX, 0);

    QTest::keyClick(form.get(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(MainFormProbe::UndoRows(*form), 0);
    EXPECT_EQ(test::FirstPixelDifference(work, loaded), "");
    EXPECT_FALSE(form->Undo1->isEnabled());
    EXPECT_FALSE(form->TBUndo->isEnabled());
}

TEST_F(WorkflowTest, TwoEditsUndoneFromTheToolBarRestoreThePhotograph) {
    auto form = Open(photo);
    AimAt(*form, kPupilX, kPupilY);
    ClickAtCrosshair(*form);
    QTest::mouseClick(form->ImageOnForm, Qt::RightButton, {}, ViewPoint(*form, kPupilX, kPupilY));
    AimAt(*form, kBigX, kBigY);
    ClickAtCrosshair(*form);
    ASSERT_EQ(MainFormProbe::UndoRows(*form), 2);
    EXPECT_FALSE(RedDominant(form->Photograph(), kBigX, kBigY));
    form->TBUndo->click();
    EXPECT_TRUE(RedDominant(form->Photograph(), kBigX, kBigY));
    EXPECT_FALSE(RedDominant(form->Photograph(), kPupilX, kPupilY));
    form->TBUndo->click();
    EXPECT_EQ(test::FirstPixelDifference(form->Photograph(), loaded), "");
}

enum class AbortBy { Escape, RightRelease, LeftRelease };

class AbortTest : public WorkflowTest, public testing::WithParamInterface<AbortBy> {};

TEST_P(AbortTest, AnAbortDuringALongWalkRestoresEveryPixelAndRecordsNothing) {
    auto form = Open(photo);
    MainFormProbe::Settings(*form).LimitToGlass = false;  // the whole large pupil: a long walk
    AimAt(*form, kBigX, kBigY);
    const QPoint at = ViewPoint(*form, kBigX, kBigY);
    int pumps = 0;
    bool undoTried = false;
    platform.onProcessMessages = [&] {
        if (++pumps != 3) return;
        switch (GetParam()) {
            case AbortBy::Escape: QTest::keyClick(form.get(), Qt::Key_Escape); break;
            case AbortBy::RightRelease: QTest::mouseClick(form->ImageOnForm, Qt::RightButton, {}, at); break;
            case AbortBy::LeftRelease: QTest::mouseClick(form->ImageOnForm, Qt::LeftButton, {}, at); break;
        }
        // A command that changes the photograph waits for the walk.
        form->Undo1->setEnabled(true);
        form->Undo1->trigger();
        undoTried = true;
    };
    ClickAtCrosshair(*form);
    platform.onProcessMessages = nullptr;
    ASSERT_GE(pumps, 3) << "the walk was too short to abort";
    EXPECT_TRUE(undoTried);
    EXPECT_EQ(test::FirstPixelDifference(form->Photograph(), loaded), "");
    EXPECT_EQ(MainFormProbe::UndoRows(*form), 0);
    EXPECT_FALSE(MainFormProbe::Removing(*form));
    EXPECT_TRUE(form->ImageOnForm->State().MagnifierOn);  // a right release does not toggle it
    EXPECT_NE(platform.CurrentCursorShape(), CursorShape::Hourglass);
    EXPECT_EQ(form->Report().toStdString(), "Removal stopped: the photograph is as it was");
    // The next click works as usual.
    form->Undo1->setEnabled(false);
    ClickAtCrosshair(*form);
    EXPECT_EQ(MainFormProbe::UndoRows(*form), 1);
    EXPECT_FALSE(RedDominant(form->Photograph(), kBigX, kBigY));
}

INSTANTIATE_TEST_SUITE_P(Inputs, AbortTest,
                         testing::Values(AbortBy::Escape, AbortBy::RightRelease, AbortBy::LeftRelease));

TEST_F(WorkflowTest, ABadThresholdSaysSoAndTouchesNothing) {
    auto form = Open(photo);
    form->EThresholdRG->setText("1.6x");
    AimAt(*form, kPupilX, kPupilY);
    ClickAtCrosshair(*form);
    ASSERT_FALSE(platform.messages.empty());
    EXPECT_EQ(platform.messages.back().text, "'1.6x' is not a valid floating point value");
    EXPECT_EQ(platform.messages.back().type, MsgType::Error);
    EXPECT_EQ(MainFormProbe::UndoRows(*form), 0);
    EXPECT_FALSE(MainFormProbe::Removing(*form));
    EXPECT_EQ(test::FirstPixelDifference(form->Photograph(), loaded), "");
}

TEST_F(WorkflowTest, AutoSaveWritesTheNamedFileWithOnlyTheEditedBlocksChanged) {
    auto form = Open(photo);
    AimAt(*form, kPupilX, kPupilY);
    ClickAtCrosshair(*form);
    ASSERT_EQ(MainFormProbe::UndoRows(*form), 1);
    QTest::keyClick(form.get(), Qt::Key_S, Qt::ControlModifier | Qt::AltModifier);
    const std::string out = dir / "face - nre.jpg";
    ASSERT_TRUE(std::filesystem::exists(out)) << (platform.messages.empty() ? "" : platform.messages.back().text);
    EXPECT_TRUE(MainFormProbe::Saved(*form));
    EXPECT_EQ(MainFormProbe::UndoRows(*form), 1);  // saving keeps the rows
    const long long size = static_cast<long long>(std::filesystem::file_size(out));
    EXPECT_EQ(form->StatusBar->currentMessage().toStdString(),
              "Saved face - nre.jpg (1 edit, " + QLocale().toString(size / 1000.0, 'f', 0).toStdString() + " kB)");

    Bitmap saved;
    Sampling sampling;
    ASSERT_TRUE(DecodeJpegToBitmap(out, saved, sampling));
    EXPECT_FALSE(RedDominant(saved, kPupilX, kPupilY));
    EXPECT_TRUE(RedDominant(saved, kBigX, kBigY));

    // Outside the edit (grown by two iMCUs of 16 pixels) every block is the
    // original's, coefficient for coefficient.
    const test::CoefficientImage a = test::ReadCoefficients(photo);
    const test::CoefficientImage b = test::ReadCoefficients(out);
    ASSERT_TRUE(a.ok && b.ok) << a.error << b.error;
    ASSERT_EQ(a.components.size(), b.components.size());
    int changedOutside = 0, compared = 0;
    for (std::size_t c = 0; c < a.components.size(); ++c) {
        const auto& ca = a.components[c];
        const auto& cb = b.components[c];
        const int bw = 8 * a.maxH / ca.h, bh = 8 * a.maxV / ca.v;  // pixels per block
        for (int by = 0; by < ca.heightInBlocks; ++by)
            for (int bx = 0; bx < ca.widthInBlocks; ++bx) {
                const int px = bx * bw, py = by * bh;
                if (std::abs(px - kPupilX) < kPupilR + 40 && std::abs(py - kPupilY) < kPupilR + 40) continue;
                ++compared;
                for (int k = 0; k < 64; ++k)
                    if (ca.Dequantised(bx, by, k) != cb.Dequantised(bx, by, k)) {
                        ++changedOutside;
                        break;
                    }
            }
    }
    EXPECT_GT(compared, 100);
    EXPECT_EQ(changedOutside, 0);

    // Closing after the save asks nothing.
    const std::size_t shown = platform.messages.size();
    EXPECT_TRUE(form->close());
    EXPECT_EQ(platform.messages.size(), shown);
}

TEST_F(WorkflowTest, ClosingAfterAnEditAsksAndCancelKeepsTheWindow) {
    auto form = Open(photo);
    AimAt(*form, kPupilX, kPupilY);
    ClickAtCrosshair(*form);
    platform.messageAnswers = {MsgAnswer::Cancel};
    EXPECT_FALSE(form->close());
    ASSERT_FALSE(platform.messages.empty());
    EXPECT_EQ(platform.messages.back().text, kUnsavedPrompt);
    EXPECT_EQ(platform.messages.back().buttons, MsgButtons::YesNoCancel);
    EXPECT_EQ(platform.beeps, 1);
    platform.messageAnswers = {MsgAnswer::No};
    EXPECT_TRUE(form->close());
    EXPECT_FALSE(std::filesystem::exists(dir / "face - nre.jpg"));
}

TEST_F(WorkflowTest, YesAtThePromptSavesThroughTheDialogAndCloses) {
    auto form = Open(photo);
    AimAt(*form, kPupilX, kPupilY);
    ClickAtCrosshair(*form);
    const std::string chosen = dir / "chosen.jpg";
    platform.messageAnswers = {MsgAnswer::Yes};
    platform.saveAnswers = {chosen};
    EXPECT_TRUE(form->close());
    ASSERT_EQ(platform.saveRequests.size(), 1u);
    // Nothing remembered yet: the dialog starts beside the photograph.
    EXPECT_EQ(platform.saveRequests[0].initialFolder, dir.path().string() + "/");
    ASSERT_TRUE(std::filesystem::exists(chosen));
    Bitmap saved;
    Sampling sampling;
    ASSERT_TRUE(DecodeJpegToBitmap(chosen, saved, sampling));
    EXPECT_FALSE(RedDominant(saved, kPupilX, kPupilY));
    EXPECT_TRUE(std::filesystem::exists(photo));  // the original stays
}

TEST_F(WorkflowTest, AutoSaveAndCloseWritesAndClosesWithoutAsking) {
    auto form = Open(photo);
    AimAt(*form, kPupilX, kPupilY);
    ClickAtCrosshair(*form);
    QTest::keyClick(form.get(), Qt::Key_R, Qt::ControlModifier);
    EXPECT_TRUE(std::filesystem::exists(dir / "face - nre.jpg"));
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(platform.messages.empty());
}

TEST_F(WorkflowTest, PrefsOkAppliesTheValuesAndCancelKeepsThem) {
    auto form = Open(photo);
    AimAt(*form, kPupilX, kPupilY);
    // OK with the append option off and a new magnifier colour.
    QTimer::singleShot(0, [&] {
        form->FPrefs->CBAppendChars->setChecked(false);
        form->FPrefs->ColorBorder->SetColour(0x0000FF);
        form->FPrefs->BitBtn1->click();
    });
    QTest::keyClick(form.get(), Qt::Key_P, Qt::ControlModifier);
    EXPECT_FALSE(MainFormProbe::Settings(*form).AppendEnabled);
    EXPECT_FALSE(form->AutoSave1->isEnabled());
    EXPECT_FALSE(form->TBAutoSave->isEnabled());
    EXPECT_EQ(form->ImageOnForm->Renderer().MagnifierBorderColour, 0x0000FFu);
    // Cancel: nothing changes.
    QTimer::singleShot(0, [&] {
        form->FPrefs->CBAppendChars->setChecked(true);
        form->FPrefs->BitBtn2->click();
    });
    form->Prefs1->trigger();
    EXPECT_FALSE(MainFormProbe::Settings(*form).AppendEnabled);
    EXPECT_FALSE(form->AutoSave1->isEnabled());
    // OK with a new append text: the hint follows.
    QTimer::singleShot(0, [&] {
        form->FPrefs->CBAppendChars->setChecked(true);
        form->FPrefs->EFileNameAppend->setText("_fixed");
        form->FPrefs->BitBtn1->click();
    });
    form->Prefs1->trigger();
    EXPECT_TRUE(form->AutoSave1->isEnabled());
    EXPECT_EQ(form->TBAutoSave->toolTip(), "Auto Save (with appended _fixed)");
}

TEST_F(WorkflowTest, TagsFollowTheExifBlockAndShowItsListing) {
    SCARLEX_REQUIRE_TOOL("exiv2");
    const std::string withExif = dir / "tagged.jpg";
    std::filesystem::copy_file(photo, withExif);
    ASSERT_EQ(test::RunShell("exiv2 -M'set Exif.Image.Make TestCamera' " + test::Quote(withExif)), 0);
    auto form = Open(photo);
    EXPECT_FALSE(form->ShowImageTags1->isEnabled());
    EXPECT_FALSE(form->FTags->HasExif());
    platform.openAnswers.push_back(std::vector<std::string>{withExif});
    form->Open1->trigger();
    ASSERT_EQ(form->CurrentPath(), withExif);
    EXPECT_TRUE(form->ShowImageTags1->isEnabled());
    QString listing;
    QTimer::singleShot(0, [&] {
        listing = form->FTags->MTags->toPlainText();
        form->FTags->BOK->click();
    });
    QTest::keyClick(form.get(), Qt::Key_T, Qt::ControlModifier);
    EXPECT_TRUE(listing.contains("TestCamera")) << listing.toStdString();
}

TEST_F(WorkflowTest, TheFirstRunShowsTheStartupHintsAndTheTickIsWrittenAtExit) {
    std::filesystem::remove(SettingsFilePath());
    bool shown = false;
    QTimer::singleShot(0, [&] {
        auto* hints = qobject_cast<TFHints*>(QApplication::activeModalWidget());
        ASSERT_NE(hints, nullptr);
        shown = true;
        hints->CBHints->click();
        hints->BClose->click();
    });
    {
        TMainForm form(platform, {});
        form.show();
        EXPECT_TRUE(shown);
        EXPECT_FALSE(MainFormProbe::Settings(form).StartupHints);
        EXPECT_TRUE(MainFormProbe::Settings(form).UseIniFile);
    }
    std::ifstream written(SettingsFilePath());
    std::string text((std::istreambuf_iterator<char>(written)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("Startup Hints=0"), std::string::npos) << text;
    // The next start shows none (a hints window would wait here forever).
    TMainForm again(platform, {});
    again.show();
    EXPECT_FALSE(MainFormProbe::Settings(again).StartupHints);
}

// --- A click stays inside the glass ------------------------------------------

// Pixels that differ from the photograph as loaded.
std::vector<std::pair<int, int>> ChangedPixels(const Bitmap& now, const Bitmap& loaded) {
    std::vector<std::pair<int, int>> changed;
    for (int y = 0; y < now.Height(); ++y)
        for (int x = 0; x < now.Width(); ++x)
            if (std::memcmp(now.Pixel(x, y), loaded.Pixel(x, y), 3) != 0) changed.emplace_back(x, y);
    return changed;
}

TEST_F(WorkflowTest, AClickInALargeRedAreaStaysInsideTheGlassAndSaysSo) {
    auto form = Open(photo);
    AimAt(*form, kBigX, kBigY);
    ClickRequest click;
    QObject::connect(form->ImageOnForm, &ImageOnForm::clickAt, form.get(), [&](const ClickRequest& r) { click = r; });
    ClickAtCrosshair(*form);
    ASSERT_EQ(MainFormProbe::UndoRows(*form), 1);
    // The glass's radius in bitmap pixels, around the aimed pixel.
    const ViewState& view = form->ImageOnForm->State();
    const double glass = static_cast<double>(view.Radius) * view.ViewScale / view.Magnification;
    ASSERT_LT(2 * glass, kBigR) << "the red area must reach beyond the glass";
    const auto changed = ChangedPixels(form->Photograph(), loaded);
    ASSERT_FALSE(changed.empty());
    for (const auto& [x, y] : changed) {
        const double d = std::hypot(x - click.x, y - click.y);
        ASSERT_LT(d, glass + 1) << "pixel " << x << "," << y << " outside the glass";
    }
    // The red beyond the glass is untouched, and the status bar says where
    // the removal stopped and how to take it back.
    EXPECT_TRUE(RedDominant(form->Photograph(), kBigX + kBigR - 10, kBigY));
    EXPECT_EQ(form->Report().toStdString(), QLocale().toString(static_cast<qlonglong>(changed.size())).toStdString() +
                                                " pixels changed, up to the edge of the glass \u2014 Ctrl+Z takes it back");
    // A pupil that fits inside the glass is simply reported.
    QTest::mouseClick(form->ImageOnForm, Qt::RightButton, {}, ViewPoint(*form, kBigX, kBigY));
    AimAt(*form, kPupilX, kPupilY);
    ClickAtCrosshair(*form);
    EXPECT_EQ(form->Report().toStdString().rfind("Removed the red from ", 0), 0u);
    EXPECT_EQ(form->Report().toStdString().find("edge"), std::string::npos) << form->Report().toStdString();
}

TEST_F(WorkflowTest, WithTheGlassLimitOffAClickWalksAsTheCommandLineDoes) {
    auto form = Open(photo);
    MainFormProbe::Settings(*form).LimitToGlass = false;
    AimAt(*form, kBigX, kBigY);
    ClickRequest click;
    QObject::connect(form->ImageOnForm, &ImageOnForm::clickAt, form.get(), [&](const ClickRequest& r) { click = r; });
    ClickAtCrosshair(*form);
    ASSERT_EQ(MainFormProbe::UndoRows(*form), 1);

    // scarlex-cli edit IN OUT --click X,Y on the same pixels.
    Bitmap cli = loaded;
    DBUndoTable undo;
    EditSession session(cli, undo);
    std::vector<EditStep> steps;
    ASSERT_EQ(ParseEditScript({"--click", std::to_string(click.x) + "," + std::to_string(click.y)}, steps), "");
    ASSERT_EQ(session.ApplyAll(steps), "");
    ASSERT_EQ(undo.Count(), 1u);
    EXPECT_EQ(test::FirstPixelDifference(form->Photograph(), cli), "");
    EXPECT_FALSE(RedDominant(form->Photograph(), kBigX + kBigR - 10, kBigY));  // the whole area
}

TEST_F(WorkflowTest, AClickThatChangesNothingSaysWhyAndRecordsNothing) {
    auto form = Open(photo);
    AimAt(*form, 30, 30);  // skin
    ClickAtCrosshair(*form);
    EXPECT_EQ(MainFormProbe::UndoRows(*form), 0);
    EXPECT_FALSE(form->Undo1->isEnabled());
    EXPECT_FALSE(form->isWindowModified());
    EXPECT_EQ(form->Report(), QString::fromUtf8(kNothingRemoved));
    EXPECT_EQ(form->StatusBar->currentMessage(), form->Report());
    // Read whole even in the narrowest window.
    form->resize(kMinimumWidth, form->height());
    QTest::qWait(20);
    form->StatusBar->ShowFitted(form->Report());
    EXPECT_LE(QFontMetrics(form->StatusBar->font()).horizontalAdvance(form->Report()), form->StatusBar->width());
    EXPECT_EQ(test::FirstPixelDifference(form->Photograph(), loaded), "");
}

// --- Edits survive a save that does not happen ------------------------------

enum class Route { CloseYes, NextYes, AutoSaveAndClose, AutoSaveAndNext };
enum class Failure { Cancelled, Refused, Failed };
struct KeptCase {
    Route route;
    Failure failure;
};

class EditKeeping : public WorkflowTest, public testing::WithParamInterface<KeptCase> {
protected:
    void TearDown() override {
        if (!readOnly.empty()) std::filesystem::permissions(readOnly, std::filesystem::perms::owner_all);
        WorkflowTest::TearDown();
    }
    std::string readOnly;
};

TEST_P(EditKeeping, TheWindowStaysOnThePhotographWithItsEdits) {
    const auto [route, failure] = GetParam();
    const bool automatic = route == Route::AutoSaveAndClose || route == Route::AutoSaveAndNext;
    const std::string second = dir / "second.jpg";
    std::filesystem::copy_file(photo, second);
    auto form = Open(photo, {second});
    SettingsModel& settings = MainFormProbe::Settings(*form);
    AimAt(*form, kPupilX, kPupilY);
    ClickAtCrosshair(*form);
    ASSERT_EQ(MainFormProbe::UndoRows(*form), 1);
    const Bitmap edited = form->Photograph();

    std::string out = automatic ? dir / "face - nre.jpg" : dir / "chosen.jpg";
    if (failure == Failure::Cancelled && automatic) {
        // Auto Save onto the photograph itself asks first; No goes to the
        // save dialog. (Auto Save and Next is offered from the load.)
        settings.AppendEnabled = false;
        out = photo;
        platform.messageAnswers.push_back(MsgAnswer::No);
    } else if (failure == Failure::Refused) {
        // The original's new name is taken and numbering is off.
        settings.RenameOriginal = true;
        settings.NumberDuplicates = false;
        test::WriteFileBytes(dir / "face.OGL", {'x'});
    } else if (failure == Failure::Failed && ::geteuid() != 0) {
        // A folder the program may not write in.
        readOnly = automatic ? dir.path().string() : dir / "locked";
        std::filesystem::create_directories(readOnly);
        if (!automatic) out = readOnly + "/chosen.jpg";
        std::filesystem::permissions(readOnly, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    } else if (failure == Failure::Failed) {
        std::filesystem::create_directory(out);  // root writes anywhere: a folder in the way
    }
    platform.saveAnswers.push_back(failure == Failure::Cancelled ? std::nullopt : std::optional<std::string>(out));
    if (!automatic) platform.messageAnswers.push_front(MsgAnswer::Yes);
    switch (route) {
        case Route::CloseYes: EXPECT_FALSE(form->close()); break;
        case Route::NextYes: QTest::keyClick(form.get(), Qt::Key_N, Qt::ControlModifier); break;
        case Route::AutoSaveAndClose: QTest::keyClick(form.get(), Qt::Key_R, Qt::ControlModifier); break;
        case Route::AutoSaveAndNext:
            QTest::keyClick(form.get(), Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier);
            break;
    }
    ASSERT_FALSE(platform.messages.empty());
    if (failure != Failure::Cancelled) {
        EXPECT_EQ(platform.messages.back().type, failure == Failure::Refused ? MsgType::Warning : MsgType::Error);
    }
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(form->CurrentPath(), photo);
    EXPECT_EQ(test::FirstPixelDifference(form->Photograph(), edited), "");
    EXPECT_EQ(MainFormProbe::UndoRows(*form), 1);
    EXPECT_FALSE(MainFormProbe::Saved(*form));
    EXPECT_TRUE(std::filesystem::is_regular_file(photo));
    if (out != photo) {
        EXPECT_FALSE(std::filesystem::is_regular_file(out)) << out;
    }
    platform.messageAnswers = {MsgAnswer::No};  // closing still asks
    EXPECT_TRUE(form->close());
}

std::string KeptName(const testing::TestParamInfo<KeptCase>& info) {
    const char* const routes[] = {"CloseYes", "NextYes", "AutoSaveAndClose", "AutoSaveAndNext"};
    const char* const failures[] = {"Cancelled", "Refused", "Failed"};
    return std::string(routes[static_cast<int>(info.param.route)]) + failures[static_cast<int>(info.param.failure)];
}

INSTANTIATE_TEST_SUITE_P(
    Saves, EditKeeping,
    testing::Values(KeptCase{Route::CloseYes, Failure::Cancelled}, KeptCase{Route::CloseYes, Failure::Refused},
                    KeptCase{Route::CloseYes, Failure::Failed}, KeptCase{Route::NextYes, Failure::Cancelled},
                    KeptCase{Route::NextYes, Failure::Refused}, KeptCase{Route::NextYes, Failure::Failed},
                    KeptCase{Route::AutoSaveAndClose, Failure::Refused},
                    KeptCase{Route::AutoSaveAndClose, Failure::Failed},
                    KeptCase{Route::AutoSaveAndNext, Failure::Cancelled},
                    KeptCase{Route::AutoSaveAndNext, Failure::Refused},
                    KeptCase{Route::AutoSaveAndNext, Failure::Failed}),
    KeptName);

}  // namespace

// --- Redo and the original -----------------------------------------------------

// The rows of the undo store, rectangles and images, as one comparable text.
std::string RowsText(const DBUndoTable& undo) {
    std::string text;
    for (const UndoRow& row : undo) {
        text += std::to_string(row.left) + "," + std::to_string(row.top) + "," + std::to_string(row.right) + "," +
                std::to_string(row.bottom) + ":";
        for (int y = 0; y < row.Image.Height(); ++y)
            text.append(reinterpret_cast<const char*>(row.Image.Row(y)), static_cast<std::size_t>(row.Image.Width()) * 3);
        text += ";";
    }
    return text;
}

TEST_F(WorkflowTest, RedoPutsBackExactlyWhatUndoTookAndANewEditEndsIt) {
    auto form = Open(photo);
    EXPECT_FALSE(form->Redo1->isEnabled());
    const std::pair<int, int> aims[] = {{kPupilX, kPupilY}, {kBigX, kBigY}, {kBigX - 40, kBigY + 20}};
    for (const auto& [x, y] : aims) {
        AimAt(*form, x, y);
        ClickAtCrosshair(*form);
        QTest::mouseClick(form->ImageOnForm, Qt::RightButton, {}, ViewPoint(*form, x, y));
    }
    ASSERT_EQ(MainFormProbe::UndoRows(*form), 3);
    const Bitmap edited = form->Photograph();
    const std::string rows = RowsText(MainFormProbe::Undo(*form));
    for (int undos = 1; undos <= 3; ++undos) {
        SCOPED_TRACE(undos);
        for (int i = 0; i < undos; ++i) QTest::keyClick(form.get(), Qt::Key_Z, Qt::ControlModifier);
        EXPECT_EQ(MainFormProbe::UndoRows(*form), 3 - undos);
        EXPECT_TRUE(form->Redo1->isEnabled());
        for (int i = 0; i < undos; ++i) {
            // Both keys redo.
            if (i % 2 == 0)
                QTest::keyClick(form.get(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
            else
                QTest::keyClick(form.get(), Qt::Key_Y, Qt::ControlModifier);
            EXPECT_FALSE(MainFormProbe::Saved(*form));
        }
        EXPECT_FALSE(form->Redo1->isEnabled());
        EXPECT_TRUE(form->Undo1->isEnabled());
        EXPECT_EQ(test::FirstPixelDifference(form->Photograph(), edited), "");
        EXPECT_EQ(RowsText(MainFormProbe::Undo(*form)), rows);
    }

    // Saving after a redo saves the redone edit.
    QTest::keyClick(form.get(), Qt::Key_Z, Qt::ControlModifier);
    QTest::keyClick(form.get(), Qt::Key_Y, Qt::ControlModifier);
    QTest::keyClick(form.get(), Qt::Key_S, Qt::ControlModifier | Qt::AltModifier);
    Bitmap saved;
    Sampling sampling;
    ASSERT_TRUE(DecodeJpegToBitmap(dir / "face - nre.jpg", saved, sampling));
    EXPECT_FALSE(RedDominant(saved, kBigX - 40, kBigY + 20));
    EXPECT_TRUE(MainFormProbe::Saved(*form));
    // A redo clears Saved as an undo does.
    QTest::keyClick(form.get(), Qt::Key_Z, Qt::ControlModifier);
    QTest::keyClick(form.get(), Qt::Key_Y, Qt::ControlModifier);
    EXPECT_FALSE(MainFormProbe::Saved(*form));

    // A click that changes nothing keeps what can be redone; a new edit ends it.
    QTest::keyClick(form.get(), Qt::Key_Z, Qt::ControlModifier);
    AimAt(*form, 30, 30);
    ClickAtCrosshair(*form);
    EXPECT_TRUE(form->Redo1->isEnabled());
    QTest::mouseClick(form->ImageOnForm, Qt::RightButton, {}, ViewPoint(*form, 30, 30));
    AimAt(*form, kBigX + 30, kBigY - 30);
    ClickAtCrosshair(*form);
    EXPECT_EQ(MainFormProbe::UndoRows(*form), 3);
    EXPECT_FALSE(form->Redo1->isEnabled());
    QTest::keyClick(form.get(), Qt::Key_Y, Qt::ControlModifier);
    EXPECT_EQ(MainFormProbe::UndoRows(*form), 3);
}

TEST_F(WorkflowTest, TheOriginalShowsWhileBIsHeldOrTheMenuIsTickedAndChangesNothing) {
    auto form = Open(photo);
    AimAt(*form, kPupilX, kPupilY);
    ClickAtCrosshair(*form);
    ASSERT_EQ(MainFormProbe::UndoRows(*form), 1);
    const Bitmap edited = form->Photograph();
    const ViewState& view = form->ImageOnForm->State();
    // The glass is over the pupil: its middle shows what the bitmap holds there.
    const QPoint middle(view.ViewX, view.ViewY);
    auto glassMiddle = [&] {
        const Bitmap& shown = form->ImageOnForm->Renderer().Composed();
        const uint8_t* p = shown.Pixel(middle.x() + 3, middle.y() + 3);
        return std::vector<uint8_t>(p, p + 3);
    };
    const std::vector<uint8_t> fixed = glassMiddle();

    QTest::keyPress(form.get(), Qt::Key_B);
    EXPECT_TRUE(form->OriginalShown());
    EXPECT_EQ(form->StatusBar->PanelText(4), "Original");
    EXPECT_NE(glassMiddle(), fixed);
    EXPECT_TRUE(RedDominant(form->ImageOnForm->Picture(), kPupilX, kPupilY));
    // A click while the original shows edits nothing.
    ClickAtCrosshair(*form);
    EXPECT_EQ(MainFormProbe::UndoRows(*form), 1);
    QTest::keyRelease(form.get(), Qt::Key_B);
    EXPECT_FALSE(form->OriginalShown());
    EXPECT_EQ(glassMiddle(), fixed);
    EXPECT_NE(form->StatusBar->PanelText(4), "Original");

    // The menu item, and an undo and a redo under it: the loaded pixels.
    form->ShowOriginal1->trigger();
    EXPECT_TRUE(form->OriginalShown());
    QTest::keyClick(form.get(), Qt::Key_Z, Qt::ControlModifier);
    QTest::keyClick(form.get(), Qt::Key_Y, Qt::ControlModifier);
    EXPECT_EQ(test::FirstPixelDifference(form->ImageOnForm->Picture(), loaded), "");
    form->ShowOriginal1->trigger();
    EXPECT_FALSE(form->OriginalShown());
    EXPECT_EQ(test::FirstPixelDifference(form->Photograph(), edited), "");
}

// --- Zoom --------------------------------------------------------------------

void ExpectScrollInside(const ViewState& v) {
    EXPECT_GE(v.ScrollX, 0);
    EXPECT_GE(v.ScrollY, 0);
    EXPECT_LE(v.ScrollX, std::max(0, v.ContentWidth() - v.ViewWidth));
    EXPECT_LE(v.ScrollY, std::max(0, v.ContentHeight() - v.ViewHeight));
}

class ZoomTest : public WorkflowTest, public testing::WithParamInterface<int> {};

TEST_P(ZoomTest, AClickThroughTheGlassEditsThePupilUnderTheCrosshair) {
    auto form = Open(photo);
    const int percent = GetParam();
    if (percent > 0) {
        QTest::keyClick(form.get(), Qt::Key_1, Qt::ControlModifier);
        for (int p = 100; p < percent; p *= 2) {
            QTest::keyClick(form.get(), Qt::Key_Plus, Qt::ControlModifier);
            QTest::keyClick(form.get(), Qt::Key_Equal, Qt::ControlModifier);
        }
    }
    QTest::qWait(20);  // the scroll bars come with the zoom and resize the view
    const ViewState& view = form->ImageOnForm->State();
    EXPECT_EQ(view.Zoomed(), percent > 0);
    if (percent > 0) {
        EXPECT_EQ(view.ZoomPercent(), percent);
    }
    EXPECT_EQ(form->StatusBar->PanelText(4).toStdString(), view.ZoomText());
    EXPECT_EQ(form->HorzScrollBar->isVisible(), percent > 0);
    // The large pupil lies beyond the view at 400 %: the scroll bars reach it.
    const int x = kBigX - 20, y = kBigY + 10;
    form->HorzScrollBar->setValue(static_cast<int>(x / view.ViewScale) - view.ViewWidth / 2);
    form->VertScrollBar->setValue(static_cast<int>(y / view.ViewScale) - view.ViewHeight / 2);
    ExpectScrollInside(view);

    AimAt(*form, x, y);
    ClickRequest click;
    QObject::connect(form->ImageOnForm, &ImageOnForm::clickAt, form.get(), [&](const ClickRequest& r) { click = r; });
    ClickAtCrosshair(*form);
    ASSERT_EQ(MainFormProbe::UndoRows(*form), 1);
    EXPECT_NEAR(click.x, x, 1 + view.ViewScale);
    EXPECT_NEAR(click.y, y, 1 + view.ViewScale);
    EXPECT_FALSE(RedDominant(form->Photograph(), click.x, click.y));
    // The removal stays in the glass around the crosshair.
    const double glass = static_cast<double>(view.Radius) * view.ViewScale / view.Magnification;
    for (const auto& [cx, cy] : ChangedPixels(form->Photograph(), loaded))
        ASSERT_LT(std::hypot(cx - click.x, cy - click.y), glass + 1) << cx << "," << cy;
}

INSTANTIATE_TEST_SUITE_P(Fit100And400, ZoomTest, testing::Values(0, 100, 400));

TEST_F(WorkflowTest, ZoomStepsAndScrollingStayOnThePicture) {
    auto form = Open(photo);
    const ViewState& view = form->ImageOnForm->State();
    const int fit = view.ZoomPercent();
    for (int i = 0; i < 12; ++i) QTest::keyClick(form.get(), Qt::Key_Plus, Qt::ControlModifier);
    EXPECT_EQ(view.ZoomPercent(), 800);
    QTest::qWait(20);
    // Arrows scroll with the glass off, as far as the picture goes.
    for (int i = 0; i < 60; ++i) QTest::keyClick(form->ImageOnForm, Qt::Key_Right);
    for (int i = 0; i < 60; ++i) QTest::keyClick(form->ImageOnForm, Qt::Key_Down);
    EXPECT_EQ(view.ScrollX, view.ContentWidth() - view.ViewWidth);
    EXPECT_EQ(view.ScrollY, view.ContentHeight() - view.ViewHeight);
    EXPECT_EQ(form->HorzScrollBar->value(), view.ScrollX);
    // A middle-button drag pulls the picture along.
    const int before = view.ScrollX;
    QTest::mousePress(form->ImageOnForm, Qt::MiddleButton, {}, QPoint(100, 100));
    MoveTo(*form, QPoint(160, 100));
    QTest::mouseRelease(form->ImageOnForm, Qt::MiddleButton, {}, QPoint(160, 100));
    EXPECT_EQ(view.ScrollX, before - 60);
    ExpectScrollInside(view);
    // The displayed pixels are the bitmap's at the scroll position.
    const Bitmap& shown = form->ImageOnForm->Renderer().Display();
    EXPECT_EQ(std::memcmp(shown.Pixel(5, 5), form->Photograph().Pixel(view.SourceColumn(5), view.SourceRow(5)), 3), 0);
    // Out again step by step down to the fit, and no further.
    for (int i = 0; i < 12; ++i) QTest::keyClick(form.get(), Qt::Key_Minus, Qt::ControlModifier);
    QTest::qWait(20);
    EXPECT_FALSE(view.Zoomed());
    EXPECT_EQ(view.ZoomPercent(), fit);
    ExpectScrollInside(view);
    QTest::keyClick(form.get(), Qt::Key_1, Qt::ControlModifier);
    EXPECT_EQ(view.ZoomPercent(), 100);
    QTest::keyClick(form.get(), Qt::Key_0, Qt::ControlModifier);
    EXPECT_FALSE(view.Zoomed());
    EXPECT_EQ(view.ScrollX, 0);
}

// --- Upright by the EXIF orientation -------------------------------------------

// An APP1 Exif segment holding only IFD0's Orientation tag.
std::vector<uint8_t> ExifOrientation(uint16_t tag) {
    std::vector<uint8_t> seg = {0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0, 'M', 'M', 0, 42, 0, 0, 0, 8, 0, 1,
                                0x01, 0x12, 0, 3, 0, 0, 0, 1, static_cast<uint8_t>(tag >> 8), static_cast<uint8_t>(tag),
                                0, 0, 0, 0, 0, 0};
    seg[3] = static_cast<uint8_t>(seg.size() - 2);
    return seg;
}

class OrientationTest : public WorkflowTest, public testing::WithParamInterface<int> {};

TEST_P(OrientationTest, ShownUprightEditedAndSavedInStoredPixels) {
    const int tag = GetParam();
    const Bitmap upright = FacePhoto();
    const bool swaps = tag >= 5;
    Bitmap stored(swaps ? kH : kW, swaps ? kW : kH);
    const Orientation turn(tag, stored.Width(), stored.Height());
    for (int y = 0; y < stored.Height(); ++y)
        for (int x = 0; x < stored.Width(); ++x) {
            double ux = 0, uy = 0;
            turn.ToUpright(x, y, ux, uy);
            std::memcpy(stored.Pixel(x, y), upright.Pixel(static_cast<int>(ux), static_cast<int>(uy)), 3);
        }
    test::TestJpegOptions options;
    options.quality = 95;
    test::WriteTestJpeg(dir / "plain.jpg", stored, options);
    std::vector<uint8_t> bytes = test::ReadFileBytes(dir / "plain.jpg");
    const std::vector<uint8_t> app1 = ExifOrientation(static_cast<uint16_t>(tag));
    bytes.insert(bytes.begin() + 2, app1.begin(), app1.end());
    const std::string tagged = dir / "tagged.jpg";
    test::WriteFileBytes(tagged, bytes);
    Bitmap decoded;
    Sampling sampling;
    ASSERT_TRUE(DecodeJpegToBitmap(tagged, decoded, sampling));

    auto form = Open(tagged);
    const ViewState& view = form->ImageOnForm->State();
    ASSERT_EQ(view.W, kW);
    ASSERT_EQ(view.H, kH);
    // Every displayed pixel is the stored pixel that stands there upright.
    const Bitmap& shown = form->ImageOnForm->Renderer().Display();
    for (int y = 0; y < shown.Height(); y += 7)
        for (int x = 0; x < shown.Width(); x += 7) {
            double sx = 0, sy = 0;
            turn.ToStored(view.SourceColumn(x), view.SourceRow(y), sx, sy);
            ASSERT_EQ(std::memcmp(shown.Pixel(x, y), decoded.Pixel(static_cast<int>(sx), static_cast<int>(sy)), 3), 0)
                << x << "," << y;
        }

    // A click on the pupil as shown edits the stored pupil.
    AimAt(*form, kPupilX, kPupilY);
    ClickRequest click;
    QObject::connect(form->ImageOnForm, &ImageOnForm::clickAt, form.get(), [&](const ClickRequest& r) { click = r; });
    ClickAtCrosshair(*form);
    ASSERT_EQ(MainFormProbe::UndoRows(*form), 1);
    double px = 0, py = 0;
    turn.ToStored(kPupilX, kPupilY, px, py);
    EXPECT_NEAR(click.x, px, 2);
    EXPECT_NEAR(click.y, py, 2);
    EXPECT_FALSE(RedDominant(form->Photograph(), static_cast<int>(px), static_cast<int>(py)));
    // The status bar gives the stored pixel, as the command line takes it.
    ShowPixelInfoAt(*form);
    EXPECT_EQ(form->StatusBar->PanelText(0).toStdString(), PositionText(click.x, click.y));

    // Saved in the stored layout with the tag unchanged.
    QTest::keyClick(form.get(), Qt::Key_S, Qt::ControlModifier | Qt::AltModifier);
    Bitmap saved;
    ASSERT_TRUE(DecodeJpegToBitmap(dir / "tagged - nre.jpg", saved, sampling));
    EXPECT_EQ(saved.Width(), stored.Width());
    EXPECT_EQ(saved.Height(), stored.Height());
    EXPECT_FALSE(RedDominant(saved, static_cast<int>(px), static_cast<int>(py)));
    TimgData meta(255);
    meta.ProcessFile(dir / "tagged - nre.jpg");
    ASSERT_NE(meta.ExifInfo(), nullptr);
    EXPECT_EQ(meta.ExifInfo()->Orientation(), tag);

    // The preference off: the stored layout as it is.
    MainFormProbe::Settings(*form).UseOrientation = false;
    form->PreferencesAccepted();
    EXPECT_EQ(view.W, stored.Width());
}

INSTANTIATE_TEST_SUITE_P(AllEight, OrientationTest, testing::Range(1, 9));

// --- Suggested pupils -------------------------------------------------------------

TEST_F(WorkflowTest, FindRedEyesCirclesThePupilsEnterFixesTheCircledOnesEscDismisses) {
    test::SceneLayout layout;
    layout.width = 640;
    layout.height = 480;
    layout.seed = 3;
    test::DrawnFace face;
    face.x = 320;
    face.y = 200;
    face.pupilRadius = 8;
    layout.faces = {face};
    test::TestJpegOptions options;
    options.quality = 95;
    const std::string faces = dir / "faces.jpg";
    test::WriteTestJpeg(faces, test::DrawScene(layout), options);
    Bitmap before;
    Sampling sampling;
    ASSERT_TRUE(DecodeJpegToBitmap(faces, before, sampling));
    auto form = Open(faces);
    const std::vector<ImageOnForm::Suggestion>& circles = form->ImageOnForm->Suggestions();

    QTest::keyClick(form.get(), Qt::Key_F, Qt::ControlModifier);
    ASSERT_EQ(circles.size(), 2u) << form->Report().toStdString();
    EXPECT_EQ(form->Report().toStdString().rfind("Found 2 red eyes", 0), 0u) << form->Report().toStdString();
    const QPoint first(static_cast<int>(circles[0].x), static_cast<int>(circles[0].y));
    const QPoint second(static_cast<int>(circles[1].x), static_cast<int>(circles[1].y));
    ASSERT_TRUE(RedDominant(form->Photograph(), first.x(), first.y()));
    ASSERT_TRUE(RedDominant(form->Photograph(), second.x(), second.y()));
    // A click on a circle leaves it out; nothing is edited.
    const QPoint at = ViewPoint(*form, first.x(), first.y());
    MoveTo(*form, at);
    QTest::mouseClick(form->ImageOnForm, Qt::LeftButton, {}, at);
    EXPECT_FALSE(circles[0].selected);
    EXPECT_TRUE(circles[1].selected);
    EXPECT_EQ(MainFormProbe::UndoRows(*form), 0);
    // Enter fixes the one still circled, as one undo row.
    QTest::keyClick(form->ImageOnForm, Qt::Key_Return);
    EXPECT_TRUE(circles.empty());
    EXPECT_EQ(MainFormProbe::UndoRows(*form), 1);
    EXPECT_TRUE(RedDominant(form->Photograph(), first.x(), first.y()));
    EXPECT_FALSE(RedDominant(form->Photograph(), second.x(), second.y()));
    EXPECT_EQ(form->Report().toStdString(), "Fixed 1 red eye \u2014 Ctrl+Z takes them back one by one");
    QTest::keyClick(form.get(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(test::FirstPixelDifference(form->Photograph(), before), "");

    // Both, one row each, undone one by one.
    QTest::keyClick(form.get(), Qt::Key_F, Qt::ControlModifier);
    QTest::keyClick(form->ImageOnForm, Qt::Key_Return);
    EXPECT_EQ(MainFormProbe::UndoRows(*form), 2);
    EXPECT_FALSE(RedDominant(form->Photograph(), first.x(), first.y()));
    QTest::keyClick(form.get(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(MainFormProbe::UndoRows(*form), 1);
    QTest::keyClick(form.get(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(test::FirstPixelDifference(form->Photograph(), before), "");

    // Esc dismisses them and edits nothing.
    QTest::keyClick(form.get(), Qt::Key_F, Qt::ControlModifier);
    ASSERT_FALSE(circles.empty());
    QTest::keyClick(form->ImageOnForm, Qt::Key_Escape);
    EXPECT_TRUE(circles.empty());
    QTest::keyClick(form->ImageOnForm, Qt::Key_Return);
    EXPECT_EQ(MainFormProbe::UndoRows(*form), 0);

    // A release with Ctrl fits the pupil under the crosshair and fixes it all.
    AimAt(*form, second.x(), second.y());
    const QPoint centre = ViewPoint(*form, form->ImageOnForm->State().CentreX, form->ImageOnForm->State().CentreY);
    QTest::mousePress(form->ImageOnForm, Qt::LeftButton, Qt::ControlModifier, centre);
    QTest::mouseRelease(form->ImageOnForm, Qt::LeftButton, Qt::ControlModifier, centre);
    EXPECT_EQ(MainFormProbe::UndoRows(*form), 1);
    EXPECT_EQ(form->Report().toStdString(), "Fixed the pupil under the crosshair \u2014 Ctrl+Z takes it back");
    for (int d = -5; d <= 5; d += 5) {
        SCOPED_TRACE(d);
        EXPECT_FALSE(RedDominant(form->Photograph(), second.x() + d, second.y()));
    }
    EXPECT_TRUE(RedDominant(form->Photograph(), first.x(), first.y()));
}
