#pragma once
// Helpers shared by the test suites: temporary folders, the real
// photographs of the shared test data, external tools used as oracles,
// and a small encoder that makes test JPEGs of any sampling.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "common/Bitmap.h"

namespace scarlex::test {

namespace fs = std::filesystem;

// A fresh folder under the system's temporary folder, removed at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return path_; }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

private:
    fs::path path_;
};

// The shared photographs folder, or "" when it is absent.
std::string TestDataDir();
// The path of one shared photograph; the calling test is skipped with a
// clear message when the folder or the file is absent.
#define SCARLEX_TESTDATA_OR_SKIP(var, name)                                              \
    std::string var = ::scarlex::test::TestDataFile(name);                               \
    if (var.empty()) GTEST_SKIP() << "shared test data not present: " << (name)
std::string TestDataFile(const std::string& name);
// Every *.jpg in the shared folder (empty when absent), sorted.
std::vector<std::string> TestDataJpegs();

std::vector<uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// Runs a shell command; returns its exit status, and its stdout in *out.
int RunShell(const std::string& command, std::string* out = nullptr);
bool HaveTool(const std::string& name);
#define SCARLEX_REQUIRE_TOOL(name) \
    if (!::scarlex::test::HaveTool(name)) GTEST_SKIP() << "tool not installed: " << (name)
std::string Quote(const std::string& s);
std::string CliPath();

// A photo-like picture: smooth gradients, edges, noise and some red areas,
// deterministic for a given seed.
Bitmap MakePhotoLike(int width, int height, uint32_t seed = 1);

struct TestJpegOptions {
    int quality = 90;
    int h[3] = {2, 1, 1};
    int v[3] = {2, 1, 1};
    bool grayscale = false;
    // A greyscale file's own factors in its frame header (1 and 1 unless a
    // writer chose otherwise; one component is coded a block at a time anyway).
    int greyH = 1, greyV = 1;
    bool rgb = false;  // three components coded as red, green and blue (Adobe marker)
    bool progressive = false;
    int restartInterval = 0;  // in MCUs
    bool optimize = false;
    // Custom quantisation tables (64 entries, natural order) or empty.
    std::vector<uint16_t> lumaTable;
    std::vector<uint16_t> chromaTable;
    std::string comment;
};
// Encodes `bitmap` (blue first) to `path` with plain libjpeg; fails the test
// on error.
void WriteTestJpeg(const std::string& path, const Bitmap& bitmap, const TestJpegOptions& options);

// Reads a binary PPM/PGM (P6 or P5) into a blue-first bitmap (greyscale
// spread to three equal bytes).
Bitmap ReadPnm(const std::string& path);

// First differing pixel, described, or "" when equal.
std::string FirstPixelDifference(const Bitmap& a, const Bitmap& b);

}  // namespace scarlex::test
