// libFuzzer target: the whole save path on a fuzzed photograph.
// SCARLEX_FUZZ_VERBOSE=1 says why a save was refused or an output is wrong;
// SCARLEX_FUZZ_KEEP=FILE keeps a copy of the last output.
//
// The input is the photograph; its last 20 bytes also choose up to three
// edits, how to save and in which mode (bytes after the end of a picture mean nothing to
// the decoder, so any JPEG file is a seed as it stands). The photograph is
// loaded as `scarlex-cli fix` loads it, edited through the same edit steps,
// and saved through SaveCommands with the scripted platform in a private
// folder: as Auto Save, as Save to another name, with the original renamed,
// or with it moved into a folder.
//
// Checked, trapping on the first fault: a failed save says why and leaves
// the folder as it was; a successful one leaves the original's bytes where
// the save says they are, the output where it was asked for and nothing
// else; the output decodes without a warning (or, when no block had to be
// replaced, no worse than the original), and, decoded without fancy upsampling
// or block smoothing so that every pixel depends on the blocks of its own
// iMCU only, each iMCU equals the fresh encoding of the edited picture
// wherever the edits changed a pixel, and the original far from every edit
// (near an edit it may be either).
#include <sys/stat.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "codec/JpegCodec.h"
#include "common/Paths.h"
#include "editing/EditScript.h"
#include "metadata/ImgData.h"
#include "platform/ScriptedPlatform.h"
#include "save/SaveCommands.h"

using namespace scarlex;
using scarlex::fuzz::ByteReader;
using scarlex::fuzz::Require;

namespace {

constexpr std::size_t kControlBytes = 20;
// Pictures up to about a megapixel, so that a run stays quick.
constexpr long long kMaxSamples = 3LL << 20;

bool Verbose() {
    static const bool verbose = std::getenv("SCARLEX_FUZZ_VERBOSE") != nullptr;
    return verbose;
}

enum class Mode { AutoSave, SaveAs, Rename, Move };

std::vector<EditStep> ReadEdits(ByteReader& in, int w, int h, int count) {
    std::vector<EditStep> steps;
    for (int k = 0; k < count; ++k) {
        const uint8_t kind = in.Byte();
        EditStep s;
        s.x = static_cast<int>((in.Take(2) * static_cast<uint64_t>(w)) >> 16);
        s.y = static_cast<int>((in.Take(2) * static_cast<uint64_t>(h)) >> 16);
        s.r = 1 + in.Byte() % 48;
        switch (kind % 4) {
            case 0:
                s.kind = EditStepKind::Click;
                break;
            case 1:
                s.kind = EditStepKind::Circle;
                break;
            case 2: {
                EditStep limit = s;
                limit.kind = EditStepKind::Limit;
                steps.push_back(limit);
                s.kind = EditStepKind::Click;
                break;
            }
            default:
                s.kind = EditStepKind::Undo;
                break;
        }
        steps.push_back(s);
    }
    return steps;
}

bool SameBlock(const fuzz::PlainImage& a, const fuzz::PlainImage& b, int x0, int y0, int x1, int y1) {
    const std::size_t n = static_cast<std::size_t>(x1 - x0) * a.components;
    for (int y = y0; y < y1; ++y)
        if (std::memcmp(a.Pixel(x0, y), b.Pixel(x0, y), n) != 0) return false;
    return true;
}

bool Changed(const Bitmap& a, const Bitmap& b, int x0, int y0, int x1, int y1) {
    const std::size_t n = static_cast<std::size_t>(x1 - x0) * 3;
    for (int y = y0; y < y1; ++y)
        if (std::memcmp(a.Pixel(x0, y), b.Pixel(x0, y), n) != 0) return true;
    return false;
}

void CheckOutput(const std::vector<uint8_t>& original, const std::string& output, const Bitmap& loaded,
                 const Bitmap& edited, const Sampling& sampling, const std::vector<Rect>& rows, int steps,
                 bool keptQuality) {
    const fuzz::PlainImage probe = fuzz::DecodePlain(original.data(), original.size());
    fuzz::PlainOptions o;
    o.colorSpace = probe.fileComponents == 1 ? JCS_GRAYSCALE : JCS_EXT_BGR;
    o.fancyUpsampling = false;
    o.blockSmoothing = false;
    const fuzz::PlainImage out = fuzz::DecodePlainFile(output, o);
    const fuzz::PlainImage a = fuzz::DecodePlain(original.data(), original.size(), o);
    // The save reads the original from memory: where the original's data
    // is damaged its blocks are what that read gives.
    fuzz::PlainOptions m = o;
    m.memorySource = true;
    const fuzz::PlainImage am = a.warnings ? fuzz::DecodePlain(original.data(), original.size(), m) : fuzz::PlainImage{};
    if (Verbose() && (!out.ok || out.warnings))
        std::fprintf(stderr, "output: %s%s (%d warnings; the original %d; %d steps; largest dequantised %ld)\n",
                     out.error.c_str(), out.firstWarning.c_str(), out.warnings, a.warnings, steps,
                     fuzz::MaxDequantised(original.data(), original.size()));
    if (const char* keep = std::getenv("SCARLEX_FUZZ_KEEP")) {
        const std::vector<uint8_t> bytes = fuzz::ReadBytes(output);
        fuzz::WriteBytes(keep, bytes.data(), bytes.size());
    }
    if (Verbose()) {
        std::fprintf(stderr, "%s, %zu rows:", keptQuality ? "kept quality" : "default", rows.size());
        for (const Rect& row : rows) std::fprintf(stderr, " [%d,%d %d,%d)", row.left, row.top, row.right, row.bottom);
        std::fprintf(stderr, "\n");
    }
    Require(a.ok && out.ok);
    // A rebuilt file is coded afresh; without a step it is the original's
    // data. The kept segments may bring the header's own warnings along.
    const int carried = fuzz::HeaderWarnings(original.data(), original.size());
    Require(out.warnings <= carried || (steps == 0 && out.warnings <= a.warnings));
    const std::string fresh = fuzz::ScratchDir() + "/fresh.jpg";
    Require(EncodeBitmapToJpeg(fresh, edited, sampling, probe.fileColorSpace).ok);
    const fuzz::PlainImage r = fuzz::DecodePlainFile(fresh, o);
    std::remove(fresh.c_str());
    Require(r.ok);
    const int w = a.width, h = a.height;
    Require(out.width == w && out.height == h && r.width == w && r.height == h);
    Require(out.components == a.components && r.components == a.components);
    Require(loaded.Width() == w && loaded.Height() == h);

    const int dh = 8 * a.maxH, dv = 8 * a.maxV;
    for (int y0 = 0; y0 < h; y0 += dv) {
        for (int x0 = 0; x0 < w; x0 += dh) {
            const int x1 = std::min(x0 + dh, w), y1 = std::min(y0 + dv, h);
            bool near = false;
            for (const Rect& row : rows) {
                const int l = std::max(row.left, 0), t = std::max(row.top, 0);
                const int rr = std::min(row.right, w), b = std::min(row.bottom, h);
                if (rr <= l || b <= t) continue;
                if (x1 > l - dh && x0 < rr + 17 + dh && y1 > t - dv && y0 < b + 17 + dv) near = true;
            }
            const bool asOriginal =
                SameBlock(out, a, x0, y0, x1, y1) || (am.ok && SameBlock(out, am, x0, y0, x1, y1));
            const bool asEdited = SameBlock(out, r, x0, y0, x1, y1);
            const bool changed = Changed(loaded, edited, x0, y0, x1, y1);
            // With the original's own tables (chosen when the common ones
            // could not code this file) the edited blocks are not those of
            // the quality 75 encoding; only the blocks away from the edits
            // can be compared exactly then.
            const bool good = keptQuality ? near || asOriginal
                              : changed   ? asEdited
                              : near      ? asOriginal || asEdited
                                          : asOriginal;
            if (!good && Verbose())
                std::fprintf(stderr,
                             "iMCU at %d,%d (%dx%d grid, %dx%d picture): changed %d near %d, output %s; largest "
                             "dequantised coefficient of the original %ld\n",
                             x0, y0, dh, dv, w, h, changed, near,
                             asOriginal ? "as the original" : asEdited ? "as the edit" : "neither",
                             fuzz::MaxDequantised(original.data(), original.size()));
            Require(good);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const long long samples = fuzz::DeclaredSamples(data, size);
    if (samples < 0 || samples > kMaxSamples) return 0;
    const std::vector<uint8_t> original(data, data + size);
    const std::size_t control = std::min(size, kControlBytes);
    ByteReader in(data + size - control, control);

    const std::string dir = fuzz::ScratchDir() + "/save";
    ::mkdir(dir.c_str(), 0700);
    fuzz::EmptyFolder(dir);
    const std::string input = dir + "/in.jpg";
    fuzz::WriteBytes(input, data, size);

    // Loaded as fix loads it: decoded, and its metadata segments kept.
    Bitmap bitmap;
    Sampling sampling;
    if (!DecodeJpegToBitmap(input, bitmap, sampling).ok) return 0;
    TimgData meta(255);
    meta.ProcessFile(input);

    const uint8_t how = in.Byte();
    const Mode mode = static_cast<Mode>(how & 3);
    EditSettings settings = DefaultEditSettings(".");
    static const char* const kPresets[][3] = {
        {"1.6", "1.1", "35"}, {"1.01", "1.01", "0"}, {"1", "1", "0"}, {"1.2", "1.05", "20"}};
    const auto& preset = kPresets[(how >> 2) & 3];
    const uint8_t attenuation = in.Byte() % 101;
    const std::vector<EditStep> steps = ReadEdits(in, bitmap.Width(), bitmap.Height(), 1 + (how >> 5) % 3);
    const bool keepQuality = in.Byte() & 1;  // past the input's end: the default save

    const Bitmap loaded = bitmap;
    DBUndoTable undo;
    EditSession session(bitmap, undo, ".");
    session.Settings().ThresholdRG = preset[0];
    session.Settings().ThresholdRB = preset[1];
    session.Settings().ThresholdR = preset[2];
    session.Settings().Attenuation = attenuation;
    session.Settings().ForceGrey = how & 16;
    for (const EditStep& s : steps) {
        if (s.kind == EditStepKind::Undo && undo.Empty()) continue;
        Require(session.Apply(s).empty());
    }

    SettingsModel prefs;
    prefs.KeepOriginalQuality = keepQuality;
    ScriptedPlatform platform;
    platform.messageAnswers.push_back(MsgAnswer::No);
    std::string output = dir + "/in - nre.jpg", keptAt = input;
    std::vector<std::string> expected = {"in - nre.jpg", "in.jpg"}, untouched = {"in.jpg"};
    switch (mode) {
        case Mode::AutoSave:
            break;
        case Mode::SaveAs:
            output = dir + "/out.jpg";
            platform.saveAnswers.push_back(output);
            expected = {"in.jpg", "out.jpg"};
            break;
        case Mode::Rename:
            prefs.AppendEnabled = false;
            prefs.RenameOriginal = true;
            prefs.RenameExtension = ".OGL";
            output = input;
            keptAt = dir + "/in.OGL";
            expected = {"in.OGL", "in.jpg"};
            break;
        case Mode::Move:
            prefs.MoveOriginal = true;
            prefs.OriginalsFolder = dir + "/orig";
            ::mkdir(prefs.OriginalsFolder.c_str(), 0700);
            keptAt = dir + "/orig/in.jpg";
            expected = {"in - nre.jpg", "orig"};
            untouched = {"in.jpg", "orig"};
            break;
    }

    SaveDocument doc;
    doc.OpenFilePath = doc.OriginalPath = input;
    doc.WorkBitmap = &bitmap;
    doc.SourceSampling = sampling;
    doc.UndoRows = [&undo] { return undo.Rectangles(); };
    UseMetadata(doc, meta);
    SaveCommands commands(platform, prefs, doc);
    const bool saved = mode == Mode::SaveAs ? commands.Save1Click() : commands.AutoSave1Click();

    if (!saved) {
        if (Verbose())
            std::fprintf(stderr, "save refused: %s\n",
                         platform.messages.empty() ? "(no message)" : platform.messages.back().text.c_str());
        Require(!platform.messages.empty() && !platform.messages.back().text.empty());
        Require(fuzz::Listing(dir) == untouched);
        Require(fuzz::ReadBytes(input) == original);
        if (mode == Mode::Move) Require(fuzz::Listing(dir + "/orig").empty());
        return 0;
    }
    Require(doc.Saved && commands.LastReport().output == output);
    Require(fuzz::Listing(dir) == expected);
    if (mode == Mode::Move) Require(fuzz::Listing(dir + "/orig") == std::vector<std::string>{"in.jpg"});
    Require(fuzz::ReadBytes(keptAt) == original);
    CheckOutput(original, output, loaded, bitmap, sampling, undo.Rectangles(), commands.LastReport().appliedRows,
                commands.LastReport().mode == PatchMode::KeepQuality);
    return 0;
}
