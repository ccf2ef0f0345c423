#pragma once
// A window-wide switch for pop-up hints (tool tips). Qt has no such switch,
// so the tips stay set on the controls and this filter swallows them while
// hints are off. Any window can use it: the main window for ShowPopupHints,
// the preferences dialog for its own hints.

#include <QObject>

class QWidget;

namespace scarlex {

class PopupHints : public QObject {
    Q_OBJECT
public:
    // Watches `window` and every widget inside it now.
    explicit PopupHints(QWidget* window);
    // Watches a widget added later.
    void Watch(QWidget* widget);
    void SetEnabled(bool on) { enabled_ = on; }
    bool Enabled() const { return enabled_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool enabled_ = true;
};

}  // namespace scarlex
