#pragma once
// The EXIF Orientation tag (1 .. 8): how the stored pixels are to be turned
// and mirrored to stand upright. The detector looks for faces upright and
// the view shows the photograph upright; both hand back stored pixels, the
// pixels the editor works on and the saved file keeps.

namespace scarlex {

class Orientation {
public:
    // Any value outside 1 .. 8 counts as 1 (stored upright).
    Orientation(int tag, int storedWidth, int storedHeight);

    int Tag() const { return tag_; }
    // Whether width and height trade places (tags 5 .. 8).
    bool Swaps() const { return tag_ >= 5; }
    int UprightWidth() const { return Swaps() ? h_ : w_; }
    int UprightHeight() const { return Swaps() ? w_ : h_; }

    // Pixel coordinates (centres at whole numbers) from stored to upright
    // and back.
    void ToUpright(double x, double y, double& ux, double& uy) const;
    void ToStored(double ux, double uy, double& x, double& y) const;
    // A direction (dx, dy) in stored pixels as it points upright.
    void DirectionToUpright(double dx, double dy, double& ux, double& uy) const;

    // Whole pixels, upright to stored: x = ax * ux + bx * uy + cx and
    // y = ay * ux + by * uy + cy (each factor -1, 0 or 1).
    struct Map {
        int ax = 1, bx = 0, cx = 0, ay = 0, by = 1, cy = 0;
        void Apply(int ux, int uy, int& x, int& y) const {
            x = ax * ux + bx * uy + cx;
            y = ay * ux + by * uy + cy;
        }
    };
    Map StoredFromUpright() const;

private:
    int tag_;
    int w_, h_;
};

}  // namespace scarlex
