#pragma once
// A platform with no display: dialogs and message boxes answer from queues
// filled by the caller, and everything shown is recorded. Used by the tests
// and by scarlex-cli.

#include <deque>
#include <functional>

#include "platform/Platform.h"

namespace scarlex {

class ScriptedPlatform : public Platform {
public:
    struct ShownMessage {
        MsgType type;
        MsgButtons buttons;
        std::string text;
        MsgAnswer answer;
        std::string caption;
    };

    // Answers, taken front first. With an empty queue a message box answers
    // its safest button (Cancel, No, or Ok) and a dialog is cancelled.
    std::deque<MsgAnswer> messageAnswers;
    std::deque<std::optional<std::string>> saveAnswers;
    std::deque<std::optional<std::vector<std::string>>> openAnswers;
    std::deque<std::optional<std::string>> folderAnswers;
    std::deque<std::optional<uint32_t>> colourAnswers;

    // What happened.
    std::vector<ShownMessage> messages;
    std::vector<FileDialogRequest> saveRequests;
    std::vector<FileDialogRequest> openRequests;
    std::vector<CursorShape> cursorHistory;
    int beeps = 0;
    int pumps = 0;

    Modifiers modifiers;
    std::function<void()> onProcessMessages;  // runs at every pump, if set

    MsgAnswer MessageBox(MsgType type, MsgButtons buttons, const std::string& text,
                         const std::string& caption = std::string()) override;
    void Beep() override { ++beeps; }
    std::optional<std::string> SaveFileDialog(const FileDialogRequest& request) override;
    std::optional<std::vector<std::string>> OpenFilesDialog(const FileDialogRequest& request) override;
    std::optional<std::string> FolderDialog(const std::string& title, const std::string& initialFolder) override;
    std::optional<uint32_t> ColourDialog(uint32_t initial) override;
    void SetCursorShape(CursorShape shape) override;
    CursorShape CurrentCursorShape() const override { return cursor_; }
    void SetCursorPos(int x, int y) override { cursorX_ = x; cursorY_ = y; }
    void GetCursorPos(int& x, int& y) const override { x = cursorX_; y = cursorY_; }
    Modifiers KeyState() const override { return modifiers; }
    void ProcessMessages() override;

private:
    CursorShape cursor_ = CursorShape::Default;
    int cursorX_ = 0;
    int cursorY_ = 0;
};

}  // namespace scarlex
