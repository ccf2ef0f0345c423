#pragma once
// Small widgets of the main window: the central panel that takes dropped
// files, and the five-panel status bar.

#include <QFrame>
#include <QLabel>
#include <QStatusBar>
#include <QStringList>
#include <QWidget>

#include "common/Bitmap.h"

// The central panel; files dragged from a file manager are delivered in the
// order given, folders and anything that is not an existing file left out.
class TDropPanel : public QFrame {
    Q_OBJECT
public:
    explicit TDropPanel(QWidget* parent = nullptr);
    // Local files among the URLs, in order; folders and missing names left out.
    static QStringList DroppableFiles(const QList<QUrl>& urls);

signals:
    void FilesDropped(const QStringList& names, QPoint at);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
};

// A status bar of fixed panels, addressed by number from 0, each wide
// enough for the longest text it shows.
class TPanelStatusBar : public QStatusBar {
    Q_OBJECT
public:
    explicit TPanelStatusBar(QWidget* parent = nullptr);
    int PanelCount() const { return static_cast<int>(panels_.size()); }
    QString PanelText(int index) const;
    void SetPanelText(int index, const QString& text);
    QLabel* Panel(int index) const { return panels_.at(static_cast<size_t>(index)); }
    // The longest text each panel shows, and the width the panels need
    // together, measured in the panels' font.
    static QString WidestText(int index);
    int PanelsWidth() const;
    // A message over the panels, in a smaller font when the window is too
    // narrow for it (down to three quarters of the size), so it is read
    // whole; the panels get the usual font back when it is cleared.
    void ShowFitted(const QString& text);
    void ClearFitted();

private:
    std::vector<QLabel*> panels_;
};
