#include "queue/ImageQueue.h"

#include "common/Paths.h"

namespace scarlex {

bool IsAcceptedName(const std::string& name) { return HasJpgExtension(name); }

namespace {
void EraseWithFollower(std::string& name, char c) {
    std::size_t at = name.find(c);
    if (at == std::string::npos) return;
    name.erase(at, 2);  // erase clamps at the end of the text
}
}  // namespace

std::string CleanDroppedName(std::string name) {
    EraseWithFollower(name, '\r');
    EraseWithFollower(name, '\n');
    return name;
}

bool FileQueue::Offer(const std::string& name) {
    if (!IsAcceptedName(name)) return false;
    names_.push_back(name);
    return true;
}

std::size_t FileQueue::OfferAll(const std::vector<std::string>& names) {
    std::size_t accepted = 0;
    for (const std::string& name : names) accepted += Offer(name) ? 1 : 0;
    return accepted;
}

QueueStep OpenNextPending(FileQueue& queue, QueueHost& host, AutoSaveTest test) {
    if (queue.Count() > 1) {
        host.SetNextEnabled(true);
        host.SetAutoSaveNextEnabled(test == AutoSaveTest::Skip || host.AutoSavePossible());
    }
    return OpenNextInQueue(queue, host);
}

QueueStep OpenNextInQueue(FileQueue& queue, QueueHost& host) {
    QueueStep step;
    if (queue.Empty()) return step;
    // Taken off before loading: a name that fails to load must not block the
    // queue, and the loader may re-enter through its message boxes.
    step.name = queue.Front();
    queue.PopFront();
    step.outcome = host.LoadImageFile(step.name);
    if (step.outcome == LoadOutcome::Declined) {
        queue.PushFront(step.name);
    } else if (queue.Empty()) {
        host.SetNextEnabled(false);
        host.SetAutoSaveNextEnabled(false);
    }
    return step;
}

FileDialogRequest MakeOpenDialogRequest(bool rememberOpenFolder, const std::string& lastOpenFolder,
                                        const std::string& currentPath) {
    FileDialogRequest request;
    request.title = "Open";
    request.filter = kOpenDialogFilter;
    request.defaultExtension = "jpg";
    if (rememberOpenFolder && !lastOpenFolder.empty()) {
        request.initialFolder = lastOpenFolder;
    } else if (!currentPath.empty()) {
        // The next photograph of a shoot is usually beside this one.
        request.initialFolder = ExtractFilePath(currentPath);
    }
    return request;
}

std::string FolderToRemember(const std::string& loadedName, const std::vector<std::string>& chosen) {
    if (!loadedName.empty()) return ExtractFilePath(loadedName);
    if (!chosen.empty()) return ExtractFilePath(chosen.front());
    return {};
}

}  // namespace scarlex
