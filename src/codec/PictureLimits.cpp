#include "codec/PictureLimits.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>


namespace scarlex {

namespace {

constexpr uint64_t kMega = 1000000;

PictureLimits& Current() {
    static PictureLimits limits = DefaultPictureLimits();
    return limits;
}

}  // namespace

uint64_t HalfPhysicalMemory() {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return 0;
    return static_cast<uint64_t>(pages) / 2 * static_cast<uint64_t>(pageSize);
}

PictureLimits DefaultPictureLimits() {
    PictureLimits limits;
    limits.maxPixels = kDefaultMaxMegapixels * kMega;
    limits.maxMemory = HalfPhysicalMemory();
    // The working bitmap alone takes three bytes a pixel.
    if (limits.maxMemory != 0) limits.maxPixels = std::min(limits.maxPixels, limits.maxMemory / 3);
    return limits;
}

const PictureLimits& CurrentPictureLimits() { return Current(); }

void SetPictureLimits(const PictureLimits& limits) { Current() = limits; }

void SetMaxMegapixels(uint64_t megapixels) {
    // Beyond what any JPEG header can declare.
    const uint64_t most = 10000000;
    Current().maxPixels = megapixels == 0 ? DefaultPictureLimits().maxPixels : std::min(megapixels, most) * kMega;
}

std::string FormatMegapixels(uint64_t pixels) {
    char text[48];
    if (pixels >= 10 * kMega || pixels % kMega == 0) {
        std::snprintf(text, sizeof text, "%llu MP", static_cast<unsigned long long>((pixels + kMega / 2) / kMega));
    } else {
        // One decimal, never shown as 0.0 for a picture that has pixels.
        unsigned long long tenths = (pixels + kMega / 20) / (kMega / 10);
        if (tenths == 0) tenths = 1;
        std::snprintf(text, sizeof text, "%llu.%llu MP", tenths / 10, tenths % 10);
    }
    return text;
}

bool PictureWithinLimits(uint64_t width, uint64_t height, int components, const PictureLimits& limits) {
    if (limits.maxPixels == 0) return true;
    const uint64_t samples = static_cast<uint64_t>(std::max(components, 3));
    // Declared sizes are at most 65535 on a side, so nothing overflows.
    return width * height * samples <= limits.maxPixels * 3;
}

std::string CheckPictureSize(const std::string& name, uint64_t width, uint64_t height, int components,
                             const PictureLimits& limits) {
    if (PictureWithinLimits(width, height, components, limits)) return {};
    return name + " declares " + std::to_string(width) + " \u00d7 " + std::to_string(height) + " pixels (" +
           FormatMegapixels(width * height) + "); the limit is " + FormatMegapixels(limits.maxPixels);
}

}  // namespace scarlex
