#include "common/Paths.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>

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
