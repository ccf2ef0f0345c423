#pragma once
// The photograph's metadata carried across a save: the marker segments at
// the head of a JPEG file (header APP0, EXIF APP1, IPTC APP13, comment COM)
// are kept byte for byte when a file is loaded, their tags are listed for
// the image tags window, and they are written back in front of the saved
// JPEG data.
//
// Nothing here throws or ends the process: failures come back as a
// MetaResult or a false, with the reason in text.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace scarlex {

class TImageInfo;
class TIPTCdata;

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
    static constexpr int MaxSections = 20;

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
    // comes here). Does not reset.
    bool ReadJpegSections(std::span<const uint8_t> bytes);

    bool HasMetaData() const { return exifEntry_ || commentEntry_ || iptcEntry_; }
    bool HasEXIF() const { return exifEntry_ != 0; }

    // Appends SOI and the kept segments to `stream`: the EXIF segment (or,
    // without one, the header segment), then IPTC and comment.
    void SaveExif(std::vector<uint8_t>& stream) const;

    // Builds in memory what WriteEXIFJpeg writes: SOI, the kept segments,
    // then `image` past its SOI and its leading APP0, APP1, APP13 and COM.
    MetaResult BuildEXIFJpeg(std::span<const uint8_t> image, bool adjustSize, std::vector<uint8_t>& out) const;
    // Recreates `name` from the kept segments and `image`. The new file is
    // written beside `name` and renamed over it only when complete, so a
    // failure leaves whatever was there untouched.
    MetaResult WriteEXIFJpeg(const TJPEGImage& image, const std::string& name, bool adjustSize) const;
    MetaResult WriteEXIFJpeg(std::span<const uint8_t> image, const std::string& name, bool adjustSize) const;

    // The tag listing for the image tags window: one tag per line, lines
    // separated by CR LF; EXIF tags first, then IPTC records.
    std::string TagListing() const;

    // Section table, entries numbered from 1.
    int SectionCount() const { return sectionCount_; }
    const TSection& Section(int number) const { return sections_[static_cast<std::size_t>(number - 1)]; }
    // Entry numbers of the four references, 0 when empty.
    int HeaderEntry() const { return headerEntry_; }
    int ExifEntry() const { return exifEntry_; }
    int IptcEntry() const { return iptcEntry_; }
    int CommentEntry() const { return commentEntry_; }

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

private:
    void SaveSections(std::vector<uint8_t>& stream, const std::vector<uint8_t>* exifData) const;
    const TSection* Entry(int number) const { return number ? &sections_[static_cast<std::size_t>(number - 1)] : nullptr; }

    int listOption_;
    TSection sections_[MaxSections];
    int sectionCount_ = 0;
    int headerEntry_ = 0, exifEntry_ = 0, iptcEntry_ = 0, commentEntry_ = 0;
    std::string status_;
    std::string fileName_;
    std::time_t fileDate_ = 0;
    uint64_t fileSize_ = 0;
    bool bigEndian_ = false;
    std::unique_ptr<TImageInfo> exifInfo_;
    std::unique_ptr<TIPTCdata> iptcInfo_;
};

// Writes `bytes` to a new file beside `name` and renames it over `name`
// once it is complete; an existing file keeps its permissions.
MetaResult ReplaceFileContents(const std::string& name, std::span<const uint8_t> bytes);

}  // namespace scarlex
