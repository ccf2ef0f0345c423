#include "common/SafeWrite.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/Paths.h"
#include "common/SignalCleanup.h"

namespace scarlex {

namespace {

std::string Why(const std::string& path, int err) { return path + ": " + std::strerror(err); }

// A link to a file is replaced through the link: the file it names gets the
// new content and the link stays a link.
std::string ResolveTarget(const std::string& target) {
    struct stat st {};
    if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return target;
    char resolved[PATH_MAX];
    if (::realpath(target.c_str(), resolved)) return resolved;
    return target;
}

mode_t CurrentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// The mode bits (and, for a replaced file, the group) the new file gets.
void ApplyOwnership(int fd, const std::string& target, const PlaceOptions& options) {
    struct stat st {};
    if (!options.permissionsFrom.empty() && ::stat(options.permissionsFrom.c_str(), &st) == 0) {
        ::fchmod(fd, st.st_mode & 0777);
        return;
    }
    if (::stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        struct stat own {};
        if (::fstat(fd, &own) == 0 && own.st_gid != st.st_gid) (void)::fchown(fd, static_cast<uid_t>(-1), st.st_gid);
        ::fchmod(fd, st.st_mode & 0777);
        return;
    }
    ::fchmod(fd, 0666 & ~CurrentUmask());
}

int Rename(const std::string& from, const std::string& to, bool noReplace) {
    if (noReplace) return RenameNoReplace(from, to);
    return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

}  // namespace

int RenameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    const int err = errno;
    if (err != EINVAL && err != ENOSYS && err != ENOTSUP) return err;
    // The file system cannot say "no replace" in a rename: a hard link can.
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return 0;
    }
    const int linkErr = errno;
    if (linkErr == EEXIST) return EEXIST;
    if (linkErr != EPERM && linkErr != ENOTSUP && linkErr != EOPNOTSUPP) return linkErr;
    // Neither: check and rename, the best such a file system allows.
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0) return EEXIST;
    return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

void SyncFolderOf(const std::string& path) {
    const std::string folder = ExtractFilePath(path);
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

FileBeside::FileBeside(const std::string& target, PlaceOptions options)
    : target_(ResolveTarget(target)), options_(std::move(options)) {
    struct stat st {};
    if (::stat(target_.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        if (S_ISDIR(st.st_mode)) {
            error_ = target + ": is a directory";
            return;
        }
        if (options_.noReplace) {
            error_ = target + ": already exists";
            return;
        }
        // A device or a pipe (/dev/null, /dev/stdout) is written to as it
        // is: renaming over it would put a plain file in its place.
        direct_ = true;
        fd_ = ::open(target_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        if (fd_ < 0) error_ = Why(target, errno);
        return;
    }
    std::string base = ExtractFileName(target_);
    if (base.empty()) {
        error_ = target + ": not a file name";
        return;
    }
    // Room for the hidden prefix and the random tail within NAME_MAX.
    if (base.size() > 200) base.resize(200);
    temp_ = ExtractFilePath(target_);
    temp_.append(1, '.').append(base).append(".scarlex-XXXXXX");
    fd_ = ::mkostemp(temp_.data(), O_CLOEXEC);
    if (fd_ < 0) {
        error_ = Why(target, errno);
        temp_.clear();
        return;
    }
    ticket_ = RegisterTemporaryFile(temp_.c_str());
}

FileBeside::~FileBeside() { Discard(); }

FILE* FileBeside::Stream() {
    if (!stream_ && fd_ >= 0) stream_ = ::fdopen(fd_, "wb");
    return stream_;
}

bool FileBeside::Write(std::span<const uint8_t> bytes) {
    if (fd_ < 0) return false;
    if (stream_) {
        if (std::fwrite(bytes.data(), 1, bytes.size(), stream_) == bytes.size()) return true;
        error_ = Why(target_, errno);
        return false;
    }
    const uint8_t* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd_, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error_ = Why(target_, n < 0 ? errno : ENOSPC);
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

void FileBeside::Discard() {
    if (stream_) {
        std::fclose(stream_);
        stream_ = nullptr;
        fd_ = -1;
    } else if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temp_.empty()) {
        ::unlink(temp_.c_str());
        temp_.clear();
    }
    UnregisterTemporary(ticket_);
    ticket_ = -1;
}

std::string FileBeside::Commit() {
    if (fd_ < 0) return error_.empty() ? target_ + ": not open" : error_;
    int err = 0;
    if (stream_ && (std::fflush(stream_) != 0 || std::ferror(stream_))) err = errno ? errno : EIO;
    if (direct_) {
        const int closed = stream_ ? std::fclose(stream_) : ::close(fd_);
        stream_ = nullptr;
        fd_ = -1;
        if (!err && closed != 0) err = errno;
        return err ? (error_ = Why(target_, err)) : std::string();
    }
    if (!err) ApplyOwnership(fd_, target_, options_);
    if (!err && options_.durable && ::fsync(fd_) != 0) err = errno;
    const int closed = stream_ ? std::fclose(stream_) : ::close(fd_);
    if (!err && closed != 0) err = errno;
    stream_ = nullptr;
    fd_ = -1;
    if (!err) err = Rename(temp_, target_, options_.noReplace);
    if (err) {
        error_ = err == EEXIST ? target_ + ": already exists" : Why(target_, err);
        Discard();
        return error_;
    }
    temp_.clear();
    UnregisterTemporary(ticket_);
    ticket_ = -1;
    if (options_.durable) SyncFolderOf(target_);
    return {};
}

std::string WriteFileBeside(const std::string& target, std::span<const uint8_t> bytes, const PlaceOptions& options) {
    FileBeside file(target, options);
    if (!file.ok()) return file.error();
    if (!file.Write(bytes)) return file.error();
    return file.Commit();
}

std::string PlaceFile(const std::string& from, const std::string& target, const PlaceOptions& options) {
    const std::string to = ResolveTarget(target);
    struct stat st {};
    if (::stat(to.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return target + ": not a regular file";
    const int fd = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Why(from, errno);
    ApplyOwnership(fd, to, options);
    int err = options.durable && ::fsync(fd) != 0 ? errno : 0;
    ::close(fd);
    if (!err) err = Rename(from, to, options.noReplace);
    if (err) return err == EEXIST ? to + ": already exists" : Why(to, err);
    if (options.durable) SyncFolderOf(to);
    return {};
}

}  // namespace scarlex
