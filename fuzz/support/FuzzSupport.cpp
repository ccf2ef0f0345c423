#include "FuzzSupport.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "codec/JpegError.h"

namespace scarlex::fuzz {

namespace {

struct Scratch {
    std::string path;
    Scratch() {
        const char* tmp = std::getenv("TMPDIR");
        std::string name = std::string(tmp && *tmp ? tmp : "/tmp") + "/scarlex-fuzz-XXXXXX";
        if (!::mkdtemp(name.data())) std::abort();
        path = name;
    }
    ~Scratch() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

// Holds no object with a destructor: libjpeg's errors long-jump out of it.
FILE* OpenBytes(const uint8_t* data, std::size_t size) {
    FILE* file = ::fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (!file) std::abort();
    return file;
}

// Reads through libjpeg's stdio source, as the program does: on damaged
// data the memory source's larger buffer takes other paths through the
// entropy decoder, with other warnings and pixels.
bool DecodeCore(jpeg_decompress_struct* cinfo, JpegErrorManager* err, FILE* file, const PlainOptions* options,
                PlainImage* out, const uint8_t* memory = nullptr, std::size_t memorySize = 0) {
    cinfo->err = InitErrorManager(err);
    if (setjmp(err->jump)) {
        jpeg_destroy_decompress(cinfo);
        return false;
    }
    jpeg_create_decompress(cinfo);
    if (memory)
        jpeg_mem_src(cinfo, memory, static_cast<unsigned long>(memorySize));
    else
        jpeg_stdio_src(cinfo, file);
    jpeg_read_header(cinfo, TRUE);
    out->fileComponents = cinfo->num_components;
    out->fileColorSpace = cinfo->jpeg_color_space;
    if (cinfo->num_components > 1) {
        for (int c = 0; c < cinfo->num_components; ++c) {
            out->maxH = std::max(out->maxH, cinfo->comp_info[c].h_samp_factor);
            out->maxV = std::max(out->maxV, cinfo->comp_info[c].v_samp_factor);
        }
    }
    cinfo->out_color_space = options->colorSpace;
    cinfo->do_fancy_upsampling = options->fancyUpsampling ? TRUE : FALSE;
    cinfo->do_block_smoothing = options->blockSmoothing ? TRUE : FALSE;
    jpeg_start_decompress(cinfo);
    out->width = static_cast<int>(cinfo->output_width);
    out->height = static_cast<int>(cinfo->output_height);
    out->components = cinfo->output_components;
    const std::size_t rowBytes = static_cast<std::size_t>(out->width) * out->components;
    out->pixels.resize(rowBytes * static_cast<std::size_t>(out->height));
    while (cinfo->output_scanline < cinfo->output_height) {
        JSAMPROW row = out->pixels.data() + rowBytes * cinfo->output_scanline;
        jpeg_read_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_decompress(cinfo);
    jpeg_destroy_decompress(cinfo);
    return true;
}

}  // namespace

const std::string& ScratchDir() {
    static const Scratch scratch;
    return scratch.path;
}

void EmptyFolder(const std::string& dir) {
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec)) std::filesystem::remove_all(e.path(), ec);
}

std::vector<std::string> Listing(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void WriteBytes(const std::string& path, const uint8_t* data, std::size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    if (size && std::fwrite(data, 1, size, f) != size) std::abort();
    if (std::fclose(f) != 0) std::abort();
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::vector<uint8_t> bytes;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return bytes;
    uint8_t buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
    std::fclose(f);
    return bytes;
}

namespace {
bool HeaderCore(jpeg_decompress_struct* cinfo, JpegErrorManager* err, FILE* file, long long* samples) {
    cinfo->err = InitErrorManager(err);
    if (setjmp(err->jump)) {
        jpeg_destroy_decompress(cinfo);
        return false;
    }
    jpeg_create_decompress(cinfo);
    jpeg_stdio_src(cinfo, file);
    jpeg_read_header(cinfo, TRUE);
    *samples = static_cast<long long>(cinfo->image_width) * cinfo->image_height * cinfo->num_components;
    jpeg_destroy_decompress(cinfo);
    return true;
}
bool CoefficientCore(jpeg_decompress_struct* cinfo, JpegErrorManager* err, FILE* file, long* largest) {
    cinfo->err = InitErrorManager(err);
    if (setjmp(err->jump)) {
        jpeg_destroy_decompress(cinfo);
        return false;
    }
    jpeg_create_decompress(cinfo);
    jpeg_stdio_src(cinfo, file);
    jpeg_read_header(cinfo, TRUE);
    jvirt_barray_ptr* arrays = jpeg_read_coefficients(cinfo);
    for (int ci = 0; ci < cinfo->num_components; ++ci) {
        const jpeg_component_info* comp = &cinfo->comp_info[ci];
        const JQUANT_TBL* table = comp->quant_table;
        if (!table) continue;
        for (JDIMENSION r = 0; r < comp->height_in_blocks; ++r) {
            JBLOCKARRAY rows =
                (*cinfo->mem->access_virt_barray)(reinterpret_cast<j_common_ptr>(cinfo), arrays[ci], r, 1, FALSE);
            for (JDIMENSION b = 0; b < comp->width_in_blocks; ++b)
                for (int k = 0; k < DCTSIZE2; ++k)
                    *largest = std::max(*largest, std::labs(static_cast<long>(rows[0][b][k]) * table->quantval[k]));
        }
    }
    jpeg_destroy_decompress(cinfo);
    return true;
}

}  // namespace

long MaxDequantised(const uint8_t* data, std::size_t size) {
    if (size == 0) return -1;
    FILE* file = OpenBytes(data, size);
    jpeg_decompress_struct cinfo;
    JpegErrorManager err;
    long largest = 0;
    const bool ok = CoefficientCore(&cinfo, &err, file, &largest);
    std::fclose(file);
    return ok ? largest : -1;
}

long long DeclaredSamples(const uint8_t* data, std::size_t size) {
    if (size == 0) return -1;
    FILE* file = OpenBytes(data, size);
    jpeg_decompress_struct cinfo;
    JpegErrorManager err;
    long long samples = -1;
    const bool ok = HeaderCore(&cinfo, &err, file, &samples);
    std::fclose(file);
    return ok ? samples : -1;
}

int HeaderWarnings(const uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    FILE* file = OpenBytes(data, size);
    jpeg_decompress_struct cinfo;
    JpegErrorManager err;
    long long samples = -1;
    HeaderCore(&cinfo, &err, file, &samples);
    std::fclose(file);
    return err.warningCount;
}

PlainImage DecodePlain(const uint8_t* data, std::size_t size, const PlainOptions& options) {
    PlainImage out;
    if (size == 0) return out;
    FILE* file = OpenBytes(data, size);
    jpeg_decompress_struct cinfo;
    JpegErrorManager err;
    out.ok = options.memorySource ? DecodeCore(&cinfo, &err, file, &options, &out, data, size)
                                  : DecodeCore(&cinfo, &err, file, &options, &out);
    std::fclose(file);
    out.warnings = err.warningCount;
    if (out.warnings) out.firstWarning = err.firstWarning;
    if (!out.ok) {
        out.error = err.message;
        out.pixels.clear();
    }
    return out;
}

PlainImage DecodePlainFile(const std::string& path, const PlainOptions& options) {
    const std::vector<uint8_t> bytes = ReadBytes(path);
    return DecodePlain(bytes.data(), bytes.size(), options);
}

uint64_t ByteReader::Take(int n) {
    uint64_t v = 0;
    for (int i = 0; i < n; ++i) {
        const uint64_t b = pos_ < size_ ? data_[pos_++] : 0;
        v |= b << (8 * i);
    }
    return v;
}

}  // namespace scarlex::fuzz
