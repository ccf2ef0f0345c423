#include "app/Application.h"

#include <cstdio>
#include <exception>

#include "platform/Platform.h"

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        ShowException(e.what());
    } catch (...) {
        ShowException(std::string());
    }
    return false;
}

void TApplication::ShowException(const std::string& text) {
    if (platform_) {
        platform_->MessageBox(scarlex::MsgType::Error, scarlex::MsgButtons::Ok, text);
    } else {
        std::fprintf(stderr, "scarlex: %s\n", text.c_str());
    }
}
