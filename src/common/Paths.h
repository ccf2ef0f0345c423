#pragma once
// Path helpers. A path's folder runs up to and including the last '/';
// its extension is everything from the last dot of the file name (a dot in
// a folder name is not an extension). Comparisons are exact and
// case-sensitive.

#include <string>

namespace scarlex {

std::string ExtractFilePath(const std::string& path);   // folder, with its trailing '/'
std::string ExtractFileName(const std::string& path);   // after the last '/'
std::string ExtractFileExt(const std::string& path);    // from the last dot of the name, or ""
// Replaces the extension with `ext`, or appends `ext` when the name has none.
std::string ChangeFileExt(const std::string& path, const std::string& ext);
bool SamePath(const std::string& a, const std::string& b);
// Whether two names reach the same file: device and inode when both exist,
// otherwise the same normalised absolute path ("./a.jpg", "a.jpg" and
// "$PWD/sub/../a.jpg" are one file).
bool SameFile(const std::string& a, const std::string& b);
// The absolute form of `path`, "." and ".." resolved and the links of its
// existing folders followed; the part that does not exist yet is kept as
// written, normalised.
std::string NormalisedPath(const std::string& path);
// ".jpg" in any case.
bool HasJpgExtension(const std::string& path);

bool FileExists(const std::string& path);        // a regular file (or link to one)
bool DirectoryExists(const std::string& path);
// Appends '/' unless the text already ends with one (empty stays empty).
std::string IncludeTrailingSlash(const std::string& dir);

}  // namespace scarlex
