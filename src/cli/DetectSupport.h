#pragma once
// What the commands that find pupils share: the detector behind --auto,
// loaded only when a step asks for it, and numbers written with a dot
// whatever the locale.

#include <string>

#include "editing/EditScript.h"

namespace scarlex::cli {

// Gives `session` a detector for its --auto steps, for a photograph with
// the given EXIF orientation. The cascades are loaded at the first --auto.
void UsePupilDetector(EditSession& session, int orientation);

// After the edits of one fix: prints "pupils fixed: N" when a step looked
// for pupils, and returns false (having said so) when --auto found nothing
// and no other edit was made, so that nothing is saved.
bool ReportPupils(const EditSession& session, const std::vector<EditStep>& steps, const DBUndoTable& undo);

// A message on one line: line breaks become spaces.
std::string SingleLine(std::string text);

// `value` with `decimals` digits after a dot.
std::string FormatFixed(double value, int decimals);

}  // namespace scarlex::cli
