#pragma once
// Loading a photograph as the window does: decode it and keep its metadata
// segments.

#include <cstdio>
#include <string>

#include "cli/Cli.h"
#include "codec/JpegCodec.h"
#include "metadata/ImgData.h"
#include "save/SaveCommands.h"

namespace scarlex::cli {

struct LoadedPhotograph {
    Bitmap bitmap;
    Sampling sampling;
    TimgData meta{255};
    FileFingerprint file;  // the file as it was read

    void AttachMetadata(SaveDocument& doc) const { UseMetadata(doc, meta); }
};

inline void LoadPhotograph(const std::string& path, LoadedPhotograph& photo) {
    CodecResult r = DecodeJpegToBitmap(path, photo.bitmap, photo.sampling, &photo.file);
    if (!r) throw CliError(CodecMessage(path, r));
    PrintWarnings(path, r);
    photo.meta.ProcessFile(path);
}

}  // namespace scarlex::cli
