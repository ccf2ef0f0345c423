#include "platform/ScriptedPlatform.h"

// g++ 12 wrongly reports moved std::optional<std::vector> values as maybe
// uninitialised, with or without the sanitizers.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace scarlex {

namespace {
MsgAnswer SafestAnswer(MsgButtons buttons) {
    switch (buttons) {
        case MsgButtons::Ok: return MsgAnswer::Ok;
        case MsgButtons::Cancel: return MsgAnswer::Cancel;
        case MsgButtons::YesNo: return MsgAnswer::No;
        default: return MsgAnswer::Cancel;
    }
}
template <typename T>
T TakeFront(std::deque<T>& queue, T fallback) {
    if (!queue.empty()) {
        fallback = std::move(queue.front());
        queue.pop_front();
    }
    return fallback;
}
}  // namespace

MsgAnswer ScriptedPlatform::MessageBox(MsgType type, MsgButtons buttons, const std::string& text,
                                       const std::string& caption) {
    MsgAnswer answer = TakeFront(messageAnswers, SafestAnswer(buttons));
    messages.push_back({type, buttons, text, answer, caption});
    return answer;
}

std::optional<std::string> ScriptedPlatform::SaveFileDialog(const FileDialogRequest& request) {
    saveRequests.push_back(request);
    return TakeFront(saveAnswers, std::optional<std::string>{});
}

std::optional<std::vector<std::string>> ScriptedPlatform::OpenFilesDialog(const FileDialogRequest& request) {
    openRequests.push_back(request);
    return TakeFront(openAnswers, std::optional<std::vector<std::string>>{});
}

std::optional<std::string> ScriptedPlatform::FolderDialog(const std::string&, const std::string&) {
    return TakeFront(folderAnswers, std::optional<std::string>{});
}

std::optional<uint32_t> ScriptedPlatform::ColourDialog(uint32_t) {
    return TakeFront(colourAnswers, std::optional<uint32_t>{});
}

void ScriptedPlatform::SetCursorShape(CursorShape shape) {
    cursor_ = shape;
    cursorHistory.push_back(shape);
}

void ScriptedPlatform::ProcessMessages() {
    ++pumps;
    if (onProcessMessages) onProcessMessages();
}

}  // namespace scarlex
