#include "common/SignalCleanup.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace scarlex {

namespace {

constexpr int kSlots = 32;
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// 0 free, 1 being filled, 2 a file, 3 a folder. The handler reads only
// slots in state 2 or 3, whose path is complete.
struct Slot {
    std::atomic<int> state{0};
    char path[PATH_MAX];
};

Slot g_slots[kSlots];
struct sigaction g_previous[sizeof kSignals / sizeof kSignals[0]];
bool g_installed[sizeof kSignals / sizeof kSignals[0]];
std::once_flag g_installOnce;

// Only async-signal-safe calls from here on: open, getdents64 through
// syscall, unlinkat, close, rmdir, unlink.
struct LinuxDirent64 {
    unsigned long long d_ino;
    long long d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[1];
};

void RemoveFolderNow(const char* path) {
    const int fd = ::open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        alignas(8) char buf[4096];
        // Entries removed while reading may hide others: read again until a
        // pass removes nothing.
        for (int pass = 0; pass < 16; ++pass) {
            bool removed = false;
            ::lseek(fd, 0, SEEK_SET);
            long n;
            while ((n = ::syscall(SYS_getdents64, fd, buf, sizeof buf)) > 0) {
                for (long at = 0; at < n;) {
                    const auto* e = reinterpret_cast<const LinuxDirent64*>(buf + at);
                    const char* name = e->d_name;
                    if (!(name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))) {
                        ::unlinkat(fd, name, 0);
                        removed = true;
                    }
                    at += e->d_reclen;
                }
            }
            if (!removed) break;
        }
        ::close(fd);
    }
    ::rmdir(path);
}

void RemoveAllNow() {
    for (Slot& s : g_slots) {
        const int state = s.state.load(std::memory_order_acquire);
        if (state == 2) ::unlink(s.path);
        if (state == 3) RemoveFolderNow(s.path);
    }
}

void OnSignal(int sig, siginfo_t* info, void* context) {
    const int saved = errno;
    RemoveAllNow();
    for (std::size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i) {
        if (kSignals[i] != sig) continue;
        const struct sigaction& prev = g_previous[i];
        if (prev.sa_flags & SA_SIGINFO) {
            if (prev.sa_sigaction) prev.sa_sigaction(sig, info, context);
        } else if (prev.sa_handler != SIG_DFL && prev.sa_handler != SIG_IGN && prev.sa_handler) {
            prev.sa_handler(sig);
        } else {
            // The default action: end the process as the signal would have.
            ::sigaction(sig, &prev, nullptr);
            ::raise(sig);
        }
    }
    errno = saved;
}

void Install() {
    for (std::size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i) {
        struct sigaction prev {};
        if (::sigaction(kSignals[i], nullptr, &prev) != 0) continue;
        if (!(prev.sa_flags & SA_SIGINFO) && prev.sa_handler == SIG_IGN) continue;  // ignored stays ignored
        g_previous[i] = prev;
        struct sigaction ours {};
        ours.sa_sigaction = OnSignal;
        ours.sa_flags = SA_SIGINFO | SA_RESTART;
        sigemptyset(&ours.sa_mask);
        for (int s : kSignals) sigaddset(&ours.sa_mask, s);
        g_installed[i] = ::sigaction(kSignals[i], &ours, nullptr) == 0;
    }
}

int Register(const char* path, int kind) {
    if (!path || std::strlen(path) >= PATH_MAX) return -1;
    std::call_once(g_installOnce, Install);
    for (int i = 0; i < kSlots; ++i) {
        int expected = 0;
        if (!g_slots[i].state.compare_exchange_strong(expected, 1, std::memory_order_acq_rel)) continue;
        std::strcpy(g_slots[i].path, path);
        g_slots[i].state.store(kind, std::memory_order_release);
        return i;
    }
    return -1;
}

}  // namespace

int RegisterTemporaryFile(const char* path) { return Register(path, 2); }
int RegisterTemporaryFolder(const char* path) { return Register(path, 3); }

void UnregisterTemporary(int ticket) {
    if (ticket >= 0 && ticket < kSlots) g_slots[ticket].state.store(0, std::memory_order_release);
}

void RemoveRegisteredTemporaries() { RemoveAllNow(); }

}  // namespace scarlex
