#pragma once
// Drawn photographs for the detector's tests and benchmarks: faces with red
// pupils of any size and tilt, and the red things that are not eyes (lips,
// clothing, hair), on a noisy background. Deterministic for a given seed.

#include <cstdint>
#include <vector>

#include "common/Bitmap.h"

namespace scarlex::test {

struct Colour {
    double r, g, b;
};

struct DrawnFace {
    double x = 0, y = 0;         // between the eyes
    double pupilRadius = 6;      // the red pupils' radius; the face is drawn to scale
    double tilt = 0;             // degrees, clockwise
    bool redLeft = true;         // which pupils are red (the others dark)
    bool redRight = true;
    bool catchLight = true;
    double catchLightAt = 0.35;  // how far right of and above the pupil's centre, in pupil radii
    bool redLips = true;
    Colour skin{214, 168, 140};
    Colour iris{70, 90, 60};
    Colour hair{60, 40, 28};
};

struct SceneLayout {
    int width = 800, height = 600;
    uint32_t seed = 1;
    std::vector<DrawnFace> faces;
    bool redClothing = false;   // a red garment and red buttons on it below each face
    bool redHair = false;       // orange-red strands around the faces instead of their hair
    bool redObjects = false;    // red patches and stripes that are not round
    bool redLabels = false;     // red printed text and labels beside each face, letters about pupil-sized
    Colour backgroundTop{88, 96, 118};  // the backdrop, shaded from top to bottom
    Colour backgroundBottom{44, 48, 62};
    double noise = 5;           // amplitude of the sensor-like noise
};

// Where a red pupil was drawn.
struct DrawnPupil {
    double x, y, radius;
};

Bitmap DrawScene(const SceneLayout& layout, std::vector<DrawnPupil>* pupils = nullptr);

}  // namespace scarlex::test
