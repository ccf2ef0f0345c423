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
constexpr uint8_t kAPP0 = 0xE0, kAPP1 = 0xE1, kAPP2 = 0xE2, kAPP11 = 0xEB, kAPP13 = 0xED, kAPP14 = 0xEE, kCOM = 0xFE;

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

bool IsAppOrComment(uint8_t type) { return (type >= kAPP0 && type <= 0xEF) || type == kCOM; }

// Whether a segment's payload (after its two length bytes) begins with `id`
// (its terminating NUL included when `withNul`).
bool PayloadStarts(std::span<const uint8_t> data, const char* id, bool withNul = true) {
    const std::size_t n = std::strlen(id) + (withNul ? 1 : 0);
    return data.size() >= 2 + n && std::memcmp(data.data() + 2, id, n) == 0;
}

bool IsExifSegment(std::span<const uint8_t> data) { return data.size() > 2 + 5 && PayloadStarts(data, "Exif"); }
bool IsXmpSegment(std::span<const uint8_t> data) { return PayloadStarts(data, "http://ns.adobe.com/xap/1.0/"); }

enum class Step { Segment, OutOfBytes, Damaged };

// The next segment from `pos`: extraneous bytes are passed over as a
// decoder passes them, then the 0xFF fill, the type and the length field.
// On Segment, `at` is where the length field starts and `pos` is past the
// segment. OutOfBytes when the data ends before the segment does.
Step NextSegment(std::span<const uint8_t> b, std::size_t& pos, uint8_t& type, std::size_t& at, std::size_t& length) {
    const std::size_t size = b.size();
    type = 0;
    while (type == 0) {  // 0xFF 0x00 is no marker either
        while (pos < size && b[pos] != 0xFF) ++pos;
        while (pos < size && b[pos] == 0xFF) ++pos;
        if (pos >= size) return Step::OutOfBytes;
        type = b[pos++];
    }
    if (size - pos < 2) return Step::OutOfBytes;
    length = std::size_t(b[pos]) << 8 | b[pos + 1];
    if (length < 2) return Step::Damaged;
    if (length > size - pos) return Step::OutOfBytes;
    at = pos;
    pos += length;
    return Step::Segment;
}

// Whether the walk over `b` ends within it (first scan, damage, the limit),
// so that reading more of the file would change nothing.
bool WalkEndsWithin(std::span<const uint8_t> b) {
    if (b.size() >= 2 && (b[0] != 0xFF || b[1] != kSOI)) return true;
    std::size_t pos = 2, at = 0, length = 0;
    uint8_t type = 0;
    for (int count = 0; count < TimgData::MaxSections; ++count) {
        Step step = NextSegment(b, pos, type, at, length);
        if (step != Step::Segment) return step == Step::Damaged;
        if (type == kSOS || type == kEOI) return true;
    }
    return true;
}

// Reads the head of the file in growing pieces, until the walk ends within
// what was read, the file ends or the limit is reached.
bool ReadHead(const std::string& name, std::vector<uint8_t>& out) {
    std::ifstream in(name, std::ios::binary);
    if (!in) return false;
    out.clear();
    std::size_t want = 256u << 10;
    for (;;) {
        const std::size_t have = out.size();
        out.resize(want);
        in.read(reinterpret_cast<char*>(out.data() + have), static_cast<std::streamsize>(want - have));
        if (in.bad()) return false;
        out.resize(have + static_cast<std::size_t>(in.gcount()));
        if (out.size() < want || want >= TimgData::kHeadLimit || WalkEndsWithin(out)) return true;
        want = std::min(want * 4, TimgData::kHeadLimit);
    }
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

// ------------------------------------------------------------ segment rule

SegmentFate FateOf(uint8_t type, std::span<const uint8_t> data) {
    if (!IsAppOrComment(type)) return SegmentFate::Coding;
    // The index of the pictures behind the old picture's end: the saved
    // file does not carry them, and the offsets would point elsewhere.
    if (type == kAPP2 && PayloadStarts(data, "MPF")) return SegmentFate::Dropped;
    // Layers over and signatures of the old picture's coded data.
    if (type == kAPP11 && PayloadStarts(data, "JP", false)) return SegmentFate::Dropped;
    return SegmentFate::Kept;
}

std::string SegmentName(uint8_t type, std::span<const uint8_t> data) {
    struct Known {
        uint8_t type;
        const char* id;
        bool withNul;
        const char* name;
    };
    static constexpr Known kKnown[] = {
        {kAPP0, "JFIF", true, "JFIF"},
        {kAPP0, "JFXX", true, "JFIF extension"},
        {kAPP1, "Exif", true, "EXIF"},
        {kAPP1, "http://ns.adobe.com/xap/1.0/", true, "XMP"},
        {kAPP1, "http://ns.adobe.com/xmp/extension/", true, "extended XMP"},
        {kAPP2, "ICC_PROFILE", true, "ICC profile"},
        {kAPP2, "MPF", true, "MPF"},
        {kAPP2, "FPXR", true, "FlashPix"},
        {kAPP11, "JP", false, "JPEG XT/JUMBF"},
        {kAPP13, "Photoshop 3.0", true, "Photoshop"},
        {kAPP14, "Adobe", false, "Adobe"},
    };
    for (const Known& k : kKnown)
        if (k.type == type && PayloadStarts(data, k.id, k.withNul)) return k.name;
    char text[16];
    if (type >= kAPP0 && type <= 0xEF) {
        std::snprintf(text, sizeof text, "APP%d", type - kAPP0);
        return text;
    }
    switch (type) {
    case kCOM: return "comment";
    case 0xDB: return "DQT";
    case 0xC4: return "DHT";
    case 0xCC: return "DAC";
    case 0xDD: return "DRI";
    case kSOS: return "SOS";
    case kEOI: return "EOI";
    default: break;
    }
    if (type >= 0xC0 && type <= 0xCF) {
        std::snprintf(text, sizeof text, "SOF%d", type - 0xC0);
        return text;
    }
    std::snprintf(text, sizeof text, "0x%02X", type);
    return text;
}

// ------------------------------------------------------------ final file

namespace {

constexpr const char* kNotJpeg = "the saved data is not JPEG (no start-of-image marker)";
constexpr const char* kNoScan = "the saved data holds no picture (no start of scan)";
constexpr const char* kDamaged = "the saved data holds a damaged marker segment";
constexpr const char* kEndsInside = "the saved data ends inside a marker segment";
constexpr const char* kNotWritten = "the output could not be written";

}  // namespace

// The walk over the saved data's segments before its first scan. It moves
// on by whole segments only, so it can be called again as more data comes.
// Incomplete: the data seen so far ends before the scan, and `why` says
// what is wrong should no more come; Bad: the data is refused whatever
// follows.
JpegSegmentWriter::Head JpegSegmentWriter::Advance(std::span<const uint8_t> saved) {
    const std::size_t size = saved.size();
    if (size < 2) {
        why_ = kNotJpeg;
        return Head::Incomplete;
    }
    if (saved[0] != 0xFF || saved[1] != kSOI) {
        why_ = kNotJpeg;
        return Head::Bad;
    }
    for (;;) {
        const std::size_t p = next_;
        if (p >= size) {
            why_ = kNoScan;
            return Head::Incomplete;
        }
        if (saved[p] != 0xFF) {
            why_ = kDamaged;
            return Head::Bad;
        }
        std::size_t q = p;
        while (q < size && saved[q] == 0xFF) ++q;
        if (q >= size) {
            why_ = kEndsInside;
            return Head::Incomplete;
        }
        const uint8_t type = saved[q];
        if (type == kSOS) {
            scan_ = q - 1;
            return Head::Complete;
        }
        if (type == kEOI) {
            why_ = kNoScan;
            return Head::Bad;
        }
        if (type == 0x00 || type == 0x01 || (type >= 0xD0 && type <= kSOI)) {
            why_ = kDamaged;
            return Head::Bad;
        }
        if (size - q - 1 < 2) {
            why_ = kEndsInside;
            return Head::Incomplete;
        }
        const std::size_t length = std::size_t(saved[q + 1]) << 8 | saved[q + 2];
        if (length < 2) {
            why_ = kDamaged;
            return Head::Bad;
        }
        if (length > size - q - 1) {
            why_ = kDamaged;
            return Head::Incomplete;
        }
        const std::size_t end = q + 1 + length;
        if (!IsAppOrComment(type)) coding_.push_back({p, end});
        next_ = end;
    }
}

JpegSegmentWriter::JpegSegmentWriter(std::span<const TSection> kept, ByteSink sink)
    : kept_(kept), sink_(std::move(sink)) {}

void JpegSegmentWriter::Send(std::span<const uint8_t> bytes) {
    if (!refused_ && !bytes.empty() && !sink_(bytes)) refused_ = true;
}

bool JpegSegmentWriter::Reject(const char* why) {
    why_ = why;
    stage_ = Stage::Rejected;
    std::vector<uint8_t>().swap(head_);
    return false;
}

bool JpegSegmentWriter::Put(std::span<const uint8_t> piece) {
    if (stage_ == Stage::Rejected || refused_) return false;
    if (stage_ == Stage::Body) {
        Send(piece);
        return !refused_;
    }
    // The head is gathered only when it spans pieces; a whole file in one
    // piece is walked where it lies.
    std::span<const uint8_t> saved = piece;
    if (!head_.empty()) {
        head_.insert(head_.end(), piece.begin(), piece.end());
        saved = head_;
    }
    if (!keptChecked_ && saved.size() >= 2 && saved[0] == 0xFF && saved[1] == kSOI) {
        // Once the start of image is seen, as the whole-data write checks.
        keptChecked_ = true;
        for (const TSection& s : kept_) {
            if (!IsAppOrComment(s.Type)) return Reject("a kept segment is not a metadata segment");
            if (s.Data.size() < 2 || s.Data.size() != s.Size || (std::size_t(s.Data[0]) << 8 | s.Data[1]) != s.Size)
                return Reject("a kept segment is damaged");
        }
    }
    const Head state = Advance(saved);
    if (state == Head::Bad) return Reject(why_);
    if (state == Head::Incomplete) {
        if (head_.empty()) head_.assign(piece.begin(), piece.end());
        return true;
    }

    // Everything before the scan is known good: the file can begin.
    static constexpr uint8_t kStart[] = {0xFF, kSOI};
    Send(kStart);
    for (const TSection& s : kept_) {
        const uint8_t marker[] = {0xFF, s.Type};
        Send(marker);
        Send(s.Data);
    }
    for (const Range& r : coding_) Send(saved.subspan(r.from, r.to - r.from));
    Send(saved.subspan(scan_));
    stage_ = Stage::Body;
    std::vector<uint8_t>().swap(head_);
    std::vector<Range>().swap(coding_);
    return !refused_;
}

MetaResult JpegSegmentWriter::Finish() {
    if (stage_ != Stage::Body) return MetaResult::Failure(why_);
    if (refused_) return MetaResult::Failure(kNotWritten);
    return MetaResult::Success();
}

MetaResult WriteJpegWithSegments(std::span<const TSection> kept, std::span<const uint8_t> saved, const ByteSink& sink) {
    JpegSegmentWriter writer(kept, sink);
    writer.Put(saved);
    return writer.Finish();
}

// ------------------------------------------------------------------ TimgData

TimgData::TimgData(int listOption) : listOption_(listOption) { reset(); }

TimgData::~TimgData() = default;

void TimgData::reset() {
    sections_.clear();
    headerEntry_ = exifEntry_ = iptcEntry_ = commentEntry_ = xmpEntry_ = 0;
    fileName_.clear();
    fileDate_ = 0;
    fileSize_ = 0;
    status_.clear();
    exifInfo_.reset();
    iptcInfo_.reset();
    xmpInfo_.reset();
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
            if (ReadHead(name, head) && ReadJpegSections(head)) {
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
    sections_.clear();
    if (bytes.size() < 2 || bytes[0] != 0xFF || bytes[1] != kSOI) return false;
    std::size_t pos = 2, at = 0, length = 0;
    uint8_t type = 0;
    // A length that cannot be read, is below its own two bytes or runs past
    // the end of the data ends the walk; that segment is not kept.
    while (SectionCount() < MaxSections && NextSegment(bytes, pos, type, at, length) == Step::Segment) {
        TSection& section = sections_.emplace_back();
        section.Type = type;
        section.Size = static_cast<uint16_t>(length);
        section.Data.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                            bytes.begin() + static_cast<std::ptrdiff_t>(at + length));
        const int number = SectionCount();

        if (type == kEOI || type == kSOS) break;
        switch (type) {
        case kAPP0:
            headerEntry_ = number;
            break;
        case kAPP1:
            // EXIF and XMP are told apart by their names, wherever they stand.
            if (!exifEntry_ && IsExifSegment(section.Data)) {
                exifEntry_ = number;
                exifInfo_ = std::make_unique<TImageInfo>(listOption_, TraceLevel);
                exifInfo_->ProcessEXIF(section.Data);
                bigEndian_ = exifInfo_->BigEndian();
            } else if (!xmpEntry_ && IsXmpSegment(section.Data)) {
                xmpEntry_ = number;
                xmpInfo_ = std::make_unique<TXMPdata>(listOption_, TraceLevel);
                xmpInfo_->ProcessXMP(section.Data);
            }
            break;
        case kAPP13:
            if (!iptcEntry_) {
                iptcEntry_ = number;
                iptcInfo_ = std::make_unique<TIPTCdata>(listOption_, TraceLevel);
                iptcInfo_->ProcessIPTC(section.Data);
            }
            break;
        case kCOM:
            commentEntry_ = number;
            break;
        default:
            break;  // tables, frame header, other APPn: kept in the table
        }
    }
    return HasMetaData();
}

bool TimgData::KeepsSegments() const {
    for (int n = 1; n <= SectionCount(); ++n)
        if (Fate(n) == SegmentFate::Kept) return true;
    return false;
}

std::vector<TSection> TimgData::KeptSegments(bool adjustSize, std::span<const uint8_t> image) const {
    std::vector<TSection> kept;
    for (int n = 1; n <= SectionCount(); ++n)
        if (Fate(n) == SegmentFate::Kept) kept.push_back(Section(n));
    if (adjustSize && exifInfo_ && exifEntry_) {
        // The new size goes into the copy for this write only: the kept
        // segments stay as they were read.
        int width = 0, height = 0;
        std::vector<uint8_t> resized;
        if (JpegFrameSize(image, width, height) &&
            exifInfo_->WithImageSize(Entry(exifEntry_)->Data, width, height, resized)) {
            const std::size_t index = static_cast<std::size_t>(std::count_if(
                sections_.begin(), sections_.begin() + exifEntry_ - 1,
                [](const TSection& s) { return FateOf(s.Type, s.Data) == SegmentFate::Kept; }));
            kept[index].Size = static_cast<uint16_t>(resized.size());
            kept[index].Data = std::move(resized);
        }
    }
    return kept;
}

void TimgData::SaveExif(std::vector<uint8_t>& stream) const {
    stream.push_back(0xFF);
    stream.push_back(kSOI);
    for (const TSection& s : sections_) {
        if (FateOf(s.Type, s.Data) != SegmentFate::Kept) continue;
        stream.push_back(0xFF);
        stream.push_back(s.Type);
        stream.insert(stream.end(), s.Data.begin(), s.Data.end());
    }
}

MetaResult TimgData::WriteJpeg(std::span<const uint8_t> image, bool adjustSize, const ByteSink& sink) const {
    try {
        const std::vector<TSection> kept = KeptSegments(adjustSize, image);
        return WriteJpegWithSegments(kept, image, sink);
    } catch (const std::bad_alloc&) {
        return MetaResult::Failure("not enough memory to rebuild the JPEG file");
    }
}

MetaResult TimgData::BuildEXIFJpeg(std::span<const uint8_t> image, bool adjustSize, std::vector<uint8_t>& out) const {
    out.clear();
    MetaResult r;
    try {
        out.reserve(image.size() + 70000);
        r = WriteJpeg(image, adjustSize, [&out](std::span<const uint8_t> bytes) {
            out.insert(out.end(), bytes.begin(), bytes.end());
            return true;
        });
    } catch (const std::bad_alloc&) {
        r = MetaResult::Failure("not enough memory to rebuild the JPEG file");
    }
    if (!r) out.clear();
    return r;
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
    if (xmpInfo_) text += xmpInfo_->Listing();
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
