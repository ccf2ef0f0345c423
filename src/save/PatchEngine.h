#pragma once
// The one-pass save: the original's coefficient arrays are read once; for
// every undo row, oldest first, the iMCU-aligned area around its rectangle
// is encoded alone from the working bitmap and pasted over the original's
// blocks (later rows over earlier ones); the tables are brought together
// once and the photograph is written once, through a sink (the metadata
// writer in front of the file) or into memory.
//
// Default mode: the areas are coded as the full re-encode codes them
// (quality 75, the original's sampling), so the output is the one the
// crop-and-drop chain gives, byte for byte, without its full re-encode and
// its rewrite per row. Keep-quality mode: the areas are coded with the
// original's own tables, so no block is requantised, and the file keeps the
// original's kind of coding (see OutputCoding::LikeOriginal).

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "codec/JpegError.h"
#include "common/ByteSink.h"
#include "common/Bitmap.h"
#include "common/Rect.h"
#include "common/Sampling.h"

namespace scarlex {

enum class PatchMode {
    Default,      // the described save: areas at quality 75, common tables
    KeepQuality,  // areas with the original's tables; nothing requantised
};

// An area in bitmap pixels, on the grid: its left and top on iMCU
// boundaries, its size whole iMCUs or reaching the picture's edge.
struct PatchArea {
    int x = 0, y = 0, width = 0, height = 0;
    bool operator==(const PatchArea&) const = default;
};

// The grid areas align to and the margin added to the right of and below
// every row's rectangle.
struct PatchGrid {
    int imcuWidth = 16, imcuHeight = 16;
    int marginX = 17, marginY = 17;
};

// The grid of the decoder's blocks: 8 x the largest sampling factors, or
// 8 x 8 for a single component whatever its factors say. The margin is 17
// pixels while the iMCU is at most 16, and iMCU + 1 beyond that, so the
// whole iMCUs that are replaced always reach past the rectangle.
PatchGrid GridFor(int imcuWidth, int imcuHeight);

// The area one row needs: the rectangle clipped to the picture (a grey
// circle may run past any edge), widened by the margin to the right and
// down (not past the picture), its left and top moved down to the grid,
// and cut to whole iMCUs, except that an area reaching the right or bottom
// edge takes the partial iMCU there. Nothing when the rectangle lies
// wholly outside the picture.
std::optional<PatchArea> AreaForRow(const Rect& row, int width, int height, const PatchGrid& grid);

// How an area is encoded. Rows come from the bitmap blue first, as in the
// full re-encode.
struct AreaCoding {
    int components = 3;     // 1: greyscale; 3: colour
    bool rgb = false;       // three components coded as RGB rather than YCbCr
    int h[3] = {2, 1, 1};   // sampling factors of a colour area
    int v[3] = {2, 1, 1};
    bool ownTables = false;  // false: quality 75 as the full re-encode
    std::array<std::array<uint16_t, 64>, 3> tables{};  // per component, natural order, when ownTables
};

// Encodes `area` of `bitmap` alone into a JPEG in memory. For an area on the
// grid this gives exactly the quantised coefficients an encoding of the
// whole bitmap with the same coding gives there: colour conversion,
// downsampling and the DCT work within an iMCU, and an area that reaches
// the picture's edge is padded as the whole picture is.
CodecResult EncodeArea(const Bitmap& bitmap, const PatchArea& area, const AreaCoding& coding, std::vector<uint8_t>& jpeg);

struct PatchEngineReport {
    int rows = 0;             // undo rows given
    int appliedRows = 0;      // rows whose area was encoded and pasted
    long encodedImcus = 0;    // iMCUs encoded, summed over the rows
    long replacedImcus = 0;   // distinct iMCUs replaced in the output
    PatchGrid grid;
    bool unchanged = false;   // nothing to replace: the output is the original's bytes
    bool tablesChanged = false;  // default mode: the common tables differ from the original's
    bool progressive = false;    // how the output is coded
    bool arithmetic = false;
    unsigned restartInterval = 0;
    bool optimisedHuffman = false;  // Huffman tables made for this file
    bool originalHuffman = false;   // the original's Huffman tables reused
    std::vector<PatchArea> areas;   // in the rows' order
};

// The save's image data for `rows` (the undo rows' rectangles, oldest
// first). The bitmap must have the original's size and, for a colour
// original, its sampling factors. With no row inside the picture the
// output is the original's bytes as they are. Warnings about damaged data
// in the original come back in the result, as the codec's do.
//
// The output goes to `sink` as it is made, in pieces; nothing beyond the
// engine's 16 KiB stage is held. On failure the sink may have taken part
// of it: its receiver must drop what it got.
CodecResult BuildPatchedJpegTo(std::span<const uint8_t> original, const Bitmap& bitmap, const Sampling& sampling,
                               const std::vector<Rect>& rows, PatchMode mode, const ByteSink& sink,
                               PatchEngineReport* report = nullptr);
// The same gathered into `out`; on failure `out` is left as it was.
CodecResult BuildPatchedJpeg(std::span<const uint8_t> original, const Bitmap& bitmap, const Sampling& sampling,
                             const std::vector<Rect>& rows, PatchMode mode, std::vector<uint8_t>& out,
                             PatchEngineReport* report = nullptr);
// The same, reading the original from its file (streamed, not held).
CodecResult BuildPatchedJpegFromFile(const std::string& original, const Bitmap& bitmap, const Sampling& sampling,
                                     const std::vector<Rect>& rows, PatchMode mode, std::vector<uint8_t>& out,
                                     PatchEngineReport* report = nullptr);

}  // namespace scarlex
