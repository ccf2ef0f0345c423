#include "save/SaveCommands.h"

#include <optional>

#include "codec/JpegCodec.h"
#include "common/Paths.h"
#include "metadata/ImgData.h"
#include "save/FileOps.h"
#include "save/OutputNaming.h"

namespace scarlex {

namespace {
constexpr const char* kSaveTitle = "Save As...";
constexpr const char* kSaveFilter = "JPEG (*.jpg;*.jpeg)|*.jpg";
constexpr const char* kFileExists = "File Exists";
}  // namespace

void UseMetadata(SaveDocument& doc, const TimgData& meta) {
    doc.HasEXIF = [&meta] { return meta.HasEXIF(); };
    doc.WriteEXIFJpeg = [&meta](const std::string& saved, const std::string& out) {
        TJPEGImage image;
        MetaResult m = image.LoadFromFile(saved);
        if (m.ok) m = meta.WriteEXIFJpeg(image, out, false);
        if (!m.ok) return CodecResult::Failure(m.error);
        CodecResult ok;
        ok.ok = true;
        return ok;
    };
}

bool SaveCommands::Save1Click() {
    FileDialogRequest request;
    request.title = kSaveTitle;
    request.filter = kSaveFilter;
    request.defaultExtension = "jpg";
    if (settings_.RememberSaveFolder && !settings_.LastSaveFolder.empty())
        request.initialFolder = settings_.LastSaveFolder;
    request.fileName = ProposedSaveName(doc_.OpenFilePath, settings_);

    std::string out;
    while (true) {
        std::optional<std::string> chosen = platform_.SaveFileDialog(request);
        if (!chosen) return false;
        out = *chosen;
        const bool ask = SamePath(out, doc_.OpenFilePath) && FileExists(out) &&
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
    if (SamePath(out, doc_.OpenFilePath) && !settings_.RenameOriginal && !OriginalsFolderUsable(settings_) &&
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

bool SaveCommands::SaveTo(const std::string& out) {
    report_ = SaveReport{};
    if (!doc_.WorkBitmap || doc_.WorkBitmap->Empty()) return Fail("There is no photograph to save.");
    std::optional<BusyCursor> busy(std::in_place, platform_);

    // Where the original is now. After a save that moved or renamed it, the
    // open path may be gone while the original sits where that save put it.
    std::string chainSource;
    RelocationPlan plan;
    if (FileExists(doc_.OpenFilePath)) {
        plan = PlanRelocation(doc_.OpenFilePath, settings_);
        if (plan.refused) {
            busy.reset();
            platform_.MessageBox(MsgType::Warning, MsgButtons::Cancel, plan.warning);
            return false;
        }
        chainSource = plan.relocated;
    } else if (!SamePath(doc_.OriginalPath, doc_.OpenFilePath) && FileExists(doc_.OriginalPath)) {
        chainSource = doc_.OriginalPath;
    } else {
        busy.reset();
        return Fail("The photograph " + doc_.OpenFilePath + " is no longer there, so it cannot be saved.");
    }
    if (SamePath(out, chainSource) && !SamePath(out, doc_.OpenFilePath)) {
        busy.reset();
        return Fail("Filename " + out + " is where the original photograph is kept.\nPlease choose another name.");
    }

    // Everything is made in a private folder beside the output first, so a
    // failure leaves nothing half-written under the output's name.
    PrivateWorkDir work(ExtractFilePath(out));
    if (!work.ok()) {
        busy.reset();
        return Fail(std::string(kCantOpenOutput) + "\n" + out + ": " + work.error());
    }
    // The chain reads the original where it is now; it is moved aside only
    // once the output is ready, so a failed save leaves it untouched.
    const std::string readFrom = plan.relocate ? doc_.OpenFilePath : chainSource;
    // The re-encode is coded in the original's colour space (RGB in the rare
    // file that keeps it), or its blocks would mean other colours there.
    JpegInfo originalInfo;
    const int colorSpace = ReadJpegInfo(readFrom, originalInfo).ok ? originalInfo.colorSpace : JCS_YCbCr;
    const std::string reencode = work.File(ExtractFileName(ChangeFileExt(out, "")) + ".full.jpg");
    CodecResult r = EncodeBitmapToJpeg(reencode, *doc_.WorkBitmap, doc_.SourceSampling, colorSpace);
    if (!r) {
        busy.reset();
        return Fail(r.error);
    }

    const std::vector<Rect> rows = doc_.UndoRows ? doc_.UndoRows() : std::vector<Rect>{};
    report_.undoRows = static_cast<int>(rows.size());
    std::string patched;
    r = BuildPatchedFile(readFrom, reencode, rows, work.path(), &patched, &report_.chain);
    if (!r) {
        busy.reset();
        return Fail(r.error);
    }
    if (SamePath(patched, readFrom)) {
        // No edits: the output is the original's bytes; the original stays.
        patched = work.File("unchanged.jpg");
        std::string why = CopyFileTo(readFrom, patched);
        if (!why.empty()) {
            busy.reset();
            return Fail(std::string(kCantOpenOutput) + "\n" + why);
        }
    }

    std::string finished = patched;
    if (doc_.HasEXIF && doc_.HasEXIF() && doc_.WriteEXIFJpeg) {
        finished = work.File("with-metadata.jpg");
        r = doc_.WriteEXIFJpeg(patched, finished);
        if (!r) {
            busy.reset();
            return Fail(r.error);
        }
    }
    if (plan.relocate) {
        std::string why = MoveFileTo(doc_.OpenFilePath, plan.relocated);
        if (!why.empty()) {
            busy.reset();
            return Fail("The original could not be moved to " + plan.relocated + ":\n" + why);
        }
        doc_.OriginalPath = plan.relocated;
        report_.relocatedOriginal = plan.relocated;
    }
    if (std::rename(finished.c_str(), out.c_str()) != 0) {
        busy.reset();
        return Fail(std::string(kCantOpenOutput) + "\n" + out);
    }
    doc_.Saved = true;
    report_.output = out;
    report_.outputSize = FileSize(out);
    return true;
}

}  // namespace scarlex
