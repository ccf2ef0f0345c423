#pragma once
// The save commands without a window: Save (with its dialog), Auto Save,
// and the sequence they share: read the original once, rebuild it with only
// the blocks around the edits replaced (PatchEngine), put the original's
// metadata in front, write the file once, and relocate the original.
//
// Nothing is written under the output's name until the whole file is ready:
// the original is read into memory and checked against the file as it was
// loaded, the finished file is written beside the output (with the
// original's permission bits) and renamed into place once the original is
// seen unchanged. Only then is the original renamed or moved. A failed save says
// why, leaves the original where it is, and leaves Saved as it was. The
// output is never the relocated original, and an output that takes the
// original's own name is put there only once the original is safe under
// its new one.

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "codec/JpegError.h"
#include "common/Bitmap.h"
#include "common/Fingerprint.h"
#include "common/Rect.h"
#include "common/Sampling.h"
#include "platform/Platform.h"
#include "save/PatchEngine.h"
#include "settings/Settings.h"

namespace scarlex {

// What the main window holds about the photograph on screen, as the save
// commands see it.
struct SaveDocument {
    std::string OpenFilePath;  // the loaded photograph's path; saving never changes it
    std::string OriginalPath;  // where that file is now (differs after a relocation)
    const Bitmap* WorkBitmap = nullptr;
    Sampling SourceSampling;
    bool Saved = false;
    // The file as it was when loaded (DecodeJpegToBitmap's fingerprint). A
    // save refuses to build from a file that no longer matches it; a save
    // that replaces the open file records the new file's. Unknown: no check.
    FileFingerprint LoadedFile;

    // The undo rows' rectangles, oldest first.
    std::function<std::vector<Rect>()> UndoRows;
    // Whether the loaded file had an EXIF segment; whether it had any
    // segment that a save puts back, and the writer that puts the kept
    // segments in front of `saved`, writing `out`.
    std::function<bool()> HasEXIF;
    std::function<bool()> KeepsMetadata;
    std::function<CodecResult(const std::string& saved, const std::string& out)> WriteEXIFJpeg;
    // The same in memory, for a save that writes its file once: the final
    // file's bytes (`saved` as it is when nothing is kept) go to `sink`,
    // which returns false when it cannot take them.
    std::function<CodecResult(std::span<const uint8_t> saved, const std::function<bool(std::span<const uint8_t>)>& sink)>
        WriteWithMetadata;
};

struct SaveReport {
    std::string output;
    std::string relocatedOriginal;  // empty when the original stayed
    std::string relocationError;    // saved, but the original could not be moved: why
    int undoRows = 0;
    int appliedRows = 0;            // rows with something inside the picture
    long replacedImcus = 0;         // distinct iMCUs given new blocks
    PatchMode mode = PatchMode::Default;  // how the edited blocks were coded
    // The default coding could not carry this photograph's blocks, so the
    // save kept the original's quality instead; `note` says so.
    bool keptQualityInstead = false;
    std::string note;               // for the user, about a save that succeeded
    PatchEngineReport engine;
    long long outputSize = 0;
};

class SaveCommands {
public:
    SaveCommands(Platform& platform, SettingsModel& settings, SaveDocument& document)
        : platform_(platform), settings_(settings), doc_(document) {}

    // Each returns true when a file was saved.
    bool Save1Click();
    bool AutoSave1Click();
    // The shared sequence for an output chosen by the caller.
    bool SaveTo(const std::string& out);

    const SaveReport& LastReport() const { return report_; }

private:
    bool Fail(const std::string& text);

    Platform& platform_;
    SettingsModel& settings_;
    SaveDocument& doc_;
    SaveReport report_;
};

class TimgData;
// Points the document's metadata hooks at `meta`, the segments kept when the
// photograph was loaded (it must outlive the document's use).
void UseMetadata(SaveDocument& doc, const TimgData& meta);

// Shown when a file of the save cannot be created.
inline constexpr const char* kCantOpenOutput = "Can't open output file for writing";

// The texts of the refusals that protect the user's files.
std::string SameFileRefusal(const std::string& out, const std::string& relocated);
std::string ChangedOnDiskRefusal(const std::string& original);
std::string UncodableRefusal(const std::string& out);
// Said (not asked) when a save kept the original's quality on its own.
std::string KeptQualityNote(const std::string& out);

}  // namespace scarlex
