#include "app/HelpWindow.h"

#include <QFile>
#include <QFileInfo>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include "app/QtPlatform.h"
#include "common/Paths.h"

THelpWindow::THelpWindow(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("HelpWindow"));
    setWindowTitle(QStringLiteral("Scarlex Help"));
    setModal(false);
    resize(640, 560);
    HelpText = new QTextBrowser(this);
    HelpText->setObjectName(QStringLiteral("HelpText"));
    HelpText->setOpenExternalLinks(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(HelpText);
}

bool THelpWindow::LoadHelpFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    HelpText->setSearchPaths({QFileInfo(path).absolutePath()});
    HelpText->setSource(QUrl::fromLocalFile(path));
    return true;
}

std::vector<std::string> HelpFileCandidates(const std::string& exePath) {
    using scarlex::ChangeFileExt;
    using scarlex::ExtractFileName;
    using scarlex::ExtractFilePath;
    std::string name = ChangeFileExt(ExtractFileName(exePath), ".html");
    std::string folder = ExtractFilePath(exePath);
    return {
        ChangeFileExt(exePath, ".html"),
        folder + "../share/doc/scarlex/" + name,
        folder + "../share/scarlex/" + name,
    };
}

std::string LocateHelpFile(const std::string& exePath) {
    std::vector<std::string> candidates = HelpFileCandidates(exePath);
    for (const std::string& c : candidates)
        if (scarlex::FileExists(c)) return c;
    return candidates.front();
}
