// Program entry: the application object, then the main window and the
// secondary windows in their order, then the message loop.

#include <memory>
#include <string>
#include <vector>

#include <QIcon>

#include "app/Application.h"
#include "app/Program.h"
#include "app/QtPlatform.h"

namespace {
// Names as the shell passed them, in the file system's encoding.
std::vector<std::string> Arguments(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    return args;
}
}  // namespace

int main(int argc, char** argv) {
    // Outlives the application object, which reports through it.
    scarlex::QtPlatform platform;
    std::unique_ptr<TApplication> app;
    try {
        app = std::make_unique<TApplication>(argc, argv);
    } catch (const std::exception& e) {
        scarlex::ReportFatal(nullptr, e.what());
        return 1;
    } catch (...) {
        scarlex::ReportFatal(nullptr, std::string());
        return 1;
    }
    // Read after Qt has taken out the options it knows.
    std::vector<std::string> commandLine = Arguments(argc, argv);
    // The title shown by the desktop is the main window's caption; the
    // names below tie the window to its .desktop entry.
    QCoreApplication::setApplicationName(QStringLiteral("scarlex"));
    QGuiApplication::setDesktopFileName(QStringLiteral("scarlex"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("scarlex")));
    app->SetErrorPlatform(&platform);

    scarlex::ProgramParts parts;
    parts.setDialogParent = [&platform](QWidget* window) { platform.SetDialogParent(window); };
    const int status = scarlex::RunMainWindow(*app, platform, std::move(commandLine), parts);
    app->SetErrorPlatform(nullptr);
    return status;
}
