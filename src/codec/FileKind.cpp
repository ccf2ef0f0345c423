#include "codec/FileKind.h"

#include <cstring>

#include "common/Paths.h"

namespace scarlex {

namespace {

bool StartsWith(const unsigned char* bytes, std::size_t size, std::size_t at, const char* text, std::size_t n) {
    return size >= at + n && std::memcmp(bytes + at, text, n) == 0;
}

// ISO base media files ("....ftyp" + major brand): HEIF stills, AVIF,
// Canon's CR3 and videos share the layout and differ by brand.
FileKind IsoMediaKind(const unsigned char* bytes, std::size_t size) {
    if (!StartsWith(bytes, size, 4, "ftyp", 4) || size < 12) return FileKind::Unknown;
    const char* brand = reinterpret_cast<const char*>(bytes + 8);
    auto is = [brand](const char* b) { return std::memcmp(brand, b, 4) == 0; };
    for (const char* b : {"heic", "heix", "hevc", "hevx", "heim", "heis", "hevm", "hevs", "mif1", "msf1"})
        if (is(b)) return FileKind::Heic;
    if (is("avif") || is("avis")) return FileKind::Avif;
    if (is("crx ")) return FileKind::CanonRaw;
    for (const char* b : {"isom", "iso2", "mp41", "mp42", "avc1", "M4V ", "qt  ", "3gp4", "3gp5"})
        if (is(b)) return FileKind::Video;
    return FileKind::Unknown;
}

bool LooksLikeHtml(const unsigned char* bytes, std::size_t size) {
    std::size_t i = 0;
    if (StartsWith(bytes, size, 0, "\xEF\xBB\xBF", 3)) i = 3;  // UTF-8 byte-order mark
    while (i < size && (bytes[i] == ' ' || bytes[i] == '\t' || bytes[i] == '\r' || bytes[i] == '\n')) ++i;
    if (i >= size || bytes[i] != '<') return false;
    std::string head;
    for (std::size_t k = i + 1; k < size && head.size() < 9; ++k)
        head += static_cast<char>(bytes[k] >= 'A' && bytes[k] <= 'Z' ? bytes[k] - 'A' + 'a' : bytes[k]);
    return head.rfind("!doctype", 0) == 0 || head.rfind("html", 0) == 0 || head.rfind("head", 0) == 0 ||
           head.rfind("?xml", 0) == 0;
}

}  // namespace

FileKind RecogniseFileKind(const unsigned char* bytes, std::size_t size) {
    if (size == 0) return FileKind::Empty;
    if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xD8) return FileKind::Jpeg;
    if (StartsWith(bytes, size, 0, "\x89PNG\r\n\x1A\n", 8)) return FileKind::Png;
    if (StartsWith(bytes, size, 0, "GIF87a", 6) || StartsWith(bytes, size, 0, "GIF89a", 6)) return FileKind::Gif;
    if (StartsWith(bytes, size, 0, "II*\0", 4)) {
        return StartsWith(bytes, size, 8, "CR", 2) ? FileKind::CanonRaw : FileKind::Tiff;
    }
    if (StartsWith(bytes, size, 0, "MM\0*", 4)) return FileKind::Tiff;
    if (StartsWith(bytes, size, 0, "RIFF", 4) && StartsWith(bytes, size, 8, "WEBP", 4)) return FileKind::WebP;
    // "BM", the file size, then four reserved bytes that are zero.
    if (StartsWith(bytes, size, 0, "BM", 2) && StartsWith(bytes, size, 6, "\0\0\0\0", 4)) return FileKind::Bmp;
    if (StartsWith(bytes, size, 0, "\0\0\0\x0CjP  \r\n\x87\n", 12) || StartsWith(bytes, size, 0, "\xFF\x4F\xFF\x51", 4))
        return FileKind::Jpeg2000;
    if (StartsWith(bytes, size, 0, "\xFF\x0A", 2) || StartsWith(bytes, size, 0, "\0\0\0\x0CJXL \r\n\x87\n", 12))
        return FileKind::JpegXl;
    if (StartsWith(bytes, size, 0, "%PDF", 4)) return FileKind::Pdf;
    if (StartsWith(bytes, size, 0, "8BPS", 4)) return FileKind::Photoshop;
    if (FileKind k = IsoMediaKind(bytes, size); k != FileKind::Unknown) return k;
    if (LooksLikeHtml(bytes, size)) return FileKind::Html;
    return FileKind::Unknown;
}

const char* FileKindDescription(FileKind kind) {
    switch (kind) {
        case FileKind::Jpeg: return "";
        case FileKind::Empty: return "an empty file";
        case FileKind::Png: return "a PNG image";
        case FileKind::Gif: return "a GIF image";
        case FileKind::Tiff: return "a TIFF image (or a camera raw file)";
        case FileKind::CanonRaw: return "a Canon raw file";
        case FileKind::WebP: return "a WebP image";
        case FileKind::Heic: return "a HEIC image";
        case FileKind::Avif: return "an AVIF image";
        case FileKind::Bmp: return "a BMP image";
        case FileKind::Jpeg2000: return "a JPEG 2000 image";
        case FileKind::JpegXl: return "a JPEG XL image";
        case FileKind::Video: return "a video";
        case FileKind::Pdf: return "a PDF document";
        case FileKind::Photoshop: return "a Photoshop document";
        case FileKind::Html: return "a web page (HTML)";
        case FileKind::Unknown: return "";
    }
    return "";
}

std::string NotJpegMessage(const std::string& path, FileKind kind) {
    const std::string what = FileKindDescription(kind);
    if (what.empty()) return {};
    return ExtractFileName(path) + " is " + what + ", not a JPEG photograph; Scarlex edits JPEG files only";
}

std::string ForeignFileMessage(std::FILE* file, const std::string& path) {
    unsigned char head[kFileKindBytes];
    const std::size_t n = std::fread(head, 1, sizeof head, file);
    const bool readError = std::ferror(file) != 0;
    std::clearerr(file);
    std::rewind(file);
    // A read error is the decoder's to report, in its own words.
    if (readError) return {};
    return NotJpegMessage(path, RecogniseFileKind(head, n));
}

}  // namespace scarlex
