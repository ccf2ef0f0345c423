#pragma once
// File moves and copies for saving. Both refuse to replace an existing
// target unless asked, so no user file is lost by accident.

#include <string>

namespace scarlex {

// Moves `from` to `to` (a rename, or a copy and delete across file
// systems), never over a file already at `to`. Returns "" on success or
// the reason.
std::string MoveFileTo(const std::string& from, const std::string& to);
// Copies into a new file `to`, which must not exist, with the source's
// mode bits and modification time, flushed to the disk. "" or the reason.
std::string CopyFileTo(const std::string& from, const std::string& to);
// Makes `to` (which must not exist) a second name of `from`, or a copy of
// it where the file system cannot link. "" or the reason.
std::string LinkOrCopyFileTo(const std::string& from, const std::string& to);
// Size in bytes, or -1.
long long FileSize(const std::string& path);

// A private folder that holds one operation's temporary files and is
// removed with everything in it when the object goes, or when the process
// is ended by SIGINT or SIGTERM meanwhile.
class PrivateWorkDir {
public:
    // Made inside `parent` with a name no user file can have. Folders of
    // that naming left in `parent` by a process that was killed outright
    // are removed first once they are a day old.
    explicit PrivateWorkDir(const std::string& parent);
    ~PrivateWorkDir();
    PrivateWorkDir(const PrivateWorkDir&) = delete;
    PrivateWorkDir& operator=(const PrivateWorkDir&) = delete;

    bool ok() const { return !path_.empty(); }
    const std::string& error() const { return error_; }
    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
    std::string error_;
    int ticket_ = -1;
};

// Removes our own work folders (".scarlex-save-XXXXXX", owned by this user,
// holding nothing but plain files) in `parent` whose last change is at
// least `ageSeconds` old. Returns how many went.
int RemoveStaleWorkDirs(const std::string& parent, long long ageSeconds = 24 * 60 * 60);

}  // namespace scarlex
