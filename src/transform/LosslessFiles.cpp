#include "transform/LosslessFiles.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

#include <jerror.h>

#include "codec/PictureLimits.h"
#include "common/SafeWrite.h"
#include "transform/CoefficientRange.h"
#include "transform/LosslessTransform.h"

namespace scarlex {

namespace {

enum Object { kSource = 0, kPatch = 1, kDest = 2, kObjects = 3 };

struct Job;

// One error manager per libjpeg object, all jumping back to the job.
struct ObjectError {
    JpegErrorManager mgr;  // must stay first
    Job* job;
    int object;
};

// Everything the libjpeg work touches. Plain data only: it is reached
// across longjmp, which skips destructors.
struct Job {
    ObjectError err[kObjects];
    jmp_buf jump;
    int failedObject;

    jpeg_decompress_struct src;
    jpeg_decompress_struct patch;
    jpeg_compress_struct dst;
    jpeg_transform_info info;
    bool drop;
    int x, y, width, height;

    FILE* srcFile;
    FILE* patchFile;
    FILE* outFile;  // owned by the caller's FileBeside
    PictureLimits limits;
    int tooLarge;  // the object whose declared size is over the limits, or -1
    UncodableCoefficient uncodable;
    bool writing;  // the output is open: the destination's errors are its own
};

void ErrorExit(j_common_ptr cinfo) {
    auto* e = reinterpret_cast<ObjectError*>(cinfo->err);
    cinfo->err->format_message(cinfo, e->mgr.message);
    e->job->failedObject = e->object;
    std::longjmp(e->job->jump, 1);
}

void SetUpError(Job* job, int object, j_common_ptr cinfo) {
    ObjectError* e = &job->err[object];
    cinfo->err = InitErrorManager(&e->mgr);
    e->mgr.pub.error_exit = ErrorExit;
    e->job = job;
    e->object = object;
}

// Releases every libjpeg object; the caller removes the unfinished output.
void Release(Job* job) {
    jpeg_destroy_compress(&job->dst);
    jpeg_destroy_decompress(&job->patch);
    jpeg_destroy_decompress(&job->src);
}

bool Within(const jpeg_decompress_struct* d, const PictureLimits& limits) {
    return PictureWithinLimits(d->image_width, d->image_height, d->num_components, limits);
}

// The whole libjpeg sequence, in the order the transform requires. Holds no
// object with a destructor. Returns true when the output is complete and
// closed under its temporary name.
bool RunJob(Job* job) {
    if (setjmp(job->jump)) {
        Release(job);
        return false;
    }
    SetUpError(job, kSource, reinterpret_cast<j_common_ptr>(&job->src));
    SetUpError(job, kDest, reinterpret_cast<j_common_ptr>(&job->dst));
    jpeg_create_decompress(&job->src);
    if (job->drop) {
        SetUpError(job, kPatch, reinterpret_cast<j_common_ptr>(&job->patch));
        jpeg_create_decompress(&job->patch);
    }
    jpeg_create_compress(&job->dst);
    // Every coefficient of the source is held in memory: bound it.
    if (job->limits.maxMemory != 0) {
        job->src.mem->max_memory_to_use = static_cast<long>(job->limits.maxMemory);
        if (job->drop) job->patch.mem->max_memory_to_use = static_cast<long>(job->limits.maxMemory);
    }

    if (job->drop) jpeg_stdio_src(&job->patch, job->patchFile);
    jpeg_stdio_src(&job->src, job->srcFile);
    jcopy_markers_setup(&job->src, JCOPYOPT_COMMENTS);
    jpeg_read_header(&job->src, TRUE);
    if (!Within(&job->src, job->limits)) {
        job->tooLarge = kSource;
        Release(job);
        return false;
    }

    jpeg_transform_info* info = &job->info;
    info->crop = true;
    info->crop_width_set = info->crop_height_set = JCROP_POS;
    info->crop_xoffset_set = info->crop_yoffset_set = JCROP_POS;
    info->crop_xoffset = static_cast<JDIMENSION>(job->x);
    info->crop_yoffset = static_cast<JDIMENSION>(job->y);
    if (job->drop) {
        jpeg_read_header(&job->patch, TRUE);
        if (!Within(&job->patch, job->limits)) {
            job->tooLarge = kPatch;
            Release(job);
            return false;
        }
        info->transform = JXFORM_DROP;
        info->drop_ptr = &job->patch;
        info->crop_width = job->patch.image_width;
        info->crop_height = job->patch.image_height;
    } else {
        info->transform = JXFORM_NONE;
        info->crop_width = static_cast<JDIMENSION>(job->width);
        info->crop_height = static_cast<JDIMENSION>(job->height);
    }

    jtransform_request_workspace(&job->src, info);
    jvirt_barray_ptr* srcArrays = jpeg_read_coefficients(&job->src);
    if (job->drop) info->drop_coef_arrays = jpeg_read_coefficients(&job->patch);
    jpeg_copy_critical_parameters(&job->src, &job->dst);
    jvirt_barray_ptr* dstArrays = jtransform_adjust_parameters(&job->src, &job->dst, srcArrays, info);

    job->writing = true;
    jpeg_stdio_dest(&job->dst, job->outFile);
    jpeg_write_coefficients(&job->dst, dstArrays);
    jcopy_markers_execute(&job->src, &job->dst, JCOPYOPT_COMMENTS);
    jtransform_execute_transformation(&job->src, &job->dst, srcArrays, info);
    // The arrays are final: nothing the coder cannot code may go out.
    job->uncodable = FindUncodableCoefficient(reinterpret_cast<j_common_ptr>(&job->src), &job->dst, dstArrays);
    if (info->coefficient_overflow && !job->uncodable.found) job->uncodable.found = true;
    if (job->uncodable.found) {
        Release(job);
        return false;
    }

    jpeg_finish_compress(&job->dst);
    jpeg_destroy_compress(&job->dst);
    if (job->drop) {
        jpeg_finish_decompress(&job->patch);
        jpeg_destroy_decompress(&job->patch);
    }
    jpeg_finish_decompress(&job->src);
    jpeg_destroy_decompress(&job->src);
    return true;
}

struct FileCloser {
    void operator()(FILE* f) const {
        if (f) std::fclose(f);
    }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

bool IsFolder(FILE* file) {
    struct stat st {};
    return ::fstat(::fileno(file), &st) == 0 && S_ISDIR(st.st_mode);
}

CodecResult Run(const std::string& source, const std::string& patch, const std::string& output, bool drop, int width,
                int height, int x, int y, const PlaceOptions& place) {
    if (x < 0 || y < 0 || (!drop && (width <= 0 || height <= 0)))
        return CodecResult::Failure(source + ": Invalid crop request");

    FilePtr srcFile(std::fopen(source.c_str(), "rb"));
    if (!srcFile) return CodecResult::Failure(source + ": can't open: " + std::strerror(errno));
    if (IsFolder(srcFile.get())) return CodecResult::Failure(source + " is a directory, not a JPEG file");
    FilePtr patchFile;
    if (drop) {
        patchFile.reset(std::fopen(patch.c_str(), "rb"));
        if (!patchFile) return CodecResult::Failure(patch + ": can't open: " + std::strerror(errno));
        if (IsFolder(patchFile.get())) return CodecResult::Failure(patch + " is a directory, not a JPEG file");
    }

    FileBeside out(output, place);
    if (!out.ok() || !out.Stream())
        return CodecResult::Failure(output + ": Can't open output file for writing (" + out.error() + ")");
    auto job = std::make_unique<Job>();  // zeroed: no object made yet
    job->failedObject = -1;
    job->tooLarge = -1;
    job->drop = drop;
    job->x = x;
    job->y = y;
    job->width = width;
    job->height = height;
    job->srcFile = srcFile.get();
    job->patchFile = patchFile.get();
    job->outFile = out.Stream();
    job->limits = CurrentPictureLimits();

    const bool done = RunJob(job.get());
    if (!done) {
        out.Discard();
        if (job->tooLarge >= 0) {
            const jpeg_decompress_struct& d = job->tooLarge == kPatch ? job->patch : job->src;
            return CodecResult::Failure(CheckPictureSize(job->tooLarge == kPatch ? patch : source, d.image_width,
                                                         d.image_height, d.num_components, job->limits),
                                        CodecFailure::TooLarge);
        }
        if (job->uncodable.found) {
            const UncodableCoefficient& u = job->uncodable;
            return CodecResult::Failure(
                output + ": coefficient out of range for JPEG coding (component " + std::to_string(u.component) +
                    ", block " + std::to_string(u.blockX) + "," + std::to_string(u.blockY) +
                    (u.position == 0 ? ", DC difference " : ", AC value ") + std::to_string(u.value) + ")",
                CodecFailure::Uncodable);
        }
        const int which = job->failedObject;
        // Before the output is open, the destination fails only on what it
        // takes from the source (a table slot the source uses twice, say):
        // name the source, not a temporary the user never sees.
        const std::string& path = which == kPatch ? patch : which == kDest && job->writing ? output : source;
        const int code = job->err[which < 0 ? 0 : which].mgr.pub.msg_code;
        if (code == JERR_NO_BACKING_STORE || code == JERR_OUT_OF_MEMORY)
            return CodecResult::Failure(path + " needs more memory than the limit of " +
                                            std::to_string(job->limits.maxMemory >> 20) + " MB",
                                        CodecFailure::TooLarge);
        return CodecResult::Failure(path + ": " + job->err[which < 0 ? 0 : which].mgr.message);
    }

    const std::string why = out.Commit();
    if (!why.empty()) return CodecResult::Failure("could not write " + why);
    CodecResult result;
    result.ok = true;
    for (const ObjectError& e : job->err) result.TakeWarnings(e.mgr);
    return result;
}

}  // namespace

CodecResult CropJpegFile(const std::string& input, const std::string& output, int width, int height, int x, int y,
                         const PlaceOptions& place) {
    return Run(input, std::string(), output, false, width, height, x, y, place);
}

CodecResult DropJpegFile(const std::string& source, const std::string& patch, const std::string& output, int x, int y,
                         const PlaceOptions& place) {
    return Run(source, patch, output, true, 0, 0, x, y, place);
}

}  // namespace scarlex
