#include "view/ViewState.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace scarlex {

namespace {

// Whole view pixels from an extended-precision value, held inside int range
// before the cut so a huge step cannot overflow.
int TruncClamped(long double v, int lo, int hi) {
    if (!(v > lo)) return lo;  // also catches NaN
    if (v > hi) return hi;
    return static_cast<int>(v);
}

int Half(int n) { return n / 2; }  // toward zero

}  // namespace

std::string FormatRatio(float q) {
    char text[64];
    const long double v = q;
    if (v < 100) {
        const long double cents = std::floor(v * 100 + 0.5L);
        const long long c = static_cast<long long>(cents);
        std::snprintf(text, sizeof text, "%lld.%02lld", c / 100, c % 100);
    } else {
        std::snprintf(text, sizeof text, "%lld", static_cast<long long>(std::floor(v + 0.5L)));
    }
    return text;
}

std::string PositionText(int column, int row) {
    return " x : " + std::to_string(column) + "   y : " + std::to_string(row);
}

void PixelReadout::Show(uint8_t red, uint8_t green, uint8_t blue) {
    LR = std::to_string(red);
    LG = std::to_string(green);
    LB = std::to_string(blue);
    if (green != 0) LRG = FormatRatio(static_cast<float>(red) / static_cast<float>(green));
    if (blue != 0) LRB = FormatRatio(static_cast<float>(red) / static_cast<float>(blue));
}

void ViewState::SetStartValues() {
    Limit = 100;
    Radius = 100;
    LimitActive = false;
    Panels[kPanelMagnification] = MagnificationText();
    Panels[kPanelLimit] = kNotLimiting;
    Panels[kPanelRadius] = RadiusText();
}

void ViewState::SetMagnification(int magnification) {
    // The preference is checked where it is entered; a zero here would
    // only divide by zero.
    Magnification = std::max(1, magnification);
    MagnifierScale = static_cast<float>(static_cast<long double>(ViewScale) / Magnification);
}

bool ViewState::Fit(int width, int height, int viewWidth, int viewHeight) {
    if (width <= 0 || height <= 0 || viewWidth <= 0 || viewHeight <= 0) return false;
    W = width;
    H = height;
    ViewWidth = viewWidth;
    ViewHeight = viewHeight;
    ViewScale = Zoomed() ? static_cast<float>(1.0L / Zoom) : FitScale();
    MagnifierScale = static_cast<float>(static_cast<long double>(ViewScale) / Magnification);
    ScrollTo(ScrollX, ScrollY);
    return true;
}

float ViewState::FitScale() const {
    if (W <= 0 || H <= 0 || ViewWidth <= 0 || ViewHeight <= 0) return 0;
    const float byHeight = static_cast<float>(H) / static_cast<float>(ViewHeight);
    const float byWidth = static_cast<float>(W) / static_cast<float>(ViewWidth);
    return std::max(byHeight, byWidth);
}

int ViewState::ContentWidth() const {
    if (!(ViewScale > 0)) return 0;
    return TruncClamped(static_cast<long double>(W) / ViewScale, 0, 1 << 30);
}

int ViewState::ContentHeight() const {
    if (!(ViewScale > 0)) return 0;
    return TruncClamped(static_cast<long double>(H) / ViewScale, 0, 1 << 30);
}

int ViewState::DisplayWidth() const {
    if (!Zoomed()) return ContentWidth();
    return std::clamp(ContentWidth() - ScrollX, 0, ViewWidth);
}

int ViewState::DisplayHeight() const {
    if (!Zoomed()) return ContentHeight();
    return std::clamp(ContentHeight() - ScrollY, 0, ViewHeight);
}

bool ViewState::ScrollTo(int x, int y) {
    const int oldX = ScrollX, oldY = ScrollY;
    ScrollX = Zoomed() ? std::clamp(x, 0, std::max(0, ContentWidth() - ViewWidth)) : 0;
    ScrollY = Zoomed() ? std::clamp(y, 0, std::max(0, ContentHeight() - ViewHeight)) : 0;
    return ScrollX != oldX || ScrollY != oldY;
}

void ViewState::SetZoom(float zoom, int anchorX, int anchorY) {
    if (!(ViewScale > 0)) return;
    const long double bx = (static_cast<long double>(anchorX) + ScrollX) * ViewScale;
    const long double by = (static_cast<long double>(anchorY) + ScrollY) * ViewScale;
    Zoom = zoom > kMaxZoom ? kMaxZoom : zoom;
    ViewScale = Zoomed() ? static_cast<float>(1.0L / Zoom) : FitScale();
    MagnifierScale = static_cast<float>(static_cast<long double>(ViewScale) / Magnification);
    ScrollX = ScrollY = 0;
    if (Zoomed())
        ScrollTo(TruncClamped(std::lround(bx / ViewScale) - anchorX, -(1 << 30), 1 << 30),
                 TruncClamped(std::lround(by / ViewScale) - anchorY, -(1 << 30), 1 << 30));
}

float ViewState::ZoomStep(int direction) const {
    if (!(ViewScale > 0)) return Zoom;
    const long double now = 1.0L / ViewScale;
    const long double fit = FitScale() > 0 ? 1.0L / FitScale() : now;
    // Steps are the powers of the square root of two: 1, 1.41, 2, 2.83 ...
    const long double k = 2 * std::log2(now);
    if (direction > 0) {
        const long double next = std::pow(2.0L, (std::floor(k + 1e-3L) + 1) / 2);
        if (now >= kMaxZoom * (1 - 1e-4L)) return Zoom;
        return static_cast<float>(std::min<long double>(next, kMaxZoom));
    }
    if (!Zoomed()) return Zoom;
    const long double next = std::pow(2.0L, (std::ceil(k - 1e-3L) - 1) / 2);
    return next <= fit * (1 + 1e-4L) ? kFitZoom : static_cast<float>(next);
}

int ViewState::ZoomPercent() const {
    if (!(ViewScale > 0)) return 0;
    return static_cast<int>(std::lround(100.0L / ViewScale));
}

std::string ViewState::ZoomText() const {
    const std::string percent = std::to_string(ZoomPercent()) + " %";
    return Zoomed() ? percent : "Fit " + percent;
}

int ViewState::SourceColumn(int x) const {
    return std::clamp(static_cast<int>((static_cast<long double>(x) + ScrollX) * ViewScale), 0, std::max(0, W - 1));
}

int ViewState::SourceRow(int y) const {
    return std::clamp(static_cast<int>((static_cast<long double>(y) + ScrollY) * ViewScale), 0, std::max(0, H - 1));
}

void ViewState::CentreFromView() {
    CentreX = static_cast<int>((static_cast<long double>(ViewX) + ScrollX) * ViewScale);
    if (CentreX > W) CentreX = W;
    CentreY = static_cast<int>((static_cast<long double>(ViewY) + ScrollY) * ViewScale);
    if (CentreY > H) CentreY = H;
}

void ViewState::ClampCentre() {
    if (CentreX > W) CentreX = W;
    if (CentreY > H) CentreY = H;
    if (ViewScale > 0) {
        ViewX = static_cast<int>(static_cast<long double>(CentreX) / ViewScale) - ScrollX;
        ViewY = static_cast<int>(static_cast<long double>(CentreY) / ViewScale) - ScrollY;
    }
    CursorHomeX = ViewX + ScreenDX;
    CursorHomeY = ViewY + ScreenDY;
}

int ViewState::AimedX() const {
    return static_cast<int>(CentreX + static_cast<long double>(CrossX) * MagnifierScale);
}

int ViewState::AimedY() const {
    return static_cast<int>(CentreY + static_cast<long double>(CrossY) * MagnifierScale);
}

LensGeometry ViewState::Lens() const {
    LensGeometry g;
    g.rho = static_cast<float>(static_cast<long double>(Radius) / Magnification);
    g.S = 2 * static_cast<int>(std::floor(Magnification * static_cast<long double>(g.rho))) + 8;
    g.f = static_cast<int>(std::floor(static_cast<long double>(g.rho) * ViewScale));
    g.N = 2 * g.f + 1;
    return g;
}

LensPlacement ViewState::Placement() const {
    const LensGeometry g = Lens();
    LensPlacement p;
    p.e = Magnification * static_cast<long double>(g.rho);
    const int down = static_cast<int>(std::floor(p.e));
    const int up = static_cast<int>(std::ceil(p.e));
    p.discLeft = ViewX - down;
    p.discTop = ViewY - down;
    p.discRight = ViewX + up;
    p.discBottom = ViewY + up;
    p.lensLeft = ViewX - down - 4;
    p.lensTop = ViewY - down - 4;
    p.sourceLeft = CentreX - g.f;
    p.sourceTop = CentreY - g.f;
    p.crossX = ViewX + CrossX;
    p.crossY = ViewY + CrossY;
    return p;
}

void ViewState::ChangeSize(bool ctrl, bool shift, int n) {
    // Less than a notch: nothing to step by.
    if (n == 0) return;
    if (ctrl) {
        Magnification = std::clamp(Magnification + std::clamp(n, -1000, 1000), 2, 100);
        MagnifierScale = static_cast<float>(static_cast<long double>(ViewScale) / Magnification);
        Panels[kPanelMagnification] = MagnificationText();
        return;
    }
    if (!(MagnifierScale > 0)) return;  // nothing fitted yet
    const long double step =
        (n > 0 ? 1 : -1) * std::ceil(static_cast<long double>(std::abs(static_cast<long long>(n))) / MagnifierScale);
    if (shift) {
        Limit = TruncClamped(Limit + step, 1, 300);
        Limit = std::min(Limit, Radius);
        LimitActive = Limit < Radius;
        Panels[kPanelLimit] = LimitText();
        if (Limit >= Radius) {
            Limit = Radius;
            LimitActive = false;
            Panels[kPanelLimit] = kNotLimiting;
        }
    } else {
        Radius = TruncClamped(Radius + step, 1, 300);
        if (Radius <= Limit) {
            LimitActive = false;
            Panels[kPanelLimit] = kNotLimiting;
        }
        if (!LimitActive) Limit = Radius;
        Panels[kPanelRadius] = RadiusText();
    }
}

void ViewState::LimitOff() {
    Limit = Radius;
    LimitActive = false;
    Panels[kPanelLimit] = kNotLimiting;
}

void ViewState::PullCrossOntoLimit() {
    const long long r = Limit - 1;
    const long long cx = CrossX, cy = CrossY;
    if (cx * cx + cy * cy <= r * r) return;
    const int sx = CrossX < 0 ? -1 : 1;
    const int sy = CrossY < 0 ? -1 : 1;
    const float theta =
        CrossX == 0 ? 1.5707964f : static_cast<float>(std::atan(static_cast<long double>(CrossY) / CrossX));
    CrossX = std::abs(static_cast<int>(std::cos(static_cast<long double>(theta)) * r)) * sx;
    CrossY = std::abs(static_cast<int>(std::sin(static_cast<long double>(theta)) * r)) * sy;
}

bool ViewState::ApplyMove(int x, int y, int refX, int refY) {
    const int dx = x - refX;
    const int dy = y - refY;
    const int d = dx % MoveDivisor;
    if (MagnifierOn && d % 2 != 0) MoveDivisor = std::abs(d);
    if (MagnifierOn && !CrossHeld) {
        CentreX += Half(dx / MoveDivisor);
        CentreY += Half(dy / MoveDivisor);
        ClampCentre();
        return true;
    }
    if (MagnifierOn) {
        if (MagnifierScale > 0) {
            CrossX = TruncClamped(Half(dx / MoveDivisor) / static_cast<long double>(MagnifierScale), -(1 << 24), 1 << 24);
            CrossY = TruncClamped(Half(dy / MoveDivisor) / static_cast<long double>(MagnifierScale), -(1 << 24), 1 << 24);
        }
        PullCrossOntoLimit();
        return false;
    }
    ViewX = x;
    ViewY = y;
    CentreFromView();
    return false;
}

void ViewState::Nudge(int dx, int dy) {
    CentreX += dx;
    CentreY += dy;
    ClampCentre();
}

ClickRequest ViewState::Click(bool shift) const {
    ClickRequest c;
    c.x = AimedX();
    c.y = AimedY();
    c.centreX = CentreX;
    c.centreY = CentreY;
    c.shift = shift;
    c.limitActive = LimitActive;
    c.limit = Limit;
    c.radius = Radius;
    c.magnification = Magnification;
    c.viewScale = ViewScale;
    c.crossX = CrossX;
    c.crossY = CrossY;
    c.magnifierScale = MagnifierScale;
    return c;
}

std::string ViewState::RadiusText() const { return "Radius : " + std::to_string(Radius); }
std::string ViewState::LimitText() const { return "Limit : " + std::to_string(Limit); }
std::string ViewState::MagnificationText() const { return "Magnification : " + std::to_string(Magnification); }

}  // namespace scarlex
