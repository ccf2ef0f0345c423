#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <exception>
#include <new>

#include "cli/Cli.h"
#include "codec/PictureLimits.h"

namespace scarlex::cli {

namespace {
std::vector<Command>& Registry() {
    static std::vector<Command> commands;
    return commands;
}

void PrintUsage(FILE* out) {
    std::fprintf(out, "usage: scarlex-cli COMMAND ARGS...\n\ncommands:\n");
    std::vector<Command> sorted = Registry();
    std::sort(sorted.begin(), sorted.end(),
              [](const Command& a, const Command& b) { return std::strcmp(a.name, b.name) < 0; });
    for (const Command& c : sorted) std::fprintf(out, "  %-10s %s\n             %s\n", c.name, c.usage, c.summary);
    std::fprintf(out,
                 "\noptions for every command:\n  --max-megapixels N  refuse photographs over N megapixels "
                 "(default: 500, or less on a machine with little memory)\n"
                 "  --yes               let an output replace an existing file\n");
    std::fprintf(out, "\nEach command exits 0 on success and 1 on any error, with one line on stderr.\n");
}

// Takes the options every command shares out of `args`. Throws CliError.
void TakeCommonOptions(Args& args) {
    for (std::size_t i = 0; i < args.size();) {
        if (args[i] == "--yes") {
            ReplaceAllowed() = true;
            CommonOptions().push_back("--yes");
            args.erase(args.begin() + static_cast<std::ptrdiff_t>(i));
            continue;
        }
        if (args[i] != "--max-megapixels") {
            ++i;
            continue;
        }
        if (i + 1 >= args.size()) throw CliError("--max-megapixels needs a value (N megapixels)");
        const std::string& text = args[i + 1];
        unsigned long long n = 0;
        bool ok = !text.empty() && text.size() <= 8;
        for (char c : text) ok = ok && c >= '0' && c <= '9';
        if (ok) n = std::strtoull(text.c_str(), nullptr, 10);
        if (!ok || n == 0) throw CliError("--max-megapixels: '" + text + "' is not a whole number of megapixels above 0");
        scarlex::SetMaxMegapixels(n);
        CommonOptions().insert(CommonOptions().end(), {"--max-megapixels", text});
        args.erase(args.begin() + static_cast<std::ptrdiff_t>(i), args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
    }
}
}  // namespace

bool RegisterCommand(const Command& command) {
    Registry().push_back(command);
    return true;
}

const std::vector<Command>& Commands() { return Registry(); }

void RequireArgs(const Args& args, std::size_t min, std::size_t max, const char* command) {
    if (args.size() >= min && args.size() <= max) return;
    for (const Command& c : Registry())
        if (std::strcmp(c.name, command) == 0)
            throw CliError(std::string("usage: scarlex-cli ") + c.name + " " + c.usage);
    throw CliError("wrong number of arguments");
}

}  // namespace scarlex::cli

int main(int argc, char** argv) {
    using namespace scarlex::cli;
    if (argc < 2 || !std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "help")) {
        PrintUsage(argc < 2 ? stderr : stdout);
        return argc < 2 ? 1 : 0;
    }
    for (const Command& c : Commands()) {
        if (std::strcmp(c.name, argv[1]) != 0) continue;
        Args args(argv + 2, argv + argc);
        if (!args.empty() && (args[0] == "-h" || args[0] == "--help")) {
            std::printf("usage: scarlex-cli %s %s\n  %s\n", c.name, c.usage, c.summary);
            return 0;
        }
        // The one place a failure is printed: one line, whatever the command.
        try {
            TakeCommonOptions(args);
            const int status = c.run(args);
            for (const std::string& w : PendingWarnings()) std::fprintf(stderr, "%s\n", w.c_str());
            return status;
        } catch (const std::bad_alloc&) {
            std::fprintf(stderr, "scarlex-cli %s: not enough memory\n", c.name);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "scarlex-cli %s: %s\n", c.name, OneLine(e.what()).c_str());
        }
        return 1;
    }
    std::fprintf(stderr, "scarlex-cli: unknown command '%s' (try scarlex-cli -h)\n", OneLine(argv[1]).c_str());
    return 1;
}
