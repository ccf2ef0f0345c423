#pragma once
// scarlex-cli: each command lives in its own cmd_*.cpp and registers itself
// here with a static initialiser. A command returns its exit status, or
// throws CliError with the message to print (exit status 1). main prints
// every failure as exactly one line on stderr, "scarlex-cli CMD: TEXT",
// whatever the command; damage warnings carried over from an input are
// one line each, "warning: ...", and leave the exit status alone; so does
// a "note: ..." line from fix when a save had to keep the original's
// quality.
//
// Options every command takes (main removes them before the command sees
// its arguments):
//   --max-megapixels N   refuse photographs larger than N megapixels
//   --yes                an output may replace an existing file

#include <stdexcept>
#include <string>
#include <vector>

#include "codec/JpegError.h"
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
    // "FILE: CAUSE", or the cause alone when it names the file already.
    CliError(const std::string& file, const std::string& cause);
};

// The text of a failure concerning `file`, naming it once.
std::string FileMessage(const std::string& file, const std::string& cause);
// A codec failure on `file` as a CliError's text.
std::string CodecMessage(const std::string& file, const CodecResult& r);
// The damage warnings of reading `file`, as one line for stderr. main
// prints them when the command succeeds; a failure prints only its error.
void PrintWarnings(const std::string& file, const CodecResult& r);
std::vector<std::string>& PendingWarnings();
// Whether --yes was given.
bool& ReplaceAllowed();
// The options every command shares (--yes, --max-megapixels N) as they were
// given, for the worker processes of a batch.
Args& CommonOptions();
// No command replaces an existing file without --yes (a device or a pipe
// such as /dev/stdout is written to, not replaced). Throws CliError.
void RequireFreeOutput(const std::string& path);

// Any text as one line: line breaks become spaces.
std::string OneLine(const std::string& text);

// Throws CliError with the command's usage unless count is within range.
void RequireArgs(const Args& args, std::size_t min, std::size_t max, const char* command);

// Writes the bitmap as binary PPM (P6, red first). Throws CliError.
void WritePpm(const std::string& path, const Bitmap& bitmap);

// Parses "X,Y" / "X,Y,R" style lists of integers. Throws CliError.
std::vector<long> ParseIntList(const std::string& text, std::size_t count, const char* what);

}  // namespace scarlex::cli
