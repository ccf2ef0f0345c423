#include "app/MainWidgets.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFontMetrics>
#include <QMimeData>
#include <QPainter>
#include <QUrl>
#include <algorithm>

TDropPanel::TDropPanel(QWidget* parent) : QFrame(parent) { setAcceptDrops(true); }

QStringList TDropPanel::DroppableFiles(const QList<QUrl>& urls) {
    QStringList names;
    for (const QUrl& url : urls) {
        if (!url.isLocalFile()) continue;
        QString path = url.toLocalFile();
        if (QFileInfo(path).isFile()) names << path;
    }
    return names;
}

void TDropPanel::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls() && !DroppableFiles(event->mimeData()->urls()).isEmpty())
        event->acceptProposedAction();
}

void TDropPanel::dragMoveEvent(QDragMoveEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TDropPanel::dropEvent(QDropEvent* event) {
    QStringList names = DroppableFiles(event->mimeData()->urls());
    if (names.isEmpty()) return;
    event->acceptProposedAction();
    emit FilesDropped(names, event->position().toPoint());
}

namespace {
struct PanelDesign {
    int width;
    bool centred;
    const char* text;
};
constexpr PanelDesign kPanels[] = {
    {100, false, "x:         y:"}, {120, true, "Radius"}, {120, true, "Limit"}, {140, true, "Magnification"}, {50, false, ""},
};

// The widest each panel's text gets: positions up to five digits, the
// radius and limit up to 300, the magnification up to 100, and the zoom.
constexpr const char* kWidest[] = {" x : 88888   y : 88888", "Radius : 300", "Not limiting|Limit : 300",
                                   "Magnification : 100", "Fit 800 %|Original"};
}  // namespace

QString TPanelStatusBar::WidestText(int index) {
    QString widest;
    for (const QString& t : QString::fromLatin1(kWidest[index]).split(QLatin1Char('|')))
        if (t.size() > widest.size()) widest = t;
    return widest;
}

int TPanelStatusBar::PanelsWidth() const {
    int total = 0;
    for (const QLabel* p : panels_) total += p->width() + 6;  // the bar's spacing around each panel
    return total + 12;
}

namespace {
// Text width plus the sunken frame and a little air on both sides.
int NeededWidth(const QLabel& panel, int index) {
    const QFontMetrics metrics(panel.font());
    int text = 0;
    for (const QString& t : QString::fromLatin1(kWidest[index]).split(QLatin1Char('|')))
        text = std::max(text, metrics.horizontalAdvance(t));
    return text + 2 * panel.frameWidth() + 10;
}
}  // namespace

TPanelStatusBar::TPanelStatusBar(QWidget* parent) : QStatusBar(parent) {
    setSizeGripEnabled(false);
    for (const PanelDesign& design : kPanels) {
        auto* panel = new QLabel(QString::fromLatin1(design.text), this);
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        // As wide as its longest text in the font in use: the design's widths
        // cut the position in two and leave the window no narrower than the
        // five panels together.
        panel->setFixedWidth(NeededWidth(*panel, static_cast<int>(panels_.size())));
        panel->setAlignment((design.centred ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignVCenter);
        addWidget(panel);
        panels_.push_back(panel);
    }
}

QString TPanelStatusBar::PanelText(int index) const { return panels_.at(static_cast<size_t>(index))->text(); }

void TPanelStatusBar::SetPanelText(int index, const QString& text) {
    panels_.at(static_cast<size_t>(index))->setText(text);
}

void TPanelStatusBar::ShowFitted(const QString& text) {
    // The font the bar has when none is set on it.
    QFont fitted = parentWidget() ? parentWidget()->font() : QFont();
    const qreal full = fitted.pointSizeF();
    const int room = width() - 12;
    for (qreal size = full; full > 0 && size >= full * 0.75; size -= 0.5) {
        fitted.setPointSizeF(size);
        if (QFontMetrics(fitted).horizontalAdvance(text) <= room) break;
    }
    // A font change lays out the panels again: only when it is needed.
    if (fitted != font()) setFont(fitted);
    showMessage(text);
}

void TPanelStatusBar::ClearFitted() {
    clearMessage();
    if (parentWidget() && font() != parentWidget()->font()) setFont(QFont());
}
