#include "save/FileOps.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "common/Paths.h"
#include "common/SafeWrite.h"
#include "common/SignalCleanup.h"

namespace scarlex {

std::string CopyFileTo(const std::string& from, const std::string& to) {
    int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return from + ": " + std::strerror(errno);
    struct stat st {};
    ::fstat(in, &st);
    int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 0777 ? st.st_mode & 0777 : 0644);
    if (out < 0) {
        std::string why = to + ": " + std::strerror(errno);
        ::close(in);
        return why;
    }
    ::fchmod(out, st.st_mode & 0777);  // the umask does not apply to a copy
    std::vector<char> buf(1 << 16);
    std::string why;
    while (why.empty()) {
        ssize_t n = ::read(in, buf.data(), buf.size());
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            why = from + ": " + std::strerror(errno);
            break;
        }
        for (ssize_t done = 0; done < n;) {
            ssize_t w = ::write(out, buf.data() + done, static_cast<std::size_t>(n - done));
            if (w < 0) {
                if (errno == EINTR) continue;
                why = to + ": " + std::strerror(errno);
                break;
            }
            done += w;
        }
    }
    // A copy that stands in for a moved file keeps its date, and is on the
    // disk before anyone deletes the source.
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::futimens(out, times);
    if (why.empty() && ::fsync(out) != 0) why = to + ": " + std::strerror(errno);
    if (::close(out) != 0 && why.empty()) why = to + ": " + std::strerror(errno);
    ::close(in);
    if (!why.empty()) ::unlink(to.c_str());
    return why;
}

std::string LinkOrCopyFileTo(const std::string& from, const std::string& to) {
    if (::link(from.c_str(), to.c_str()) == 0) {
        SyncFolderOf(to);
        return {};
    }
    if (errno == EEXIST) return to + ": already exists";
    return CopyFileTo(from, to);
}

std::string MoveFileTo(const std::string& from, const std::string& to) {
    const int err = RenameNoReplace(from, to);
    if (err == 0) {
        SyncFolderOf(to);
        return {};
    }
    if (err == EEXIST) return to + ": already exists";
    if (err != EXDEV) return from + ": " + std::strerror(err);
    std::string why = CopyFileTo(from, to);
    if (!why.empty()) return why;
    if (::unlink(from.c_str()) != 0) {
        why = from + ": " + std::strerror(errno);
        ::unlink(to.c_str());  // the copy is surplus; the original stays
        return why;
    }
    return {};
}

long long FileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

namespace {

constexpr char kWorkPrefix[] = ".scarlex-save-";

// Removes a folder's plain files and the folder, or nothing when it holds
// anything else (then it is not one of ours).
bool RemoveFilesFolder(const std::string& path) {
    std::vector<std::string> files;
    DIR* dir = ::opendir(path.c_str());
    if (!dir) return false;
    bool onlyFiles = true;
    while (dirent* e = ::readdir(dir)) {
        if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..")) continue;
        struct stat st {};
        const std::string file = path + "/" + e->d_name;
        if (::lstat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
            onlyFiles = false;
            break;
        }
        files.push_back(file);
    }
    ::closedir(dir);
    if (!onlyFiles) return false;
    for (const std::string& f : files) ::unlink(f.c_str());
    return ::rmdir(path.c_str()) == 0;
}

bool IsWorkDirName(const char* name) {
    const std::size_t prefix = sizeof kWorkPrefix - 1;
    if (std::strncmp(name, kWorkPrefix, prefix) != 0 || std::strlen(name) != prefix + 6) return false;
    for (const char* p = name + prefix; *p; ++p)
        if (!std::isalnum(static_cast<unsigned char>(*p))) return false;
    return true;
}

}  // namespace

int RemoveStaleWorkDirs(const std::string& parent, long long ageSeconds) {
    const std::string folder = parent.empty() ? std::string(".") : parent;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return 0;
    std::vector<std::string> stale;
    const time_t now = ::time(nullptr);
    while (dirent* e = ::readdir(dir)) {
        if (!IsWorkDirName(e->d_name)) continue;
        const std::string path = IncludeTrailingSlash(folder) + e->d_name;
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) continue;
        if (now - st.st_mtime < ageSeconds) continue;  // perhaps another save at work
        stale.push_back(path);
    }
    ::closedir(dir);
    int removed = 0;
    for (const std::string& path : stale) removed += RemoveFilesFolder(path) ? 1 : 0;
    return removed;
}

PrivateWorkDir::PrivateWorkDir(const std::string& parent) {
    RemoveStaleWorkDirs(parent);
    std::string tmpl = (parent.empty() ? std::string(".") : parent);
    if (tmpl.back() != '/') tmpl += '/';
    tmpl += kWorkPrefix;
    tmpl += "XXXXXX";
    if (::mkdtemp(tmpl.data())) {
        path_ = tmpl;
        ticket_ = RegisterTemporaryFolder(path_.c_str());
    } else {
        error_ = std::strerror(errno);
    }
}

PrivateWorkDir::~PrivateWorkDir() {
    if (path_.empty()) return;
    // Only our own files are in here.
    if (DIR* dir = ::opendir(path_.c_str())) {
        while (dirent* e = ::readdir(dir)) {
            if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..")) continue;
            ::unlink((path_ + "/" + e->d_name).c_str());
        }
        ::closedir(dir);
    }
    ::rmdir(path_.c_str());
    UnregisterTemporary(ticket_);
}

}  // namespace scarlex
