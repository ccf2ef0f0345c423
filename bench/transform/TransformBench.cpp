// Crop of an 80x80 region and drop of an 81x81 patch into a generated
// 6000x4000 4:2:0 photograph, against jpegtran doing the same in the same
// run. Runs alternate between the two so that both see the same machine
// state; the medians are compared. Both sides are timed as processes
// (scarlex-cli and jpegtran) so start-up costs match; the in-process
// driver time is printed as well.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <unistd.h>

#include "transform/LosslessFiles.h"

namespace {

// A photo-like 4:2:0 JPEG: gradients, edges and noise, quality q.
bool MakePhoto(const std::string& path, int width, int height, int quality, unsigned seed) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, f);
    cinfo.image_width = JDIMENSION(width);
    cinfo.image_height = JDIMENSION(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPLE> row(size_t(width) * 3);
    unsigned state = seed;
    while (cinfo.next_scanline < cinfo.image_height) {
        const int y = int(cinfo.next_scanline);
        for (int x = 0; x < width; ++x) {
            state = state * 1664525u + 1013904223u;
            const int n = int(state >> 28) - 8;
            const int edge = ((x / 37) + (y / 53)) % 5 == 0 ? 60 : 0;
            row[3 * x] = JSAMPLE(std::clamp(40 + (x * 180) / width + edge + n, 0, 255));
            row[3 * x + 1] = JSAMPLE(std::clamp(60 + (y * 150) / height + n, 0, 255));
            row[3 * x + 2] = JSAMPLE(std::clamp(int(128 + 100 * std::sin(x * 0.01 + y * 0.02)) + n, 0, 255));
        }
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&cinfo, &r, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::fclose(f);
    return true;
}

double Seconds(const std::function<void()>& fn) {
    const auto t0 = std::chrono::steady_clock::now();
    fn();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void Run(const std::string& cmd) {
    if (std::system(cmd.c_str()) != 0) {
        std::fprintf(stderr, "failed: %s\n", cmd.c_str());
        std::exit(1);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 7;
    char dirName[] = "/tmp/scarlex-bench-XXXXXX";
    if (!::mkdtemp(dirName)) return 1;
    const std::string dir = dirName;
    const std::string src = dir + "/photo.jpg", patch = dir + "/patch.jpg", out = dir + "/out.jpg";
    const std::string cli = SCARLEX_CLI_PATH;
    std::printf("generating a 6000x4000 4:2:0 photograph...\n");
    if (!MakePhoto(src, 6000, 4000, 90, 1) || !MakePhoto(patch, 81, 81, 75, 2)) return 1;

    struct Case {
        const char* name;
        std::string ours, theirs;
        std::function<void()> inProcess;
    };
    const Case cases[] = {
        {"crop 80x80", cli + " crop " + src + " " + out + " 80x80+2000+1500",
         "jpegtran -copy comments -crop 80x80+2000+1500 " + src + " > " + out,
         [&] { scarlex::CropJpegFile(src, out, 80, 80, 2000, 1500); }},
        {"drop 81x81", cli + " drop " + src + " " + patch + " " + out + " +2000+1500",
         "jpegtran -copy comments -drop +2000+1500 " + patch + " " + src + " > " + out,
         [&] { scarlex::DropJpegFile(src, patch, out, 2000, 1500); }},
    };
    for (const Case& c : cases) {
        std::vector<double> ours, theirs, inproc;
        Run(c.ours);  // warm the page cache
        Run(c.theirs);
        for (int i = 0; i < rounds; ++i) {
            ours.push_back(Seconds([&] { Run(c.ours); }));
            theirs.push_back(Seconds([&] { Run(c.theirs); }));
            inproc.push_back(Seconds(c.inProcess));
        }
        const double o = Median(ours), t = Median(theirs);
        std::printf("%-11s scarlex-cli %7.1f ms  jpegtran %7.1f ms  ratio %.3f  (driver in-process %7.1f ms)\n", c.name,
                    o * 1e3, t * 1e3, o / t, Median(inproc) * 1e3);
    }
    std::remove(src.c_str());
    std::remove(patch.c_str());
    std::remove(out.c_str());
    ::rmdir(dir.c_str());
    return 0;
}
