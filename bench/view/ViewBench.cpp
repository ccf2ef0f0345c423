// How the view keeps up with a 24 MP photograph: fitting it to the view,
// redrawing the magnifier, and (with the widget) a whole mouse move from
// the pointer's event to the repainted view. Each is printed as a ratio
// against one decode of the same photograph as a JPEG, timed in this run.

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "codec/JpegCodec.h"
#include "view/ViewRenderer.h"
#include "view/ViewState.h"

#ifdef SCARLEX_BENCH_WIDGET
#include <QApplication>
#include <QCursor>
#include <QWidget>

#include "platform/ScriptedPlatform.h"
#include "view/ImageOnForm.h"
#endif

namespace {

using namespace scarlex;
namespace fs = std::filesystem;

constexpr int kW = 6000, kH = 4000;

Bitmap& Photo() {
    static Bitmap b = [] {
        Bitmap p(kW, kH);
        uint32_t seed = 12345;
        for (int y = 0; y < kH; ++y) {
            uint8_t* row = p.Row(y);
            for (int x = 0; x < kW; ++x) {
                seed = seed * 1664525u + 1013904223u;
                const int noise = static_cast<int>(seed >> 28);
                row[3 * x] = static_cast<uint8_t>((x / 23 + noise) & 255);
                row[3 * x + 1] = static_cast<uint8_t>((y / 17 + x / 61 + noise) & 255);
                row[3 * x + 2] = static_cast<uint8_t>(((x ^ y) / 40 + noise) & 255);
            }
        }
        return p;
    }();
    return b;
}

std::string& JpegPath() {
    static std::string path;
    return path;
}

void BM_DecodeJpeg(benchmark::State& state) {
    for (auto _ : state) {
        Bitmap b;
        Sampling s;
        if (!DecodeJpegToBitmap(JpegPath(), b, s).ok) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(b.Data());
    }
}
BENCHMARK(BM_DecodeJpeg)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// RenderView without the widget: the fit and the nearest-neighbour stretch.
void BM_FitAndScale(benchmark::State& state) {
    const int vw = static_cast<int>(state.range(0)), vh = static_cast<int>(state.range(1));
    ViewState view;
    ViewRenderer renderer;
    for (auto _ : state) {
        view.Fit(kW, kH, vw, vh);
        renderer.RenderDisplay(Photo(), view);
        renderer.BuildLens(view);
        benchmark::DoNotOptimize(renderer.Display().Data());
    }
}
BENCHMARK(BM_FitAndScale)->Args({536, 486})->Args({1900, 1000})->Unit(benchmark::kMillisecond);

// One DrawLens at a new place: radius/magnification as arguments.
void BM_MagnifierRedraw(benchmark::State& state) {
    ViewState view;
    view.SetMagnification(static_cast<int>(state.range(1)));
    view.Radius = view.Limit = static_cast<int>(state.range(0));
    view.Fit(kW, kH, 1900, 1000);
    view.MagnifierOn = true;
    ViewRenderer renderer;
    renderer.RenderDisplay(Photo(), view);
    renderer.BuildLens(view);
    int step = 0;
    for (auto _ : state) {
        view.ViewX = 300 + (step * 37) % 1000;
        view.ViewY = 300 + (step * 23) % 400;
        view.CentreFromView();
        ++step;
        benchmark::DoNotOptimize(renderer.DrawLens(Photo(), view));
    }
}
BENCHMARK(BM_MagnifierRedraw)->Args({100, 5})->Args({300, 2})->Args({300, 100})->Unit(benchmark::kMicrosecond);

#ifdef SCARLEX_BENCH_WIDGET
class PumpingPlatform : public ScriptedPlatform {
public:
    void SetCursorPos(int x, int y) override { QCursor::setPos(x, y); }
    void GetCursorPos(int& x, int& y) const override {
        const QPoint p = QCursor::pos();
        x = p.x();
        y = p.y();
    }
    void ProcessMessages() override { QCoreApplication::processEvents(); }
};

// A pointer move over the widget with the magnifier on, to the repaint.
void BM_WidgetMouseMove(benchmark::State& state) {
    PumpingPlatform platform;
    QWidget window;
    window.setGeometry(0, 0, 1200, 800);
    ImageOnForm view(Photo(), platform, &window);
    view.setGeometry(0, 0, 1200, 800);
    window.show();
    view.SetImageLoaded(true);
    view.SetStartValues();
    view.RenderView();
    QCoreApplication::processEvents();
    QCursor::setPos(view.mapToGlobal(QPoint(500, 400)));
    QCoreApplication::processEvents();
    view.State().MagnifierOn = true;
    view.State().MoveDivisor = 1;
    int step = 0;
    for (auto _ : state) {
        const QPoint home(view.State().CursorHomeX, view.State().CursorHomeY);
        const int dx = (step++ % 2) ? 30 : -30;
        QCursor::setPos(home + QPoint(dx, 8));
        QCoreApplication::processEvents();
        view.repaint();
    }
}
BENCHMARK(BM_WidgetMouseMove)->Unit(benchmark::kMicrosecond);

// Opening a photograph as the window does it: decode, fit, first paint.
void BM_LoadToFirstPaint(benchmark::State& state) {
    PumpingPlatform platform;
    Bitmap work;
    QWidget window;
    window.setGeometry(0, 0, 1200, 800);
    ImageOnForm view(work, platform, &window);
    view.setGeometry(0, 0, 1200, 800);
    window.show();
    QCoreApplication::processEvents();
    for (auto _ : state) {
        Sampling s;
        if (!DecodeJpegToBitmap(JpegPath(), work, s).ok) state.SkipWithError("decode failed");
        view.SetImageLoaded(true);
        view.RenderView();
        view.repaint();
    }
}
BENCHMARK(BM_LoadToFirstPaint)->Unit(benchmark::kMillisecond)->MinTime(2.0);
#endif

class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> seconds;
    std::map<std::string, double> cpuSeconds;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs)
            if (!r.error_occurred && r.run_type == Run::RT_Iteration)
            {
                seconds[r.benchmark_name()] = r.real_accumulated_time / static_cast<double>(r.iterations);
                cpuSeconds[r.benchmark_name()] = r.cpu_accumulated_time / static_cast<double>(r.iterations);
            }
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char** argv) {
#ifdef SCARLEX_BENCH_WIDGET
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
#endif
    const fs::path dir = fs::temp_directory_path() / ("scarlex-view-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    JpegPath() = (dir / "photo-6000x4000.jpg").string();
    if (!EncodeBitmapToJpeg(JpegPath(), Photo(), Sampling{}).ok) {
        std::fprintf(stderr, "could not write %s\n", JpegPath().c_str());
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    fs::remove_all(dir);

    auto decode = reporter.seconds.lower_bound("BM_DecodeJpeg");
    if (decode == reporter.seconds.end() || decode->first.rfind("BM_DecodeJpeg", 0) != 0 || decode->second <= 0)
        return 0;
    const double decodeCpu = reporter.cpuSeconds[decode->first];
    std::printf("\nRatios against one decode of the 6000x4000 JPEG (%.1f ms wall, %.1f ms cpu):\n",
                decode->second * 1e3, decodeCpu * 1e3);
    std::printf("  %-36s %8s %8s\n", "", "wall", "cpu");
    for (const auto& [name, s] : reporter.seconds)
        if (name != decode->first)
            std::printf("  %-36s %8.4f %8.4f\n", name.c_str(), s / decode->second,
                        reporter.cpuSeconds[name] / decodeCpu);
    return 0;
}
