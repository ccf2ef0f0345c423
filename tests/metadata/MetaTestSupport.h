#pragma once
// JPEG head bytes built segment by segment, and EXIF/IPTC payloads made
// with Exiv2's own encoders, for the metadata tests.

#include <exiv2/exiv2.hpp>

#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "metadata/ImgData.h"

namespace scarlex::test {

using Bytes = std::vector<uint8_t>;

inline constexpr uint8_t APP0 = 0xE0, APP1 = 0xE1, APP13 = 0xED, COM = 0xFE, DQT = 0xDB, DHT = 0xC4, SOF0 = 0xC0,
                         SOS = 0xDA, EOI = 0xD9, APP2 = 0xE2;

class JpegBuilder {
public:
    JpegBuilder() : bytes_{0xFF, 0xD8} {}
    // A segment with a correct length field.
    JpegBuilder& Seg(uint8_t type, const Bytes& payload) {
        bytes_.push_back(0xFF);
        bytes_.push_back(type);
        const std::size_t length = payload.size() + 2;
        bytes_.push_back(uint8_t(length >> 8));
        bytes_.push_back(uint8_t(length & 0xFF));
        bytes_.insert(bytes_.end(), payload.begin(), payload.end());
        return *this;
    }
    JpegBuilder& Seg(uint8_t type, const std::string& payload) { return Seg(type, Bytes(payload.begin(), payload.end())); }
    JpegBuilder& Raw(const Bytes& raw) {
        bytes_.insert(bytes_.end(), raw.begin(), raw.end());
        return *this;
    }
    // A table-like filler segment of n payload bytes.
    JpegBuilder& Table(uint8_t type = DQT, std::size_t n = 8) { return Seg(type, Bytes(n, 0x11)); }
    // SOS header and some entropy-coded bytes, then EOI.
    JpegBuilder& Scan() {
        Seg(SOS, Bytes{1, 1, 0, 0, 63, 0});
        return Raw({0x12, 0x34, 0xFF, 0x00, 0x56, 0xFF, 0xD9});
    }
    const Bytes& bytes() const { return bytes_; }
    operator Bytes() const { return bytes_; }

private:
    Bytes bytes_;
};

// A JFIF APP0 payload (14 bytes).
inline Bytes JfifPayload() { return Bytes{'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0}; }

// An APP1 payload: "Exif\0\0" and a TIFF structure with a few tags.
inline Bytes ExifPayload(const std::string& make = "Scarlex", Exiv2::ByteOrder order = Exiv2::littleEndian) {
    Exiv2::ExifData data;
    data["Exif.Image.Make"] = make;
    data["Exif.Image.Model"] = "Test Camera";
    data["Exif.Photo.ExposureTime"] = Exiv2::URational(1, 60);
    data["Exif.Photo.FNumber"] = Exiv2::URational(28, 10);
    data["Exif.Photo.DateTimeOriginal"] = "2004:06:05 12:34:56";
    data["Exif.Photo.PixelXDimension"] = uint32_t(4000);
    data["Exif.Photo.PixelYDimension"] = uint32_t(3000);
    data["Exif.GPSInfo.GPSVersionID"] = "2 2 0 0";
    Exiv2::Blob blob;
    Exiv2::ExifParser::encode(blob, order, data);
    Bytes payload{'E', 'x', 'i', 'f', 0, 0};
    payload.insert(payload.end(), blob.begin(), blob.end());
    return payload;
}

// An APP13 payload: "Photoshop 3.0\0" and one 8BIM resource with IPTC records.
inline Bytes IptcPayload(const std::string& caption = "A caption") {
    Exiv2::IptcData data;
    data["Iptc.Application2.Caption"] = caption;
    data["Iptc.Application2.City"] = "London";
    Exiv2::DataBuf iptc = Exiv2::IptcParser::encode(data);
    Bytes payload;
    const char id[] = "Photoshop 3.0";
    payload.insert(payload.end(), id, id + sizeof id);  // with its NUL
    const char bim[] = "8BIM";
    payload.insert(payload.end(), bim, bim + 4);
    payload.push_back(0x04);
    payload.push_back(0x04);
    payload.push_back(0);  // empty name, padded to even
    payload.push_back(0);
    const auto size = static_cast<uint32_t>(iptc.size_);
    for (int shift = 24; shift >= 0; shift -= 8) payload.push_back(uint8_t(size >> shift));
    payload.insert(payload.end(), iptc.pData_, iptc.pData_ + iptc.size_);
    if (size % 2) payload.push_back(0);
    return payload;
}

// The kept form of a segment: length field, then payload.
inline Bytes Kept(const Bytes& payload) {
    Bytes data{uint8_t((payload.size() + 2) >> 8), uint8_t((payload.size() + 2) & 0xFF)};
    data.insert(data.end(), payload.begin(), payload.end());
    return data;
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

inline Bytes Segment(uint8_t type, const Bytes& payload) {
    Bytes out{0xFF, type};
    Bytes kept = Kept(payload);
    out.insert(out.end(), kept.begin(), kept.end());
    return out;
}

inline Bytes Tail(const Bytes& bytes, std::size_t from) {
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.end());
}

// Walks `bytes` with a fresh reader, as ProcessFile does after reading.
inline bool Walk(TimgData& meta, const Bytes& bytes) {
    meta.reset();
    return meta.ReadJpegSections(bytes);
}

// "1:E1 2:DB ..." for failure messages.
inline std::string TableText(const TimgData& meta) {
    std::ostringstream s;
    for (int n = 1; n <= meta.SectionCount(); ++n) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%d:%02X ", n, meta.Section(n).Type);
        s << buf;
    }
    s << "[header " << meta.HeaderEntry() << " exif " << meta.ExifEntry() << " iptc " << meta.IptcEntry()
      << " comment " << meta.CommentEntry() << "]";
    return s.str();
}

// Offset of the first difference, described, or "" when equal.
inline std::string FirstByteDifference(const Bytes& a, const Bytes& b) {
    std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i)
        if (a[i] != b[i]) {
            std::ostringstream s;
            s << "first difference at byte " << i << ": " << int(a[i]) << " vs " << int(b[i]);
            return s.str();
        }
    if (a.size() != b.size()) return "sizes differ: " + std::to_string(a.size()) + " vs " + std::to_string(b.size());
    return {};
}

}  // namespace scarlex::test
