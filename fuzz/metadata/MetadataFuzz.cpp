// libFuzzer target: the segment walk, the tag listing (Exiv2 underneath)
// and the rebuilding of a file from the kept segments, over any bytes.
// A broken invariant traps, so that the fuzzer keeps the input.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "metadata/ImageInfo.h"
#include "metadata/ImgData.h"

namespace {

void Require(bool condition) {
    if (!condition) __builtin_trap();
}

void CheckTable(const scarlex::TimgData& meta, bool found) {
    Require(meta.SectionCount() >= 0 && meta.SectionCount() <= scarlex::TimgData::MaxSections);
    for (int n = 1; n <= meta.SectionCount(); ++n) {
        const scarlex::TSection& s = meta.Section(n);
        Require(s.Size >= 2 && s.Data.size() == s.Size && s.Type != 0xFF);
    }
    const int refs[5] = {meta.HeaderEntry(), meta.ExifEntry(), meta.IptcEntry(), meta.CommentEntry(), meta.XmpEntry()};
    const uint8_t types[5] = {0xE0, 0xE1, 0xED, 0xFE, 0xE1};
    for (int i = 0; i < 5; ++i) {
        Require(refs[i] >= 0 && refs[i] <= meta.SectionCount());
        if (refs[i]) Require(meta.Section(refs[i]).Type == types[i]);
    }
    Require(found == meta.HasMetaData());
}

void CheckListing(const std::string& listing) {
    std::size_t start = 0;
    while (start < listing.size()) {
        std::size_t end = listing.find("\r\n", start);
        Require(end != std::string::npos);
        for (std::size_t i = start; i < end; ++i) Require(listing[i] != '\r' && listing[i] != '\n');
        start = end + 2;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    std::span<const uint8_t> bytes(data, size);
    scarlex::TimgData meta(255);
    meta.TraceLevel = size & 1;
    const bool found = meta.ReadJpegSections(bytes);
    CheckTable(meta, found);
    CheckListing(meta.TagListing());

    // The same bytes as the saved data of a save: the kept segments come
    // out first, once each and in order, and a second pass changes nothing.
    std::vector<uint8_t> out;
    if (meta.BuildEXIFJpeg(bytes, false, out)) {
        Require(out.size() >= 2 && out[0] == 0xFF && out[1] == 0xD8);
        const std::vector<scarlex::TSection> kept = meta.KeptSegments();
        scarlex::TimgData again(0);  // nothing listed: only the walk
        again.ReadJpegSections(out);
        Require(static_cast<std::size_t>(again.SectionCount()) >= kept.size());
        for (std::size_t i = 0; i < kept.size(); ++i) {
            const scarlex::TSection& s = again.Section(static_cast<int>(i) + 1);
            Require(s.Type == kept[i].Type && s.Data == kept[i].Data);
        }
        std::vector<uint8_t> twice;
        Require(static_cast<bool>(meta.BuildEXIFJpeg(out, false, twice)) && twice == out);
    }
    return 0;
}
