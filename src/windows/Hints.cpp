#include "windows/Hints.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace scarlex {

namespace {
const char* const kHints[TFHints::kHintCount] = {
    "Right click on image to enable magnifier",
    "Left click to remove red",
    "Undo any unwanted or unexpected changes (or [Ctrl] + Z)",
    "When Scarlex saves files, only the bits which have changed are re-compressed (the rest is re-saved in a lossless "
    "fashion)",
    "Click any mouse button or press [Esc] to abort a red removal",
    "Resize magnifier by scrolling the mouse wheel or Page Up / Page Down buttons ",
    "Zoom the magnifier by [Ctrl] scrolling the mouse wheel or [Ctrl] Page Up / Page Down buttons",
    "Limit the action of Scarlex by using a limit circle. Change the size of the limit circle by [Shift] scrolling the "
    "mouse wheel or [Shift] Page Up / Page Down",
    "You can open images by dropping their icons onto the Scarlex main window",
    "You can open images by dropping their icons onto the Scarlex icon",
    "You can open images by selecting multiple images in the open file dialog box (Use the [Shift] and [Ctrl] keys)",
    "Shift click forces everything within the limit circle to grey. If there is no limit circle active, the magnifier "
    "window is used as the limit",
    "Redo an edit you have undone with [Ctrl] + [Shift] + Z or [Ctrl] + Y",
    "Hold B (or tick View > Show Original) to compare with the photograph as it was loaded",
    "Zoom the view with [Ctrl] + [+] and [Ctrl] + [-]; [Ctrl] + 1 shows actual pixels and [Ctrl] + 0 fits the "
    "photograph to the window. Scroll with the scroll bars, the arrow keys (magnifier off) or by dragging with the "
    "middle mouse button",
    "Photographs are shown upright as the camera recorded them (EXIF orientation); the saved file keeps its own "
    "layout and tag",
    "Let Scarlex find the red eyes: Edit > Find Red Eyes ([Ctrl] + F) circles them. Click a circle to leave it out, "
    "press [Enter] to fix the circled ones or [Esc] to dismiss them",
    "Hold [Ctrl] while you release the left button to fix the whole pupil under the crosshair in one go",
};
}  // namespace

TFHints::TFHints(SettingsModel& settings, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), settings_(settings) {
    setObjectName(QStringLiteral("FHints"));
    setWindowTitle(QStringLiteral("Startup Hints"));
    setProperty("helpContext", 300);

    LBHints = new QListWidget(this);
    LBHints->setObjectName(QStringLiteral("LBHints"));
    for (const char* hint : kHints) LBHints->addItem(QString::fromUtf8(hint));
    LBHints->hide();

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setReadOnly(true);
    QFont font = Memo1->font();
    font.setPointSize(12);
    Memo1->setFont(font);
    Memo1->setFixedSize(360, 110);

    BClose = new QPushButton(QStringLiteral("Close"), this);
    BClose->setObjectName(QStringLiteral("BClose"));
    BNext = new QPushButton(QStringLiteral("Next"), this);
    BNext->setObjectName(QStringLiteral("BNext"));
    BNext->setDefault(true);
    CBHints = new QCheckBox(QStringLiteral("Don't show startup hints"), this);
    CBHints->setObjectName(QStringLiteral("CBHints"));
    connect(BClose, &QPushButton::clicked, this, &TFHints::BCloseClick);
    connect(BNext, &QPushButton::clicked, this, &TFHints::FormShow);
    connect(CBHints, &QCheckBox::clicked, this, &TFHints::CBHintsClick);

    auto* row = new QHBoxLayout;
    row->addWidget(CBHints);
    row->addStretch();
    row->addWidget(BNext);
    row->addWidget(BClose);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Memo1);
    layout->addLayout(row);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void TFHints::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormShow();
}

void TFHints::FormShow() {
    int count = LBHints->count();
    if (settings_.NextHint < 0 || settings_.NextHint >= count) settings_.NextHint = 0;
    Memo1->setPlainText(LBHints->item(settings_.NextHint)->text());
    settings_.NextHint = (settings_.NextHint + 1) % count;
}

void TFHints::BCloseClick() { close(); }

void TFHints::CBHintsClick() {
    settings_.StartupHints = !CBHints->isChecked();
    settings_.UseIniFile = true;
}

}  // namespace scarlex
