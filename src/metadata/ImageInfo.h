#pragma once
// The tag parsers behind the image tags window (EXIF, IPTC, XMP), on Exiv2. They parse a
// kept segment's bytes from memory and build the listing as they go: one
// tag per line, "Group.Subgroup.Tag: value", lines separated by CR LF.
// Exiv2 stays inside the .cpp; nothing here throws.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace scarlex {

// Decode tag values into readable text ("1/60 s", "F2.8") rather than
// listing the raw values. On from the start, so the first photograph's
// tags read the same as every later one's.
extern bool DexifDecode;

// Bits of the listing option: which groups of tags are listed.
enum ListOptionBits : int {
    kListImage = 0x01,      // IFD0 (Exif.Image)
    kListPhoto = 0x02,      // Exif sub-directory and interoperability
    kListGps = 0x04,        // GPS directory
    kListMakerNote = 0x08,  // maker-note tags Exiv2 knows
    kListThumbnail = 0x10,  // IFD1 (Exif.Thumbnail)
    kListIptc = 0x20,       // IPTC records
    kListXmp = 0x40,        // XMP properties of the standard packet
    kListAll = 0xFF,
};

inline constexpr const char* kLineBreak = "\r\n";

// The EXIF tag parser for one APP1 segment.
class TImageInfo {
public:
    TImageInfo(int listOption, int traceLevel);
    ~TImageInfo();
    TImageInfo(const TImageInfo&) = delete;
    TImageInfo& operator=(const TImageInfo&) = delete;

    // Parses a segment's data as kept in the section table (two length
    // bytes, then "Exif\0\0" and the TIFF structure). False when the data
    // is not EXIF or the parser gave up; Listing() then holds what could be
    // read and a line saying what went wrong.
    bool ProcessEXIF(std::span<const uint8_t> sectionData);

    const std::string& Listing() const { return listing_; }
    const std::string& Error() const { return error_; }
    bool BigEndian() const { return bigEndian_; }
    std::size_t TagCount() const { return tagCount_; }
    // The Orientation tag of IFD0 (1 .. 8), or 0 when it is absent or out
    // of range.
    int Orientation() const { return orientation_; }

    // The segment data with the EXIF picture size set to width x height,
    // for a save that changed the size. False (and `out` untouched) when
    // the segment cannot be rewritten.
    bool WithImageSize(std::span<const uint8_t> sectionData, int width, int height, std::vector<uint8_t>& out) const;

private:
    int listOption_;
    int traceLevel_;
    std::string listing_;
    std::string error_;
    bool bigEndian_ = false;
    std::size_t tagCount_ = 0;
    int orientation_ = 0;
};

// The IPTC records of one APP13 (Photoshop) segment.
class TIPTCdata {
public:
    TIPTCdata(int listOption, int traceLevel);

    // Same contract as TImageInfo::ProcessEXIF, for an APP13 segment.
    bool ProcessIPTC(std::span<const uint8_t> sectionData);

    const std::string& Listing() const { return listing_; }
    const std::string& Error() const { return error_; }
    std::size_t RecordCount() const { return recordCount_; }

private:
    int listOption_;
    int traceLevel_;
    std::string listing_;
    std::string error_;
    std::size_t recordCount_ = 0;
};

// The XMP properties of one APP1 segment holding the standard packet.
class TXMPdata {
public:
    TXMPdata(int listOption, int traceLevel);

    // Same contract as TImageInfo::ProcessEXIF, for an XMP segment.
    bool ProcessXMP(std::span<const uint8_t> sectionData);

    const std::string& Listing() const { return listing_; }
    const std::string& Error() const { return error_; }
    std::size_t PropertyCount() const { return propertyCount_; }

private:
    int listOption_;
    int traceLevel_;
    std::string listing_;
    std::string error_;
    std::size_t propertyCount_ = 0;
};

// One listing line's value made safe for a one-line text box: control
// characters become spaces and an overlong value is cut.
std::string CleanListingValue(const std::string& value);

}  // namespace scarlex
