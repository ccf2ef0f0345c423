#include "codec/DecodeDamage.h"

#include <jerror.h>

namespace scarlex {

namespace {

constexpr int kEndOfImageMarker = 0xD9;

// Most telling first.
enum class Damage { None, Cut, Missing, Broken, Shifted, Colours };

Damage Classify(const CodecWarning& w) {
    switch (w.code) {
        case JWRN_JPEG_EOF: return Damage::Cut;
        case JWRN_HIT_MARKER: return Damage::Missing;
        case JWRN_HUFF_BAD_CODE:
        case JWRN_ARITH_BAD_CODE: return Damage::Broken;
        case JWRN_MUST_RESYNC:
        case JWRN_NOT_SEQUENTIAL:
        case JWRN_BOGUS_PROGRESSION: return Damage::Shifted;
        // Stray bytes just before the end marker are common and harmless;
        // anywhere else they mean data went missing.
        case JWRN_EXTRANEOUS_DATA: return w.parameter == kEndOfImageMarker ? Damage::None : Damage::Shifted;
        case JWRN_ADOBE_XFORM: return Damage::Colours;
        default: return Damage::None;
    }
}

// Share of the picture below the row where the damage began, in percent,
// at least 1 so that a damaged last row is not called "0 %".
int PercentBelow(const CodecWarning& w) {
    if (w.height <= 0 || w.row < 0 || w.row >= w.height) return 0;
    const long long below = static_cast<long long>(w.height - w.row) * 100 / w.height;
    return below < 1 ? 1 : static_cast<int>(below);
}

std::string Where(const CodecWarning& w) {
    const int percent = PercentBelow(w);
    if (w.row <= 0 || percent >= 99) return "the whole picture";
    return "the lower part of the picture (about the bottom " + std::to_string(percent) + " %)";
}

}  // namespace

std::string DescribeDecodeDamage(const std::vector<CodecWarning>& warnings) {
    // The most telling warning speaks: a cut-off file warns twice, and the
    // first to name what is lost is enough.
    const CodecWarning* worst = nullptr;
    Damage worstDamage = Damage::None;
    for (const CodecWarning& w : warnings) {
        const Damage d = Classify(w);
        if (d != Damage::None && (worst == nullptr || static_cast<int>(d) < static_cast<int>(worstDamage))) {
            worst = &w;
            worstDamage = d;
        }
    }
    if (worst == nullptr) return {};
    const CodecWarning& w = *worst;
    const std::string keeps = "; saving keeps it so";
    switch (worstDamage) {
        case Damage::Cut:
            if (w.progressive)
                return "the file ends early, so the picture's last passes are missing and it shows less detail or "
                       "paler colours than it should" +
                       keeps;
            if (w.row <= 0) return "the file ends early, so almost all of the picture is missing and is shown grey" + keeps;
            return "the file ends early, so " + Where(w) + " is missing and is shown grey" + keeps;
        case Damage::Missing:
            if (w.progressive) return "some of the picture data is missing: parts of the picture may look blurred" + keeps;
            return "some of the picture data is missing: " + Where(w) + " may be partly grey" + keeps;
        case Damage::Broken:
            if (w.progressive)
                return "some of the picture data is broken: parts of the picture may show blocks of wrong colour" + keeps;
            return "the picture data is broken: " + Where(w) + " may show grey or wrongly coloured blocks" + keeps;
        case Damage::Shifted:
            return "some of the picture data is damaged: a band of the picture may be grey, shifted sideways or "
                   "wrongly coloured" +
                   keeps;
        case Damage::Colours:
            return "the file names a colour conversion this program does not know: its colours may look wrong";
        case Damage::None: break;
    }
    return {};
}

}  // namespace scarlex
