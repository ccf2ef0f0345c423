// Randomised damage to JPEG heads, run under the sanitizers: the walk, the
// listing and the write-back never read out of bounds, never throw, and keep
// their invariants. Deterministic seed; the long run has the label "long".
#include <gtest/gtest.h>

#include <random>

#include "MetaTestSupport.h"
#include "metadata/ImageInfo.h"
#include "support/TestSupport.h"

#ifndef SCARLEX_METADATA_LONG
#define SCARLEX_METADATA_LONG 0
#endif

using namespace scarlex;
using namespace scarlex::test;

namespace {

constexpr int kRounds = SCARLEX_METADATA_LONG ? 30000 : 2000;

// The long run needs a name of its own: ctest labels tests by name, and the
// short run would otherwise carry the label "long" too and never run.
#if SCARLEX_METADATA_LONG
#define SCARLEX_MUTATION_SUITE MutationLong
#else
#define SCARLEX_MUTATION_SUITE Mutation
#endif

std::vector<Bytes> Seeds() {
    std::vector<Bytes> seeds = {
        JpegBuilder().Seg(APP1, ExifPayload()).Seg(APP13, IptcPayload()).Seg(COM, "comment").Table().Table(SOF0).Scan(),
        JpegBuilder().Seg(APP0, JfifPayload()).Seg(APP1, ExifPayload("Big", Exiv2::bigEndian)).Seg(APP1, "xmp").Scan(),
        JpegBuilder().Table().Table().Table().Seg(COM, "c").Seg(APP1, ExifPayload()).Scan(),
        JpegBuilder().Seg(APP1, std::string("http://ns.adobe.com/xap/1.0/\0", 29) +
                                    "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/"
                                    "22-rdf-syntax-ns#'><rdf:Description xmlns:xmp='http://ns.adobe.com/xap/1.0/' "
                                    "xmp:Rating='3'/></rdf:RDF></x:xmpmeta>")
            .Seg(APP2, std::string("ICC_PROFILE\0\1\1", 14) + "profile").Seg(APP2, std::string("MPF\0MM", 6)).Scan(),
    };
    // Real heads bring maker notes and thumbnails along.
    for (const char* name : {"canon_ixus.jpg", "nikon_e950.jpg", "nikon_e995_iptc.jpg", "canon_sx60hs_xmp_iptc.jpg"}) {
        std::string path = TestDataFile(name);
        if (path.empty()) continue;
        Bytes bytes = ReadFileBytes(path);
        bytes.resize(std::min<std::size_t>(bytes.size(), 40000));
        seeds.push_back(std::move(bytes));
    }
    return seeds;
}

Bytes Mutate(Bytes b, std::mt19937& rng, const std::vector<Bytes>& seeds) {
    auto pick = [&](std::size_t n) { return n ? std::uniform_int_distribution<std::size_t>(0, n - 1)(rng) : 0; };
    const int edits = 1 + int(pick(4));
    for (int e = 0; e < edits; ++e) {
        switch (pick(7)) {
        case 0:  // flip bytes
            for (int i = 0, n = 1 + int(pick(8)); i < n && !b.empty(); ++i) b[pick(b.size())] ^= uint8_t(1 + pick(255));
            break;
        case 1:  // a marker's length field gets any value
            for (std::size_t tries = 0; tries < 64 && b.size() > 4; ++tries) {
                std::size_t at = pick(b.size() - 3);
                if (b[at] == 0xFF && b[at + 1] != 0xFF && b[at + 1] != 0) {
                    b[at + 2] = uint8_t(pick(256));
                    b[at + 3] = uint8_t(pick(256));
                    break;
                }
            }
            break;
        case 2:  // truncate
            b.resize(pick(b.size() + 1));
            break;
        case 3:  // padding
            b.insert(b.begin() + static_cast<std::ptrdiff_t>(pick(b.size() + 1)), 1 + pick(5), uint8_t(0xFF));
            break;
        case 4: {  // duplicate a chunk
            if (b.empty()) break;
            std::size_t from = pick(b.size()), len = std::min(b.size() - from, 1 + pick(300));
            Bytes chunk(b.begin() + static_cast<std::ptrdiff_t>(from), b.begin() + static_cast<std::ptrdiff_t>(from + len));
            b.insert(b.begin() + static_cast<std::ptrdiff_t>(pick(b.size() + 1)), chunk.begin(), chunk.end());
            break;
        }
        case 5: {  // splice in a piece of another seed
            const Bytes& other = seeds[pick(seeds.size())];
            if (other.empty()) break;
            std::size_t from = pick(other.size()), len = std::min(other.size() - from, 1 + pick(2000));
            std::size_t at = pick(b.size() + 1);
            b.erase(b.begin() + static_cast<std::ptrdiff_t>(at),
                    b.begin() + static_cast<std::ptrdiff_t>(std::min(b.size(), at + len)));
            b.insert(b.begin() + static_cast<std::ptrdiff_t>(at), other.begin() + static_cast<std::ptrdiff_t>(from),
                     other.begin() + static_cast<std::ptrdiff_t>(from + len));
            break;
        }
        default:  // a byte inside the TIFF structure set to an extreme
            if (b.size() > 30) b[12 + pick(std::min<std::size_t>(b.size() - 12, 600))] = pick(2) ? 0xFF : 0x00;
            break;
        }
    }
    return b;
}

::testing::AssertionResult Invariants(const TimgData& meta, bool found, const Bytes& input) {
    if (meta.SectionCount() < 0 || meta.SectionCount() > TimgData::MaxSections)
        return ::testing::AssertionFailure() << "entry count " << meta.SectionCount();
    for (int n = 1; n <= meta.SectionCount(); ++n) {
        const TSection& s = meta.Section(n);
        if (s.Size < 2 || s.Data.size() != s.Size || s.Type == 0xFF)
            return ::testing::AssertionFailure() << "entry " << n << " malformed";
        if (s.Data[0] != (s.Size >> 8) || s.Data[1] != (s.Size & 0xFF))
            return ::testing::AssertionFailure() << "entry " << n << " length bytes";
    }
    struct Ref {
        int entry;
        uint8_t type;
    };
    for (Ref r : {Ref{meta.HeaderEntry(), APP0}, Ref{meta.ExifEntry(), APP1}, Ref{meta.IptcEntry(), APP13},
                  Ref{meta.CommentEntry(), COM}, Ref{meta.XmpEntry(), APP1}}) {
        if (r.entry < 0 || r.entry > meta.SectionCount()) return ::testing::AssertionFailure() << "reference out of range";
        if (r.entry && meta.Section(r.entry).Type != r.type) return ::testing::AssertionFailure() << "reference type";
    }
    if (found != meta.HasMetaData()) return ::testing::AssertionFailure() << "result differs from HasMetaData";

    const std::string listing = meta.TagListing();
    std::size_t start = 0;
    while (start < listing.size()) {
        std::size_t end = listing.find("\r\n", start);
        if (end == std::string::npos) return ::testing::AssertionFailure() << "listing without final CR LF";
        if (listing.substr(start, end - start).find_first_of("\r\n") != std::string::npos)
            return ::testing::AssertionFailure() << "line break inside a listing line";
        start = end + 2;
    }

    // Whatever was kept goes out in front of sound saved data, once each and
    // in order; a second pass over the result changes nothing.
    const std::vector<TSection> kept = meta.KeptSegments();
    Bytes out, twice;
    if (!meta.BuildEXIFJpeg(Bytes(JpegBuilder().Seg(APP0, JfifPayload()).Table().Scan()), false, out))
        return ::testing::AssertionFailure() << "sound saved data refused";
    TimgData again(0);
    again.ReadJpegSections(out);
    if (static_cast<std::size_t>(again.SectionCount()) < kept.size() + 2)
        return ::testing::AssertionFailure() << "kept segments not written back";
    for (std::size_t i = 0; i < kept.size(); ++i) {
        const TSection& s = again.Section(static_cast<int>(i) + 1);
        if (s.Type != kept[i].Type || s.Data != kept[i].Data)
            return ::testing::AssertionFailure() << "kept segment " << i << " not written back intact";
    }
    if (!meta.BuildEXIFJpeg(out, false, twice) || twice != out)
        return ::testing::AssertionFailure() << "a second write-back changes the file";
    // The damaged input doubles as saved data: refused or written, never read past.
    if (meta.BuildEXIFJpeg(input, false, out) && (out.size() < 2 || out[0] != 0xFF || out[1] != 0xD8))
        return ::testing::AssertionFailure() << "output without SOI";
    return ::testing::AssertionSuccess();
}

TEST(SCARLEX_MUTATION_SUITE, WalkListingAndWriteBackSurviveDamage) {
    const std::vector<Bytes> seeds = Seeds();
    std::mt19937 rng(20260607);
    ::testing::internal::CaptureStderr();
    for (int round = 0; round < kRounds; ++round) {
        Bytes input = Mutate(seeds[std::size_t(round) % seeds.size()], rng, seeds);
        // An exactly sized copy, so that ASan sees any read past its end.
        auto heap = std::make_unique<uint8_t[]>(input.size());
        std::copy(input.begin(), input.end(), heap.get());
        TimgData meta(255);
        meta.TraceLevel = round % 2;
        bool found = meta.ReadJpegSections(std::span<const uint8_t>(heap.get(), input.size()));
        ASSERT_TRUE(Invariants(meta, found, input)) << "round " << round;
    }
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

}  // namespace
