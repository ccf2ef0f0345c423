// A save of a 6000x4000 quality-92 4:2:0 photograph with 1, 5 and 20 edits,
// as ratios against one `jpegtran -copy comments` pass over the same file
// and against the same chain run with jpegtran (after the same full
// re-encode), all measured in this run. Needs jpegtran on the PATH.

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

#include "codec/JpegCodec.h"
#include "common/BenchSupport.h"
#include "platform/ScriptedPlatform.h"
#include "save/PatchChain.h"
#include "save/SaveCommands.h"

using namespace scarlex;

namespace {




int Shell(const std::string& cmd) { return std::system(cmd.c_str()); }

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    if (Shell("command -v jpegtran >/dev/null") != 0) {
        std::fprintf(stderr, "bench_save needs jpegtran (Debian libjpeg-turbo-progs)\n");
        return 1;
    }
    char tmpl[] = "/tmp/scarlex-bench-save-XXXXXX";
    const std::string dir = mkdtemp(tmpl);
    const std::string photo = dir + "/photo.jpg";
    Bitmap bmp = bench::MakePicture(6000, 4000);
    bench::WritePlainJpeg(photo, bmp, 92, "benchmark photograph");
    Sampling sampling{{2, 1, 1, 2, 1, 1}};

    const double copy = bench::MedianSeconds([&] { Shell("jpegtran -copy comments -outfile " + dir + "/copy.jpg " + photo); }, runs);
    std::printf("reference: one jpegtran -copy comments pass over the photograph: %.3f s\n", copy);

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
    }
    Shell("rm -rf " + dir);
    return 0;
}
