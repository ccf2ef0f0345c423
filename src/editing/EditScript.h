#pragma once
// The edit options shared by the command-line front ends (edit, fix): a list
// of steps parsed from the arguments and applied in order to a photograph
// and its undo store. Settings steps apply to the edits after them.
//
//   --click X,Y       left-button release aimed at bitmap pixel X,Y
//   --circle X,Y,A    Shift-release: blanket treatment around X,Y, radius A
//   --limit X,Y,R     limit circle for the clicks that follow; --no-limit
//                     (A and R may have a fraction, written with a dot)
//   --pupil X,Y       fit a circle to the pupil at X,Y and remove red in it
//   --auto            the same for every suggested pupil, best first
//   --min-score S     the detector's cut for the --auto steps after it
//   --undo            undo the newest edit
//   --rg TEXT  --rb TEXT  --red TEXT   threshold texts (user's decimal separator)
//   --attenuation N   0 .. 100
//   --force-grey  --no-force-grey

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "common/Bitmap.h"
#include "editing/PupilFit.h"
#include "editing/RedEye.h"
#include "editing/UndoStore.h"

namespace scarlex {

enum class EditStepKind {
    Click,
    Circle,
    Limit,
    NoLimit,
    Undo,
    ThresholdRG,
    ThresholdRB,
    ThresholdR,
    Attenuation,
    ForceGrey,
    Pupil,
    Auto,
    MinScore,
};

struct EditStep {
    EditStepKind kind = EditStepKind::Click;
    int x = 0, y = 0;         // Click, Pupil, Circle, Limit
    double r = 0;             // Circle and Limit: radius in bitmap pixels
    std::string text;         // threshold steps
    int value = 0;            // Attenuation; ForceGrey: 1 on, 0 off
    double score = 0;         // MinScore: 0 .. 1
    std::string written;      // the option as written, for messages
};

enum class EditOptionStatus { NotEditOption, Parsed, Error };

// Parses the edit option at args[index] (with its value) into `steps` and
// moves index past it. Leaves index alone and returns NotEditOption for
// anything else, so a front end can mix in its own options; on Error,
// `error` says what is wrong.
EditOptionStatus ParseEditOption(const std::vector<std::string>& args, std::size_t& index,
                                 std::vector<EditStep>& steps, std::string& error);

// Every argument must be an edit option. Returns "" or the error.
std::string ParseEditScript(const std::vector<std::string>& args, std::vector<EditStep>& steps);

// What --auto asks of a detector: the suggested pupils of the photograph
// as it now is, at or above the cut, best first.
using PupilFinder = std::function<std::vector<SuggestedPupil>(const Bitmap& work, double minScore)>;

// The cut --auto uses until --min-score changes it.
inline constexpr double kAutoMinScore = 0.5;

// The photograph being edited and the state the steps carry between them.
class EditSession {
public:
    EditSession(Bitmap& work, DBUndoTable& undo, std::string decimalSeparator = UserDecimalSeparator());

    // The detector behind --auto; without one, --auto is refused.
    void SetPupilFinder(PupilFinder finder) { finder_ = std::move(finder); }

    // Applies one step. Returns "" or the message of a refused step
    // (threshold conversion, nothing to undo); a refused step changes
    // neither the photograph nor the store.
    std::string Apply(const EditStep& step);
    // Applies the steps in order and stops at the first refused one; its
    // message is prefixed with the step as written.
    std::string ApplyAll(const std::vector<EditStep>& steps);

    EditSettings& Settings() { return settings_; }
    const std::string& DecimalSeparator() const { return separator_; }
    // Counts of what happened, for reports.
    int Recorded() const { return recorded_; }
    int Unchanged() const { return unchanged_; }
    // Pupils the --auto steps were offered, and of them those fixed.
    int Suggested() const { return suggested_; }
    int PupilsFixed() const { return pupilsFixed_; }

private:
    Bitmap& work_;
    DBUndoTable& undo_;
    std::string separator_;
    EditSettings settings_;
    bool limitActive_ = false;
    int limitX_ = 0, limitY_ = 0;
    double limitR_ = 0;
    double minScore_ = kAutoMinScore;
    RedEyeRemover remover_;
    PupilFinder finder_;
    int recorded_ = 0;
    int unchanged_ = 0;
    int suggested_ = 0;
    int pupilsFixed_ = 0;
};

}  // namespace scarlex
