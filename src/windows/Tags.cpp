#include "windows/Tags.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace scarlex {

TFTags::TFTags(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName(QStringLiteral("FTags"));
    setWindowTitle(QStringLiteral("Image Tags"));
    setProperty("helpContext", 200);

    MTags = new QPlainTextEdit(this);
    MTags->setObjectName(QStringLiteral("MTags"));
    MTags->setReadOnly(true);
    MTags->setLineWrapMode(QPlainTextEdit::NoWrap);
    MTags->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    MTags->setFixedSize(420, 360);

    BOK = new QPushButton(QStringLiteral("OK"), this);
    BOK->setObjectName(QStringLiteral("BOK"));
    BOK->setDefault(true);
    connect(BOK, &QPushButton::clicked, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(MTags);
    layout->addWidget(BOK, 0, Qt::AlignHCenter);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void TFTags::Fill(const std::string& listing, bool hasExif) {
    MTags->setPlainText(QString::fromStdString(listing));
    hasExif_ = hasExif;
    emit availabilityChanged(hasExif);
}

}  // namespace scarlex
