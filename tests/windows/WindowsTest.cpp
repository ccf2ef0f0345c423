// The startup hints, About and image tags windows on the offscreen platform.

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <set>

#include "settings/QtTestApp.h"
#include "settings/Settings.h"
#include "support/TestSupport.h"
#include "windows/About.h"
#include "windows/Hints.h"
#include "windows/Tags.h"

namespace scarlex {
namespace {

std::string Shown(const TFHints& hints) { return hints.Memo1->toPlainText().toStdString(); }

TEST(Hints, TheTextsInOrder) {
    SettingsModel s;
    TFHints hints(s);
    EXPECT_EQ(hints.windowTitle(), "Startup Hints");
    ASSERT_EQ(hints.LBHints->count(), TFHints::kHintCount);
    EXPECT_TRUE(hints.LBHints->isHidden());
    EXPECT_EQ(hints.LBHints->item(0)->text(), "Right click on image to enable magnifier");
    EXPECT_EQ(hints.LBHints->item(5)->text(),
              "Resize magnifier by scrolling the mouse wheel or Page Up / Page Down buttons ");
    EXPECT_EQ(hints.LBHints->item(11)->text(),
              "Shift click forces everything within the limit circle to grey. If there is no limit circle active, the "
              "magnifier window is used as the limit");
    EXPECT_TRUE(hints.Memo1->isReadOnly());
    EXPECT_EQ(hints.Memo1->font().pointSize(), 12);
    EXPECT_EQ(hints.BClose->text(), "Close");
    EXPECT_EQ(hints.BNext->text(), "Next");
    EXPECT_EQ(hints.CBHints->text(), "Don't show startup hints");
    EXPECT_FALSE(hints.CBHints->isChecked());
}

TEST(Hints, FirstShowingThenNext) {
    SettingsModel s;
    TFHints hints(s);
    hints.show();
    EXPECT_EQ(Shown(hints), "Right click on image to enable magnifier");
    EXPECT_EQ(s.NextHint, 1);
    QTest::mouseClick(hints.BNext, Qt::LeftButton);
    EXPECT_EQ(Shown(hints), "Left click to remove red");
    EXPECT_EQ(s.NextHint, 2);
    QTest::mouseClick(hints.BClose, Qt::LeftButton);
    EXPECT_FALSE(hints.isVisible());
    // The next showing (the next run) goes on from there.
    hints.show();
    EXPECT_EQ(Shown(hints), "Undo any unwanted or unexpected changes (or [Ctrl] + Z)");
}

TEST(Hints, ACountOfNextsReturnsToTheFirstHintShown) {
    for (int start : {0, 5, 11}) {
        SCOPED_TRACE(start);
        SettingsModel s;
        s.NextHint = start;
        TFHints hints(s);
        hints.show();
        const std::string first = Shown(hints);
        EXPECT_EQ(first, hints.LBHints->item(start)->text().toStdString());
        std::set<std::string> seen{first};
        for (int i = 1; i < TFHints::kHintCount; ++i) {
            hints.BNext->click();
            seen.insert(Shown(hints));
        }
        EXPECT_EQ(seen.size(), static_cast<std::size_t>(TFHints::kHintCount)) << "every hint once";
        hints.BNext->click();
        EXPECT_EQ(Shown(hints), first);
        EXPECT_EQ(s.NextHint, (start + 1) % TFHints::kHintCount);
    }
}

TEST(Hints, AStoredHintOutsideTheListStartsAgainAtZero) {
    for (int stored : {TFHints::kHintCount, 57, -1, -2147483647 - 1}) {
        SCOPED_TRACE(stored);
        SettingsModel s;
        s.NextHint = stored;
        TFHints hints(s);
        hints.show();
        EXPECT_EQ(Shown(hints), "Right click on image to enable magnifier");
        EXPECT_EQ(s.NextHint, 1);
        hints.BNext->click();
        EXPECT_EQ(Shown(hints), "Left click to remove red");
    }
}

TEST(Hints, DontShowTurnsTheSettingsFileOn) {
    test::TempDir dir;
    std::string path = dir / "scarlex.INI";
    SettingsModel s;
    ASSERT_FALSE(s.UseIniFile);
    TFHints hints(s);
    hints.show();
    QTest::mouseClick(hints.CBHints, Qt::LeftButton, {}, QPoint(6, hints.CBHints->height() / 2));
    EXPECT_TRUE(hints.CBHints->isChecked());
    EXPECT_FALSE(s.StartupHints);
    EXPECT_TRUE(s.UseIniFile);
    hints.BClose->click();

    // Written at exit although CBIni was never ticked; no hints next time.
    SaveSettings(s, path, true);
    SettingsModel next;
    ReadSettings(next, IniFile(path));
    EXPECT_FALSE(next.StartupHints);
    EXPECT_TRUE(next.UseIniFile);
    EXPECT_EQ(next.NextHint, 1);

    // Unticking again wants the hints back, still with the file on.
    hints.CBHints->click();
    EXPECT_TRUE(s.StartupHints);
    EXPECT_TRUE(s.UseIniFile);
}

TEST(Hints, ShownModallyItWaitsForClose) {
    SettingsModel s;
    TFHints hints(s);
    QTimer::singleShot(0, &hints, [&] {
        EXPECT_TRUE(hints.isModal() || hints.isVisible());
        hints.BNext->click();
        hints.BClose->click();
    });
    hints.exec();
    EXPECT_EQ(s.NextHint, 2);
}

TEST(About, CaptionSizeAndCredits) {
    TFAbout about;
    EXPECT_EQ(about.windowTitle(), "About...");
    EXPECT_EQ(about.size(), QSize(267, 307));
    EXPECT_EQ(about.ProductName->text(), "Scarlex");
    EXPECT_EQ(TFAbout::ProgramVersion(), QString::fromLatin1(SCARLEX_TEST_PROJECT_VERSION));
    EXPECT_TRUE(about.Version->text().contains(TFAbout::ProgramVersion()));
    QString credits = about.REAbout->toPlainText();
    for (const char* name : {"Qt", "libjpeg-turbo", "Independent JPEG Group", "Exiv2", "General Public License"})
        EXPECT_TRUE(credits.contains(QString::fromLatin1(name))) << name;
    EXPECT_FALSE(credits.contains(QStringLiteral("http"))) << "no invented addresses";
    EXPECT_TRUE(about.REAbout->isReadOnly());
}

TEST(About, ClosesItselfAndTheTimerKeepsRunning) {
    TFAbout about;
    EXPECT_EQ(about.Timer1->interval(), 60000);
    EXPECT_FALSE(about.Timer1->isActive()) << "started by the first showing";
    about.Timer1->setInterval(30);  // a minute is too long to wait
    about.show();
    EXPECT_TRUE(about.Timer1->isActive());
    QTRY_VERIFY_WITH_TIMEOUT(!about.isVisible(), 5000);
    EXPECT_TRUE(about.Timer1->isActive()) << "never stopped";
    // Firing at a closed box does nothing.
    QTest::qWait(100);
    EXPECT_FALSE(about.isVisible());
}

TEST(About, OkClosesAndALaterShowingKeepsTheRunningTimer) {
    TFAbout about;
    about.show();
    about.OKButton->click();
    EXPECT_FALSE(about.isVisible());
    ASSERT_TRUE(about.Timer1->isActive());
    QTest::qWait(50);
    const int left = about.Timer1->remainingTime();
    about.show();  // not restarted: may close sooner than a minute
    EXPECT_LE(about.Timer1->remainingTime(), left);
    about.Timer1Timer();
    EXPECT_FALSE(about.isVisible());
}

TEST(About, ModalShowingEndsWithTheTimer) {
    TFAbout about;
    about.Timer1->setInterval(20);
    EXPECT_EQ(about.exec(), QDialog::Rejected);
}

TEST(Tags, ListingAndAvailability) {
    TFTags tags;
    QAction showImageTags1(QStringLiteral("Show Image Tags"));
    showImageTags1.setEnabled(false);
    QObject::connect(&tags, &TFTags::availabilityChanged, &showImageTags1, &QAction::setEnabled);
    EXPECT_EQ(tags.windowTitle(), "Image Tags");
    EXPECT_TRUE(tags.MTags->isReadOnly());
    EXPECT_EQ(tags.MTags->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(tags.BOK->text(), "OK");

    tags.Fill("Exif.Image.Make  Canon\nExif.Image.Model  EOS\n", true);
    EXPECT_TRUE(showImageTags1.isEnabled());
    EXPECT_TRUE(tags.HasExif());
    EXPECT_EQ(tags.MTags->toPlainText(), "Exif.Image.Make  Canon\nExif.Image.Model  EOS\n");

    // A photograph without EXIF: the command goes off and the old tags go.
    tags.Fill("", false);
    EXPECT_FALSE(showImageTags1.isEnabled());
    EXPECT_FALSE(tags.HasExif());
    EXPECT_TRUE(tags.MTags->toPlainText().isEmpty());

    QTimer::singleShot(0, &tags, [&] { tags.BOK->click(); });
    EXPECT_EQ(tags.exec(), QDialog::Accepted);
}

}  // namespace
}  // namespace scarlex
