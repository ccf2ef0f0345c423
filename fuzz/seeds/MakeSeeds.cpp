// Writes small inputs of our own for every fuzz target: JPEG files of every
// layout the readers meet (sampling factors, greyscale, RGB, CMYK and YCCK,
// progressive, restarts, arithmetic coding, large quantisation tables,
// odd sizes, metadata segments), save requests aimed at their red spots,
// red-eye requests, crop and drop requests, and settings files.
//
//   fuzz_seeds OUT_DIR    writes OUT_DIR/<target>/<name>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "FuzzSupport.h"
#include "settings/Settings.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Layout {
    std::string name;
    int w = 48, h = 40;
    J_COLOR_SPACE space = JCS_YCbCr;  // of the file
    int h0 = 2, v0 = 2, h1 = 1, v1 = 1, h2 = 1, v2 = 1;
    int quality = 85;
    bool progressive = false;
    bool arithmetic = false;
    bool optimize = false;
    int restart = 0;  // MCUs
    bool metadata = false;
};

// A small picture with smooth shading, some texture and two red discs.
std::vector<uint8_t> Picture(int w, int h) {
    std::vector<uint8_t> bgr(static_cast<std::size_t>(w) * h * 3);
    const double r = std::max(1.5, std::min(w, h) / 8.0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = &bgr[(static_cast<std::size_t>(y) * w + x) * 3];
            p[0] = static_cast<uint8_t>(90 + 60 * std::sin(x * 0.3) + (x * y) % 7);
            p[1] = static_cast<uint8_t>(110 + 3 * y % 80);
            p[2] = static_cast<uint8_t>(140 + (x * 5) % 90);
            for (double cx : {w / 3.0, 2 * w / 3.0}) {
                const double dx = x - cx, dy = y - h / 2.0;
                if (dx * dx + dy * dy < r * r) p[0] = 30, p[1] = 25, p[2] = 210;
            }
        }
    return bgr;
}

void Append(Bytes& out, std::initializer_list<int> bytes) {
    for (int b : bytes) out.push_back(static_cast<uint8_t>(b));
}
void Append(Bytes& out, const std::string& s) { out.insert(out.end(), s.begin(), s.end()); }

Bytes ExifSegment() {
    Bytes e;
    Append(e, std::string("Exif\0\0", 6));
    Append(e, {'I', 'I', 42, 0, 8, 0, 0, 0});
    Append(e, {2, 0});
    Append(e, {0x0F, 0x01, 2, 0, 8, 0, 0, 0, 38, 0, 0, 0});  // Make, ASCII, 8 bytes at 38
    Append(e, {0x12, 0x01, 3, 0, 1, 0, 0, 0, 1, 0, 0, 0});   // Orientation 1
    Append(e, {0, 0, 0, 0});
    Append(e, std::string("Scarlex\0", 8));
    return e;
}

Bytes IptcSegment() {
    Bytes d;
    Append(d, {0x1C, 2, 0x78, 0, 7});
    Append(d, "caption");
    Bytes e;
    Append(e, std::string("Photoshop 3.0\0", 14));
    Append(e, "8BIM");
    Append(e, {0x04, 0x04, 0, 0, 0, 0, 0, static_cast<int>(d.size())});
    e.insert(e.end(), d.begin(), d.end());
    if (d.size() % 2) e.push_back(0);
    return e;
}

Bytes Encode(const Layout& l) {
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* mem = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &mem, &size);
    c.image_width = static_cast<JDIMENSION>(l.w);
    c.image_height = static_cast<JDIMENSION>(l.h);
    const bool four = l.space == JCS_CMYK || l.space == JCS_YCCK;
    if (l.space == JCS_GRAYSCALE) {
        c.input_components = 1;
        c.in_color_space = JCS_GRAYSCALE;
    } else if (four) {
        c.input_components = 4;
        c.in_color_space = JCS_CMYK;
    } else {
        c.input_components = 3;
        c.in_color_space = JCS_EXT_BGR;
    }
    jpeg_set_defaults(&c);
    jpeg_set_colorspace(&c, l.space);
    jpeg_set_quality(&c, l.quality, l.quality >= 25 ? TRUE : FALSE);
    const int f[3][2] = {{l.h0, l.v0}, {l.h1, l.v1}, {l.h2, l.v2}};
    for (int ci = 0; ci < c.num_components && ci < 3; ++ci) {
        c.comp_info[ci].h_samp_factor = f[ci][0];
        c.comp_info[ci].v_samp_factor = f[ci][1];
    }
    if (four) c.comp_info[3].h_samp_factor = c.comp_info[3].v_samp_factor = 1;
    c.arith_code = l.arithmetic ? TRUE : FALSE;
    c.optimize_coding = l.optimize ? TRUE : FALSE;
    c.restart_interval = static_cast<unsigned>(l.restart);
    if (l.progressive) jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    if (l.metadata) {
        const Bytes exif = ExifSegment(), iptc = IptcSegment();
        jpeg_write_marker(&c, JPEG_APP0 + 1, exif.data(), static_cast<unsigned>(exif.size()));
        jpeg_write_marker(&c, JPEG_APP0 + 13, iptc.data(), static_cast<unsigned>(iptc.size()));
        const char comment[] = "made by fuzz_seeds";
        jpeg_write_marker(&c, JPEG_COM, reinterpret_cast<const JOCTET*>(comment), sizeof comment - 1);
    }

    const std::vector<uint8_t> bgr = Picture(l.w, l.h);
    std::vector<uint8_t> row(static_cast<std::size_t>(l.w) * 4);
    while (c.next_scanline < c.image_height) {
        const uint8_t* src = &bgr[static_cast<std::size_t>(c.next_scanline) * l.w * 3];
        for (int x = 0; x < l.w; ++x) {
            const uint8_t* p = src + 3 * x;
            if (l.space == JCS_GRAYSCALE) {
                row[x] = static_cast<uint8_t>((p[0] + 2 * p[1] + p[2]) / 4);
            } else if (four) {
                row[4 * x] = static_cast<uint8_t>(255 - p[2]);
                row[4 * x + 1] = static_cast<uint8_t>(255 - p[1]);
                row[4 * x + 2] = static_cast<uint8_t>(255 - p[0]);
                row[4 * x + 3] = static_cast<uint8_t>(x * 3);
            } else {
                std::memcpy(&row[3 * x], p, 3);
            }
        }
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    Bytes out(mem, mem + size);
    jpeg_destroy_compress(&c);
    std::free(mem);
    return out;
}

std::string root;

void Write(const std::string& target, const std::string& name, const Bytes& bytes) {
    const std::string dir = root + "/" + target;
    ::mkdir(dir.c_str(), 0755);
    scarlex::fuzz::WriteBytes(dir + "/" + name, bytes.data(), bytes.size());
}
void Write(const std::string& target, const std::string& name, const std::string& text) {
    Write(target, name, Bytes(text.begin(), text.end()));
}

// The 20 bytes the save target reads from the end of its input.
Bytes SaveRequest(int how, int attenuation, std::initializer_list<std::array<int, 4>> edits) {
    Bytes b;
    Append(b, {how, attenuation});
    for (const auto& e : edits) Append(b, {e[0], e[1] & 0xFF, e[1] >> 8, e[2] & 0xFF, e[2] >> 8, e[3]});
    while (b.size() < 20) b.push_back(0);
    return b;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds OUT_DIR\n");
        return 2;
    }
    root = argv[1];
    ::mkdir(root.c_str(), 0755);

    std::vector<Layout> layouts;
    auto add = [&](Layout l) { layouts.push_back(l); };
    add({.name = "s420"});
    add({.name = "s422", .h0 = 2, .v0 = 1});
    add({.name = "s444", .h0 = 1, .v0 = 1});
    add({.name = "s440", .h0 = 1, .v0 = 2});
    add({.name = "s411", .w = 70, .h = 24, .h0 = 4, .v0 = 1});
    add({.name = "odd", .w = 37, .h = 29});
    add({.name = "tiny", .w = 1, .h = 1});
    add({.name = "tall", .w = 9, .h = 70, .h0 = 2, .v0 = 1});
    add({.name = "grey", .space = JCS_GRAYSCALE, .h0 = 1, .v0 = 1});
    add({.name = "grey22", .w = 35, .h = 21, .space = JCS_GRAYSCALE});
    add({.name = "rgb", .space = JCS_RGB, .h0 = 1, .v0 = 1});
    add({.name = "cmyk", .w = 16, .h = 16, .space = JCS_CMYK, .h0 = 1, .v0 = 1});
    add({.name = "ycck", .w = 16, .h = 16, .space = JCS_YCCK});
    add({.name = "prog", .progressive = true});
    add({.name = "proggrey", .w = 30, .h = 20, .space = JCS_GRAYSCALE, .h0 = 1, .v0 = 1, .progressive = true});
    add({.name = "restart", .restart = 2});
    add({.name = "arith", .arithmetic = true});
    add({.name = "optimised", .optimize = true});
    add({.name = "q3", .quality = 3});
    add({.name = "q100", .h0 = 1, .v0 = 1, .quality = 100});
    add({.name = "meta", .metadata = true});

    for (const Layout& l : layouts) {
        const Bytes jpeg = Encode(l);
        Write("decode", l.name + ".jpg", jpeg);
        if (l.metadata || l.name == "s420" || l.name == "grey") Write("metadata", l.name + ".jpg", jpeg);

        // Save: a click on each red disc, a grey circle, an undo; every save kind.
        const int rx = 65536 / 3, rx2 = 2 * 65536 / 3, my = 32768;
        int kind = static_cast<int>(&l - layouts.data());
        Bytes save = jpeg;
        const Bytes request = SaveRequest((kind & 3) | ((kind % 3) << 5) | ((kind / 4 % 4) << 2), kind % 3 ? 0 : 40,
                                          {{0, rx, my, 5}, {kind % 2 ? 1 : 2, rx2, my, 6}, {3, 0, 0, 0}});
        save.insert(save.end(), request.begin(), request.end());
        Write("save", l.name + ".jpg", save);

        // Transform: a crop and, of one file into itself, a drop.
        Bytes crop;
        Append(crop, {0, 24, 0, 16, 0, 9, 0, 5, 0, 0, 0});
        crop.insert(crop.end(), jpeg.begin(), jpeg.end());
        Write("transform", "crop-" + l.name + ".jpg", crop);
    }
    {
        const Bytes source = Encode({.name = "src", .w = 64, .h = 48});
        const Bytes patch = Encode({.name = "patch", .w = 24, .h = 24, .quality = 60});
        Bytes drop;
        Append(drop, {1, 0, 0, 0, 0, 16, 0, 16, 0, static_cast<int>(source.size() & 0xFF),
                      static_cast<int>(source.size() >> 8)});
        drop.insert(drop.end(), source.begin(), source.end());
        drop.insert(drop.end(), patch.begin(), patch.end());
        Write("transform", "drop.bin", drop);
    }

    // Red eye: a 16x16 picture with a red blob, one request of each kind.
    {
        Bytes pixels;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) {
                const bool red = (x - 7) * (x - 7) + (y - 8) * (y - 8) < 20;
                Append(pixels, {red ? 30 : 120 + x, red ? 40 : 100 + y, red ? 200 : 90});
            }
        struct Req {
            const char* name;
            std::vector<int> bytes;
        };
        const Req reqs[] = {
            {"click", {15, 15, 0, 0, 0, 0x00, 7, 8, 0, 0, 100, 100, 0}},
            {"limit", {15, 15, 0, 0, 0, 0x02, 7, 8, 1, 0, 100, 4, 0}},
            {"circle", {15, 15, 0, 0, 50, 0x01, 3, 3, 0, 0, 6, 6, 0}},
            {"corner", {15, 15, 0, 8, 0, 0x09, 0, 0, 0, 0, 9, 9, 1}},
            {"abort", {15, 15, 0, 0, 0, 0x20, 7, 8, 0, 0, 100, 100, 0}},
            {"floods", {15, 15, 1, 4, 0, 0x00, 7, 8, 0, 0, 100, 100, 0, 6, 20, 0x00, 2, 2, 0, 0, 5, 5, 0}},
            // Texts as indices into the target's characters: "1.6", "1.1", "35".
            {"texts", {15, 15, 0, 7, 3, 1, 10, 6, 3, 1, 10, 1, 2, 3, 5, 10, 0x00, 7, 8, 0, 0, 9, 9, 0}},
        };
        for (const Req& r : reqs) {
            Bytes b;
            for (int v : r.bytes) b.push_back(static_cast<uint8_t>(v));
            b.insert(b.end(), pixels.begin(), pixels.end());
            Write("redeye", std::string(r.name) + ".bin", b);
        }
    }

    // Settings files: as the program writes them, and by hand.
    {
        scarlex::SettingsModel s;
        s.UseIniFile = true;
        s.RememberThresholds = true;
        s.MoveOriginal = true;
        s.OriginalsFolder = "/nonexistent/originals";
        const std::string path = root + "/written.INI";
        std::remove(path.c_str());
        scarlex::SaveSettings(s, path, true);
        Write("ini", "written.INI", scarlex::fuzz::ReadBytes(path));
        std::remove(path.c_str());
    }
    Write("ini", "hand.INI",
          "; kept comment\r\n[main form]\r\nTop = 10\r\nLeft=0x1F\r\n\r\n[General]\r\nMagnification=0\r\n"
          "Magnifying Glass Border Colour=0X0000FF\r\nRemember Threshold settings=1\r\nRed Threshold= 35.5 \r\n"
          "[File]\r\nFile Name Append= - fixed\r\nNumber Duplicate Files=-1\r\n[General]\r\nHint=7\r\n");
    Write("ini", "odd.INI", "Top=5\n[ File ]\nNew File Extension\n=x\n[General\nShow Hints=+0\nHint=2147483648\n");
    return 0;
}
