#include "editing/Suggestions.h"

#include <algorithm>
#include <cmath>

namespace scarlex {

void PupilSuggestions::Show(const std::vector<SuggestedPupil>& pupils) {
    items_.clear();
    for (const SuggestedPupil& p : pupils) items_.push_back({p, true});
}

int PupilSuggestions::SelectedCount() const {
    return static_cast<int>(std::count_if(items_.begin(), items_.end(), [](const Suggestion& s) { return s.selected; }));
}

int PupilSuggestions::At(double x, double y) const {
    int best = -1;
    double bestDistance = 0;
    for (std::size_t i = 0; i < items_.size(); ++i) {
        const SuggestedPupil& p = items_[i].pupil;
        const double d = std::hypot(x - p.x, y - p.y);
        const double reach = std::max(p.radius * 1.25, p.radius + 3.0);
        if (d <= reach && (best < 0 || d < bestDistance)) {
            best = static_cast<int>(i);
            bestDistance = d;
        }
    }
    return best;
}

int PupilSuggestions::ToggleAt(double x, double y) {
    const int i = At(x, y);
    if (i >= 0) items_[static_cast<std::size_t>(i)].selected = !items_[static_cast<std::size_t>(i)].selected;
    return i;
}

int PupilSuggestions::FixSelected(Bitmap& work, DBUndoTable& undo, const Thresholds& thresholds) {
    int recorded = 0;
    for (const Suggestion& s : items_) {
        if (!s.selected) continue;
        const RemovalResult r = FixPupilAt(work, undo, thresholds, s.pupil.x, s.pupil.y, s.pupil.radius);
        if (r.outcome == RemovalOutcome::Recorded) ++recorded;
    }
    items_.clear();
    return recorded;
}

}  // namespace scarlex
