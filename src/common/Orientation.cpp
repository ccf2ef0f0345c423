#include "common/Orientation.h"

namespace scarlex {

Orientation::Orientation(int tag, int storedWidth, int storedHeight)
    : tag_(tag >= 1 && tag <= 8 ? tag : 1), w_(storedWidth), h_(storedHeight) {}

void Orientation::DirectionToUpright(double dx, double dy, double& ux, double& uy) const {
    switch (tag_) {
        case 2: ux = -dx; uy = dy; break;
        case 3: ux = -dx; uy = -dy; break;
        case 4: ux = dx; uy = -dy; break;
        case 5: ux = dy; uy = dx; break;
        case 6: ux = -dy; uy = dx; break;
        case 7: ux = -dy; uy = -dx; break;
        case 8: ux = dy; uy = -dx; break;
        default: ux = dx; uy = dy; break;
    }
}

void Orientation::ToUpright(double x, double y, double& ux, double& uy) const {
    const double X = w_ - 1 - x, Y = h_ - 1 - y;  // mirrored
    switch (tag_) {
        case 2: ux = X; uy = y; break;
        case 3: ux = X; uy = Y; break;
        case 4: ux = x; uy = Y; break;
        case 5: ux = y; uy = x; break;
        case 6: ux = Y; uy = x; break;
        case 7: ux = Y; uy = X; break;
        case 8: ux = y; uy = X; break;
        default: ux = x; uy = y; break;
    }
}

void Orientation::ToStored(double ux, double uy, double& x, double& y) const {
    switch (tag_) {
        case 2: x = w_ - 1 - ux; y = uy; break;
        case 3: x = w_ - 1 - ux; y = h_ - 1 - uy; break;
        case 4: x = ux; y = h_ - 1 - uy; break;
        case 5: x = uy; y = ux; break;
        case 6: x = uy; y = h_ - 1 - ux; break;
        case 7: x = w_ - 1 - uy; y = h_ - 1 - ux; break;
        case 8: x = w_ - 1 - uy; y = ux; break;
        default: x = ux; y = uy; break;
    }
}

Orientation::Map Orientation::StoredFromUpright() const {
    double x0, y0, x1, y1, x2, y2;
    ToStored(0, 0, x0, y0);
    ToStored(1, 0, x1, y1);
    ToStored(0, 1, x2, y2);
    Map m;
    m.cx = static_cast<int>(x0);
    m.cy = static_cast<int>(y0);
    m.ax = static_cast<int>(x1 - x0);
    m.ay = static_cast<int>(y1 - y0);
    m.bx = static_cast<int>(x2 - x0);
    m.by = static_cast<int>(y2 - y0);
    return m;
}

}  // namespace scarlex
