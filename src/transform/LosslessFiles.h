#pragma once
// File-level lossless crop and drop: the drivers the save chain calls.
//
// Both write the result beside `output` under a temporary name and put it
// in place only when complete, so a failure never leaves an output file
// and never damages a file already at `output`. The output carries the
// source's comment markers and no other marker segment (see
// LosslessTransform.h for how it is coded).
//
// Pictures over CurrentPictureLimits() are refused from their headers
// (kind TooLarge), and an output holding a coefficient the entropy coder
// cannot represent is never written (kind Uncodable).
//
// Errors are reported, not fatal: the result's error is one line, the
// path of the file concerned followed by the library's or the module's
// message ("a.jpg: Invalid crop request"). Warnings (corrupt or truncated
// entropy-coded data) let the operation finish; they are collected in the
// result, as the codec does.

#include <string>

#include "codec/JpegError.h"
#include "common/SafeWrite.h"

namespace scarlex {

// Writes the region width x height at (x, y) of `input` to `output`. The
// region is widened left and up to the iMCU grid; a region larger than the
// source is allowed when the source fits inside it (grey around it).
CodecResult CropJpegFile(const std::string& input, const std::string& output, int width, int height, int x, int y,
                         const PlaceOptions& place = {});

// Writes `source` to `output` with the whole iMCUs of `patch` dropped in at
// (x, y) (moved right and down to the iMCU grid); the region's size is the
// patch's own. Differing quantisation tables are harmonised losslessly.
CodecResult DropJpegFile(const std::string& source, const std::string& patch, const std::string& output, int x, int y,
                         const PlaceOptions& place = {});

}  // namespace scarlex
