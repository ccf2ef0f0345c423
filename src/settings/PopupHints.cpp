#include "settings/PopupHints.h"

#include <QEvent>
#include <QWidget>

namespace scarlex {

PopupHints::PopupHints(QWidget* window) : QObject(window) {
    Watch(window);
    for (QWidget* child : window->findChildren<QWidget*>()) Watch(child);
}

void PopupHints::Watch(QWidget* widget) { widget->installEventFilter(this); }

bool PopupHints::eventFilter(QObject* watched, QEvent* event) {
    if (!enabled_ && event->type() == QEvent::ToolTip) return true;
    return QObject::eventFilter(watched, event);
}

}  // namespace scarlex
