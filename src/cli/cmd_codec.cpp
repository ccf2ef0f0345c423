// info, decode, reencode: the JPEG bridge from the command line.
#include <cstdio>

#include "cli/Cli.h"
#include "codec/JpegCodec.h"

namespace scarlex::cli {

namespace {

Bitmap DecodeOrThrow(const std::string& path, Sampling& sampling) {
    Bitmap bitmap;
    CodecResult r = DecodeJpegToBitmap(path, bitmap, sampling);
    if (!r) throw CliError(CodecMessage(path, r));
    PrintWarnings(path, r);
    return bitmap;
}

int RunInfo(const Args& args) {
    RequireArgs(args, 1, 1, "info");
    JpegInfo info;
    CodecResult r = ReadJpegInfo(args[0], info);
    if (!r) throw CliError(CodecMessage(args[0], r));
    std::printf("width: %d\nheight: %d\ncomponents: %d\n", info.width, info.height, info.components);
    // The six factors as the bridge records them: h0 h1 h2 v0 v1 v2.
    std::printf("sampling: %d %d %d %d %d %d\n", info.h[0], info.h[1], info.h[2], info.v[0], info.v[1], info.v[2]);
    std::printf("progressive: %s\n", info.progressive ? "yes" : "no");
    return 0;
}

int RunDecode(const Args& args) {
    RequireArgs(args, 2, 2, "decode");
    RequireFreeOutput(args[1]);
    Sampling sampling;
    Bitmap bitmap = DecodeOrThrow(args[0], sampling);
    WritePpm(args[1], bitmap);
    return 0;
}

int RunReencode(const Args& args) {
    RequireArgs(args, 2, 2, "reencode");
    RequireFreeOutput(args[1]);
    Sampling sampling;
    Bitmap bitmap = DecodeOrThrow(args[0], sampling);
    JpegInfo info;  // read again: a save codes its re-encode in the file's colour space
    const int colorSpace = ReadJpegInfo(args[0], info).ok ? info.colorSpace : JCS_YCbCr;
    CodecResult r = EncodeBitmapToJpeg(args[1], bitmap, sampling, colorSpace);
    if (!r) throw CliError(CodecMessage(args[1], r));
    return 0;
}

const bool registered = RegisterCommand({"info", "FILE", "width, height, components, sampling factors, progressive", RunInfo}) &&
                        RegisterCommand({"decode", "IN.jpg OUT.ppm", "the decoded picture as binary PPM", RunDecode}) &&
                        RegisterCommand({"reencode", "IN.jpg OUT.jpg", "decode, then the full re-encode a save writes", RunReencode});

}  // namespace
}  // namespace scarlex::cli
