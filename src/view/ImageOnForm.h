#pragma once
// The photograph view: shows the fitted photograph, or the composed view
// with the magnifying glass, and turns mouse, key and wheel input into
// view-state changes. It knows nothing of the main window: the window
// gives it the working bitmap and the platform, listens to its signals
// (the removal request on a left release, status and readout texts, the
// forwarded key commands) and sets the removal flags while a removal runs.

#include <QPoint>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <vector>

#include "common/Bitmap.h"
#include "platform/Platform.h"
#include "view/ViewRenderer.h"
#include "view/ViewState.h"

class QKeyEvent;
class QPainter;
class QWheelEvent;

namespace scarlex {

class ImageOnForm : public QWidget {
    Q_OBJECT

public:
    ImageOnForm(Bitmap& workBitmap, Platform& platform, QWidget* parent = nullptr);

    ViewState& State() { return state_; }
    const ViewState& State() const { return state_; }
    const ViewRenderer& Renderer() const { return renderer_; }
    const PixelReadout& Readout() const { return readout_; }

    // Main-window state the view honours.
    void SetImageLoaded(bool loaded) { imageLoaded_ = loaded; }
    bool ImageLoaded() const { return imageLoaded_; }
    void SetRemoving(bool removing) { removing_ = removing; }
    bool Removing() const { return removing_; }
    void SetClosing(bool closing) { closing_ = closing; }

    // What the view and the glass show instead of the working bitmap (the
    // loaded original, for comparing), or null for the working bitmap.
    // The caller keeps it alive while it is shown and redraws after.
    void SetShownPicture(const Bitmap* picture);
    const Bitmap& Picture() const { return shown_ ? *shown_ : work_; }
    // EXIF orientation the view turns the photograph by (1 .. 8; 1 when the
    // photograph has none or the preference is off). Positions of the view
    // state are upright pixels; what leaves the view (the click, the status
    // position) is in stored pixels.
    void SetOrientation(int tag);
    int OrientationTag() const { return orientation_; }
    UprightPicture Upright() const { return UprightPicture(Picture(), orientation_); }
    // The click at the crosshair in stored pixels.
    ClickRequest StoredClick(bool shift, bool ctrl = false) const;

    // Suggested pupils drawn over the view and in the glass, upright
    // pixels; unselected ones are drawn dashed.
    struct Suggestion {
        double x = 0, y = 0, radius = 0;
        bool selected = true;
    };
    void SetSuggestions(std::vector<Suggestion> suggestions);
    const std::vector<Suggestion>& Suggestions() const { return suggestions_; }

    // Preferences.
    void SetColours(uint32_t magnifierBorderColour, uint32_t limitBorderColour);
    void SetMagnification(int openingMagnification);
    // Radius and limit of 100 and their status texts (first showing).
    void SetStartValues();

    // Whether the pointer can be parked. Where it cannot (Wayland without
    // XWayland), the magnifier follows the pointer's relative movement.
    void SetPointerWarping(bool warping) { warping_ = warping; }
    bool PointerWarping() const { return warping_; }

    // View > Fit to Window, Actual Pixels, Zoom In and Out. The glass keeps
    // its bitmap centre; without it the middle of the view stays put.
    void FitToWindow();
    // The fit, without drawing: a load does that.
    void ResetZoom();
    void ActualPixels();
    void ZoomIn();
    void ZoomOut();
    // Scrolls the zoomed view to (x, y) view pixels of the enlarged picture.
    void ScrollTo(int x, int y);
    void ScrollBy(int dx, int dy) { ScrollTo(state_.ScrollX + dx, state_.ScrollY + dy); }

    // The view's own commands.
    void RenderView();
    void BuildLens();
    void DrawLens();
    void ClampCentre() { state_.ClampCentre(); }
    void ShowPixelInfo(int x, int y);
    void ChangeSize(bool ctrl, bool shift, int n);

    // The window's key preview hands every key and wheel event here first;
    // each returns true when the event is consumed.
    bool FormKeyDown(const QKeyEvent* event);
    bool FormKeyPress(const QKeyEvent* event);
    bool FormMouseWheel(const QWheelEvent* event);
    bool HandleKey(const QKeyEvent* event) { return FormKeyDown(event) || FormKeyPress(event); }
    // Key preview: every key press and wheel event aimed at a widget of
    // `window` passes HandleKey/FormMouseWheel first, once, and stops there
    // when consumed. Without it the view handles only what it receives.
    void InstallKeyPreview(QWidget* window);

    // The view's part of the end of a removal: crosshair back to the
    // centre, pointer parked, magnifier redrawn. Runs after clickAt returns.
    void FinishRemoval();

signals:
    // Left release with a photograph loaded: run the removal now (the
    // handler runs inside this emission and sets Removing/AbortRemoval).
    void clickAt(const scarlex::ClickRequest& request);
    // A mouse release or Esc arrived while a removal was running.
    void removalAborted();
    void escapePressed();
    void enterPressed();  // plain Enter, otherwise swallowed
    void statusTextChanged(int panel, const QString& text);
    void pixelReadoutChanged(const QString& red, const QString& green, const QString& blue,
                             const QString& redGreen, const QString& redBlue);
    void nextImageRequested(bool shift);  // Ctrl+N
    void helpRequested();                 // "p"
    void originalHeld(bool held);         // B pressed and released
    // The zoom or the scroll position changed (for the scroll bars).
    void scrollChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void ImageOnFormMouseDown(Qt::MouseButton button, bool shift, QPoint pos);
    void ImageOnFormMouseMove(QPoint pos);
    void ImageOnFormMouseUp(Qt::MouseButton button, bool shift, bool ctrl);
    void PaintSuggestions(QPainter& painter);
    void LimitOff();
    void AfterKey();
    void Park();
    void Publish();
    void UpdateRect(const ViewRect& r);
    // Status panel 4: "Original" while the original shows, else the zoom.
    void SetSparePanel();
    void ApplyZoom(float zoom);
    // After a scroll: the centre mapped again, the display redrawn.
    void AfterScroll();
    // Scrolls a zoomed view so the glass stays on it.
    void KeepGlassInView();

    Bitmap& work_;
    const Bitmap* shown_ = nullptr;
    int orientation_ = 1;
    std::vector<Suggestion> suggestions_;
    Platform& platform_;
    ViewState state_;
    ViewRenderer renderer_;
    PixelReadout readout_;
    PixelReadout shownReadout_;
    std::array<std::string, 5> shownPanels_;

    bool imageLoaded_ = false;
    bool removing_ = false;
    bool closing_ = false;
    bool warping_ = true;
    bool moveDetached_ = false;
    QWidget* previewWindow_ = nullptr;
    // The event last previewed: a key the window does not consume travels on
    // to the parents of its target and passes the filter again.
    const QEvent* previewed_ = nullptr;
    QPointer<const QWidget> previewedTarget_;
    quint64 previewedStamp_ = 0;
    int previewedKey_ = 0;
    bool panning_ = false;  // middle button held with the glass off
    QPoint panFrom_;
    QPoint lastPos_;      // last handled pointer position (relative following)
    QPoint crossOrigin_;  // where the crosshair was taken (relative following)
};

}  // namespace scarlex
