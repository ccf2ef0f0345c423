#pragma once
// The program's libjpeg error manager. A fatal error keeps the library's
// formatted message and long-jumps back to the caller's setjmp instead of
// ending the process; warnings are counted and the first one is kept.
//
// Usage: the function that calls setjmp must hold no object with a
// destructor (longjmp skips them). Keep C++ objects in the caller.

#include <csetjmp>
#include <cstdio>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace scarlex {

// One kind of warning met while reading a file, where it first came.
struct CodecWarning {
    int code;          // libjpeg's message code (JWRN_...)
    int parameter;     // its second number (the marker, for extraneous data)
    int row;           // output rows already read when it came
    int height;        // the picture's height
    bool progressive;  // progressive files are read whole before any row
};

struct JpegErrorManager {
    jpeg_error_mgr pub;  // must stay first: libjpeg sees only this part
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    char firstWarning[JMSG_LENGTH_MAX];
    int warningCount;
    // Distinct warning codes, oldest first.
    CodecWarning kinds[8];
    int kindCount;
};

// Fills `mgr` with the standard routines, then replaces error_exit and
// emit_message with ours. Returns the pointer to hand to cinfo.err.
jpeg_error_mgr* InitErrorManager(JpegErrorManager* mgr);

// Formats the message that is current in `cinfo` into `out` with the
// library's own format_message.
void FormatCurrentMessage(j_common_ptr cinfo, char* out);

// What kind of failure a result reports, for callers that react to some.
enum class CodecFailure {
    None,
    Other,        // the library's or our own message says it all
    CannotOpen,   // the file could not be opened; `detail` says why
    TooLarge,     // over the picture limits (size or memory)
    Uncodable,    // coefficients the entropy coder cannot represent
};

// Outcome of a codec operation: ok, or the message of the failure.
// Warnings (corrupt or premature end of data) let the operation go on.
struct CodecResult {
    bool ok = false;
    std::string error;
    CodecFailure kind = CodecFailure::None;
    std::string detail;
    std::vector<std::string> warnings;
    int warningCount = 0;
    std::vector<CodecWarning> warningKinds;

    explicit operator bool() const { return ok; }
    static CodecResult Failure(std::string text, CodecFailure kind = CodecFailure::Other) {
        CodecResult r;
        r.error = std::move(text);
        r.kind = kind;
        return r;
    }
    // Collects the warnings kept by `mgr`.
    void TakeWarnings(const JpegErrorManager& mgr);
};

}  // namespace scarlex
