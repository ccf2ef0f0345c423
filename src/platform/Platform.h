#pragma once
// What the program's commands ask of the desktop: message boxes, the common
// dialogs, a beep, the cursor, the modifier keys and the message pump. The
// Qt build implements this with real widgets; tests use ScriptedPlatform,
// which answers from a queue and records what was shown.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace scarlex {

enum class MsgType { Error, Warning, Information, Confirmation };
enum class MsgButtons { Ok, Cancel, OkCancel, YesNo, YesNoCancel };
enum class MsgAnswer { Ok, Cancel, Yes, No };

enum class CursorShape { Default, Hourglass, Cross, Hidden };

struct FileDialogRequest {
    std::string title;
    std::string filter;            // "JPEG (*.jpg;*.jpeg)|*.jpg" style: label|patterns pairs
    std::string defaultExtension;  // without the dot, e.g. "jpg"
    std::string initialFolder;
    std::string fileName;          // proposed name
};

struct Modifiers {
    bool ctrl = false;
    bool shift = false;
    bool alt = false;
};

class Platform {
public:
    virtual ~Platform() = default;

    // `caption` is the box's title; empty means the program's name.
    virtual MsgAnswer MessageBox(MsgType type, MsgButtons buttons, const std::string& text,
                                 const std::string& caption = std::string()) = 0;
    virtual void Beep() = 0;

    // Each returns nothing when the user cancels.
    virtual std::optional<std::string> SaveFileDialog(const FileDialogRequest& request) = 0;
    virtual std::optional<std::vector<std::string>> OpenFilesDialog(const FileDialogRequest& request) = 0;
    virtual std::optional<std::string> FolderDialog(const std::string& title, const std::string& initialFolder) = 0;
    // Colours are 0x00BBGGRR, as the settings file stores them.
    virtual std::optional<uint32_t> ColourDialog(uint32_t initial) = 0;

    virtual void SetCursorShape(CursorShape shape) = 0;
    virtual CursorShape CurrentCursorShape() const = 0;
    virtual void SetCursorPos(int screenX, int screenY) = 0;
    virtual void GetCursorPos(int& screenX, int& screenY) const = 0;
    virtual Modifiers KeyState() const = 0;

    virtual void ProcessMessages() = 0;
};

// Sets the hourglass for the life of the object and puts back what was there.
class BusyCursor {
public:
    explicit BusyCursor(Platform& platform) : platform_(platform), previous_(platform.CurrentCursorShape()) {
        platform_.SetCursorShape(CursorShape::Hourglass);
    }
    ~BusyCursor() { platform_.SetCursorShape(previous_); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;

private:
    Platform& platform_;
    CursorShape previous_;
};

}  // namespace scarlex
