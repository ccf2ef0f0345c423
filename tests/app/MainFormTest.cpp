// The main window driven through its menus, tool bar, keys and drops, with
// the scripted platform answering every box and dialog.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QSpinBox>
#include <QTextBrowser>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>
#include <QUrl>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <stdexcept>

#include "AppTestSupport.h"
#include "app/HelpWindow.h"
#include "app/MainWidgets.h"
#include "app/Program.h"
#include "app/Unit1.h"
#include "codec/PictureLimits.h"
#include "platform/ScriptedPlatform.h"
#include "support/TestSupport.h"

// Reaches the window's private state, as the other parts of the program do.
struct MainFormProbe {
    static bool Saved(const TMainForm& f) { return f.Saved; }
    static void SetSaved(TMainForm& f, bool v) { f.Saved = v; }
    static bool Closing(const TMainForm& f) { return f.Closing; }
    static bool ImageLoaded(const TMainForm& f) { return f.ImageLoaded; }
    static int UndoRows(const TMainForm& f) { return f.UndoRowCount(); }
    static std::vector<std::string> Pending(const TMainForm& f) {
        return {f.PendingFiles.Names().begin(), f.PendingFiles.Names().end()};
    }
    // What a completed removal does at the window: a row, Saved cleared.
    static void RecordEdit(TMainForm& f) {
        f.DBUndoTable.Append(scarlex::Rect{0, 0, 1, 1}, f.WorkBitmap);
        f.EditRecorded();
    }
    static void SetAutoSavePossible(TMainForm& f, bool possible) {
        f.AppendEnabled = possible;
        f.RenameOriginal = false;
        f.MoveOriginal = false;
    }
    static void SetRemoving(TMainForm& f, bool v) { f.Removing = v; }
    static bool AbortRemoval(const TMainForm& f) { return f.AbortRemoval; }
    static std::string LastOpenFolder(const TMainForm& f) { return f.LastOpenFolder; }
    static void SetRememberOpenFolder(TMainForm& f, bool v) { f.RememberOpenFolder = v; }
    static QSize Display(const TMainForm& f) {
        const scarlex::Bitmap& shown = f.ImageOnForm->Renderer().Display();
        return {shown.Width(), shown.Height()};
    }
    static void SetHelpFile(TMainForm& f, const std::string& path) { f.HelpFile = path; }
    static THelpWindow* Help(const TMainForm& f) { return f.HelpViewer; }
    static void Prefs(TMainForm& f, bool append, bool rename, bool move, const std::string& folder) {
        f.AppendEnabled = append;
        f.RenameOriginal = rename;
        f.MoveOriginal = move;
        f.OriginalsFolder = folder;
    }
    static void SetShowPopupHints(TMainForm& f, bool v) { f.ShowPopupHints = v; }
    static void SetAskBeforeDiscard(TMainForm& f, bool v) { f.AskBeforeDiscard = v; }
    static scarlex::Sampling Sampling(const TMainForm& f) { return f.SourceSampling; }
};

namespace {

using namespace scarlex;
using scarlex::test::TempDir;

// A platform whose message boxes can run something before they answer.
struct HookedPlatform : ScriptedPlatform {
    std::function<void()> beforeAnswer;
    MsgAnswer MessageBox(MsgType type, MsgButtons buttons, const std::string& text,
                         const std::string& caption = std::string()) override {
        if (beforeAnswer) beforeAnswer();
        return ScriptedPlatform::MessageBox(type, buttons, text, caption);
    }
};

// The window with stand-ins for the save commands and the metadata reader.
class TestForm : public TMainForm {
public:
    using TMainForm::TMainForm;
    int dialogSaves = 0;
    int autoSaves = 0;
    bool saveCompletes = true;
    scarlex::SaveReport report;  // what a completed save reports
    std::map<std::string, MetadataSummary> metadata;  // by file name

    void SetMetadata(const std::string& name, bool found, bool exif) { metadata[name] = MetadataSummary{found, exif}; }

protected:
    bool SaveCurrent(SaveMode mode) override {
        (mode == SaveMode::WithDialog ? dialogSaves : autoSaves)++;
        if (saveCompletes) LastSaveReport = report;
        return saveCompletes;
    }
    MetadataSummary ReadMetadata(const std::string& name) override {
        auto it = metadata.find(name);
        return it == metadata.end() ? MetadataSummary{} : it->second;
    }
};

class MainFormTest : public testing::Test {
protected:
    void SetUp() override {
        test::TestApplication().SetErrorPlatform(&platform);
        // This test's own settings file, with the startup hints off so that
        // no modal window waits for a click.
        ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
        std::ofstream(scarlex::SettingsFilePath()) << "[General]\nStartup Hints=0\n";
    }
    void TearDown() override { test::TestApplication().SetErrorPlatform(nullptr); }

    // Shown, so that the first showing has run, as at start-up.
    std::unique_ptr<TestForm> MakeForm(std::vector<std::string> args = {}) {
        auto form = std::make_unique<TestForm>(platform, std::move(args));
        form->show();
        return form;
    }

    std::string Photo(const std::string& name, int w = 96, int h = 64, uint32_t seed = 1) {
        std::string path = dir / name;
        test::TestJpegOptions options;
        test::WriteTestJpeg(path, test::MakePhotoLike(w, h, seed), options);
        return path;
    }

    void OpenThroughDialog(TMainForm& form, std::vector<std::string> names) {
        platform.openAnswers.push_back(std::move(names));
        form.Open1->trigger();
    }

    HookedPlatform platform;
    TempDir dir;
    TempDir config;
};

// The caption without the unsaved-changes placeholder.
std::string Caption(const QWidget& w) { return w.windowTitle().remove(QStringLiteral("[*]")).toStdString(); }
// The caption as the desktop shows it, with the mark when modified.
std::string ShownCaption(const QWidget& w) { return w.windowHandle()->title().toStdString(); }

struct Enabling {
    bool save, autoSave, undo, tags, next, autoSaveNext;
};

void ExpectEnabling(const TMainForm& f, const Enabling& e) {
    // The commands that are always on.
    for (QAction* a : {f.Open1, f.Exit1, f.Prefs1, f.Help2, f.AboutScarlex1}) EXPECT_TRUE(a->isEnabled()) << a->objectName().toStdString();
    EXPECT_TRUE(f.TBOpen->isEnabled());
    EXPECT_EQ(f.Save1->isEnabled(), e.save);
    EXPECT_EQ(f.TBSaveAs->isEnabled(), e.save);
    EXPECT_EQ(f.AutoSave1->isEnabled(), e.autoSave);
    EXPECT_EQ(f.AutoSaveAndClose1->isEnabled(), e.autoSave);
    EXPECT_EQ(f.TBAutoSave->isEnabled(), e.autoSave);
    EXPECT_EQ(f.Undo1->isEnabled(), e.undo);
    EXPECT_EQ(f.TBUndo->isEnabled(), e.undo);
    EXPECT_EQ(f.ShowImageTags1->isEnabled(), e.tags);
    EXPECT_EQ(f.TBNext->isEnabled(), e.next);
    EXPECT_EQ(f.Next1->isEnabled(), e.next);
    EXPECT_EQ(f.TBAutoSaveNext->isEnabled(), e.autoSaveNext);
    EXPECT_EQ(f.AutoSaveAndNext1->isEnabled(), e.autoSaveNext);
}

// --- Start-up and the window's furniture -------------------------------

TEST_F(MainFormTest, StartsEmptyWithTheDesignState) {
    auto form = MakeForm();
    EXPECT_EQ(Caption(*form), "Scarlex");
    EXPECT_GE(form->minimumWidth(), 506);
    EXPECT_FALSE(MainFormProbe::ImageLoaded(*form));
    ExpectEnabling(*form, {false, false, false, false, false, false});
    EXPECT_EQ(form->StatusBar->PanelCount(), 5);
    EXPECT_EQ(form->StatusBar->PanelText(0), "x:         y:");
    EXPECT_EQ(form->StatusBar->PanelText(1), "Radius : 100");
    EXPECT_EQ(form->StatusBar->PanelText(2), "Not limiting");
    EXPECT_EQ(form->StatusBar->PanelText(3), "Magnification : 5");
    // At the narrowest, every panel is inside the bar and holds its longest text.
    form->resize(form->minimumWidth(), form->height());
    QTest::qWait(20);
    for (int i = 0; i < 5; ++i) {
        const QLabel* panel = form->StatusBar->Panel(i);
        EXPECT_LE(panel->geometry().right(), form->StatusBar->width()) << "panel " << i;
        EXPECT_LE(panel->fontMetrics().horizontalAdvance(TPanelStatusBar::WidestText(i)), panel->contentsRect().width())
            << "panel " << i;
    }
    EXPECT_EQ(form->EThresholdRG->text(), "1.6");
    EXPECT_EQ(form->EThresholdRB->text(), "1.1");
    EXPECT_EQ(form->EThresholdR->text(), "35");
    EXPECT_EQ(form->SEAttenuation->value(), 0);
    EXPECT_EQ(form->SEAttenuation->minimum(), 0);
    EXPECT_EQ(form->SEAttenuation->maximum(), 100);
    EXPECT_EQ(form->Panel1->height(), 52);
    EXPECT_EQ(form->TBAutoSave->toolTip(), "Auto Save (with appended  - nre)");
}

TEST_F(MainFormTest, FirstStartFillsMostOfTheScreenAndALaterOneKeepsTheStoredWindow) {
    {
        auto form = MakeForm();
        const QRect room = form->screen()->availableGeometry();
        EXPECT_GE(form->width(), room.width() * 7 / 10);
        EXPECT_GE(form->height(), room.height() * 7 / 10);
        EXPECT_NEAR(form->geometry().center().x(), room.center().x(), 2);
    }
    std::ofstream(scarlex::SettingsFilePath())
        << "[Main Form]\nTop=40\nLeft=30\nWidth=700\nHeight=500\nMaximised=1\n[General]\nStartup Hints=0\nIni File=1\n";
    {
        auto form = MakeForm();
        EXPECT_TRUE(form->windowState().testFlag(Qt::WindowMaximized));
    }
    // Maximised at the end: the stored size stays, and so does the state.
    std::ifstream in(scarlex::SettingsFilePath());
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("Width=700"), std::string::npos) << text;
    EXPECT_NE(text.find("Maximised=1"), std::string::npos) << text;
}

TEST_F(MainFormTest, MenusCarryTheirCaptionsShortcutsAndHints) {
    auto form = MakeForm();
    struct Item {
        const char* menu;
        const char* name;
        const char* caption;  // "-" for a separator
        const char* shortcut;
        const char* hint;
    };
    const Item items[] = {
        {"File", "Open1", "&Open...", "Ctrl+O", "Open a file for processing"},
        {"File", "Next1", "&Next", "Ctrl+N", "Open the next image (asking first about unsaved changes to this file)"},
        {"File", "N1", "-", "", ""},
        {"File", "Save1", "&Save...", "Ctrl+S", "Save processed file (Brings up dialog box)"},
        {"File", "AutoSave1", "&Auto Save", "Ctrl+Alt+S",
         "Saves modified file in the same directory as the original, but with a modified name (as per prefs)"},
        {"File", "AutoSaveAndClose1", "AutoSave and Close", "Ctrl+R",
         "Saves modified file in the same directory as the original, but with a modified name (as per prefs) then closes"},
        {"File", "AutoSaveAndNext1", "AutoSave and Nex&t", "Ctrl+Shift+N",
         "Auto Save (with appended -nre) and open next image"},
        {"File", "N2", "-", "", ""},
        {"File", "Exit1", "E&xit", "Ctrl+Q", "Exit the program"},
        {"Edit", "Undo1", "&Undo", "Ctrl+Z", "Undo the last edit"},
        {"Edit", "Redo1", "&Redo", "Ctrl+Shift+Z", "Redo the last undone edit"},
        {"Edit", "FindRedEyes1", "&Find Red Eyes", "Ctrl+F",
         "Find the red pupils and circle them: Enter fixes the circled ones, Esc dismisses them"},
        {"Edit", "N4", "-", "", ""},
        {"Edit", "ShowImageTags1", "Show Image Tags", "Ctrl+T", ""},
        {"Edit", "Prefs1", "Prefs", "Ctrl+P", "Open the prefs screen"},
        {"View", "FitToWindow1", "&Fit to Window", "Ctrl+0", "Show the whole photograph"},
        {"View", "ActualPixels1", "&Actual Pixels", "Ctrl+1", "One photograph pixel to one screen pixel (100 %)"},
        {"View", "ZoomIn1", "Zoom &In", "Ctrl++", "Enlarge the view (up to 800 %)"},
        {"View", "ZoomOut1", "Zoom &Out", "Ctrl+-", "Reduce the view (down to the whole photograph)"},
        {"View", "N5", "-", "", ""},
        {"View", "ShowOriginal1", "Show &Original", "", "Show the photograph as it was loaded (or hold B)"},
        {"Help", "Help2", "Help", "P", "Opens the help file"},
        {"Help", "N3", "-", "", ""},
        {"Help", "AboutScarlex1", "About Scarlex", "", "About Scarlex"},
    };
    std::map<QString, QList<QAction*>> menus;
    for (QAction* top : form->MainMenu1->actions()) menus[top->text()] = top->menu()->actions();
    ASSERT_EQ(menus.size(), 4u);
    std::map<QString, int> position;
    for (const Item& item : items) {
        SCOPED_TRACE(item.name);
        QList<QAction*>& list = menus[QString::fromUtf8(item.menu)];
        int& at = position[QString::fromUtf8(item.menu)];
        ASSERT_LT(at, list.size());
        QAction* a = list[at++];
        EXPECT_EQ(a->objectName().toStdString(), item.name);
        if (std::string(item.caption) == "-") {
            EXPECT_TRUE(a->isSeparator());
            continue;
        }
        EXPECT_EQ(a->text().toStdString(), item.caption);
        EXPECT_EQ(a->shortcut().toString().toStdString(), item.shortcut);
        EXPECT_EQ(a->statusTip().toStdString(), item.hint);
        EXPECT_FALSE(a->whatsThis().isEmpty());
    }
    for (auto& [menu, list] : menus) EXPECT_EQ(position[menu], list.size()) << menu.toStdString();
    // Second keys, and no shortcut taken twice or taken from the view's keys.
    EXPECT_EQ(form->Redo1->shortcuts().value(1), QKeySequence(Qt::CTRL | Qt::Key_Y));
    EXPECT_EQ(form->ZoomIn1->shortcuts().value(1), QKeySequence(Qt::CTRL | Qt::Key_Equal));
    std::set<QString> taken;
    for (const QKeySequence& key : {QKeySequence(Qt::CTRL | Qt::Key_L), QKeySequence(Qt::CTRL | Qt::Key_M),
                                    QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_PageUp),
                                    QKeySequence(Qt::CTRL | Qt::Key_PageDown), QKeySequence(Qt::Key_B),
                                    QKeySequence(Qt::Key_Space)})
        taken.insert(key.toString());
    for (auto& [menu, list] : menus)
        for (QAction* a : list)
            for (const QKeySequence& key : a->shortcuts())
                EXPECT_TRUE(taken.insert(key.toString()).second) << key.toString().toStdString();
    // What's This mode from anywhere in the window, outside the menus.
    QAction* whatsThis = form->findChild<QAction*>(QStringLiteral("WhatsThisMode"));
    ASSERT_NE(whatsThis, nullptr);
    EXPECT_TRUE(form->actions().contains(whatsThis));
    EXPECT_EQ(whatsThis->shortcut(), QKeySequence(Qt::SHIFT | Qt::Key_F1));
}

TEST_F(MainFormTest, ToolBarOrderSeparatorsAndHints) {
    auto form = MakeForm();
    struct Slot {
        const char* name;
        int gap;  // separator width, or 0 for a button
        const char* hint;
    };
    const Slot order[] = {
        {"ToolButton2", 8, nullptr},
        {"TBOpen", 0, "Open File"},
        {"ToolButton3", 8, nullptr},
        {"TBSaveAs", 0, "Save as"},
        {"ToolButton5", 8, nullptr},
        {"TBAutoSave", 0, "Auto Save (with appended  - nre)"},
        {"ToolButton1", 8, nullptr},
        {"TBUndo", 0, "undo"},
        {"ToolButton7", 85, nullptr},
        {"TBAutoSaveNext", 0, "Auto Save (with appended -nre) and open next image"},
        {"TBNext", 0, "Open the next image (asking first about unsaved changes to this file)"},
    };
    QList<QAction*> actions = form->ToolBar1->actions();
    ASSERT_EQ(actions.size(), std::size(order));
    for (size_t i = 0; i < std::size(order); ++i) {
        SCOPED_TRACE(order[i].name);
        QWidget* w = form->ToolBar1->widgetForAction(actions[static_cast<qsizetype>(i)]);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->objectName().toStdString(), order[i].name);
        if (order[i].gap) {
            EXPECT_EQ(w->width(), order[i].gap);
        } else {
            auto* b = qobject_cast<QToolButton*>(w);
            ASSERT_NE(b, nullptr);
            EXPECT_FALSE(b->icon().isNull());
            EXPECT_EQ(b->toolTip().toStdString(), order[i].hint);
            EXPECT_FALSE(b->whatsThis().isEmpty());
        }
    }
    EXPECT_EQ(form->ToolBar1->height(), 29);
}

// --- Enabling of commands ---------------------------------------------

struct LoadEnabling : MainFormTest, testing::WithParamInterface<std::tuple<bool, int>> {};

TEST_P(LoadEnabling, EveryLoadSetsTheTable) {
    auto [possible, metadataKind] = GetParam();  // metadata: 0 none, 1 found without EXIF, 2 EXIF
    auto form = MakeForm();
    MainFormProbe::SetAutoSavePossible(*form, possible);
    std::string a = Photo("a.jpg");
    form->SetMetadata(a, metadataKind > 0, metadataKind == 2);
    MainFormProbe::RecordEdit(*form);  // an Undo state from before must not survive the load
    OpenThroughDialog(*form, {a});
    ExpectEnabling(*form, {true, possible, false, metadataKind == 2, false, false});
    EXPECT_EQ(MainFormProbe::UndoRows(*form), 0);
}

std::string LoadEnablingName(const testing::TestParamInfo<LoadEnabling::ParamType>& info) {
    const char* const kinds[] = {"NoMetadata", "NoExif", "Exif"};
    return std::string(std::get<0>(info.param) ? "AutoSave" : "NoAutoSave") + kinds[std::get<1>(info.param)];
}
INSTANTIATE_TEST_SUITE_P(Cases, LoadEnabling, testing::Combine(testing::Bool(), testing::Values(0, 1, 2)),
                         LoadEnablingName);

TEST_F(MainFormTest, EditsAndUndoDriveUndo) {
    auto form = MakeForm();
    OpenThroughDialog(*form, {Photo("a.jpg")});
    MainFormProbe::RecordEdit(*form);
    MainFormProbe::RecordEdit(*form);
    EXPECT_TRUE(form->Undo1->isEnabled());
    EXPECT_TRUE(form->TBUndo->isEnabled());
    form->TBUndo->click();
    EXPECT_TRUE(form->Undo1->isEnabled());
    form->Undo1->trigger();
    EXPECT_FALSE(form->Undo1->isEnabled());
    EXPECT_FALSE(form->TBUndo->isEnabled());
    EXPECT_EQ(MainFormProbe::UndoRows(*form), 0);
    // Save stays on once a photograph is there.
    EXPECT_TRUE(form->Save1->isEnabled());
}

TEST_F(MainFormTest, PreferencesOkSetsAutoSaveEvenWithoutAPhotograph) {
    auto form = MakeForm();
    TempDir originals;
    struct Case {
        bool append, rename, move;
        std::string folder;
        bool possible;
    };
    const Case cases[] = {
        {false, false, false, "", false},
        {true, false, false, "", true},
        {false, true, false, "", true},
        {false, false, true, originals.path().string(), true},
        {false, false, true, originals / "missing", false},
        {false, false, false, originals.path().string(), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder + (c.append ? " append" : "") + (c.rename ? " rename" : "") + (c.move ? " move" : ""));
        MainFormProbe::Prefs(*form, c.append, c.rename, c.move, c.folder);
        form->PreferencesAccepted();
        EXPECT_EQ(form->AutoSave1->isEnabled(), c.possible);
        EXPECT_EQ(form->AutoSaveAndClose1->isEnabled(), c.possible);
        EXPECT_EQ(form->TBAutoSave->isEnabled(), c.possible);
        EXPECT_FALSE(form->Save1->isEnabled());
    }
}

// --- The close prompt ---------------------------------------------------

TEST_F(MainFormTest, ClosesWithoutAskingWhenNothingIsUnsaved) {
    {
        auto form = MakeForm();  // no photograph
        EXPECT_TRUE(form->close());
    }
    {
        auto form = MakeForm();  // loaded, never edited
        OpenThroughDialog(*form, {Photo("a.jpg")});
        form->Exit1->trigger();
        EXPECT_FALSE(form->isVisible());
    }
    {
        auto form = MakeForm();  // edited, then undone to empty
        OpenThroughDialog(*form, {Photo("b.jpg")});
        MainFormProbe::RecordEdit(*form);
        form->Undo1->trigger();
        EXPECT_TRUE(form->close());
    }
    {
        auto form = MakeForm();  // edited and saved
        OpenThroughDialog(*form, {Photo("c.jpg")});
        MainFormProbe::RecordEdit(*form);
        form->Save1->trigger();
        EXPECT_TRUE(form->close());
    }
    EXPECT_TRUE(platform.messages.empty());
    EXPECT_EQ(platform.beeps, 0);
}

TEST_F(MainFormTest, AsksAgainAfterAnEditOrUndoThatFollowsASave) {
    enum After { EditAgain, UndoOneOfTwo };
    for (After after : {EditAgain, UndoOneOfTwo}) {
        SCOPED_TRACE(after == EditAgain ? "edit, save, edit" : "edit, edit, save, undo");
        platform.messages.clear();
        platform.beeps = 0;
        auto form = MakeForm();
        OpenThroughDialog(*form, {Photo("a.jpg")});
        MainFormProbe::RecordEdit(*form);
        if (after == UndoOneOfTwo) MainFormProbe::RecordEdit(*form);
        form->Save1->trigger();
        ASSERT_TRUE(MainFormProbe::Saved(*form));
        if (after == EditAgain) {
            MainFormProbe::RecordEdit(*form);
        } else {
            form->Undo1->trigger();
        }
        platform.messageAnswers.push_back(MsgAnswer::No);
        EXPECT_TRUE(form->close());
        ASSERT_EQ(platform.messages.size(), 1u);
        EXPECT_EQ(platform.messages[0].type, MsgType::Confirmation);
        EXPECT_EQ(platform.messages[0].buttons, MsgButtons::YesNoCancel);
        EXPECT_EQ(platform.messages[0].text, "You have unsaved changes... do you want to save them?");
        EXPECT_EQ(platform.beeps, 1);
        EXPECT_EQ(form->dialogSaves, 1);  // only the explicit one
    }
}

TEST_F(MainFormTest, YesSavesWithTheDialogAndClosesOnlyOnceTheSaveCompleted) {
    for (bool completes : {true, false}) {
        SCOPED_TRACE(completes ? "save completes" : "save cancelled or failed");
        auto form = MakeForm();
        OpenThroughDialog(*form, {Photo("a.jpg")});
        MainFormProbe::RecordEdit(*form);
        form->saveCompletes = completes;
        platform.messageAnswers.push_back(MsgAnswer::Yes);
        EXPECT_EQ(form->close(), completes);
        EXPECT_EQ(form->dialogSaves, 1);
        EXPECT_EQ(form->autoSaves, 0);
        EXPECT_EQ(form->isVisible(), !completes);
        EXPECT_EQ(MainFormProbe::Saved(*form), completes);
        EXPECT_EQ(MainFormProbe::UndoRows(*form), 1);
        if (!completes) {
            EXPECT_FALSE(MainFormProbe::Closing(*form));
        }
    }
}

TEST_F(MainFormTest, CancelKeepsEverythingAndResizesFitAgain) {
    auto form = MakeForm();
    OpenThroughDialog(*form, {Photo("a.jpg", 400, 300)});
    MainFormProbe::RecordEdit(*form);
    MainFormProbe::RecordEdit(*form);
    QSize before = MainFormProbe::Display(*form);
    platform.messageAnswers.push_back(MsgAnswer::Cancel);
    EXPECT_FALSE(form->close());
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(MainFormProbe::Closing(*form));
    EXPECT_FALSE(MainFormProbe::Saved(*form));
    EXPECT_EQ(MainFormProbe::UndoRows(*form), 2);
    EXPECT_EQ(Caption(*form), "Scarlex : a.jpg");
    form->resize(form->width() + 200, form->height() + 200);
    QTest::qWait(20);
    EXPECT_NE(MainFormProbe::Display(*form), before);
}

TEST_F(MainFormTest, AResizeWhileThePromptIsUpDoesNotRefit) {
    auto form = MakeForm();
    OpenThroughDialog(*form, {Photo("a.jpg", 400, 300)});
    MainFormProbe::RecordEdit(*form);
    QSize before = MainFormProbe::Display(*form);
    bool closingSeen = false;
    platform.beforeAnswer = [&] {
        closingSeen = MainFormProbe::Closing(*form);
        form->resize(form->width() + 200, form->height() + 200);
        QTest::qWait(20);
    };
    platform.messageAnswers.push_back(MsgAnswer::Cancel);
    form->close();
    platform.beforeAnswer = nullptr;
    EXPECT_TRUE(closingSeen);
    EXPECT_EQ(MainFormProbe::Display(*form), before);
}

TEST_F(MainFormTest, AutoSaveAndCloseStaysOnTheEditsWhenTheAutoSaveFailed) {
    for (bool completes : {true, false}) {
        SCOPED_TRACE(completes ? "auto-save completes" : "auto-save fails");
        platform.messages.clear();
        auto form = MakeForm();
        OpenThroughDialog(*form, {Photo("a.jpg")});
        MainFormProbe::RecordEdit(*form);
        form->saveCompletes = completes;
        form->AutoSaveAndClose1->trigger();
        EXPECT_EQ(form->autoSaves, 1);
        EXPECT_TRUE(platform.messages.empty());  // the save said why; no prompt on top
        EXPECT_EQ(form->isVisible(), !completes);
        EXPECT_EQ(MainFormProbe::UndoRows(*form), 1);
    }
}

// --- The queue ---------------------------------------------------------

TEST_F(MainFormTest, OneFileLoadsWithCaptionWithoutFolder) {
    auto form = MakeForm();
    std::string a = Photo("IMG_1.jpg", 80, 48);
    OpenThroughDialog(*form, {a});
    EXPECT_EQ(Caption(*form), "Scarlex : IMG_1.jpg");
    EXPECT_EQ(form->CurrentPath(), a);
    EXPECT_EQ(form->Photograph().Width(), 80);
    EXPECT_EQ(form->Photograph().Height(), 48);
    EXPECT_EQ(MainFormProbe::Sampling(*form), (scarlex::Sampling{{2, 1, 1, 2, 1, 1}}));
    EXPECT_FALSE(form->TBNext->isEnabled());
    EXPECT_FALSE(form->TBAutoSaveNext->isEnabled());
    EXPECT_FALSE(MainFormProbe::Saved(*form));
    EXPECT_TRUE(platform.messages.empty());
    // The dialog: multiple selection of the three filter entries.
    ASSERT_EQ(platform.openRequests.size(), 1u);
    EXPECT_EQ(platform.openRequests[0].filter,
              "All (*.jpg;*.jpeg;)|*.jpg;*.jpeg|JPEG Image File (*.jpg)|*.jpg|JPEG Image File (*.jpeg)|*.jpeg");
}

TEST_F(MainFormTest, ThreeFilesThroughTheDialogAndNext) {
    for (bool possible : {true, false}) {
        SCOPED_TRACE(possible ? "auto-save possible" : "auto-save not possible");
        auto form = MakeForm();
        MainFormProbe::SetAutoSavePossible(*form, possible);
        OpenThroughDialog(*form, {Photo("1.jpg"), Photo("2.jpg"), Photo("3.jpg")});
        EXPECT_EQ(Caption(*form), "Scarlex : 1.jpg");
        EXPECT_TRUE(form->TBNext->isEnabled());
        EXPECT_EQ(form->TBAutoSaveNext->isEnabled(), possible);
        form->TBNext->click();
        EXPECT_EQ(Caption(*form), "Scarlex : 2.jpg");
        EXPECT_TRUE(form->TBNext->isEnabled());
        form->TBNext->click();
        EXPECT_EQ(Caption(*form), "Scarlex : 3.jpg");
        EXPECT_FALSE(form->TBNext->isEnabled());
        EXPECT_FALSE(form->TBAutoSaveNext->isEnabled());
    }
}

TEST_F(MainFormTest, UpperCaseJpgIsTakenJpegIsPassedOver) {
    auto form = MakeForm();
    std::string jpeg = Photo("a.jpeg");
    OpenThroughDialog(*form, {jpeg});
    EXPECT_FALSE(MainFormProbe::ImageLoaded(*form));
    EXPECT_EQ(Caption(*form), "Scarlex");
    EXPECT_TRUE(platform.messages.empty());
    OpenThroughDialog(*form, {Photo("B.JPG")});
    EXPECT_EQ(Caption(*form), "Scarlex : B.JPG");
}

TEST_F(MainFormTest, DroppedFilesEnableAutoSaveNextWithoutTheTest) {
    std::vector<std::string> three = {Photo("1.jpg"), Photo("2.jpg"), Photo("3.jpg")};
    {
        auto form = MakeForm();
        MainFormProbe::SetAutoSavePossible(*form, false);
        OpenThroughDialog(*form, three);
        EXPECT_FALSE(form->TBAutoSaveNext->isEnabled());
    }
    platform.openRequests.clear();
    auto form = MakeForm();
    MainFormProbe::SetAutoSavePossible(*form, false);
    // A real drop from a file manager; the folder and the missing name are left out.
    QMimeData mime;
    QList<QUrl> urls;
    urls << QUrl::fromLocalFile(QString::fromStdString(three[0])) << QUrl::fromLocalFile(QString::fromStdString(dir.path().string()))
         << QUrl::fromLocalFile(QString::fromStdString(three[1])) << QUrl::fromLocalFile(QString::fromStdString(dir / "gone.jpg"))
         << QUrl::fromLocalFile(QString::fromStdString(three[2]));
    mime.setUrls(urls);
    // As a file manager's drag arrives: enter (which makes the panel the
    // target), then the drop.
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(form->Panel2, &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(form->Panel2, &drop);
    EXPECT_EQ(Caption(*form), "Scarlex : 1.jpg");
    EXPECT_TRUE(form->TBNext->isEnabled());
    EXPECT_TRUE(form->TBAutoSaveNext->isEnabled());
    EXPECT_EQ(MainFormProbe::Pending(*form), (std::vector<std::string>{three[1], three[2]}));
    EXPECT_TRUE(platform.messages.empty());
    EXPECT_TRUE(platform.openRequests.empty());
}

TEST_F(MainFormTest, DroppedNamesLoseLineEndsAndDoNotTouchTheOpenFolder) {
    auto form = MakeForm();
    std::string a = Photo("a.jpg");
    form->DropFilesDropped({a + "\r\n"}, 1, QPoint());
    EXPECT_EQ(form->CurrentPath(), a);
    EXPECT_EQ(MainFormProbe::LastOpenFolder(*form), "");
}

TEST_F(MainFormTest, ANewOpenWhileTwoWaitLoadsTheOldest) {
    auto form = MakeForm();
    std::vector<std::string> first = {Photo("1.jpg"), Photo("2.jpg"), Photo("3.jpg")};
    OpenThroughDialog(*form, first);
    std::string fresh = Photo("new.jpg");
    OpenThroughDialog(*form, {fresh});
    EXPECT_EQ(form->CurrentPath(), first[1]);
    EXPECT_EQ(MainFormProbe::Pending(*form), (std::vector<std::string>{first[2], fresh}));
    EXPECT_TRUE(form->TBNext->isEnabled());
}

TEST_F(MainFormTest, WithoutAskBeforeDiscardNextDiscardsEditsWithoutAPrompt) {
    auto form = MakeForm();
    MainFormProbe::SetAskBeforeDiscard(*form, false);
    form->PreferencesAccepted();
    EXPECT_EQ(form->TBNext->toolTip(), "Open the next image (discarding any changes to this file)");
    OpenThroughDialog(*form, {Photo("1.jpg"), Photo("2.jpg")});
    MainFormProbe::RecordEdit(*form);
    form->TBNext->click();
    EXPECT_EQ(Caption(*form), "Scarlex : 2.jpg");
    EXPECT_EQ(MainFormProbe::UndoRows(*form), 0);
    EXPECT_FALSE(form->Undo1->isEnabled());
    EXPECT_TRUE(platform.messages.empty());
    EXPECT_EQ(form->dialogSaves + form->autoSaves, 0);
}

TEST_F(MainFormTest, AutoSaveAndNextMovesOnOnlyAfterACompletedAutoSave) {
    auto form = MakeForm();
    form->saveCompletes = false;
    std::string second = Photo("2.jpg");
    OpenThroughDialog(*form, {Photo("1.jpg"), second});
    MainFormProbe::RecordEdit(*form);
    form->TBAutoSaveNext->click();
    EXPECT_EQ(form->autoSaves, 1);
    EXPECT_EQ(Caption(*form), "Scarlex : 1.jpg");
    EXPECT_EQ(MainFormProbe::UndoRows(*form), 1);
    EXPECT_EQ(MainFormProbe::Pending(*form), std::vector<std::string>{second});
    EXPECT_TRUE(platform.messages.empty());
    form->saveCompletes = true;
    form->AutoSaveAndNext1->trigger();
    EXPECT_EQ(form->autoSaves, 2);
    EXPECT_EQ(Caption(*form), "Scarlex : 2.jpg");
    EXPECT_TRUE(platform.messages.empty());  // saved: nothing to ask
    // With the queue empty, Auto Save runs and Next does nothing.
    form->TBAutoSaveNextClick();
    EXPECT_EQ(form->autoSaves, 3);
    EXPECT_EQ(Caption(*form), "Scarlex : 2.jpg");
}

TEST_F(MainFormTest, CtrlNOpensTheNextAndCtrlShiftNAutoSavesFirst) {
    auto form = MakeForm();
    OpenThroughDialog(*form, {Photo("1.jpg"), Photo("2.jpg"), Photo("3.jpg")});
    QTest::keyClick(form.get(), Qt::Key_N, Qt::ControlModifier);
    EXPECT_EQ(Caption(*form), "Scarlex : 2.jpg");
    EXPECT_EQ(form->autoSaves, 0);
    QTest::keyClick(form.get(), Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(Caption(*form), "Scarlex : 3.jpg");
    EXPECT_EQ(form->autoSaves, 1);
    // An empty queue: nothing at all, not even the Auto Save.
    QTest::keyClick(form.get(), Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(form->autoSaves, 1);
}

TEST_F(MainFormTest, TagsAreDisabledAfterAFileWithoutExif) {
    auto form = MakeForm();
    std::string withExif = Photo("exif.jpg");
    std::string commentOnly = Photo("comment.jpg");
    std::string bare = Photo("bare.jpg");
    form->SetMetadata(withExif, true, true);
    form->SetMetadata(commentOnly, true, false);
    OpenThroughDialog(*form, {withExif, commentOnly, withExif, bare});
    EXPECT_TRUE(form->ShowImageTags1->isEnabled());
    form->TBNext->click();
    EXPECT_FALSE(form->ShowImageTags1->isEnabled());
    form->TBNext->click();
    EXPECT_TRUE(form->ShowImageTags1->isEnabled());
    form->TBNext->click();
    EXPECT_FALSE(form->ShowImageTags1->isEnabled());
}

TEST_F(MainFormTest, CommandLineQueuesAcceptedNamesAndLoadsTheFirst) {
    std::string a = Photo("a.JPG");
    std::string b = Photo("b.jpg");
    auto form = MakeForm({dir / "x.jpeg", a, "--not-a-photo", b});
    EXPECT_EQ(form->CurrentPath(), a);
    EXPECT_EQ(MainFormProbe::Pending(*form), std::vector<std::string>{b});
    EXPECT_TRUE(form->TBNext->isEnabled());
    EXPECT_EQ(MainFormProbe::LastOpenFolder(*form), "");
}

TEST_F(MainFormTest, OpenRemembersTheFolderWithItsSeparator) {
    auto form = MakeForm();
    std::string a = Photo("a.jpg");
    OpenThroughDialog(*form, {a});
    std::string folder = dir.path().string() + "/";
    EXPECT_EQ(MainFormProbe::LastOpenFolder(*form), folder);
    OpenThroughDialog(*form, {});
    ASSERT_EQ(platform.openRequests.size(), 2u);
    EXPECT_EQ(platform.openRequests[1].initialFolder, folder);
    // A batch with nothing accepted still moves the remembered folder.
    TempDir other;
    std::string rejected = other / "x.jpeg";
    OpenThroughDialog(*form, {rejected});
    EXPECT_EQ(MainFormProbe::LastOpenFolder(*form), other.path().string() + "/");
    // A cancelled dialog changes nothing.
    form->Open1->trigger();
    EXPECT_EQ(MainFormProbe::LastOpenFolder(*form), other.path().string() + "/");
}

// --- Edits are never lost ------------------------------------------------

enum class Entry { Open, Drop, Next };
enum class Answer { Cancel, No, YesSaved, YesNotSaved };

struct DiscardPrompt : MainFormTest, testing::WithParamInterface<std::tuple<Entry, Answer>> {};

TEST_P(DiscardPrompt, OpenDropAndNextAskTheClosePromptsQuestion) {
    auto [entry, answer] = GetParam();
    auto form = MakeForm();
    std::string first = Photo("first.jpg"), waiting = Photo("waiting.jpg", 96, 64, 2), fresh = Photo("fresh.jpg");
    OpenThroughDialog(*form, {first, waiting});
    MainFormProbe::RecordEdit(*form);
    const scarlex::Bitmap before = form->Photograph();
    form->saveCompletes = answer != Answer::YesNotSaved;
    platform.messageAnswers.push_back(answer == Answer::Cancel ? MsgAnswer::Cancel
                                      : answer == Answer::No   ? MsgAnswer::No
                                                               : MsgAnswer::Yes);
    switch (entry) {
        case Entry::Open: OpenThroughDialog(*form, {fresh}); break;
        case Entry::Drop: form->DropFilesDropped({fresh}, 1, QPoint()); break;
        case Entry::Next: QTest::keyClick(form.get(), Qt::Key_N, Qt::ControlModifier); break;
    }
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0].text, kUnsavedPrompt);
    EXPECT_EQ(form->dialogSaves, answer == Answer::YesSaved || answer == Answer::YesNotSaved ? 1 : 0);
    if (answer == Answer::Cancel || answer == Answer::YesNotSaved) {
        // Everything as it was, the queue too: a new name does not linger.
        EXPECT_EQ(form->CurrentPath(), first);
        EXPECT_EQ(test::FirstPixelDifference(form->Photograph(), before), "");
        EXPECT_EQ(MainFormProbe::UndoRows(*form), 1);
        EXPECT_FALSE(MainFormProbe::Saved(*form));
        EXPECT_EQ(MainFormProbe::Pending(*form), std::vector<std::string>{waiting});
        EXPECT_TRUE(form->TBNext->isEnabled());
    } else {
        // Open and a drop load the oldest waiting name, as always.
        EXPECT_EQ(form->CurrentPath(), waiting);
        EXPECT_EQ(MainFormProbe::UndoRows(*form), 0);
    }
}

std::string DiscardPromptName(const testing::TestParamInfo<DiscardPrompt::ParamType>& info) {
    const char* const entries[] = {"Open", "Drop", "Next"};
    const char* const answers[] = {"Cancel", "No", "YesSaved", "YesNotSaved"};
    return std::string(entries[static_cast<int>(std::get<0>(info.param))]) +
           answers[static_cast<int>(std::get<1>(info.param))];
}
INSTANTIATE_TEST_SUITE_P(Paths, DiscardPrompt,
                         testing::Combine(testing::Values(Entry::Open, Entry::Drop, Entry::Next),
                                          testing::Values(Answer::Cancel, Answer::No, Answer::YesSaved,
                                                          Answer::YesNotSaved)),
                         DiscardPromptName);

TEST_F(MainFormTest, LoadsSayWhatIsWrongWithAFile) {
    auto form = MakeForm();
    std::string good = Photo("good.jpg"), waiting = Photo("waiting.jpg");
    OpenThroughDialog(*form, {good});
    MainFormProbe::RecordEdit(*form);
    // A PNG over an edited photograph: named at once, with no question
    // about the edits, which stay; the photograph behind it waits.
    std::string png = dir / "holiday.jpg";
    test::WriteFileBytes(png, {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'});
    OpenThroughDialog(*form, {png, waiting});
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0].type, MsgType::Error);
    EXPECT_EQ(platform.messages[0].text,
              "holiday.jpg is a PNG image, not a JPEG photograph; Scarlex edits JPEG files only");
    EXPECT_EQ(form->CurrentPath(), good);
    EXPECT_EQ(MainFormProbe::UndoRows(*form), 1);
    EXPECT_EQ(MainFormProbe::Pending(*form), std::vector<std::string>{waiting});

    // A cut-off file opens with a warning naming the damage.
    std::vector<uint8_t> bytes = test::ReadFileBytes(Photo("whole.jpg", 96, 200));
    bytes.resize(bytes.size() / 2);
    test::WriteFileBytes(dir / "cut.jpg", bytes);
    platform.messages.clear();
    platform.messageAnswers.push_back(MsgAnswer::No);  // the edit may go
    OpenThroughDialog(*form, {dir / "cut.jpg"});
    EXPECT_EQ(form->CurrentPath(), waiting);  // the oldest name first
    platform.messages.clear();
    form->TBNext->click();
    EXPECT_EQ(form->CurrentPath(), dir / "cut.jpg");
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0].type, MsgType::Warning);
    EXPECT_EQ(platform.messages[0].text.rfind("cut.jpg is damaged: the file ends early, so the lower part", 0), 0u)
        << platform.messages[0].text;

    // Named on the command line, a message waits until the window is up.
    platform.messages.clear();
    auto started = MakeForm({png});
    EXPECT_TRUE(platform.messages.empty());
    EXPECT_TRUE(QTest::qWaitFor([&] { return platform.messages.size() == 1; }, 2000));
}

scarlex::SaveReport SaveReportOf(const std::string& output, int rows, long long size) {
    scarlex::SaveReport report;
    report.output = output;
    report.undoRows = rows;
    report.outputSize = size;
    return report;
}

TEST_F(MainFormTest, TheTitleMarksUnsavedChangesAndEverySaveReports) {
    auto form = MakeForm();
    OpenThroughDialog(*form, {Photo("a.jpg")});
    EXPECT_EQ(ShownCaption(*form), "Scarlex : a.jpg");
    MainFormProbe::RecordEdit(*form);
    MainFormProbe::RecordEdit(*form);
    EXPECT_EQ(ShownCaption(*form), "Scarlex : a.jpg*");
    form->report = SaveReportOf(dir / "a - nre.jpg", 2, 48213);
    form->AutoSave1->trigger();
    EXPECT_FALSE(form->isWindowModified());
    EXPECT_EQ(form->StatusBar->currentMessage().toStdString(), "Saved a - nre.jpg (2 edits, 48 kB)");
    // A hint passing over the report does not wipe it.
    QStatusTipEvent tip(QStringLiteral("Open File")), gone{QString()};
    QCoreApplication::sendEvent(form.get(), &tip);
    QCoreApplication::sendEvent(form.get(), &gone);
    EXPECT_EQ(form->StatusBar->currentMessage(), form->Report());
    // Saved elsewhere than beside the photograph: the folder is named too.
    TempDir elsewhere;
    form->report = SaveReportOf(elsewhere / "b.jpg", 1, 2500000);
    form->Save1->trigger();
    EXPECT_EQ(form->Report().toStdString(),
              "Saved " + elsewhere / "b.jpg" + " (1 edit, " + QLocale().toString(2.5, 'f', 1).toStdString() + " MB)");
    form->Undo1->trigger();  // one row left, changed since the save
    EXPECT_TRUE(form->isWindowModified());
    form->Undo1->trigger();  // back to the photograph as loaded
    EXPECT_EQ(ShownCaption(*form), "Scarlex : a.jpg");
}

TEST_F(MainFormTest, TheViewTakesTheKeysAndTheOpenDialogStartsBesideThePhotograph) {
    auto form = MakeForm();
    QApplication::setActiveWindow(form.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    form->SEAttenuation->setFocus();
    MainFormProbe::SetRememberOpenFolder(*form, false);
    OpenThroughDialog(*form, {Photo("a.jpg")});
    EXPECT_EQ(QApplication::focusWidget(), form->ImageOnForm);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_PageDown);
    EXPECT_EQ(form->SEAttenuation->value(), 0);  // the key reached the view
    OpenThroughDialog(*form, {});
    ASSERT_EQ(platform.openRequests.size(), 2u);
    EXPECT_EQ(platform.openRequests[1].initialFolder, dir.path().string() + "/");
}

// --- Faults the window guards against --------------------------------------

TEST_F(MainFormTest, ARejectedBatchNeverRetargetsTheCurrentPhotograph) {
    auto form = MakeForm();
    std::string a = Photo("a.jpg");
    OpenThroughDialog(*form, {a});
    OpenThroughDialog(*form, {dir / "b.jpeg", dir / "c.png"});
    EXPECT_EQ(form->CurrentPath(), a);
    EXPECT_EQ(Caption(*form), "Scarlex : a.jpg");
}

TEST_F(MainFormTest, APhotographThatCannotBeDecodedStopsTheLoad) {
    std::string damaged = dir / "damaged.jpg";
    test::WriteFileBytes(damaged, {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0});
    std::string notJpeg = dir / "text.jpg";
    test::WriteFileBytes(notJpeg, {'h', 'e', 'l', 'l', 'o'});
    for (const std::string& bad : {damaged, notJpeg, dir / "missing.jpg"}) {
        SCOPED_TRACE(bad);
        platform.messages.clear();
        auto form = MakeForm();
        std::string good = Photo("good.jpg", 64, 40);
        form->SetMetadata(good, true, true);
        OpenThroughDialog(*form, {good});
        MainFormProbe::RecordEdit(*form);
        form->Save1->trigger();
        scarlex::Bitmap before = form->Photograph();
        OpenThroughDialog(*form, {bad});
        ASSERT_EQ(platform.messages.size(), 1u);
        EXPECT_EQ(platform.messages[0].type, MsgType::Error);
        EXPECT_EQ(Caption(*form), "Scarlex : good.jpg");
        EXPECT_EQ(form->CurrentPath(), good);
        EXPECT_EQ(test::FirstPixelDifference(form->Photograph(), before), "");
        EXPECT_EQ(MainFormProbe::UndoRows(*form), 1);
        EXPECT_TRUE(form->Undo1->isEnabled());
        EXPECT_TRUE(form->ShowImageTags1->isEnabled());
        EXPECT_TRUE(MainFormProbe::Saved(*form));
        EXPECT_EQ(platform.CurrentCursorShape(), CursorShape::Default);
    }
}

TEST_F(MainFormTest, APhotographOverTheSizeLimitIsRefusedAndTheOldOneStays) {
    // The limit comes from the settings file.
    std::ofstream(scarlex::SettingsFilePath()) << "[General]\nStartup Hints=0\nMax Megapixels=1\n";
    auto form = MakeForm();
    const std::string good = Photo("good.jpg", 64, 40);
    OpenThroughDialog(*form, {good});
    const scarlex::Bitmap before = form->Photograph();
    // A small file whose header claims 1200 x 1000 pixels.
    const std::string big = Photo("big.jpg");
    std::vector<uint8_t> bytes = test::ReadFileBytes(big);
    for (std::size_t i = 2; i + 9 < bytes.size(); i += 2 + (std::size_t(bytes[i + 2]) << 8 | bytes[i + 3]))
        if (bytes[i + 1] == 0xC0) {
            bytes[i + 5] = 1000 >> 8, bytes[i + 6] = 1000 & 0xFF, bytes[i + 7] = 1200 >> 8, bytes[i + 8] = 1200 & 0xFF;
            break;
        }
    test::WriteFileBytes(big, bytes);
    OpenThroughDialog(*form, {big});
    scarlex::SetMaxMegapixels(0);
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0].type, MsgType::Error);
    EXPECT_NE(platform.messages[0].text.find("declares 1200 \u00d7 1000 pixels (1.2 MP); the limit is 1 MP"),
              std::string::npos)
        << platform.messages[0].text;
    EXPECT_EQ(form->CurrentPath(), good);
    EXPECT_EQ(ShownCaption(*form), "Scarlex : good.jpg");
    EXPECT_EQ(test::FirstPixelDifference(form->Photograph(), before), "");
}

TEST_F(MainFormTest, CommandsThatChangeThePhotographWaitForARemoval) {
    auto form = MakeForm();
    std::string a = Photo("a.jpg");
    std::string b = Photo("b.jpg");
    OpenThroughDialog(*form, {a, b});
    MainFormProbe::RecordEdit(*form);
    MainFormProbe::SetRemoving(*form, true);
    platform.openRequests.clear();
    form->Open1->trigger();
    form->TBNext->click();
    form->TBAutoSaveNext->click();
    form->Undo1->trigger();
    form->Save1->trigger();
    form->AutoSave1->trigger();
    form->AutoSaveAndClose1->trigger();
    form->DropFilesDropped({b}, 1, QPoint());
    QTest::keyClick(form.get(), Qt::Key_N, Qt::ControlModifier);
    EXPECT_TRUE(platform.openRequests.empty());
    EXPECT_EQ(form->CurrentPath(), a);
    EXPECT_EQ(MainFormProbe::UndoRows(*form), 1);
    EXPECT_EQ(form->dialogSaves + form->autoSaves, 0);
    // A close during a removal asks the removal to stop instead.
    EXPECT_FALSE(form->close());
    EXPECT_TRUE(MainFormProbe::AbortRemoval(*form));
    EXPECT_TRUE(platform.messages.empty());
    MainFormProbe::SetRemoving(*form, false);
    platform.messageAnswers.push_back(MsgAnswer::No);  // the edit may go
    form->TBNext->click();
    EXPECT_EQ(form->CurrentPath(), b);
}

// --- Help, hints and errors ---------------------------------------------------

TEST_F(MainFormTest, PShowsTheHelpWindow) {
    auto form = MakeForm();
    MainFormProbe::SetHelpFile(*form, SCARLEX_HELP_SOURCE);
    QTest::keyClick(form.get(), Qt::Key_P);
    THelpWindow* help = MainFormProbe::Help(*form);
    ASSERT_NE(help, nullptr);
    EXPECT_TRUE(help->isVisible());
    EXPECT_TRUE(help->HelpText->toPlainText().contains("Removing red eye"));
    EXPECT_TRUE(platform.messages.empty());

    MainFormProbe::SetHelpFile(*form, dir / "scarlex.html");
    form->Help2->trigger();
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0].type, MsgType::Error);
}

TEST_F(MainFormTest, HelpFileIsNamedAfterTheExecutable) {
    std::vector<std::string> c = HelpFileCandidates("/opt/x/bin/scarlex");
    ASSERT_GE(c.size(), 2u);
    EXPECT_EQ(c[0], "/opt/x/bin/scarlex.html");
    EXPECT_EQ(c[1], "/opt/x/bin/../share/doc/scarlex/scarlex.html");
    std::string beside = dir / "prog.html";
    test::WriteFileBytes(beside, {'<', 'p', '>'});
    EXPECT_EQ(LocateHelpFile(dir / "prog"), beside);
    EXPECT_EQ(LocateHelpFile("/nowhere/prog"), "/nowhere/prog.html");
}

TEST_F(MainFormTest, PopupHintsFollowThePreference) {
    auto form = MakeForm();
    QApplication::setActiveWindow(form.get());
    for (bool show : {false, true}) {
        SCOPED_TRACE(show ? "hints on" : "hints off");
        MainFormProbe::SetShowPopupHints(*form, show);
        form->PreferencesAccepted();
        QHelpEvent tip(QEvent::ToolTip, QPoint(2, 2), form->TBOpen->mapToGlobal(QPoint(2, 2)));
        QCoreApplication::sendEvent(form->TBOpen, &tip);
        EXPECT_EQ(QToolTip::isVisible(), show);
        QToolTip::hideText();
    }
}

TEST_F(MainFormTest, AnExceptionInAHandlerIsShownAndTheProgramGoesOn) {
    auto form = MakeForm();
    QTimer::singleShot(0, form.get(), [] { throw std::runtime_error("something broke"); });
    QTimer::singleShot(0, form.get(), [] { throw 42; });
    QTest::qWait(30);
    ASSERT_EQ(platform.messages.size(), 2u);
    EXPECT_EQ(platform.messages[0].type, MsgType::Error);
    EXPECT_EQ(platform.messages[0].text, "something broke");
    EXPECT_EQ(platform.messages[1].text, "");
    OpenThroughDialog(*form, {Photo("a.jpg")});
    EXPECT_EQ(Caption(*form), "Scarlex : a.jpg");
}

TEST_F(MainFormTest, AFatalErrorIsShownOverTheWindowWrittenOnceAndEndsWithStatusOne) {
    std::vector<QWidget*> parents;
    bool overTheWindow = false;
    platform.beforeAnswer = [&] { overTheWindow = MainForm && MainForm->isVisible() && parents.back() == MainForm; };
    ProgramParts parts;
    parts.setDialogParent = [&](QWidget* w) { parents.push_back(w); };
    parts.messageLoop = []() -> int { throw std::runtime_error("the picture does not fit in memory"); };
    testing::internal::CaptureStderr();
    const int status = RunMainWindow(test::TestApplication(), platform, {}, parts);
    const std::string err = testing::internal::GetCapturedStderr();
    platform.beforeAnswer = nullptr;
    EXPECT_EQ(status, 1);
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0].text, "the picture does not fit in memory");
    EXPECT_TRUE(overTheWindow);
    EXPECT_NE(err.find("scarlex: the picture does not fit in memory\n"), std::string::npos) << err;
    EXPECT_EQ(err.find("scarlex: ", err.find("scarlex: ") + 1), std::string::npos) << "one line: " << err;
    // The dialogs let go of the window before it went.
    EXPECT_EQ(parents, (std::vector<QWidget*>{parents.front(), nullptr}));
    EXPECT_EQ(MainForm, nullptr);
    parts.messageLoop = [] { return 0; };
    EXPECT_EQ(RunMainWindow(test::TestApplication(), platform, {}, parts), 0);
}

}  // namespace
