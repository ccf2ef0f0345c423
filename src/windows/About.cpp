#include "windows/About.h"

#include <QLabel>
#include <QPushButton>
#include <QTextBrowser>
#include <QTimer>
#include <QVBoxLayout>
#include <QtGlobal>

#ifndef SCARLEX_VERSION
#define SCARLEX_VERSION "unknown"
#endif
#ifndef SCARLEX_LIBJPEG_VERSION
#define SCARLEX_LIBJPEG_VERSION ""
#endif
#ifndef SCARLEX_EXIV2_VERSION
#define SCARLEX_EXIV2_VERSION ""
#endif

namespace scarlex {

namespace {
QString WithVersion(const char* name, const QString& version) {
    return version.isEmpty() ? QString::fromLatin1(name) : QString::fromLatin1(name) + QLatin1Char(' ') + version;
}
}  // namespace

QString TFAbout::ProgramVersion() { return QStringLiteral(SCARLEX_VERSION); }

QString TFAbout::CreditsHtml() {
    QString html;
    html += QStringLiteral(
        "<p>Scarlex removes red eye from JPEG photographs and saves them by replacing only the JPEG blocks "
        "around the edits, keeping everything else exactly as it was.</p>"
        "<p>Scarlex is free software; you can redistribute it and/or modify it under the terms of the GNU General "
        "Public License, version 2 or (at your option) any later version. It is distributed in the hope that it will "
        "be useful, but WITHOUT ANY WARRANTY.</p>"
        "<p><b>Built with</b></p>");
    html += QStringLiteral("<p><b>%1</b>: the Qt toolkit, used under the GNU Lesser General Public License, version 3.</p>")
                .arg(WithVersion("Qt", QString::fromLatin1(qVersion())));
    html += QStringLiteral(
                "<p><b>%1</b>: JPEG decoding and encoding, and the coefficient-level access that lossless saving "
                "needs; used under the IJG License, the Modified (3-clause) BSD License and the zlib License. "
                "This software is based in part on the work of the Independent JPEG Group.</p>")
                .arg(WithVersion("libjpeg-turbo", QStringLiteral(SCARLEX_LIBJPEG_VERSION)));
    html += QStringLiteral(
                "<p><b>%1</b>: reading EXIF and IPTC tags; used under the GNU General Public License, version 2 or "
                "later.</p>")
                .arg(WithVersion("Exiv2", QStringLiteral(SCARLEX_EXIV2_VERSION)));
    return html;
}

TFAbout::TFAbout(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName(QStringLiteral("FAbout"));
    setWindowTitle(QStringLiteral("About..."));
    setProperty("helpContext", 400);
    setFixedSize(267, 307);

    ProductName = new QLabel(QStringLiteral("Scarlex"), this);
    ProductName->setObjectName(QStringLiteral("ProductName"));
    QFont big = ProductName->font();
    big.setPointSize(big.pointSize() + 8);
    big.setBold(true);
    ProductName->setFont(big);
    ProductName->setAlignment(Qt::AlignCenter);

    Version = new QLabel(QStringLiteral("Version ") + ProgramVersion(), this);
    Version->setObjectName(QStringLiteral("Version"));
    Version->setAlignment(Qt::AlignCenter);

    REAbout = new QTextBrowser(this);
    REAbout->setObjectName(QStringLiteral("REAbout"));
    REAbout->setOpenLinks(false);
    REAbout->setHtml(CreditsHtml());

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(kCloseAfterMs);
    connect(Timer1, &QTimer::timeout, this, &TFAbout::Timer1Timer);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(ProductName);
    layout->addWidget(Version);
    layout->addWidget(REAbout, 1);
    layout->addWidget(OKButton, 0, Qt::AlignHCenter);
}

void TFAbout::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormShow();
}

// Enabling a running timer leaves it running: a later showing may close
// sooner than a minute.
void TFAbout::FormShow() {
    if (!Timer1->isActive()) Timer1->start();
}

void TFAbout::Timer1Timer() { close(); }

}  // namespace scarlex
