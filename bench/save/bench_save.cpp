// A save of a 6000x4000 quality-92 4:2:0 photograph with 1, 5 and 20 edits,
// as ratios against one `jpegtran -copy comments` pass over the same file
// and against the same chain run with jpegtran (after the same full
// re-encode), all measured in this run: the save commands' chain, and the
// one-pass engine in both modes with the heap it needs beyond the
// original's coefficient arrays and its output. Last, a `scarlex-cli fix`
// of the same shape (decode, 20 grey circles, engine, one write) against
// `djpeg` plus one `jpegtran -copy comments` pass. Needs djpeg and jpegtran
// on the PATH.

#include <cstdio>
#include <jpeglib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "HeapMeter.h"
#include "codec/JpegCodec.h"
#include "common/BenchSupport.h"
#include "editing/EditScript.h"
#include "metadata/ImgData.h"
#include "platform/ScriptedPlatform.h"
#include "save/PatchChain.h"
#include "save/PatchEngine.h"
#include "save/SaveCommands.h"

using namespace scarlex;

namespace {




int Shell(const std::string& cmd) { return std::system(cmd.c_str()); }

long long FileBytes(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return -1;
    std::fseek(f, 0, SEEK_END);
    const long long n = std::ftell(f);
    std::fclose(f);
    return n;
}

bool WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

// What libjpeg holds for the whole picture's coefficients: every
// component's blocks, padded to its sampling factors.
long long CoefficientArrayBytes(const JpegInfo& info) {
    int maxH = 1, maxV = 1;
    for (int c = 0; c < info.components; ++c) maxH = std::max(maxH, info.h[c]), maxV = std::max(maxV, info.v[c]);
    long long bytes = 0;
    for (int c = 0; c < info.components; ++c) {
        const long long w = (1LL * info.width * info.h[c] + 8 * maxH - 1) / (8 * maxH);
        const long long h = (1LL * info.height * info.v[c] + 8 * maxV - 1) / (8 * maxV);
        bytes += (w + info.h[c] - 1) / info.h[c] * info.h[c] * ((h + info.v[c] - 1) / info.v[c] * info.v[c]) *
                 static_cast<long long>(sizeof(JBLOCK));
    }
    return bytes;
}

void Grey(Bitmap& bmp, const Rect& r) {
    for (int y = std::max(r.top, 0); y < std::min(r.bottom, bmp.Height()); ++y)
        for (int x = std::max(r.left, 0); x < std::min(r.right, bmp.Width()); ++x) {
            uint8_t* p = bmp.Pixel(x, y);
            p[0] = p[1] = p[2] = uint8_t((p[0] + p[1] + p[2]) / 3);
        }
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The reference and the candidate run in turns, so that both meet the same
// load on a shared machine; the ratio is the median of the turns' ratios.
struct Paired {
    double reference, candidate, ratio;
};
Paired InTurns(const std::function<void()>& reference, const std::function<void()>& candidate, int runs) {
    std::vector<double> r, c, q;
    for (int i = 0; i < runs; ++i) {
        r.push_back(bench::MedianSeconds(reference, 1));
        c.push_back(bench::MedianSeconds(candidate, 1));
        q.push_back(c.back() / r.back());
    }
    return {Median(r), Median(c), Median(q)};
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    if (Shell("command -v jpegtran >/dev/null && command -v djpeg >/dev/null") != 0) {
        std::fprintf(stderr, "bench_save needs jpegtran and djpeg (Debian libjpeg-turbo-progs)\n");
        return 1;
    }
    char tmpl[] = "/tmp/scarlex-bench-save-XXXXXX";
    const std::string dir = mkdtemp(tmpl);
    const std::string photo = dir + "/photo.jpg";
    Bitmap bmp = bench::MakePicture(6000, 4000);
    bench::WritePlainJpeg(photo, bmp, 92, "benchmark photograph");
    Sampling sampling{{2, 1, 1, 2, 1, 1}};

    const auto jpegtranPass = [&] { Shell("jpegtran -copy comments -outfile " + dir + "/copy.jpg " + photo); };
    const double copy = bench::MedianSeconds(jpegtranPass, runs);
    std::printf("reference: one jpegtran -copy comments pass over the photograph: %.3f s\n", copy);
    JpegInfo info;
    ReadJpegInfo(photo, info);
    const long long arrays = CoefficientArrayBytes(info);
    std::printf("photograph: %lld bytes; its coefficient arrays: %.1f MB\n", FileBytes(photo), arrays / 1e6);

    for (int edits : {1, 5, 20}) {
        std::vector<Rect> rows;
        for (int i = 0; i < edits; ++i) {
            const int x = 300 + (i * 1237) % 5200, y = 200 + (i * 811) % 3500;
            rows.push_back({x, y, x + 31, y + 29});
        }
        ScriptedPlatform platform;
        SettingsModel settings;
        SaveDocument doc;
        doc.OpenFilePath = doc.OriginalPath = photo;
        doc.WorkBitmap = &bmp;
        doc.SourceSampling = sampling;
        doc.UndoRows = [&rows] { return rows; };
        SaveCommands commands(platform, settings, doc);
        const double ours = bench::MedianSeconds([&] { commands.AutoSave1Click(); }, runs);

        const double theirs = bench::MedianSeconds(
            [&] {
                const std::string full = dir + "/full.jpg";
                EncodeBitmapToJpeg(full, bmp, sampling);
                std::string current = photo;
                int i = 0;
                for (const Rect& r : rows) {
                    PatchRequest q = PatchRequestFor(r, bmp.Width(), bmp.Height());
                    const std::string patch = dir + "/patch.jpg", next = dir + "/chain" + std::to_string(i++ % 2) + ".jpg";
                    char geometry[96];
                    std::snprintf(geometry, sizeof geometry, "%dx%d+%d+%d", q.cropW, q.cropH, q.cropX, q.cropY);
                    Shell("jpegtran -copy comments -crop " + std::string(geometry) + " -outfile " + patch + " " + full);
                    const int px = q.cropX - q.cropX % 16, py = q.cropY - q.cropY % 16;
                    Shell("jpegtran -copy comments -drop +" + std::to_string(px) + "+" + std::to_string(py) + " " +
                          patch + " -outfile " + next + " " + current);
                    current = next;
                }
            },
            runs);
        std::printf("save with %2d edits: %.3f s = %.2fx one jpegtran pass, %.2fx the jpegtran chain (%.3f s)\n", edits,
                    ours, ours / copy, ours / theirs, theirs);

        Bitmap edited = bmp;
        for (const Rect& r : rows) Grey(edited, r);
        for (PatchMode mode : {PatchMode::Default, PatchMode::KeepQuality}) {
            const char* name = mode == PatchMode::Default ? "default" : "keep quality";
            std::vector<uint8_t> bytes;
            const Paired p = InTurns(
                jpegtranPass,
                [&] {
                    bytes.clear();
                    CodecResult r = BuildPatchedJpegFromFile(photo, edited, sampling, rows, mode, bytes);
                    if (!r.ok || !WriteAll(dir + "/engine.jpg", bytes))
                        std::fprintf(stderr, "engine failed: %s\n", r.error.c_str());
                },
                runs);
            std::printf("  engine, %-12s %2d edits: %.3f s = %.2fx one jpegtran pass (%.3f s in turn), %.2fx the save "
                        "commands; output %lld bytes\n",
                        name, edits, p.candidate, p.ratio, p.reference, p.candidate / ours, (long long)bytes.size());
            if (!bench::HeapMeterActive()) continue;
            std::vector<uint8_t> measured;
            PatchEngineReport report;
            const long long start = bench::HeapInUse();
            bench::ResetHeapPeak();
            BuildPatchedJpegFromFile(photo, edited, sampling, rows, mode, measured, &report);
            const long long extra = bench::HeapPeak() - start;
            long long areaBytes = 0;
            for (const PatchArea& a : report.areas) areaBytes += 3LL * a.width * a.height;
            std::printf("    heap at its peak: coefficient arrays %.2f MB + output %.2f MB (%.2f MB reserved) + %.1f KB "
                        "else (patch areas: %.1f KB of pixels, %ld iMCUs)\n",
                        arrays / 1e6, measured.size() / 1e6, measured.capacity() / 1e6,
                        (extra - arrays - (long long)measured.capacity()) / 1e3, areaBytes / 1e3, report.encodedImcus);
        }
    }

    // The command-line fix, in one process: decode, 20 grey circles, the
    // engine, one write; against djpeg and one jpegtran pass.
    const auto tools = [&] {
        Shell("djpeg -outfile /dev/null " + photo);
        jpegtranPass();
    };
    for (PatchMode mode : {PatchMode::Default, PatchMode::KeepQuality}) {
        std::vector<double> editTimes;
        const Paired p = InTurns(
            tools,
            [&] {
                Bitmap picture;
                Sampling s;
                DecodeJpegToBitmap(photo, picture, s);
                TimgData meta;
                meta.ProcessFile(photo);
                const auto editsStart = std::chrono::steady_clock::now();
                DBUndoTable undo;
                EditSession session(picture, undo, ".");
                for (int i = 0; i < 20; ++i) {
                    EditStep circle;
                    circle.kind = EditStepKind::Circle;
                    circle.x = 300 + (i * 1237) % 5200, circle.y = 200 + (i * 811) % 3500, circle.r = 15;
                    session.Apply(circle);
                }
                editTimes.push_back(
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - editsStart).count());
                std::vector<uint8_t> bytes, file;
                CodecResult r = BuildPatchedJpegFromFile(photo, picture, s, undo.Rectangles(), mode, bytes);
                if (meta.HasEXIF()) {
                    meta.BuildEXIFJpeg(bytes, false, file);
                    bytes.swap(file);
                }
                if (!r.ok || !WriteAll(dir + "/fixed.jpg", bytes)) std::fprintf(stderr, "fix failed: %s\n", r.error.c_str());
            },
            runs);
        const double edits = Median(editTimes);
        std::printf("fix-shaped run (%s, 20 grey circles): %.3f s = %.2fx djpeg + one jpegtran pass (%.3f s in turn); "
                    "of it the 20 edits %.3f s, the rest %.2fx\n",
                    mode == PatchMode::Default ? "default" : "keep quality", p.candidate, p.ratio, p.reference, edits,
                    (p.candidate - edits) / p.reference);
    }
    Shell("rm -rf " + dir);
    return 0;
}
