// Draws the bundled sample photograph: a face-like scene with two red
// pupils, encoded 4:2:0 with an Exif block, an IPTC block and a comment.
// Usage: make_sample OUT.jpg
//
// Everything here is made by this program; the picture is deterministic.

#include <cstdio>
#include <jpeglib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 1600;
constexpr int kHeight = 1200;
// Pupil centres and radius, documented in the README.
constexpr int kLeftPupilX = 652, kLeftPupilY = 540;
constexpr int kRightPupilX = 948, kRightPupilY = 540;
constexpr double kPupilRadius = 15.0;

struct Rgb {
    double r, g, b;
};

Rgb Mix(Rgb a, Rgb b, double t) {
    t = std::clamp(t, 0.0, 1.0);
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

// 0 outside, 1 inside, with a soft edge of `soft` pixels.
double Ellipse(double x, double y, double cx, double cy, double rx, double ry, double soft = 1.5) {
    double d = std::sqrt(((x - cx) * (x - cx)) / (rx * rx) + ((y - cy) * (y - cy)) / (ry * ry));
    double edge = soft / std::min(rx, ry);
    return std::clamp((1.0 - d) / edge + 0.5, 0.0, 1.0);
}

Rgb Eye(double x, double y, double cx, double cy, Rgb base) {
    Rgb c = base;
    // Upper lid shadow, sclera, iris, red pupil with a small catch-light.
    c = Mix(c, {235, 228, 222}, Ellipse(x, y, cx, cy, 58, 26, 2.5));
    double dist = std::hypot(x - cx, y - cy);
    Rgb iris = Mix({70, 110, 60}, {40, 70, 35}, dist / 34.0);
    c = Mix(c, iris, Ellipse(x, y, cx, cy, 33, 33, 1.5) * Ellipse(x, y, cx, cy, 58, 26, 2.5));
    Rgb pupil = Mix({215, 38, 30}, {120, 18, 16}, std::pow(dist / kPupilRadius, 2.0));
    c = Mix(c, pupil, Ellipse(x, y, cx, cy, kPupilRadius, kPupilRadius, 1.2));
    c = Mix(c, {250, 245, 240}, Ellipse(x, y, cx + 7, cy - 7, 3.0, 3.0, 1.0));
    // Lid line.
    double lid = std::fabs(y - (cy - 26 + 0.004 * (x - cx) * (x - cx)));
    if (std::fabs(x - cx) < 62) c = Mix(c, {90, 55, 45}, std::clamp(1.5 - lid / 2.0, 0.0, 1.0));
    return c;
}

Rgb Scene(int px, int py, std::mt19937& rng) {
    const double x = px, y = py;
    // Background: a warm wall with a soft light fall-off and a window band.
    Rgb c = Mix({92, 104, 128}, {40, 44, 60}, std::hypot(x - 300, y - 200) / 1500.0);
    if (x > 1250) c = Mix(c, {170, 180, 190}, 0.5);
    // Shoulders and shirt.
    c = Mix(c, {40, 70, 120}, Ellipse(x, y, 800, 1300, 620, 330, 4));
    // Neck and face.
    Rgb skin = Mix({226, 178, 150}, {176, 122, 98}, std::hypot(x - 740, y - 470) / 420.0);
    c = Mix(c, skin, Ellipse(x, y, 800, 900, 110, 220, 4));
    c = Mix(c, skin, Ellipse(x, y, 800, 600, 300, 390, 4));
    // Hair.
    double hair = Ellipse(x, y, 800, 330, 330, 200, 6) * (y < 420 + 0.0012 * (x - 800) * (x - 800) ? 1.0 : 0.0);
    c = Mix(c, {58, 36, 24}, hair);
    // Brows, eyes, nose shadow, mouth.
    c = Mix(c, {80, 52, 36}, Ellipse(x, y, kLeftPupilX, kLeftPupilY - 58, 64, 10, 3));
    c = Mix(c, {80, 52, 36}, Ellipse(x, y, kRightPupilX, kRightPupilY - 58, 64, 10, 3));
    if (std::fabs(x - kLeftPupilX) < 70 && std::fabs(y - kLeftPupilY) < 40) c = Eye(x, y, kLeftPupilX, kLeftPupilY, c);
    if (std::fabs(x - kRightPupilX) < 70 && std::fabs(y - kRightPupilY) < 40) c = Eye(x, y, kRightPupilX, kRightPupilY, c);
    c = Mix(c, {165, 110, 90}, Ellipse(x, y, 800, 680, 38, 22, 8));
    c = Mix(c, {160, 72, 70}, Ellipse(x, y, 800, 800, 95, 24, 3));
    c = Mix(c, {110, 40, 42}, Ellipse(x, y, 800, 800, 80, 4, 2));
    // Sensor noise.
    std::normal_distribution<double> noise(0.0, 2.2);
    return {c.r + noise(rng), c.g + noise(rng), c.b + noise(rng)};
}

void Put16(std::vector<uint8_t>& v, unsigned x) {  // big-endian (Motorola) TIFF
    v.push_back(uint8_t(x >> 8));
    v.push_back(uint8_t(x));
}
void Put32(std::vector<uint8_t>& v, unsigned x) {
    Put16(v, x >> 16);
    Put16(v, x & 0xFFFF);
}

struct Entry {
    unsigned tag, type, count;
    std::vector<uint8_t> data;  // value bytes (big-endian)
};

Entry Ascii(unsigned tag, const std::string& s) {
    Entry e{tag, 2, unsigned(s.size() + 1), {}};
    e.data.assign(s.begin(), s.end());
    e.data.push_back(0);
    return e;
}
Entry Short(unsigned tag, unsigned value) {
    Entry e{tag, 3, 1, {}};
    Put16(e.data, value);
    return e;
}
Entry Long(unsigned tag, unsigned value) {
    Entry e{tag, 4, 1, {}};
    Put32(e.data, value);
    return e;
}
Entry Rational(unsigned tag, unsigned num, unsigned den) {
    Entry e{tag, 5, 1, {}};
    Put32(e.data, num);
    Put32(e.data, den);
    return e;
}

// Writes one IFD at `offset` (from the TIFF header) into `tiff`; values
// over four bytes go right after it. Returns the position of the
// next-IFD field.
std::size_t WriteIfd(std::vector<uint8_t>& tiff, std::vector<Entry> entries) {
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
    const std::size_t start = tiff.size();
    std::size_t dataPos = start + 2 + 12 * entries.size() + 4;
    std::vector<uint8_t> extra;
    Put16(tiff, unsigned(entries.size()));
    for (const Entry& e : entries) {
        Put16(tiff, e.tag);
        Put16(tiff, e.type);
        Put32(tiff, e.count);
        if (e.data.size() <= 4) {
            std::vector<uint8_t> v = e.data;
            v.resize(4, 0);
            tiff.insert(tiff.end(), v.begin(), v.end());
        } else {
            Put32(tiff, unsigned(dataPos + extra.size()));
            extra.insert(extra.end(), e.data.begin(), e.data.end());
            if (extra.size() % 2) extra.push_back(0);
        }
    }
    std::size_t next = tiff.size();
    Put32(tiff, 0);
    tiff.insert(tiff.end(), extra.begin(), extra.end());
    return next;
}

std::vector<uint8_t> ExifBlock() {
    std::vector<uint8_t> tiff = {'M', 'M', 0, 42, 0, 0, 0, 8};
    // IFD0 first, with a placeholder for the Exif IFD pointer patched below.
    std::vector<Entry> ifd0 = {Ascii(0x010E, "Scarlex sample photograph: two red pupils"),
                               Ascii(0x010F, "Scarlex"),
                               Ascii(0x0110, "make_sample"),
                               Short(0x0112, 1),
                               Rational(0x011A, 72, 1),
                               Rational(0x011B, 72, 1),
                               Short(0x0128, 2),
                               Ascii(0x0131, "Scarlex make_sample"),
                               Ascii(0x0132, "2026:12:08 12:00:00"),
                               Long(0x8769, 0)};
    std::size_t ifd0Start = tiff.size();
    WriteIfd(tiff, ifd0);
    // Patch the Exif IFD offset (the last entry after sorting is 0x8769).
    unsigned exifOffset = unsigned(tiff.size());
    std::size_t pointerField = ifd0Start + 2 + 12 * (ifd0.size() - 1) + 8;
    tiff[pointerField] = uint8_t(exifOffset >> 24);
    tiff[pointerField + 1] = uint8_t(exifOffset >> 16);
    tiff[pointerField + 2] = uint8_t(exifOffset >> 8);
    tiff[pointerField + 3] = uint8_t(exifOffset);
    Entry version{0x9000, 7, 4, {'0', '2', '3', '0'}};
    WriteIfd(tiff, {Rational(0x829A, 1, 60), Rational(0x829D, 28, 10), Short(0x8827, 200), version,
                    Ascii(0x9003, "2026:12:08 12:00:00"), Short(0x9209, 0x41), Rational(0x920A, 50, 10),
                    Short(0xA001, 1), Long(0xA002, kWidth), Long(0xA003, kHeight)});
    std::vector<uint8_t> app1 = {'E', 'x', 'i', 'f', 0, 0};
    app1.insert(app1.end(), tiff.begin(), tiff.end());
    return app1;
}

std::vector<uint8_t> IptcBlock() {
    std::vector<uint8_t> iptc;
    auto dataset = [&](unsigned record, unsigned tag, const std::string& value) {
        iptc.push_back(0x1C);
        iptc.push_back(uint8_t(record));
        iptc.push_back(uint8_t(tag));
        Put16(iptc, unsigned(value.size()));
        iptc.insert(iptc.end(), value.begin(), value.end());
    };
    dataset(2, 0, std::string("\x00\x04", 2));  // record version
    dataset(2, 5, "Scarlex sample");
    dataset(2, 25, "red eye");
    dataset(2, 25, "sample");
    dataset(2, 120, "A drawn face with two red pupils, made for trying Scarlex.");
    std::vector<uint8_t> app13;
    const std::string sig = "Photoshop 3.0";
    app13.insert(app13.end(), sig.begin(), sig.end());
    app13.push_back(0);
    app13.insert(app13.end(), {'8', 'B', 'I', 'M', 0x04, 0x04, 0, 0});  // resource 0x0404, empty name
    Put32(app13, unsigned(iptc.size()));
    app13.insert(app13.end(), iptc.begin(), iptc.end());
    if (iptc.size() % 2) app13.push_back(0);
    return app13;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_sample OUT.jpg\n");
        return 1;
    }
    FILE* out = std::fopen(argv[1], "wb");
    if (!out) {
        std::perror(argv[1]);
        return 1;
    }
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, out);
    cinfo.image_width = kWidth;
    cinfo.image_height = kHeight;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 90, TRUE);  // 4:2:0 is the default sampling
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<uint8_t> exif = ExifBlock(), iptc = IptcBlock();
    jpeg_write_marker(&cinfo, JPEG_APP0 + 1, exif.data(), unsigned(exif.size()));
    jpeg_write_marker(&cinfo, JPEG_APP0 + 13, iptc.data(), unsigned(iptc.size()));
    char comment[160];
    std::snprintf(comment, sizeof comment, "Scarlex sample: red pupils at (%d,%d) and (%d,%d), radius %d",
                  kLeftPupilX, kLeftPupilY, kRightPupilX, kRightPupilY, int(kPupilRadius));
    jpeg_write_marker(&cinfo, JPEG_COM, reinterpret_cast<const JOCTET*>(comment), unsigned(std::string(comment).size()));

    std::mt19937 rng(20261208);
    std::vector<uint8_t> row(kWidth * 3);
    while (cinfo.next_scanline < cinfo.image_height) {
        int y = int(cinfo.next_scanline);
        for (int x = 0; x < kWidth; ++x) {
            Rgb c = Scene(x, y, rng);
            row[3 * x] = uint8_t(std::clamp(c.r, 0.0, 255.0));
            row[3 * x + 1] = uint8_t(std::clamp(c.g, 0.0, 255.0));
            row[3 * x + 2] = uint8_t(std::clamp(c.b, 0.0, 255.0));
        }
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&cinfo, &r, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::fclose(out);
    return 0;
}
