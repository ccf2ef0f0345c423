#include "save/PatchChain.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "codec/JpegCodec.h"
#include "common/Paths.h"
#include "transform/LosslessFiles.h"

namespace scarlex {

namespace {

// Chain and patch names: the chain source's file name with its extension
// changed, placed in the private work folder.
std::string InWorkDir(const std::string& workDir, const std::string& path, const std::string& ext) {
    return IncludeTrailingSlash(workDir) + ExtractFileName(ChangeFileExt(path, ext));
}

long CeilDiv(long a, long b) { return (a + b - 1) / b; }

}  // namespace

PatchRequest PatchRequestFor(const Rect& row, int width, int height, int imcuWidth, int imcuHeight) {
    PatchRequest r;
    // A grey circle may reach past any edge: only the part inside the
    // picture was changed.
    const int left = std::max(row.left, 0), top = std::max(row.top, 0);
    const int right = std::min(row.right, width), bottom = std::min(row.bottom, height);
    if (right <= left || bottom <= top) {
        r.skip = true;
        return r;
    }
    r.cropX = left;
    r.cropY = top;
    // 17, not 16: the drop takes whole iMCUs only, and the crop is widened to
    // the left by left mod iMCU, so this always reaches past right and bottom.
    // Sampling factors of 3 and 4 make iMCUs of 24 and 32 pixels, which 17
    // would not reach across.
    r.cropW = std::min((right - left) + std::max(17, imcuWidth + 1), width - left);
    r.cropH = std::min((bottom - top) + std::max(17, imcuHeight + 1), height - top);
    return r;
}

CodecResult BuildPatchedFile(const std::string& chainSource, const std::string& reencode,
                             const std::vector<Rect>& rows, const std::string& workDir, std::string* result,
                             ChainReport* report) {
    ChainReport local;
    if (!report) report = &local;
    *report = ChainReport{};

    JpegInfo picture, source;
    CodecResult r = ReadJpegInfo(reencode, picture);
    if (!r) return CodecResult::Failure("the full re-encode cannot be read: " + r.error);
    r = ReadJpegInfo(chainSource, source);
    if (!r) return CodecResult::Failure(chainSource + ": " + r.error);
    if (picture.width != source.width || picture.height != source.height)
        return CodecResult::Failure("the edited picture and the original differ in size");
    // Blocks carry over only between files coded alike: YCbCr blocks in an
    // RGB-coded original would come out as other colours. A grey original
    // takes the luma of a YCbCr re-encode.
    if (picture.colorSpace != source.colorSpace &&
        !(source.colorSpace == JCS_GRAYSCALE && picture.colorSpace == JCS_YCbCr))
        return CodecResult::Failure(chainSource + ": the edited picture is coded in another colour space");

    int maxH = 1, maxV = 1;
    if (source.components > 1)
        for (int c = 0; c < source.components && c < 4; ++c) {
            maxH = std::max(maxH, source.h[c]);
            maxV = std::max(maxV, source.v[c]);
        }
    const int dh = 8 * maxH, dv = 8 * maxV;

    std::string current = chainSource;
    CodecResult outcome;
    outcome.ok = true;
    int i = 0;
    for (const Rect& row : rows) {
        const PatchRequest req = PatchRequestFor(row, picture.width, picture.height, dh, dv);
        if (req.skip) continue;
        const std::string next = InWorkDir(workDir, chainSource, "_" + std::to_string(i) + ".jpg");
        const std::string patch = InWorkDir(workDir, current, "-cpd.jpg");

        // Private intermediates: no need to wait for the disk.
        const PlaceOptions scratch = ScratchPlacement();
        r = CropJpegFile(reencode, patch, req.cropW, req.cropH, req.cropX, req.cropY, scratch);
        if (r) {
            // The patch starts at the crop's left and top rounded down to the
            // iMCU grid; dropping it at its own size puts it back there.
            const int patchW = req.cropW + req.cropX % dh, patchH = req.cropH + req.cropY % dv;
            const int dropX = req.cropX + req.cropW - patchW, dropY = req.cropY + req.cropH - patchH;
            // An edit in the partial iMCU at the right or bottom edge needs
            // that partial iMCU dropped too.
            r = DropJpegFile(current, patch, next, dropX, dropY, scratch);
            if (r) {
                const bool atRight = dropX + patchW == picture.width, atBottom = dropY + patchH == picture.height;
                const long across = atRight ? CeilDiv(patchW, dh) : patchW / dh;
                const long down = atBottom ? CeilDiv(patchH, dv) : patchH / dv;
                report->droppedImcus += across * down;
            }
        }
        ::unlink(patch.c_str());
        for (const std::string& w : r.warnings) outcome.warnings.push_back(w);
        if (!r) {
            if (current != chainSource) ::unlink(current.c_str());
            ::unlink(next.c_str());
            return r;
        }
        if (current != chainSource) ::unlink(current.c_str());
        current = next;
        ++i;
        ++report->steps;
    }
    *result = current;
    return outcome;
}

}  // namespace scarlex
