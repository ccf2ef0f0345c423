#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "cli/Cli.h"
#include "common/SafeWrite.h"

namespace scarlex::cli {

std::string OneLine(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\n' || c == '\r') {
            if (!out.empty() && out.back() != ' ') out += ' ';
        } else {
            out += c;
        }
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

std::string FileMessage(const std::string& file, const std::string& cause) {
    if (file.empty() || cause.find(file) != std::string::npos) return cause;
    return file + ": " + cause;
}

CliError::CliError(const std::string& file, const std::string& cause) : std::runtime_error(FileMessage(file, cause)) {}

std::string CodecMessage(const std::string& file, const CodecResult& r) {
    // The window's "can't open image / Closing..." box, said plainly.
    if (r.kind == CodecFailure::CannotOpen)
        return FileMessage(file, "can't open image" + (r.detail.empty() ? std::string() : ": " + r.detail));
    return FileMessage(file, r.error);
}

bool& ReplaceAllowed() {
    static bool yes = false;
    return yes;
}

Args& CommonOptions() {
    static Args given;
    return given;
}

void RequireFreeOutput(const std::string& path) {
    struct stat st {};
    if (ReplaceAllowed() || ::lstat(path.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) throw CliError(path + " is a directory");
    struct stat target {};
    if (::stat(path.c_str(), &target) == 0 && !S_ISREG(target.st_mode)) return;
    throw CliError(path + " already exists; add --yes to replace it");
}

std::vector<std::string>& PendingWarnings() {
    static std::vector<std::string> lines;
    return lines;
}

void PrintWarnings(const std::string& file, const CodecResult& r) {
    if (r.warnings.empty() && r.warningCount == 0) return;
    std::string line = "warning: " + FileMessage(file, r.warnings.empty() ? "damaged data" : OneLine(r.warnings.front()));
    const int more = r.warningCount - 1;
    if (more > 0) line += " (and " + std::to_string(more) + " more warning" + (more == 1 ? ")" : "s)");
    for (const std::string& earlier : PendingWarnings())
        if (earlier == line) return;
    PendingWarnings().push_back(line);
}

void WritePpm(const std::string& path, const Bitmap& bitmap) {
    // Written beside and renamed: a failure leaves no half picture.
    FileBeside out(path);
    FILE* file = out.ok() ? out.Stream() : nullptr;
    if (!file) throw CliError("cannot write " + (out.error().empty() ? path : out.error()));
    std::fprintf(file, "P6\n%d %d\n255\n", bitmap.Width(), bitmap.Height());
    std::vector<uint8_t> row(static_cast<std::size_t>(bitmap.Width()) * 3);
    for (int y = 0; y < bitmap.Height(); ++y) {
        const uint8_t* src = bitmap.Row(y);
        for (int x = 0; x < bitmap.Width(); ++x) {
            row[3 * x] = src[3 * x + 2];
            row[3 * x + 1] = src[3 * x + 1];
            row[3 * x + 2] = src[3 * x];
        }
        if (std::fwrite(row.data(), 1, row.size(), file) != row.size())
            throw CliError("cannot write " + path + ": " + std::strerror(errno));
    }
    const std::string why = out.Commit();
    if (!why.empty()) throw CliError("cannot write " + why);
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
