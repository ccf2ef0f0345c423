// Program entry: the application object, the main window and the secondary
// windows in their order, then the message loop.

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include <QIcon>

#include "app/Application.h"
#include "app/QtPlatform.h"
#include "app/Unit1.h"

namespace {
// Names as the shell passed them, in the file system's encoding.
std::vector<std::string> Arguments(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    return args;
}
}  // namespace

int main(int argc, char** argv) {
    TApplication* application = nullptr;
    scarlex::QtPlatform platform;
    try {
        TApplication app(argc, argv);
        application = &app;
        // Read after Qt has taken out the options it knows.
        std::vector<std::string> commandLine = Arguments(argc, argv);
        // The title shown by the desktop is the main window's caption;
        // the names below tie the window to its .desktop entry.
        QCoreApplication::setApplicationName(QStringLiteral("scarlex"));
        QGuiApplication::setDesktopFileName(QStringLiteral("scarlex"));
        QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("scarlex")));
        app.SetErrorPlatform(&platform);

        TMainForm mainForm(platform, commandLine);
        MainForm = &mainForm;
        platform.SetDialogParent(&mainForm);
        // The About box, the startup hints window, the preferences dialog and
        // the image tags window, in that order.
        mainForm.CreateSecondaryWindows();

        mainForm.show();
        app.exec();
        MainForm = nullptr;
        platform.SetDialogParent(nullptr);
        application = nullptr;
    } catch (const std::exception& e) {
        if (application) {
            application->ShowException(e.what());
        } else {
            std::fprintf(stderr, "scarlex: %s\n", e.what());
        }
    } catch (...) {
        if (application) {
            application->ShowException(std::string());
        } else {
            std::fprintf(stderr, "scarlex: unknown error\n");
        }
    }
    return 0;
}
