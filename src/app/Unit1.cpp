#include "app/Unit1.h"

#include <QAction>
#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStatusTipEvent>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>
#include <QWhatsThis>
#include <algorithm>
#include <cstdio>
#include <optional>

#include "app/HelpWindow.h"
#include "app/MainWidgets.h"
#include "app/QtPlatform.h"
#include "app/RemovalReport.h"
#include "codec/DecodeDamage.h"
#include "codec/JpegCodec.h"
#include "common/Orientation.h"
#include "detect/Detector.h"
#include "editing/FittedRemoval.h"
#include "common/Paths.h"
#include "editing/FloatText.h"
#include "metadata/ImageInfo.h"
#include "platform/Platform.h"
#include "settings/Prefs.h"
#include "windows/About.h"
#include "windows/Hints.h"
#include "windows/Tags.h"

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
    ConnectView();
    SetWhatsThisTexts();
    SetNextHint();
    ReportTimer = new QTimer(this);
    ReportTimer->setSingleShot(true);
    connect(ReportTimer, &QTimer::timeout, this, [this] {
        ReportText.clear();
        StatusBar->ClearFitted();
    });
    // Hints are filtered here so that the preference can silence them.
    qApp->installEventFilter(this);
    FormCreate();
}

TMainForm::~TMainForm() {
    qApp->removeEventFilter(this);
    FormDestroy();
    // The secondary windows work on this window's settings: they go first.
    delete FTags;
    delete FPrefs;
    delete FHints;
    delete FAbout;
    if (MainForm == this) MainForm = nullptr;
}

void TMainForm::CreateSecondaryWindows() {
    if (!FAbout) FAbout = new scarlex::TFAbout(this);
    if (!FHints) FHints = new scarlex::TFHints(Settings, this);
    if (!FPrefs) FPrefs = new scarlex::TFPrefs(Desktop, scarlex::SettingsFilePath(), this);
    if (!FTags) FTags = new scarlex::TFTags(this);
}

void TMainForm::CreateMenu() {
    MainMenu1 = menuBar();
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));

    File1 = MainMenu1->addMenu(Q("File"));
    File1->setObjectName(QStringLiteral("File1"));
    Open1 = MenuItem(File1, "Open1", "&Open...", "Ctrl+O", "Open a file for processing");
    Next1 = MenuItem(File1, "Next1", "&Next", "Ctrl+N", "Open the next image (discarding any changes to this file)");
    N1 = MenuSeparator(File1, "N1");
    Save1 = MenuItem(File1, "Save1", "&Save...", "Ctrl+S", "Save processed file (Brings up dialog box)");
    AutoSave1 = MenuItem(File1, "AutoSave1", "&Auto Save", "Ctrl+Alt+S",
                         "Saves modified file in the same directory as the original, but with a modified name (as per prefs)");
    AutoSaveAndClose1 = MenuItem(File1, "AutoSaveAndClose1", "AutoSave and Close", "Ctrl+R",
                                 "Saves modified file in the same directory as the original, but with a modified name "
                                 "(as per prefs) then closes");
    AutoSaveAndNext1 = MenuItem(File1, "AutoSaveAndNext1", "AutoSave and Nex&t", "Ctrl+Shift+N",
                                "Auto Save (with appended -nre) and open next image");
    N2 = MenuSeparator(File1, "N2");
    Exit1 = MenuItem(File1, "Exit1", "E&xit", "Ctrl+Q", "Exit the program");

    Edit1 = MainMenu1->addMenu(Q("Edit"));
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Undo1 = MenuItem(Edit1, "Undo1", "&Undo", "Ctrl+Z", "Undo the last edit");
    Redo1 = MenuItem(Edit1, "Redo1", "&Redo", "Ctrl+Shift+Z", "Redo the last undone edit");
    Redo1->setShortcuts({QKeySequence(Q("Ctrl+Shift+Z")), QKeySequence(Q("Ctrl+Y"))});
    FindRedEyes1 = MenuItem(Edit1, "FindRedEyes1", "&Find Red Eyes", "Ctrl+F",
                            "Find the red pupils and circle them: Enter fixes the circled ones, Esc dismisses them");
    N4 = MenuSeparator(Edit1, "N4");
    ShowImageTags1 = MenuItem(Edit1, "ShowImageTags1", "Show Image Tags", "Ctrl+T", nullptr);
    Prefs1 = MenuItem(Edit1, "Prefs1", "Prefs", "Ctrl+P", "Open the prefs screen");

    View1 = MainMenu1->addMenu(Q("View"));
    View1->setObjectName(QStringLiteral("View1"));
    FitToWindow1 = MenuItem(View1, "FitToWindow1", "&Fit to Window", "Ctrl+0", "Show the whole photograph");
    ActualPixels1 = MenuItem(View1, "ActualPixels1", "&Actual Pixels", "Ctrl+1",
                             "One photograph pixel to one screen pixel (100 %)");
    ZoomIn1 = MenuItem(View1, "ZoomIn1", "Zoom &In", "Ctrl++", "Enlarge the view (up to 800 %)");
    ZoomIn1->setShortcuts({QKeySequence(Q("Ctrl++")), QKeySequence(Q("Ctrl+="))});
    ZoomOut1 = MenuItem(View1, "ZoomOut1", "Zoom &Out", "Ctrl+-", "Reduce the view (down to the whole photograph)");
    N5 = MenuSeparator(View1, "N5");
    ShowOriginal1 = MenuItem(View1, "ShowOriginal1", "Show &Original", nullptr,
                             "Show the photograph as it was loaded (or hold B)");
    ShowOriginal1->setCheckable(true);

    Help1 = MainMenu1->addMenu(Q("Help"));
    Help1->setObjectName(QStringLiteral("Help1"));
    Help2 = MenuItem(Help1, "Help2", "Help", "P", "Opens the help file");
    N3 = MenuSeparator(Help1, "N3");
    AboutScarlex1 = MenuItem(Help1, "AboutScarlex1", "About Scarlex", nullptr, "About Scarlex");

    for (QAction* a :
         {Save1, AutoSave1, AutoSaveAndClose1, Undo1, Redo1, FindRedEyes1, ShowImageTags1, Next1, AutoSaveAndNext1})
        a->setEnabled(false);

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
    ImageOnForm = new scarlex::ImageOnForm(WorkBitmap, Desktop, Panel2);
    ImageOnForm->setObjectName(QStringLiteral("ImageOnForm"));
    HorzScrollBar = new QScrollBar(Qt::Horizontal, Panel2);
    HorzScrollBar->setObjectName(QStringLiteral("HorzScrollBar"));
    VertScrollBar = new QScrollBar(Qt::Vertical, Panel2);
    VertScrollBar->setObjectName(QStringLiteral("VertScrollBar"));
    HorzScrollBar->hide();
    VertScrollBar->hide();
    auto* fill = new QGridLayout(Panel2);
    fill->setContentsMargins(0, 0, 0, 0);
    fill->setSpacing(0);
    fill->addWidget(ImageOnForm, 0, 0);
    fill->addWidget(VertScrollBar, 0, 1);
    fill->addWidget(HorzScrollBar, 1, 0);
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
    // Narrower than its panels, the bar would cut their texts.
    setMinimumWidth(std::max(kMinimumWidth, StatusBar->PanelsWidth() + 4));

    setCentralWidget(client);
}

void TMainForm::ConnectCommands() {
    connect(Open1, &QAction::triggered, this, [this] { Open1Click(); });
    connect(Save1, &QAction::triggered, this, [this] { Save1Click(); });
    connect(AutoSave1, &QAction::triggered, this, [this] { AutoSave1Click(); });
    connect(AutoSaveAndClose1, &QAction::triggered, this, [this] { AutoSaveAndClose1Click(); });
    connect(Next1, &QAction::triggered, this, [this] { TBNextClick(); });
    connect(AutoSaveAndNext1, &QAction::triggered, this, [this] { TBAutoSaveNextClick(); });
    connect(Exit1, &QAction::triggered, this, [this] { Exit1Click(); });
    connect(Undo1, &QAction::triggered, this, [this] { Undo1Click(); });
    connect(Redo1, &QAction::triggered, this, [this] { Redo1Click(); });
    connect(FindRedEyes1, &QAction::triggered, this, [this] { FindRedEyes1Click(); });
    connect(ShowOriginal1, &QAction::triggered, this, [this] { ShowOriginal1Click(); });
    connect(FitToWindow1, &QAction::triggered, ImageOnForm, &scarlex::ImageOnForm::FitToWindow);
    connect(ActualPixels1, &QAction::triggered, ImageOnForm, &scarlex::ImageOnForm::ActualPixels);
    connect(ZoomIn1, &QAction::triggered, ImageOnForm, &scarlex::ImageOnForm::ZoomIn);
    connect(ZoomOut1, &QAction::triggered, ImageOnForm, &scarlex::ImageOnForm::ZoomOut);
    connect(ImageOnForm, &scarlex::ImageOnForm::scrollChanged, this, [this] { UpdateScrollBars(); });
    connect(HorzScrollBar, &QScrollBar::valueChanged, this,
            [this](int x) { ImageOnForm->ScrollTo(x, ImageOnForm->State().ScrollY); });
    connect(VertScrollBar, &QScrollBar::valueChanged, this,
            [this](int y) { ImageOnForm->ScrollTo(ImageOnForm->State().ScrollX, y); });
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

void TMainForm::ConnectView() {
    using scarlex::ClickRequest;
    connect(ImageOnForm, &scarlex::ImageOnForm::clickAt, this,
            [this](const ClickRequest& request) { ImageOnFormMouseUp(request); });
    // Esc or a release during the walk: the walk stops at its next call
    // and the removal puts the photograph back.
    connect(ImageOnForm, &scarlex::ImageOnForm::removalAborted, this, [this] {
        if (Removing) AbortRemoval = true;
    });
    connect(ImageOnForm, &scarlex::ImageOnForm::statusTextChanged, this, [this](int panel, const QString& text) {
        StatusBar->SetPanelText(panel, text);
        // A report hides the panels: it gives way once the user changes the
        // radius, the limit or the magnification and wants to see them.
        if (panel != scarlex::kPanelPosition && panel != scarlex::kPanelSpare && !ReportText.isEmpty()) {
            ReportText.clear();
            StatusBar->ClearFitted();
        }
    });
    connect(ImageOnForm, &scarlex::ImageOnForm::pixelReadoutChanged, this,
            [this](const QString& r, const QString& g, const QString& b, const QString& rg, const QString& rb) {
                LR->setText(r);
                LG->setText(g);
                LB->setText(b);
                LRG->setText(rg);
                LRB->setText(rb);
            });
    // Ctrl+N and Ctrl+Shift+N reach here when their menu items are off
    // (Auto Save and Next needs a possible auto-save, the keys only a queue).
    connect(ImageOnForm, &scarlex::ImageOnForm::nextImageRequested, this, [this](bool shift) {
        if (PendingFiles.Empty()) return;
        if (shift) {
            TBAutoSaveNextClick();
        } else {
            TBNextClick();
        }
    });
    connect(ImageOnForm, &scarlex::ImageOnForm::helpRequested, this, [this] { Help2Click(); });
    connect(ImageOnForm, &scarlex::ImageOnForm::originalHeld, this, [this](bool held) { ShowOriginalHeld(held); });
    connect(ImageOnForm, &scarlex::ImageOnForm::enterPressed, this, [this] {
        if (!Suggestions.empty()) FixSuggestedPupils();
    });
    connect(ImageOnForm, &scarlex::ImageOnForm::escapePressed, this, [this] {
        if (!Suggestions.empty() && !Removing) DismissSuggestions();
    });
    // Keys and wheel anywhere in the window reach the view first.
    ImageOnForm->InstallKeyPreview(this);
    ImageOnForm->SetColours(MagnifierBorderColour, LimitBorderColour);
    ImageOnForm->SetMagnification(OpeningMagnification);

    SaveJpeg.WorkBitmap = &WorkBitmap;
    SaveJpeg.UndoRows = [this] { return DBUndoTable.Rectangles(); };
    scarlex::UseMetadata(SaveJpeg, ImageMeta);
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
        {Redo1, "Puts back the last removal you undid (Ctrl+Shift+Z or Ctrl+Y). A new removal ends what can be "
                "redone."},
        {FitToWindow1, "Shows the whole photograph, as large as the window allows. Every photograph opens so."},
        {ActualPixels1, "Shows one photograph pixel on one screen pixel (100 %). Scroll with the scroll bars, the "
                        "arrow keys (magnifier off) or by dragging with the middle button."},
        {ZoomIn1, "Enlarges the view a step (1.4 times), up to 800 %. The magnifying glass and clicks work at every "
                  "zoom."},
        {ZoomOut1, "Reduces the view a step, down to the whole photograph."},
        {FindRedEyes1, "Finds the red pupils of the photograph and draws a circle on each. Click a circle to leave "
                       "it out (click again to take it back), press Enter to fix every circled pupil (each one "
                       "undo step) or Esc to dismiss them. A left click with Ctrl held fixes the pupil under the "
                       "crosshair the same way."},
        {ShowOriginal1, "Shows the photograph as it was loaded, without your edits, in the view and the magnifying "
                        "glass, for comparing. Holding B does the same while it is held. Nothing is changed."},
        {TBUndo, "Takes back the last red-eye removal. Every removal can be undone, newest first."},
        {ShowImageTags1, "Lists the EXIF tags of the photograph (only when it has any)."},
        {Prefs1, "File naming, originals, magnifier colours and start-up options."},
        {Help2, "Opens this program's help."},
        {AboutScarlex1, "Version and credits."},
        {TBNext, "Opens the next waiting photograph. You are asked first if there are unsaved changes."},
        {TBAutoSaveNext, "Auto Save, then opens the next waiting photograph."},
        {Next1, "Opens the next waiting photograph. You are asked first if there are unsaved changes."},
        {AutoSaveAndNext1, "Auto Save, then opens the next waiting photograph."},
        {Panel2,
         "The photograph. Right-click for the magnifying glass, aim the crosshair at a red pupil and click. "
         "You can drop JPEG files here from a file manager."},
        {ImageOnForm,
         "The photograph. Right-click for the magnifying glass, aim the crosshair at a red pupil and click; "
         "hold Ctrl as you release to fix the whole pupil in one go. Edit > Find Red Eyes (Ctrl+F) circles the "
         "red pupils for you. Hold B to see the original. You can drop JPEG files here from a file manager."},
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
    Closing = false;
    // Panel2 needs no switch to double buffering: Qt paints every widget
    // through a back buffer.
    ImageLoaded = false;
    ImageOnForm->State().MoveDivisor = 20;
    if (!MainForm) MainForm = this;
}

void TMainForm::FormShow() {
    CreateSecondaryWindows();
    LoadSettings();
    for (const std::string& arg : CommandLine) PendingFiles.Offer(arg);
    LoadingCommandLine = true;
    scarlex::OpenNextPending(PendingFiles, *this, AutoSaveTest::Apply);
    LoadingCommandLine = false;
    ImageOnForm->SetStartValues();
    StatusBar->SetPanelText(3, Q("Magnification : ") + QString::number(OpeningMagnification));
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
    ImageOnForm->SetClosing(true);
    // Yes closes only once the save has completed: a cancelled dialog or a
    // failed save keeps the window on the edits.
    canClose = ConfirmDiscard(DiscardBy::Closing);
    if (!canClose) {
        Closing = false;
        ImageOnForm->SetClosing(false);
    }
}

bool TMainForm::HasUnsavedEdits() const { return ImageLoaded && !Saved && UndoRowCount() > 0; }

bool TMainForm::ConfirmDiscard(DiscardBy by) {
    if (!HasUnsavedEdits()) return true;
    if (by == DiscardBy::Loading && !AskBeforeDiscard) return true;
    Desktop.Beep();
    switch (Desktop.MessageBox(MsgType::Confirmation, MsgButtons::YesNoCancel, kUnsavedPrompt)) {
        case MsgAnswer::Yes: return Save1Click();
        case MsgAnswer::No: return true;
        default: return false;
    }
}

void TMainForm::FormDestroy() {
    ImageOnForm->SetImageLoaded(false);
    WorkBitmap = scarlex::Bitmap();
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

void TMainForm::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    // B released in another window never reaches this one.
    if (event->type() == QEvent::ActivationChange && !isActiveWindow() && OriginalHeld) ShowOriginalHeld(false);
}

bool TMainForm::event(QEvent* event) {
    if (event->type() == QEvent::StatusTip) {
        // Hints go to the bar in the bottom panel; a report still showing
        // comes back once the hint has gone.
        QString tip = static_cast<QStatusTipEvent*>(event)->tip();
        if (!tip.isEmpty()) {
            StatusBar->ShowFitted(tip);
        } else if (!ReportText.isEmpty()) {
            StatusBar->ShowFitted(ReportText);
        } else {
            StatusBar->ClearFitted();
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

namespace {
// The queue and the Next buttons before an Open or a drop, put back when
// the user keeps the photograph on screen: the new names do not linger.
struct QueueSnapshot {
    scarlex::FileQueue queue;
    bool next, autoSaveNext;
};
}  // namespace

void TMainForm::Open1Click() {
    if (Removing) return;
    std::optional<std::vector<std::string>> chosen =
        Desktop.OpenFilesDialog(scarlex::MakeOpenDialogRequest(RememberOpenFolder, LastOpenFolder, CurrentFile));
    if (!chosen) return;
    const QueueSnapshot before{PendingFiles, TBNext->isEnabled(), TBAutoSaveNext->isEnabled()};
    PendingFiles.OfferAll(*chosen);
    const scarlex::QueueStep step = scarlex::OpenNextPending(PendingFiles, *this, AutoSaveTest::Apply);
    if (step.outcome == scarlex::LoadOutcome::Declined) {
        PendingFiles = before.queue;
        SetNextEnabled(before.next);
        SetAutoSaveNextEnabled(before.autoSaveNext);
    }
    if (RememberOpenFolder) {
        const std::string loaded = step.outcome == scarlex::LoadOutcome::Loaded ? step.name : std::string();
        std::string folder = scarlex::FolderToRemember(loaded, *chosen);
        if (!folder.empty()) LastOpenFolder = folder;
    }
}

void TMainForm::DropFilesDropped(const std::vector<std::string>& names, int count, QPoint) {
    if (Removing) return;
    const QueueSnapshot before{PendingFiles, TBNext->isEnabled(), TBAutoSaveNext->isEnabled()};
    for (int i = 0; i < count && i < static_cast<int>(names.size()); ++i)
        PendingFiles.Offer(scarlex::CleanDroppedName(names[static_cast<size_t>(i)]));
    if (scarlex::OpenNextPending(PendingFiles, *this, AutoSaveTest::Skip).outcome == scarlex::LoadOutcome::Declined) {
        PendingFiles = before.queue;
        SetNextEnabled(before.next);
        SetAutoSaveNextEnabled(before.autoSaveNext);
    }
}

void TMainForm::TBNextClick() {
    if (Removing) return;
    scarlex::OpenNextInQueue(PendingFiles, *this);
}

void TMainForm::TBAutoSaveNextClick() {
    if (Removing) return;
    // A save that was cancelled, refused or failed keeps the photograph.
    if (ImageLoaded && !AutoSave1Click()) return;
    TBNextClick();
}

bool TMainForm::Save1Click() {
    if (Removing || !ImageLoaded) return false;
    if (!SaveCurrent(SaveMode::WithDialog)) return false;
    SaveCompleted();
    return true;
}

bool TMainForm::AutoSave1Click() {
    if (Removing || !ImageLoaded) return false;
    if (!SaveCurrent(SaveMode::Automatic)) return false;
    SaveCompleted();
    return true;
}

namespace {

QString SizeText(long long bytes) {
    const QLocale locale;
    if (bytes < 1000) return QStringLiteral("%1 bytes").arg(bytes);
    if (bytes < 1000 * 1000) return locale.toString(static_cast<double>(bytes) / 1000, 'f', 0) + QStringLiteral(" kB");
    return locale.toString(static_cast<double>(bytes) / (1000 * 1000), 'f', 1) + QStringLiteral(" MB");
}

// "Saved NAME (N edits, SIZE)"; the folder is named too when the output
// went somewhere else than beside the photograph.
QString SavedText(const scarlex::SaveReport& report, const std::string& photograph) {
    const std::string& out = report.output.empty() ? photograph : report.output;
    const bool beside = scarlex::ExtractFilePath(out) == scarlex::ExtractFilePath(photograph);
    QString text = QStringLiteral("Saved ") + scarlex::ToQString(beside ? scarlex::ExtractFileName(out) : out) +
                   QStringLiteral(" (") + QString::number(report.undoRows) +
                   (report.undoRows == 1 ? QStringLiteral(" edit") : QStringLiteral(" edits"));
    if (report.outputSize >= 0) text += QStringLiteral(", ") + SizeText(report.outputSize);
    text += QStringLiteral(")");
    // A save that had to keep the original's quality says so.
    if (report.keptQualityInstead)
        text += QStringLiteral(" with the original's quality kept: its tables cannot be shared with quality 75");
    return text;
}

}  // namespace

void TMainForm::SaveCompleted() {
    Saved = true;
    UpdateModifiedMark();
    ShowReport(SavedText(LastSaveReport, CurrentFile));
}

void TMainForm::AutoSaveAndClose1Click() {
    if (Removing) return;
    // The window stays on the edits when the auto-save did not complete.
    if (ImageLoaded && !AutoSave1Click()) return;
    close();
}

void TMainForm::Exit1Click() { close(); }

void TMainForm::Undo1Click() {
    if (Removing || !ImageLoaded) return;
    if (!UndoLastEdit()) return;
    Saved = false;
    SetUndoRedoEnabled();
    UpdateModifiedMark();
    RenderView();
}

void TMainForm::Redo1Click() {
    if (Removing || !ImageLoaded) return;
    if (!DBUndoTable.Redo(WorkBitmap)) return;
    Saved = false;
    SetUndoRedoEnabled();
    UpdateModifiedMark();
    RenderView();
}

void TMainForm::UpdateScrollBars() {
    const scarlex::ViewState& view = ImageOnForm->State();
    const bool zoomed = ImageLoaded && view.Zoomed();
    const QSignalBlocker h(HorzScrollBar), v(VertScrollBar);
    HorzScrollBar->setRange(0, std::max(0, view.ContentWidth() - view.ViewWidth));
    HorzScrollBar->setPageStep(std::max(1, view.ViewWidth));
    HorzScrollBar->setSingleStep(std::max(16, view.ViewWidth / 10));
    HorzScrollBar->setValue(view.ScrollX);
    VertScrollBar->setRange(0, std::max(0, view.ContentHeight() - view.ViewHeight));
    VertScrollBar->setPageStep(std::max(1, view.ViewHeight));
    VertScrollBar->setSingleStep(std::max(16, view.ViewHeight / 10));
    VertScrollBar->setValue(view.ScrollY);
    // Both bars while zoomed, so that the view's size does not depend on
    // the scroll range it sets.
    HorzScrollBar->setVisible(zoomed);
    VertScrollBar->setVisible(zoomed);
}

void TMainForm::SetUndoRedoEnabled() {
    const bool undo = UndoRowCount() > 0;
    Undo1->setEnabled(undo);
    TBUndo->setEnabled(undo);
    Redo1->setEnabled(DBUndoTable.RedoCount() > 0);
}

void TMainForm::ShowOriginal1Click() { UpdateOriginalShown(); }

void TMainForm::FindRedEyes1Click() {
    if (Removing || !ImageLoaded) return;
    {
        scarlex::BusyCursor busy(Desktop);
        // The cascades are read once, at the first search.
        if (!Detector) Detector = std::make_unique<scarlex::RedPupilDetector>();
        Suggestions.clear();
        for (const scarlex::SuggestedPupil& p : Detector->Detect(WorkBitmap, PhotoOrientation))
            Suggestions.push_back({p, true});
    }
    ShowSuggestions();
}

void TMainForm::ShowSuggestions() {
    // The view draws upright: the suggestions are in stored pixels.
    const scarlex::Orientation turn(ImageOnForm->OrientationTag(), WorkBitmap.Width(), WorkBitmap.Height());
    std::vector<scarlex::ImageOnForm::Suggestion> shown;
    int selected = 0;
    for (const SuggestedEye& eye : Suggestions) {
        scarlex::ImageOnForm::Suggestion s;
        // Pixel centres at whole numbers there; the view measures from
        // pixel corners.
        turn.ToUpright(eye.pupil.x, eye.pupil.y, s.x, s.y);
        s.x += 0.5;
        s.y += 0.5;
        s.radius = eye.pupil.radius;
        s.selected = eye.selected;
        selected += eye.selected ? 1 : 0;
        shown.push_back(s);
    }
    ImageOnForm->SetSuggestions(std::move(shown));
    if (Suggestions.empty()) {
        ShowReport(QStringLiteral("No red eyes found — aim at a pupil and click, or Ctrl+click to fit one"));
        return;
    }
    const int n = static_cast<int>(Suggestions.size());
    ShowReport(QStringLiteral("Found %1 red %2, %3 circled: click a circle to leave it out, Enter fixes, Esc dismisses")
                   .arg(n)
                   .arg(n == 1 ? QStringLiteral("eye") : QStringLiteral("eyes"))
                   .arg(selected));
}

void TMainForm::DismissSuggestions() {
    Suggestions.clear();
    ImageOnForm->SetSuggestions({});
    ShowReport(QStringLiteral("Suggested red eyes dismissed"));
}

void TMainForm::FixSuggestedPupils() {
    if (Removing || !ImageLoaded) return;
    if (OriginalShown()) {
        ShowReport(QStringLiteral("Showing the original: release B or untick View > Show Original to edit"));
        return;
    }
    const scarlex::ThresholdConversion converted =
        scarlex::ConvertThresholds(CurrentEditSettings(), scarlex::UserDecimalSeparator());
    if (!converted.ok) {
        Desktop.MessageBox(MsgType::Error, MsgButtons::Ok, converted.error);
        return;
    }
    int fixed = 0;
    {
        scarlex::BusyCursor busy(Desktop);
        for (const SuggestedEye& eye : Suggestions) {
            if (!eye.selected) continue;
            // Each pupil its own undo row, so Ctrl+Z takes them back one by one.
            const scarlex::RemovalResult r = scarlex::FixPupilAt(WorkBitmap, DBUndoTable, converted.thresholds,
                                                                 eye.pupil.x, eye.pupil.y, eye.pupil.radius);
            if (r.outcome == scarlex::RemovalOutcome::Recorded) ++fixed;
        }
    }
    Suggestions.clear();
    ImageOnForm->SetSuggestions({});
    if (fixed > 0) {
        EditRecorded();
        RenderView();
    }
    ShowReport(fixed == 0 ? QStringLiteral("Nothing to fix: no circled pupil passes the red thresholds")
                          : QStringLiteral("Fixed %1 red %2 — Ctrl+Z takes them back one by one")
                                .arg(fixed)
                                .arg(fixed == 1 ? QStringLiteral("eye") : QStringLiteral("eyes")));
}

void TMainForm::FixPupilUnderCrosshair(const scarlex::ClickRequest& request, const scarlex::Thresholds& thresholds,
                                       const scarlex::RemovalView& numbers) {
    const scarlex::LimitCircle limit(numbers);
    scarlex::RemovalResult r;
    {
        scarlex::BusyCursor busy(Desktop);
        r = scarlex::FixPupilAt(WorkBitmap, DBUndoTable, thresholds, request.x, request.y, 0,
                                numbers.LimitActive ? &limit : nullptr);
    }
    if (r.outcome != scarlex::RemovalOutcome::Recorded) {
        ShowReport(QStringLiteral("No red pupil under the crosshair to fit — aim at the red"));
        return;
    }
    EditRecorded();
    RenderView();
    ShowReport(QString::fromUtf8("Fixed the pupil under the crosshair — Ctrl+Z takes it back"));
}

void TMainForm::ShowOriginalHeld(bool held) {
    if (held == OriginalHeld) return;
    OriginalHeld = held;
    UpdateOriginalShown();
}

void TMainForm::UpdateOriginalShown() {
    const bool show = ImageLoaded && (OriginalHeld || ShowOriginal1->isChecked());
    if (show) {
        // Built afresh: the rows put back on a copy give the loaded pixels
        // whatever was undone or redone since.
        OriginalBitmap = WorkBitmap;
        DBUndoTable.RestoreOriginal(OriginalBitmap);
        ImageOnForm->SetShownPicture(&OriginalBitmap);
    } else {
        ImageOnForm->SetShownPicture(nullptr);
        OriginalBitmap = scarlex::Bitmap();
    }
    RenderView();
}

void TMainForm::ShowImageTags1Click() {
    CreateSecondaryWindows();
    FTags->exec();
}

void TMainForm::Prefs1Click() {
    CreateSecondaryWindows();
    FPrefs->Edit(Settings, [this](const scarlex::SettingsModel&) { PreferencesAccepted(); });
}

void TMainForm::AboutScarlex1Click() {
    CreateSecondaryWindows();
    FAbout->exec();
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
    DBUndoTable.ClearRedo();
    SetUndoRedoEnabled();
    UpdateModifiedMark();
}

void TMainForm::UpdateModifiedMark() { setWindowModified(HasUnsavedEdits()); }

void TMainForm::ShowReport(const QString& text) {
    ReportText = text;
    StatusBar->ShowFitted(text);
    ReportTimer->start(kReportMilliseconds);
}

// --- Loading -----------------------------------------------------------------

void TMainForm::TellAboutLoad(MsgType type, const std::string& text) {
    if (!LoadingCommandLine) {
        Desktop.MessageBox(type, MsgButtons::Ok, text);
        return;
    }
    // The first showing is still under way: the box would stand alone on
    // the desktop before the window appears.
    QTimer::singleShot(0, this, [this, type, text] { Desktop.MessageBox(type, MsgButtons::Ok, text); });
}

void TMainForm::ShowLoadFailure(const std::string& name, const std::string& error) {
    std::string text = error;
    if (text.find(scarlex::ExtractFileName(name)) == std::string::npos) text += "\n" + name;
    TellAboutLoad(MsgType::Error, text);
}

scarlex::LoadOutcome TMainForm::LoadImageFile(const std::string& name) {
    // Decoded aside: until the new photograph is whole and the user has let
    // the edits on screen go, nothing of the current one changes.
    scarlex::Bitmap fresh;
    scarlex::Sampling freshSampling = SourceSampling;
    scarlex::CodecResult decoded;
    // The fingerprint lets a later save see that the file has changed.
    scarlex::FileFingerprint freshFile;
    {
        scarlex::BusyCursor busy(Desktop);
        decoded = scarlex::DecodeJpegToBitmap(name, fresh, freshSampling, &freshFile);
    }
    if (!decoded) {
        ShowLoadFailure(name, decoded.error);
        return scarlex::LoadOutcome::Failed;
    }
    if (!ConfirmDiscard(DiscardBy::Loading)) return scarlex::LoadOutcome::Declined;
    WorkBitmap = std::move(fresh);
    SourceSampling = freshSampling;
    SaveJpeg.LoadedFile = freshFile;
    CurrentFile = name;

    MetadataSummary meta = ReadMetadata(name);
    ShowImageTags1->setEnabled(meta.found && meta.hasExif);
    PhotoOrientation = meta.orientation >= 1 && meta.orientation <= 8 ? meta.orientation : 1;

    ClearUndoStore();
    Undo1->setEnabled(false);
    TBUndo->setEnabled(false);
    Redo1->setEnabled(false);
    FindRedEyes1->setEnabled(true);
    Suggestions.clear();
    ImageOnForm->SetSuggestions({});

    ImageLoaded = true;
    ImageOnForm->SetImageLoaded(true);
    // A new photograph: the save commands start from its own file.
    SaveJpeg.OpenFilePath = name;
    SaveJpeg.OriginalPath = name;
    SaveJpeg.SourceSampling = SourceSampling;
    SaveJpeg.Saved = false;

    Save1->setEnabled(true);
    TBSaveAs->setEnabled(true);
    SetAutoSaveCommandsEnabled();

    ImageOnForm->ResetZoom();
    ImageOnForm->SetOrientation(UseOrientation ? PhotoOrientation : 1);
    UpdateOriginalShown();  // the new photograph's original, if it is shown
    setWindowTitle(Q(kCaptionPrefix) + scarlex::ToQString(scarlex::ExtractFileName(name)) + QStringLiteral("[*]"));
    Saved = false;
    UpdateModifiedMark();

    raise();
    activateWindow();
    // The keys aim the magnifier at once, without a first click.
    ImageOnForm->setFocus(Qt::OtherFocusReason);
    const std::string damage = scarlex::DescribeDecodeDamage(decoded.warningKinds);
    if (!damage.empty()) TellAboutLoad(MsgType::Warning, scarlex::ExtractFileName(name) + " is damaged: " + damage + ".");
    return scarlex::LoadOutcome::Loaded;
}

void TMainForm::RenderView() {
    if (!ImageLoaded || WorkBitmap.Empty()) return;
    ImageOnForm->RenderView();
    if (ImageOnForm->State().MagnifierOn) ImageOnForm->DrawLens();
}

// --- Removal -------------------------------------------------------------

scarlex::EditSettings TMainForm::CurrentEditSettings() const {
    scarlex::EditSettings edit;
    edit.ThresholdRG = scarlex::FromQString(EThresholdRG->text());
    edit.ThresholdRB = scarlex::FromQString(EThresholdRB->text());
    edit.ThresholdR = scarlex::FromQString(EThresholdR->text());
    edit.Attenuation = SEAttenuation->value();
    edit.ForceGrey = ForceGrey;
    return edit;
}

void TMainForm::ImageOnFormMouseUp(const scarlex::ClickRequest& request) {
    if (!ImageLoaded || Removing) return;
    if (OriginalShown()) {
        // The view shows pixels that are not the ones a removal would change.
        ShowReport(QStringLiteral("Showing the original: release B or untick View > Show Original to edit"));
        return;
    }
    // A click on a suggested pupil's circle leaves it out or takes it back.
    if (!request.shift && !request.ctrl) {
        for (SuggestedEye& eye : Suggestions) {
            const double dx = request.x - eye.pupil.x, dy = request.y - eye.pupil.y;
            if (dx * dx + dy * dy > (eye.pupil.radius + 2) * (eye.pupil.radius + 2)) continue;
            eye.selected = !eye.selected;
            ShowSuggestions();
            return;
        }
    }
    // The texts are converted once, before anything is touched: a box that
    // does not hold a number stops the removal with its message.
    const scarlex::ThresholdConversion converted =
        scarlex::ConvertThresholds(CurrentEditSettings(), scarlex::UserDecimalSeparator());
    if (!converted.ok) {
        Desktop.MessageBox(MsgType::Error, MsgButtons::Ok, converted.error);
        return;
    }

    scarlex::ViewState& view = ImageOnForm->State();
    scarlex::RemovalView numbers;
    numbers.CentreX = request.centreX;
    numbers.CentreY = request.centreY;
    numbers.CrossX = request.crossX;
    numbers.CrossY = request.crossY;
    numbers.Radius = request.radius;
    numbers.Limit = request.limit;
    numbers.Magnification = request.magnification;
    numbers.LimitActive = request.limitActive;
    numbers.ViewScale = request.viewScale;
    numbers.MagnifierScale = request.magnifierScale;

    // Without a limit circle, a click stays inside the glass: a limit of the
    // glass's radius around the aimed pixel, so one click on a pupil cannot
    // spread over a red face or a red car.
    const bool glass = LimitToGlass && !request.shift && !numbers.LimitActive;
    if (glass) {
        int aimedX = 0, aimedY = 0;
        scarlex::AimedPixel(numbers, aimedX, aimedY);
        numbers.CentreX = aimedX;
        numbers.CentreY = aimedY;
        numbers.CrossX = numbers.CrossY = 0;
        numbers.Limit = numbers.Radius;
        numbers.LimitActive = true;
    }

    if (request.ctrl && !request.shift) {
        FixPupilUnderCrosshair(request, converted.thresholds, numbers);
        return;
    }

    scarlex::RemovalHooks hooks;
    hooks.pump = [this] { Desktop.ProcessMessages(); };
    hooks.abortRemoval = &AbortRemoval;

    AbortRemoval = false;
    Removing = true;
    ImageOnForm->SetRemoving(true);
    struct EndRemoval {
        TMainForm& form;
        ~EndRemoval() {
            form.Removing = false;
            form.ImageOnForm->SetRemoving(false);
        }
    } end{*this};

    // Kept aside for a click that turns out to change nothing.
    std::vector<scarlex::RedoRow> keptRedo = DBUndoTable.TakeRedo();
    scarlex::RemovalResult result;
    {
        scarlex::BusyCursor busy(Desktop);
        result = Remover.Remove(WorkBitmap, DBUndoTable, converted.thresholds, numbers, request.shift, hooks);
    }
    if (result.outcome != scarlex::RemovalOutcome::Recorded) DBUndoTable.PutRedo(std::move(keptRedo));
    // A blanket treatment without a limit takes the magnifier as its limit.
    if (!glass) view.Limit = numbers.Limit;
    if (result.outcome == scarlex::RemovalOutcome::Refused) {
        if (!result.error.empty()) Desktop.MessageBox(MsgType::Error, MsgButtons::Ok, result.error);
        return;
    }
    if (result.outcome == scarlex::RemovalOutcome::Aborted) {
        ShowReport(QStringLiteral("Removal stopped: the photograph is as it was"));
        return;
    }
    scarlex::RemovalSummary summary;
    if (result.outcome == scarlex::RemovalOutcome::Recorded) {
        const scarlex::LimitCircle limit(numbers);
        const scarlex::Rect inside = scarlex::ClipToBitmap(result.rect, WorkBitmap.Width(), WorkBitmap.Height());
        summary = scarlex::SummariseRemoval(Remover.Journal().Before(WorkBitmap, inside), WorkBitmap, result.rect,
                                            numbers.LimitActive && !request.shift ? &limit : nullptr,
                                            converted.thresholds);
        // Thresholds at or below 1 can pass a pixel that the rule leaves as
        // it was: such a row would be an edit that changed nothing.
        if (summary.changed == 0) {
            DBUndoTable.Undo(WorkBitmap);
            DBUndoTable.PutRedo(std::move(keptRedo));
        }
    }
    if (summary.changed == 0) {
        ShowReport(QString::fromUtf8(kNothingRemoved));
        return;
    }
    EditRecorded();
    RenderView();
    const QString count = QLocale().toString(static_cast<qlonglong>(summary.changed));
    const QString pixels = summary.changed == 1 ? QStringLiteral(" pixel") : QStringLiteral(" pixels");
    if (request.shift) {
        ShowReport(QStringLiteral("Treated all ") + count + pixels +
                   QString::fromUtf8(" inside the circle \u2014 Ctrl+Z takes it back"));
    } else if (summary.reachedEdge) {
        // Red goes on beyond the edge: perhaps more than the pupil went.
        ShowReport(count + pixels + QStringLiteral(" changed, up to the edge of the ") +
                   (glass ? QStringLiteral("glass") : QStringLiteral("limit circle")) +
                   QString::fromUtf8(" \u2014 Ctrl+Z takes it back"));
    } else {
        ShowReport(QStringLiteral("Removed the red from ") + count + pixels);
    }
}

// --- Enabling ------------------------------------------------------------

bool TMainForm::OriginalsFolderUsable() const { return MoveOriginal && scarlex::DirectoryExists(OriginalsFolder); }

bool TMainForm::AutoSavePossible() { return OriginalsFolderUsable() || AppendEnabled || RenameOriginal; }

void TMainForm::SetNextEnabled(bool enabled) {
    TBNext->setEnabled(enabled);
    Next1->setEnabled(enabled);
}

void TMainForm::SetAutoSaveNextEnabled(bool enabled) {
    TBAutoSaveNext->setEnabled(enabled);
    AutoSaveAndNext1->setEnabled(enabled);
}

void TMainForm::SetAutoSaveCommandsEnabled() {
    const bool possible = AutoSavePossible();
    AutoSave1->setEnabled(possible);
    AutoSaveAndClose1->setEnabled(possible);
    TBAutoSave->setEnabled(possible);
}

void TMainForm::PreferencesAccepted() {
    ApplyPopupHints();
    SetAutoSaveHint();
    SetNextHint();
    SetAutoSaveCommandsEnabled();
    // New colours and the upright view show at once.
    ImageOnForm->SetColours(MagnifierBorderColour, LimitBorderColour);
    ApplyOrientation();
    if (ImageLoaded && ImageOnForm->State().MagnifierOn) ImageOnForm->DrawLens();
}

void TMainForm::ApplyOrientation() {
    const int tag = UseOrientation ? PhotoOrientation : 1;
    if (tag == ImageOnForm->OrientationTag()) return;
    ImageOnForm->SetOrientation(tag);
    // Positions of the other layout mean nothing now: start from the fit.
    ImageOnForm->ResetZoom();
    if (!Suggestions.empty()) ShowSuggestions();  // their circles, turned the new way
    RenderView();
}

void TMainForm::ApplyPopupHints() {
    // The event filter reads ShowPopupHints; hide a tip already showing.
    if (!ShowPopupHints) QToolTip::hideText();
}

void TMainForm::SetNextHint() {
    const QString hint = AskBeforeDiscard ? Q("Open the next image (asking first about unsaved changes to this file)")
                                          : Q("Open the next image (discarding any changes to this file)");
    TBNext->setToolTip(hint);
    TBNext->setStatusTip(hint);
    Next1->setToolTip(hint);
    Next1->setStatusTip(hint);
}

void TMainForm::SetAutoSaveHint() {
    QString hint = scarlex::ToQString(scarlex::AutoSaveHint(Settings));
    TBAutoSave->setToolTip(hint);
    TBAutoSave->setStatusTip(hint);
}

// --- The subsystems behind the commands ----------------------------------

bool TMainForm::SaveCurrent(SaveMode mode) {
    // The document follows the window's flag in, and the commands' answer
    // sets the window's flag on the way out (Save1Click, AutoSave1Click).
    SaveJpeg.Saved = Saved;
    SaveJpeg.SourceSampling = SourceSampling;
    scarlex::SaveCommands commands(Desktop, Settings, SaveJpeg);
    const bool saved = mode == SaveMode::WithDialog ? commands.Save1Click() : commands.AutoSave1Click();
    LastSaveReport = commands.LastReport();
    return saved;
}

TMainForm::MetadataSummary TMainForm::ReadMetadata(const std::string& name) {
    MetadataSummary summary;
    // A file whose segments cannot be read still loads; it just has none.
    ImageMeta.ProcessFile(name);
    summary.found = ImageMeta.HasMetaData();
    summary.hasExif = ImageMeta.HasEXIF();
    if (const scarlex::TImageInfo* exif = ImageMeta.ExifInfo()) summary.orientation = exif->Orientation();
    CreateSecondaryWindows();
    FTags->Fill(ImageMeta.TagListing(), summary.hasExif);
    return summary;
}

int TMainForm::UndoRowCount() const { return static_cast<int>(DBUndoTable.Count()); }

void TMainForm::ClearUndoStore() { DBUndoTable.Clear(); }

bool TMainForm::UndoLastEdit() {
    if (DBUndoTable.Empty()) return false;
    DBUndoTable.UndoForRedo(WorkBitmap);
    return true;
}

void TMainForm::ApplySettings() {
    if (Settings.GeometryStored) {
        setGeometry(Settings.Left, Settings.Top, std::max(Settings.Width, minimumWidth()), Settings.Height);
    } else if (const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen()) {
        // The first start: most of the screen, centred, with the photograph
        // fitted to it; the window's own size is for later runs to keep.
        const QRect room = screen->availableGeometry();
        const int w = std::max(minimumWidth(), room.width() * 4 / 5), h = room.height() * 4 / 5;
        setGeometry(room.x() + (room.width() - w) / 2, room.y() + (room.height() - h) / 2, w, h);
    }
    if (Settings.Maximised) setWindowState(windowState() | Qt::WindowMaximized);
    ImageOnForm->SetMagnification(OpeningMagnification);
    ImageOnForm->SetColours(MagnifierBorderColour, LimitBorderColour);
    SetAutoSaveHint();
    SetNextHint();
    ApplyPopupHints();
    scarlex::SetMaxMegapixels(static_cast<uint64_t>(Settings.MaxMegapixels));
}

void TMainForm::LoadSettings() {
    scarlex::LoadSettings(Settings, scarlex::SettingsFilePath(), Desktop,
                          [this](const scarlex::SettingsModel&) { ApplySettings(); });
    EThresholdR->setText(scarlex::ToQString(Settings.ThresholdR));
    EThresholdRG->setText(scarlex::ToQString(Settings.ThresholdRG));
    EThresholdRB->setText(scarlex::ToQString(Settings.ThresholdRB));
}

void TMainForm::SaveSettings() {
    if (!UseIniFile) return;
    const bool normal = !(windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen));
    Settings.Maximised = windowState().testFlag(Qt::WindowMaximized);
    if (normal) {
        const QRect frame = geometry();
        Settings.Left = frame.x();
        Settings.Top = frame.y();
        Settings.Width = frame.width();
        Settings.Height = frame.height();
    }
    Settings.ThresholdR = scarlex::FromQString(EThresholdR->text());
    Settings.ThresholdRG = scarlex::FromQString(EThresholdRG->text());
    Settings.ThresholdRB = scarlex::FromQString(EThresholdRB->text());
    try {
        scarlex::SaveSettings(Settings, scarlex::SettingsFilePath(), normal);
    } catch (const std::exception& e) {
        // The window is going away: say so on the error stream as well as
        // in a box, and end normally.
        std::fprintf(stderr, "scarlex: %s\n", e.what());
        Desktop.MessageBox(MsgType::Error, MsgButtons::Ok, e.what());
    }
}

void TMainForm::ShowStartupHints() {
    CreateSecondaryWindows();
    FHints->exec();
}
