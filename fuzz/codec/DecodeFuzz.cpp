// libFuzzer target: the decoder bridge (file to working bitmap) over any
// bytes. A decode that succeeds must give exactly the pixels plain libjpeg
// gives for the same bytes (when they are undamaged), warnings where it
// gives warnings, the header's size and sampling, three equal bytes per
// pixel for greyscale, and untouched row padding. A decode that fails must
// say why and leave the caller's bitmap and sampling as they were;
// four-component files are always refused.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "FuzzSupport.h"
#include "codec/JpegCodec.h"

using namespace scarlex;
using scarlex::fuzz::Require;

namespace {

// Keeps a run within the fuzzer's memory; hostile sizes have their own tests.
constexpr long long kMaxSamples = 3LL << 20;

Bitmap Sentinel() {
    Bitmap b(5, 3);
    for (int y = 0; y < b.Height(); ++y)
        for (int x = 0; x < b.Width() * 3; ++x) b.Row(y)[x] = static_cast<uint8_t>(17 * x + y);
    return b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const long long samples = fuzz::DeclaredSamples(data, size);
    if (samples > kMaxSamples) return 0;
    const std::string path = fuzz::ScratchDir() + "/in.jpg";
    fuzz::WriteBytes(path, data, size);

    JpegInfo info;
    const bool header = ReadJpegInfo(path, info).ok;
    Require(header == (samples >= 0));

    const Bitmap before = Sentinel();
    const Sampling beforeSampling{{7, 6, 5, 4, 3, 2}};
    Bitmap bitmap = before;
    Sampling sampling = beforeSampling;
    const CodecResult r = DecodeJpegToBitmap(path, bitmap, sampling);

    if (!r.ok) {
        Require(!r.error.empty());
        Require(bitmap.SamePixels(before) && sampling == beforeSampling);
        if (header && info.components == 4) Require(r.error.find("four colour components") != std::string::npos);
        // What the bridge takes on, it must not refuse where libjpeg succeeds.
        if (header && (info.components == 1 || info.components == 3)) {
            fuzz::PlainOptions o;
            o.colorSpace = info.components == 3 ? JCS_EXT_BGR : JCS_GRAYSCALE;
            Require(!fuzz::DecodePlain(data, size, o).ok);
        }
        return 0;
    }

    Require(header && (info.components == 1 || info.components == 3));
    Require(bitmap.Width() == info.width && bitmap.Height() == info.height);
    for (int v : sampling.f) Require(v >= 1 && v <= 4);
    if (info.components == 3) {
        for (int c = 0; c < 3; ++c) Require(sampling.H(c) == info.h[c] && sampling.V(c) == info.v[c]);
    } else {
        Require(sampling.H(1) == 1 && sampling.H(2) == 1 && sampling.V(1) == 1 && sampling.V(2) == 1);
    }

    fuzz::PlainOptions o;
    o.colorSpace = info.components == 3 ? JCS_EXT_BGR : JCS_GRAYSCALE;
    const fuzz::PlainImage plain = fuzz::DecodePlain(data, size, o);
    Require(plain.ok && plain.width == bitmap.Width() && plain.height == bitmap.Height());
    // How many warnings damaged data gives depends on how the compressed
    // bytes reach the library (libjpeg-turbo decodes a block through its
    // fast path only when enough bytes are buffered), so only whether there
    // were any is compared; the pixels must be the same either way.
    Require((plain.warnings > 0) == (r.warningCount > 0));
    Require(r.warningCount == 0 || !r.warnings.empty());

    // Damaged data is decoded by libjpeg-turbo in a way that depends on how
    // many bytes its source has buffered, so the bridge (its own buffered
    // source) and the plain decode (stdio) may differ there; only undamaged
    // data must give the same pixels.
    const bool exact = plain.warnings == 0;
    const std::size_t used = static_cast<std::size_t>(bitmap.Width()) * 3;
    for (int y = 0; y < bitmap.Height(); ++y) {
        const uint8_t* row = bitmap.Row(y);
        for (std::size_t i = used; i < bitmap.Stride(); ++i) Require(row[i] == 0);
        if (!exact) continue;
        if (info.components == 3) {
            Require(std::memcmp(row, plain.Pixel(0, y), used) == 0);
        } else {
            for (int x = 0; x < bitmap.Width(); ++x) {
                const uint8_t g = *plain.Pixel(x, y);
                Require(row[3 * x] == g && row[3 * x + 1] == g && row[3 * x + 2] == g);
            }
        }
    }
    return 0;
}
