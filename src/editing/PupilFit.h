#pragma once
// Finding the extent of one red pupil from a point on or near it.
//
// A pupil is told from its surroundings by how much redder it is, not by
// fixed thresholds: under flash the skin around an eye can pass the
// click's red test as well as the pupil does. The fit floods outward from
// the reddest pixel near the point, in falling order of redness, and
// watches the region grow: while it stays round and inside its window it is
// still the pupil; where it spills into the surroundings, the surroundings'
// redness is known. The pupil is the region at the level halfway between
// the two, with any catch-light inside it filled in.

#include <cstdint>
#include <vector>

#include "common/Bitmap.h"

namespace scarlex {

// Redness of a blue-green-red pixel, 0 .. 255: 64 * log2(R / max(G, 0.8 B)),
// so 64 is twice as red as green, 128 four times. Dark pixels (where the
// ratio is noise) and nearly neutral ones count 0.
uint8_t PupilRedness(const uint8_t* bgr);

// The same from its table, for loops over many pixels: look the table up
// once, then PupilRedness(bgr, table) costs a lookup.
const uint8_t* PupilRednessTable();
inline uint8_t PupilRedness(const uint8_t* bgr, const uint8_t* table) {
    const int d = bgr[1] > (4 * bgr[0] + 2) / 5 ? bgr[1] : (4 * bgr[0] + 2) / 5;
    return table[bgr[2] * 256 + d];
}

struct PupilFitOptions {
    double radiusHint = 0;    // expected pupil radius; 0 when unknown (a click)
    double searchRadius = 0;  // how far from the point to look for red; 0: from the hint
    int maxRadius = 0;        // largest pupil considered; 0: from the photograph's size
};

// What the fit found. Coordinates are bitmap pixels; pixel (i, j) has its
// centre at (i, j).
struct PupilFit {
    bool found = false;
    double x = 0, y = 0;   // centre of the pupil (catch-light filled in)
    double radius = 0;     // radius of the circle with the pupil's area
    double extent = 0;     // farthest pupil pixel from the centre
    double circle = 0;     // radius of the circle a removal should cover
    int area = 0;          // pupil pixels, filled holes included
    int holeArea = 0;      // of them, the filled-in ones (catch-lights)
    double redLuma = 0;    // mean brightness of the red pixels
    double holeLuma = 0;   // and of the filled-in ones
    int darkHoleArea = 0;  // filled-in pixels darker than the red
    int peak = 0;          // redness typical of the pupil's inside
    int surround = 0;      // redness where the region spilled over (0 if it never did)
    int level = 0;         // the redness level that bounds the pupil
    bool spilled = false;  // the flood ran into red surroundings
    double fill = 0;       // area / (pi * extent^2): 1 for a disc
    double elongation = 1; // ratio of the axes of the pupil's inertia ellipse
    int seedX = 0, seedY = 0;  // the reddest pixel the fit started from
};

// A pupil a detector suggests: centre and radius in bitmap pixels, and how
// sure it is, 0 .. 1.
struct SuggestedPupil {
    double x = 0, y = 0;
    double radius = 0;
    double score = 0;
};

// Reusable buffers, so that a detector fitting many candidates does not
// allocate for each one. Not shared between threads.
class PupilFitter {
public:
    PupilFit Fit(const Bitmap& bitmap, double x, double y, const PupilFitOptions& options = {});

private:
    struct Level {
        int value;  // region of every pixel popped while the level was >= value
        int count;  // pixels in it
        int left, top, right, bottom;
        bool touchesWindow;
    };
    double Reach();
    bool FitInWindow(const Bitmap& bitmap, int seedX, int seedY, int half, int maxRadius, PupilFit& out,
                     bool& needsLargerWindow);

    std::vector<uint8_t> known_;
    std::vector<uint8_t> raw_;
    std::vector<uint8_t> redness_;
    std::vector<uint8_t> state_;
    std::vector<int32_t> order_;
    std::vector<std::vector<int32_t>> buckets_;
    std::vector<Level> levels_;
    std::vector<uint8_t> mask_;
    std::vector<int32_t> stack_;
    std::vector<float> distances_;
};

// One-off convenience.
PupilFit FitPupil(const Bitmap& bitmap, double x, double y, const PupilFitOptions& options = {});

}  // namespace scarlex
