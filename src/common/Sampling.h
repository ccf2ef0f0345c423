#pragma once
#include <array>
#include <cstdint>

namespace scarlex {

// Sampling factors of the last decoded file: h0, h1, h2, v0, v1, v2.
// Every full re-encode reuses them so its iMCU grid equals the original's.
struct Sampling {
    std::array<int32_t, 6> f{2, 1, 1, 2, 1, 1};

    int32_t H(int c) const { return f[c]; }
    int32_t V(int c) const { return f[3 + c]; }
    bool operator==(const Sampling&) const = default;
};

}  // namespace scarlex
