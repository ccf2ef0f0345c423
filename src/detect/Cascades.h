#pragma once
// Face and eye evidence from OpenCV's stock cascades (Debian's opencv-data).
// OpenCV stays inside the .cpp. Missing cascade files are not an error: the
// detector then goes by the pupils' own evidence alone.

#include <memory>
#include <string>
#include <vector>

#include "common/Bitmap.h"
#include "common/Orientation.h"

namespace scarlex {

// A box in upright pixels.
struct UprightBox {
    double x = 0, y = 0, width = 0, height = 0;
    bool Contains(double ux, double uy) const { return ux >= x && uy >= y && ux < x + width && uy < y + height; }
};

// Where the cascade files are looked for when no folder is given.
std::string DefaultCascadeFolder();

class Cascades {
public:
    // Loads what it finds under `folder` (its haarcascades/ and
    // lbpcascades/ subfolders).
    explicit Cascades(const std::string& folder);
    ~Cascades();
    Cascades(const Cascades&) = delete;
    Cascades& operator=(const Cascades&) = delete;

    bool HaveFaces() const;
    bool HaveEyes() const;

    // The photograph the lookups below look at, and a reduced copy of it
    // (`scale` photograph pixels per pixel of `reduced`). Both must outlive
    // the lookups.
    void SetPhotograph(const Bitmap& photo, const Bitmap& reduced, int scale, const Orientation& orientation);

    // Faces, as upright boxes in photograph pixels.
    std::vector<UprightBox> Faces() const;

    // Whether an eye shows around the pupil at (x, y) with radius r, in
    // the photograph's stored pixels.
    // `sideways`: the eye looked for lying on its side instead, either way
    // (a face in a photograph whose tag does not say it was turned).
    bool EyeAround(double x, double y, double r, bool sideways = false) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace scarlex
