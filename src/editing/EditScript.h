#pragma once
// The edit options shared by the command-line front ends (edit, fix): a list
// of steps parsed from the arguments and applied in order to a photograph
// and its undo store. Settings steps apply to the edits after them.
//
//   --click X,Y       left-button release aimed at bitmap pixel X,Y
//   --circle X,Y,A    Shift-release: blanket treatment around X,Y, radius A
//   --limit X,Y,R     limit circle for the clicks that follow; --no-limit
//   --undo            undo the newest edit
//   --rg TEXT  --rb TEXT  --red TEXT   threshold texts (user's decimal separator)
//   --attenuation N   0 .. 100
//   --force-grey  --no-force-grey

#include <cstddef>
#include <string>
#include <vector>

#include "common/Bitmap.h"
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
};

struct EditStep {
    EditStepKind kind = EditStepKind::Click;
    int x = 0, y = 0, r = 0;  // Click: x, y; Circle and Limit: x, y, r
    std::string text;         // threshold steps
    int value = 0;            // Attenuation; ForceGrey: 1 on, 0 off
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

// The photograph being edited and the state the steps carry between them.
class EditSession {
public:
    EditSession(Bitmap& work, DBUndoTable& undo, std::string decimalSeparator = UserDecimalSeparator());

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

private:
    Bitmap& work_;
    DBUndoTable& undo_;
    std::string separator_;
    EditSettings settings_;
    bool limitActive_ = false;
    int limitX_ = 0, limitY_ = 0, limitR_ = 0;
    RedEyeRemover remover_;
    int recorded_ = 0;
    int unchanged_ = 0;
};

}  // namespace scarlex
