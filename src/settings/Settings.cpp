#include "settings/Settings.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <clocale>
#include <cstdlib>
#include <filesystem>

#include "common/Paths.h"

namespace scarlex {

std::string FormatDecimal(double value, const std::string& separator) {
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    std::string text(buf, ec == std::errc() ? end : buf);
    std::size_t dot = text.find('.');
    if (dot != std::string::npos) text.replace(dot, 1, separator);
    return text;
}

std::string FormatDecimal(double value) {
    const std::lconv* lc = std::localeconv();
    std::string separator = lc && lc->decimal_point && *lc->decimal_point ? lc->decimal_point : ".";
    return FormatDecimal(value, separator);
}

int ClampMagnification(int magnification) { return std::clamp(magnification, kMinMagnification, kMaxMagnification); }

bool OriginalsFolderUsable(const SettingsModel& s) { return s.MoveOriginal && DirectoryExists(s.OriginalsFolder); }

bool AutoSavePossible(const SettingsModel& s) { return OriginalsFolderUsable(s) || s.AppendEnabled || s.RenameOriginal; }

std::string AutoSaveHint(const SettingsModel& s) { return "Auto Save (with appended " + s.FileNameAppend + ")"; }

std::string SettingsFolder() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    // Relative values are to be ignored, as the XDG rules say.
    if (xdg && xdg[0] == '/') return xdg;
    std::string home;
    if (const char* env = std::getenv("HOME"); env && *env) {
        home = env;
    } else if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) {
        home = pw->pw_dir;
    }
    return IncludeTrailingSlash(home) + ".config";
}

std::string ExecutablePath() {
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string("scarlex") : exe.string();
}

std::string SettingsFileName(const std::string& executablePath) {
    return ChangeFileExt(ExtractFileName(executablePath), ".INI");
}

std::string SettingsFilePath() { return IncludeTrailingSlash(SettingsFolder()) + SettingsFileName(ExecutablePath()); }

void RemoveSettingsFile(const std::string& path) {
    std::error_code ec;
    // Only a file: never a folder that happens to carry the name.
    if (FileExists(path)) std::filesystem::remove(path, ec);
}

void ReadSettings(SettingsModel& s, const IniFile& ini) {
    using namespace ini;
    const SettingsModel d;
    s.Top = ini.ReadInteger(kMainForm, "Top", d.Top);
    s.Left = ini.ReadInteger(kMainForm, "Left", d.Left);
    s.Width = ini.ReadInteger(kMainForm, "Width", d.Width);
    s.Height = ini.ReadInteger(kMainForm, "Height", d.Height);
    s.Maximised = ini.ReadBool(kMainForm, "Maximised", d.Maximised);
    s.GeometryStored = ini.ValueExists(kMainForm, "Width") && ini.ValueExists(kMainForm, "Height");
    s.UseIniFile = ini.ReadBool(kGeneral, "Ini File", d.UseIniFile);
    s.ShowPopupHints = ini.ReadBool(kGeneral, "Show Hints", d.ShowPopupHints);
    s.AppendEnabled = ini.ReadBool(kFile, "Enable FIle Name Append", d.AppendEnabled);
    s.FileNameAppend = ini.ReadString(kFile, "File Name Append", d.FileNameAppend);
    s.RenameOriginal = ini.ReadBool(kFile, "Rename Original File", d.RenameOriginal);
    s.RenameExtension = ini.ReadString(kFile, "New File Extension", d.RenameExtension);
    s.MoveOriginal = ini.ReadBool(kFile, "Move Original File", d.MoveOriginal);
    s.OriginalsFolder = ini.ReadString(kFile, "Move Original Directory", d.OriginalsFolder);
    s.ForceGrey = ini.ReadBool(kGeneral, "Force Grey", d.ForceGrey);
    s.RememberOpenFolder = ini.ReadBool(kFile, "Remember Last Open Folder", d.RememberOpenFolder);
    s.LastOpenFolder = ini.ReadString(kFile, "Last Open Folder Name", d.LastOpenFolder);
    s.RememberSaveFolder = ini.ReadBool(kFile, "Remember Last Save Folder", d.RememberSaveFolder);
    s.LastSaveFolder = ini.ReadString(kFile, "Last Save Folder Name", d.LastSaveFolder);
    s.NumberDuplicates = ini.ReadBool(kFile, "Number Duplicate Files", d.NumberDuplicates);
    s.MagnifierBorderColour = static_cast<uint32_t>(
        ini.ReadInteger(kGeneral, "Magnifying Glass Border Colour", static_cast<int32_t>(d.MagnifierBorderColour)));
    s.LimitBorderColour = static_cast<uint32_t>(
        ini.ReadInteger(kGeneral, "Limit Circle Border Colour", static_cast<int32_t>(d.LimitBorderColour)));
    s.OpeningMagnification = ClampMagnification(ini.ReadInteger(kGeneral, "Magnification", d.OpeningMagnification));
    s.NextHint = ini.ReadInteger(kGeneral, "Hint", d.NextHint);
    s.StartupHints = ini.ReadBool(kGeneral, "Startup Hints", d.StartupHints);
    s.RememberThresholds = ini.ReadBool(kGeneral, "Remember Threshold settings", d.RememberThresholds);
    s.LimitToGlass = ini.ReadBool(kGeneral, "Limit To Glass", d.LimitToGlass);
    s.UseOrientation = ini.ReadBool(kGeneral, "Use Orientation", d.UseOrientation);
    s.AskBeforeDiscard = ini.ReadBool(kFile, "Ask Before Discard", d.AskBeforeDiscard);
    s.KeepOriginalQuality = ini.ReadBool(kFile, "Keep Original Quality", d.KeepOriginalQuality);
    s.MaxMegapixels = std::max(0, ini.ReadInteger(kGeneral, "Max Megapixels", d.MaxMegapixels));
    if (s.RememberThresholds) {
        s.ThresholdR = ini.ReadString(kGeneral, "Red Threshold", d.ThresholdR);
        s.ThresholdRG = ini.ReadString(kGeneral, "Red/Green Threshold", d.ThresholdRG);
        s.ThresholdRB = ini.ReadString(kGeneral, "Red/Blue Threshold", d.ThresholdRB);
    } else {
        s.ThresholdR = d.ThresholdR;
        s.ThresholdRG = d.ThresholdRG;
        s.ThresholdRB = d.ThresholdRB;
    }
}

void LoadSettings(SettingsModel& s, const IniFile& ini, Platform& platform, const ApplySettings& apply) {
    ReadSettings(s, ini);
    if (apply) apply(s);
    if (s.MoveOriginal && !DirectoryExists(s.OriginalsFolder)) {
        s.MoveOriginal = false;
        platform.MessageBox(MsgType::Warning, MsgButtons::Ok, kMissingFolderWarning);
    }
}

void LoadSettings(SettingsModel& s, const std::string& path, Platform& platform, const ApplySettings& apply) {
    const IniFile ini(path);
    LoadSettings(s, ini, platform, apply);
}

void SaveSettings(const SettingsModel& s, IniFile& ini, bool windowNormal) {
    using namespace ini;
    if (!s.UseIniFile) return;
    ini.BeginWrites();  // one rewrite of the file for all of them
    if (windowNormal) {
        ini.WriteInteger(kMainForm, "Top", s.Top);
        ini.WriteInteger(kMainForm, "Left", s.Left);
        ini.WriteInteger(kMainForm, "Width", s.Width);
        ini.WriteInteger(kMainForm, "Height", s.Height);
    }
    // Like the size limit: only once it has mattered.
    if (s.Maximised || ini.ValueExists(kMainForm, "Maximised")) ini.WriteBool(kMainForm, "Maximised", s.Maximised);
    ini.WriteBool(kGeneral, "Ini File", s.UseIniFile);
    ini.WriteBool(kGeneral, "Show Hints", s.ShowPopupHints);
    ini.WriteBool(kFile, "Enable FIle Name Append", s.AppendEnabled);
    ini.WriteString(kFile, "File Name Append", s.FileNameAppend);
    ini.WriteBool(kFile, "Rename Original File", s.RenameOriginal);
    ini.WriteString(kFile, "New File Extension", s.RenameExtension);
    ini.WriteBool(kFile, "Move Original File", s.MoveOriginal);
    ini.WriteString(kFile, "Move Original Directory", s.OriginalsFolder);
    ini.WriteBool(kGeneral, "Force Grey", s.ForceGrey);
    ini.WriteBool(kFile, "Remember Last Open Folder", s.RememberOpenFolder);
    ini.WriteString(kFile, "Last Open Folder Name", s.LastOpenFolder);
    ini.WriteString(kFile, "Last Save Folder Name", s.LastSaveFolder);
    ini.WriteBool(kFile, "Remember Last Save Folder", s.RememberSaveFolder);
    ini.WriteBool(kFile, "Number Duplicate Files", s.NumberDuplicates);
    ini.WriteInteger(kGeneral, "Magnifying Glass Border Colour", static_cast<int32_t>(s.MagnifierBorderColour));
    ini.WriteInteger(kGeneral, "Limit Circle Border Colour", static_cast<int32_t>(s.LimitBorderColour));
    ini.WriteInteger(kGeneral, "Magnification", s.OpeningMagnification);
    ini.WriteInteger(kGeneral, "Hint", s.NextHint);
    ini.WriteBool(kGeneral, "Startup Hints", s.StartupHints);
    ini.WriteBool(kGeneral, "Remember Threshold settings", s.RememberThresholds);
    // Written once someone has set it, so files without it stay as they are.
    if (s.MaxMegapixels != 0 || ini.ValueExists(kGeneral, "Max Megapixels"))
        ini.WriteInteger(kGeneral, "Max Megapixels", s.MaxMegapixels);
    if (s.RememberThresholds) {
        ini.WriteString(kGeneral, "Red Threshold", s.ThresholdR);
        ini.WriteString(kGeneral, "Red/Green Threshold", s.ThresholdRG);
        ini.WriteString(kGeneral, "Red/Blue Threshold", s.ThresholdRB);
    }
    ini.WriteBool(kGeneral, "Limit To Glass", s.LimitToGlass);
    ini.WriteBool(kGeneral, "Use Orientation", s.UseOrientation);
    ini.WriteBool(kFile, "Ask Before Discard", s.AskBeforeDiscard);
    ini.WriteBool(kFile, "Keep Original Quality", s.KeepOriginalQuality);
    ini.CommitWrites();
}

void SaveSettings(const SettingsModel& s, const std::string& path, bool windowNormal) {
    if (!s.UseIniFile) return;
    IniFile ini(path);
    SaveSettings(s, ini, windowNormal);
}

}  // namespace scarlex
