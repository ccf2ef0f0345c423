#pragma once
// File moves and copies for saving. Both refuse to replace an existing
// target unless asked, so no user file is lost by accident.

#include <string>

namespace scarlex {

// Moves `from` to `to` (a rename, or a copy and delete across file
// systems). Returns "" on success or the reason.
std::string MoveFileTo(const std::string& from, const std::string& to);
// Copies into a new file `to`, which must not exist. "" or the reason.
std::string CopyFileTo(const std::string& from, const std::string& to);
// Size in bytes, or -1.
long long FileSize(const std::string& path);

// A private folder that holds one operation's temporary files and is
// removed with everything in it when the object goes.
class PrivateWorkDir {
public:
    // Made inside `parent` with a name no user file can have.
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
};

}  // namespace scarlex
