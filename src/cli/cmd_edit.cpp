// edit: red-eye removal and undo from the command line, on the same core
// as the window.
#include <clocale>
#include <cstdio>
#include <filesystem>

#include "cli/Cli.h"
#include "cli/DetectSupport.h"
#include "cli/Loading.h"
#include "codec/JpegCodec.h"
#include "editing/EditScript.h"

namespace scarlex::cli {

namespace {

int RunEdit(const Args& args) {
    if (args.size() < 2) RequireArgs(args, 2, 2, "edit");
    // Threshold texts are written with the user's decimal separator, as in
    // the window.
    std::setlocale(LC_ALL, "");
    const Args options(args.begin() + 2, args.end());
    std::vector<EditStep> steps;
    const std::string parseError = ParseEditScript(options, steps);
    if (!parseError.empty()) throw CliError(args[0], parseError);

    std::error_code ec;
    if (std::filesystem::equivalent(args[0], args[1], ec))
        throw CliError(args[1] + " is the input photograph; name another output");
    RequireFreeOutput(args[1]);

    LoadedPhotograph photo;
    LoadPhotograph(args[0], photo);
    Bitmap& bitmap = photo.bitmap;

    DBUndoTable undo;
    EditSession session(bitmap, undo, UserDecimalSeparator());
    UsePupilDetector(session, photo.orientation);
    const std::string editError = session.ApplyAll(steps);
    if (!editError.empty()) throw CliError(args[0], editError);

    WritePpm(args[1], bitmap);
    std::size_t n = 0;
    for (const UndoRow& row : undo)
        std::printf("row %zu: left %d top %d right %d bottom %d\n", n++, row.left, row.top, row.right, row.bottom);
    return 0;
}

const bool registered = RegisterCommand(
    {"edit", "IN.jpg OUT.ppm [--rg T] [--rb T] [--red T] [--attenuation N] [--[no-]force-grey] EDIT...",
     "remove red eye and undo; EDIT is --click X,Y, --circle X,Y,A, --limit X,Y,R, --no-limit, --pupil X,Y, "
     "--auto [--min-score S] or --undo; settings apply to the edits after them; prints the undo rows left",
     RunEdit});

}  // namespace
}  // namespace scarlex::cli
