#include "save/SaveCommands.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>

#include "codec/JpegCodec.h"
#include "common/Paths.h"
#include "common/SafeWrite.h"
#include "metadata/ImgData.h"
#include "save/FileOps.h"
#include "save/OutputNaming.h"
#include "save/PatchEngine.h"

namespace scarlex {

namespace {
constexpr const char* kSaveTitle = "Save As...";
constexpr const char* kSaveFilter = "JPEG (*.jpg;*.jpeg)|*.jpg";
constexpr const char* kFileExists = "File Exists";
}  // namespace

namespace {
CodecResult FromMeta(const MetaResult& m) {
    if (!m.ok) return CodecResult::Failure(m.error);
    CodecResult ok;
    ok.ok = true;
    return ok;
}
}  // namespace

void UseMetadata(SaveDocument& doc, const TimgData& meta) {
    doc.HasEXIF = [&meta] { return meta.HasEXIF(); };
    doc.KeepsMetadata = [&meta] { return meta.KeepsSegments(); };
    doc.WriteEXIFJpeg = [&meta](const std::string& saved, const std::string& out) {
        TJPEGImage image;
        MetaResult m = image.LoadFromFile(saved);
        if (m.ok) m = meta.WriteEXIFJpeg(image, out, false);
        return FromMeta(m);
    };
    doc.WriteWithMetadata = [&meta](std::span<const uint8_t> saved, const ByteSink& sink) {
        if (meta.KeepsSegments()) return FromMeta(meta.WriteJpeg(saved, false, sink));
        return FromMeta(sink(saved) ? MetaResult::Success() : MetaResult::Failure("the output could not be written"));
    };
}

bool SaveCommands::Save1Click() {
    FileDialogRequest request;
    request.title = kSaveTitle;
    request.filter = kSaveFilter;
    request.defaultExtension = "jpg";
    if (settings_.RememberSaveFolder && !settings_.LastSaveFolder.empty())
        request.initialFolder = settings_.LastSaveFolder;
    else
        request.initialFolder = ExtractFilePath(doc_.OpenFilePath);  // beside the photograph
    request.fileName = ProposedSaveName(doc_.OpenFilePath, settings_);

    std::string out;
    while (true) {
        std::optional<std::string> chosen = platform_.SaveFileDialog(request);
        if (!chosen) return false;
        out = *chosen;
        const bool ask = SameFile(out, doc_.OpenFilePath) && FileExists(out) &&
                         !(OriginalsFolderUsable(settings_) || settings_.AppendEnabled || settings_.RenameOriginal);
        if (!ask) break;
        if (platform_.MessageBox(MsgType::Confirmation, MsgButtons::YesNo, OverwritePrompt(out), kFileExists) ==
            MsgAnswer::Yes)
            break;
        request.fileName = out;  // the dialog shows the name last chosen
    }
    if (!SaveTo(out)) return false;
    // The dialog starts where the user last saved.
    if (settings_.RememberSaveFolder) settings_.LastSaveFolder = ExtractFilePath(out);
    return true;
}

bool SaveCommands::AutoSave1Click() {
    const std::string out = AutoSaveName(doc_.OpenFilePath, settings_);
    if (SameFile(out, doc_.OpenFilePath) && !settings_.RenameOriginal && !OriginalsFolderUsable(settings_) &&
        FileExists(out)) {
        if (platform_.MessageBox(MsgType::Confirmation, MsgButtons::YesNo, OverwritePrompt(out), kFileExists) !=
            MsgAnswer::Yes)
            return Save1Click();
    }
    return SaveTo(out);
}

bool SaveCommands::Fail(const std::string& text) {
    platform_.MessageBox(MsgType::Error, MsgButtons::Ok, text);
    return false;
}

std::string SameFileRefusal(const std::string& out, const std::string& relocated) {
    return "The output " + out + " and the moved original " + relocated +
           " would be the same file.\nPlease choose another name.";
}

std::string ChangedOnDiskRefusal(const std::string& original) {
    return "The photograph " + original +
           " has changed on disk since it was loaded. Saving now would mix your edits with a different "
           "picture, so nothing was saved.\nYour edits are kept; open the photograph again to save it.";
}

std::string KeptQualityNote(const std::string& out) {
    return "The edits were saved into " + out +
           " with the original's own quality: its quantisation tables cannot be shared with blocks coded at "
           "quality 75.";
}

std::string UncodableRefusal(const std::string& out) {
    return "The edits cannot be saved into " + out +
           ": some of the photograph's coefficients are beyond what a JPEG file can code, even with its own "
           "quantisation tables.\nNothing was written; your edits are kept.";
}

namespace {

bool Exists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::lstat(path.c_str(), &st) == 0;
}

// Size and time of the file now, to see that it stayed what the save read.
bool StillAsRead(const std::string& path, const FileFingerprint& read) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    const bool same = ::fstat(fd, &st) == 0 && uint64_t(st.st_size) == read.size && ModificationTimeNs(fd) == read.mtimeNs;
    ::close(fd);
    return same;
}

}  // namespace

bool SaveCommands::SaveTo(const std::string& out) {
    report_ = SaveReport{};
    if (!doc_.WorkBitmap || doc_.WorkBitmap->Empty()) return Fail("There is no photograph to save.");
    std::optional<BusyCursor> busy(std::in_place, platform_);
    auto fail = [&](const std::string& text) {
        busy.reset();
        return Fail(text);
    };
    if (DirectoryExists(out)) return fail(out + " is a directory.\nPlease choose a file name.");
    if (Exists(out) && !FileExists(out)) return fail(out + " is not a plain file.\nPlease choose another name.");

    // Where the original is now. After a save that moved or renamed it, the
    // open path may be gone while the original sits where that save put it.
    std::string source;
    RelocationPlan plan;
    if (FileExists(doc_.OpenFilePath)) {
        plan = PlanRelocation(doc_.OpenFilePath, settings_);
        if (plan.refused) {
            busy.reset();
            platform_.MessageBox(MsgType::Warning, MsgButtons::Cancel, plan.warning);
            return false;
        }
        source = doc_.OpenFilePath;
    } else if (!SameFile(doc_.OriginalPath, doc_.OpenFilePath) && FileExists(doc_.OriginalPath)) {
        source = doc_.OriginalPath;
    } else {
        return fail("The photograph " + doc_.OpenFilePath + " is no longer there, so it cannot be saved.");
    }
    // Names are compared as files, not as texts: "./a.jpg" is "a.jpg".
    if (plan.relocate && SameFile(out, plan.relocated)) return fail(SameFileRefusal(out, plan.relocated));
    if (!SameFile(doc_.OriginalPath, doc_.OpenFilePath) && SameFile(out, doc_.OriginalPath))
        return fail("Filename " + out + " is where the original photograph is kept.\nPlease choose another name.");
    const bool outIsOpenFile = SameFile(out, doc_.OpenFilePath);

    // Work folders a killed save of an older version may have left.
    RemoveStaleWorkDirs(ExtractFilePath(out));

    // The original is read once, into memory, and used only if it is the
    // file that was loaded: a file replaced meanwhile is not spliced with
    // old edits.
    std::vector<uint8_t> original;
    FileFingerprint read;
    if (const std::string why = ReadFingerprinted(source, read, original); !why.empty())
        return fail("The photograph could not be read:\n" + why);
    if (doc_.LoadedFile.known && !doc_.LoadedFile.Matches(read)) return fail(ChangedOnDiskRefusal(source));

    // One pass over the original's coefficients. The engine takes every
    // photograph the decoder gives a bitmap for (greyscale, YCbCr and RGB
    // coded), so the crop-and-drop chain is not needed here any more.
    const std::vector<Rect> rows = doc_.UndoRows ? doc_.UndoRows() : std::vector<Rect>{};
    report_.undoRows = static_cast<int>(rows.size());
    report_.mode = settings_.KeepOriginalQuality ? PatchMode::KeepQuality : PatchMode::Default;
    std::vector<uint8_t> image;
    CodecResult r = BuildPatchedJpeg(original, *doc_.WorkBitmap, doc_.SourceSampling, rows, report_.mode, image,
                                     &report_.engine);
    if (!r && r.kind == CodecFailure::Uncodable && report_.mode == PatchMode::Default) {
        // Common tables would push coefficients past what the coding
        // carries. With the original's own tables nothing is rescaled, so
        // the edits can still be saved; the user is told, not asked.
        r = BuildPatchedJpeg(original, *doc_.WorkBitmap, doc_.SourceSampling, rows, PatchMode::KeepQuality, image,
                             &report_.engine);
        if (r) {
            report_.mode = PatchMode::KeepQuality;
            report_.keptQualityInstead = true;
            report_.note = KeptQualityNote(out);
        }
    }
    if (!r) {
        if (r.kind == CodecFailure::Uncodable) return fail(UncodableRefusal(out));
        return fail(source + ": " + r.error);
    }
    std::vector<uint8_t>().swap(original);
    report_.appliedRows = report_.engine.appliedRows;
    report_.replacedImcus = report_.engine.replacedImcus;

    // The file is written once, kept segments first, beside the output; it
    // gets the original's permission bits and never replaces a file that
    // was not there when the save began.
    PlaceOptions place;
    place.permissionsFrom = source;
    place.noReplace = !Exists(out);
    FileBeside file(out, place);
    if (!file.ok()) return fail(std::string(kCantOpenOutput) + "\n" + file.error());
    ByteHasher hasher;  // the new file's fingerprint, when it replaces the open one
    const ByteSink sink = [&](std::span<const uint8_t> piece) {
        if (outIsOpenFile) hasher.Add(piece);
        return file.Write(piece);
    };
    if (doc_.WriteWithMetadata) {
        r = doc_.WriteWithMetadata(image, sink);
    } else {
        r = CodecResult{};
        r.ok = sink(image);
    }
    if (!file.error().empty()) return fail(std::string(kCantOpenOutput) + "\n" + file.error());
    if (!r) return fail(r.error);
    std::vector<uint8_t>().swap(image);
    if (!StillAsRead(source, read)) return fail(ChangedOnDiskRefusal(source));

    if (plan.relocate && outIsOpenFile) {
        // The output takes the original's own name: first give the original
        // its new name as well, then put the output over the old one.
        if (const std::string why = LinkOrCopyFileTo(doc_.OpenFilePath, plan.relocated); !why.empty())
            return fail("The original could not be moved to " + plan.relocated + ", so nothing was saved:\n" + why);
        if (const std::string why = file.Commit(); !why.empty()) {
            ::unlink(plan.relocated.c_str());  // the second name made just now
            return fail(std::string(kCantOpenOutput) + "\n" + why);
        }
        doc_.OriginalPath = plan.relocated;
        report_.relocatedOriginal = plan.relocated;
    } else {
        if (const std::string why = file.Commit(); !why.empty())
            return fail(std::string(kCantOpenOutput) + "\n" + why);
        if (plan.relocate) {
            if (const std::string why = MoveFileTo(doc_.OpenFilePath, plan.relocated); why.empty()) {
                doc_.OriginalPath = plan.relocated;
                report_.relocatedOriginal = plan.relocated;
            } else {
                report_.relocationError = why;
            }
        }
    }
    FileFingerprint written;
    if (outIsOpenFile) {
        written.size = hasher.Count();
        written.hash = hasher.Value();
        const int fd = ::open(out.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            written.mtimeNs = ModificationTimeNs(fd);
            written.known = true;
            ::close(fd);
        }
    }
    doc_.Saved = true;
    if (outIsOpenFile) doc_.LoadedFile = written;
    report_.output = out;
    report_.outputSize = FileSize(out);
    busy.reset();
    if (!report_.relocationError.empty())
        platform_.MessageBox(MsgType::Warning, MsgButtons::Ok,
                             "The photograph was saved as " + out + ", but the original was not moved to " +
                                 plan.relocated + ":\n" + report_.relocationError);
    return true;
}

}  // namespace scarlex
