#include "codec/JpegCodec.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include <jerror.h>

#include "codec/FileKind.h"
#include "common/SafeWrite.h"

namespace scarlex {

namespace {

constexpr const char* kFourComponents =
    "CMYK and YCCK photographs are not supported: this file has four colour components";

bool SizeBitmap(Bitmap* bitmap, int width, int height) noexcept {
    try {
        // The decoder writes every pixel.
        bitmap->SetSizeUncleared(width, height);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

// How one pass through libjpeg ended. The functions that call setjmp hold
// no C++ objects that need destroying (a longjmp skips destructors); the
// callers turn the stage into a CodecResult.
enum class Stage { Ok, LibraryError, Refused, TooLarge };

// A stdio source that hashes every byte it hands to the library, so that
// the fingerprint taken at load is of exactly what was decoded.
constexpr std::size_t kSourceBuffer = 1 << 16;

struct HashingSource {
    jpeg_source_mgr pub;  // must stay first
    FILE* file;
    JOCTET* buffer;
    ByteHasher* hasher;
    bool sawData;
};

void InitSource(j_decompress_ptr) {}
void TermSource(j_decompress_ptr) {}

boolean FillInput(j_decompress_ptr cinfo) {
    auto* src = reinterpret_cast<HashingSource*>(cinfo->src);
    std::size_t n = std::fread(src->buffer, 1, kSourceBuffer, src->file);
    if (n == 0) {
        if (!src->sawData) ERREXIT(cinfo, JERR_INPUT_EMPTY);
        // A truncated file: end it as the library expects, and say so.
        WARNMS(cinfo, JWRN_JPEG_EOF);
        src->buffer[0] = 0xFF;
        src->buffer[1] = JPEG_EOI;
        n = 2;
    } else {
        src->hasher->Add(src->buffer, n);
        src->sawData = true;
    }
    src->pub.next_input_byte = src->buffer;
    src->pub.bytes_in_buffer = n;
    return TRUE;
}

void SkipInput(j_decompress_ptr cinfo, long count) {
    if (count <= 0) return;
    jpeg_source_mgr* src = cinfo->src;
    while (count > static_cast<long>(src->bytes_in_buffer)) {
        count -= static_cast<long>(src->bytes_in_buffer);
        FillInput(cinfo);
    }
    src->next_input_byte += count;
    src->bytes_in_buffer -= static_cast<std::size_t>(count);
}

void AttachHashingSource(j_decompress_ptr cinfo, HashingSource* src) {
    src->buffer = static_cast<JOCTET*>(
        (*cinfo->mem->alloc_small)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, kSourceBuffer));
    src->pub.init_source = InitSource;
    src->pub.fill_input_buffer = FillInput;
    src->pub.skip_input_data = SkipInput;
    src->pub.resync_to_restart = jpeg_resync_to_restart;
    src->pub.term_source = TermSource;
    src->pub.bytes_in_buffer = 0;
    src->pub.next_input_byte = nullptr;
    cinfo->src = &src->pub;
}

// Where the compressed bytes come from: a file through the hashing source,
// or memory.
struct DecodeInput {
    HashingSource* file;  // or null
    const unsigned char* data;
    unsigned long size;
};

struct Declared {
    unsigned width = 0, height = 0;
    int components = 0;
};

Stage DecodeCore(DecodeInput* in, JpegErrorManager* err, Bitmap* out, Sampling* sampling,
                 const PictureLimits* limits, Declared* declared, const char** refusal) {
    jpeg_decompress_struct cinfo;
    cinfo.err = InitErrorManager(err);
    if (setjmp(err->jump)) {
        jpeg_destroy_decompress(&cinfo);
        return Stage::LibraryError;
    }
    jpeg_create_decompress(&cinfo);
    // Progressive files keep every coefficient in memory: bound that too.
    if (limits->maxMemory != 0) cinfo.mem->max_memory_to_use = static_cast<long>(limits->maxMemory);
    if (in->file)
        AttachHashingSource(&cinfo, in->file);
    else
        jpeg_mem_src(&cinfo, in->data, in->size);
    jpeg_read_header(&cinfo, TRUE);

    const int comps = cinfo.num_components;
    declared->width = cinfo.image_width;
    declared->height = cinfo.image_height;
    declared->components = comps;
    // Before anything that grows with the picture.
    if (!PictureWithinLimits(cinfo.image_width, cinfo.image_height, comps, *limits)) {
        jpeg_destroy_decompress(&cinfo);
        return Stage::TooLarge;
    }
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
        const int y = static_cast<int>(cinfo.output_scanline);
        if (comps == 3) {
            // Blue-first rows straight into the bitmap, with no copy.
            JSAMPROW into = out->Row(y);
            jpeg_read_scanlines(&cinfo, &into, 1);
        } else {
            jpeg_read_scanlines(&cinfo, row, 1);
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

namespace {

bool IsFolder(FILE* file) {
    struct stat st {};
    return ::fstat(::fileno(file), &st) == 0 && S_ISDIR(st.st_mode);
}

CodecResult CannotOpen(const std::string& name, int err) {
    CodecResult r = CodecResult::Failure(kCantOpenImage, CodecFailure::CannotOpen);
    r.detail = std::strerror(err);
    (void)name;
    return r;
}

CodecResult FinishDecode(Stage stage, const std::string& name, const JpegErrorManager& err, const Declared& declared,
                         const char* refusal, const PictureLimits& limits) {
    if (stage == Stage::TooLarge)
        return CodecResult::Failure(
            CheckPictureSize(name, declared.width, declared.height, declared.components, limits),
            CodecFailure::TooLarge);
    if (stage == Stage::LibraryError) {
        const int code = err.pub.msg_code;
        if (code == JERR_NO_BACKING_STORE || code == JERR_OUT_OF_MEMORY)
            return CodecResult::Failure(name + " needs more memory to decode than the limit of " +
                                            std::to_string(limits.maxMemory >> 20) + " MB",
                                        CodecFailure::TooLarge);
        return CodecResult::Failure(err.message);
    }
    if (stage == Stage::Refused) return CodecResult::Failure(refusal);
    CodecResult result;
    result.ok = true;
    result.TakeWarnings(err);
    return result;
}

}  // namespace

std::string FolderMessage(const std::string& name) { return name + " is a directory, not a JPEG file"; }

CodecResult DecodeJpegToBitmap(const std::string& name, Bitmap& bitmap, Sampling& sampling, FileFingerprint* loaded) {
    FILE* file = std::fopen(name.c_str(), "rb");
    if (!file) return CannotOpen(name, errno);
    if (IsFolder(file)) {
        std::fclose(file);
        return CodecResult::Failure(FolderMessage(name));
    }
    if (std::string foreign = ForeignFileMessage(file, name); !foreign.empty()) {
        std::fclose(file);
        return CodecResult::Failure(foreign);
    }

    // Decode aside so that a failure leaves the caller's picture as it was.
    Bitmap fresh;
    Sampling freshSampling = sampling;
    JpegErrorManager err;
    ByteHasher hasher;
    HashingSource source{};
    source.file = file;
    source.hasher = &hasher;
    DecodeInput input{&source, nullptr, 0};
    Declared declared;
    const PictureLimits limits = CurrentPictureLimits();
    const char* refusal = nullptr;
    Stage stage = DecodeCore(&input, &err, &fresh, &freshSampling, &limits, &declared, &refusal);
    FileFingerprint fingerprint;
    if (stage == Stage::Ok && loaded) {
        // The rest of the file (data after the end of the picture) counts
        // too: the fingerprint is of the whole file.
        std::vector<uint8_t> rest(kSourceBuffer);
        std::size_t n;
        while ((n = std::fread(rest.data(), 1, rest.size(), file)) > 0) hasher.Add(rest.data(), n);
        fingerprint.known = !std::ferror(file);
        fingerprint.size = hasher.Count();
        fingerprint.hash = hasher.Value();
        fingerprint.mtimeNs = ModificationTimeNs(::fileno(file));
    }
    std::fclose(file);

    CodecResult result = FinishDecode(stage, name, err, declared, refusal, limits);
    if (!result) return result;
    bitmap = std::move(fresh);
    sampling = freshSampling;
    if (loaded) *loaded = fingerprint;
    return result;
}

CodecResult DecodeJpegBytesToBitmap(std::span<const uint8_t> bytes, Bitmap& bitmap, Sampling& sampling,
                                    const std::string& name) {
    if (bytes.empty()) return CodecResult::Failure(name + ": empty file");
    Bitmap fresh;
    Sampling freshSampling = sampling;
    JpegErrorManager err;
    DecodeInput input{nullptr, bytes.data(), static_cast<unsigned long>(bytes.size())};
    Declared declared;
    const PictureLimits limits = CurrentPictureLimits();
    const char* refusal = nullptr;
    Stage stage = DecodeCore(&input, &err, &fresh, &freshSampling, &limits, &declared, &refusal);
    CodecResult result = FinishDecode(stage, name, err, declared, refusal, limits);
    if (!result) return result;
    bitmap = std::move(fresh);
    sampling = freshSampling;
    return result;
}

CodecResult EncodeBitmapToJpeg(const std::string& name, const Bitmap& bitmap, const Sampling& sampling,
                               int fileColorSpace, const PlaceOptions& place) {    if (bitmap.Empty()) return CodecResult::Failure("there is no picture to write");
    FileBeside out(name, place);
    FILE* file = out.ok() ? out.Stream() : nullptr;
    if (!file) return CodecResult::Failure(kCantOpenImage, CodecFailure::CannotOpen);
    JpegErrorManager err;
    Stage stage = EncodeCore(file, &err, &bitmap, &sampling, fileColorSpace == JCS_RGB);
    if (stage == Stage::LibraryError) return CodecResult::Failure(err.message);
    const std::string why = out.Commit();
    if (!why.empty()) return CodecResult::Failure("could not write " + why);
    CodecResult result;
    result.ok = true;
    result.TakeWarnings(err);
    return result;
}

CodecResult ReadJpegInfo(const std::string& name, JpegInfo& info) {
    FILE* file = std::fopen(name.c_str(), "rb");
    if (!file) return CannotOpen(name, errno);
    if (IsFolder(file)) {
        std::fclose(file);
        return CodecResult::Failure(FolderMessage(name));
    }
    if (std::string foreign = ForeignFileMessage(file, name); !foreign.empty()) {
        std::fclose(file);
        return CodecResult::Failure(foreign);
    }
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
