// The view widget driven through real events on the offscreen platform:
// pointer moves go through the platform's cursor (as a user's would),
// presses, releases and keys through QTest and posted events.

#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/ScriptedPlatform.h"
#include "view/ImageOnForm.h"

namespace scarlex {
namespace {

// The scripted platform with the real pointer and the real message pump.
class PumpingPlatform : public ScriptedPlatform {
public:
    void SetCursorPos(int x, int y) override { QCursor::setPos(x, y); }
    void GetCursorPos(int& x, int& y) const override {
        const QPoint p = QCursor::pos();
        x = p.x();
        y = p.y();
    }
    void ProcessMessages() override {
        ScriptedPlatform::ProcessMessages();
        QCoreApplication::processEvents();
    }
};

void Pump() {
    // A real display server answers a pointer warp a little later.
    if (QGuiApplication::platformName() != QLatin1String("offscreen")) QTest::qWait(50);
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
}

// A grey picture with a red pupil centred at (pupilX, pupilY).
constexpr int kW = 1500, kH = 1000, kPupilX = 700, kPupilY = 500, kPupilR = 30;
Bitmap Portrait() {
    Bitmap b(kW, kH);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            uint8_t* p = b.Pixel(x, y);
            const bool pupil = (x - kPupilX) * (x - kPupilX) + (y - kPupilY) * (y - kPupilY) < kPupilR * kPupilR;
            p[0] = pupil ? 40 : static_cast<uint8_t>(90 + x % 50);
            p[1] = pupil ? 30 : static_cast<uint8_t>(100 + y % 40);
            p[2] = pupil ? 200 : 120;
        }
    return b;
}

class ImageOnFormTest : public testing::Test {
protected:
    void SetUp() override {
        work = Portrait();
        original = work;
        window = std::make_unique<QWidget>();
        window->setGeometry(100, 50, 536, 486);
        view = new ImageOnForm(work, platform, window.get());
        view->setGeometry(0, 0, 536, 486);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        view->SetImageLoaded(true);
        view->SetMagnification(5);
        view->SetStartValues();
        view->RenderView();
        ASSERT_EQ(view->Renderer().Display().Width(), 536);
    }
    void TearDown() override {
        window.reset();
        Pump();
    }

    // Moves the pointer to a position in the view, as the user would.
    void MoveTo(QPoint local) {
        QCursor::setPos(view->mapToGlobal(local));
        Pump();
    }
    // With a button held by QTest the platform's own move is not delivered;
    // the pointer is put there and the move sent as QTest sends it.
    void DragTo(QPoint local) {
        QCursor::setPos(view->mapToGlobal(local));
        QTest::mouseMove(view, local);
        Pump();
    }
    QPoint Home() const { return QPoint(view->State().CursorHomeX, view->State().CursorHomeY); }
    void MagnifierOnAt(QPoint local) {
        MoveTo(local);
        QTest::mouseClick(view, Qt::RightButton, {}, local);
        Pump();
        ASSERT_TRUE(view->State().MagnifierOn);
    }
    QRgb Shown(int x, int y) { return view->grab().toImage().pixel(x, y); }

    // What the main window does with a click, reduced to its effect on the
    // view: a removal that pumps messages while it turns the pupil grey,
    // restores everything on an abort and records one row otherwise.
    void ActAsMainWindow() {
        QObject::connect(view, &ImageOnForm::clickAt, view, [this](const ClickRequest& c) {
            requests.push_back(c);
            bool aborted = false;
            const QMetaObject::Connection abort =
                QObject::connect(view, &ImageOnForm::removalAborted, view, [&aborted] { aborted = true; });
            view->SetRemoving(true);
            BusyCursor busy(platform);
            const Bitmap before = work;
            for (int y = std::max(0, c.y - kPupilR); y <= std::min(kH - 1, c.y + kPupilR) && !aborted; ++y) {
                platform.ProcessMessages();
                for (int x = std::max(0, c.x - kPupilR); x <= std::min(kW - 1, c.x + kPupilR); ++x) {
                    uint8_t* p = work.Pixel(x, y);
                    if (p[2] > 2 * p[1]) p[2] = static_cast<uint8_t>((p[0] + p[1]) / 2);
                }
            }
            QObject::disconnect(abort);
            if (aborted) {
                work = before;
            } else {
                ++undoRows;
                view->RenderView();
                if (view->State().MagnifierOn) view->DrawLens();
            }
            view->SetRemoving(false);
        });
    }

    Bitmap work, original;
    PumpingPlatform platform;
    std::unique_ptr<QWidget> window;
    ImageOnForm* view = nullptr;
    std::vector<ClickRequest> requests;
    int undoRows = 0;
};

TEST_F(ImageOnFormTest, PointerFollowedWithMagnifierOff) {
    QSignalSpy readout(view, &ImageOnForm::pixelReadoutChanged);
    QSignalSpy status(view, &ImageOnForm::statusTextChanged);
    const QPoint pupil(static_cast<int>(kPupilX / view->State().ViewScale),
                       static_cast<int>(kPupilY / view->State().ViewScale));
    MoveTo(pupil);
    EXPECT_EQ(view->State().ViewX, pupil.x());
    EXPECT_EQ(view->State().CentreX, static_cast<int>(pupil.x() * static_cast<long double>(view->State().ViewScale)));
    ASSERT_FALSE(readout.isEmpty());
    EXPECT_EQ(readout.last().at(0).toString(), "200");
    EXPECT_EQ(readout.last().at(3).toString(), "6.67");  // 200 / 30
    EXPECT_EQ(readout.last().at(4).toString(), "5.00");
    ASSERT_FALSE(status.isEmpty());
    EXPECT_EQ(status.last().at(0).toInt(), 0);
    EXPECT_EQ(status.last().at(1).toString(), QString::fromStdString(PositionText(view->State().CentreX, view->State().CentreY)));
    // The view shows the fitted photograph.
    EXPECT_EQ(qRed(Shown(pupil.x(), pupil.y())), 200);
}

TEST_F(ImageOnFormTest, RightClickTogglesMagnifierWithHiddenParkedPointer) {
    MagnifierOnAt(QPoint(250, 180));
    EXPECT_EQ(platform.CurrentCursorShape(), CursorShape::Hidden);
    EXPECT_EQ(Home(), view->mapToGlobal(QPoint(250, 180)));
    // The lens is on screen: its blue border ring left of the centre.
    const LensPlacement p = view->State().Placement();
    const int S = view->State().Lens().S;
    EXPECT_EQ(Shown(p.lensLeft + 4, p.lensTop + S / 2 - 1), qRgb(0, 0, 255));

    QTest::mouseClick(view, Qt::RightButton, {}, QPoint(250, 180));
    EXPECT_FALSE(view->State().MagnifierOn);
    EXPECT_EQ(platform.CurrentCursorShape(), CursorShape::Default);
    const uint8_t* d = view->Renderer().Display().Pixel(p.lensLeft + 4, p.lensTop + S / 2 - 1);
    EXPECT_EQ(Shown(p.lensLeft + 4, p.lensTop + S / 2 - 1), qRgb(d[2], d[1], d[0]));
}

TEST_F(ImageOnFormTest, MagnifierMovesByRelativeSteps) {
    MagnifierOnAt(QPoint(250, 180));
    const int cx = view->State().CentreX, cy = view->State().CentreY;
    MoveTo(QPoint(250 + 21, 180 - 8));  // odd remainder 1: the divisor becomes 1
    EXPECT_EQ(view->State().MoveDivisor, 1);
    EXPECT_EQ(view->State().CentreX, cx + 10);
    EXPECT_EQ(view->State().CentreY, cy - 4);
    // The pointer went back to the magnifier's centre, and that move was ignored.
    EXPECT_EQ(QCursor::pos(), Home());
    EXPECT_EQ(Home(), view->mapToGlobal(QPoint(view->State().ViewX, view->State().ViewY)));
    EXPECT_EQ(view->State().CentreX, cx + 10);
    // Arrows nudge by one bitmap pixel and park the pointer anew.
    QTest::keyClick(view, Qt::Key_Left);
    EXPECT_EQ(view->State().CentreX, cx + 9);
    EXPECT_EQ(QCursor::pos(), Home());
}

TEST_F(ImageOnFormTest, RelativeFollowingWhereThePointerCannotBeParked) {
    view->SetPointerWarping(false);
    MagnifierOnAt(QPoint(250, 180));
    const int cx = view->State().CentreX;
    MoveTo(QPoint(251, 180));  // the divisor becomes 1; half a step is nothing
    MoveTo(QPoint(261, 180));
    MoveTo(QPoint(271, 180));
    EXPECT_EQ(view->State().CentreX, cx + 10);
    EXPECT_EQ(QCursor::pos(), view->mapToGlobal(QPoint(271, 180)));  // never warped
}

TEST_F(ImageOnFormTest, LeftPressMoveReleaseClicksAtTheCrosshair) {
    ActAsMainWindow();
    const QPoint pupil(static_cast<int>(kPupilX / view->State().ViewScale),
                       static_cast<int>((kPupilY - 15) / view->State().ViewScale));
    MagnifierOnAt(pupil);
    MoveTo(pupil + QPoint(1, 0));  // settle the divisor at 1
    const QPoint centre(view->State().ViewX, view->State().ViewY);
    QTest::mousePress(view, Qt::LeftButton, {}, centre);
    EXPECT_TRUE(view->State().CrossHeld);
    DragTo(centre + QPoint(0, 30));  // crosshair down by trunc(15 / MagnifierScale)
    const int crossY = static_cast<int>(15 / static_cast<long double>(view->State().MagnifierScale));
    EXPECT_EQ(view->State().CrossY, crossY);
    EXPECT_EQ(view->State().ViewY, centre.y());  // the magnifier stays put
    const int aimedY = view->State().AimedY();
    QTest::mouseRelease(view, Qt::LeftButton, {}, centre + QPoint(0, 30));
    Pump();

    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].x, view->State().CentreX);
    EXPECT_EQ(requests[0].y, aimedY);
    EXPECT_FALSE(requests[0].shift);
    EXPECT_EQ(undoRows, 1);
    EXPECT_EQ(work.Pixel(kPupilX, kPupilY)[2], 35);  // the red is gone
    // Crosshair back at the centre, pointer parked, hourglass gone.
    EXPECT_FALSE(view->State().CrossHeld);
    EXPECT_EQ(view->State().CrossX, 0);
    EXPECT_EQ(view->State().CrossY, 0);
    EXPECT_EQ(QCursor::pos(), Home());
    EXPECT_EQ(platform.CurrentCursorShape(), CursorShape::Hidden);
    EXPECT_NE(std::find(platform.cursorHistory.begin(), platform.cursorHistory.end(), CursorShape::Hourglass),
              platform.cursorHistory.end());
    // The magnifier shows the edited photograph.
    const QRgb centrePixel = Shown(view->State().ViewX, view->State().ViewY);
    const uint8_t* w = work.Pixel(view->State().CentreX, view->State().CentreY);
    EXPECT_EQ(centrePixel, qRgb(w[2], w[1], w[0]));
}

TEST_F(ImageOnFormTest, EscOrAnyReleaseDuringRemovalAbortsIt) {
    ActAsMainWindow();
    QSignalSpy aborted(view, &ImageOnForm::removalAborted);
    const QPoint pupil(static_cast<int>(kPupilX / view->State().ViewScale),
                       static_cast<int>(kPupilY / view->State().ViewScale));
    MagnifierOnAt(pupil);

    // Esc waiting in the queue arrives during the removal's first pump.
    QCoreApplication::postEvent(view, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
    QTest::mouseClick(view, Qt::LeftButton, {}, pupil);
    Pump();
    EXPECT_EQ(requests.size(), 1u);
    EXPECT_EQ(undoRows, 0);
    EXPECT_TRUE(work.SamePixels(original));
    EXPECT_FALSE(view->Removing());
    EXPECT_EQ(aborted.count(), 1);

    // A right click during the removal: the press is ignored, the release aborts.
    const QPoint globalPupil = view->mapToGlobal(pupil);
    QCoreApplication::postEvent(view, new QMouseEvent(QEvent::MouseButtonPress, QPointF(pupil), QPointF(globalPupil),
                                                      Qt::RightButton, Qt::RightButton, Qt::NoModifier));
    QCoreApplication::postEvent(view, new QMouseEvent(QEvent::MouseButtonRelease, QPointF(pupil), QPointF(globalPupil),
                                                      Qt::RightButton, Qt::NoButton, Qt::NoModifier));
    QTest::mouseClick(view, Qt::LeftButton, {}, pupil);
    Pump();
    EXPECT_EQ(requests.size(), 2u);
    EXPECT_EQ(aborted.count(), 2);
    EXPECT_EQ(undoRows, 0);
    EXPECT_TRUE(work.SamePixels(original));
    EXPECT_TRUE(view->State().MagnifierOn);  // not toggled
    EXPECT_EQ(platform.CurrentCursorShape(), CursorShape::Hidden);

    // Undisturbed, the same click edits.
    QTest::mouseClick(view, Qt::LeftButton, {}, pupil);
    Pump();
    EXPECT_EQ(undoRows, 1);
    EXPECT_FALSE(work.SamePixels(original));
}

TEST_F(ImageOnFormTest, PageKeysWheelAndStatus) {
    QSignalSpy status(view, &ImageOnForm::statusTextChanged);
    const auto lastText = [&](int panel) {
        for (int i = status.count() - 1; i >= 0; --i)
            if (status.at(i).at(0).toInt() == panel) return status.at(i).at(1).toString();
        return QString();
    };
    QTest::keyClick(view, Qt::Key_PageUp);  // magnifier off: ignored
    EXPECT_EQ(view->State().Radius, 100);
    MagnifierOnAt(QPoint(250, 180));
    const int notch = static_cast<int>(std::ceil(1 / static_cast<long double>(view->State().MagnifierScale)));
    QTest::keyClick(view, Qt::Key_PageUp);
    EXPECT_EQ(view->State().Radius, 100 + notch);
    EXPECT_EQ(lastText(kPanelRadius), QString("Radius : %1").arg(100 + notch));
    QTest::keyClick(view, Qt::Key_PageDown, Qt::ShiftModifier);
    EXPECT_EQ(view->State().Limit, 100);
    EXPECT_EQ(lastText(kPanelLimit), "Limit : 100");
    EXPECT_TRUE(view->State().LimitActive);
    QTest::keyClick(view, Qt::Key_L, Qt::ControlModifier);  // limit off
    EXPECT_FALSE(view->State().LimitActive);
    EXPECT_EQ(view->State().Limit, view->State().Radius);
    EXPECT_EQ(lastText(kPanelLimit), "Not limiting");
    QTest::keyClick(view, Qt::Key_PageDown, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(view->State().Magnification, 4);
    EXPECT_EQ(lastText(kPanelMagnification), "Magnification : 4");

    const auto wheel = [&](int delta, Qt::KeyboardModifiers mods) {
        QWheelEvent e(QPointF(10, 10), QPointF(view->mapToGlobal(QPoint(10, 10))), QPoint(), QPoint(0, delta),
                      Qt::NoButton, mods, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view, &e);
        return e.isAccepted();
    };
    EXPECT_TRUE(wheel(240, Qt::ControlModifier));
    EXPECT_EQ(view->State().Magnification, 6);
    const ViewState before = view->State();
    EXPECT_TRUE(wheel(60, {}));  // less than a notch
    EXPECT_TRUE(wheel(-119, Qt::ShiftModifier));
    EXPECT_EQ(view->State().Radius, before.Radius);
    EXPECT_EQ(view->State().Limit, before.Limit);
    EXPECT_TRUE(wheel(-120 * 200, {}));
    EXPECT_EQ(view->State().Radius, 1);
    EXPECT_EQ(view->Renderer().Geometry().S, view->State().Lens().S);  // lens rebuilt
}

TEST_F(ImageOnFormTest, KeyCommands) {
    QSignalSpy help(view, &ImageOnForm::helpRequested);
    QSignalSpy next(view, &ImageOnForm::nextImageRequested);
    QSignalSpy escape(view, &ImageOnForm::escapePressed);
    view->SetImageLoaded(false);
    QTest::keyClick(view, Qt::Key_P);  // always
    QTest::keyClick(view, Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyClick(view, Qt::Key_Escape);
    QTest::keyClick(view, Qt::Key_Space);  // needs a photograph
    EXPECT_EQ(help.count(), 1);
    ASSERT_EQ(next.count(), 1);
    EXPECT_TRUE(next.at(0).at(0).toBool());
    EXPECT_EQ(escape.count(), 1);
    EXPECT_FALSE(view->Removing());
    EXPECT_FALSE(view->State().CrossHeld);

    view->SetImageLoaded(true);
    MoveTo(QPoint(300, 200));
    QTest::keyClick(view, Qt::Key_Return, Qt::ControlModifier);  // magnifier on at the pointer
    EXPECT_TRUE(view->State().MagnifierOn);
    EXPECT_EQ(platform.CurrentCursorShape(), CursorShape::Hidden);
    EXPECT_EQ(Home(), view->mapToGlobal(QPoint(300, 200)));
    QTest::keyClick(view, Qt::Key_Return);  // plain Enter: nothing
    EXPECT_TRUE(view->State().MagnifierOn);
    QTest::keyClick(view, Qt::Key_Space);  // the crosshair is taken
    EXPECT_TRUE(view->State().CrossHeld);
    QTest::keyClick(view, Qt::Key_M, Qt::ControlModifier);  // off again
    EXPECT_FALSE(view->State().MagnifierOn);
    EXPECT_EQ(platform.CurrentCursorShape(), CursorShape::Default);
}

TEST_F(ImageOnFormTest, KeyPreviewSeesKeysAimedElsewhereOnce) {
    auto* edit = new QLineEdit(window.get());
    edit->setGeometry(0, 460, 100, 24);
    edit->show();
    view->InstallKeyPreview(window.get());
    MagnifierOnAt(QPoint(250, 180));
    const int cx = view->State().CentreX;
    QTest::keyClick(edit, Qt::Key_Right);  // not consumed: the edit moves its cursor too
    EXPECT_EQ(view->State().CentreX, cx + 1);
    QTest::keyClick(view, Qt::Key_Right);
    EXPECT_EQ(view->State().CentreX, cx + 2);
    const int radius = view->State().Radius;
    QTest::keyClick(edit, Qt::Key_PageUp);
    EXPECT_GT(view->State().Radius, radius);
    QTest::keyClicks(edit, "1p");  // "p" is the help key wherever it is typed
    EXPECT_EQ(edit->text(), "1");
    // Another window keeps its keys.
    QLineEdit other;
    other.show();
    QTest::keyClicks(&other, "p");
    EXPECT_EQ(other.text(), "p");
}

}  // namespace
}  // namespace scarlex

int main(int argc, char** argv) {
    // Listing the tests at build time needs no display either.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
