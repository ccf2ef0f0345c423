// The main window on a 24 MP photograph, each step as the user meets it:
// opening the file to the first paint, one magnifier redraw for a mouse
// move, and a click on a pupil to the repainted view. Each is printed as a
// ratio against one decode of the same file, timed in this run.
// Targets: load 1.2x, magnifier redraw 0.02x, click to redraw 0.1x.

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QTest>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "app/Unit1.h"
#include "codec/JpegCodec.h"
#include "platform/ScriptedPlatform.h"
#include "settings/Settings.h"

namespace {

using namespace scarlex;
namespace fs = std::filesystem;

constexpr int kW = 6000, kH = 4000;
// A pupil of a 24 MP portrait: 45 pixels across the radius.
constexpr int kPupilX = 2600, kPupilY = 1700, kPupilR = 45;

Bitmap Portrait() {
    Bitmap p(kW, kH);
    uint32_t seed = 12345;
    for (int y = 0; y < kH; ++y) {
        uint8_t* row = p.Row(y);
        for (int x = 0; x < kW; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int noise = static_cast<int>(seed >> 28);
            // Skin and background: red never 1.6 times the green.
            row[3 * x] = static_cast<uint8_t>(90 + (x / 37) % 40 + noise);
            row[3 * x + 1] = static_cast<uint8_t>(110 + (y / 29) % 50 + noise);
            row[3 * x + 2] = static_cast<uint8_t>(140 + ((x ^ y) / 50) % 40 + noise);
            const int dx = x - kPupilX, dy = y - kPupilY;
            if (dx * dx + dy * dy <= kPupilR * kPupilR) {
                row[3 * x] = static_cast<uint8_t>(35 + noise);
                row[3 * x + 1] = static_cast<uint8_t>(30 + noise);
                row[3 * x + 2] = static_cast<uint8_t>(200 + noise);
            }
        }
    }
    return p;
}

std::string& JpegPath() {
    static std::string path;
    return path;
}

struct Window {
    // Its cursor position stands in for the screen pointer.
    ScriptedPlatform platform;
    TMainForm form{platform, {}};
    Window() {
        form.show();
        form.resize(1400, 1000);
        QCoreApplication::processEvents();
    }
    QPoint ViewPoint(int x, int y) const {
        const float scale = form.ImageOnForm->State().ViewScale;
        return {static_cast<int>(x / scale), static_cast<int>(y / scale)};
    }
    void MoveTo(QPoint at) {
        platform.SetCursorPos(at.x() + 100, at.y() + 100);
        QTest::mouseMove(form.ImageOnForm, at);
    }
    // Pointer on the pupil, magnifier on.
    void Aim() {
        MoveTo(QPoint(3, 3));
        const QPoint at = ViewPoint(kPupilX, kPupilY);
        MoveTo(at);
        QTest::mouseClick(form.ImageOnForm, Qt::RightButton, {}, at);
    }
};

void BM_DecodeJpeg(benchmark::State& state) {
    for (auto _ : state) {
        Bitmap b;
        Sampling s;
        if (!DecodeJpegToBitmap(JpegPath(), b, s).ok) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(b.Data());
    }
}
BENCHMARK(BM_DecodeJpeg)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// LoadImageFile as Open does it (decode, metadata, undo store, fit,
// caption) and the window's first repaint.
void BM_LoadToFirstPaint(benchmark::State& state) {
    Window w;
    for (auto _ : state) {
        if (w.form.LoadImageFile(JpegPath()) != scarlex::LoadOutcome::Loaded) state.SkipWithError("load failed");
        w.form.repaint();
    }
}
BENCHMARK(BM_LoadToFirstPaint)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// One mouse move with the magnifier on: the view's handler, the lens drawn
// at its new place, and the repaint.
void BM_MagnifierMouseMove(benchmark::State& state) {
    Window w;
    if (w.form.LoadImageFile(JpegPath()) != scarlex::LoadOutcome::Loaded) state.SkipWithError("load failed");
    w.Aim();
    int step = 0;
    for (auto _ : state) {
        const ViewState& view = w.form.ImageOnForm->State();
        const QPoint home(view.CursorHomeX, view.CursorHomeY);
        const int dx = (step++ % 2) ? 40 : -40;
        // The pointer leaves its parked place; the view follows.
        w.platform.SetCursorPos(home.x() + dx, home.y() + 20);
        QTest::mouseMove(w.form.ImageOnForm, QPoint(view.ViewX + dx, view.ViewY + 20 + (step % 3)));
        w.form.ImageOnForm->repaint();
    }
}
BENCHMARK(BM_MagnifierMouseMove)->Unit(benchmark::kMicrosecond);

// A left click on the pupil: the removal, its undo row, the view and the
// magnifier redrawn, the repaint. The undo between clicks is not timed.
void BM_ClickToRedraw(benchmark::State& state) {
    Window w;
    if (w.form.LoadImageFile(JpegPath()) != scarlex::LoadOutcome::Loaded) state.SkipWithError("load failed");
    w.Aim();
    for (auto _ : state) {
        const ViewState& view = w.form.ImageOnForm->State();
        const QPoint at(view.ViewX, view.ViewY);
        QTest::mousePress(w.form.ImageOnForm, Qt::LeftButton, {}, at);
        QTest::mouseRelease(w.form.ImageOnForm, Qt::LeftButton, {}, at);
        w.form.repaint();
        state.PauseTiming();
        if (!w.form.Undo1->isEnabled()) state.SkipWithError("the click removed nothing");
        w.form.Undo1->trigger();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ClickToRedraw)->Unit(benchmark::kMillisecond);

class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> seconds;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs)
            if (!r.error_occurred && r.run_type == Run::RT_Iteration)
                seconds[r.benchmark_name()] = r.real_accumulated_time / static_cast<double>(r.iterations);
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    const fs::path dir = fs::temp_directory_path() / ("scarlex-app-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    // A settings file of this run: no startup hints window, nothing kept.
    ::setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    QApplication app(argc, argv);
    std::ofstream(SettingsFilePath()) << "[General]\nStartup Hints=0\n";
    JpegPath() = (dir / "portrait-6000x4000.jpg").string();
    if (!EncodeBitmapToJpeg(JpegPath(), Portrait(), Sampling{{2, 1, 1, 2, 1, 1}}).ok) {
        std::fprintf(stderr, "could not write %s\n", JpegPath().c_str());
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    fs::remove_all(dir);

    double reference = 0;
    for (const auto& [name, s] : reporter.seconds)
        if (name.rfind("BM_DecodeJpeg", 0) == 0) reference = s;
    if (reference <= 0) return 0;
    const std::map<std::string, double> targets = {
        {"BM_LoadToFirstPaint", 1.2}, {"BM_MagnifierMouseMove", 0.02}, {"BM_ClickToRedraw", 0.1}};
    std::printf("\nRatios against one decode of the 6000x4000 JPEG (%.1f ms):\n", reference * 1e3);
    for (const auto& [name, s] : reporter.seconds) {
        if (name.rfind("BM_DecodeJpeg", 0) == 0) continue;
        double target = 0;
        for (const auto& [prefix, t] : targets)
            if (name.rfind(prefix, 0) == 0) target = t;
        std::printf("  %-36s %8.4f  (target <= %.2f)%s\n", name.c_str(), s / reference, target,
                    s / reference <= target ? "" : "  ABOVE TARGET");
    }
    return 0;
}
