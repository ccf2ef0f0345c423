#include "codec/JpegCodec.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

namespace scarlex {

namespace {

constexpr const char* kFourComponents =
    "CMYK and YCCK photographs are not supported: this file has four colour components";

bool SizeBitmap(Bitmap* bitmap, int width, int height) noexcept {
    try {
        bitmap->SetSize(width, height);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

// Everything between setjmp and the end of libjpeg's work lives here, with
// no C++ objects that need destroying. Returns nullptr on success, or a
// static message for failures found by us (libjpeg's own go into err).
enum class Stage { Ok, LibraryError, Refused };

Stage DecodeCore(FILE* file, JpegErrorManager* err, Bitmap* out, Sampling* sampling, const char** refusal) {
    jpeg_decompress_struct cinfo;
    cinfo.err = InitErrorManager(err);
    if (setjmp(err->jump)) {
        jpeg_destroy_decompress(&cinfo);
        return Stage::LibraryError;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, file);
    jpeg_read_header(&cinfo, TRUE);

    const int comps = cinfo.num_components;
    if (comps == 4) {
        *refusal = kFourComponents;
        jpeg_destroy_decompress(&cinfo);
        return Stage::Refused;
    }
    if (comps != 1 && comps != 3) {
        *refusal = "unsupported number of colour components";
        jpeg_destroy_decompress(&cinfo);
        return Stage::Refused;
    }
    // Three components come out blue first, matching the bitmap; greyscale
    // comes out as one sample and is spread over the three channels.
    cinfo.out_color_space = comps == 3 ? JCS_EXT_BGR : JCS_GRAYSCALE;
    jpeg_start_decompress(&cinfo);

    const int rowLength = static_cast<int>(cinfo.output_width) * cinfo.output_components;
    JSAMPARRAY row = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                                static_cast<JDIMENSION>(rowLength), 1);
    if (!SizeBitmap(out, static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height))) {
        *refusal = "not enough memory for this photograph";
        jpeg_destroy_decompress(&cinfo);
        return Stage::Refused;
    }
    if (comps == 3) {
        for (int c = 0; c < 3; ++c) {
            sampling->f[c] = cinfo.comp_info[c].h_samp_factor;
            sampling->f[3 + c] = cinfo.comp_info[c].v_samp_factor;
        }
    } else {
        // One component is coded a block at a time whatever factors its header
        // gives, so its iMCU is one block: a re-encode with those factors
        // would cut patches off the original's grid.
        sampling->f = {1, 1, 1, 1, 1, 1};
    }

    while (cinfo.output_scanline < cinfo.output_height) {
        jpeg_read_scanlines(&cinfo, row, 1);
        const int y = static_cast<int>(cinfo.output_scanline) - 1;
        if (comps == 3) {
            CopyRowToBitmap(*out, row[0], rowLength, y);
        } else {
            uint8_t* dst = out->Row(y);
            const JSAMPLE* src = row[0];
            for (int x = 0; x < rowLength; ++x, dst += 3) dst[0] = dst[1] = dst[2] = src[x];
        }
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return Stage::Ok;
}

Stage EncodeCore(FILE* file, JpegErrorManager* err, const Bitmap* bitmap, const Sampling* sampling, bool rgb) {
    jpeg_compress_struct cinfo;
    cinfo.err = InitErrorManager(err);
    if (setjmp(err->jump)) {
        jpeg_destroy_compress(&cinfo);
        return Stage::LibraryError;
    }
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file);
    cinfo.image_width = static_cast<JDIMENSION>(bitmap->Width());
    cinfo.image_height = static_cast<JDIMENSION>(bitmap->Height());
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&cinfo);
    if (rgb) jpeg_set_colorspace(&cinfo, JCS_RGB);
    for (int c = 0; c < 3; ++c) {
        cinfo.comp_info[c].h_samp_factor = sampling->f[c];
        cinfo.comp_info[c].v_samp_factor = sampling->f[3 + c];
    }
    jpeg_start_compress(&cinfo, TRUE);
    JSAMPARRAY row = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                                cinfo.image_width * 3, 1);
    while (cinfo.next_scanline < cinfo.image_height) {
        CopyRowFromBitmap(*bitmap, row[0], static_cast<int>(cinfo.next_scanline));
        jpeg_write_scanlines(&cinfo, row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return Stage::Ok;
}

Stage InfoCore(FILE* file, JpegErrorManager* err, JpegInfo* info) {
    jpeg_decompress_struct cinfo;
    cinfo.err = InitErrorManager(err);
    if (setjmp(err->jump)) {
        jpeg_destroy_decompress(&cinfo);
        return Stage::LibraryError;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, file);
    jpeg_read_header(&cinfo, TRUE);
    info->width = static_cast<int>(cinfo.image_width);
    info->height = static_cast<int>(cinfo.image_height);
    info->components = cinfo.num_components;
    for (int c = 0; c < cinfo.num_components && c < 4; ++c) {
        info->h[c] = cinfo.comp_info[c].h_samp_factor;
        info->v[c] = cinfo.comp_info[c].v_samp_factor;
    }
    info->progressive = cinfo.progressive_mode != 0;
    info->arithmetic = cinfo.arith_code != 0;
    info->colorSpace = cinfo.jpeg_color_space;
    jpeg_destroy_decompress(&cinfo);
    return Stage::Ok;
}

}  // namespace

void CopyRowToBitmap(Bitmap& bitmap, const JSAMPLE* row, int rowLength, int y) {
    uint8_t* dst = bitmap.Row(y);
    const int limit = rowLength < bitmap.Width() * 3 ? rowLength : bitmap.Width() * 3;
    std::memcpy(dst, row, static_cast<std::size_t>(limit > 0 ? limit : 0));
}

void CopyRowFromBitmap(const Bitmap& bitmap, JSAMPLE* row, int y) {
    std::memcpy(row, bitmap.Row(y), static_cast<std::size_t>(bitmap.Width()) * 3);
}

CodecResult DecodeJpegToBitmap(const std::string& name, Bitmap& bitmap, Sampling& sampling) {
    FILE* file = std::fopen(name.c_str(), "rb");
    if (!file) return CodecResult::Failure(kCantOpenImage);

    // Decode aside so that a failure leaves the caller's picture as it was.
    Bitmap fresh;
    Sampling freshSampling = sampling;
    JpegErrorManager err;
    const char* refusal = nullptr;
    Stage stage = DecodeCore(file, &err, &fresh, &freshSampling, &refusal);
    std::fclose(file);

    if (stage == Stage::LibraryError) return CodecResult::Failure(err.message);
    if (stage == Stage::Refused) return CodecResult::Failure(refusal);
    CodecResult result;
    result.ok = true;
    result.TakeWarnings(err);
    bitmap = std::move(fresh);
    sampling = freshSampling;
    return result;
}

CodecResult EncodeBitmapToJpeg(const std::string& name, const Bitmap& bitmap, const Sampling& sampling,
                               int fileColorSpace) {
    if (bitmap.Empty()) return CodecResult::Failure("there is no picture to write");
    std::string temp = name + ".scarlex-XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0) return CodecResult::Failure(kCantOpenImage);
    FILE* file = ::fdopen(fd, "wb");
    if (!file) {
        ::close(fd);
        ::unlink(temp.c_str());
        return CodecResult::Failure(kCantOpenImage);
    }
    JpegErrorManager err;
    Stage stage = EncodeCore(file, &err, &bitmap, &sampling, fileColorSpace == JCS_RGB);
    bool written = std::fflush(file) == 0 && !std::ferror(file);
    // mkstemp makes the file private; give it the usual permissions.
    mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    written = (std::fclose(file) == 0) && written;

    if (stage == Stage::LibraryError) {
        ::unlink(temp.c_str());
        return CodecResult::Failure(err.message);
    }
    if (!written || std::rename(temp.c_str(), name.c_str()) != 0) {
        std::string why = std::strerror(errno);
        ::unlink(temp.c_str());
        return CodecResult::Failure("could not write " + name + ": " + why);
    }
    CodecResult result;
    result.ok = true;
    result.TakeWarnings(err);
    return result;
}

CodecResult ReadJpegInfo(const std::string& name, JpegInfo& info) {
    FILE* file = std::fopen(name.c_str(), "rb");
    if (!file) return CodecResult::Failure(kCantOpenImage);
    JpegErrorManager err;
    JpegInfo fresh;
    Stage stage = InfoCore(file, &err, &fresh);
    std::fclose(file);
    if (stage != Stage::Ok) return CodecResult::Failure(err.message);
    info = fresh;
    CodecResult result;
    result.ok = true;
    return result;
}

}  // namespace scarlex
