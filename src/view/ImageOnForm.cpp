#include "view/ImageOnForm.h"

#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>
#include <algorithm>

namespace scarlex {

ImageOnForm::ImageOnForm(Bitmap& workBitmap, Platform& platform, QWidget* parent)
    : QWidget(parent), work_(workBitmap), platform_(platform) {
    setMouseTracking(true);
    setFocusPolicy(Qt::ClickFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    // A Wayland session cannot warp the pointer; XWayland reports "xcb".
    warping_ = !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
    shownPanels_ = state_.Panels;
}

void ImageOnForm::SetColours(uint32_t magnifierBorderColour, uint32_t limitBorderColour) {
    renderer_.MagnifierBorderColour = magnifierBorderColour;
    renderer_.LimitBorderColour = limitBorderColour;
    if (imageLoaded_) BuildLens();
}

void ImageOnForm::SetMagnification(int openingMagnification) {
    state_.SetMagnification(openingMagnification);
}

void ImageOnForm::SetStartValues() {
    state_.SetStartValues();
    Publish();
}

void ImageOnForm::SetOrientation(int tag) { orientation_ = tag >= 1 && tag <= 8 ? tag : 1; }

ClickRequest ImageOnForm::StoredClick(bool shift, bool ctrl) const {
    ClickRequest c = state_.Click(shift);
    c.ctrl = ctrl;
    if (orientation_ == 1) return c;
    // The centre and the aimed pixel map exactly; the crosshair becomes the
    // step between them, so the removal aims at the very pixel shown.
    const UprightPicture upright = Upright();
    upright.ToStored(c.x, c.y, c.x, c.y);
    upright.ToStored(c.centreX, c.centreY, c.centreX, c.centreY);
    c.crossX = c.x - c.centreX;
    c.crossY = c.y - c.centreY;
    c.magnifierScale = 1;
    return c;
}

void ImageOnForm::SetSuggestions(std::vector<Suggestion> suggestions) {
    suggestions_ = std::move(suggestions);
    update();
}

void ImageOnForm::PaintSuggestions(QPainter& painter) {
    if (suggestions_.empty() || !(state_.ViewScale > 0)) return;
    painter.setRenderHint(QPainter::Antialiasing);
    const QPen selected(QColor(255, 230, 0), 2), left(QColor(200, 200, 200), 1, Qt::DashLine);
    painter.setBrush(Qt::NoBrush);
    // Over the view, outside the glass when it is shown.
    QPainterPath glass;
    const long double e = state_.Placement().e;
    if (state_.MagnifierOn)
        glass.addEllipse(QPointF(state_.ViewX, state_.ViewY), static_cast<double>(e), static_cast<double>(e));
    QPainterPath outside;
    outside.addRect(rect());
    painter.save();
    painter.setClipPath(state_.MagnifierOn ? outside.subtracted(glass) : outside);
    for (const Suggestion& s : suggestions_) {
        painter.setPen(s.selected ? selected : left);
        const QPointF at(s.x / state_.ViewScale - state_.ScrollX, s.y / state_.ViewScale - state_.ScrollY);
        const double r = std::max(3.0, s.radius / state_.ViewScale + 2);
        painter.drawEllipse(at, r, r);
    }
    painter.restore();
    if (!state_.MagnifierOn || !(state_.MagnifierScale > 0)) return;
    // In the glass, magnified around its centre.
    painter.save();
    painter.setClipPath(glass);
    for (const Suggestion& s : suggestions_) {
        painter.setPen(s.selected ? selected : left);
        const QPointF at(state_.ViewX + (s.x - state_.CentreX) / state_.MagnifierScale,
                         state_.ViewY + (s.y - state_.CentreY) / state_.MagnifierScale);
        const double r = s.radius / state_.MagnifierScale + 2;
        painter.drawEllipse(at, r, r);
    }
    painter.restore();
}

void ImageOnForm::SetShownPicture(const Bitmap* picture) {
    shown_ = picture;
    SetSparePanel();
    Publish();
}

void ImageOnForm::SetSparePanel() {
    state_.Panels[kPanelSpare] = shown_ ? "Original" : imageLoaded_ ? state_.ZoomText() : "";
}

void ImageOnForm::ResetZoom() {
    state_.Zoom = kFitZoom;
    state_.ScrollX = state_.ScrollY = 0;
}

void ImageOnForm::FitToWindow() { ApplyZoom(kFitZoom); }
void ImageOnForm::ActualPixels() { ApplyZoom(1); }
void ImageOnForm::ZoomIn() { ApplyZoom(state_.ZoomStep(1)); }
void ImageOnForm::ZoomOut() { ApplyZoom(state_.ZoomStep(-1)); }

void ImageOnForm::ApplyZoom(float zoom) {
    if (!imageLoaded_ || removing_ || !(state_.ViewScale > 0)) return;
    const QPoint anchor = state_.MagnifierOn ? QPoint(state_.ViewX, state_.ViewY) : QPoint(width() / 2, height() / 2);
    state_.SetZoom(zoom, anchor.x(), anchor.y());
    // The scroll bars come and go with the zoom and resize the view; Fit
    // runs again then and keeps the scale and the scroll.
    state_.Fit(Upright().Width(), Upright().Height(), width(), height());
    if (state_.MagnifierOn) {
        state_.ClampCentre();
        Park();
    } else {
        state_.CentreFromView();
    }
    renderer_.RenderDisplay(Upright(), state_);
    BuildLens();
    if (state_.MagnifierOn) DrawLens();
    update();
    SetSparePanel();
    Publish();
    emit scrollChanged();
}

void ImageOnForm::ScrollTo(int x, int y) {
    if (!imageLoaded_ || removing_ || !state_.ScrollTo(x, y)) return;
    AfterScroll();
}

void ImageOnForm::AfterScroll() {
    if (state_.MagnifierOn) {
        state_.ClampCentre();
        Park();
    } else {
        state_.CentreFromView();
    }
    renderer_.RenderDisplay(Upright(), state_);
    if (state_.MagnifierOn) DrawLens();
    update();
    emit scrollChanged();
}

void ImageOnForm::KeepGlassInView() {
    if (!state_.Zoomed() || !state_.MagnifierOn) return;
    const bool outX = state_.ViewX < 0 || state_.ViewX >= state_.ViewWidth;
    const bool outY = state_.ViewY < 0 || state_.ViewY >= state_.ViewHeight;
    if (!outX && !outY) return;
    // The glass goes to the middle of the view, as far as the picture allows.
    const int x = outX ? state_.ScrollX + state_.ViewX - state_.ViewWidth / 2 : state_.ScrollX;
    const int y = outY ? state_.ScrollY + state_.ViewY - state_.ViewHeight / 2 : state_.ScrollY;
    if (state_.ScrollTo(x, y)) AfterScroll();
}

void ImageOnForm::RenderView() {
    if (!imageLoaded_) return;
    if (!state_.Fit(Upright().Width(), Upright().Height(), width(), height())) return;
    // A zoomed view keeps its scale: the glass stays on its bitmap centre.
    if (state_.MagnifierOn && state_.Zoomed()) state_.ClampCentre();
    renderer_.RenderDisplay(Upright(), state_);
    update();
    BuildLens();
    SetSparePanel();
    Publish();
    emit scrollChanged();
}

void ImageOnForm::BuildLens() { renderer_.BuildLens(state_); }

void ImageOnForm::DrawLens() {
    if (!imageLoaded_ || renderer_.Display().Empty()) return;
    const ViewRect changed = renderer_.DrawLens(Upright(), state_);
    if (state_.MagnifierOn) UpdateRect(changed);
}

void ImageOnForm::UpdateRect(const ViewRect& r) {
    if (!r.Empty()) update(QRect(r.left, r.top, r.right - r.left, r.bottom - r.top));
}

void ImageOnForm::ShowPixelInfo(int x, int y) {
    if (!imageLoaded_) return;
    uint8_t red, green, blue;
    if (state_.MagnifierOn)
        ReadPixel(Upright(), state_.AimedX(), state_.AimedY(), red, green, blue);
    else
        ReadPixel(renderer_.Display(), x, y, red, green, blue);
    readout_.Show(red, green, blue);
    // The stored bitmap's pixel, as the command line takes it.
    int column = 0, row = 0;
    Upright().ToStored(state_.AimedX(), state_.AimedY(), column, row);
    state_.Panels[kPanelPosition] = PositionText(column, row);
    Publish();
}

void ImageOnForm::ChangeSize(bool ctrl, bool shift, int n) {
    state_.ChangeSize(ctrl, shift, n);
    Publish();
}

void ImageOnForm::Publish() {
    for (int i = 0; i < 5; ++i) {
        if (state_.Panels[i] != shownPanels_[i]) {
            shownPanels_[i] = state_.Panels[i];
            emit statusTextChanged(i, QString::fromStdString(shownPanels_[i]));
        }
    }
    const PixelReadout& r = readout_;
    const PixelReadout& s = shownReadout_;
    if (r.LR != s.LR || r.LG != s.LG || r.LB != s.LB || r.LRG != s.LRG || r.LRB != s.LRB) {
        shownReadout_ = readout_;
        emit pixelReadoutChanged(QString::fromStdString(r.LR), QString::fromStdString(r.LG),
                                 QString::fromStdString(r.LB), QString::fromStdString(r.LRG),
                                 QString::fromStdString(r.LRB));
    }
}

void ImageOnForm::Park() {
    if (warping_) platform_.SetCursorPos(state_.CursorHomeX, state_.CursorHomeY);
}

void ImageOnForm::FinishRemoval() {
    state_.CrossX = 0;
    state_.CrossY = 0;
    state_.ClampCentre();
    Park();
    if (state_.MagnifierOn) DrawLens();
}

// ---- painting ----

void ImageOnForm::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(event->rect(), palette().button());
    if (!imageLoaded_) return;
    const Bitmap& shown = state_.MagnifierOn ? renderer_.Composed() : renderer_.Display();
    const QRect picture(0, 0, shown.Width(), shown.Height());
    for (const QRect& r : event->region()) {
        const QRect part = r.intersected(picture);
        if (part.isEmpty()) continue;
        // Wraps the rows in place: only the repainted part is converted.
        const QImage image(shown.Pixel(part.x(), part.y()), part.width(), part.height(),
                           static_cast<qsizetype>(shown.Stride()), QImage::Format_BGR888);
        painter.drawImage(part.topLeft(), image);
    }
    PaintSuggestions(painter);
}

void ImageOnForm::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (!closing_) RenderView();
}

// ---- mouse ----

void ImageOnForm::mousePressEvent(QMouseEvent* event) {
    ImageOnFormMouseDown(event->button(), event->modifiers().testFlag(Qt::ShiftModifier),
                         event->position().toPoint());
    event->accept();
}

void ImageOnForm::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second press of a double click is still a press.
    mousePressEvent(event);
}

void ImageOnForm::mouseMoveEvent(QMouseEvent* event) {
    ImageOnFormMouseMove(event->position().toPoint());
    event->accept();
}

void ImageOnForm::mouseReleaseEvent(QMouseEvent* event) {
    ImageOnFormMouseUp(event->button(), event->modifiers().testFlag(Qt::ShiftModifier),
                       event->modifiers().testFlag(Qt::ControlModifier));
    event->accept();
}

void ImageOnForm::LimitOff() {
    state_.LimitOff();
    BuildLens();
    if (state_.MagnifierOn) DrawLens();
    Publish();
}

void ImageOnForm::ImageOnFormMouseDown(Qt::MouseButton button, bool shift, QPoint pos) {
    if (!imageLoaded_ || removing_) return;
    if (button == Qt::MiddleButton && shift) {
        LimitOff();
    } else if (button == Qt::MiddleButton && !state_.MagnifierOn) {
        panning_ = state_.Zoomed();
        panFrom_ = pos;
    } else if (button == Qt::RightButton) {
        state_.MagnifierOn = !state_.MagnifierOn;
        if (state_.MagnifierOn) {
            platform_.SetCursorShape(CursorShape::Hidden);
            DrawLens();  // at the previous view centre
            state_.ViewX = pos.x();
            state_.ViewY = pos.y();
            platform_.GetCursorPos(state_.CursorHomeX, state_.CursorHomeY);
            lastPos_ = pos;
        } else {
            platform_.SetCursorShape(CursorShape::Default);
            renderer_.ClearLens();
            update();
        }
    } else if (button == Qt::LeftButton) {
        state_.CrossHeld = true;
        crossOrigin_ = pos;
    }
}

void ImageOnForm::ImageOnFormMouseMove(QPoint pos) {
    if (!imageLoaded_ || moveDetached_) return;
    if (panning_) {
        // The picture follows the pointer.
        ScrollBy(panFrom_.x() - pos.x(), panFrom_.y() - pos.y());
        panFrom_ = pos;
    }
    int screenX = 0, screenY = 0;
    platform_.GetCursorPos(screenX, screenY);
    state_.ScreenDX = screenX - pos.x();
    state_.ScreenDY = screenY - pos.y();
    if (removing_) return;
    // The move that parking the pointer causes.
    if (warping_ && screenX == state_.CursorHomeX && screenY == state_.CursorHomeY) return;

    // Detached while pending events run, so no nested move gets in.
    const QPointer<ImageOnForm> alive(this);
    moveDetached_ = true;
    platform_.ProcessMessages();
    if (alive.isNull()) return;  // the window closed meanwhile
    moveDetached_ = false;
    if (!imageLoaded_ || removing_) return;

    QPoint ref(state_.ViewX, state_.ViewY);
    if (!warping_) ref = state_.CrossHeld ? crossOrigin_ : lastPos_;
    lastPos_ = pos;
    const bool park = state_.ApplyMove(pos.x(), pos.y(), ref.x(), ref.y());
    if (state_.MagnifierOn) {
        if (park) Park();
        KeepGlassInView();
        DrawLens();
    }
    ShowPixelInfo(pos.x() + state_.CrossX, pos.y() + state_.CrossY);
}

void ImageOnForm::ImageOnFormMouseUp(Qt::MouseButton button, bool shift, bool ctrl) {
    if (!imageLoaded_) return;
    if (button == Qt::MiddleButton) panning_ = false;
    if (removing_) {
        // Any release during a removal's message pumping stops it.
        removing_ = false;
        state_.CrossHeld = false;
        emit removalAborted();
        return;
    }
    if (button != Qt::LeftButton) return;
    state_.CrossHeld = false;
    const QPointer<ImageOnForm> alive(this);
    emit clickAt(StoredClick(shift, ctrl));
    if (alive.isNull()) return;
    FinishRemoval();
    Publish();
}

// ---- keys and wheel ----

void ImageOnForm::AfterKey() {
    if (!state_.MagnifierOn) return;
    BuildLens();
    ShowPixelInfo(state_.ViewX + state_.CrossX, state_.ViewY + state_.CrossY);
    DrawLens();
    Publish();
    platform_.ProcessMessages();
}

bool ImageOnForm::FormKeyDown(const QKeyEvent* event) {
    const int key = event->key();
    if (key == Qt::Key_Escape) {
        const bool wasRemoving = removing_;
        removing_ = false;
        if (wasRemoving) emit removalAborted();
        emit escapePressed();
        return true;
    }
    if (!imageLoaded_) return false;
    const Qt::KeyboardModifiers mods = event->modifiers();
    if (!state_.MagnifierOn) {
        // Arrows scroll a zoomed view, a tenth of it a press, unless they
        // are moving the text cursor of a box.
        const QWidget* focus = QApplication::focusWidget();
        if (!state_.Zoomed() || mods != Qt::NoModifier || (focus && focus->inherits("QLineEdit")) ||
            (focus && focus->inherits("QAbstractSpinBox")))
            return false;
        const int sx = std::max(16, state_.ViewWidth / 10), sy = std::max(16, state_.ViewHeight / 10);
        switch (key) {
            case Qt::Key_Left: ScrollBy(-sx, 0); return true;
            case Qt::Key_Right: ScrollBy(sx, 0); return true;
            case Qt::Key_Up: ScrollBy(0, -sy); return true;
            case Qt::Key_Down: ScrollBy(0, sy); return true;
            default: return false;
        }
    }
    if (key == Qt::Key_PageUp || key == Qt::Key_PageDown) {
        ChangeSize(mods.testFlag(Qt::ControlModifier), mods.testFlag(Qt::ShiftModifier),
                   key == Qt::Key_PageUp ? 1 : -1);
        AfterKey();
        return true;
    }
    int dx = 0, dy = 0;
    switch (key) {
        case Qt::Key_Left: dx = -1; break;
        case Qt::Key_Up: dy = -1; break;
        case Qt::Key_Right: dx = 1; break;
        case Qt::Key_Down: dy = 1; break;
        default: return false;
    }
    state_.Nudge(dx, dy);
    Park();
    KeepGlassInView();
    AfterKey();
    return false;  // arrows are seen, not consumed
}

bool ImageOnForm::FormKeyPress(const QKeyEvent* event) {
    const int key = event->key();
    const bool ctrl = event->modifiers().testFlag(Qt::ControlModifier);
    if (!ctrl && event->text() == QLatin1String("p")) {
        emit helpRequested();
        return true;
    }
    if (ctrl && key == Qt::Key_N) {
        emit nextImageRequested(event->modifiers().testFlag(Qt::ShiftModifier));
        return true;
    }
    if (!imageLoaded_) return false;
    if (key == Qt::Key_B && !ctrl) {
        // Held: the key repeats while it is down.
        if (!event->isAutoRepeat()) emit originalHeld(true);
        return true;
    }
    const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
    if (key == Qt::Key_Space) {
        ImageOnFormMouseDown(Qt::LeftButton, platform_.KeyState().shift, QPoint(state_.ViewX, state_.ViewY));
        crossOrigin_ = lastPos_;
    } else if (ctrl && key == Qt::Key_L) {
        if (!removing_) LimitOff();
    } else if (ctrl && (enter || key == Qt::Key_M)) {
        int sx = 0, sy = 0;
        platform_.GetCursorPos(sx, sy);
        state_.CursorHomeX = sx;
        state_.CursorHomeY = sy;
        ImageOnFormMouseDown(Qt::RightButton, platform_.KeyState().shift,
                             QPoint(sx - state_.ScreenDX, sy - state_.ScreenDY));
    } else if (enter) {
        emit enterPressed();  // the window's suggested pupils, if any
        return true;
    } else {
        return false;
    }
    AfterKey();
    return true;
}

bool ImageOnForm::FormMouseWheel(const QWheelEvent* event) {
    if (!imageLoaded_) return false;
    const QPoint angle = event->angleDelta();
    const int delta = angle.y() != 0 ? angle.y() : angle.x();
    const Qt::KeyboardModifiers mods = event->modifiers();
    ChangeSize(mods.testFlag(Qt::ControlModifier), mods.testFlag(Qt::ShiftModifier), delta / 120);
    BuildLens();
    if (state_.MagnifierOn) DrawLens();
    return true;
}

void ImageOnForm::InstallKeyPreview(QWidget* window) {
    if (previewWindow_ == nullptr) qApp->installEventFilter(this);
    previewWindow_ = window;
}

bool ImageOnForm::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type == QEvent::KeyRelease && previewWindow_ != nullptr && watched->isWidgetType() &&
        static_cast<const QWidget*>(watched)->window() == previewWindow_) {
        const auto* key = static_cast<const QKeyEvent*>(event);
        // Seen again by each parent it travels to; letting go twice is once.
        if (key->key() == Qt::Key_B && !key->isAutoRepeat()) emit originalHeld(false);
        return false;
    }
    if (previewWindow_ == nullptr || (type != QEvent::KeyPress && type != QEvent::Wheel) || !watched->isWidgetType())
        return false;
    const auto* target = static_cast<const QWidget*>(watched);
    if (target->window() != previewWindow_) return false;  // dialogs keep their keys
    const auto* input = static_cast<const QInputEvent*>(event);
    const int key = type == QEvent::KeyPress ? static_cast<const QKeyEvent*>(event)->key() : -1;
    // The same event passed on to a parent of where it was first seen.
    if (event == previewed_ && input->timestamp() == previewedStamp_ && key == previewedKey_ &&
        !previewedTarget_.isNull() && target != previewedTarget_ && target->isAncestorOf(previewedTarget_.data()))
        return false;
    previewed_ = event;
    previewedTarget_ = target;
    previewedStamp_ = input->timestamp();
    previewedKey_ = key;
    if (type == QEvent::Wheel) return FormMouseWheel(static_cast<const QWheelEvent*>(event));
    return HandleKey(static_cast<const QKeyEvent*>(event));
}

void ImageOnForm::keyPressEvent(QKeyEvent* event) {
    if (previewWindow_ != nullptr) {
        QWidget::keyPressEvent(event);  // already seen by the preview
        return;
    }
    if (HandleKey(event))
        event->accept();
    else
        QWidget::keyPressEvent(event);
}

void ImageOnForm::wheelEvent(QWheelEvent* event) {
    if (previewWindow_ != nullptr) {
        QWidget::wheelEvent(event);
        return;
    }
    if (FormMouseWheel(event))
        event->accept();
    else
        QWidget::wheelEvent(event);
}

}  // namespace scarlex
