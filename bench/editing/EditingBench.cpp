// Red-eye removal speed against one plain copy of the photograph, the copy
// every click makes before it walks. Prints the ratios after the run.
//
//   editing_bench [--benchmark_min_time=...]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

#include "editing/RedEye.h"
#include "editing/UndoStore.h"

using namespace scarlex;

namespace {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;

// A photograph-sized picture that fails the test everywhere but in the
// red patch given.
Bitmap Photo(int patchX, int patchY, int patchW, int patchH, bool disc, double radius = 0) {
    Bitmap bmp(kWidth, kHeight);
    for (int y = 0; y < kHeight; ++y) {
        uint8_t* row = bmp.Row(y);
        for (int x = 0; x < kWidth; ++x) {
            row[3 * x] = uint8_t(80 + (x + y) % 60);
            row[3 * x + 1] = uint8_t(90 + x % 50);
            row[3 * x + 2] = uint8_t(100 + y % 40);
        }
    }
    const double cx = patchX + (patchW - 1) / 2.0, cy = patchY + (patchH - 1) / 2.0;
    const double r = radius > 0 ? radius : patchW / 2.0;
    for (int y = patchY; y < patchY + patchH; ++y)
        for (int x = patchX; x < patchX + patchW; ++x) {
            if (disc && (x - cx) * (x - cx) + (y - cy) * (y - cy) > r * r) continue;
            uint8_t* p = bmp.Pixel(x, y);
            p[0] = uint8_t(30 + (x * 7 + y) % 40);
            p[1] = uint8_t(25 + (x + y * 3) % 40);
            p[2] = uint8_t(170 + (x ^ y) % 80);
        }
    return bmp;
}

void BM_PlainCopy(benchmark::State& state) {
    const Bitmap src = Photo(0, 0, 1, 1, false);
    Bitmap dst = src;
    for (auto _ : state) {
        dst = src;
        benchmark::DoNotOptimize(dst.Data());
        benchmark::ClobberMemory();
    }
}

void Click(benchmark::State& state, Bitmap work, int cx, int cy) {
    const Thresholds t = ConvertThresholds(DefaultEditSettings("."), ".").thresholds;
    RedEyeRemover remover;
    DBUndoTable undo;
    RemovalView view;
    view.CentreX = cx;
    view.CentreY = cy;
    view.ViewScale = 1.0f;
    view.Magnification = 1;
    view.MagnifierScale = 1.0f;
    bool abort = false;
    const RemovalHooks hooks{[] {}, &abort, nullptr};
    const Bitmap original = work;

    // One click outside the timing: the window's remover keeps its
    // before-edit bitmap from click to click, so later clicks copy into
    // memory already there.
    const RemovalResult first = remover.Remove(work, undo, t, view, false, hooks);
    if (first.outcome != RemovalOutcome::Recorded) {
        state.SkipWithError("nothing recorded");
        return;
    }
    std::size_t changed = 0;
    const Rect in = ClipToBitmap(first.rect, kWidth, kHeight);
    for (int y = in.top; y < in.bottom; ++y)
        for (int x = in.left; x < in.right; ++x) changed += work.Pixel(x, y)[2] != original.Pixel(x, y)[2];
    const std::size_t undoBytes = undo.Row(0).Image.ByteSize();
    const std::size_t extraBytes = remover.Walker().PeakStackBytes() + remover.Walker().MarkBytes();
    undo.Undo(work);

    for (auto _ : state) {
        const RemovalResult r = remover.Remove(work, undo, t, view, false, hooks);
        state.PauseTiming();
        if (r.outcome != RemovalOutcome::Recorded) state.SkipWithError("nothing recorded");
        undo.Undo(work);
        state.ResumeTiming();
    }
    state.counters["changed_px"] = double(changed);
    state.counters["undo_image_bytes"] = double(undoBytes);
    state.counters["walk_bytes"] = double(extraBytes);
    state.counters["changed_bytes"] = double(3 * changed);
}

void BM_ClickRegion1000(benchmark::State& state) { Click(state, Photo(2500, 1500, 1000, 1000, false), 3000, 2000); }

// 61 pixels: the disc of radius sqrt(18).
void BM_ClickPupil60(benchmark::State& state) { Click(state, Photo(3000, 2000, 9, 9, true, 4.25), 3004, 2004); }

BENCHMARK(BM_PlainCopy)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ClickRegion1000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ClickPupil60)->Unit(benchmark::kMillisecond)->UseRealTime();

// Keeps each run's time per iteration for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            if (r.run_type != Run::RT_Iteration || r.error_occurred) continue;
            Result& out = results[r.benchmark_name()];
            out.real = r.GetAdjustedRealTime();
            out.cpu = r.GetAdjustedCPUTime();
            const auto px = r.counters.find("changed_px");
            if (px != r.counters.end()) out.changedPixels = px->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    struct Result {
        double real = 0, cpu = 0, changedPixels = 0;  // times in the unit of the run (ms)
    };
    std::map<std::string, Result> results;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto copy = reporter.results.find("BM_PlainCopy/real_time");
    if (copy == reporter.results.end()) return 0;
    std::printf("\nWhole click against one plain copy of a %dx%d bitmap (same run; real and CPU time):\n", kWidth,
                kHeight);
    for (const auto& [name, r] : reporter.results) {
        if (name == copy->first) continue;
        std::printf("  %-30s real %6.2fx  cpu %6.2fx", name.c_str(), r.real / copy->second.real,
                    r.cpu / copy->second.cpu);
        // The walk's own share: the click less its copy.
        if (r.changedPixels > 0)
            std::printf("  walk %.1f ns per changed pixel", (r.real - copy->second.real) * 1e6 / r.changedPixels);
        std::printf("\n");
    }
    benchmark::Shutdown();
    return 0;
}
