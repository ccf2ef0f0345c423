#pragma once
// The photograph's metadata carried across a save. When a file is loaded,
// the marker segments in front of its first scan are walked and kept byte
// for byte: EXIF, XMP (standard and extended), ICC profile chunks, IPTC and
// the other Photoshop resources, the JFIF and Adobe headers, comments, and
// every other APPn segment except those that describe the old picture's
// coded data (see FateOf). Their tags are listed for the image tags window,
// and on save they go back once each, in their order, in front of the saved
// picture's own tables and scans.
//
// Nothing here throws or ends the process: failures come back as a
// MetaResult or a false, with the reason in text.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "common/ByteSink.h"

namespace scarlex {

class TImageInfo;
class TIPTCdata;
class TXMPdata;

// Outcome of a metadata write: ok, or the message of the failure.
struct MetaResult {
    bool ok = false;
    std::string error;

    explicit operator bool() const { return ok; }
    static MetaResult Success() { return MetaResult{true, {}}; }
    static MetaResult Failure(std::string text) { return MetaResult{false, std::move(text)}; }
};

// One marker segment as it stood in the file, less its 0xFF and type byte.
struct TSection {
    uint8_t Type = 0;           // the byte after 0xFF
    uint16_t Size = 0;          // the length field; counts its own two bytes
    std::vector<uint8_t> Data;  // Size bytes: the length field, then the payload
};

// What a save does with one segment of the original.
enum class SegmentFate : uint8_t {
    Coding,   // tables, frame and scan headers: the saved picture brings its own
    Kept,     // written back byte for byte
    Dropped,  // describes the old picture's coded data or what follows it
};

// The rule, by type and stored data (length field first). Every APPn and
// COM segment is kept except an MPF index (APP2 "MPF"), whose offsets point
// at pictures stored after the old picture's end, and JPEG XT or JUMBF boxes
// (APP11 "JP"), which extend or sign the old picture's coded data.
SegmentFate FateOf(uint8_t type, std::span<const uint8_t> data);
// A short name for listings: "EXIF", "XMP", "ICC profile", "MPF", "DQT", ...
std::string SegmentName(uint8_t type, std::span<const uint8_t> data);

// The final file from kept segments and saved JPEG data in memory: SOI,
// `kept` in the given order, then `saved` past its SOI without its own APPn
// and COM segments (the kept ones take their place, so none appears twice),
// and from its first scan on exactly as it is. Saved data that is not JPEG,
// has damaged segments before its first scan or no scan is refused before
// anything reaches the sink.
MetaResult WriteJpegWithSegments(std::span<const TSection> kept, std::span<const uint8_t> saved, const ByteSink& sink);

// WriteJpegWithSegments for saved data that arrives in pieces of any size:
// the pieces before the saved data's first scan are held (tables and frame,
// small) until that scan begins, then the same bytes go out as the
// whole-data write gives, and the rest passes straight through. Nothing
// reaches the sink before the part in front of the scan has been checked.
class JpegSegmentWriter {
public:
    // `kept` must outlive the writer.
    JpegSegmentWriter(std::span<const TSection> kept, ByteSink sink);
    JpegSegmentWriter(const JpegSegmentWriter&) = delete;
    JpegSegmentWriter& operator=(const JpegSegmentWriter&) = delete;

    // The next piece of the saved data; false once the data was rejected or
    // the sink refused a piece (the writer takes nothing more).
    bool Put(std::span<const uint8_t> piece);
    // Whether the saved data itself was refused (as opposed to the sink).
    bool Rejected() const { return stage_ == Stage::Rejected; }
    // After the last piece: success, or why the file is not complete.
    MetaResult Finish();

private:
    enum class Stage { Head, Body, Rejected };
    enum class Head { Incomplete, Complete, Bad };
    struct Range {
        std::size_t from, to;
    };
    Head Advance(std::span<const uint8_t> saved);
    void Send(std::span<const uint8_t> bytes);
    bool Reject(const char* why);

    std::span<const TSection> kept_;
    ByteSink sink_;
    Stage stage_ = Stage::Head;
    bool keptChecked_ = false;
    bool refused_ = false;
    const char* why_ = "the saved data is not JPEG (no start-of-image marker)";
    std::vector<uint8_t> head_;   // the pieces so far, while the head spans several
    std::size_t next_ = 2;        // where the walk goes on
    std::size_t scan_ = 0;        // where the first scan begins
    std::vector<Range> coding_;   // the saved data's own segments that stay
};

// The saved JPEG data that WriteEXIFJpeg puts behind the kept segments:
// the file's bytes exactly as loaded.
class TJPEGImage {
public:
    MetaResult LoadFromFile(const std::string& name);
    void LoadFromBytes(std::vector<uint8_t> bytes) { bytes_ = std::move(bytes); }
    const std::vector<uint8_t>& Bytes() const { return bytes_; }
    // Picture size from the first frame header; false when there is none.
    bool FrameSize(int& width, int& height) const;

private:
    std::vector<uint8_t> bytes_;
};

// Picture size from the first frame header of JPEG data; false when the
// segments before it are damaged or there is none.
bool JpegFrameSize(std::span<const uint8_t> bytes, int& width, int& height);

// Texts of the status.
inline constexpr const char* kStatusNotExif = "Not an EXIF file";
inline constexpr const char* kStatusNone = "<none>";
inline constexpr const char* kStatusIllegal = "Illegal Exif construction";

class TimgData {
public:
    // The walk ends after this many segments, or after kHeadLimit bytes;
    // far beyond any real file (an ICC profile or extended XMP spread over
    // hundreds of segments still fits).
    static constexpr int MaxSections = 4096;
    static constexpr std::size_t kHeadLimit = 64u << 20;

    // listOption is handed on to the tag parser (the main window gives 255).
    explicit TimgData(int listOption = 255);
    ~TimgData();
    TimgData(const TimgData&) = delete;
    TimgData& operator=(const TimgData&) = delete;

    void reset();

    // Reads the metadata of the named file; true when an EXIF, IPTC or
    // comment segment was found.
    bool ProcessFile(const std::string& name);
    // The segment walk over a file's bytes (ProcessFile reads the file and
    // comes here): every segment up to and including the first scan header.
    // Does not reset.
    bool ReadJpegSections(std::span<const uint8_t> bytes);

    bool HasMetaData() const { return exifEntry_ || commentEntry_ || iptcEntry_; }
    bool HasEXIF() const { return exifEntry_ != 0; }
    // Whether a save has anything to put back.
    bool KeepsSegments() const;

    // What a save does with entry `number`.
    SegmentFate Fate(int number) const { return FateOf(Section(number).Type, Section(number).Data); }
    // The kept segments in file order; with adjustSize and a frame header
    // in `image`, the EXIF segment carries that picture size.
    std::vector<TSection> KeptSegments(bool adjustSize = false, std::span<const uint8_t> image = {}) const;

    // Appends SOI and the kept segments to `stream`.
    void SaveExif(std::vector<uint8_t>& stream) const;

    // The final file through a sink: WriteJpegWithSegments with the kept
    // segments. For a writer that has the saved picture in memory and
    // writes the file once.
    MetaResult WriteJpeg(std::span<const uint8_t> image, bool adjustSize, const ByteSink& sink) const;
    // The same into `out`.
    MetaResult BuildEXIFJpeg(std::span<const uint8_t> image, bool adjustSize, std::vector<uint8_t>& out) const;
    // Recreates `name` from the kept segments and `image`. The new file is
    // written beside `name` and renamed over it only when complete, so a
    // failure leaves whatever was there untouched.
    MetaResult WriteEXIFJpeg(const TJPEGImage& image, const std::string& name, bool adjustSize) const;
    MetaResult WriteEXIFJpeg(std::span<const uint8_t> image, const std::string& name, bool adjustSize) const;

    // The tag listing for the image tags window: one tag per line, lines
    // separated by CR LF; EXIF tags first, then IPTC records, then XMP.
    std::string TagListing() const;

    // Section table, entries numbered from 1.
    int SectionCount() const { return static_cast<int>(sections_.size()); }
    const TSection& Section(int number) const { return sections_[static_cast<std::size_t>(number - 1)]; }
    // Entry numbers of the references, 0 when empty: the last APP0, the
    // first APP1 holding EXIF data, the first APP13, the last COM and the
    // first APP1 holding an XMP packet.
    int HeaderEntry() const { return headerEntry_; }
    int ExifEntry() const { return exifEntry_; }
    int IptcEntry() const { return iptcEntry_; }
    int CommentEntry() const { return commentEntry_; }
    int XmpEntry() const { return xmpEntry_; }

    const std::string& Status() const { return status_; }
    const std::string& FileName() const { return fileName_; }
    std::time_t FileDate() const { return fileDate_; }
    uint64_t FileSize() const { return fileSize_; }
    bool BigEndian() const { return bigEndian_; }

    int ListOption() const { return listOption_; }
    // Acts on the parses that follow.
    int TraceLevel = 0;

    const TImageInfo* ExifInfo() const { return exifInfo_.get(); }
    const TIPTCdata* IptcInfo() const { return iptcInfo_.get(); }
    const TXMPdata* XmpInfo() const { return xmpInfo_.get(); }

private:
    const TSection* Entry(int number) const { return number ? &sections_[static_cast<std::size_t>(number - 1)] : nullptr; }

    int listOption_;
    std::vector<TSection> sections_;
    int headerEntry_ = 0, exifEntry_ = 0, iptcEntry_ = 0, commentEntry_ = 0, xmpEntry_ = 0;
    std::string status_;
    std::string fileName_;
    std::time_t fileDate_ = 0;
    uint64_t fileSize_ = 0;
    bool bigEndian_ = false;
    std::unique_ptr<TImageInfo> exifInfo_;
    std::unique_ptr<TIPTCdata> iptcInfo_;
    std::unique_ptr<TXMPdata> xmpInfo_;
};

// Writes `bytes` to a new file beside `name` and renames it over `name`
// once it is complete; an existing file keeps its permissions.
MetaResult ReplaceFileContents(const std::string& name, std::span<const uint8_t> bytes);

}  // namespace scarlex
