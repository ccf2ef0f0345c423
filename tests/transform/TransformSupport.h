#pragma once
// Helpers for the transform tests: whole-file coefficient dumps, the
// jpegtran oracle, and byte comparisons that name the first difference.

#include <cstdint>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace scarlex::test {

struct ComponentDump {
    int h = 0, v = 0;
    int widthInBlocks = 0, heightInBlocks = 0;
    std::vector<uint16_t> table;  // 64 entries, natural order
    std::vector<int16_t> coef;    // widthInBlocks * heightInBlocks * 64
    int At(int bx, int by, int k) const { return coef[(size_t(by) * widthInBlocks + bx) * 64 + k]; }
};

struct JpegDump {
    bool ok = false;
    std::string error;
    int width = 0, height = 0;
    std::vector<ComponentDump> comps;
    // Marker codes of the segments before the first SOS, in file order.
    std::vector<int> markers;
    std::vector<std::string> comments;
};

JpegDump DumpJpeg(const std::string& path);

// Runs jpegtran with `args` writing to `out`; returns its exit status.
int Jpegtran(const std::string& args, const std::string& out, std::string* err = nullptr);

// "" when equal, else where the two files first differ.
std::string FirstByteDifference(const std::string& a, const std::string& b);

// A test JPEG of a photo-like picture.
void MakeJpeg(const std::string& path, int width, int height, const TestJpegOptions& options, uint32_t seed = 1);

// The standard tables scaled like jpeg_set_quality does (natural order).
std::vector<uint16_t> ScaledTable(bool chroma, int quality);

}  // namespace scarlex::test
