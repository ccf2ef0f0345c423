#pragma once
// The program's run of the main window, and what a fatal error does: its
// message is shown while the window still exists where it can, written as
// one line on the standard error stream, and the program ends with status 1.

#include <functional>
#include <string>
#include <vector>

class QWidget;
class TApplication;

namespace scarlex {

class Platform;

struct ProgramParts {
    // Centres the platform's dialogs on the window while it exists; called
    // with nullptr before the window goes.
    std::function<void(QWidget*)> setDialogParent;
    // Runs the message loop; empty means the application's own.
    std::function<int()> messageLoop;
};

// Creates the main window and its secondary windows, shows it and runs the
// loop until it closes. Returns the exit status: the loop's, or 1 after a
// fatal error. Never throws.
int RunMainWindow(TApplication& app, Platform& platform, std::vector<std::string> commandLine,
                  const ProgramParts& parts);

// "scarlex: TEXT" on one line of stderr, then the error box when there is a
// platform to show it. Never throws.
void ReportFatal(Platform* platform, const std::string& text);

}  // namespace scarlex
