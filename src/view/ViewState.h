#pragma once
// The view state of the photograph view and its magnifying glass: the fit
// to the view, the two directions of the coordinate mapping, the lens
// geometry, the size steps, the crosshair and the mouse-move arithmetic.
// Everything here is plain arithmetic so the widget stays a thin layer.
//
// Scale factors and radii are single precision; intermediate products and
// quotients are formed in long double and cut toward zero, because the
// exact pixel a click lands on depends on it.

#include <array>
#include <cstdint>
#include <string>

namespace scarlex {

// What BuildLens derives from the radius, the magnification and the scale.
struct LensGeometry {
    float rho = 0;  // Radius / Magnification, single precision
    int S = 8;      // side of the lens mask, content and rings
    int f = 0;      // half the magnified span, bitmap pixels
    int N = 1;      // 2f + 1: bitmap pixels across the magnifier
};

// Where DrawLens puts things on the composed view (view pixels).
struct LensPlacement {
    long double e = 0;  // Magnification * rho
    // Black disc drawn under the lens: ellipse (discLeft, discTop, discRight, discBottom).
    int discLeft = 0, discTop = 0, discRight = 0, discBottom = 0;
    // Top-left corner of the lens content and rings.
    int lensLeft = 0, lensTop = 0;
    // Top-left of the bitmap square copied into the lens source.
    int sourceLeft = 0, sourceTop = 0;
    // Crosshair centre.
    int crossX = 0, crossY = 0;
};

// The five status-bar panels as the view writes them.
enum StatusPanel { kPanelPosition = 0, kPanelRadius = 1, kPanelLimit = 2, kPanelMagnification = 3, kPanelSpare = 4 };

// The view's zoom: the fit to the view, or view pixels per bitmap pixel
// in steps of the square root of two up to 8 (800 %).
inline constexpr float kFitZoom = 0;
inline constexpr float kMaxZoom = 8;

inline constexpr const char* kNotLimiting = "Not limiting";
inline constexpr const char* kStatusHint =
    "Radius (Page Up/Page Down) -- Limit (Shift Page Up/Page Down) -- Magnification (CTRL Page Up/Page Down)";

// The labels of the bottom panel. A ratio whose divisor channel is 0 keeps
// its previous text.
struct PixelReadout {
    std::string LR, LG, LB, LRG, LRB;

    void Show(uint8_t red, uint8_t green, uint8_t blue);
};

// q formatted "0.00" below 100 and "0" from 100, halves rounded away from zero.
std::string FormatRatio(float q);
// Status panel 0: " x : " column "   y : " row.
std::string PositionText(int column, int row);

// What the view hands to the red removal on a left-button release.
struct ClickRequest {
    int x = 0, y = 0;              // the aimed pixel
    int centreX = 0, centreY = 0;  // magnifier centre, bitmap pixels
    bool shift = false;            // blanket treatment instead of the walk
    bool ctrl = false;             // the pupil fitted and fixed instead of the walk
    bool limitActive = false;
    int limit = 0;                 // view pixels
    int radius = 0;                // view pixels
    int magnification = 1;
    float viewScale = 0;
    // The aimed pixel is trunc(centre + cross * magnifierScale).
    int crossX = 0, crossY = 0;    // view pixels
    float magnifierScale = 0;
};

class ViewState {
public:
    // Fields keep the names the rest of the program uses for them.
    float ViewScale = 0;
    float MagnifierScale = 0;
    int Radius = 100;
    int Limit = 100;
    bool LimitActive = false;
    int Magnification = 5;
    bool MagnifierOn = false;
    bool CrossHeld = false;
    int CentreX = 0, CentreY = 0;
    int ViewX = 0, ViewY = 0;
    int CrossX = 0, CrossY = 0;
    int ScreenDX = 0, ScreenDY = 0;
    int CursorHomeX = 0, CursorHomeY = 0;
    int MoveDivisor = 20;

    // The photograph's size (W, H) as of the last fit.
    int W = 0, H = 0;

    // View pixels per bitmap pixel, or kFitZoom: the whole photograph fitted
    // (the view at every load). While zoomed, the view shows the part of
    // the enlarged picture that starts ScrollX, ScrollY view pixels from
    // its top-left corner; view positions (ViewX, the mouse) stay those of
    // the widget, and the mapping adds the scroll.
    float Zoom = kFitZoom;
    int ScrollX = 0, ScrollY = 0;
    int ViewWidth = 0, ViewHeight = 0;

    std::array<std::string, 5> Panels{"x:         y:", "Radius", "Limit", "Magnification", ""};

    // Radius, limit and their texts at the window's first showing.
    void SetStartValues();
    // Magnification from the preferences; also recomputes MagnifierScale.
    void SetMagnification(int magnification);

    // The scale part of RenderView. False (and nothing changed) when there
    // is no photograph or the view has no area.
    bool Fit(int width, int height, int viewWidth, int viewHeight);
    int DisplayWidth() const;
    int DisplayHeight() const;
    // The whole picture at the current scale, view pixels.
    int ContentWidth() const;
    int ContentHeight() const;
    // The scale that fits the photograph to the view.
    float FitScale() const;

    // Zoom to `zoom` (kFitZoom: fit), keeping the bitmap point under the view
    // point (anchorX, anchorY) where it is. The caller maps the centre again.
    void SetZoom(float zoom, int anchorX, int anchorY);
    // The next zoom step in or out from the current scale; kFitZoom once a
    // step out reaches the fit. Returns the current zoom where there is no
    // step to take.
    float ZoomStep(int direction) const;
    // Held so that the view stays on the picture. True when it moved.
    bool ScrollTo(int x, int y);
    bool Zoomed() const { return Zoom != kFitZoom; }
    // The scale in percent (rounded), and the status text for it.
    int ZoomPercent() const;
    std::string ZoomText() const;
    // Bitmap column shown at display column x (and likewise rows).
    int SourceColumn(int x) const;
    int SourceRow(int y) const;

    void CentreFromView();
    void ClampCentre();
    int AimedX() const;
    int AimedY() const;

    LensGeometry Lens() const;
    LensPlacement Placement() const;

    // n notches; Ctrl wins over Shift. n == 0 changes nothing.
    void ChangeSize(bool ctrl, bool shift, int n);
    // Shift+middle click and Ctrl+L.
    void LimitOff();
    // Keeps the crosshair within the circle of radius Limit - 1.
    void PullCrossOntoLimit();

    // Steps 5 to 8 of a mouse move to (x, y), measured from (refX, refY):
    // the parked centre where the pointer can be moved, otherwise the
    // previous pointer position (or where the crosshair was taken).
    // Returns true when the pointer should be parked at the home.
    bool ApplyMove(int x, int y, int refX, int refY);

    // Arrow keys: one bitmap pixel.
    void Nudge(int dx, int dy);

    ClickRequest Click(bool shift) const;

    std::string RadiusText() const;
    std::string LimitText() const;
    std::string MagnificationText() const;
};

}  // namespace scarlex
