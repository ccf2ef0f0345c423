#include "metadata/ImgData.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <new>

#include "common/Paths.h"
#include "common/SafeWrite.h"
#include "metadata/ImageInfo.h"

namespace scarlex {

namespace {

constexpr uint8_t kSOI = 0xD8, kEOI = 0xD9, kSOS = 0xDA;
constexpr uint8_t kAPP0 = 0xE0, kAPP1 = 0xE1, kAPP13 = 0xED, kCOM = 0xFE;

// The segments never reach far into a file: 20 of at most 64 KiB each. More
// than this is padding or garbage, and the walk treats the end of what was
// read as the end of the file.
constexpr std::size_t kHeadLimit = 8u << 20;

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

bool ReadHead(const std::string& name, std::size_t limit, std::vector<uint8_t>& out) {
    std::ifstream in(name, std::ios::binary);
    if (!in) return false;
    out.resize(limit);
    in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(limit));
    if (in.bad()) return false;
    out.resize(static_cast<std::size_t>(in.gcount()));
    return true;
}

bool IsExifSegment(const std::vector<uint8_t>& data) {
    static constexpr uint8_t kExif[] = {'E', 'x', 'i', 'f', 0};
    return data.size() >= 2 + sizeof kExif + 1 && std::memcmp(data.data() + 2, kExif, sizeof kExif) == 0;
}

void PutSegment(std::vector<uint8_t>& stream, uint8_t type, const std::vector<uint8_t>& data) {
    stream.push_back(0xFF);
    stream.push_back(type);
    stream.insert(stream.end(), data.begin(), data.end());
}

std::string Errno(const std::string& what, const std::string& name) {
    return what + " " + name + ": " + std::strerror(errno);
}

}  // namespace

// ---------------------------------------------------------------- TJPEGImage

MetaResult TJPEGImage::LoadFromFile(const std::string& name) {
    std::ifstream in(name, std::ios::binary | std::ios::ate);
    if (!in) return MetaResult::Failure(Errno("cannot open", name));
    try {
        const std::streamoff size = in.tellg();
        if (size < 0) return MetaResult::Failure(Errno("cannot read", name));
        std::vector<uint8_t> bytes(static_cast<std::size_t>(size));
        in.seekg(0);
        in.read(reinterpret_cast<char*>(bytes.data()), size);
        if (in.gcount() != size) return MetaResult::Failure(Errno("cannot read", name));
        bytes_ = std::move(bytes);
    } catch (const std::exception&) {
        return MetaResult::Failure("not enough memory to read " + name);
    }
    return MetaResult::Success();
}

bool TJPEGImage::FrameSize(int& width, int& height) const { return JpegFrameSize(bytes_, width, height); }

bool JpegFrameSize(std::span<const uint8_t> b, int& width, int& height) {
    if (b.size() < 4 || b[0] != 0xFF || b[1] != kSOI) return false;
    std::size_t p = 2;
    while (p + 4 <= b.size()) {
        if (b[p] != 0xFF) return false;
        uint8_t type = b[p + 1];
        if (type == 0xFF) { ++p; continue; }
        std::size_t len = std::size_t(b[p + 2]) << 8 | b[p + 3];
        if (len < 2 || p + 2 + len > b.size() || type == kSOS || type == kEOI) return false;
        bool frame = type >= 0xC0 && type <= 0xCF && type != 0xC4 && type != 0xC8 && type != 0xCC;
        if (frame) {
            if (len < 7) return false;
            height = b[p + 5] << 8 | b[p + 6];
            width = b[p + 7] << 8 | b[p + 8];
            return true;
        }
        p += 2 + len;
    }
    return false;
}

// ------------------------------------------------------------------ TimgData

TimgData::TimgData(int listOption) : listOption_(listOption) { reset(); }

TimgData::~TimgData() = default;

void TimgData::reset() {
    sectionCount_ = 0;
    headerEntry_ = exifEntry_ = iptcEntry_ = commentEntry_ = 0;
    fileName_.clear();
    fileDate_ = 0;
    fileSize_ = 0;
    status_.clear();
    exifInfo_.reset();
    iptcInfo_.reset();
    bigEndian_ = false;
}

bool TimgData::ProcessFile(const std::string& name) {
    reset();
    if (!FileExists(name)) return false;
    bool result = false;
    try {
        struct stat st {};
        if (::stat(name.c_str(), &st) == 0) {
            fileDate_ = st.st_mtime;
            fileSize_ = static_cast<uint64_t>(st.st_size);
        }
        fileName_ = name;
        status_ = kStatusNotExif;
        std::string ext = Lower(ExtractFileExt(name));
        if (ext == ".jpg" || ext == ".jpeg" || ext == ".jpe") {
            std::vector<uint8_t> head;
            if (ReadHead(name, kHeadLimit, head) && ReadJpegSections(head)) {
                status_ = kStatusNone;
                result = true;
            }
            // The segments stay kept; only the status tells that the parser
            // could not make sense of the EXIF data.
            if (exifInfo_ && !exifInfo_->Error().empty()) status_ = kStatusIllegal;
        }
    } catch (...) {
        status_ = kStatusIllegal;
        result = false;
    }
    return result;
}

bool TimgData::ReadJpegSections(std::span<const uint8_t> bytes) {
    const std::size_t size = bytes.size();
    if (size < 2 || bytes[0] != 0xFF || bytes[1] != kSOI) return false;
    std::size_t pos = 2;
    sectionCount_ = 0;
    while (sectionCount_ < MaxSections) {
        // Padding 0xFF bytes and the marker's own 0xFF are passed over.
        uint8_t type = 0xFF;
        while (pos < size && type == 0xFF) type = bytes[pos++];
        if (type == 0xFF) break;  // the file ended

        // A length that cannot be read, is below its own two bytes or runs
        // past the end of the file ends the walk; the segment is not kept.
        if (size - pos < 2) break;
        const std::size_t length = std::size_t(bytes[pos]) << 8 | bytes[pos + 1];
        if (length < 2 || length > size - pos) break;

        ++sectionCount_;
        TSection& section = sections_[static_cast<std::size_t>(sectionCount_ - 1)];
        section.Type = type;
        section.Size = static_cast<uint16_t>(length);
        section.Data.assign(bytes.begin() + static_cast<std::ptrdiff_t>(pos),
                            bytes.begin() + static_cast<std::ptrdiff_t>(pos + length));
        pos += length;

        // Nothing worth keeping near the top: the rest is not looked at.
        if (sectionCount_ == 5 && !HasMetaData()) break;

        if (type == kEOI || type == kSOS) break;
        switch (type) {
        case kAPP0:
            headerEntry_ = sectionCount_;
            break;
        case kAPP1: {
            // An XMP packet ahead of the EXIF data must not push the EXIF
            // data out: an EXIF segment takes over from a non-EXIF one.
            const bool takesOver = exifEntry_ && sectionCount_ <= 5 && IsExifSegment(section.Data) &&
                                   !IsExifSegment(Entry(exifEntry_)->Data);
            if (sectionCount_ > 5 || (exifEntry_ && !takesOver)) {
                // A later APP1 (XMP, a second EXIF) is not kept: its slot is reused.
                section.Data.clear();
                --sectionCount_;
            } else {
                exifEntry_ = sectionCount_;
                exifInfo_ = std::make_unique<TImageInfo>(listOption_, TraceLevel);
                exifInfo_->ProcessEXIF(section.Data);
                bigEndian_ = exifInfo_->BigEndian();
            }
            break;
        }
        case kAPP13:
            if (!iptcEntry_) {
                iptcEntry_ = sectionCount_;
                iptcInfo_ = std::make_unique<TIPTCdata>(listOption_, TraceLevel);
                iptcInfo_->ProcessIPTC(section.Data);
            }
            break;
        case kCOM:
            commentEntry_ = sectionCount_;
            break;
        default:
            break;  // tables, frame header, other APPn: kept, nothing else
        }
    }
    return HasMetaData();
}

void TimgData::SaveExif(std::vector<uint8_t>& stream) const { SaveSections(stream, nullptr); }

void TimgData::SaveSections(std::vector<uint8_t>& stream, const std::vector<uint8_t>* exifData) const {
    stream.push_back(0xFF);
    stream.push_back(kSOI);
    // JFIF and EXIF each want to be the first segment; the header goes out
    // only when there is no EXIF segment.
    if (const TSection* exif = Entry(exifEntry_))
        PutSegment(stream, exif->Type, exifData ? *exifData : exif->Data);
    else if (const TSection* header = Entry(headerEntry_))
        PutSegment(stream, header->Type, header->Data);
    if (const TSection* iptc = Entry(iptcEntry_)) PutSegment(stream, iptc->Type, iptc->Data);
    if (const TSection* comment = Entry(commentEntry_)) PutSegment(stream, comment->Type, comment->Data);
}

MetaResult TimgData::BuildEXIFJpeg(std::span<const uint8_t> image, bool adjustSize, std::vector<uint8_t>& out) const {
    const std::size_t size = image.size();
    if (size < 2 || image[0] != 0xFF || image[1] != kSOI)
        return MetaResult::Failure("the saved data is not JPEG (no start-of-image marker)");

    // Skip a leading APP0, then APP1, APP13 and COM of the saved data: the
    // kept segments take their place.
    std::size_t p = 2;
    for (uint8_t type : {kAPP0, kAPP1, kAPP13, kCOM}) {
        if (size - p < 2 || image[p] != 0xFF || image[p + 1] != type) continue;
        if (size - p < 4) return MetaResult::Failure("the saved data ends inside a marker segment");
        const std::size_t length = std::size_t(image[p + 2]) << 8 | image[p + 3];
        if (length < 2 || length > size - p - 2)
            return MetaResult::Failure("the saved data holds a damaged marker segment");
        p += length + 2;
    }

    try {
        out.clear();
        out.reserve(size + 70000);
        std::vector<uint8_t> resized;
        if (adjustSize && exifInfo_ && exifEntry_) {
            int width = 0, height = 0;
            // The new size goes into a copy for this write only: the kept
            // segments stay as they were read.
            if (!JpegFrameSize(image, width, height) ||
                !exifInfo_->WithImageSize(Entry(exifEntry_)->Data, width, height, resized))
                resized.clear();
        }
        SaveSections(out, resized.empty() ? nullptr : &resized);
        out.insert(out.end(), image.begin() + static_cast<std::ptrdiff_t>(p), image.end());
    } catch (const std::bad_alloc&) {
        out.clear();
        return MetaResult::Failure("not enough memory to rebuild the JPEG file");
    }
    return MetaResult::Success();
}

MetaResult TimgData::WriteEXIFJpeg(const TJPEGImage& image, const std::string& name, bool adjustSize) const {
    return WriteEXIFJpeg(std::span<const uint8_t>(image.Bytes()), name, adjustSize);
}

MetaResult TimgData::WriteEXIFJpeg(std::span<const uint8_t> image, const std::string& name, bool adjustSize) const {
    try {
        std::vector<uint8_t> out;
        MetaResult built = BuildEXIFJpeg(image, adjustSize, out);
        if (!built) return MetaResult::Failure(name + ": " + built.error);
        return ReplaceFileContents(name, out);
    } catch (const std::exception& e) {
        return MetaResult::Failure(name + ": " + e.what());
    }
}

std::string TimgData::TagListing() const {
    std::string text;
    if (exifInfo_) text += exifInfo_->Listing();
    if (iptcInfo_) text += iptcInfo_->Listing();
    return text;
}

// -------------------------------------------------------- ReplaceFileContents

MetaResult ReplaceFileContents(const std::string& name, std::span<const uint8_t> bytes) {
    if (name.empty()) return MetaResult::Failure("no file name given");
    if (ExtractFileName(name).empty()) return MetaResult::Failure("not a file name: " + name);
    const std::string why = WriteFileBeside(name, bytes);
    if (!why.empty()) return MetaResult::Failure("cannot write " + why);
    return MetaResult::Success();
}

}  // namespace scarlex
