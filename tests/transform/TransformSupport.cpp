#include "transform/TransformSupport.h"

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace scarlex::test {

namespace {
struct DumpError {
    jpeg_error_mgr pub;
    jmp_buf jump;
};
void DumpErrorExit(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<DumpError*>(cinfo->err)->jump, 1);
}

bool DumpCore(FILE* f, JpegDump* out, char* message) {
    jpeg_decompress_struct cinfo;
    DumpError err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = DumpErrorExit;
    if (setjmp(err.jump)) {
        cinfo.err->format_message(reinterpret_cast<j_common_ptr>(&cinfo), message);
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, f);
    for (int m = 0; m < 16; ++m) jpeg_save_markers(&cinfo, JPEG_APP0 + m, 0xFFFF);
    jpeg_save_markers(&cinfo, JPEG_COM, 0xFFFF);
    jpeg_read_header(&cinfo, TRUE);
    jvirt_barray_ptr* arrays = jpeg_read_coefficients(&cinfo);
    out->width = int(cinfo.image_width);
    out->height = int(cinfo.image_height);
    for (jpeg_saved_marker_ptr m = cinfo.marker_list; m; m = m->next) {
        out->markers.push_back(m->marker);
        if (m->marker == JPEG_COM) out->comments.emplace_back(reinterpret_cast<const char*>(m->data), m->data_length);
    }
    for (int ci = 0; ci < cinfo.num_components; ++ci) {
        const jpeg_component_info* c = &cinfo.comp_info[ci];
        ComponentDump d;
        d.h = c->h_samp_factor;
        d.v = c->v_samp_factor;
        d.widthInBlocks = int(c->width_in_blocks);
        d.heightInBlocks = int(c->height_in_blocks);
        const JQUANT_TBL* t = c->quant_table ? c->quant_table : cinfo.quant_tbl_ptrs[c->quant_tbl_no];
        d.table.assign(t->quantval, t->quantval + 64);
        d.coef.resize(size_t(d.widthInBlocks) * d.heightInBlocks * 64);
        for (JDIMENSION r = 0; r < c->height_in_blocks; ++r) {
            JBLOCKARRAY row =
                (*cinfo.mem->access_virt_barray)(reinterpret_cast<j_common_ptr>(&cinfo), arrays[ci], r, 1, FALSE);
            for (JDIMENSION b = 0; b < c->width_in_blocks; ++b)
                for (int k = 0; k < 64; ++k) d.coef[(size_t(r) * d.widthInBlocks + b) * 64 + k] = row[0][b][k];
        }
        out->comps.push_back(std::move(d));
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}
}  // namespace

JpegDump DumpJpeg(const std::string& path) {
    JpegDump dump;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        dump.error = "cannot open " + path;
        return dump;
    }
    char message[JMSG_LENGTH_MAX] = {0};
    dump.ok = DumpCore(f, &dump, message);
    if (!dump.ok) dump.error = message;
    std::fclose(f);
    return dump;
}

int Jpegtran(const std::string& args, const std::string& out, std::string* err) {
    const std::string errFile = out + ".err";
    int rc = RunShell("jpegtran " + args + " > " + Quote(out) + " 2> " + Quote(errFile));
    if (err) {
        std::vector<uint8_t> bytes = ReadFileBytes(errFile);
        err->assign(bytes.begin(), bytes.end());
    }
    std::remove(errFile.c_str());
    return rc;
}

std::string FirstByteDifference(const std::string& a, const std::string& b) {
    const std::vector<uint8_t> x = ReadFileBytes(a), y = ReadFileBytes(b);
    const size_t n = std::min(x.size(), y.size());
    for (size_t i = 0; i < n; ++i)
        if (x[i] != y[i])
            return "byte " + std::to_string(i) + ": " + std::to_string(x[i]) + " vs " + std::to_string(y[i]) +
                   " (sizes " + std::to_string(x.size()) + ", " + std::to_string(y.size()) + ")";
    if (x.size() != y.size())
        return "sizes differ: " + std::to_string(x.size()) + " vs " + std::to_string(y.size());
    return "";
}

void MakeJpeg(const std::string& path, int width, int height, const TestJpegOptions& options, uint32_t seed) {
    WriteTestJpeg(path, MakePhotoLike(width, height, seed), options);
}

std::vector<uint16_t> ScaledTable(bool chroma, int quality) {
    static const uint16_t luma[64] = {16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
                                      14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
                                      18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
                                      49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
    static const uint16_t chromaT[64] = {17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99,
                                         24, 26, 56, 99, 99, 99, 99, 99, 47, 66, 99, 99, 99, 99, 99, 99,
                                         99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
                                         99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};
    const int scale = quality < 50 ? 5000 / quality : 200 - quality * 2;
    std::vector<uint16_t> t(64);
    for (int k = 0; k < 64; ++k) {
        long v = ((chroma ? chromaT[k] : luma[k]) * long(scale) + 50) / 100;
        t[k] = uint16_t(std::clamp(v, 1L, 255L));
    }
    return t;
}

}  // namespace scarlex::test
