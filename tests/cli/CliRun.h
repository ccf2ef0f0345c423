#pragma once
// Running scarlex-cli with its two output streams kept apart.

#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace scarlex::test {

struct CliRun {
    int status = -1;
    std::string out;
    std::vector<std::string> errLines;
    std::string err() const {
        std::string all;
        for (const std::string& l : errLines) all += l + "\n";
        return all;
    }
};

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return lines;
}

// Runs `scarlex-cli ARGS` in `folder` (so relative names work there).
inline CliRun RunCli(const std::string& folder, const std::string& args, const std::string& scratch) {
    CliRun r;
    const std::string errFile = scratch + "/stderr.txt";
    r.status = RunShell("cd " + Quote(folder) + " && " + Quote(CliPath()) + " " + args + " 2>" + Quote(errFile), &r.out);
    std::string err;
    for (uint8_t c : ReadFileBytes(errFile)) err += char(c);
    r.errLines = Lines(err);
    return r;
}

// The bytes of a JPEG with the frame header's size rewritten.
inline std::vector<uint8_t> WithDeclaredSize(std::vector<uint8_t> bytes, unsigned width, unsigned height) {
    for (std::size_t i = 2; i + 9 < bytes.size(); i += 2 + (std::size_t(bytes[i + 2]) << 8 | bytes[i + 3]))
        if (bytes[i + 1] >= 0xC0 && bytes[i + 1] <= 0xC2) {
            bytes[i + 5] = uint8_t(height >> 8), bytes[i + 6] = uint8_t(height);
            bytes[i + 7] = uint8_t(width >> 8), bytes[i + 8] = uint8_t(width);
            break;
        }
    return bytes;
}

}  // namespace scarlex::test
