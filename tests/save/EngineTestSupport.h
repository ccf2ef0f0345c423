#pragma once
// Helpers for the save engine's tests: originals of any layout made with
// plain libjpeg, and a block-by-block comparison of a saved photograph with
// its original and with a reference encoding of the edited picture.

#include <algorithm>
#include <array>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "common/Bitmap.h"
#include "common/Rect.h"
#include "common/Sampling.h"
#include "support/Coefficients.h"
#include "support/TestSupport.h"

namespace scarlex::test {

struct Layout {
    std::string name;
    int components = 3;
    int h[3] = {2, 1, 1};  // one component: h[0] x v[0] is what its frame header says
    int v[3] = {2, 1, 1};
    int quality = 92;
    bool progressive = false;
    int restart = 0;  // MCUs
    bool optimize = false;
    bool arithmetic = false;
    bool rgb = false;
    // Own quantisation tables per component (natural order), or empty.
    std::vector<std::array<uint16_t, 64>> tables;

    int ImcuWidth() const { return components == 1 ? 8 : 8 * std::max({h[0], h[1], h[2]}); }
    int ImcuHeight() const { return components == 1 ? 8 : 8 * std::max({v[0], v[1], v[2]}); }
    Sampling AsSampling() const {
        return components == 1 ? Sampling{{h[0], 1, 1, v[0], 1, 1}} : Sampling{{h[0], h[1], h[2], v[0], v[1], v[2]}};
    }
};

inline void PrintTo(const Layout& l, std::ostream* os) { *os << l.name; }

Layout ColourLayout(const std::string& name, int h0, int v0, int h1 = 1, int v1 = 1, int h2 = 1, int v2 = 1);
Layout GreyLayout(const std::string& name, int h0 = 1, int v0 = 1);

// The picture encoded in the layout, with a comment when given; empty when
// the library refuses the layout.
std::vector<uint8_t> EncodeLayout(const Bitmap& bitmap, const Layout& layout, const std::string& comment = "");

// The coefficients of JPEG data in memory (through a temporary file).
CoefficientImage CoefficientsOf(const std::vector<uint8_t>& jpeg);

// Greys the pixels of `r` inside the picture, as an edit would.
void GreyRect(Bitmap& bitmap, const Rect& r);

// Block by block: every block of `out` whose pixels include one inside a
// row must equal `reference` there, and every block well away from all rows
// must equal `original`; compared dequantised (coefficient x table entry)
// or, when `quantised`, value and table entry each. Only the components
// `out` has are compared. Returns "" or the first difference.
std::string CompareBlocks(const CoefficientImage& out, const CoefficientImage& original,
                          const CoefficientImage& reference, const std::vector<Rect>& rows, bool quantised);

// Bytes of the image data: the file less its APPn and COM segments and
// anything after EOI.
long ImageDataSize(const std::vector<uint8_t>& jpeg);

}  // namespace scarlex::test
