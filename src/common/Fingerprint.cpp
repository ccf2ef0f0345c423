#include "common/Fingerprint.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

namespace scarlex {

namespace {

constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15ULL;

inline uint64_t Fold(uint64_t state, uint64_t word) {
    state ^= word;
    state *= kMultiplier;
    return state ^ (state >> 31);
}

std::string Why(const std::string& path, int err) { return path + ": " + std::strerror(err); }

}  // namespace

void ByteHasher::Add(std::span<const uint8_t> bytes) {
    const uint8_t* p = bytes.data();
    std::size_t n = bytes.size();
    count_ += n;
    while (n > 0 && pendingBytes_ != 0) {
        pending_ |= uint64_t{*p++} << (8 * pendingBytes_);
        --n;
        if (++pendingBytes_ == 8) {
            state_ = Fold(state_, pending_);
            pending_ = 0;
            pendingBytes_ = 0;
        }
    }
    for (; n >= 8; n -= 8, p += 8) {
        uint64_t word = 0;
        for (int i = 0; i < 8; ++i) word |= uint64_t{p[i]} << (8 * i);
        state_ = Fold(state_, word);
    }
    for (; n > 0; --n) pending_ |= uint64_t{*p++} << (8 * pendingBytes_++);
}

uint64_t ByteHasher::Value() const {
    uint64_t h = Fold(state_, pending_ ^ (uint64_t(pendingBytes_) << 59));
    return Fold(h, count_);
}

int64_t ModificationTimeNs(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return 0;
    return int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

std::string FingerprintFile(const std::string& path, FileFingerprint& out, const std::string& copyTo) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Why(path, errno);
    int copy = -1;
    if (!copyTo.empty()) {
        copy = ::open(copyTo.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (copy < 0) {
            const int err = errno;
            ::close(fd);
            return Why(copyTo, err);
        }
    }
    ByteHasher hasher;
    std::vector<uint8_t> buf(1 << 16);
    std::string why;
    while (why.empty()) {
        const ssize_t n = ::read(fd, buf.data(), buf.size());
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            why = Why(path, errno);
            break;
        }
        hasher.Add({buf.data(), static_cast<std::size_t>(n)});
        for (ssize_t done = 0; copy >= 0 && done < n && why.empty();) {
            const ssize_t w = ::write(copy, buf.data() + done, static_cast<std::size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) why = Why(copyTo, w < 0 ? errno : ENOSPC);
            else done += w;
        }
    }
    FileFingerprint fp;
    fp.known = why.empty();
    fp.size = hasher.Count();
    fp.mtimeNs = ModificationTimeNs(fd);
    fp.hash = hasher.Value();
    ::close(fd);
    if (copy >= 0 && ::close(copy) != 0 && why.empty()) why = Why(copyTo, errno);
    if (!why.empty()) {
        if (copy >= 0) ::unlink(copyTo.c_str());
        return why;
    }
    out = fp;
    return {};
}

std::string ReadFingerprinted(const std::string& path, FileFingerprint& out, std::vector<uint8_t>& bytes) {
    bytes.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Why(path, errno);
    struct stat st {};
    std::string why;
    try {
        // The size is a first guess: the file may still grow while it is read.
        std::size_t capacity = ::fstat(fd, &st) == 0 && st.st_size > 0 ? static_cast<std::size_t>(st.st_size) + 1 : 1 << 16;
        bytes.resize(capacity);
        std::size_t used = 0;
        while (true) {
            if (used == bytes.size()) bytes.resize(bytes.size() * 2);
            const ssize_t n = ::read(fd, bytes.data() + used, bytes.size() - used);
            if (n == 0) break;
            if (n < 0) {
                if (errno == EINTR) continue;
                why = Why(path, errno);
                break;
            }
            used += static_cast<std::size_t>(n);
        }
        bytes.resize(used);
    } catch (const std::bad_alloc&) {
        why = path + ": not enough memory to read it";
    }
    if (why.empty()) {
        ByteHasher hasher;
        hasher.Add(bytes);
        out.known = true;
        out.size = hasher.Count();
        out.mtimeNs = ModificationTimeNs(fd);
        out.hash = hasher.Value();
    } else {
        bytes.clear();
        bytes.shrink_to_fit();
    }
    ::close(fd);
    return why;
}

}  // namespace scarlex
