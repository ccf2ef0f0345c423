#include "support/TestSupport.h"

#include <jpeglib.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

namespace scarlex::test {

TempDir::TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "scarlex-test-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Folders made read-only by a test must be removable again.
    for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator(); ++it)
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

std::string TestDataDir() {
    const char* env = std::getenv("SCARLEX_TESTDATA");
    std::string dir = env && *env ? env : SCARLEX_TESTDATA_DIR;
    std::error_code ec;
    return fs::is_directory(dir, ec) ? dir : std::string();
}

std::string TestDataFile(const std::string& name) {
    std::string dir = TestDataDir();
    if (dir.empty()) return {};
    fs::path p = fs::path(dir) / name;
    std::error_code ec;
    return fs::is_regular_file(p, ec) ? p.string() : std::string();
}

std::vector<std::string> TestDataJpegs() {
    std::vector<std::string> files;
    std::string dir = TestDataDir();
    if (dir.empty()) return files;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.path().extension() == ".jpg") files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

int RunShell(const std::string& command, std::string* out) {
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return -1;
    std::string text;
    std::array<char, 4096> buf{};
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0) text.append(buf.data(), n);
    int status = ::pclose(pipe);
    if (out) *out = std::move(text);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool HaveTool(const std::string& name) { return RunShell("command -v " + Quote(name) + " >/dev/null 2>&1") == 0; }

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string CliPath() { return SCARLEX_CLI_PATH; }

Bitmap MakePhotoLike(int width, int height, uint32_t seed) {
    Bitmap bmp(width, height);
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> noise(-6, 6);
    const double cx = width * 0.6, cy = height * 0.4, r = std::min(width, height) * 0.2;
    for (int y = 0; y < height; ++y) {
        uint8_t* row = bmp.Row(y);
        for (int x = 0; x < width; ++x) {
            double fx = double(x) / std::max(1, width - 1), fy = double(y) / std::max(1, height - 1);
            int b = int(60 + 120 * fy), g = int(80 + 100 * fx * fy), red = int(90 + 80 * (1 - fx));
            double d = std::hypot(x - cx, y - cy);
            if (d < r) { red = 200; g = 40 + int(20 * d / r); b = 35; }  // a red disc
            if (((x / 13) + (y / 17)) % 7 == 0) { b += 40; g += 30; }  // some edges
            auto clip = [](int v) { return uint8_t(std::clamp(v, 0, 255)); };
            row[3 * x] = clip(b + noise(rng));
            row[3 * x + 1] = clip(g + noise(rng));
            row[3 * x + 2] = clip(red + noise(rng));
        }
    }
    return bmp;
}

void WriteTestJpeg(const std::string& path, const Bitmap& bitmap, const TestJpegOptions& o) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);  // test inputs are well-formed: library errors end the test run
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, f);
    cinfo.image_width = JDIMENSION(bitmap.Width());
    cinfo.image_height = JDIMENSION(bitmap.Height());
    cinfo.input_components = o.grayscale ? 1 : 3;
    cinfo.in_color_space = o.grayscale ? JCS_GRAYSCALE : JCS_EXT_BGR;
    jpeg_set_defaults(&cinfo);
    if (o.rgb && !o.grayscale) jpeg_set_colorspace(&cinfo, JCS_RGB);
    jpeg_set_quality(&cinfo, o.quality, TRUE);
    if (!o.lumaTable.empty() || !o.chromaTable.empty()) {
        auto put = [&](int slot, const std::vector<uint16_t>& t) {
            if (t.size() != 64) return;
            unsigned int basic[64];
            for (int i = 0; i < 64; ++i) basic[i] = t[i];
            jpeg_add_quant_table(&cinfo, slot, basic, 100, TRUE);  // scale 100% keeps the values
        };
        put(0, o.lumaTable);
        put(1, o.chromaTable);
    }
    if (!o.grayscale)
        for (int c = 0; c < 3; ++c) {
            cinfo.comp_info[c].h_samp_factor = o.h[c];
            cinfo.comp_info[c].v_samp_factor = o.v[c];
        }
    else {
        cinfo.comp_info[0].h_samp_factor = o.greyH;
        cinfo.comp_info[0].v_samp_factor = o.greyV;
    }
    cinfo.restart_interval = JDIMENSION(o.restartInterval);
    cinfo.optimize_coding = o.optimize ? TRUE : FALSE;
    if (o.progressive) jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    if (!o.comment.empty())
        jpeg_write_marker(&cinfo, JPEG_COM, reinterpret_cast<const JOCTET*>(o.comment.data()),
                          unsigned(o.comment.size()));
    std::vector<uint8_t> row(size_t(bitmap.Width()) * 3);
    while (cinfo.next_scanline < cinfo.image_height) {
        const uint8_t* src = bitmap.Row(int(cinfo.next_scanline));
        if (o.grayscale)
            for (int x = 0; x < bitmap.Width(); ++x) row[x] = uint8_t((src[3 * x] + 2 * src[3 * x + 1] + src[3 * x + 2]) / 4);
        else
            std::copy(src, src + row.size(), row.begin());
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&cinfo, &r, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::fclose(f);
}

Bitmap ReadPnm(const std::string& path) {
    std::vector<uint8_t> bytes = ReadFileBytes(path);
    std::size_t pos = 0;
    auto token = [&]() {
        while (pos < bytes.size()) {
            if (bytes[pos] == '#') {
                while (pos < bytes.size() && bytes[pos] != '\n') ++pos;
            } else if (std::isspace(bytes[pos])) {
                ++pos;
            } else {
                break;
            }
        }
        std::string t;
        while (pos < bytes.size() && !std::isspace(bytes[pos])) t += char(bytes[pos++]);
        return t;
    };
    std::string magic = token();
    int w = std::atoi(token().c_str()), h = std::atoi(token().c_str());
    token();  // maxval
    ++pos;    // the single whitespace before the raster
    Bitmap bmp(w, h);
    const bool grey = magic == "P5";
    const std::size_t need = std::size_t(w) * h * (grey ? 1 : 3);
    if ((magic != "P5" && magic != "P6") || bytes.size() < pos + need) {
        ADD_FAILURE() << "not a binary PNM of the expected size: " << path;
        return Bitmap();
    }
    const uint8_t* p = bytes.data() + pos;
    for (int y = 0; y < h; ++y) {
        uint8_t* row = bmp.Row(y);
        for (int x = 0; x < w; ++x) {
            if (grey) {
                row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = *p++;
            } else {
                row[3 * x + 2] = *p++;
                row[3 * x + 1] = *p++;
                row[3 * x] = *p++;
            }
        }
    }
    return bmp;
}

std::string FirstPixelDifference(const Bitmap& a, const Bitmap& b) {
    std::ostringstream s;
    if (a.Width() != b.Width() || a.Height() != b.Height()) {
        s << "sizes differ: " << a.Width() << "x" << a.Height() << " vs " << b.Width() << "x" << b.Height();
        return s.str();
    }
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x) {
            const uint8_t* p = a.Pixel(x, y);
            const uint8_t* q = b.Pixel(x, y);
            if (p[0] != q[0] || p[1] != q[1] || p[2] != q[2]) {
                s << "first difference at (" << x << "," << y << "): BGR " << int(p[0]) << "," << int(p[1]) << ","
                  << int(p[2]) << " vs " << int(q[0]) << "," << int(q[1]) << "," << int(q[2]);
                return s.str();
            }
        }
    return {};
}

}  // namespace scarlex::test
