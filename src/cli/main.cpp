#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>

#include "cli/Cli.h"

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
    std::fprintf(out, "\nEach command exits 0 on success and 1 on any error, with one line on stderr.\n");
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
        try {
            return c.run(args);
        } catch (const CliError& e) {
            std::fprintf(stderr, "scarlex-cli %s: %s\n", c.name, e.what());
        } catch (const std::exception& e) {
            std::fprintf(stderr, "scarlex-cli %s: %s\n", c.name, e.what());
        }
        return 1;
    }
    std::fprintf(stderr, "scarlex-cli: unknown command '%s' (try scarlex-cli -h)\n", argv[1]);
    return 1;
}
