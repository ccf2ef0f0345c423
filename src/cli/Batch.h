#pragma once
// fix on several photographs at once: each file is fixed by its own worker
// process (scarlex-cli fix on that one file, with the same options), up to
// one per core, so no library state is ever shared between two files and a
// file that brings its worker down costs only itself. Progress goes to
// stderr; the summary to stdout, or with --json one object per file on
// stdout and the summary to stderr. The exit status is 1 when any file
// failed, once all the others are done.

#include <string>

#include "cli/Cli.h"

namespace scarlex::cli {

// Whether the fix arguments are a batch: more than one photograph, options
// before the photograph, or the batch options --json and --jobs N.
bool IsFixBatch(const Args& args);

// Runs the batch; `fix` is the single-file command that each worker runs.
int RunFixBatch(const Args& args, int (*fix)(const Args&));

// What a worker printed, as the batch reads it.
struct FixOutcome {
    std::string file;
    bool ok = false;
    bool nothingFound = false;  // --auto found no pupil; nothing was saved
    int pupils = 0;             // pupils fixed
    std::string output;         // the saved file
    std::string error;          // the reason, when !ok
};
FixOutcome ReadFixOutcome(const std::string& file, int status, const std::string& out, const std::string& err);

// One line of JSON for a file's outcome.
std::string FixOutcomeJson(const FixOutcome& outcome);

// The lines fix prints that the batch reads.
inline constexpr const char* kNothingFoundLine = "no red eyes found: nothing saved";

}  // namespace scarlex::cli
