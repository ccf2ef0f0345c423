#include "app/Program.h"

#include <cstdio>
#include <exception>

#include "app/Application.h"
#include "app/Unit1.h"
#include "platform/Platform.h"

namespace scarlex {

namespace {

std::string Describe(const std::exception& e) { return e.what(); }
const char* const kUnknownError = "unknown error";

}  // namespace

void ReportFatal(Platform* platform, const std::string& text) {
    std::string line = text.empty() ? std::string(kUnknownError) : text;
    for (char& c : line)
        if (c == '\n' || c == '\r') c = ' ';
    std::fprintf(stderr, "scarlex: %s\n", line.c_str());
    std::fflush(stderr);
    if (!platform) return;
    try {
        platform->MessageBox(MsgType::Error, MsgButtons::Ok, text.empty() ? std::string(kUnknownError) : text);
    } catch (...) {
        // The line on stderr has said it.
    }
}

int RunMainWindow(TApplication& app, Platform& platform, std::vector<std::string> commandLine,
                  const ProgramParts& parts) {
    std::string fatal;
    try {
        TMainForm mainForm(platform, std::move(commandLine));
        // Declared after the window, so undone before it is destroyed,
        // whichever way this block is left.
        struct Attached {
            const ProgramParts& parts;
            ~Attached() {
                if (parts.setDialogParent) parts.setDialogParent(nullptr);
                if (MainForm) MainForm = nullptr;
            }
        } attached{parts};
        MainForm = &mainForm;
        if (parts.setDialogParent) parts.setDialogParent(&mainForm);
        try {
            // The About box, the startup hints window, the preferences
            // dialog and the image tags window, in that order.
            mainForm.CreateSecondaryWindows();
            mainForm.show();
            return parts.messageLoop ? parts.messageLoop() : app.exec();
        } catch (const std::exception& e) {
            fatal = Describe(e);
        } catch (...) {
            fatal.clear();
        }
        // The window still exists: the box is shown over it.
        ReportFatal(&platform, fatal);
        return 1;
    } catch (const std::exception& e) {
        fatal = Describe(e);
    } catch (...) {
        fatal.clear();
    }
    // The window could not be made or went down with the error: the box
    // stands alone, parented to nothing that is gone.
    ReportFatal(&platform, fatal);
    return 1;
}

}  // namespace scarlex
