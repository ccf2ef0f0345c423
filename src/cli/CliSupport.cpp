#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "cli/Cli.h"

namespace scarlex::cli {

void WritePpm(const std::string& path, const Bitmap& bitmap) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), &std::fclose);
    if (!file) throw CliError("cannot write " + path + ": " + std::strerror(errno));
    std::fprintf(file.get(), "P6\n%d %d\n255\n", bitmap.Width(), bitmap.Height());
    std::vector<uint8_t> row(static_cast<std::size_t>(bitmap.Width()) * 3);
    for (int y = 0; y < bitmap.Height(); ++y) {
        const uint8_t* src = bitmap.Row(y);
        for (int x = 0; x < bitmap.Width(); ++x) {
            row[3 * x] = src[3 * x + 2];
            row[3 * x + 1] = src[3 * x + 1];
            row[3 * x + 2] = src[3 * x];
        }
        if (std::fwrite(row.data(), 1, row.size(), file.get()) != row.size())
            throw CliError("cannot write " + path + ": " + std::strerror(errno));
    }
    if (std::fflush(file.get()) != 0) throw CliError("cannot write " + path + ": " + std::strerror(errno));
}

std::vector<long> ParseIntList(const std::string& text, std::size_t count, const char* what) {
    std::vector<long> values;
    const char* p = text.c_str();
    while (true) {
        char* end = nullptr;
        errno = 0;
        long v = std::strtol(p, &end, 10);
        if (end == p || errno == ERANGE) break;
        values.push_back(v);
        p = end;
        if (*p != ',') break;
        ++p;
    }
    if (*p != '\0' || values.size() != count)
        throw CliError(std::string("bad ") + what + " '" + text + "'");
    return values;
}

}  // namespace scarlex::cli
