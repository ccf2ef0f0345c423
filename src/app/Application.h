#pragma once
// The application object. An exception that escapes an event handler is
// shown in the standard error box and the program goes on.

#include <QApplication>

namespace scarlex {
class Platform;
}

class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);
    // The error box goes through this platform once it is set; before that,
    // to the standard error stream.
    void SetErrorPlatform(scarlex::Platform* platform) { platform_ = platform; }
    bool notify(QObject* receiver, QEvent* event) override;
    // Shows the text as the error box would (an empty text for an unknown
    // thrown object).
    void ShowException(const std::string& text);

private:
    scarlex::Platform* platform_ = nullptr;
};
