// fix: load a photograph as the window does, remove red eye, and save it
// through the same code as the window's save commands.
#include <sys/stat.h>

#include <clocale>
#include <cstdio>

#include "cli/Batch.h"
#include "cli/Cli.h"
#include "cli/DetectSupport.h"
#include "cli/Loading.h"
#include "editing/EditScript.h"
#include "platform/ScriptedPlatform.h"
#include "common/Paths.h"
#include "save/OutputNaming.h"
#include "save/SaveCommands.h"

namespace scarlex::cli {

namespace {

int RunFix(const Args& args) {
    if (IsFixBatch(args)) return RunFixBatch(args, RunFix);
    if (args.empty()) RequireArgs(args, 1, 1, "fix");
    std::setlocale(LC_ALL, "");
    const std::string input = args[0];

    SettingsModel settings;
    std::string output;
    const bool yes = ReplaceAllowed();  // --yes, taken by main
    std::vector<EditStep> steps;
    for (std::size_t i = 1; i < args.size();) {
        std::string error;
        EditOptionStatus status = ParseEditOption(args, i, steps, error);  // moves i past what it takes
        if (status == EditOptionStatus::Error) throw CliError(input, error);
        if (status == EditOptionStatus::Parsed) continue;
        const std::string& a = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size()) throw CliError(input, a + " needs a value");
            return args[++i];
        };
        if (a == "-o") {
            output = value();
        } else if (a == "--append") {
            settings.AppendEnabled = true;
            settings.FileNameAppend = value();
        } else if (a == "--no-append") {
            settings.AppendEnabled = false;
        } else if (a == "--rename-ext") {
            settings.RenameOriginal = true;
            settings.RenameExtension = value();
        } else if (a == "--move-to") {
            settings.MoveOriginal = true;
            settings.OriginalsFolder = value();
        } else if (a == "--no-number") {
            settings.NumberDuplicates = false;
        } else if (a == "--keep-quality") {
            settings.KeepOriginalQuality = true;
        } else {
            throw CliError(input, "unknown option '" + a + "'");
        }
        ++i;
    }

    // Nothing already there is replaced unless asked: the name of the
    // original itself is free only when the save moves the original aside.
    const std::string target = output.empty() ? AutoSaveName(input, settings) : output;
    struct stat st {};
    const bool movesOriginalAside = settings.RenameOriginal || settings.MoveOriginal;
    if (!yes && ::lstat(target.c_str(), &st) == 0 && !(movesOriginalAside && SameFile(target, input)))
        throw CliError(target + " already exists; add --yes to replace it");

    LoadedPhotograph photo;
    LoadPhotograph(input, photo);

    DBUndoTable undo;
    EditSession session(photo.bitmap, undo, UserDecimalSeparator());
    UsePupilDetector(session, photo.orientation);
    const std::string editError = session.ApplyAll(steps);
    if (!editError.empty()) throw CliError(input, editError);
    if (!ReportPupils(session, steps, undo)) return 0;

    ScriptedPlatform platform;
    if (!output.empty()) platform.saveAnswers.push_back(output);
    platform.messageAnswers.push_back(yes ? MsgAnswer::Yes : MsgAnswer::No);
    SaveDocument doc;
    doc.OpenFilePath = doc.OriginalPath = input;
    doc.WorkBitmap = &photo.bitmap;
    doc.SourceSampling = photo.sampling;
    doc.UndoRows = [&undo] { return undo.Rectangles(); };
    doc.LoadedFile = photo.file;
    photo.AttachMetadata(doc);
    SaveCommands commands(platform, settings, doc);
    const bool saved = output.empty() ? commands.AutoSave1Click() : commands.Save1Click();

    // The last box the save showed says why it stopped; the questions
    // before it were answered by --yes.
    auto lastReport = [&platform]() -> std::string {
        for (auto m = platform.messages.rbegin(); m != platform.messages.rend(); ++m)
            if (m->type != MsgType::Confirmation) return m->text;
        return "nothing was saved";
    };
    if (!saved) throw CliError(input, lastReport());
    const SaveReport& report = commands.LastReport();
    std::printf("output: %s\n", report.output.c_str());
    if (!report.relocatedOriginal.empty()) std::printf("original moved to: %s\n", report.relocatedOriginal.c_str());
    std::printf("undo rows: %d\n", report.undoRows);
    std::printf("replaced iMCUs: %ld\n", report.replacedImcus);
    std::printf("quality: %s\n", report.mode == PatchMode::KeepQuality ? "kept" : "default");
    std::printf("output size: %lld bytes\n", report.outputSize);
    std::fflush(stdout);
    if (!report.note.empty()) std::fprintf(stderr, "note: %s\n", OneLine(report.note).c_str());
    if (!report.relocationError.empty()) throw CliError(lastReport());
    return 0;
}

const bool registered = RegisterCommand(
    {"fix",
     "IN.jpg... [EDIT OPTIONS] EDIT... [-o OUT] [--yes] [--append TEXT | --no-append] [--rename-ext EXT] "
     "[--move-to DIR] [--no-number] [--keep-quality] [--jobs N] [--json]",
     "remove red eye (edits as for 'edit') and save as the window does: with -o as Save to OUT, otherwise as "
     "Auto Save (\" - nre\" appended by default); an existing file is replaced only with --yes; "
     "--keep-quality codes the edited blocks with the original's own tables (the file does not grow); several "
     "photographs are a batch, each saved as Auto Save names it",
     RunFix});

}  // namespace
}  // namespace scarlex::cli
