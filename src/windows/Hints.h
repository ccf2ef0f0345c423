#pragma once
// The startup hints window FHints: one tip per start, and Next to page
// through the rest. Works on the main window's settings: NextHint carries
// the cycle from one run to the next.

#include <QDialog>

#include "settings/Settings.h"

class QCheckBox;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

namespace scarlex {

class TFHints : public QDialog {
    Q_OBJECT
public:
    explicit TFHints(SettingsModel& settings, QWidget* parent = nullptr);

    static constexpr int kHintCount = 18;

    // Shows the hint at NextHint and moves NextHint on, back to 0 after the
    // last. A NextHint outside the list (an edited settings file) starts
    // the cycle again at 0.
    void FormShow();
    void BCloseClick();
    // "Don't show startup hints": StartupHints becomes the opposite of the
    // tick, and UseIniFile is set so that the choice is written at exit.
    void CBHintsClick();

    QListWidget* LBHints = nullptr;  // hidden; holds the texts
    QPlainTextEdit* Memo1 = nullptr;
    QPushButton* BClose = nullptr;
    QPushButton* BNext = nullptr;
    QCheckBox* CBHints = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    SettingsModel& settings_;
};

}  // namespace scarlex
