#pragma once
// The bridge between JPEG files and the working bitmap.

#include <cstdint>
#include <span>
#include <string>

#include "codec/JpegError.h"
#include "codec/PictureLimits.h"
#include "common/Bitmap.h"
#include "common/Fingerprint.h"
#include "common/SafeWrite.h"
#include "common/Sampling.h"

namespace scarlex {

// Shown when a file cannot be opened for reading or writing.
inline constexpr const char* kCantOpenImage = "can't open image\nClosing...";

// Decodes the whole file into `bitmap` (blue, green, red) and records the
// file's sampling factors. Greyscale files decode to three equal bytes per
// pixel with sampling 1x1 for all three (their iMCU is one block, whatever
// the header's factor); four-component files are refused.
// On failure `bitmap` and `sampling` are left exactly as they were.
// A picture over CurrentPictureLimits() is refused from its header, before
// anything that grows with it is allocated (kind TooLarge). With `loaded`,
// a success also fingerprints the bytes read (the whole file).
CodecResult DecodeJpegToBitmap(const std::string& name, Bitmap& bitmap, Sampling& sampling,
                               FileFingerprint* loaded = nullptr);
// The same from bytes in memory; `name` is used in messages.
CodecResult DecodeJpegBytesToBitmap(std::span<const uint8_t> bytes, Bitmap& bitmap, Sampling& sampling,
                                    const std::string& name = "the photograph");

// "NAME is a directory, not a JPEG file".
std::string FolderMessage(const std::string& name);

// Encodes the whole bitmap: quality 75, standard tables, JFIF, sequential,
// no restarts, with `sampling` in place of the default factors. The file is
// written beside its final name and put in place only when complete, so a
// failure never leaves a half-written file or damages one already there.
// `fileColorSpace` JCS_RGB codes red, green and blue as they are (with an
// Adobe marker), as the rare photograph that keeps RGB is coded; anything
// else gives YCbCr.
CodecResult EncodeBitmapToJpeg(const std::string& name, const Bitmap& bitmap, const Sampling& sampling,
                               int fileColorSpace = JCS_YCbCr, const PlaceOptions& place = {});

// Header facts, for `scarlex-cli info` and for tests.
struct JpegInfo {
    int width = 0;
    int height = 0;
    int components = 0;
    int h[4] = {0, 0, 0, 0};
    int v[4] = {0, 0, 0, 0};
    bool progressive = false;
    bool arithmetic = false;
    int colorSpace = 0;  // J_COLOR_SPACE of the file
};
CodecResult ReadJpegInfo(const std::string& name, JpegInfo& info);

// Row copies between a codec row buffer (blue-first triples) and the bitmap.
void CopyRowToBitmap(Bitmap& bitmap, const JSAMPLE* row, int rowLength, int y);
void CopyRowFromBitmap(const Bitmap& bitmap, JSAMPLE* row, int y);

}  // namespace scarlex
