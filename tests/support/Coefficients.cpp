#include "support/Coefficients.h"

#include <cstdio>

#include "codec/JpegError.h"

namespace scarlex::test {

namespace {
bool ReadCore(FILE* f, JpegErrorManager* err, CoefficientImage* out) {
    jpeg_decompress_struct c;
    c.err = InitErrorManager(err);
    if (setjmp(err->jump)) {
        jpeg_destroy_decompress(&c);
        return false;
    }
    jpeg_create_decompress(&c);
    jpeg_stdio_src(&c, f);
    jpeg_read_header(&c, TRUE);
    jvirt_barray_ptr* arrays = jpeg_read_coefficients(&c);
    out->width = int(c.image_width);
    out->height = int(c.image_height);
    out->maxH = c.num_components > 1 ? c.max_h_samp_factor : 1;
    out->maxV = c.num_components > 1 ? c.max_v_samp_factor : 1;
    out->components.resize(std::size_t(c.num_components));
    for (int ci = 0; ci < c.num_components; ++ci) {
        jpeg_component_info* comp = &c.comp_info[ci];
        ComponentCoefficients& cc = out->components[std::size_t(ci)];
        cc.h = c.num_components > 1 ? comp->h_samp_factor : 1;
        cc.v = c.num_components > 1 ? comp->v_samp_factor : 1;
        cc.widthInBlocks = int(comp->width_in_blocks);
        cc.heightInBlocks = int(comp->height_in_blocks);
        for (int k = 0; k < 64; ++k) cc.quant[std::size_t(k)] = comp->quant_table->quantval[k];
        cc.coefs.resize(std::size_t(cc.widthInBlocks) * std::size_t(cc.heightInBlocks) * 64);
        for (int by = 0; by < cc.heightInBlocks; ++by) {
            JBLOCKARRAY rows = (*c.mem->access_virt_barray)(reinterpret_cast<j_common_ptr>(&c), arrays[ci],
                                                            JDIMENSION(by), 1, FALSE);
            for (int bx = 0; bx < cc.widthInBlocks; ++bx)
                for (int k = 0; k < 64; ++k)
                    cc.coefs[(std::size_t(by) * std::size_t(cc.widthInBlocks) + std::size_t(bx)) * 64 + std::size_t(k)] =
                        rows[0][bx][k];
        }
    }
    jpeg_finish_decompress(&c);
    jpeg_destroy_decompress(&c);
    return true;
}
}  // namespace

CoefficientImage ReadCoefficients(const std::string& path) {
    CoefficientImage img;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        img.error = "cannot open " + path;
        return img;
    }
    JpegErrorManager err;
    img.ok = ReadCore(f, &err, &img);
    if (!img.ok) img.error = err.message;
    std::fclose(f);
    return img;
}

}  // namespace scarlex::test
