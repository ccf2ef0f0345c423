#include "app/Unit1.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <QSpinBox>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>
#include <QWhatsThis>
#include <algorithm>
#include <optional>

#include "app/HelpWindow.h"
#include "app/MainWidgets.h"
#include "app/QtPlatform.h"
#include "codec/JpegCodec.h"
#include "common/Paths.h"
#include "platform/Platform.h"

TMainForm* MainForm = nullptr;

using scarlex::AutoSaveTest;
using scarlex::MsgAnswer;
using scarlex::MsgButtons;
using scarlex::MsgType;

namespace {

QString Q(const char* text) { return QString::fromUtf8(text); }

// Tool-bar pictures come from the desktop's icon theme; these drawings stand
// in where the theme has none.
QIcon PaintedIcon(int index) {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(40, 40, 40), 1));
    auto floppy = [&p](QColor body) {
        p.setBrush(body);
        p.drawRect(2, 2, 12, 12);
        p.setBrush(Qt::white);
        p.drawRect(4, 3, 8, 4);
    };
    auto arrow = [&p](int x, QColor colour) {
        QPainterPath path;
        path.moveTo(x, 4);
        path.lineTo(x + 6, 8);
        path.lineTo(x, 12);
        path.closeSubpath();
        p.setBrush(colour);
        p.drawPath(path);
    };
    switch (index) {
        case 0:  // open: a folder
            p.setBrush(QColor(230, 190, 80));
            p.drawRect(1, 5, 14, 9);
            p.drawRect(1, 3, 6, 2);
            break;
        case 1:  // save as: floppy with a pen stroke
            floppy(QColor(70, 110, 190));
            p.setPen(QPen(QColor(200, 40, 40), 2));
            p.drawLine(8, 13, 14, 7);
            break;
        case 2:  // auto save: floppy
            floppy(QColor(70, 110, 190));
            break;
        case 3: {  // undo: a hooked arrow
            p.setPen(QPen(QColor(40, 90, 170), 2));
            p.drawArc(4, 4, 10, 9, 90 * 16, -200 * 16);
            QPainterPath head;
            head.moveTo(2, 6);
            head.lineTo(8, 2);
            head.lineTo(8, 10);
            head.closeSubpath();
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(40, 90, 170));
            p.drawPath(head);
            break;
        }
        case 4:  // next
            arrow(5, QColor(60, 160, 60));
            break;
        case 5:  // auto save and next
            floppy(QColor(70, 110, 190));
            arrow(8, QColor(60, 160, 60));
            break;
        default: break;
    }
    return QIcon(pixmap);
}

QIcon ToolIcon(int index) {
    static const char* const kThemeNames[] = {"document-open", "document-save-as", "document-save",
                                             "edit-undo",     "go-next",          "media-skip-forward"};
    return QIcon::fromTheme(Q(kThemeNames[index]), PaintedIcon(index));
}

QWidget* ToolSeparator(QWidget* parent, const char* name, int width) {
    auto* gap = new QWidget(parent);
    gap->setObjectName(Q(name));
    gap->setFixedWidth(width);
    return gap;
}

QAction* MenuItem(QMenu* menu, const char* name, const char* caption, const char* shortcut, const char* hint) {
    auto* action = menu->addAction(Q(caption));
    action->setObjectName(Q(name));
    if (shortcut) action->setShortcut(QKeySequence(Q(shortcut)));
    if (hint) {
        action->setStatusTip(Q(hint));
        action->setToolTip(Q(hint));
    }
    return action;
}

QAction* MenuSeparator(QMenu* menu, const char* name) {
    QAction* separator = menu->addSeparator();
    separator->setObjectName(Q(name));
    return separator;
}

}  // namespace

TMainForm::TMainForm(scarlex::Platform& platform, std::vector<std::string> commandLine, QWidget* parent)
    : QMainWindow(parent), Desktop(platform), CommandLine(std::move(commandLine)) {
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(Q(kProgramTitle));
    resize(kDesignWidth, kDesignHeight);
    setMinimumWidth(kMinimumWidth);
    CreateMenu();
    CreateToolBar();
    CreateClientArea();
    ConnectCommands();
    SetWhatsThisTexts();
    // Hints are filtered here so that the preference can silence them.
    qApp->installEventFilter(this);
    FormCreate();
}

TMainForm::~TMainForm() {
    qApp->removeEventFilter(this);
    FormDestroy();
    if (MainForm == this) MainForm = nullptr;
}

void TMainForm::CreateMenu() {
    MainMenu1 = menuBar();
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));

    File1 = MainMenu1->addMenu(Q("File"));
    File1->setObjectName(QStringLiteral("File1"));
    Open1 = MenuItem(File1, "Open1", "&Open...", "Ctrl+O", "Open a file for processing");
    N1 = MenuSeparator(File1, "N1");
    Save1 = MenuItem(File1, "Save1", "&Save...", "Ctrl+S", "Save processed file (Brings up dialog box)");
    AutoSave1 = MenuItem(File1, "AutoSave1", "&Auto Save", "Ctrl+Alt+S",
                         "Saves modified file in the same directory as the original, but with a modified name (as per prefs)");
    AutoSaveAndClose1 = MenuItem(File1, "AutoSaveAndClose1", "AutoSave and Close", "Ctrl+R",
                                 "Saves modified file in the same directory as the original, but with a modified name "
                                 "(as per prefs) then closes");
    N2 = MenuSeparator(File1, "N2");
    Exit1 = MenuItem(File1, "Exit1", "E&xit", "Ctrl+Q", "Exit the program");

    Edit1 = MainMenu1->addMenu(Q("Edit"));
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Undo1 = MenuItem(Edit1, "Undo1", "&Undo", "Ctrl+Z", "Undo the last edit");
    N4 = MenuSeparator(Edit1, "N4");
    ShowImageTags1 = MenuItem(Edit1, "ShowImageTags1", "Show Image Tags", "Ctrl+T", nullptr);
    Prefs1 = MenuItem(Edit1, "Prefs1", "Prefs", "Ctrl+P", "Open the prefs screen");

    Help1 = MainMenu1->addMenu(Q("Help"));
    Help1->setObjectName(QStringLiteral("Help1"));
    Help2 = MenuItem(Help1, "Help2", "Help", nullptr, "Opens the help file");
    N3 = MenuSeparator(Help1, "N3");
    AboutScarlex1 = MenuItem(Help1, "AboutScarlex1", "About Scarlex", nullptr, "About Scarlex");

    for (QAction* a : {Save1, AutoSave1, AutoSaveAndClose1, Undo1, ShowImageTags1}) a->setEnabled(false);

    // Shift+F1 starts What's This mode from anywhere in the window.
    QAction* whatsThis = QWhatsThis::createAction(this);
    whatsThis->setObjectName(QStringLiteral("WhatsThisMode"));
    addAction(whatsThis);
}

void TMainForm::CreateToolBar() {
    ToolBar1 = new QToolBar(this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setFixedHeight(29);
    ToolBar1->setIconSize(QSize(16, 16));
    ToolBar1->toggleViewAction()->setVisible(false);
    addToolBar(Qt::TopToolBarArea, ToolBar1);
    for (int i = 0; i < 6; ++i) ILButtonBar.push_back(ToolIcon(i));

    auto button = [this](const char* name, int image, const char* hint) {
        auto* b = new QToolButton(ToolBar1);
        b->setObjectName(Q(name));
        b->setIcon(ILButtonBar[static_cast<size_t>(image)]);
        b->setAutoRaise(true);
        b->setToolTip(Q(hint));
        b->setStatusTip(Q(hint));
        return b;
    };
    ToolButton2 = ToolSeparator(ToolBar1, "ToolButton2", 8);
    TBOpen = button("TBOpen", 0, "Open File");
    ToolButton3 = ToolSeparator(ToolBar1, "ToolButton3", 8);
    TBSaveAs = button("TBSaveAs", 1, "Save as");
    ToolButton5 = ToolSeparator(ToolBar1, "ToolButton5", 8);
    TBAutoSave = button("TBAutoSave", 2, "Auto Save (with appended -nre)");
    ToolButton1 = ToolSeparator(ToolBar1, "ToolButton1", 8);
    TBUndo = button("TBUndo", 3, "undo");
    ToolButton7 = ToolSeparator(ToolBar1, "ToolButton7", 85);
    TBAutoSaveNext = button("TBAutoSaveNext", 5, "Auto Save (with appended -nre) and open next image");
    TBNext = button("TBNext", 4, "Open the next image (discarding any changes to this file)");
    for (QWidget* w : std::initializer_list<QWidget*>{ToolButton2, TBOpen, ToolButton3, TBSaveAs, ToolButton5, TBAutoSave,
                                                      ToolButton1, TBUndo, ToolButton7, TBAutoSaveNext, TBNext})
        ToolBar1->addWidget(w);
    for (QToolButton* b : {TBSaveAs, TBAutoSave, TBUndo, TBAutoSaveNext, TBNext}) b->setEnabled(false);
}

void TMainForm::CreateClientArea() {
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("ClientArea"));
    auto* column = new QVBoxLayout(client);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    Panel2 = new TDropPanel(client);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setFrameShape(QFrame::NoFrame);
    ImageOnForm = new TPictureBox(Panel2);
    ImageOnForm->setObjectName(QStringLiteral("ImageOnForm"));
    auto* fill = new QVBoxLayout(Panel2);
    fill->setContentsMargins(0, 0, 0, 0);
    fill->addWidget(ImageOnForm);
    column->addWidget(Panel2, 1);

    Panel1 = new QWidget(client);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFixedHeight(52);
    auto* panelRows = new QVBoxLayout(Panel1);
    panelRows->setContentsMargins(4, 2, 0, 0);
    panelRows->setSpacing(1);
    auto* controls = new QHBoxLayout;
    controls->setSpacing(4);

    auto caption = [this](const char* text) {
        auto* l = new QLabel(Q(text), Panel1);
        return l;
    };
    auto threshold = [this](const char* name, const char* text) {
        auto* e = new QLineEdit(Q(text), Panel1);
        e->setObjectName(Q(name));
        e->setFixedWidth(40);
        return e;
    };
    auto readout = [this](const char* name, const char* colour) {
        auto* l = new QLabel(QStringLiteral("0"), Panel1);
        l->setObjectName(Q(name));
        l->setMinimumWidth(28);
        if (colour) l->setStyleSheet(QStringLiteral("QLabel { color: %1; font-weight: bold; }").arg(Q(colour)));
        return l;
    };
    SEAttenuation = new QSpinBox(Panel1);
    SEAttenuation->setObjectName(QStringLiteral("SEAttenuation"));
    SEAttenuation->setRange(0, 100);
    SEAttenuation->setValue(0);
    EThresholdRG = threshold("EThresholdRG", "1.6");
    EThresholdRB = threshold("EThresholdRB", "1.1");
    EThresholdR = threshold("EThresholdR", "35");
    LR = readout("LR", "red");
    LG = readout("LG", "green");
    LB = readout("LB", "blue");
    LRG = readout("LRG", nullptr);
    LRB = readout("LRB", nullptr);
    controls->addWidget(caption("Atten. %"));
    controls->addWidget(SEAttenuation);
    controls->addSpacing(6);
    controls->addWidget(caption("R/G"));
    controls->addWidget(EThresholdRG);
    controls->addWidget(caption("R/B"));
    controls->addWidget(EThresholdRB);
    controls->addWidget(caption("R >"));
    controls->addWidget(EThresholdR);
    controls->addSpacing(6);
    for (QLabel* l : {LR, LG, LB, LRG, LRB}) controls->addWidget(l);
    controls->addStretch(1);
    panelRows->addLayout(controls);

    StatusBar = new TPanelStatusBar(Panel1);
    StatusBar->setObjectName(QStringLiteral("StatusBar"));
    StatusBar->setToolTip(
        Q("Radius (Page Up/Page Down) -- Limit (Shift Page Up/Page Down) -- Magnification (CTRL Page Up/Page Down)"));
    panelRows->addWidget(StatusBar);
    column->addWidget(Panel1, 0);

    setCentralWidget(client);
}

void TMainForm::ConnectCommands() {
    connect(Open1, &QAction::triggered, this, [this] { Open1Click(); });
    connect(Save1, &QAction::triggered, this, [this] { Save1Click(); });
    connect(AutoSave1, &QAction::triggered, this, [this] { AutoSave1Click(); });
    connect(AutoSaveAndClose1, &QAction::triggered, this, [this] { AutoSaveAndClose1Click(); });
    connect(Exit1, &QAction::triggered, this, [this] { Exit1Click(); });
    connect(Undo1, &QAction::triggered, this, [this] { Undo1Click(); });
    connect(ShowImageTags1, &QAction::triggered, this, [this] { ShowImageTags1Click(); });
    connect(Prefs1, &QAction::triggered, this, [this] { Prefs1Click(); });
    connect(Help2, &QAction::triggered, this, [this] { Help2Click(); });
    connect(AboutScarlex1, &QAction::triggered, this, [this] { AboutScarlex1Click(); });
    connect(TBOpen, &QToolButton::clicked, this, [this] { Open1Click(); });
    connect(TBSaveAs, &QToolButton::clicked, this, [this] { Save1Click(); });
    connect(TBAutoSave, &QToolButton::clicked, this, [this] { AutoSave1Click(); });
    connect(TBUndo, &QToolButton::clicked, this, [this] { Undo1Click(); });
    connect(TBAutoSaveNext, &QToolButton::clicked, this, [this] { TBAutoSaveNextClick(); });
    connect(TBNext, &QToolButton::clicked, this, [this] { TBNextClick(); });
    connect(Panel2, &TDropPanel::FilesDropped, this, [this](const QStringList& names, QPoint at) {
        std::vector<std::string> list;
        for (const QString& n : names) list.push_back(scarlex::FromQString(n));
        DropFilesDropped(list, static_cast<int>(list.size()), at);
    });
}

void TMainForm::SetWhatsThisTexts() {
    struct Text {
        QObject* target;
        const char* text;
    };
    const Text texts[] = {
        {Open1, "Opens one or more JPEG photographs. The first is shown; the others wait for Next."},
        {TBOpen, "Opens one or more JPEG photographs. The first is shown; the others wait for Next."},
        {Save1, "Saves the photograph under a name you choose. Only the blocks around your edits are re-encoded."},
        {TBSaveAs, "Saves the photograph under a name you choose. Only the blocks around your edits are re-encoded."},
        {AutoSave1, "Saves beside the original under a name formed from the preferences, without asking."},
        {TBAutoSave, "Saves beside the original under a name formed from the preferences, without asking."},
        {AutoSaveAndClose1, "Auto Save, then closes Scarlex."},
        {Exit1, "Closes Scarlex. You are asked first if there are unsaved changes."},
        {Undo1, "Takes back the last red-eye removal. Every removal can be undone, newest first."},
        {TBUndo, "Takes back the last red-eye removal. Every removal can be undone, newest first."},
        {ShowImageTags1, "Lists the EXIF tags of the photograph (only when it has any)."},
        {Prefs1, "File naming, originals, magnifier colours and start-up options."},
        {Help2, "Opens this program's help."},
        {AboutScarlex1, "Version and credits."},
        {TBNext, "Opens the next waiting photograph. Changes to this one are discarded without a question."},
        {TBAutoSaveNext, "Auto Save, then opens the next waiting photograph."},
        {Panel2,
         "The photograph. Right-click for the magnifying glass, aim the crosshair at a red pupil and click. "
         "You can drop JPEG files here from a file manager."},
        {ImageOnForm,
         "The photograph. Right-click for the magnifying glass, aim the crosshair at a red pupil and click. "
         "You can drop JPEG files here from a file manager."},
        {SEAttenuation, "How much darker, in percent, the pixels that lose their red become."},
        {EThresholdRG, "A pixel is treated when its red divided by its green is at least this much."},
        {EThresholdRB, "A pixel is treated when its red divided by its blue is at least this much."},
        {EThresholdR, "A pixel is treated only when its red level is above this number (0 to 255)."},
        {LR, "Red level of the pixel under the aim."},
        {LG, "Green level of the pixel under the aim."},
        {LB, "Blue level of the pixel under the aim."},
        {LRG, "Red divided by green for the pixel under the aim."},
        {LRB, "Red divided by blue for the pixel under the aim."},
        {StatusBar,
         "Position of the aim, magnifier radius (Page Up/Down), limit circle (Shift+Page Up/Down) and "
         "magnification (Ctrl+Page Up/Down)."},
    };
    for (const Text& t : texts) {
        if (auto* w = qobject_cast<QWidget*>(t.target)) w->setWhatsThis(Q(t.text));
        if (auto* a = qobject_cast<QAction*>(t.target)) a->setWhatsThis(Q(t.text));
    }
}

// --- Window events -------------------------------------------------------

void TMainForm::FormCreate() {
    // Bitmaps start empty; the magnifier's composed view is the one that is
    // 24 bits per pixel from the start (every Bitmap is).
    MouseCursor = &Desktop;
    Closing = false;
    // Panel2 needs no switch to double buffering: Qt paints every widget
    // through a back buffer.
    ImageLoaded = false;
    MoveDivisor = 20;
    if (!MainForm) MainForm = this;
}

void TMainForm::FormShow() {
    LoadSettings();
    for (const std::string& arg : CommandLine) PendingFiles.Offer(arg);
    scarlex::OpenNextPending(PendingFiles, *this, AutoSaveTest::Apply);
    Limit = 100;
    Radius = 100;
    StatusBar->SetPanelText(3, Q("Magnification : ") + QString::number(OpeningMagnification));
    StatusBar->SetPanelText(2, Q("Not limiting"));
    StatusBar->SetPanelText(1, Q("Radius : ") + QString::number(Radius));
    if (StartupHints) ShowStartupHints();
    HelpFile = LocateHelpFile(scarlex::FromQString(QCoreApplication::applicationFilePath()));
}

void TMainForm::FormResize() {
    if (!Closing) RenderView();
}

void TMainForm::FormClose(bool& canClose) {
    if (Removing) {
        // The removal runs inside this window's handlers: stop it first and
        // let the user close once the photograph is whole again.
        AbortRemoval = true;
        canClose = false;
        return;
    }
    Closing = true;
    canClose = true;
    if (Saved || UndoRowCount() == 0) return;
    Desktop.Beep();
    switch (Desktop.MessageBox(MsgType::Confirmation, MsgButtons::YesNoCancel, kUnsavedPrompt)) {
        case MsgAnswer::Yes:
            Save1Click();  // closes whatever the save did
            break;
        case MsgAnswer::No: break;
        default:
            canClose = false;
            Closing = false;
            break;
    }
}

void TMainForm::FormDestroy() {
    for (scarlex::Bitmap* b : {&WorkBitmap, &MagnifierView, &LensMask, &LensContent, &LensRings, &LensSource,
                               &DisplayBitmap, &BeforeEditBitmap})
        *b = scarlex::Bitmap();
    SaveSettings();
}

void TMainForm::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (FirstShowDone) return;
    FirstShowDone = true;
    FormShow();
}

void TMainForm::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    FormResize();
}

void TMainForm::closeEvent(QCloseEvent* event) {
    bool canClose = true;
    FormClose(canClose);
    if (canClose) {
        event->accept();
    } else {
        event->ignore();
    }
}

void TMainForm::keyPressEvent(QKeyEvent* event) {
    const Qt::KeyboardModifiers mods = event->modifiers();
    if (event->key() == Qt::Key_N && mods.testFlag(Qt::ControlModifier) && !mods.testFlag(Qt::AltModifier)) {
        if (!PendingFiles.Empty()) {
            if (mods.testFlag(Qt::ShiftModifier)) {
                TBAutoSaveNextClick();
            } else {
                TBNextClick();
            }
        }
        event->accept();
        return;
    }
    if (event->text() == QStringLiteral("p") && !(mods & (Qt::ControlModifier | Qt::AltModifier))) {
        Help2Click();
        event->accept();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

bool TMainForm::event(QEvent* event) {
    if (event->type() == QEvent::StatusTip) {
        // Hints go to the bar in the bottom panel.
        QString tip = static_cast<QStatusTipEvent*>(event)->tip();
        if (tip.isEmpty()) {
            StatusBar->clearMessage();
        } else {
            StatusBar->showMessage(tip);
        }
        return true;
    }
    return QMainWindow::event(event);
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ToolTip && !ShowPopupHints) {
        if (auto* w = qobject_cast<QWidget*>(watched); w && w->window() == this) return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

// --- Commands --------------------------------------------------------------

void TMainForm::Open1Click() {
    if (Removing) return;
    std::optional<std::vector<std::string>> chosen =
        Desktop.OpenFilesDialog(scarlex::MakeOpenDialogRequest(RememberOpenFolder, LastOpenFolder));
    if (!chosen) return;
    PendingFiles.OfferAll(*chosen);
    std::string tried = scarlex::OpenNextPending(PendingFiles, *this, AutoSaveTest::Apply);
    if (RememberOpenFolder) {
        std::string folder = scarlex::FolderToRemember(tried, *chosen);
        if (!folder.empty()) LastOpenFolder = folder;
    }
}

void TMainForm::DropFilesDropped(const std::vector<std::string>& names, int count, QPoint) {
    if (Removing) return;
    for (int i = 0; i < count && i < static_cast<int>(names.size()); ++i)
        PendingFiles.Offer(scarlex::CleanDroppedName(names[static_cast<size_t>(i)]));
    scarlex::OpenNextPending(PendingFiles, *this, AutoSaveTest::Skip);
}

void TMainForm::TBNextClick() {
    if (Removing) return;
    scarlex::OpenNextInQueue(PendingFiles, *this);
}

void TMainForm::TBAutoSaveNextClick() {
    if (Removing) return;
    AutoSave1Click();
    TBNextClick();
}

void TMainForm::Save1Click() {
    if (Removing || !ImageLoaded) return;
    if (SaveCurrent(SaveMode::WithDialog)) Saved = true;
}

void TMainForm::AutoSave1Click() {
    if (Removing || !ImageLoaded) return;
    if (SaveCurrent(SaveMode::Automatic)) Saved = true;
}

void TMainForm::AutoSaveAndClose1Click() {
    if (Removing) return;
    AutoSave1Click();
    close();
}

void TMainForm::Exit1Click() { close(); }

void TMainForm::Undo1Click() {
    if (Removing) return;
    if (!UndoLastEdit()) return;
    Saved = false;
    if (UndoRowCount() == 0) {
        Undo1->setEnabled(false);
        TBUndo->setEnabled(false);
    }
    RenderView();
}

void TMainForm::ShowImageTags1Click() {
    // The image tags window shows the listing once it is wired in.
}

void TMainForm::Prefs1Click() {
    // The preferences dialog calls PreferencesAccepted on OK once wired in.
}

void TMainForm::AboutScarlex1Click() {
    // The About box is shown modally once wired in.
}

void TMainForm::Help2Click() {
    if (HelpFile.empty()) HelpFile = LocateHelpFile(scarlex::FromQString(QCoreApplication::applicationFilePath()));
    if (!HelpViewer) HelpViewer = new THelpWindow(this);
    if (!HelpViewer->LoadHelpFile(scarlex::ToQString(HelpFile))) {
        Desktop.MessageBox(MsgType::Error, MsgButtons::Ok, "Cannot open the help file " + HelpFile);
        return;
    }
    HelpViewer->show();
    HelpViewer->raise();
    HelpViewer->activateWindow();
}

void TMainForm::EditRecorded() {
    Saved = false;
    Undo1->setEnabled(true);
    TBUndo->setEnabled(true);
}

// --- Loading -----------------------------------------------------------------

bool TMainForm::LoadImageFile(const std::string& name) {
    scarlex::CodecResult decoded;
    {
        scarlex::BusyCursor busy(Desktop);
        decoded = scarlex::DecodeJpegToBitmap(name, WorkBitmap, SourceSampling);
    }
    if (!decoded) {
        // The photograph on screen stays, and so does everything about it.
        std::string text = decoded.error;
        if (text.find(name) == std::string::npos) text += "\n" + name;
        Desktop.MessageBox(MsgType::Error, MsgButtons::Ok, text);
        return false;
    }
    CurrentFile = name;

    MetadataSummary meta = ReadMetadata(name);
    ShowImageTags1->setEnabled(meta.found && meta.hasExif);

    ClearUndoStore();
    Undo1->setEnabled(false);
    TBUndo->setEnabled(false);

    ImageLoaded = true;

    Save1->setEnabled(true);
    TBSaveAs->setEnabled(true);
    SetAutoSaveCommandsEnabled();

    RenderView();
    setWindowTitle(Q(kCaptionPrefix) + scarlex::ToQString(scarlex::ExtractFileName(name)));
    Saved = false;

    raise();
    activateWindow();
    return true;
}

void TMainForm::RenderView() {
    // Nearest-neighbour fit to the panel, touching it on one side, at its
    // top-left corner.
    if (!ImageLoaded || WorkBitmap.Empty()) return;
    const int vw = Panel2->width();
    const int vh = Panel2->height();
    if (vw <= 0 || vh <= 0) return;
    const float byHeight = static_cast<float>(WorkBitmap.Height()) / static_cast<float>(vh);
    const float byWidth = static_cast<float>(WorkBitmap.Width()) / static_cast<float>(vw);
    ViewScale = byHeight > byWidth ? byHeight : byWidth;
    MagnifierScale = ViewScale / static_cast<float>(Magnification);
    const int dw = static_cast<int>(static_cast<long double>(WorkBitmap.Width()) / ViewScale);
    const int dh = static_cast<int>(static_cast<long double>(WorkBitmap.Height()) / ViewScale);
    DisplayBitmap.SetSize(dw, dh);
    for (int y = 0; y < dh; ++y) {
        int sy = std::min(WorkBitmap.Height() - 1, static_cast<int>(static_cast<long double>(y) * ViewScale));
        const uint8_t* src = WorkBitmap.Row(sy);
        uint8_t* dst = DisplayBitmap.Row(y);
        for (int x = 0; x < dw; ++x) {
            int sx = std::min(WorkBitmap.Width() - 1, static_cast<int>(static_cast<long double>(x) * ViewScale));
            std::copy_n(src + 3 * sx, 3, dst + 3 * x);
        }
    }
    ImageOnForm->SetPicture(DisplayBitmap);
}

// --- Enabling ------------------------------------------------------------

bool TMainForm::OriginalsFolderUsable() const { return MoveOriginal && scarlex::DirectoryExists(OriginalsFolder); }

bool TMainForm::AutoSavePossible() { return OriginalsFolderUsable() || AppendEnabled || RenameOriginal; }

void TMainForm::SetNextEnabled(bool enabled) { TBNext->setEnabled(enabled); }

void TMainForm::SetAutoSaveNextEnabled(bool enabled) { TBAutoSaveNext->setEnabled(enabled); }

void TMainForm::SetAutoSaveCommandsEnabled() {
    const bool possible = AutoSavePossible();
    AutoSave1->setEnabled(possible);
    AutoSaveAndClose1->setEnabled(possible);
    TBAutoSave->setEnabled(possible);
}

void TMainForm::PreferencesAccepted() {
    ApplyPopupHints();
    SetAutoSaveHint();
    SetAutoSaveCommandsEnabled();
}

void TMainForm::ApplyPopupHints() {
    // The event filter reads ShowPopupHints; hide a tip already showing.
    if (!ShowPopupHints) QToolTip::hideText();
}

void TMainForm::SetAutoSaveHint() {
    QString hint = Q("Auto Save (with appended ") + QString::fromStdString(FileNameAppend) + Q(")");
    TBAutoSave->setToolTip(hint);
    TBAutoSave->setStatusTip(hint);
}

// --- Seams for the parts wired in elsewhere ------------------------------

bool TMainForm::SaveCurrent(SaveMode) { return false; }

TMainForm::MetadataSummary TMainForm::ReadMetadata(const std::string&) { return {}; }

int TMainForm::UndoRowCount() const { return UndoRows; }

void TMainForm::ClearUndoStore() { UndoRows = 0; }

bool TMainForm::UndoLastEdit() {
    if (UndoRows == 0) return false;
    --UndoRows;
    return true;
}

void TMainForm::LoadSettings() {
    // Values of a first run with no settings file.
    UseIniFile = false;
    ShowPopupHints = true;
    AppendEnabled = true;
    FileNameAppend = " - nre";
    RenameOriginal = false;
    RenameExtension = ".OGL";
    MoveOriginal = false;
    OriginalsFolder.clear();
    ForceGrey = true;
    RememberOpenFolder = true;
    LastOpenFolder.clear();
    LastSaveFolder.clear();
    RememberSaveFolder = true;
    NumberDuplicates = true;
    MagnifierBorderColour = 0x00FF0000;
    LimitBorderColour = 0x00FFFF00;
    OpeningMagnification = 5;
    NextHint = 0;
    StartupHints = true;
    RememberThresholds = false;
    Magnification = OpeningMagnification;
    setGeometry(300, 126, kMinimumWidth, 640);
    SetAutoSaveHint();
    ApplyPopupHints();
}

void TMainForm::SaveSettings() {
    // Written only when UseIniFile is set, once the settings file is wired in.
}

void TMainForm::ShowStartupHints() {
    // The startup hints window is shown modally here once wired in.
}
