#include "save/FileOps.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

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
    if (::close(out) != 0 && why.empty()) why = to + ": " + std::strerror(errno);
    ::close(in);
    if (!why.empty()) ::unlink(to.c_str());
    return why;
}

std::string MoveFileTo(const std::string& from, const std::string& to) {
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0) return to + ": already exists";
    if (std::rename(from.c_str(), to.c_str()) == 0) return {};
    if (errno != EXDEV) return from + ": " + std::strerror(errno);
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

PrivateWorkDir::PrivateWorkDir(const std::string& parent) {
    std::string tmpl = (parent.empty() ? std::string(".") : parent);
    if (tmpl.back() != '/') tmpl += '/';
    tmpl += ".scarlex-save-XXXXXX";
    if (::mkdtemp(tmpl.data())) {
        path_ = tmpl;
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
}

}  // namespace scarlex
