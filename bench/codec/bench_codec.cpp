// Decode and full re-encode of a 6000x4000 photo-like picture through the
// bridge, each as a ratio against the same work done with plain libjpeg
// calls in the same run. Target: <= 1.1.

#include <cstdio>
#include <jpeglib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "codec/JpegCodec.h"
#include "common/BenchSupport.h"

using namespace scarlex;

namespace {



void PlainDecode(const std::string& path, std::vector<uint8_t>& pixels) {
    FILE* f = std::fopen(path.c_str(), "rb");
    jpeg_decompress_struct c;
    jpeg_error_mgr e;
    c.err = jpeg_std_error(&e);
    jpeg_create_decompress(&c);
    jpeg_stdio_src(&c, f);
    jpeg_read_header(&c, TRUE);
    c.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&c);
    const std::size_t stride = (std::size_t(c.output_width) * 3 + 3) & ~std::size_t(3);
    // A fresh buffer, as loading a new photograph needs.
    pixels = std::vector<uint8_t>(stride * c.output_height);
    while (c.output_scanline < c.output_height) {
        JSAMPROW r = pixels.data() + stride * c.output_scanline;
        jpeg_read_scanlines(&c, &r, 1);
    }
    jpeg_finish_decompress(&c);
    jpeg_destroy_decompress(&c);
    std::fclose(f);
}


}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    char dir[] = "/tmp/scarlex-bench-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    const std::string src = std::string(dir) + "/src.jpg", out1 = std::string(dir) + "/a.jpg",
                      out2 = std::string(dir) + "/b.jpg";
    Bitmap picture = bench::MakePicture(6000, 4000);
    bench::WritePlainJpeg(src, picture, 75);

    Bitmap bmp;
    Sampling s;
    std::vector<uint8_t> plainPixels;
    double ours = bench::MedianSeconds([&] { DecodeJpegToBitmap(src, bmp, s); }, runs);
    double plain = bench::MedianSeconds([&] { PlainDecode(src, plainPixels); }, runs);
    std::printf("decode 6000x4000:    bridge %.3f s, plain libjpeg %.3f s, ratio %.3f (target <= 1.1)\n", ours, plain,
                ours / plain);
    double enc = bench::MedianSeconds([&] { EncodeBitmapToJpeg(out1, bmp, s); }, runs);
    double plainEnc = bench::MedianSeconds([&] { bench::WritePlainJpeg(out2, bmp, 75); }, runs);
    std::printf("re-encode 6000x4000: bridge %.3f s, plain libjpeg %.3f s, ratio %.3f (target <= 1.1)\n", enc,
                plainEnc, enc / plainEnc);
    for (const std::string& p : {src, out1, out2}) std::remove(p.c_str());
    rmdir(dir);
    return 0;
}
