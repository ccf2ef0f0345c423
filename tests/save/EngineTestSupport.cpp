#include "save/EngineTestSupport.h"

#include <jpeglib.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "codec/JpegError.h"
#include "transform/CoefficientPatch.h"

namespace scarlex::test {

namespace {

int EncodeCore(JpegErrorManager* err, const Bitmap* bitmap, const Layout* layout, const std::string* comment,
               unsigned char** buffer, unsigned long* size) {
    jpeg_compress_struct c;
    c.err = InitErrorManager(err);
    if (setjmp(err->jump)) {
        jpeg_destroy_compress(&c);
        return 1;
    }
    jpeg_create_compress(&c);
    jpeg_mem_dest(&c, buffer, size);
    c.image_width = JDIMENSION(bitmap->Width());
    c.image_height = JDIMENSION(bitmap->Height());
    c.input_components = 3;
    c.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, layout->quality, TRUE);
    if (layout->components == 1) jpeg_set_colorspace(&c, JCS_GRAYSCALE);
    if (layout->rgb) jpeg_set_colorspace(&c, JCS_RGB);
    for (int ci = 0; ci < c.num_components; ++ci) {
        c.comp_info[ci].h_samp_factor = layout->h[ci];
        c.comp_info[ci].v_samp_factor = layout->v[ci];
    }
    for (std::size_t t = 0; t < layout->tables.size() && int(t) < c.num_components; ++t) {
        if (!c.quant_tbl_ptrs[t]) c.quant_tbl_ptrs[t] = jpeg_alloc_quant_table(reinterpret_cast<j_common_ptr>(&c));
        for (int k = 0; k < 64; ++k) c.quant_tbl_ptrs[t]->quantval[k] = layout->tables[t][std::size_t(k)];
        c.comp_info[t].quant_tbl_no = int(t);
    }
    int scans = 0;
    if (const jpeg_scan_info* separate = SeparateScansFor(c.num_components, layout->h, layout->v, &scans)) {
        c.scan_info = separate;  // too many blocks for one interleaved scan
        c.num_scans = scans;
    }
    c.restart_interval = unsigned(layout->restart);
    c.optimize_coding = layout->optimize ? TRUE : FALSE;
    c.arith_code = layout->arithmetic ? TRUE : FALSE;
    if (layout->progressive) jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    if (!comment->empty())
        jpeg_write_marker(&c, JPEG_COM, reinterpret_cast<const JOCTET*>(comment->data()), unsigned(comment->size()));
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(bitmap->Row(int(c.next_scanline)));
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    return 0;
}

}  // namespace

Layout ColourLayout(const std::string& name, int h0, int v0, int h1, int v1, int h2, int v2) {
    Layout l;
    l.name = name;
    l.h[0] = h0, l.v[0] = v0, l.h[1] = h1, l.v[1] = v1, l.h[2] = h2, l.v[2] = v2;
    return l;
}

Layout GreyLayout(const std::string& name, int h0, int v0) {
    Layout l;
    l.name = name;
    l.components = 1;
    l.h[0] = h0, l.v[0] = v0;
    return l;
}

std::vector<uint8_t> EncodeLayout(const Bitmap& bitmap, const Layout& layout, const std::string& comment) {
    JpegErrorManager err;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    const int rc = EncodeCore(&err, &bitmap, &layout, &comment, &buffer, &size);
    std::vector<uint8_t> out;
    if (rc == 0) out.assign(buffer, buffer + size);
    std::free(buffer);
    return out;
}

CoefficientImage CoefficientsOf(const std::vector<uint8_t>& jpeg) {
    TempDir dir;
    WriteFileBytes(dir / "x.jpg", jpeg);
    return ReadCoefficients(dir / "x.jpg");
}

void GreyRect(Bitmap& bitmap, const Rect& r) {
    for (int y = std::max(r.top, 0); y < std::min(r.bottom, bitmap.Height()); ++y)
        for (int x = std::max(r.left, 0); x < std::min(r.right, bitmap.Width()); ++x) {
            uint8_t* p = bitmap.Pixel(x, y);
            // Away from the original value, so that every edited pixel changes.
            const uint8_t g = uint8_t((p[0] + p[1] + p[2]) / 3 ^ 0x40);
            p[0] = p[1] = p[2] = g;
        }
}

std::string CompareBlocks(const CoefficientImage& out, const CoefficientImage& original,
                          const CoefficientImage& reference, const std::vector<Rect>& rows, bool quantised) {
    if (!out.ok || !original.ok || !reference.ok) return "unreadable: " + out.error + original.error + reference.error;
    if (out.components.size() > original.components.size() || out.components.size() > reference.components.size())
        return "component counts differ";
    const int dh = 8 * out.maxH, dv = 8 * out.maxV;
    // Beyond this distance from a row no block may be replaced.
    const int farX = 2 * dh + 17, farY = 2 * dv + 17;
    for (std::size_t ci = 0; ci < out.components.size(); ++ci) {
        const ComponentCoefficients& o = out.components[ci];
        const ComponentCoefficients& a = original.components[ci];
        const ComponentCoefficients& f = reference.components[ci];
        if (o.widthInBlocks != a.widthInBlocks || o.heightInBlocks != a.heightInBlocks) return "block grids differ";
        const int bw = dh / o.h, bh = dv / o.v;
        for (int by = 0; by < o.heightInBlocks; ++by)
            for (int bx = 0; bx < o.widthInBlocks; ++bx) {
                const int x0 = bx * bw, y0 = by * bh, x1 = x0 + bw, y1 = y0 + bh;
                bool touches = false, near = false;
                for (const Rect& r : rows) {
                    const int l = std::max(r.left, 0), t = std::max(r.top, 0);
                    const int rr = std::min(r.right, out.width), b = std::min(r.bottom, out.height);
                    if (rr <= l || b <= t) continue;
                    if (x0 < rr && l < x1 && y0 < b && t < y1) touches = true;
                    if (x0 < rr + farX && l - dh < x1 && y0 < b + farY && t - dv < y1) near = true;
                }
                if (!touches && near) continue;
                const ComponentCoefficients& want = touches ? f : a;
                for (int k = 0; k < 64; ++k) {
                    const bool same = quantised ? o.Block(bx, by)[k] == want.Block(bx, by)[k] && o.quant[k] == want.quant[k]
                                                : o.Dequantised(bx, by, k) == want.Dequantised(bx, by, k);
                    if (same) continue;
                    std::ostringstream s;
                    s << "component " << ci << " block (" << bx << "," << by << ") = pixels (" << x0 << "," << y0
                      << ") coefficient " << k << ": " << o.Block(bx, by)[k] << " x " << o.quant[k] << " but the "
                      << (touches ? "reference" : "original") << " has " << want.Block(bx, by)[k] << " x "
                      << want.quant[k];
                    return s.str();
                }
            }
    }
    return {};
}

long ImageDataSize(const std::vector<uint8_t>& jpeg) {
    long size = 0;
    std::size_t pos = 2;
    if (jpeg.size() < 4) return long(jpeg.size());
    size = 2;
    while (pos + 4 <= jpeg.size()) {
        if (jpeg[pos] != 0xFF) return -1;
        const int marker = jpeg[pos + 1];
        if (marker == 0xDA) break;
        const std::size_t length = std::size_t(jpeg[pos + 2]) << 8 | jpeg[pos + 3];
        const bool dropped = (marker >= 0xE0 && marker <= 0xEF) || marker == 0xFE;
        if (!dropped) size += long(length) + 2;
        pos += length + 2;
    }
    // From the first scan to EOI; later segments are counted too, which is
    // fair to both sides.
    std::size_t end = pos;
    for (std::size_t i = pos; i + 1 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xD9) {
            end = i + 2;
            break;
        }
    return size + long(end - pos);
}

}  // namespace scarlex::test
