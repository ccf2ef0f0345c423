#pragma once
// The check a coefficient writer makes before it writes: every value must
// be one the entropy coder can represent for 8-bit data. With Huffman
// coding a DC difference needs at most 11 bits, an AC value at most 10; the
// arithmetic decoder takes any magnitude up to 2^15, which every AC value
// keeps but a DC difference of damaged 16-bit values may not. The library
// does not refuse values beyond that on every path; it writes a stream no
// decoder can read ("bad Huffman code", "bad arithmetic code").
// Harmonising quantisation tables multiplies coefficients and can push them
// there; a damaged original may hold them already.

#include <cstdio>

#include <jpeglib.h>

namespace scarlex {

inline constexpr long kMaxDcDifference = 2047;  // 11 bits
inline constexpr long kMaxAcValue = 1023;       // 10 bits
inline constexpr long kMaxArithmeticDcDifference = 32768;

struct UncodableCoefficient {
    bool found = false;
    int component = 0;
    JDIMENSION blockX = 0, blockY = 0;
    int position = 0;  // 0: the DC difference; 1..63: AC, natural order
    long value = 0;    // the DC difference or the AC value
};

// Looks at every block that `dst` will write from `arrays` (one per
// component, held by `owner`'s memory manager), in the order the scans
// code them: DC differences along each scan's block order with its
// restart intervals, and every AC value. `dst` needs its image size,
// components, sampling factors, restart settings and scan script set, as
// after jpeg_copy_critical_parameters and any adjustment; it may be
// called before or after jpeg_write_coefficients.
UncodableCoefficient FindUncodableCoefficient(j_common_ptr owner, j_compress_ptr dst, jvirt_barray_ptr* arrays);

}  // namespace scarlex
