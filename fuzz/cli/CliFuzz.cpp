// libFuzzer target: scarlex-cli's main on an argument list made of the
// input (arguments separated by NUL bytes, the first naming the command),
// run in a scratch folder that holds a small red-eyed photograph `a.jpg`,
// a greyscale `g.jpg` and an empty folder `sub`.
//
// Checked: the exit status is 0 or 1; a failure prints exactly one line on
// stderr, "scarlex-cli CMD: ...", and nothing else; the photographs are
// left byte for byte as they were unless --yes allowed a replacement; no
// file is left behind under a hidden save-folder name.
//
// Arguments that could reach outside the scratch folder (absolute paths,
// "..") are not run. A batch runs without its workers, which would be this
// process started again: starting a process fails here, so every file of a
// batch fails and the batch's own reading of its options and its summary
// are what is fuzzed (its progress lines are not one line, so the stderr
// check leaves batches out).
#include <spawn.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "cli/Batch.h"
#include "cli/Cli.h"
#include "codec/JpegCodec.h"
#include "codec/PictureLimits.h"
#include "common/Bitmap.h"

int ScarlexCliMain(int argc, char** argv);

// No process is ever started from the fuzzer.
extern "C" int posix_spawn(pid_t*, const char*, const posix_spawn_file_actions_t*, const posix_spawnattr_t*,
                           char* const[], char* const[]) {
    return ENOSYS;
}
extern "C" int posix_spawnp(pid_t*, const char*, const posix_spawn_file_actions_t*, const posix_spawnattr_t*,
                            char* const[], char* const[]) {
    return ENOSYS;
}

using namespace scarlex;
using scarlex::fuzz::Require;

namespace {

constexpr std::size_t kMaxArgs = 24;
constexpr std::size_t kMaxArgLength = 200;

struct Photographs {
    std::string folder;
    std::vector<uint8_t> colour, grey;
};

Bitmap Drawn(int w, int h) {
    Bitmap b(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = b.Pixel(x, y);  // blue, green, red
            const int dx = x - w / 3, dy = y - h / 2;
            const bool pupil = dx * dx + dy * dy <= 25;
            p[0] = pupil ? 40 : static_cast<uint8_t>(120 + x % 40);
            p[1] = pupil ? 30 : static_cast<uint8_t>(140 + y % 50);
            p[2] = pupil ? 220 : 190;
        }
    return b;
}

const Photographs& Setup() {
    static const Photographs photos = [] {
        Photographs p;
        p.folder = fuzz::ScratchDir() + "/cli";
        std::filesystem::create_directories(p.folder);
        const std::string colour = fuzz::ScratchDir() + "/a.jpg", grey = fuzz::ScratchDir() + "/g.jpg";
        if (!EncodeBitmapToJpeg(colour, Drawn(48, 40), Sampling{}).ok) std::abort();
        Bitmap g = Drawn(40, 24);
        for (int y = 0; y < g.Height(); ++y)
            for (int x = 0; x < g.Width(); ++x) {
                uint8_t* q = g.Pixel(x, y);
                q[0] = q[1] = q[2] = q[2];
            }
        if (!EncodeBitmapToJpeg(grey, g, Sampling{{1, 1, 1, 1, 1, 1}}).ok) std::abort();
        p.colour = fuzz::ReadBytes(colour);
        p.grey = fuzz::ReadBytes(grey);
        // The commands' relative names resolve inside the scratch folder.
        if (::chdir(p.folder.c_str()) != 0) std::abort();
        return p;
    }();
    return photos;
}

bool Reaches(const std::string& arg) {
    return arg.empty() ? false : arg[0] == '/' || arg[0] == '~' || arg.find("..") != std::string::npos;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t at; (at = text.find('\n', start)) != std::string::npos; start = at + 1)
        lines.push_back(text.substr(start, at - start));
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

std::string ReadAll(FILE* f) {
    std::fflush(f);
    std::string text;
    std::rewind(f);
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) text.append(buffer, n);
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const Photographs& photos = Setup();

    std::vector<std::string> args(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            if (args.size() == kMaxArgs) return 0;
            args.emplace_back();
        } else if (args.back().size() == kMaxArgLength) {
            return 0;
        } else {
            args.back() += static_cast<char>(data[i]);
        }
    }
    bool yes = false, relocates = false;
    for (const std::string& a : args) {
        if (Reaches(a)) return 0;
        yes = yes || a == "--yes";
        relocates = relocates || a == "--move-to" || a == "--rename-ext";
        // A name of the saves' own scratch folders would blur the check below.
        if (a.find(".scarlex-save-") != std::string::npos) return 0;
    }
    cli::Args fixArgs;  // what fix sees once main has taken the common options
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--yes") continue;
        if (args[i] == "--max-megapixels") {
            ++i;
            continue;
        }
        fixArgs.push_back(args[i]);
    }
    const bool batch = args[0] == "fix" && cli::IsFixBatch(fixArgs);

    // A fresh folder and the state main keeps between commands put back.
    fuzz::EmptyFolder(photos.folder);
    fuzz::WriteBytes(photos.folder + "/a.jpg", photos.colour.data(), photos.colour.size());
    fuzz::WriteBytes(photos.folder + "/g.jpg", photos.grey.data(), photos.grey.size());
    std::filesystem::create_directory(photos.folder + "/sub");
    cli::ReplaceAllowed() = false;
    cli::CommonOptions().clear();
    cli::PendingWarnings().clear();
    SetMaxMegapixels(0);

    std::vector<std::string> argvText = {"scarlex-cli"};
    argvText.insert(argvText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argvText) argv.push_back(a.data());
    argv.push_back(nullptr);

    // What the commands print goes to files of ours; the sanitizers and
    // libFuzzer write to the descriptors themselves and are not caught.
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    if (!out || !err) std::abort();
    FILE* const realOut = stdout;
    FILE* const realErr = stderr;
    stdout = out;
    stderr = err;
    const int status = ScarlexCliMain(static_cast<int>(argv.size() - 1), argv.data());
    stdout = realOut;
    stderr = realErr;
    const std::string errText = ReadAll(err);
    std::fclose(out);
    std::fclose(err);

    if (std::getenv("SCARLEX_FUZZ_VERBOSE")) std::fprintf(stderr, "status %d, stderr:\n%s", status, errText.c_str());
    Require(status == 0 || status == 1);
    const std::vector<std::string> lines = Lines(errText);
    const bool named = std::any_of(cli::Commands().begin(), cli::Commands().end(),
                                   [&](const cli::Command& c) { return args[0] == c.name; });
    if (status == 1 && !batch) {
        Require(lines.size() == 1);
        const std::string start = named ? "scarlex-cli " + args[0] + ": " : "scarlex-cli: ";
        Require(lines[0].rfind(start, 0) == 0 && lines[0].size() > start.size());
    }
    // An original may be moved aside by the save, never lost; where nothing
    // asked to move or replace it, it stays where it was.
    std::vector<std::vector<uint8_t>> files;
    std::error_code ec;
    for (const auto& e : std::filesystem::recursive_directory_iterator(photos.folder, ec)) {
        Require(e.path().filename().string().rfind(".scarlex-save-", 0) != 0);
        if (e.is_regular_file()) files.push_back(fuzz::ReadBytes(e.path().string()));
    }
    if (!yes) {
        for (const std::vector<uint8_t>* original : {&photos.colour, &photos.grey})
            Require(std::find(files.begin(), files.end(), *original) != files.end());
        if (!relocates) {
            Require(fuzz::ReadBytes(photos.folder + "/a.jpg") == photos.colour);
            Require(fuzz::ReadBytes(photos.folder + "/g.jpg") == photos.grey);
        }
    }
    return 0;
}
