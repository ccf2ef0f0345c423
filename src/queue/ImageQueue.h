#pragma once
// Photographs reach the program through the open dialog, drops from file
// managers and the command line. All three feed one queue; the oldest name
// is loaded at once and the others wait for Next.

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace scarlex {

// A name is queued only when its extension is ".jpg" in any case; anything
// else, ".jpeg" included, is passed over without a message.
bool IsAcceptedName(const std::string& name);

// Some shells hand over dropped names with line ends attached: drops the
// first carriage return with the character after it, then the first line
// feed with the character after it.
std::string CleanDroppedName(std::string name);

// Names still waiting to be opened, oldest first, exactly as supplied.
// Names join at the back and leave from the front, one per load; the queue
// is never cleared.
class FileQueue {
public:
    // Appends the name if it is accepted; returns whether it was.
    bool Offer(const std::string& name);
    // Offers every name in order; returns how many were accepted.
    std::size_t OfferAll(const std::vector<std::string>& names);

    bool Empty() const { return names_.empty(); }
    std::size_t Count() const { return names_.size(); }
    const std::string& Front() const { return names_.front(); }
    void PopFront() { names_.pop_front(); }
    // Puts back a name whose load the user declined, first in line again.
    void PushFront(const std::string& name) { names_.push_front(name); }
    const std::deque<std::string>& Names() const { return names_; }

private:
    std::deque<std::string> names_;
};

// What became of one load.
enum class LoadOutcome {
    Loaded,
    Failed,    // the file could not be shown; the photograph on screen stays
    Declined,  // the user kept the photograph on screen and its edits
};

// What the queue needs from the window that shows the photographs.
class QueueHost {
public:
    virtual ~QueueHost() = default;
    virtual bool AutoSavePossible() = 0;
    virtual void SetNextEnabled(bool enabled) = 0;
    virtual void SetAutoSaveNextEnabled(bool enabled) = 0;
    virtual LoadOutcome LoadImageFile(const std::string& name) = 0;
};

// The name a queue step tried ("" when the queue was empty) and how it went.
struct QueueStep {
    std::string name;
    LoadOutcome outcome = LoadOutcome::Failed;
};

// The dialog and the command line ask whether auto-save is possible before
// offering Auto Save and Next; a drop enables it regardless.
enum class AutoSaveTest { Apply, Skip };

// The common tail of Open, drop and command line: sets the Next buttons for
// what waits, then loads the oldest name and takes it off the queue.
QueueStep OpenNextPending(FileQueue& queue, QueueHost& host, AutoSaveTest test);

// Next: loads the oldest waiting name, if any, and takes it off the queue;
// a name whose load was declined goes back to the front, and the Next
// buttons stay as they were.
QueueStep OpenNextInQueue(FileQueue& queue, QueueHost& host);

// The open dialog: multiple selection, three filter entries, starting in the
// remembered folder when there is one, else in that of the photograph on
// screen (`currentPath`, "" when there is none).
inline constexpr const char* kOpenDialogFilter =
    "All (*.jpg;*.jpeg;)|*.jpg;*.jpeg|JPEG Image File (*.jpg)|*.jpg|JPEG Image File (*.jpeg)|*.jpeg";
FileDialogRequest MakeOpenDialogRequest(bool rememberOpenFolder, const std::string& lastOpenFolder,
                                        const std::string& currentPath = std::string());

// The folder to remember after an Open, with its trailing separator: that
// of the photograph this Open loaded, otherwise that of the first name the
// dialog returned.
std::string FolderToRemember(const std::string& loadedName, const std::vector<std::string>& chosen);

}  // namespace scarlex
