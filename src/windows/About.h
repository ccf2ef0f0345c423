#pragma once
// The About box FAbout. It closes itself a minute after it is first shown;
// the timer is never stopped, so it keeps firing once a minute (closing a
// box that is not showing does nothing).

#include <QDialog>

class QLabel;
class QPushButton;
class QTextBrowser;
class QTimer;

namespace scarlex {

class TFAbout : public QDialog {
    Q_OBJECT
public:
    explicit TFAbout(QWidget* parent = nullptr);

    static constexpr int kCloseAfterMs = 60000;

    void FormShow();
    void Timer1Timer();

    // The texts shown, for the credits box and for tests.
    static QString ProgramVersion();
    static QString CreditsHtml();

    QLabel* ProductName = nullptr;
    QLabel* Version = nullptr;
    QTextBrowser* REAbout = nullptr;
    QPushButton* OKButton = nullptr;
    QTimer* Timer1 = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
};

}  // namespace scarlex
