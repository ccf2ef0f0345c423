#include "common/Paths.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace scarlex {

namespace {
std::size_t NameStart(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? 0 : slash + 1;
}
}  // namespace

std::string ExtractFilePath(const std::string& path) { return path.substr(0, NameStart(path)); }

std::string ExtractFileName(const std::string& path) { return path.substr(NameStart(path)); }

std::string ExtractFileExt(const std::string& path) {
    std::size_t start = NameStart(path);
    std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || dot < start) return {};
    return path.substr(dot);
}

std::string ChangeFileExt(const std::string& path, const std::string& ext) {
    std::size_t start = NameStart(path);
    std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || dot < start) return path + ext;
    return path.substr(0, dot) + ext;
}

bool SamePath(const std::string& a, const std::string& b) { return a == b; }

std::string NormalisedPath(const std::string& path) {
    if (path.empty()) return path;
    std::error_code ec;
    std::filesystem::path p = std::filesystem::weakly_canonical(std::filesystem::absolute(path, ec), ec);
    if (ec) p = std::filesystem::absolute(path, ec).lexically_normal();
    std::string text = p.string();
    // "dir/" and "dir" are one folder.
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    return text;
}

bool SameFile(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty()) return false;
    struct stat sa {}, sb {};
    const bool ea = ::stat(a.c_str(), &sa) == 0, eb = ::stat(b.c_str(), &sb) == 0;
    if (ea && eb) return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    return NormalisedPath(a) == NormalisedPath(b);
}

bool HasJpgExtension(const std::string& path) {
    std::string ext = ExtractFileExt(path);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext == ".jpg";
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string IncludeTrailingSlash(const std::string& dir) {
    if (dir.empty() || dir.back() == '/') return dir;
    return dir + '/';
}

}  // namespace scarlex
