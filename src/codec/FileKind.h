#pragma once
// What a file is, judged by its first bytes. Photographers rename files,
// browsers save WebP or HTML under ".jpg", phones write HEIC: the decoder
// asks here first so that such a file gets a message in plain words rather
// than the library's "Not a JPEG file: starts with 0x89 0x50".

#include <cstddef>
#include <cstdio>
#include <string>

namespace scarlex {

enum class FileKind {
    Jpeg,     // starts with the start-of-image marker
    Empty,
    Png,
    Gif,
    Tiff,     // also most camera raw files
    CanonRaw, // CR2 (TIFF-based) and CR3
    WebP,
    Heic,     // HEIC and other HEIF stills
    Avif,
    Bmp,
    Jpeg2000,
    JpegXl,
    Video,    // MP4 and QuickTime
    Pdf,
    Photoshop,
    Html,
    Unknown,
};

// How many leading bytes RecogniseFileKind looks at, at most.
inline constexpr std::size_t kFileKindBytes = 32;

FileKind RecogniseFileKind(const unsigned char* bytes, std::size_t size);

// "a PNG image", "an HTML web page"; "" for Jpeg and Unknown.
const char* FileKindDescription(FileKind kind);

// "NAME is a PNG image, not a JPEG photograph; Scarlex edits JPEG files
// only", NAME being the file name without its folder. "" for Jpeg and
// Unknown: those are left to the decoder and its own message.
std::string NotJpegMessage(const std::string& path, FileKind kind);

// Reads the first bytes of `file` and puts it back at its start. Returns the
// message above for a recognised foreign file, otherwise "".
std::string ForeignFileMessage(std::FILE* file, const std::string& path);

}  // namespace scarlex
