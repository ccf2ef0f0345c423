#include "app/QtPlatform.h"

#include <QApplication>
#include <QColorDialog>
#include <QCursor>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>

namespace scarlex {

QString ToQString(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }
std::string FromQString(const QString& path) { return QFile::encodeName(path).toStdString(); }

const char* MessageTitle(MsgType type) {
    switch (type) {
        case MsgType::Error: return "Error";
        case MsgType::Warning: return "Warning";
        case MsgType::Information: return "Information";
        case MsgType::Confirmation: return "Confirm";
    }
    return "Scarlex";
}

QStringList QtNameFilters(const std::string& filter) {
    QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
    QStringList result;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString label = parts[i];
        qsizetype paren = label.indexOf(QLatin1Char('('));
        if (paren >= 0) label = label.left(paren);
        label = label.trimmed();
        QStringList patterns;
        for (const QString& p : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            QString pattern = p.trimmed();
            if (!patterns.contains(pattern)) patterns << pattern;
        }
        QStringList upper;
        for (const QString& p : patterns) {
            if (!patterns.contains(p.toUpper()) && !upper.contains(p.toUpper())) upper << p.toUpper();
        }
        result << label + QStringLiteral(" (") + (patterns + upper).join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return result;
}

MsgAnswer QtPlatform::MessageBox(MsgType type, MsgButtons buttons, const std::string& text,
                                 const std::string& caption) {
    QMessageBox box(parent_);
    box.setWindowTitle(caption.empty() ? QString::fromLatin1(MessageTitle(type)) : QString::fromStdString(caption));
    box.setText(QString::fromStdString(text));
    switch (type) {
        case MsgType::Error: box.setIcon(QMessageBox::Critical); break;
        case MsgType::Warning: box.setIcon(QMessageBox::Warning); break;
        case MsgType::Information: box.setIcon(QMessageBox::Information); break;
        case MsgType::Confirmation: box.setIcon(QMessageBox::Question); break;
    }
    switch (buttons) {
        case MsgButtons::Ok:
            box.setStandardButtons(QMessageBox::Ok);
            box.setEscapeButton(QMessageBox::Ok);
            break;
        case MsgButtons::Cancel:
            box.setStandardButtons(QMessageBox::Cancel);
            box.setEscapeButton(QMessageBox::Cancel);
            break;
        case MsgButtons::OkCancel:
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            box.setEscapeButton(QMessageBox::Cancel);
            break;
        case MsgButtons::YesNo:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            box.setEscapeButton(QMessageBox::No);
            break;
        case MsgButtons::YesNoCancel:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
            box.setEscapeButton(QMessageBox::Cancel);
            break;
    }
    switch (box.exec()) {
        case QMessageBox::Ok: return MsgAnswer::Ok;
        case QMessageBox::Yes: return MsgAnswer::Yes;
        case QMessageBox::No: return MsgAnswer::No;
        default: return buttons == MsgButtons::Ok ? MsgAnswer::Ok : MsgAnswer::Cancel;
    }
}

void QtPlatform::Beep() { QApplication::beep(); }

namespace {
void PrepareFileDialog(QFileDialog& dialog, const FileDialogRequest& request) {
    if (!request.title.empty()) dialog.setWindowTitle(QString::fromStdString(request.title));
    dialog.setNameFilters(QtNameFilters(request.filter));
    if (!request.defaultExtension.empty()) dialog.setDefaultSuffix(QString::fromStdString(request.defaultExtension));
    if (!request.initialFolder.empty()) dialog.setDirectory(ToQString(request.initialFolder));
    if (!request.fileName.empty()) {
        // A proposed name with a folder would move the dialog there: where a
        // starting folder is asked for, only the name is proposed in it.
        const QFileInfo proposed(ToQString(request.fileName));
        dialog.selectFile(!request.initialFolder.empty() && proposed.isAbsolute() ? proposed.fileName()
                                                                               : ToQString(request.fileName));
    }
}
}  // namespace

std::optional<std::string> QtPlatform::SaveFileDialog(const FileDialogRequest& request) {
    QFileDialog dialog(parent_);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    PrepareFileDialog(dialog, request);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return FromQString(dialog.selectedFiles().front());
}

std::optional<std::vector<std::string>> QtPlatform::OpenFilesDialog(const FileDialogRequest& request) {
    QFileDialog dialog(parent_);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    PrepareFileDialog(dialog, request);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    std::vector<std::string> names;
    for (const QString& name : dialog.selectedFiles()) names.push_back(FromQString(name));
    if (names.empty()) return std::nullopt;
    return names;
}

std::optional<std::string> QtPlatform::FolderDialog(const std::string& title, const std::string& initialFolder) {
    QString folder = QFileDialog::getExistingDirectory(parent_, QString::fromStdString(title), ToQString(initialFolder),
                                                       QFileDialog::ShowDirsOnly);
    if (folder.isEmpty()) return std::nullopt;
    return FromQString(folder);
}

std::optional<uint32_t> QtPlatform::ColourDialog(uint32_t initial) {
    QColor start(int(initial & 0xFF), int((initial >> 8) & 0xFF), int((initial >> 16) & 0xFF));
    QColor chosen = QColorDialog::getColor(start, parent_);
    if (!chosen.isValid()) return std::nullopt;
    return uint32_t(chosen.red()) | (uint32_t(chosen.green()) << 8) | (uint32_t(chosen.blue()) << 16);
}

void QtPlatform::SetCursorShape(CursorShape shape) {
    // One override at most: it replaces the previous shape rather than
    // stacking, so the default is always one restore away.
    if (QGuiApplication::overrideCursor()) QGuiApplication::restoreOverrideCursor();
    shape_ = shape;
    switch (shape) {
        case CursorShape::Default: break;
        case CursorShape::Hourglass: QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); break;
        case CursorShape::Cross: QGuiApplication::setOverrideCursor(QCursor(Qt::CrossCursor)); break;
        case CursorShape::Hidden: QGuiApplication::setOverrideCursor(QCursor(Qt::BlankCursor)); break;
    }
}

void QtPlatform::SetCursorPos(int screenX, int screenY) { QCursor::setPos(screenX, screenY); }

void QtPlatform::GetCursorPos(int& screenX, int& screenY) const {
    QPoint p = QCursor::pos();
    screenX = p.x();
    screenY = p.y();
}

Modifiers QtPlatform::KeyState() const {
    Qt::KeyboardModifiers m = QGuiApplication::keyboardModifiers();
    return Modifiers{m.testFlag(Qt::ControlModifier), m.testFlag(Qt::ShiftModifier), m.testFlag(Qt::AltModifier)};
}

void QtPlatform::ProcessMessages() { QCoreApplication::processEvents(); }

}  // namespace scarlex
