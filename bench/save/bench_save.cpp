// Saves of a 6000x4000 quality-92 4:2:0 photograph through the save
// commands, with 1, 5 and 20 edits in both modes, as ratios against one
// `jpegtran -copy comments` pass over the same file measured in turn, with
// the heap a save needs beyond the bitmap. Last, the real `scarlex-cli fix`
// with 20 grey circles against `djpeg` plus one `jpegtran -copy comments`
// pass, both timed by hyperfine, with the command's peak resident size.
// Needs djpeg and jpegtran on the PATH, and hyperfine for the last part.

#include <cstdio>
#include <jpeglib.h>
#include <sys/resource.h>
#include <sys/wait.h>
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

// The "mean" of every command in a hyperfine JSON export, in order.
std::vector<double> JsonMeans(const std::string& path) {
    std::vector<double> means;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return means;
    std::string text;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) text.append(buffer, n);
    std::fclose(f);
    for (std::size_t at = 0; (at = text.find("\"mean\":", at)) != std::string::npos; at += 7)
        means.push_back(std::atof(text.c_str() + at + 7));
    return means;
}

// The highest resident size of one run of a shell command.
long long PeakResidentBytes(const std::string& command) {
    const pid_t pid = fork();
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", ("exec " + command).c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return -1;
    return static_cast<long long>(usage.ru_maxrss) * 1024;
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

    // Bytes the save holds beyond the bitmap and the coefficient arrays are
    // its copy of the original's file and the output it writes.
    const long long fileBytes = FileBytes(photo);
    for (int edits : {1, 5, 20}) {
        std::vector<Rect> rows;
        for (int i = 0; i < edits; ++i) {
            const int x = 300 + (i * 1237) % 5200, y = 200 + (i * 811) % 3500;
            rows.push_back({x, y, x + 31, y + 29});
        }
        Bitmap edited = bmp;
        for (const Rect& r : rows) Grey(edited, r);
        for (PatchMode mode : {PatchMode::Default, PatchMode::KeepQuality}) {
            const char* name = mode == PatchMode::Default ? "default" : "keep quality";
            ScriptedPlatform platform;
            SettingsModel settings;
            settings.KeepOriginalQuality = mode == PatchMode::KeepQuality;
            SaveDocument doc;
            doc.OpenFilePath = doc.OriginalPath = photo;
            doc.WorkBitmap = &edited;
            doc.SourceSampling = sampling;
            doc.UndoRows = [&rows] { return rows; };
            SaveCommands commands(platform, settings, doc);
            const Paired p = InTurns(
                jpegtranPass,
                [&] {
                    if (!commands.AutoSave1Click())
                        std::fprintf(stderr, "save failed: %s\n",
                                     platform.messages.empty() ? "?" : platform.messages.back().text.c_str());
                },
                runs);
            std::printf("save, %-12s %2d edits: %.3f s = %.2fx one jpegtran pass (%.3f s in turn); output %lld bytes\n",
                        name, edits, p.candidate, p.ratio, p.reference, commands.LastReport().outputSize);
            if (!bench::HeapMeterActive()) continue;
            const long long start = bench::HeapInUse();
            bench::ResetHeapPeak();
            commands.AutoSave1Click();
            const long long extra = bench::HeapPeak() - start;
            const SaveReport& report = commands.LastReport();
            long long areaBytes = 0;
            for (const PatchArea& a : report.engine.areas) areaBytes += 3LL * a.width * a.height;
            std::printf("    heap at its peak beyond the bitmap: coefficient arrays %.2f MB + the original's file %.2f MB + "
                        "output %.2f MB + %.1f KB else (patch areas: %.1f KB of pixels, %ld iMCUs)\n",
                        arrays / 1e6, fileBytes / 1e6, report.outputSize / 1e6,
                        (extra - arrays - fileBytes - report.outputSize) / 1e3, areaBytes / 1e3,
                        report.engine.encodedImcus);
        }
    }

    // The real `scarlex-cli fix` with 20 grey circles against djpeg and one
    // jpegtran pass, timed by hyperfine in the same run.
    if (Shell("command -v hyperfine >/dev/null") != 0) {
        std::printf("scarlex-cli fix: skipped, hyperfine is not installed\n");
    } else {
        const std::string tools = "djpeg -outfile /dev/null " + photo + " && jpegtran -copy comments -outfile " + dir +
                                  "/copy.jpg " + photo;
        for (PatchMode mode : {PatchMode::Default, PatchMode::KeepQuality}) {
            std::string fix = std::string(SCARLEX_CLI_PATH) + " fix " + photo;
            for (int i = 0; i < 20; ++i)
                fix += " --circle " + std::to_string(300 + (i * 1237) % 5200) + "," + std::to_string(200 + (i * 811) % 3500) + ",15";
            fix += " -o " + dir + "/fixed.jpg --yes";
            if (mode == PatchMode::KeepQuality) fix += " --keep-quality";
            const std::string json = dir + "/hyperfine.json";
            Shell("hyperfine --style none --warmup 1 --runs " + std::to_string(std::max(runs, 3)) + " --export-json " +
                  json + " '" + tools + "' '" + fix + " >/dev/null'");
            const std::vector<double> means = JsonMeans(json);
            const long long peak = PeakResidentBytes(fix + " >/dev/null");
            if (means.size() != 2) {
                std::fprintf(stderr, "hyperfine gave no timings\n");
                continue;
            }
            std::printf("scarlex-cli fix (%s, 20 grey circles): %.3f s = %.2fx djpeg + one jpegtran pass (%.3f s); peak "
                        "resident %.1f MB = bitmap %.1f MB + coefficient arrays %.1f MB + %.1f MB else\n",
                        mode == PatchMode::Default ? "default" : "keep quality", means[1], means[1] / means[0], means[0],
                        peak / 1e6, 3.0 * bmp.Width() * bmp.Height() / 1e6, arrays / 1e6,
                        (peak - 3LL * bmp.Width() * bmp.Height() - arrays) / 1e6);
        }
    }
    Shell("rm -rf " + dir);
    return 0;
}
