// crop, drop: the lossless block transform from the command line.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "cli/Cli.h"
#include "transform/LosslessFiles.h"

namespace scarlex::cli {

namespace {

// Reads an unsigned decimal number at *p (no sign, at least one digit).
bool ReadNumber(const char*& p, int* value) {
    if (*p < '0' || *p > '9') return false;
    long long n = 0;
    while (*p >= '0' && *p <= '9') {
        n = n * 10 + (*p++ - '0');
        if (n > INT_MAX) return false;
    }
    *value = static_cast<int>(n);
    return true;
}

// "WxH+X+Y" (withSize) or "+X+Y".
void ParseGeometry(const std::string& text, bool withSize, int* w, int* h, int* x, int* y) {
    const char* p = text.c_str();
    bool ok = true;
    if (withSize) ok = ReadNumber(p, w) && (*p == 'x' || *p == 'X') && ReadNumber(++p, h);
    ok = ok && *p == '+' && ReadNumber(++p, x) && *p == '+' && ReadNumber(++p, y) && *p == '\0';
    if (!ok) throw CliError("bad region \"" + text + "\": expected " + (withSize ? "WxH+X+Y" : "+X+Y"));
}

int Finish(const std::string& input, const CodecResult& r) {
    if (!r) throw CliError(r.error);
    PrintWarnings(input, r);
    return 0;
}

int RunCrop(const Args& args) {
    RequireArgs(args, 3, 3, "crop");
    int w = 0, h = 0, x = 0, y = 0;
    ParseGeometry(args[2], true, &w, &h, &x, &y);
    RequireFreeOutput(args[1]);
    return Finish(args[0], CropJpegFile(args[0], args[1], w, h, x, y));
}

int RunDrop(const Args& args) {
    RequireArgs(args, 4, 4, "drop");
    int x = 0, y = 0;
    ParseGeometry(args[3], false, nullptr, nullptr, &x, &y);
    RequireFreeOutput(args[2]);
    return Finish(args[0], DropJpegFile(args[0], args[1], args[2], x, y));
}

const bool registered =
    RegisterCommand({"crop", "IN.jpg OUT.jpg WxH+X+Y",
                     "lossless crop on the iMCU grid (region widened left and up to it)", RunCrop}) &&
    RegisterCommand({"drop", "SOURCE.jpg PATCH.jpg OUT.jpg +X+Y",
                     "lossless drop of the patch's whole iMCUs into the source at X,Y", RunDrop});

}  // namespace
}  // namespace scarlex::cli
