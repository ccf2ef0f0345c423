#pragma once
// Writing a file without ever leaving it half-written: the new content goes
// into a temporary file beside the target (same folder, so the same file
// system), is flushed to the disk, gets its permission bits, and only then
// is renamed over the target in one step. Until that rename the target is
// exactly as it was; a failure, an exception or SIGINT/SIGTERM in between
// leaves no temporary behind.

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

namespace scarlex {

struct PlaceOptions {
    // Mode bits to give the file: those of this file when it exists,
    // otherwise those of the file being replaced, otherwise 0666 less the
    // umask.
    std::string permissionsFrom;
    // Fail with "already exists" rather than replace a file at the target.
    bool noReplace = false;
    // Flush the file to the disk before the rename and the folder after it.
    // Off only for private intermediates nobody keeps.
    bool durable = true;
};

// For private intermediates: written beside and renamed, not flushed.
inline PlaceOptions ScratchPlacement() {
    PlaceOptions o;
    o.durable = false;
    return o;
}

// A new file beside `target` under a hidden temporary name. Write to it
// through Stream() or Descriptor(), then Commit(). Destroyed without a
// commit, it removes the temporary. A target that exists and is neither a
// plain file nor a folder (a device, a pipe) is written to directly.
class FileBeside {
public:
    explicit FileBeside(const std::string& target, PlaceOptions options = {});
    ~FileBeside();
    FileBeside(const FileBeside&) = delete;
    FileBeside& operator=(const FileBeside&) = delete;

    bool ok() const { return fd_ >= 0; }
    const std::string& error() const { return error_; }
    const std::string& Target() const { return target_; }
    const std::string& TempPath() const { return temp_; }
    int Descriptor() const { return fd_; }
    // A stdio stream on the file, owned here: never fclose it.
    FILE* Stream();

    // Appends bytes; false (with error()) on a write failure.
    bool Write(std::span<const uint8_t> bytes);

    // Flushes, sets the mode, renames into place. Returns "" or the reason,
    // which always names the target; on failure the target is untouched and
    // the temporary is gone.
    std::string Commit();
    // Removes the temporary; the target stays as it was.
    void Discard();

private:
    std::string target_;
    std::string temp_;
    PlaceOptions options_;
    int fd_ = -1;
    bool direct_ = false;  // writing into an existing device or pipe
    FILE* stream_ = nullptr;
    int ticket_ = -1;
    std::string error_;
};

// The whole of `bytes` as the new content of `target`. "" or the reason.
std::string WriteFileBeside(const std::string& target, std::span<const uint8_t> bytes,
                            const PlaceOptions& options = {});

// Puts the complete file `from` at `target` with the same care (mode bits,
// flush, one rename); `from` must be on the target's file system, and a
// target that exists must be a plain file. "" or the reason; on failure
// `from` stays where it was.
std::string PlaceFile(const std::string& from, const std::string& target, const PlaceOptions& options = {});

// Renames `from` to `to` only if nothing is at `to`, atomically where the
// file system allows it. 0 or the errno value (EEXIST when taken).
int RenameNoReplace(const std::string& from, const std::string& to);

// Flushes a folder's entries (after a rename into it) to the disk.
void SyncFolderOf(const std::string& path);

}  // namespace scarlex
