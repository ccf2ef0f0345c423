// tags, segments, reattach: the metadata reader and writer from the command line.
#include <cstdio>
#include <string>

#include "cli/Cli.h"
#include "common/Paths.h"
#include "metadata/ImgData.h"

namespace scarlex::cli {

namespace {

void RequireFile(const std::string& path) {
    if (DirectoryExists(path)) throw CliError(path + " is a directory, not a JPEG file");
    if (!FileExists(path)) throw CliError(path + ": no such file");
}

std::string EntryText(int entry) { return entry ? std::to_string(entry) : std::string("none"); }

// The listing as the image tags window shows it, with the terminal's line ends.
int RunTags(const Args& args) {
    RequireArgs(args, 1, 1, "tags");
    RequireFile(args[0]);
    TimgData meta(255);
    meta.ProcessFile(args[0]);
    std::string listing = meta.TagListing();
    std::string out;
    out.reserve(listing.size());
    for (std::size_t i = 0; i < listing.size(); ++i) {
        if (listing[i] == '\r' && i + 1 < listing.size() && listing[i + 1] == '\n') continue;
        out += listing[i];
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    if (!meta.HasEXIF()) std::fprintf(stderr, "%s: no EXIF segment (%s)\n", args[0].c_str(), meta.Status().c_str());
    return 0;
}

int RunSegments(const Args& args) {
    RequireArgs(args, 1, 1, "segments");
    RequireFile(args[0]);
    TimgData meta(255);
    bool found = meta.ProcessFile(args[0]);
    std::printf("metadata: %s\nstatus: %s\n", found ? "yes" : "no", meta.Status().c_str());
    std::printf("entry type length on-save  name\n");
    for (int n = 1; n <= meta.SectionCount(); ++n) {
        const TSection& s = meta.Section(n);
        const SegmentFate fate = meta.Fate(n);
        const char* onSave = fate == SegmentFate::Kept ? "kept" : fate == SegmentFate::Dropped ? "dropped" : "replaced";
        std::printf("%5d 0x%02X %6u %-8s %s\n", n, s.Type, unsigned(s.Size), onSave, SegmentName(s.Type, s.Data).c_str());
    }
    std::printf("header: %s\nexif: %s\niptc: %s\ncomment: %s\nxmp: %s\n", EntryText(meta.HeaderEntry()).c_str(),
                EntryText(meta.ExifEntry()).c_str(), EntryText(meta.IptcEntry()).c_str(),
                EntryText(meta.CommentEntry()).c_str(), EntryText(meta.XmpEntry()).c_str());
    return 0;
}

// What a save does after the patch chain: the original's kept segments in
// front of the saved data, or the saved data unchanged when nothing is kept.
int RunReattach(const Args& args) {
    RequireArgs(args, 3, 3, "reattach");
    RequireFile(args[0]);
    RequireFile(args[1]);
    RequireFreeOutput(args[2]);
    TimgData meta(255);
    meta.ProcessFile(args[0]);
    TJPEGImage saved;
    if (MetaResult r = saved.LoadFromFile(args[1]); !r) throw CliError(r.error);
    MetaResult r = meta.KeepsSegments() ? meta.WriteEXIFJpeg(saved, args[2], false)
                                  : ReplaceFileContents(args[2], saved.Bytes());
    if (!r) throw CliError(r.error);
    return 0;
}

const bool registered =
    RegisterCommand({"tags", "FILE", "the EXIF, IPTC and XMP tag listing of the image tags window", RunTags}) &&
    RegisterCommand({"segments", "FILE", "the marker segments before the first scan, what a save does with each, and the entries of header, "
                     "EXIF, IPTC, comment, XMP",
                     RunSegments}) &&
    RegisterCommand({"reattach", "ORIGINAL SAVED OUT",
                     "OUT := SAVED with ORIGINAL's kept segments (EXIF, XMP, ICC, IPTC, comments, ...) in front", RunReattach});

}  // namespace
}  // namespace scarlex::cli
