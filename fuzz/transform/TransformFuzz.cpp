// libFuzzer target for the lossless crop and drop drivers.
//
// Input: byte 0 selects crop (even) or drop (odd); bytes 1..8 are four
// little-endian 16-bit numbers (crop: width, height, x, y; drop: x, y);
// bytes 9..10 split the rest into the source and, for a drop, the patch.
// Any outcome but a crash, a hang or a leak is fine; an output must exist
// exactly when the driver reports success.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "codec/JpegCodec.h"
#include "transform/LosslessFiles.h"

namespace {

const std::string& Dir() {
    static const std::string dir = [] {
        char name[] = "/tmp/scarlex-fuzz-XXXXXX";
        if (!::mkdtemp(name)) std::abort();
        return std::string(name);
    }();
    return dir;
}

void Write(const std::string& path, const uint8_t* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
}

// Keeps the memory a hostile header can ask for within the fuzzer's limits.
bool Reasonable(const std::string& path) {
    scarlex::JpegInfo info;
    if (!scarlex::ReadJpegInfo(path, info)) return true;  // fails early anyway
    return static_cast<long long>(info.width) * info.height <= 4000000LL;
}

unsigned U16(const uint8_t* p) { return unsigned(p[0]) | unsigned(p[1]) << 8; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 11) return 0;
    const bool drop = data[0] & 1;
    const unsigned a = U16(data + 1) % 4096, b = U16(data + 3) % 4096, c = U16(data + 5), d = U16(data + 7);
    size_t split = U16(data + 9);
    data += 11;
    size -= 11;
    if (split > size) split = size;

    const std::string src = Dir() + "/src.jpg", patch = Dir() + "/patch.jpg", out = Dir() + "/out.jpg";
    ::unlink(out.c_str());
    scarlex::CodecResult r;
    if (drop) {
        Write(src, data, split);
        Write(patch, data + split, size - split);
        if (!Reasonable(src) || !Reasonable(patch)) return 0;
        r = scarlex::DropJpegFile(src, patch, out, int(c % 4096), int(d % 4096));
    } else {
        Write(src, data, size);
        if (!Reasonable(src)) return 0;
        r = scarlex::CropJpegFile(src, out, int(a), int(b), int(c % 4096), int(d % 4096));
    }
    struct stat st;
    const bool exists = ::stat(out.c_str(), &st) == 0;
    if (exists != r.ok) std::abort();
    if (!r.ok && r.error.empty()) std::abort();
    return 0;
}
