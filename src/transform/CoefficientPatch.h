#pragma once
// One pass over an original photograph at the level of quantised DCT
// coefficients: its coefficient arrays are read once, areas of freshly
// coded blocks (small JPEGs with the same component layout) are pasted over
// them, and the result is written once, into memory or through a sink.
//
// Blocks outside the pasted areas are never decoded to pixels. Under
// TablePolicy::Harmonise the output's tables are the element-wise greatest
// common divisors of the original's and the patches' (so every block keeps
// its dequantised values); under TablePolicy::KeepOriginal the patches must
// have been coded with the original's own tables and no block is rescaled.

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "codec/JpegError.h"
#include "common/ByteSink.h"

namespace scarlex {

enum class TablePolicy {
    Harmonise,     // common tables; every block rescaled to them
    KeepOriginal,  // the original's tables; patches must use them already
};

// How the output's entropy coding is chosen.
enum class OutputCoding {
    // Sequential Huffman coding with the standard tables, no restart
    // markers: what jpeg_copy_critical_parameters sets up.
    Plain,
    // The original's scans (progressive or not), arithmetic coding when it
    // had it, and its restart interval; Huffman tables are the original's
    // when they can code any block, else optimised.
    LikeOriginal,
};

// Header facts of the original.
struct PatchSourceFacts {
    int width = 0, height = 0;
    int components = 0;
    int h[4] = {1, 1, 1, 1}, v[4] = {1, 1, 1, 1};  // as the frame header says
    // The grid pasted areas align to: 8 x the largest factors, or the
    // 8 x 8 blocks of a single-component picture, whatever its factors say.
    int imcuWidth = 8, imcuHeight = 8;
    int colorSpace = 0;  // J_COLOR_SPACE the decoder sees
    bool progressive = false;
    bool arithmetic = false;
};

// What the writer chose.
enum class HuffmanChoice { Standard, Original, Optimised, None /* arithmetic */ };
struct PatchWriteReport {
    bool progressive = false;
    bool arithmetic = false;
    unsigned restartInterval = 0;
    int scans = 1;
    HuffmanChoice huffman = HuffmanChoice::Standard;
    bool scriptFallback = false;  // the original's scan script was refused; a standard one was used
    bool tablesChanged = false;   // harmonised tables differ from the original's
};

// Sequential scans, one per component, for factors whose interleaved MCU
// would hold more blocks than an encoder may write (10); null when one
// interleaved scan will do. The decoder reads such files; they are written
// back the same way.
const jpeg_scan_info* SeparateScansFor(int components, const int h[], const int v[], int* count);

class CoefficientPatcher {
public:
    explicit CoefficientPatcher(TablePolicy policy);
    ~CoefficientPatcher();
    CoefficientPatcher(const CoefficientPatcher&) = delete;
    CoefficientPatcher& operator=(const CoefficientPatcher&) = delete;

    // Reads the original's header, from memory (which must outlive this
    // object) or from a file (kept open until this object goes).
    CodecResult Open(std::span<const uint8_t> original);
    CodecResult OpenFile(const std::string& path);
    const PatchSourceFacts& Facts() const { return facts_; }

    // Entropy-decodes the whole original, once.
    CodecResult ReadCoefficients();
    // The quantisation table component ci was coded with (natural order);
    // valid after ReadCoefficients.
    std::array<uint16_t, 64> ComponentTable(int ci) const;

    // Pastes every block of `patch` with its top left corner at iMCU
    // (column, row) of the grid. Later pastes go over earlier ones.
    CodecResult Paste(std::span<const uint8_t> patch, int column, int row);

    // Writes the patched photograph: SOI, the library's JFIF (or Adobe)
    // header, the original's comment segments, then the image. `out` is
    // replaced.
    CodecResult Write(OutputCoding coding, std::vector<uint8_t>& out, PatchWriteReport* report = nullptr);
    // The same into `sink`, in pieces of at most 16 KiB, holding no more
    // of the output than that. A sink that refuses a piece ends the write
    // ("the output could not be written"); what it took stays taken.
    CodecResult Write(OutputCoding coding, const ByteSink& sink, PatchWriteReport* report = nullptr);

    struct State;

private:
    CodecResult Finish(bool ok);

    TablePolicy policy_;
    PatchSourceFacts facts_;
    std::unique_ptr<State> s_;
    std::string path_;
    std::span<const uint8_t> bytes_;
    std::size_t reserve_ = 0;  // first guess at the output's size
};

}  // namespace scarlex
