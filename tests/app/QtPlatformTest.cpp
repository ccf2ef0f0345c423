// The Qt side of the platform layer: real message boxes answered from the
// keyboard, the dialogs' filters, the cursor.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QGuiApplication>
#include <QMessageBox>
#include <QTimer>

#include "AppTestSupport.h"
#include "app/QtPlatform.h"

namespace scarlex {
namespace {

TEST(QtPlatformFilters, EachEntryListsItsPatternsInBothCases) {
    QStringList f = QtNameFilters(
        "All (*.jpg;*.jpeg;)|*.jpg;*.jpeg|JPEG Image File (*.jpg)|*.jpg|JPEG Image File (*.jpeg)|*.jpeg");
    ASSERT_EQ(f.size(), 3);
    EXPECT_EQ(f[0], "All (*.jpg *.jpeg *.JPG *.JPEG)");
    EXPECT_EQ(f[1], "JPEG Image File (*.jpg *.JPG)");
    EXPECT_EQ(f[2], "JPEG Image File (*.jpeg *.JPEG)");
    EXPECT_EQ(QtNameFilters("Any|*"), QStringList{"Any (*)"});
    EXPECT_TRUE(QtNameFilters("").isEmpty());
}

TEST(QtPlatformNames, FileNamesSurviveTheCrossing) {
    test::TestApplication();
    for (std::string name : {"/tmp/plain.jpg", "/tmp/\xc3\xa9t\xc3\xa9.jpg", "/tmp/with space.JPG"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(FromQString(ToQString(name)), name);
    }
}

// Answers the next message box by pressing `key`, or clicking `button`.
void AnswerNextBox(int key, QMessageBox::StandardButton button, QString* seenTitle) {
    QTimer::singleShot(0, [=] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        *seenTitle = box->windowTitle();
        if (button != QMessageBox::NoButton) {
            box->button(button)->click();
        } else {
            QTest::keyClick(box, static_cast<Qt::Key>(key));
        }
    });
}

TEST(QtPlatformBoxes, ButtonsAndEscapeGiveTheRightAnswer) {
    test::TestApplication();
    QtPlatform platform;
    struct Case {
        MsgType type;
        MsgButtons buttons;
        int key;
        QMessageBox::StandardButton click;
        MsgAnswer expected;
        const char* title;
    };
    const Case cases[] = {
        {MsgType::Confirmation, MsgButtons::YesNoCancel, Qt::Key_Escape, QMessageBox::NoButton, MsgAnswer::Cancel, "Confirm"},
        {MsgType::Confirmation, MsgButtons::YesNoCancel, 0, QMessageBox::Yes, MsgAnswer::Yes, "Confirm"},
        {MsgType::Confirmation, MsgButtons::YesNoCancel, 0, QMessageBox::No, MsgAnswer::No, "Confirm"},
        {MsgType::Warning, MsgButtons::YesNo, Qt::Key_Escape, QMessageBox::NoButton, MsgAnswer::No, "Warning"},
        {MsgType::Warning, MsgButtons::OkCancel, Qt::Key_Escape, QMessageBox::NoButton, MsgAnswer::Cancel, "Warning"},
        {MsgType::Error, MsgButtons::Ok, Qt::Key_Escape, QMessageBox::NoButton, MsgAnswer::Ok, "Error"},
        {MsgType::Information, MsgButtons::Ok, 0, QMessageBox::Ok, MsgAnswer::Ok, "Information"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title + std::string(" ") + std::to_string(static_cast<int>(c.buttons)));
        QString title;
        AnswerNextBox(c.key, c.click, &title);
        EXPECT_EQ(platform.MessageBox(c.type, c.buttons, "text"), c.expected);
        EXPECT_EQ(title.toStdString(), c.title);
    }
}

TEST(QtPlatformDialogs, OpenDialogStartsInTheFolderWithTheFiltersAndReturnsTheChoice) {
    test::TestApplication();
    QtPlatform platform;
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    QString photo = folder.filePath(QStringLiteral("IMG_1.JPG"));
    {
        QFile f(photo);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    FileDialogRequest request;
    request.filter = "All (*.jpg;*.jpeg;)|*.jpg;*.jpeg|JPEG Image File (*.jpg)|*.jpg";
    request.initialFolder = FromQString(folder.path()) + "/";
    for (bool accept : {false, true}) {
        SCOPED_TRACE(accept ? "chosen" : "cancelled");
        QStringList filters;
        QString shownFolder;
        QFileDialog::FileMode mode = QFileDialog::AnyFile;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog) return;
            filters = dialog->nameFilters();
            shownFolder = dialog->directory().absolutePath();
            mode = dialog->fileMode();
            if (accept) {
                dialog->selectFile(photo);
                QMetaObject::invokeMethod(dialog, "accept");
            } else {
                dialog->reject();
            }
        });
        std::optional<std::vector<std::string>> chosen = platform.OpenFilesDialog(request);
        EXPECT_EQ(filters, QtNameFilters(request.filter));
        EXPECT_EQ(shownFolder, QDir(folder.path()).absolutePath());
        EXPECT_EQ(mode, QFileDialog::ExistingFiles);
        if (accept) {
            ASSERT_TRUE(chosen.has_value());
            EXPECT_EQ(*chosen, std::vector<std::string>{FromQString(photo)});
        } else {
            EXPECT_FALSE(chosen.has_value());
        }
    }
}

TEST(QtPlatformDialogs, SaveDialogStartsInTheAskedFolderWithTheProposedName) {
    test::TestApplication();
    QtPlatform platform;
    QTemporaryDir remembered, photographs;
    ASSERT_TRUE(remembered.isValid() && photographs.isValid());
    for (bool withFolder : {true, false}) {
        SCOPED_TRACE(withFolder ? "a starting folder" : "none");
        FileDialogRequest request;
        request.filter = "JPEG (*.jpg;*.jpeg)|*.jpg";
        request.fileName = FromQString(photographs.filePath(QStringLiteral("IMG_1 - nre.jpg")));
        if (withFolder) request.initialFolder = FromQString(remembered.path()) + "/";
        QString shownFolder, shownName;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog) return;
            shownFolder = dialog->directory().absolutePath();
            const QStringList selected = dialog->selectedFiles();
            shownName = selected.isEmpty() ? QString() : QFileInfo(selected.front()).fileName();
            dialog->reject();
        });
        EXPECT_FALSE(platform.SaveFileDialog(request).has_value());
        // The proposed name's own folder applies only when none is asked for.
        EXPECT_EQ(shownFolder, QDir(withFolder ? remembered.path() : photographs.path()).absolutePath());
        EXPECT_EQ(shownName, QStringLiteral("IMG_1 - nre.jpg"));
    }
}

TEST(QtPlatformCursor, ShapesReplaceEachOtherAndDefaultRestores) {
    test::TestApplication();
    QtPlatform platform;
    {
        BusyCursor busy(platform);
        ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
        EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
        platform.SetCursorShape(CursorShape::Hidden);
        EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::BlankCursor);
    }
    EXPECT_EQ(platform.CurrentCursorShape(), CursorShape::Default);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

}  // namespace
}  // namespace scarlex

// Font configuration keeps caches for the life of the process; they are not
// ours to free.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig\n"; }
