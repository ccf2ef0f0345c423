// detect: the suggested pupils of a photograph, one line each, best first.
#include <cmath>
#include <cstdio>

#include "cli/Cli.h"
#include "cli/DetectSupport.h"
#include "cli/Loading.h"
#include "detect/Detector.h"

namespace scarlex::cli {

namespace {

int RunDetect(const Args& args) {
    if (args.empty()) RequireArgs(args, 1, 1, "detect");
    DetectorOptions options;
    int orientation = 0;  // 0: the file's own
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size()) throw CliError(a + " needs a value");
            return args[++i];
        };
        if (a == "--min-score") {
            std::vector<EditStep> steps;
            std::size_t at = 0;
            std::string error;
            const Args option = {a, value()};
            if (ParseEditOption(option, at, steps, error) != EditOptionStatus::Parsed) throw CliError(error);
            options.minScore = steps.back().score;
        } else if (a == "--orientation") {
            const std::vector<long> n = ParseIntList(value(), 1, "orientation");
            if (n[0] < 1 || n[0] > 8) throw CliError("--orientation: " + std::to_string(n[0]) + " is not within 1 .. 8");
            orientation = static_cast<int>(n[0]);
        } else if (a == "--no-cascades") {
            options.useCascades = false;
        } else {
            throw CliError("unknown option '" + a + "'");
        }
    }

    LoadedPhotograph photo;
    try {
        LoadPhotograph(args[0], photo);
    } catch (const CliError& e) {
        throw CliError(SingleLine(e.what()));
    }
    options.orientation = orientation != 0 ? orientation : photo.orientation;
    const RedPupilDetector detector(options);
    for (const SuggestedPupil& p : detector.Detect(photo.bitmap))
        std::printf("pupil %ld %ld %s %s\n", std::lround(p.x), std::lround(p.y), FormatFixed(p.radius, 1).c_str(),
                    FormatFixed(p.score, 2).c_str());
    return 0;
}

const bool registered = RegisterCommand(
    {"detect", "IN.jpg [--min-score S] [--orientation 1..8] [--no-cascades]",
     "suggest the red pupils: one line 'pupil X Y R SCORE' each (bitmap pixels), best first; "
     "--min-score changes the cut (default 0.5), --orientation the file's EXIF Orientation",
     RunDetect});

}  // namespace
}  // namespace scarlex::cli
