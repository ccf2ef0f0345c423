#pragma once
// scarlex-cli: each command lives in its own cmd_*.cpp and registers itself
// here with a static initialiser. A command returns its exit status, or
// throws CliError with the one-line message to print (exit status 1).

#include <stdexcept>
#include <string>
#include <vector>

#include "common/Bitmap.h"

namespace scarlex::cli {

using Args = std::vector<std::string>;

struct Command {
    const char* name;
    const char* usage;    // arguments after the command name
    const char* summary;  // one line for the overview
    int (*run)(const Args& args);
};

bool RegisterCommand(const Command& command);
const std::vector<Command>& Commands();

struct CliError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Throws CliError with the command's usage unless count is within range.
void RequireArgs(const Args& args, std::size_t min, std::size_t max, const char* command);

// Writes the bitmap as binary PPM (P6, red first). Throws CliError.
void WritePpm(const std::string& path, const Bitmap& bitmap);

// Parses "X,Y" / "X,Y,R" style lists of integers. Throws CliError.
std::vector<long> ParseIntList(const std::string& text, std::size_t count, const char* what);

}  // namespace scarlex::cli
