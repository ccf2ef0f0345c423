#pragma once
// Helpers shared by the fuzz targets: a private scratch folder per process,
// whole-file reads and writes, a size gate for hostile headers, and a plain
// libjpeg decoder that the targets use as their oracle.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace scarlex::fuzz {

// Traps, so that libFuzzer keeps the input and prints where it failed.
inline void Require(bool condition) {
    if (!condition) __builtin_trap();
}

// A folder of this process under $TMPDIR (or /tmp), made on
// first use and removed with everything in it when the process ends.
const std::string& ScratchDir();
// Removes everything inside `dir` (not the folder itself).
void EmptyFolder(const std::string& dir);
// The names in `dir`, sorted, without "." and "..".
std::vector<std::string> Listing(const std::string& dir);

void WriteBytes(const std::string& path, const uint8_t* data, std::size_t size);
std::vector<uint8_t> ReadBytes(const std::string& path);

// The header's width x height x components, or -1 when libjpeg cannot read
// a header. Used to keep inputs within what a fuzzing run can hold.
long long DeclaredSamples(const uint8_t* data, std::size_t size);
// The warnings reading the header alone gives (an odd JFIF version, say):
// a save that keeps the header's segments keeps them.
int HeaderWarnings(const uint8_t* data, std::size_t size);

// A decode straight through libjpeg from memory.
struct PlainOptions {
    J_COLOR_SPACE colorSpace = JCS_EXT_BGR;  // or JCS_GRAYSCALE
    // Off, every decoded pixel depends only on the blocks of its own iMCU.
    bool fancyUpsampling = true;
    bool blockSmoothing = true;
    // Read through libjpeg's memory source rather than its stdio source.
    // Damaged data can decode differently with the two (libjpeg-turbo's
    // fast Huffman path runs only with enough bytes buffered).
    bool memorySource = false;
};
struct PlainImage {
    bool ok = false;
    int width = 0, height = 0, components = 0;  // components of the output
    int fileComponents = 0;                     // of the file
    int fileColorSpace = JCS_UNKNOWN;           // of the file
    int maxH = 1, maxV = 1;                     // of the file
    int warnings = 0;
    std::string firstWarning;
    std::string error;
    std::vector<uint8_t> pixels;  // rows of width * components, no padding
    const uint8_t* Pixel(int x, int y) const {
        return pixels.data() + (static_cast<std::size_t>(y) * width + x) * components;
    }
};
PlainImage DecodePlain(const uint8_t* data, std::size_t size, const PlainOptions& options = {});
PlainImage DecodePlainFile(const std::string& path, const PlainOptions& options = {});

// The largest |coefficient x table entry| of any block of the file, or -1
// when its coefficients cannot be read. Eight-bit samples never need more
// than about 1024; a damaged file can hold far more.
long MaxDequantised(const uint8_t* data, std::size_t size);

// Reads a little-endian number of `n` bytes (n <= 8) from a cursor over
// the input; past the end it reads zeros.
class ByteReader {
public:
    ByteReader(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    uint64_t Take(int n);
    uint8_t Byte() { return static_cast<uint8_t>(Take(1)); }
    bool Bit() { return Take(1) & 1; }
    std::size_t Left() const { return size_ - pos_; }
    const uint8_t* Rest() const { return data_ + pos_; }

private:
    const uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

}  // namespace scarlex::fuzz
