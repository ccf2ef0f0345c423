#include "save/OutputNaming.h"

#include "common/Paths.h"

namespace scarlex {

std::string ProposedSaveName(const std::string& openPath, const SettingsModel& s) {
    std::string name = ChangeFileExt(openPath, "");
    if (s.AppendEnabled) name += s.FileNameAppend + ".jpg";
    return name;
}

std::string AutoSaveName(const std::string& openPath, const SettingsModel& s) {
    return ChangeFileExt(openPath, "") + (s.AppendEnabled ? s.FileNameAppend : std::string()) + ".jpg";
}

std::string OverwritePrompt(const std::string& out) { return "Filename " + out + " already exists. Overwrite?"; }

RelocationPlan PlanRelocation(const std::string& openPath, const SettingsModel& s) {
    RelocationPlan plan;
    plan.relocated = openPath;
    std::string folder = ExtractFilePath(openPath);
    if (OriginalsFolderUsable(s)) folder = IncludeTrailingSlash(s.OriginalsFolder);
    if (!s.RenameOriginal && !s.MoveOriginal) return plan;

    plan.relocate = true;
    const std::string ext = s.RenameOriginal ? s.RenameExtension : ExtractFileExt(openPath);
    plan.relocated = folder + ExtractFileName(ChangeFileExt(openPath, ext));
    if (!FileExists(plan.relocated) && !DirectoryExists(plan.relocated)) return plan;

    if (!s.NumberDuplicates) {
        plan.refused = true;
        plan.warning = "Filename " + plan.relocated +
                       " already exists...\nPlease turn on Number duplicate files (under Files in prefs), or "
                       "perform a standard save.";
        return plan;
    }
    for (unsigned long n = 0;; ++n) {
        plan.relocated = folder + ExtractFileName(ChangeFileExt(openPath, "_" + std::to_string(n) + ext));
        if (!FileExists(plan.relocated) && !DirectoryExists(plan.relocated)) return plan;
    }
}

}  // namespace scarlex
