#pragma once
// Loading a photograph as the window does: decode it and keep its metadata
// segments.

#include <cstdio>
#include <string>

#include "cli/Cli.h"
#include "codec/JpegCodec.h"
#include "metadata/ImageInfo.h"
#include "metadata/ImgData.h"
#include "save/SaveCommands.h"

namespace scarlex::cli {

struct LoadedPhotograph {
    Bitmap bitmap;
    Sampling sampling;
    TimgData meta{255};
    FileFingerprint file;  // the file as it was read
    int orientation = 1;  // EXIF Orientation; 1 (upright) when the file has none

    void AttachMetadata(SaveDocument& doc) const { UseMetadata(doc, meta); }
};

inline void LoadPhotograph(const std::string& path, LoadedPhotograph& photo) {
    CodecResult r = DecodeJpegToBitmap(path, photo.bitmap, photo.sampling, &photo.file);
    if (!r) throw CliError(CodecMessage(path, r));
    PrintWarnings(path, r);
    photo.meta.ProcessFile(path);
    const TImageInfo* exif = photo.meta.ExifInfo();
    photo.orientation = exif && exif->Orientation() != 0 ? exif->Orientation() : 1;
}

}  // namespace scarlex::cli
