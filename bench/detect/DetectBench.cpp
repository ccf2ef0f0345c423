// The suggested pupils against one decode of the same photograph, and fix
// --auto on a batch of photographs with two workers against one.
//
//   detect_bench [RUNS] [BATCH]     (defaults 5 and 20)
//
// Prints the times and the ratios; the targets are detection at most one
// decode and two workers at least 1.7 times the throughput of one.

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "codec/JpegCodec.h"
#include "common/BenchSupport.h"
#include "detect/Detector.h"
#include "support/FaceScene.h"

using namespace scarlex;

namespace {

test::SceneLayout FourFaces(int width, int height, uint32_t seed) {
    test::SceneLayout layout;
    layout.width = width;
    layout.height = height;
    layout.seed = seed;
    layout.redClothing = true;
    for (int k = 0; k < 4; ++k) {
        test::DrawnFace f;
        f.x = width * (0.15 + 0.23 * k);
        f.y = height * (0.3 + 0.06 * (k % 2));
        f.pupilRadius = width / 600.0 + 2 * k;
        f.tilt = -15 + 10 * k;
        layout.faces.push_back(f);
    }
    return layout;
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const int batch = argc > 2 ? std::max(2, std::atoi(argv[2])) : 20;
    char tmpl[] = "/tmp/scarlex-bench-detect-XXXXXX";
    const std::string dir = mkdtemp(tmpl);

    // Detection on a 6000 x 4000 photograph with four faces.
    const std::string photo = dir + "/four.jpg";
    std::vector<test::DrawnPupil> pupils;
    bench::WritePlainJpeg(photo, test::DrawScene(FourFaces(6000, 4000, 3), &pupils), 92);
    Bitmap bitmap;
    Sampling sampling;
    std::vector<SuggestedPupil> found;
    RedPupilDetector detector;
    // Each decode is followed by a detection, so that both see the machine
    // alike; the ratio is the median of the pairs'.
    std::vector<double> decodes, detections, ratios;
    for (int i = 0; i < runs; ++i) {
        decodes.push_back(bench::MedianSeconds([&] { DecodeJpegToBitmap(photo, bitmap, sampling); }, 1));
        detections.push_back(bench::MedianSeconds([&] { found = detector.Detect(bitmap); }, 1));
        ratios.push_back(detections.back() / decodes.back());
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    const double first = bench::MedianSeconds([&] { found = DetectRedPupils(bitmap); }, 1);
    std::printf("decode of the 6000x4000 photograph: %.3f s\n", median(decodes));
    std::printf("detection: %.3f s (%zu of %zu pupils suggested); with loading the cascades: %.3f s\n",
                median(detections), found.size(), pupils.size(), first);
    std::printf("ratio detection / decode: %.2f (target <= 1)\n", median(ratios));
    std::printf("ratio detection with loading the cascades / decode: %.2f\n", first / median(decodes));

    // fix --auto on a batch, one worker and two.
    std::vector<std::string> files;
    for (int k = 0; k < batch; ++k) {
        files.push_back("photo" + std::to_string(k) + ".jpg");
        bench::WritePlainJpeg(dir + "/" + files.back(), test::DrawScene(FourFaces(3000, 2000, 10 + k)), 90);
    }
    // The processor time the workers got, to tell a machine busy with other
    // work (two workers given about one processor) from a slow batch.
    auto childSeconds = [] {
        rusage u{};
        getrusage(RUSAGE_CHILDREN, &u);
        return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    };
    double busy[3] = {0, 0, 0};
    auto run = [&](int jobs) {
        const std::string work = dir + "/jobs" + std::to_string(jobs);
        std::string cmd = "cd " + Quote(work) + " && " + Quote(SCARLEX_CLI_PATH) + " fix --auto --jobs " +
                          std::to_string(jobs);
        for (const std::string& f : files) cmd += " " + f;
        cmd += " >/dev/null 2>&1";
        return bench::MedianSeconds(
            [&] {
                std::filesystem::remove_all(work);
                std::filesystem::create_directories(work);
                for (const std::string& f : files) std::filesystem::copy_file(dir + "/" + f, work + "/" + f);
                const double before = childSeconds();
                if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "the batch reported a failure\n");
                busy[jobs] = childSeconds() - before;
            },
            std::max(1, runs / 2));
    };
    // The copies are part of both timings alike.
    const double one = run(1), two = run(2);
    std::printf("batch of %d photographs (3000x2000, fix --auto): 1 worker %.3f s, 2 workers %.3f s\n", batch, one, two);
    std::printf("ratio throughput 2 workers / 1 worker: %.2f (target >= 1.7)\n", one / two);
    std::printf("processors the workers had on average: %.2f with 1 worker, %.2f with 2\n", busy[1] / one, busy[2] / two);
    std::filesystem::remove_all(dir);
    return 0;
}
