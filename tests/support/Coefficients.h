#pragma once
// Reads a JPEG file's quantised DCT coefficients and tables, for tests that
// check lossless operations block by block.

#include <cstdio>
#include <jpeglib.h>

#include <array>
#include <string>
#include <vector>

namespace scarlex::test {

struct ComponentCoefficients {
    int h = 1, v = 1;
    int widthInBlocks = 0, heightInBlocks = 0;
    std::array<int, 64> quant{};  // natural order
    std::vector<JCOEF> coefs;     // row-major blocks of 64

    const JCOEF* Block(int bx, int by) const { return coefs.data() + (static_cast<std::size_t>(by) * widthInBlocks + bx) * 64; }
    int Dequantised(int bx, int by, int k) const { return Block(bx, by)[k] * quant[k]; }
};

struct CoefficientImage {
    bool ok = false;
    std::string error;
    int width = 0, height = 0;
    int maxH = 1, maxV = 1;  // 1 and 1 for a single component
    std::vector<ComponentCoefficients> components;
};

CoefficientImage ReadCoefficients(const std::string& path);

}  // namespace scarlex::test
