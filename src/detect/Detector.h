#pragma once
// Suggested pupils: the red eyes of a photograph, found without help.
//
// Red blobs are gathered from a reduced redness map at several levels;
// each is fitted (PupilFit.h) and judged on its own evidence: how red it
// is, how much redder than what surrounds it, how round, whether it stands
// alone, whether what it holds is a catch-light rather than a dark pupil.
// Then on its context: an eye around it that the stock eye cascade sees, a
// face the face cascade finds, a partner pupil of like size and redness at
// the distance and angle of a pair of eyes. Red and round alone stays below
// the default cut. The score, 0 .. 1, combines the two; suggestions at or
// above the cut are returned, best first, as SuggestedPupil (PupilFit.h):
// the centre in stored bitmap pixels and the radius of the circle with the
// pupil's area.

#include <memory>
#include <string>
#include <vector>

#include "common/Bitmap.h"
#include "common/Orientation.h"
#include "editing/PupilFit.h"

namespace scarlex {

inline constexpr double kDefaultMinScore = 0.5;

struct DetectorOptions {
    int orientation = 1;               // EXIF Orientation of the photograph
    double minScore = kDefaultMinScore;
    bool useCascades = true;           // face and eye cascades as context
    std::string cascadeFolder;         // empty: DefaultCascadeFolder()
};

// One candidate with the evidence behind its score, for tests and tuning.
struct PupilCandidate {
    PupilFit fit;
    double own = 0;       // the pupil's own evidence, 0 .. 1
    double lenientOwn = 0;  // the same with the lower bars of a small pupil in a face
    double shape = 0;       // of that, how round and large enough it is
    double pair = 0;      // best partner
    bool eye = false;     // the eye cascade found an eye around it
    bool face = false;    // inside a face the face cascade found
    double ringRed = 0;   // share of the ring around it as red as the pupil
    double ringPale = 0;  // share of that ring pale and brighter than the pupil: paper, not an iris
    double score = 0;
    bool onMap = false;   // judged on the reduced map (a large blob of a large photograph)
};

class Cascades;

// Holds the cascades and its buffers from one photograph to the next; one
// detector serves one thread at a time.
class RedPupilDetector {
public:
    explicit RedPupilDetector(const DetectorOptions& options = {});
    ~RedPupilDetector();
    RedPupilDetector(const RedPupilDetector&) = delete;
    RedPupilDetector& operator=(const RedPupilDetector&) = delete;

    // Suggestions at or above the cut, best first. `orientation` as in the
    // options; pass the photograph's own when the detector is reused.
    std::vector<SuggestedPupil> Detect(const Bitmap& bitmap) const;
    std::vector<SuggestedPupil> Detect(const Bitmap& bitmap, int orientation) const;

    // Every candidate that was scored, best first.
    std::vector<PupilCandidate> Candidates(const Bitmap& bitmap, int orientation) const;

    const DetectorOptions& Options() const { return options_; }
    bool HaveCascades() const;

    struct Scratch;

private:
    DetectorOptions options_;
    std::unique_ptr<Cascades> cascades_;
    std::unique_ptr<Scratch> scratch_;
};

// One-off convenience: loads the cascades, detects, forgets them.
std::vector<SuggestedPupil> DetectRedPupils(const Bitmap& bitmap, const DetectorOptions& options = {});

}  // namespace scarlex
