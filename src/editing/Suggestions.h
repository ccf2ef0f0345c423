#pragma once
// The suggested pupils the window shows after Find Red Eyes: each a circle
// the user can select or not before fixing them all at once. Clicking a
// circle toggles it; fixing removes red in every selected one with the
// fitted removal, one undo row each, best suggestion first.

#include <vector>

#include "common/Bitmap.h"
#include "editing/FittedRemoval.h"
#include "editing/PupilFit.h"
#include "editing/UndoStore.h"

namespace scarlex {

struct Suggestion {
    SuggestedPupil pupil;
    bool selected = true;
};

class PupilSuggestions {
public:
    // Replaces what was shown; every suggestion starts selected.
    void Show(const std::vector<SuggestedPupil>& pupils);
    void Dismiss() { items_.clear(); }

    bool Showing() const { return !items_.empty(); }
    const std::vector<Suggestion>& Items() const { return items_; }
    int SelectedCount() const;

    // The suggestion whose circle holds the bitmap point (x, y), the nearest
    // centre when circles overlap, or -1. Small pupils get a few pixels of
    // slack so that they can be hit at all.
    int At(double x, double y) const;
    // Toggles the suggestion at (x, y); its index, or -1 when none is there.
    int ToggleAt(double x, double y);

    // Fixes every selected suggestion, in order, then dismisses them all.
    // Returns how many undo rows were recorded (a suggestion whose pupil
    // holds no red any more records none).
    int FixSelected(Bitmap& work, DBUndoTable& undo, const Thresholds& thresholds);

private:
    std::vector<Suggestion> items_;
};

}  // namespace scarlex
