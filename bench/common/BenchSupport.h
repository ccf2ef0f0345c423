#pragma once
// Shared by the benchmarks: a photo-like picture and a median timer.

#include <cstdio>
#include <cstring>
#include <jpeglib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "common/Bitmap.h"

namespace scarlex::bench {

// Smooth shading, fine texture and sensor-like noise, so that the encoder
// has realistic work to do.
inline Bitmap MakePicture(int w, int h, unsigned seed = 5) {
    Bitmap bmp(w, h);
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> noise(-8, 8);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = bmp.Row(y);
        for (int x = 0; x < w; ++x) {
            double s = std::sin(x * 0.01) * std::cos(y * 0.013);
            row[3 * x] = uint8_t(std::clamp(int(100 + 60 * s) + noise(rng), 0, 255));
            row[3 * x + 1] = uint8_t(std::clamp(int(120 + 40 * s + (x ^ y) % 32) + noise(rng), 0, 255));
            row[3 * x + 2] = uint8_t(std::clamp(int(140 - 50 * s) + noise(rng), 0, 255));
        }
    }
    return bmp;
}

// Encodes with plain libjpeg calls, blue-first rows, the default 4:2:0
// sampling at `quality`, and an optional comment.
inline void WritePlainJpeg(const std::string& path, const Bitmap& bmp, int quality, const char* comment = nullptr) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return;
    jpeg_compress_struct c;
    jpeg_error_mgr e;
    c.err = jpeg_std_error(&e);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, f);
    c.image_width = JDIMENSION(bmp.Width());
    c.image_height = JDIMENSION(bmp.Height());
    c.input_components = 3;
    c.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&c);
    if (quality != 75) jpeg_set_quality(&c, quality, TRUE);
    jpeg_start_compress(&c, TRUE);
    if (comment)
        jpeg_write_marker(&c, JPEG_COM, reinterpret_cast<const JOCTET*>(comment), unsigned(std::strlen(comment)));
    while (c.next_scanline < c.image_height) {
        JSAMPROW r = const_cast<uint8_t*>(bmp.Row(int(c.next_scanline)));
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::fclose(f);
}

// Median wall time of `runs` calls, in seconds.
inline double MedianSeconds(const std::function<void()>& f, int runs) {
    std::vector<double> t;
    for (int i = 0; i < runs; ++i) {
        auto a = std::chrono::steady_clock::now();
        f();
        t.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count());
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

}  // namespace scarlex::bench
