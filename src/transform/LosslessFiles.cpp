#include "transform/LosslessFiles.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

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
    FILE* outFile;
    int outFd;
    char* tempPath;  // writable template for mkstemp
    bool tempMade;
    const char* refusal;  // our own failure before libjpeg could report it
    int refusalErrno;
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

// Releases every object and file; removes an unfinished output.
void Release(Job* job) {
    jpeg_destroy_compress(&job->dst);
    jpeg_destroy_decompress(&job->patch);
    jpeg_destroy_decompress(&job->src);
    if (job->outFile) {
        std::fclose(job->outFile);
        job->outFile = nullptr;
        job->outFd = -1;
    } else if (job->outFd >= 0) {
        ::close(job->outFd);
        job->outFd = -1;
    }
    if (job->tempMade) {
        ::unlink(job->tempPath);
        job->tempMade = false;
    }
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

    if (job->drop) jpeg_stdio_src(&job->patch, job->patchFile);
    jpeg_stdio_src(&job->src, job->srcFile);
    jcopy_markers_setup(&job->src, JCOPYOPT_COMMENTS);
    jpeg_read_header(&job->src, TRUE);

    jpeg_transform_info* info = &job->info;
    info->crop = true;
    info->crop_width_set = info->crop_height_set = JCROP_POS;
    info->crop_xoffset_set = info->crop_yoffset_set = JCROP_POS;
    info->crop_xoffset = static_cast<JDIMENSION>(job->x);
    info->crop_yoffset = static_cast<JDIMENSION>(job->y);
    if (job->drop) {
        jpeg_read_header(&job->patch, TRUE);
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

    job->outFd = ::mkstemp(job->tempPath);
    if (job->outFd < 0) {
        job->refusal = "Can't open output file for writing";
        job->refusalErrno = errno;
        Release(job);
        return false;
    }
    job->tempMade = true;
    job->outFile = ::fdopen(job->outFd, "wb");
    if (!job->outFile) {
        job->refusal = "Can't open output file for writing";
        job->refusalErrno = errno;
        Release(job);
        return false;
    }
    job->writing = true;
    jpeg_stdio_dest(&job->dst, job->outFile);
    jpeg_write_coefficients(&job->dst, dstArrays);
    jcopy_markers_execute(&job->src, &job->dst, JCOPYOPT_COMMENTS);
    jtransform_execute_transformation(&job->src, &job->dst, srcArrays, info);

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

CodecResult Run(const std::string& source, const std::string& patch, const std::string& output, bool drop, int width,
                int height, int x, int y) {
    if (x < 0 || y < 0 || (!drop && (width <= 0 || height <= 0)))
        return CodecResult::Failure(source + ": Invalid crop request");

    FilePtr srcFile(std::fopen(source.c_str(), "rb"));
    if (!srcFile) return CodecResult::Failure(source + ": can't open: " + std::strerror(errno));
    FilePtr patchFile;
    if (drop) {
        patchFile.reset(std::fopen(patch.c_str(), "rb"));
        if (!patchFile) return CodecResult::Failure(patch + ": can't open: " + std::strerror(errno));
    }

    std::string temp = output + ".scarlex-XXXXXX";
    auto job = std::make_unique<Job>();  // zeroed: no object made yet
    job->failedObject = -1;
    job->outFd = -1;
    job->drop = drop;
    job->x = x;
    job->y = y;
    job->width = width;
    job->height = height;
    job->srcFile = srcFile.get();
    job->patchFile = patchFile.get();
    job->tempPath = temp.data();

    const bool done = RunJob(job.get());
    if (!done) {
        if (job->refusal)
            return CodecResult::Failure(output + ": " + job->refusal + " (" + std::strerror(job->refusalErrno) + ")");
        const int which = job->failedObject;
        // Before the output is open, the destination fails only on what it
        // takes from the source (a table slot the source uses twice, say):
        // name the source, not a temporary the user never sees.
        const std::string& path = which == kPatch ? patch : which == kDest && job->writing ? output : source;
        return CodecResult::Failure(path + ": " + job->err[which < 0 ? 0 : which].mgr.message);
    }

    bool written = std::fflush(job->outFile) == 0 && !std::ferror(job->outFile);
    int why = written ? 0 : errno;
    // mkstemp makes the file private; give it the usual permissions.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(job->outFd, 0666 & ~mask);
    if (std::fclose(job->outFile) != 0 && written) {
        written = false;
        why = errno;
    }
    job->outFile = nullptr;
    if (written && std::rename(temp.c_str(), output.c_str()) != 0) {
        written = false;
        why = errno;
    }
    if (!written) {
        ::unlink(temp.c_str());
        return CodecResult::Failure("could not write " + output + ": " + std::strerror(why));
    }
    CodecResult result;
    result.ok = true;
    for (const ObjectError& e : job->err) result.TakeWarnings(e.mgr);
    return result;
}

}  // namespace

CodecResult CropJpegFile(const std::string& input, const std::string& output, int width, int height, int x, int y) {
    return Run(input, std::string(), output, false, width, height, x, y);
}

CodecResult DropJpegFile(const std::string& source, const std::string& patch, const std::string& output, int x, int y) {
    return Run(source, patch, output, true, 0, 0, x, y);
}

}  // namespace scarlex
