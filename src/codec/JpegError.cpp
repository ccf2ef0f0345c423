#include "codec/JpegError.h"

#include <cstring>

namespace scarlex {

namespace {

void ErrorExit(j_common_ptr cinfo) {
    auto* mgr = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    cinfo->err->format_message(cinfo, mgr->message);
    std::longjmp(mgr->jump, 1);
}

void EmitMessage(j_common_ptr cinfo, int level) {
    auto* mgr = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    if (level < 0) {
        if (mgr->warningCount == 0) cinfo->err->format_message(cinfo, mgr->firstWarning);
        ++mgr->warningCount;
        ++cinfo->err->num_warnings;
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
}

}  // namespace scarlex
