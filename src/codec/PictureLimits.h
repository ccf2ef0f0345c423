#pragma once
// How large a photograph the program agrees to open. A JPEG header can
// declare up to 65500 x 65500 pixels in a few bytes; every buffer that
// grows with the picture is sized only after the declared size has passed
// these limits.

#include <cstdint>
#include <string>

namespace scarlex {

struct PictureLimits {
    uint64_t maxPixels = 0;  // width x height
    uint64_t maxMemory = 0;  // bytes libjpeg may take for one picture (max_memory_to_use)
};

inline constexpr uint64_t kDefaultMaxMegapixels = 500;

// Half of the physical memory, or 0 when it cannot be found out.
uint64_t HalfPhysicalMemory();
// The smaller of 500 megapixels and what half of the physical memory holds
// at three bytes a pixel (the working bitmap); libjpeg gets that half.
PictureLimits DefaultPictureLimits();

// The limits every decode and transform of this process applies. Starts at
// the defaults.
const PictureLimits& CurrentPictureLimits();
void SetPictureLimits(const PictureLimits& limits);
// Sets the pixel limit to `megapixels` (0: the default) and keeps the
// memory limit.
void SetMaxMegapixels(uint64_t megapixels);

// Whether a width x height picture with `components` components is within
// the limits: it is weighed as the working bitmap holds it, three samples
// a pixel, with any further components on top.
bool PictureWithinLimits(uint64_t width, uint64_t height, int components,
                         const PictureLimits& limits = CurrentPictureLimits());

// "" when a width x height picture with `components` components is within
// the limits, otherwise the message: "NAME declares 60000 × 60000 pixels
// (3600 MP); the limit is 500 MP".
std::string CheckPictureSize(const std::string& name, uint64_t width, uint64_t height, int components,
                             const PictureLimits& limits = CurrentPictureLimits());

// "3600 MP", "0.5 MP": megapixels as the messages write them.
std::string FormatMegapixels(uint64_t pixels);

}  // namespace scarlex
