#include "metadata/ImageInfo.h"

#include <exiv2/exiv2.hpp>

#include <cstring>
#include <exception>

namespace scarlex {

bool DexifDecode = true;

namespace {

constexpr std::size_t kMaxValueChars = 256;
constexpr std::size_t kMaxTraceLines = 50;
constexpr char kExifHeader[] = {'E', 'x', 'i', 'f', '\0'};  // then one pad byte, normally 0
constexpr std::size_t kExifHeaderSize = 6;

// Exiv2 reports on stderr by default; this program shows no such output.
// While a parse traces, its warnings are collected for the listing instead.
std::vector<std::string>* g_traceLines = nullptr;

void TraceHandler(int, const char* text) {
    if (!g_traceLines || !text || g_traceLines->size() >= kMaxTraceLines) return;
    std::string line(text);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    g_traceLines->push_back(std::move(line));
}

class Exiv2Log {
public:
    Exiv2Log(int traceLevel, std::vector<std::string>& lines) {
        Exiv2::LogMsg::setHandler(TraceHandler);
        if (traceLevel >= 1) {
            g_traceLines = &lines;
            Exiv2::LogMsg::setLevel(Exiv2::LogMsg::warn);
        } else {
            Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        }
    }
    ~Exiv2Log() {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        g_traceLines = nullptr;
    }
    Exiv2Log(const Exiv2Log&) = delete;
    Exiv2Log& operator=(const Exiv2Log&) = delete;
};

// Runs an Exiv2 call; any exception becomes the returned message.
template <typename F>
std::string Guarded(F&& f) {
    try {
        f();
        return {};
    } catch (const Exiv2::AnyError& e) {
        std::string what = e.what();
        return what.empty() ? "the data could not be read" : what;
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "the data could not be read";
    }
}

bool IsBinary(Exiv2::TypeId type) {
    return type == Exiv2::undefined || type == Exiv2::unsignedByte || type == Exiv2::signedByte;
}

int GroupBit(const std::string& group) {
    if (group == "Photo" || group == "Iop") return kListPhoto;
    if (group == "GPSInfo") return kListGps;
    if (group == "Thumbnail") return kListThumbnail;
    if (group == "MakerNote" || Exiv2::ExifTags::isMakerGroup(group)) return kListMakerNote;
    return kListImage;
}

template <typename Datum, typename Container>
std::string ValueText(const Datum& datum, const Container* container) {
    std::string text;
    std::string failed = Guarded([&] {
        text = DexifDecode ? datum.print(container) : datum.value().toString();
    });
    if (!failed.empty()) {
        // The interpretation failed; the raw value is still worth showing.
        failed = Guarded([&] { text = datum.value().toString(); });
        if (!failed.empty()) return "(unreadable)";
    }
    if (IsBinary(datum.typeId()) && text.size() > kMaxValueChars)
        return "(" + std::to_string(datum.size()) + " bytes of binary data)";
    return CleanListingValue(text);
}

void AddLine(std::string& listing, const std::string& key, const std::string& value) {
    listing += key;
    listing += ": ";
    listing += value;
    listing += kLineBreak;
}

void AddNotes(std::string& listing, const std::vector<std::string>& trace, const std::string& error) {
    for (const std::string& line : trace) AddLine(listing, "Warning", CleanListingValue(line));
    if (!error.empty()) AddLine(listing, "Error", CleanListingValue(error));
}

}  // namespace

namespace {

bool IsUtf8(const std::string& s) {
    std::size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        std::size_t extra = c < 0x80 ? 0 : (c >> 5) == 0x6 ? 1 : (c >> 4) == 0xE ? 2 : (c >> 3) == 0x1E ? 3 : 4;
        if (extra == 4 || (extra == 1 && c < 0xC2) || s.size() - i <= extra) return false;
        for (std::size_t k = 1; k <= extra; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += extra + 1;
    }
    return true;
}

// Old cameras and IPTC editors write Latin-1 without saying so.
std::string Latin1ToUtf8(const std::string& s) {
    std::string out;
    out.reserve(s.size() + s.size() / 4);
    for (char ch : s) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out += ch;
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// Exiv2 reads on over most damage without saying so; the TIFF header and
// the first directory are checked here so that a broken structure is told.
std::string TiffStructureError(const Exiv2::byte* tiff, std::size_t size) {
    if (size < 8) return "the EXIF data is too short";
    const bool intel = tiff[0] == 'I' && tiff[1] == 'I', motorola = tiff[0] == 'M' && tiff[1] == 'M';
    auto u16 = [&](std::size_t at) { return intel ? tiff[at] | tiff[at + 1] << 8 : tiff[at] << 8 | tiff[at + 1]; };
    if ((!intel && !motorola) || u16(2) != 42) return "the EXIF data has no valid TIFF header";
    const uint32_t ifd = intel ? uint32_t(u16(4)) | uint32_t(u16(6)) << 16 : uint32_t(u16(4)) << 16 | uint32_t(u16(6));
    if (ifd < 8 || ifd > size - 2) return "the first EXIF directory lies outside the data";
    const std::size_t entries = static_cast<std::size_t>(u16(ifd));
    if (entries * 12 > size - ifd - 2) return "the first EXIF directory is cut off";
    return {};
}

}  // namespace

std::string CleanListingValue(const std::string& value) {
    // The listing is UTF-8 throughout.
    std::string text = IsUtf8(value) ? value : Latin1ToUtf8(value);
    for (char& c : text) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) c = ' ';
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    if (text.size() > kMaxValueChars) {
        std::size_t cut = kMaxValueChars;
        // Never cut a UTF-8 sequence in half.
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
        text.resize(cut);
        text += "...";
    }
    return text;
}

// ------------------------------------------------------------------ TImageInfo

TImageInfo::TImageInfo(int listOption, int traceLevel) : listOption_(listOption), traceLevel_(traceLevel) {}

TImageInfo::~TImageInfo() = default;

bool TImageInfo::ProcessEXIF(std::span<const uint8_t> sectionData) {
    listing_.clear();
    error_.clear();
    tagCount_ = 0;
    orientation_ = 0;
    const std::size_t headerEnd = 2 + kExifHeaderSize;
    if (sectionData.size() < headerEnd || std::memcmp(sectionData.data() + 2, kExifHeader, sizeof kExifHeader) != 0) {
        error_ = "the APP1 segment holds no EXIF data";
        AddNotes(listing_, {}, error_);
        return false;
    }
    const Exiv2::byte* tiff = sectionData.data() + headerEnd;
    const auto tiffSize = static_cast<uint32_t>(sectionData.size() - headerEnd);

    std::vector<std::string> trace;
    Exiv2::ExifData data;
    {
        Exiv2Log log(traceLevel_, trace);
        Exiv2::ByteOrder order = Exiv2::invalidByteOrder;
        std::string structure = TiffStructureError(tiff, tiffSize);
        error_ = Guarded([&] { order = Exiv2::ExifParser::decode(data, tiff, tiffSize); });
        bigEndian_ = order == Exiv2::bigEndian;
        if (!structure.empty()) error_ = structure;

        // Whatever was decoded is listed, also after a failure.
        std::string failed = Guarded([&] {
            for (const Exiv2::Exifdatum& datum : data) {
                if (datum.key() == "Exif.Image.Orientation" && datum.count() > 0) {
                    const long tag = datum.toLong();
                    orientation_ = tag >= 1 && tag <= 8 ? static_cast<int>(tag) : 0;
                }
                if (!(listOption_ & GroupBit(datum.groupName()))) continue;
                AddLine(listing_, datum.key(), ValueText(datum, &data));
                ++tagCount_;
            }
        });
        if (error_.empty()) error_ = failed;
    }
    AddNotes(listing_, trace, error_);
    return error_.empty();
}

bool TImageInfo::WithImageSize(std::span<const uint8_t> sectionData, int width, int height,
                               std::vector<uint8_t>& out) const {
    const std::size_t headerEnd = 2 + kExifHeaderSize;
    if (width <= 0 || height <= 0 || sectionData.size() < headerEnd ||
        std::memcmp(sectionData.data() + 2, kExifHeader, sizeof kExifHeader) != 0)
        return false;
    std::vector<Exiv2::byte> tiff(sectionData.begin() + static_cast<std::ptrdiff_t>(headerEnd), sectionData.end());
    std::vector<std::string> trace;
    Exiv2Log log(0, trace);
    Exiv2::Blob blob;
    bool inPlace = false;
    std::string failed = Guarded([&] {
        Exiv2::ExifData data;
        Exiv2::ByteOrder order = Exiv2::ExifParser::decode(data, tiff.data(), static_cast<uint32_t>(tiff.size()));
        if (order == Exiv2::invalidByteOrder) throw std::runtime_error("no TIFF header");
        data["Exif.Photo.PixelXDimension"] = static_cast<uint32_t>(width);
        data["Exif.Photo.PixelYDimension"] = static_cast<uint32_t>(height);
        // Written in place when the tags fit where they were, else rebuilt.
        inPlace = Exiv2::ExifParser::encode(blob, tiff.data(), static_cast<uint32_t>(tiff.size()), order, data) ==
                  Exiv2::wmNonIntrusive;
    });
    if (!failed.empty()) return false;
    const std::vector<Exiv2::byte>& body = inPlace ? tiff : blob;
    const std::size_t length = 2 + kExifHeaderSize + body.size();
    if (body.empty() || length > 0xFFFF) return false;
    out.clear();
    out.push_back(static_cast<uint8_t>(length >> 8));
    out.push_back(static_cast<uint8_t>(length & 0xFF));
    out.insert(out.end(), sectionData.begin() + 2, sectionData.begin() + static_cast<std::ptrdiff_t>(headerEnd));
    out.insert(out.end(), body.begin(), body.end());
    return true;
}

// ------------------------------------------------------------------- TIPTCdata

TIPTCdata::TIPTCdata(int listOption, int traceLevel) : listOption_(listOption), traceLevel_(traceLevel) {}

bool TIPTCdata::ProcessIPTC(std::span<const uint8_t> sectionData) {
    listing_.clear();
    error_.clear();
    recordCount_ = 0;
    const std::size_t idSize = std::strlen(Exiv2::Photoshop::ps3Id_) + 1;  // "Photoshop 3.0\0"
    if (sectionData.size() < 2 + idSize ||
        std::memcmp(sectionData.data() + 2, Exiv2::Photoshop::ps3Id_, idSize) != 0) {
        error_ = "the APP13 segment holds no Photoshop resources";
        if (listOption_ & kListIptc) AddNotes(listing_, {}, error_);
        return false;
    }
    const Exiv2::byte* irb = sectionData.data() + 2 + idSize;
    const std::size_t irbSize = sectionData.size() - 2 - idSize;

    std::vector<std::string> trace;
    Exiv2::IptcData data;
    {
        Exiv2Log log(traceLevel_, trace);
        error_ = Guarded([&] {
            const Exiv2::byte* record = nullptr;
            uint32_t headerSize = 0, dataSize = 0;
            int found = Exiv2::Photoshop::locateIptcIrb(irb, static_cast<long>(irbSize), &record, &headerSize, &dataSize);
            if (found == 3) return;  // resources without IPTC records
            if (found != 0 || !record || record < irb ||
                std::size_t(record - irb) + headerSize + std::size_t(dataSize) > irbSize)
                throw std::runtime_error("the Photoshop resources are damaged");
            if (Exiv2::IptcParser::decode(data, record + headerSize, dataSize) != 0)
                throw std::runtime_error("the IPTC records are damaged");
        });
        std::string failed = Guarded([&] {
            if (!(listOption_ & kListIptc)) return;
            for (const Exiv2::Iptcdatum& datum : data) {
                AddLine(listing_, datum.key(), ValueText(datum, static_cast<const Exiv2::ExifData*>(nullptr)));
                ++recordCount_;
            }
        });
        if (error_.empty()) error_ = failed;
    }
    if (listOption_ & kListIptc) AddNotes(listing_, trace, error_);
    return error_.empty();
}

// -------------------------------------------------------------------- TXMPdata

TXMPdata::TXMPdata(int listOption, int traceLevel) : listOption_(listOption), traceLevel_(traceLevel) {}

bool TXMPdata::ProcessXMP(std::span<const uint8_t> sectionData) {
    listing_.clear();
    error_.clear();
    propertyCount_ = 0;
    if (!(listOption_ & kListXmp)) return true;
    static constexpr char kXmpId[] = "http://ns.adobe.com/xap/1.0/";  // with its NUL
    if (sectionData.size() < 2 + sizeof kXmpId || std::memcmp(sectionData.data() + 2, kXmpId, sizeof kXmpId) != 0) {
        error_ = "the APP1 segment holds no XMP packet";
        AddNotes(listing_, {}, error_);
        return false;
    }
    const std::string packet(sectionData.begin() + 2 + sizeof kXmpId, sectionData.end());

    std::vector<std::string> trace;
    Exiv2::XmpData data;
    {
        Exiv2Log log(traceLevel_, trace);
        error_ = Guarded([&] {
            const int decoded = Exiv2::XmpParser::decode(data, packet);
            if (decoded == 1) throw std::runtime_error("this Exiv2 reads no XMP");
            if (decoded != 0) throw std::runtime_error("the XMP packet is damaged");
        });
        std::string failed = Guarded([&] {
            for (const Exiv2::Xmpdatum& datum : data) {
                AddLine(listing_, datum.key(), ValueText(datum, static_cast<const Exiv2::ExifData*>(nullptr)));
                ++propertyCount_;
            }
        });
        if (error_.empty()) error_ = failed;
    }
    AddNotes(listing_, trace, error_);
    return error_.empty();
}

}  // namespace scarlex
