#include "codec/JpegError.h"

#include <cstring>

namespace scarlex {

namespace {

void ErrorExit(j_common_ptr cinfo) {
    auto* mgr = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    cinfo->err->format_message(cinfo, mgr->message);
    std::longjmp(mgr->jump, 1);
}

// What the warning was and how far the reading had come, so that the
// damage can be described in words rather than in the library's.
void KeepKind(j_common_ptr cinfo, JpegErrorManager* mgr) {
    const int code = cinfo->err->msg_code;
    for (int k = 0; k < mgr->kindCount; ++k)
        if (mgr->kinds[k].code == code) return;
    if (mgr->kindCount >= static_cast<int>(sizeof mgr->kinds / sizeof mgr->kinds[0])) return;
    CodecWarning& w = mgr->kinds[mgr->kindCount++];
    w.code = code;
    w.parameter = cinfo->err->msg_parm.i[1];
    w.row = -1;
    w.height = 0;
    w.progressive = false;
    if (cinfo->is_decompressor) {
        const auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
        w.row = static_cast<int>(d->output_scanline);
        w.height = static_cast<int>(d->image_height);
        w.progressive = d->progressive_mode != 0;
    }
}

void EmitMessage(j_common_ptr cinfo, int level) {
    auto* mgr = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    if (level < 0) {
        if (mgr->warningCount == 0) cinfo->err->format_message(cinfo, mgr->firstWarning);
        ++mgr->warningCount;
        ++cinfo->err->num_warnings;
        KeepKind(cinfo, mgr);
    }
    // Trace messages are not wanted.
}

}  // namespace

jpeg_error_mgr* InitErrorManager(JpegErrorManager* mgr) {
    std::memset(mgr, 0, sizeof(*mgr));
    jpeg_std_error(&mgr->pub);
    mgr->pub.error_exit = ErrorExit;
    mgr->pub.emit_message = EmitMessage;
    return &mgr->pub;
}

void FormatCurrentMessage(j_common_ptr cinfo, char* out) { cinfo->err->format_message(cinfo, out); }

void CodecResult::TakeWarnings(const JpegErrorManager& mgr) {
    warningCount += mgr.warningCount;
    if (mgr.warningCount > 0) warnings.emplace_back(mgr.firstWarning);
    warningKinds.insert(warningKinds.end(), mgr.kinds, mgr.kinds + mgr.kindCount);
}

}  // namespace scarlex
