#include "cli/Batch.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <thread>

#include "editing/EditScript.h"

extern char** environ;

namespace scarlex::cli {

namespace {

// fix's own options that take a value; the edit options know theirs.
const char* const kValuedOptions[] = {"-o", "--append", "--rename-ext", "--move-to", "--max-megapixels"};
// A worker's output beyond this is not kept (only its end matters).
constexpr std::size_t kMaxKept = 1 << 20;

struct SplitArgs {
    std::vector<std::string> inputs;
    Args options;  // handed to every worker, in their order
    bool json = false;
    int jobs = 0;  // 0: one per core
    bool output = false;
};

SplitArgs Split(const Args& args) {
    SplitArgs s;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--json") {
            s.json = true;
            continue;
        }
        if (a == "--jobs") {
            if (i + 1 >= args.size()) throw CliError("--jobs needs a value");
            const std::vector<long> n = ParseIntList(args[++i], 1, "--jobs value");
            if (n[0] < 1 || n[0] > 256) throw CliError("--jobs: " + args[i] + " is not within 1 .. 256");
            s.jobs = static_cast<int>(n[0]);
            continue;
        }
        std::size_t at = i;
        std::vector<EditStep> steps;
        std::string error;
        switch (ParseEditOption(args, at, steps, error)) {
            case EditOptionStatus::Error:
                throw CliError(error);
            case EditOptionStatus::Parsed:
                s.options.insert(s.options.end(), args.begin() + static_cast<std::ptrdiff_t>(i),
                                 args.begin() + static_cast<std::ptrdiff_t>(at));
                i = at - 1;
                continue;
            case EditOptionStatus::NotEditOption:
                break;
        }
        const bool valued = std::any_of(std::begin(kValuedOptions), std::end(kValuedOptions),
                                        [&](const char* o) { return a == o; });
        if (valued) {
            if (i + 1 >= args.size()) throw CliError(a + " needs a value");
            if (a == "-o") s.output = true;
            s.options.push_back(a);
            s.options.push_back(args[++i]);
        } else if (a.size() > 1 && a[0] == '-') {
            s.options.push_back(a);
        } else {
            s.inputs.push_back(a);
        }
    }
    return s;
}

std::string ExecutablePath() {
    std::vector<char> buffer(4096);
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (n <= 0) throw CliError(std::string("cannot find this program to start its workers: ") + std::strerror(errno));
    return std::string(buffer.data(), static_cast<std::size_t>(n));
}

std::string BaseName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void AppendJsonString(std::string& out, const std::string& text) {
    out += '"';
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char c = p[i];
        char escape[8];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            // Keep well-formed UTF-8; a stray byte of another encoding is
            // written as the character of that byte's value.
            const int length = c >= 0xF0 && c < 0xF5 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
            bool valid = length > 0 && i + length <= n;
            for (int k = 1; valid && k < length; ++k) valid = (p[i + k] & 0xC0) == 0x80;
            if (valid) {
                out.append(text, i, static_cast<std::size_t>(length));
                i += static_cast<std::size_t>(length) - 1;
            } else {
                std::snprintf(escape, sizeof escape, "\\u%04x", c);
                out += escape;
            }
        }
    }
    out += '"';
}

struct Worker {
    pid_t pid = -1;
    int out = -1, err = -1;
    std::string outText, errText;
    std::string file;
};

void Keep(std::string& text, const char* data, std::size_t n) {
    text.append(data, n);
    if (text.size() > kMaxKept) text.erase(0, text.size() - kMaxKept);
}

// The workers' environment: with several of them the batch itself keeps the
// cores busy, so each one's OpenCV works on one thread (unless the user set
// that already) rather than all of them competing for every core.
std::vector<std::string> WorkerEnvironment(std::size_t jobs) {
    std::vector<std::string> env;
    bool set = false;
    for (char** e = environ; e && *e; ++e) {
        env.emplace_back(*e);
        set = set || env.back().rfind("OPENCV_FOR_THREADS_NUM=", 0) == 0;
    }
    if (jobs > 1 && !set) env.emplace_back("OPENCV_FOR_THREADS_NUM=1");
    return env;
}

// Starts `scarlex-cli fix FILE OPTIONS...` with its output on two pipes and
// nothing to read on its input: a worker never waits for an answer.
bool Start(const std::string& exe, const std::string& file, const Args& options, std::vector<std::string>& env,
           Worker& w, std::string& error) {
    int outPipe[2], errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0) {
        error = std::strerror(errno);
        return false;
    }
    if (pipe2(errPipe, O_CLOEXEC) != 0) {
        error = std::strerror(errno);
        close(outPipe[0]);
        close(outPipe[1]);
        return false;
    }
    std::vector<std::string> argv = {"scarlex-cli", "fix", file};
    argv.insert(argv.end(), options.begin(), options.end());
    // main took these out before the batch saw its arguments.
    argv.insert(argv.end(), CommonOptions().begin(), CommonOptions().end());
    std::vector<char*> raw, envp;
    for (std::string& a : argv) raw.push_back(a.data());
    raw.push_back(nullptr);
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, exe.c_str(), &actions, nullptr, raw.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    if (rc != 0) {
        error = std::strerror(rc);
        close(outPipe[0]);
        close(errPipe[0]);
        return false;
    }
    w = Worker{};
    w.pid = pid;
    w.out = outPipe[0];
    w.err = errPipe[0];
    w.file = file;
    return true;
}

class Progress {
public:
    Progress(std::size_t total) : total_(total), terminal_(isatty(2) == 1) {}

    void Done(const FixOutcome& o) {
        ++done_;
        if (terminal_) {
            constexpr int kWidth = 30;
            const int filled = static_cast<int>(kWidth * done_ / std::max<std::size_t>(total_, 1));
            std::fprintf(stderr, "\r[%s%s] %zu/%zu %s\x1b[K", std::string(static_cast<std::size_t>(filled), '#').c_str(),
                         std::string(static_cast<std::size_t>(kWidth - filled), '.').c_str(), done_, total_,
                         BaseName(o.file).c_str());
            if (done_ == total_) std::fprintf(stderr, "\n");
        } else {
            std::fprintf(stderr, "[%zu/%zu] %s: %s\n", done_, total_, o.file.c_str(), Describe(o).c_str());
        }
        std::fflush(stderr);
    }

    static std::string Describe(const FixOutcome& o) {
        if (!o.ok) return "failed: " + o.error;
        if (o.nothingFound) return "no red eyes found";
        std::string text = std::to_string(o.pupils) + (o.pupils == 1 ? " pupil" : " pupils") + " fixed";
        if (!o.output.empty()) text += ", saved as " + o.output;
        return text;
    }

private:
    std::size_t total_;
    std::size_t done_ = 0;
    bool terminal_;
};

}  // namespace

bool IsFixBatch(const Args& args) {
    if (args.empty()) return false;
    try {
        const SplitArgs s = Split(args);
        return s.inputs.size() > 1 || s.json || s.jobs != 0 || (args[0].size() > 1 && args[0][0] == '-');
    } catch (const CliError&) {
        return args[0].size() > 1 && args[0][0] == '-';
    }
}

FixOutcome ReadFixOutcome(const std::string& file, int status, const std::string& out, const std::string& err) {
    FixOutcome o;
    o.file = file;
    std::size_t start = 0;
    while (start < out.size()) {
        std::size_t end = out.find('\n', start);
        if (end == std::string::npos) end = out.size();
        const std::string line = out.substr(start, end - start);
        start = end + 1;
        if (line.rfind("output: ", 0) == 0) o.output = line.substr(8);
        if (line.rfind("pupils fixed: ", 0) == 0) o.pupils = std::atoi(line.c_str() + 14);
        if (line == kNothingFoundLine) o.nothingFound = true;
    }
    o.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (o.ok) return o;
    // The reason is the message the worker ended with (which may run over
    // several lines), or else the last line it wrote.
    const std::string prefix = "scarlex-cli fix: ";
    std::string last;
    const std::size_t at = err.rfind(prefix);
    if (at != std::string::npos && (at == 0 || err[at - 1] == '\n')) {
        last = err.substr(at + prefix.size());
    } else {
        start = 0;
        while (start < err.size()) {
            std::size_t end = err.find('\n', start);
            if (end == std::string::npos) end = err.size();
            if (end > start) last = err.substr(start, end - start);
            start = end + 1;
        }
    }
    for (char& c : last)
        if (c == '\n' || c == '\r') c = ' ';
    while (!last.empty() && last.back() == ' ') last.pop_back();
    // The file is named beside the reason already.
    if (last.rfind(file + ": ", 0) == 0) last.erase(0, file.size() + 2);
    if (WIFSIGNALED(status))
        o.error = "stopped by signal " + std::to_string(WTERMSIG(status)) + (last.empty() ? "" : " (" + last + ")");
    else
        o.error = last.empty() ? "failed with exit status " + std::to_string(WEXITSTATUS(status)) : last;
    return o;
}

std::string FixOutcomeJson(const FixOutcome& o) {
    std::string j = "{\"file\":";
    AppendJsonString(j, o.file);
    j += ",\"status\":";
    j += !o.ok ? "\"failed\"" : o.nothingFound ? "\"none\"" : "\"fixed\"";
    j += ",\"pupils\":" + std::to_string(o.ok ? o.pupils : 0);
    if (o.ok && !o.output.empty()) {
        j += ",\"output\":";
        AppendJsonString(j, o.output);
    }
    if (!o.ok) {
        j += ",\"error\":";
        AppendJsonString(j, o.error);
    }
    j += "}";
    return j;
}

int RunFixBatch(const Args& args, int (*fix)(const Args&)) {
    const SplitArgs s = Split(args);
    if (s.inputs.empty()) throw CliError("name the photographs to fix");
    if (s.inputs.size() == 1 && !s.json && s.jobs == 0) {
        Args single = {s.inputs[0]};
        single.insert(single.end(), s.options.begin(), s.options.end());
        return fix(single);
    }
    if (s.output && s.inputs.size() > 1)
        throw CliError("-o names one output; with several photographs each is saved as Auto Save names it");

    const std::string exe = ExecutablePath();
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t jobs = std::min<std::size_t>(s.jobs > 0 ? static_cast<unsigned>(s.jobs) : cores, s.inputs.size());
    // A job runner that stops reading must not kill the batch halfway.
    std::signal(SIGPIPE, SIG_IGN);

    std::vector<std::string> env = WorkerEnvironment(jobs);
    std::deque<std::string> pending(s.inputs.begin(), s.inputs.end());
    std::vector<Worker> running;
    std::vector<FixOutcome> outcomes;
    Progress progress(s.inputs.size());
    auto finish = [&](const FixOutcome& o) {
        outcomes.push_back(o);
        if (s.json) {
            std::printf("%s\n", FixOutcomeJson(o).c_str());
            std::fflush(stdout);
        }
        progress.Done(o);
    };

    while (!pending.empty() || !running.empty()) {
        while (running.size() < jobs && !pending.empty()) {
            Worker w;
            std::string error;
            const std::string file = pending.front();
            pending.pop_front();
            if (Start(exe, file, s.options, env, w, error)) {
                running.push_back(std::move(w));
            } else {
                FixOutcome o;
                o.file = file;
                o.error = "cannot start a worker: " + error;
                finish(o);
            }
        }
        if (running.empty()) continue;
        std::vector<pollfd> fds;
        std::vector<std::pair<std::size_t, bool>> owners;  // worker, stderr?
        for (std::size_t k = 0; k < running.size(); ++k) {
            if (running[k].out >= 0) {
                fds.push_back({running[k].out, POLLIN, 0});
                owners.push_back({k, false});
            }
            if (running[k].err >= 0) {
                fds.push_back({running[k].err, POLLIN, 0});
                owners.push_back({k, true});
            }
        }
        if (!fds.empty() && poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR)
            throw CliError(std::string("waiting for the workers: ") + std::strerror(errno));
        for (std::size_t k = 0; k < fds.size(); ++k) {
            if (fds[k].revents == 0) continue;
            Worker& w = running[owners[k].first];
            int& fd = owners[k].second ? w.err : w.out;
            char buffer[65536];
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n > 0) {
                Keep(owners[k].second ? w.errText : w.outText, buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
                close(fd);
                fd = -1;
            }
        }
        for (std::size_t k = 0; k < running.size();) {
            Worker& w = running[k];
            if (w.out >= 0 || w.err >= 0) {
                ++k;
                continue;
            }
            int status = 0;
            while (waitpid(w.pid, &status, 0) < 0 && errno == EINTR) {
            }
            finish(ReadFixOutcome(w.file, status, w.outText, w.errText));
            running.erase(running.begin() + static_cast<std::ptrdiff_t>(k));
        }
    }

    int fixedFiles = 0, pupils = 0, none = 0, failed = 0;
    for (const FixOutcome& o : outcomes) {
        if (!o.ok) {
            ++failed;
        } else if (o.nothingFound) {
            ++none;
        } else {
            ++fixedFiles;
            pupils += o.pupils;
        }
    }
    FILE* out = s.json ? stderr : stdout;
    std::fprintf(out, "files fixed: %d\npupils fixed: %d\nfiles without red eyes: %d\nfailed: %d\n", fixedFiles,
                 pupils, none, failed);
    for (const FixOutcome& o : outcomes)
        if (!o.ok) std::fprintf(out, "  %s: %s\n", o.file.c_str(), o.error.c_str());
    std::fflush(out);
    return failed > 0 ? 1 : 0;
}

}  // namespace scarlex::cli
