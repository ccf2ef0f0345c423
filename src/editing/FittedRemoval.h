#pragma once
// Removing red within a circle fitted to one pupil: the edit behind the
// suggested pupils and behind a Ctrl release, beside the click's span walk
// (RedEye.h), which it leaves as it is.
//
// Every pixel inside the circle that passes the red test is changed by the
// pixel rule, connected or not, so a catch-light that splits the red does
// not leave half the pupil red. Pixels inside that come close to passing
// (the half-red rim of the pupil and of the catch-light, where the pupil's
// colour blends with its neighbours) are moved toward the same result in
// proportion to how close they come, and so are magenta ones, where the red
// meets a bluish catch-light; both fade out toward the circle's edge, so
// that no red or magenta ring is left. Nothing outside the circle is
// touched. The edit is one undo row, as a click's: the rectangle of the
// changed pixels (right and bottom exclusive) and the pixels that were there.

#include <string>

#include "common/Bitmap.h"
#include "editing/PupilFit.h"
#include "editing/RedEye.h"
#include "editing/UndoStore.h"

namespace scarlex {

struct PupilCircle {
    double x = 0, y = 0;  // centre, bitmap pixels
    double radius = 0;    // pixels whose centres lie strictly inside are treated
};

// How close a pixel comes to passing the test, 0 .. 1 (1: it passes).
double RedTestCloseness(const uint8_t* bgr, const Thresholds& t);
// How magenta a pixel is, 0 .. 1: red and blue both well above green, as
// where the red of a pupil meets a bluish catch-light.
double MagentaShare(const uint8_t* bgr);

// Removes red inside `circle` and records one undo row when anything
// changed (Recorded, with the rectangle); Unchanged when no pixel did.
// With `limit`, pixels outside the limit circle are left alone as well.
RemovalResult RemoveRedInCircle(Bitmap& work, DBUndoTable& undo, const Thresholds& thresholds,
                                const PupilCircle& circle, const LimitCircle* limit = nullptr);
// The same from the texts of the threshold boxes; Refused when one does not
// convert, with the conversion message, and nothing touched.
RemovalResult RemoveRedInCircle(Bitmap& work, DBUndoTable& undo, const EditSettings& settings,
                                const PupilCircle& circle, const std::string& decimalSeparator = UserDecimalSeparator());

// The circle a removal should cover for the pupil at or near (x, y):
// fitted when a pupil is found there. `radiusHint` (0 when unknown) is the
// expected pupil radius, as a detector suggests it.
bool FitRemovalCircle(const Bitmap& work, double x, double y, double radiusHint, PupilCircle& circle);

// A Ctrl release, or one suggested pupil: fit the circle at (x, y) and
// remove red inside it. Unchanged, with nothing recorded, when no pupil is
// found there.
RemovalResult FixPupilAt(Bitmap& work, DBUndoTable& undo, const Thresholds& thresholds, double x, double y,
                         double radiusHint = 0, const LimitCircle* limit = nullptr);

}  // namespace scarlex
