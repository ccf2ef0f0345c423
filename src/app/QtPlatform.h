#pragma once
// The desktop behind the Platform interface: Qt message boxes and file
// dialogs, the system beep, the pointer and the modifier keys.

#include <QStringList>

#include "platform/Platform.h"

class QWidget;

namespace scarlex {

class QtPlatform : public Platform {
public:
    // Dialogs are centred on `parent` once it is set.
    void SetDialogParent(QWidget* parent) { parent_ = parent; }

    MsgAnswer MessageBox(MsgType type, MsgButtons buttons, const std::string& text,
                         const std::string& caption = std::string()) override;
    void Beep() override;
    std::optional<std::string> SaveFileDialog(const FileDialogRequest& request) override;
    std::optional<std::vector<std::string>> OpenFilesDialog(const FileDialogRequest& request) override;
    std::optional<std::string> FolderDialog(const std::string& title, const std::string& initialFolder) override;
    std::optional<uint32_t> ColourDialog(uint32_t initial) override;
    void SetCursorShape(CursorShape shape) override;
    CursorShape CurrentCursorShape() const override { return shape_; }
    void SetCursorPos(int screenX, int screenY) override;
    void GetCursorPos(int& screenX, int& screenY) const override;
    Modifiers KeyState() const override;
    void ProcessMessages() override;

private:
    QWidget* parent_ = nullptr;
    CursorShape shape_ = CursorShape::Default;
};

// "label|patterns|label|patterns" into Qt's name filters. Qt reads the
// patterns from the parenthesis of each entry and, on Linux, matches them
// with case, so each entry lists its patterns space-separated in both
// lower and upper case (cameras write ".JPG").
QStringList QtNameFilters(const std::string& filter);

// Titles of the message boxes, by type.
const char* MessageTitle(MsgType type);

// File names cross to Qt in the local 8-bit encoding of the file system.
QString ToQString(const std::string& path);
std::string FromQString(const QString& path);

}  // namespace scarlex
