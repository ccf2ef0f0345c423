#pragma once
// The program's own help viewer: one window showing the HTML help file
// that ships beside the program.

#include <QDialog>
#include <string>
#include <vector>

class QTextBrowser;

class THelpWindow : public QDialog {
    Q_OBJECT
public:
    explicit THelpWindow(QWidget* parent = nullptr);
    // False when the file cannot be read; the window is left as it was.
    bool LoadHelpFile(const QString& path);
    QTextBrowser* HelpText;
};

// Where the help file of the executable `exePath` may be, most likely
// first: beside the executable (build tree), then under the installed
// share folders. The file is named after the executable, with ".html".
std::vector<std::string> HelpFileCandidates(const std::string& exePath);
// The first candidate that exists, or the first candidate when none does.
std::string LocateHelpFile(const std::string& exePath);
