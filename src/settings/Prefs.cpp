#include "settings/Prefs.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QTabWidget>
#include <QVBoxLayout>

#include "common/Paths.h"
#include "settings/PopupHints.h"

namespace scarlex {

namespace {

QColor ToQColor(uint32_t c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }

QString Q(const std::string& s) { return QString::fromStdString(s); }

template <typename W>
W* Named(W* widget, const char* name, const char* hint = nullptr) {
    widget->setObjectName(QString::fromLatin1(name));
    if (hint) widget->setToolTip(QString::fromUtf8(hint));
    return widget;
}

QCheckBox* Check(QWidget* parent, const char* name, const char* caption, const char* hint) {
    return Named(new QCheckBox(QString::fromUtf8(caption), parent), name, hint);
}

}  // namespace

ColourSwatch::ColourSwatch(QWidget* parent) : QFrame(parent) {
    setFrameShape(QFrame::Box);
    setFixedSize(40, 20);
}

void ColourSwatch::SetColour(uint32_t colour) {
    colour_ = colour;
    update();
}

void ColourSwatch::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(contentsRect(), ToQColor(colour_));
    QFrame::paintEvent(event);
}

void ColourSwatch::mousePressEvent(QMouseEvent* event) {
    event->accept();
    emit mouseDown();
}

LinkLabel::LinkLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    QFont f = font();
    f.setUnderline(true);
    setFont(f);
    setCursor(Qt::PointingHandCursor);
    QPalette p = palette();
    p.setColor(QPalette::WindowText, p.color(QPalette::Link));
    setPalette(p);
    setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
}

void LinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) emit clicked();
    QLabel::mouseReleaseEvent(event);
}

TFPrefs::TFPrefs(Platform& platform, std::string settingsPath, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      platform_(platform),
      settingsPath_(std::move(settingsPath)) {
    setObjectName(QStringLiteral("FPrefs"));
    setWindowTitle(QStringLiteral("Prefs"));
    setProperty("helpContext", 100);

    PageControl1 = Named(new QTabWidget(this), "PageControl1");
    BuildGeneral();
    BuildFiles();
    BuildMainControls();

    BitBtn1 = Named(new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), QStringLiteral("OK"), this),
                    "BitBtn1", "Accept and save these preferences");
    BitBtn2 = Named(new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), QStringLiteral("Cancel"), this),
                    "BitBtn2", "Discard any changes.");
    BitBtn1->setDefault(true);
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(BitBtn1);
    buttons->addWidget(BitBtn2);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(6);
    layout->addWidget(PageControl1);
    layout->addLayout(buttons);

    // Fixed at 360 x 290, unless the desktop's fonts need more room.
    setFixedSize(QSize(360, 290).expandedTo(layout->totalMinimumSize()));
    PageControl1->setCurrentWidget(TMainControls);
    hints_ = new PopupHints(this);
}

void TFPrefs::BuildGeneral() {
    TGeneral = Named(new QWidget, "TGeneral");
    CBIni = Check(TGeneral, "CBIni", "Store defaults in ini file",
                  "Store these preferences and startup values in an INI file in the windows directory");
    RemoveIniFileLabel = Named(new LinkLabel(QStringLiteral("Remove ini file"), TGeneral), "RemoveIniFileLabel",
                               "Removes the INI file from the windows folder, and disables saving of prefs into the INI file");
    CBHints = Check(TGeneral, "CBHints", "Show hints at startup", "Show hints screen at startup");
    CBShowHints = Check(TGeneral, "CBShowHints", "Show hints", "Show pop-up hints for controls");
    connect(RemoveIniFileLabel, &LinkLabel::clicked, this, &TFPrefs::RemoveIniFileLabelClick);
    connect(CBHints, &QCheckBox::clicked, this, &TFPrefs::CBHintsClick);

    auto* v = new QVBoxLayout(TGeneral);
    v->addWidget(CBIni);
    auto* link = new QHBoxLayout;
    link->setContentsMargins(20, 0, 0, 0);
    link->addWidget(RemoveIniFileLabel);
    link->addStretch();
    v->addLayout(link);
    v->addWidget(CBHints);
    v->addWidget(CBShowHints);
    v->addStretch();
    PageControl1->addTab(TGeneral, QStringLiteral("General"));
}

void TFPrefs::BuildFiles() {
    TFiles = Named(new QWidget, "TFiles");
    const char* appendHint = "Append this string to all filenames for saving the modified file";
    CBAppendChars = Check(TFiles, "CBAppendChars", "", appendHint);
    Label2 = Named(new QLabel(QStringLiteral("Default (and AutoSave) filename append characters"), TFiles), "Label2",
                   appendHint);
    EFileNameAppend = Named(new QLineEdit(TFiles), "EFileNameAppend", appendHint);
    CBRenameExtension = Check(TFiles, "CBRenameExtension", "Rename original extension to",
                              "Rename original file using this file extension");
    ERenameExtension = Named(new QLineEdit(TFiles), "ERenameExtension", "Extension to use when renaming original file");
    ERenameExtension->setFixedWidth(70);
    const char* moveHint = "Move original files to this folder";
    CBOriginalsFolder = Check(TFiles, "CBOriginalsFolder", "", moveHint);
    Label1 = Named(new QLabel(QStringLiteral("Move original files to this folder"), TFiles), "Label1", moveHint);
    EOriginalsFolder = Named(new QLineEdit(TFiles), "EOriginalsFolder", moveHint);
    EOriginalsFolder->setReadOnly(true);
    BSelDir = Named(new QPushButton(QStringLiteral("..."), TFiles), "BSelDir", "Choose folder to move original files to");
    BSelDir->setFixedWidth(30);
    CBOpenFileFolder = Check(TFiles, "CBOpenFileFolder", "Remember open file folder",
                             "Remember the last folder used for opening a file");
    CBSaveFileFolder = Check(TFiles, "CBSaveFileFolder", "Remember save file folder",
                             "Remember the last folder used for saving a file");
    CBNumberDuplicates = Check(TFiles, "CBNumberDuplicates", "Number duplicate files",
                               "When a file is edited a second time, this appends a number to the rear of the file to "
                               "prevent the original being overwritten");
    CBAskBeforeDiscard = Check(TFiles, "CBAskBeforeDiscard", "Ask before discarding unsaved changes",
                               "Open, a dropped file and Next ask whether to save the edits on screen first");
    CBKeepQuality = Check(TFiles, "CBKeepQuality", "Keep the original's quality (the file does not grow)",
                          "Code the edited blocks with the original's own quantisation tables");
    CBKeepQuality->setWhatsThis(QStringLiteral(
        "Off: the blocks around your edits are coded at quality 75 and the whole photograph is brought to "
        "tables both can share, which can make the file noticeably larger. On: the edited blocks are coded "
        "with the original's own tables, every other block keeps its data exactly, and the file stays about "
        "the size it was. A photograph whose tables cannot be shared is saved this way in any case."));
    connect(BSelDir, &QPushButton::clicked, this, &TFPrefs::BSelDirClick);

    auto* g = new QGridLayout(TFiles);
    g->setVerticalSpacing(2);
    g->setContentsMargins(4, 4, 4, 4);
    auto* append = new QHBoxLayout;
    append->addWidget(CBAppendChars);
    append->addWidget(Label2, 1);
    g->addLayout(append, 0, 0, 1, 2);
    g->addWidget(EFileNameAppend, 1, 0, 1, 2);
    auto* rename = new QHBoxLayout;
    rename->addWidget(CBRenameExtension);
    rename->addWidget(ERenameExtension, 1);
    g->addLayout(rename, 2, 0, 1, 2);
    auto* move = new QHBoxLayout;
    move->addWidget(CBOriginalsFolder);
    move->addWidget(Label1, 1);
    g->addLayout(move, 3, 0, 1, 2);
    g->addWidget(EOriginalsFolder, 4, 0);
    g->addWidget(BSelDir, 4, 1);
    g->addWidget(CBOpenFileFolder, 5, 0, 1, 2);
    g->addWidget(CBSaveFileFolder, 6, 0, 1, 2);
    g->addWidget(CBNumberDuplicates, 7, 0, 1, 2);
    g->addWidget(CBAskBeforeDiscard, 8, 0, 1, 2);
    g->addWidget(CBKeepQuality, 9, 0, 1, 2);
    g->setRowStretch(10, 1);
    PageControl1->addTab(TFiles, QStringLiteral("Files"));
}

void TFPrefs::BuildMainControls() {
    TMainControls = Named(new QWidget, "TMainControls");
    ColorBorder = Named(new ColourSwatch(TMainControls), "ColorBorder", "Use this colour for the magnifying glass");
    Label4 = Named(new QLabel(QStringLiteral("Magnifying Glass Border"), TMainControls), "Label4",
                   "Use this colour for the magnifying glass");
    ColorLimit = Named(new ColourSwatch(TMainControls), "ColorLimit", "Use this colour for the limit ring");
    Label5 = Named(new QLabel(QStringLiteral("Limit Circle Border"), TMainControls), "Label5",
                   "Use this colour for the limit ring");
    const char* magHint = "Magnification that Scarlex will default to at startup";
    EOpeningMagnification = Named(new QLineEdit(TMainControls), "EOpeningMagnification", magHint);
    EOpeningMagnification->setFixedWidth(40);
    Label6 = Named(new QLabel(QStringLiteral("Opening magnification"), TMainControls), "Label6", magHint);
    CBForceToGrey = Check(TMainControls, "CBForceToGrey", "Force to grey",
                          "Force all levels to grey instead of just removing red");
    CBRememberThresholdSettings = Check(TMainControls, "CBRememberThresholdSettings", "Remember threshold settings",
                                        "Save the threshold settings and restore them each time Scarlex is run");
    CBLimitToGlass = Check(TMainControls, "CBLimitToGlass", "Keep a click's removal inside the magnifying glass",
                           "Without a limit circle, a click removes red only within the glass around the aimed point");
    CBUseOrientation = Check(TMainControls, "CBUseOrientation", "Show photographs upright (EXIF orientation)",
                             "Turn photographs taken sideways as the camera recorded; the saved file keeps its layout");
    connect(ColorBorder, &ColourSwatch::mouseDown, this, &TFPrefs::ColorBorderMouseDown);
    connect(ColorLimit, &ColourSwatch::mouseDown, this, &TFPrefs::ColorLimitMouseDown);

    auto* g = new QGridLayout(TMainControls);
    g->addWidget(ColorBorder, 0, 0);
    g->addWidget(Label4, 0, 1);
    g->addWidget(ColorLimit, 1, 0);
    g->addWidget(Label5, 1, 1);
    g->addWidget(EOpeningMagnification, 2, 0);
    g->addWidget(Label6, 2, 1);
    g->addWidget(CBForceToGrey, 3, 0, 1, 2);
    g->addWidget(CBRememberThresholdSettings, 4, 0, 1, 2);
    g->addWidget(CBLimitToGlass, 5, 0, 1, 2);
    g->addWidget(CBUseOrientation, 6, 0, 1, 2);
    g->setColumnStretch(1, 1);
    g->setRowStretch(7, 1);
    PageControl1->addTab(TMainControls, QStringLiteral("Main Controls"));
}

void TFPrefs::Fill(const SettingsModel& s) {
    useIniFile_ = s.UseIniFile;
    CBIni->setChecked(s.UseIniFile);
    EOpeningMagnification->setText(QString::number(s.OpeningMagnification));
    CBShowHints->setChecked(s.ShowPopupHints);
    CBAppendChars->setChecked(s.AppendEnabled);
    EFileNameAppend->setText(Q(s.FileNameAppend));
    CBRenameExtension->setChecked(s.RenameOriginal);
    ERenameExtension->setText(Q(s.RenameExtension));
    CBOriginalsFolder->setChecked(s.MoveOriginal);
    EOriginalsFolder->setText(Q(s.OriginalsFolder));
    if (DirectoryExists(s.OriginalsFolder)) DirDlg.Directory = s.OriginalsFolder;
    CBNumberDuplicates->setChecked(s.NumberDuplicates);
    CBForceToGrey->setChecked(s.ForceGrey);
    CBOpenFileFolder->setChecked(s.RememberOpenFolder);
    CBSaveFileFolder->setChecked(s.RememberSaveFolder);
    ColorBorder->SetColour(s.MagnifierBorderColour);
    CDBorder.Color = s.MagnifierBorderColour;
    ColorLimit->SetColour(s.LimitBorderColour);
    CDLimit.Color = s.LimitBorderColour;
    CBHints->setChecked(s.StartupHints);
    CBRememberThresholdSettings->setChecked(s.RememberThresholds);
    CBLimitToGlass->setChecked(s.LimitToGlass);
    CBUseOrientation->setChecked(s.UseOrientation);
    CBAskBeforeDiscard->setChecked(s.AskBeforeDiscard);
    CBKeepQuality->setChecked(s.KeepOriginalQuality);
}

bool TFPrefs::TakeBack(SettingsModel& s, const ApplySettings& apply) {
    s.UseIniFile = CBIni->isChecked();
    std::string typed = EOpeningMagnification->text().toStdString();
    int32_t magnification = 0;
    if (!ParseIniInteger(typed, magnification)) {
        platform_.MessageBox(MsgType::Error, MsgButtons::Ok, "'" + typed + "' is not a valid integer value");
        return false;
    }
    s.OpeningMagnification = ClampMagnification(magnification);
    s.ShowPopupHints = CBShowHints->isChecked();
    s.AppendEnabled = CBAppendChars->isChecked();
    s.FileNameAppend = EFileNameAppend->text().toStdString();
    s.RenameOriginal = CBRenameExtension->isChecked();
    s.MoveOriginal = CBOriginalsFolder->isChecked();
    s.OriginalsFolder = EOriginalsFolder->text().toStdString();
    s.NumberDuplicates = CBNumberDuplicates->isChecked();
    s.RenameExtension = ERenameExtension->text().toStdString();
    s.ForceGrey = CBForceToGrey->isChecked();
    s.RememberOpenFolder = CBOpenFileFolder->isChecked();
    s.RememberSaveFolder = CBSaveFileFolder->isChecked();
    s.MagnifierBorderColour = ColorBorder->Colour();
    s.LimitBorderColour = ColorLimit->Colour();
    s.StartupHints = CBHints->isChecked();
    s.RememberThresholds = CBRememberThresholdSettings->isChecked();
    s.LimitToGlass = CBLimitToGlass->isChecked();
    s.UseOrientation = CBUseOrientation->isChecked();
    s.AskBeforeDiscard = CBAskBeforeDiscard->isChecked();
    s.KeepOriginalQuality = CBKeepQuality->isChecked();
    if (apply) apply(s);
    return true;
}

bool TFPrefs::Edit(SettingsModel& settings, const ApplySettings& apply) {
    Fill(settings);
    if (exec() != QDialog::Accepted) return false;
    return TakeBack(settings, apply);
}

void TFPrefs::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormShow();
}

void TFPrefs::FormShow() {
    hints_->SetEnabled(CBShowHints->isChecked());
    RemoveIniFileLabel->setVisible(useIniFile_);
}

void TFPrefs::CBHintsClick() { hints_->SetEnabled(CBShowHints->isChecked()); }

bool TFPrefs::PopupHintsShown() const { return hints_->Enabled(); }

void TFPrefs::ColorBorderMouseDown() {
    if (auto colour = platform_.ColourDialog(CDBorder.Color)) {
        CDBorder.Color = *colour;
        ColorBorder->SetColour(*colour);
    }
}

void TFPrefs::ColorLimitMouseDown() {
    if (auto colour = platform_.ColourDialog(CDLimit.Color)) {
        CDLimit.Color = *colour;
        ColorLimit->SetColour(*colour);
    }
}

void TFPrefs::BSelDirClick() {
    if (auto folder = platform_.FolderDialog(DirDlg.Title, DirDlg.Directory)) {
        DirDlg.Directory = *folder;
        EOriginalsFolder->setText(Q(*folder));
    }
}

void TFPrefs::RemoveIniFileLabelClick() {
    CBIni->setChecked(false);
    RemoveIniFileLabel->hide();
    RemoveSettingsFile(settingsPath_);
}

}  // namespace scarlex
