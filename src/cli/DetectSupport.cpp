#include "cli/DetectSupport.h"

#include <charconv>
#include <cstdio>
#include <cmath>
#include <memory>

#include "cli/Batch.h"
#include "detect/Detector.h"

namespace scarlex::cli {

void UsePupilDetector(EditSession& session, int orientation) {
    auto detector = std::make_shared<std::unique_ptr<RedPupilDetector>>();
    session.SetPupilFinder([detector, orientation](const Bitmap& work, double minScore) {
        if (!*detector) {
            DetectorOptions options;
            options.minScore = 0;  // the session's cut applies
            *detector = std::make_unique<RedPupilDetector>(options);
        }
        std::vector<SuggestedPupil> found;
        for (const SuggestedPupil& p : (*detector)->Detect(work, orientation))
            if (p.score >= minScore) found.push_back(p);
        return found;
    });
}

bool ReportPupils(const EditSession& session, const std::vector<EditStep>& steps, const DBUndoTable& undo) {
    bool looked = false, automatic = false;
    for (const EditStep& s : steps) {
        looked = looked || s.kind == EditStepKind::Auto || s.kind == EditStepKind::Pupil;
        automatic = automatic || s.kind == EditStepKind::Auto;
    }
    if (!looked) return true;
    if (automatic && undo.Empty()) {
        std::printf("%s\n", kNothingFoundLine);
        return false;
    }
    std::printf("pupils fixed: %d\n", session.PupilsFixed());
    return true;
}

std::string SingleLine(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    return text;
}

std::string FormatFixed(double value, int decimals) {
    if (!std::isfinite(value)) value = 0;
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (ec != std::errc()) return "0";
    std::string text(buffer, end);
    if (text.find_first_not_of("-0.") == std::string::npos && text[0] == '-') text.erase(0, 1);  // no "-0.0"
    return text;
}

}  // namespace scarlex::cli
