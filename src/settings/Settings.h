#pragma once
// Every value the settings file holds, with its default, and the reading and
// writing of the file. The main window keeps one SettingsModel as its
// settings fields; the preferences, hints and About windows work on it.

#include <cstdint>
#include <functional>
#include <string>

#include "platform/Platform.h"
#include "settings/IniFile.h"

namespace scarlex {

// The view's range for the magnification; a stored or typed opening
// magnification is held within it.
inline constexpr int kMinMagnification = 2;
inline constexpr int kMaxMagnification = 100;
// The main window is never narrower than this.
inline constexpr int kMinWindowWidth = 506;

// A number as the user writes it: the shortest text that reads back as the
// same double, with the decimal separator of the current C locale (the
// program calls setlocale(LC_ALL, "") at start).
std::string FormatDecimal(double value);
std::string FormatDecimal(double value, const std::string& separator);

struct SettingsModel {
    // Main Form: the window's geometry, applied and kept by the main window.
    int Top = 126;
    int Left = 300;
    int Width = 500;
    int Height = 640;
    // The window was maximised when the program last ended.
    bool Maximised = false;
    // Whether the file held the geometry: without it, the first start sizes
    // the window to the screen.
    bool GeometryStored = false;

    bool UseIniFile = false;
    bool ShowPopupHints = true;
    bool AppendEnabled = true;
    std::string FileNameAppend = " - nre";
    bool RenameOriginal = false;
    std::string RenameExtension = ".OGL";
    bool MoveOriginal = false;
    std::string OriginalsFolder;
    bool ForceGrey = true;
    bool RememberOpenFolder = true;
    std::string LastOpenFolder;
    bool RememberSaveFolder = true;
    std::string LastSaveFolder;
    bool NumberDuplicates = true;
    uint32_t MagnifierBorderColour = 0xFF0000;  // 0x00BBGGRR: blue
    uint32_t LimitBorderColour = 0xFFFF00;      // aqua
    int OpeningMagnification = 5;
    int NextHint = 0;
    bool StartupHints = true;
    bool RememberThresholds = false;
    // Without a limit circle, a click's removal stays inside the magnifying
    // glass (a circle of its radius around the aimed pixel).
    bool LimitToGlass = true;
    // Show photographs upright by their EXIF orientation.
    bool UseOrientation = true;
    // Open, a drop and Next ask before unsaved edits are discarded.
    bool AskBeforeDiscard = true;
    // Saves code the edited blocks with the original's own quantisation
    // tables, so nothing else is requantised and the file does not grow.
    bool KeepOriginalQuality = false;
    // Photographs larger than this many megapixels are refused; 0 means the
    // program's default (500, or less where memory is small). No control in
    // the preferences: the value is set in the file ("Max Megapixels").
    int MaxMegapixels = 0;

    // The texts of EThresholdR, EThresholdRG and EThresholdRB, as typed.
    std::string ThresholdR = DefaultRedThreshold();
    std::string ThresholdRG = DefaultRedGreenThreshold();
    std::string ThresholdRB = DefaultRedBlueThreshold();

    static std::string DefaultRedThreshold() { return "35"; }
    static std::string DefaultRedGreenThreshold() { return FormatDecimal(1.6); }
    static std::string DefaultRedBlueThreshold() { return FormatDecimal(1.1); }
};

// Within kMinMagnification..kMaxMagnification.
int ClampMagnification(int magnification);

// MoveOriginal set and OriginalsFolder naming a folder that exists now.
bool OriginalsFolderUsable(const SettingsModel& settings);
// Governs AutoSave1, AutoSaveAndClose1 and TBAutoSave.
bool AutoSavePossible(const SettingsModel& settings);
// The hint of TBAutoSave.
std::string AutoSaveHint(const SettingsModel& settings);

// The settings file: the executable's name with ".INI" in place of its
// extension, in $XDG_CONFIG_HOME, or ~/.config when that is unset.
std::string SettingsFolder();
std::string SettingsFileName(const std::string& executablePath);
std::string ExecutablePath();
std::string SettingsFilePath();
// "Remove ini file": deletes exactly that file; a missing file is fine.
void RemoveSettingsFile(const std::string& path);

// Reads every key in the file's order into `settings` (missing keys and
// unreadable values give the defaults). The thresholds are read only while
// RememberThresholds is set; otherwise they get their defaults.
void ReadSettings(SettingsModel& settings, const IniFile& ini);

// Called between reading and the originals-folder check, so the main window
// can set Magnification, TBAutoSave's hint and its pop-up hints.
using ApplySettings = std::function<void(const SettingsModel&)>;

// LoadSettings: read, apply, then turn moving off with a warning when the
// originals folder has gone.
void LoadSettings(SettingsModel& settings, const IniFile& ini, Platform& platform, const ApplySettings& apply = {});
void LoadSettings(SettingsModel& settings, const std::string& path, Platform& platform,
                  const ApplySettings& apply = {});

// SaveSettings: writes nothing unless UseIniFile is set. The geometry is
// written only when the window is in its normal state. Throws IniWriteError
// at the first key that cannot be written; the later ones are not written.
void SaveSettings(const SettingsModel& settings, IniFile& ini, bool windowNormal);
void SaveSettings(const SettingsModel& settings, const std::string& path, bool windowNormal);

// The texts of the settings file.
namespace ini {
inline constexpr const char* kMainForm = "Main Form";
inline constexpr const char* kGeneral = "General";
inline constexpr const char* kFile = "File";
}  // namespace ini

inline constexpr const char* kMissingFolderWarning =
    "The directory for moving the original files to does not appear to exist. Moving originals has been turn off. "
    "\nTo re-enable moving originals, go to prefs and set a directory which exists.";

}  // namespace scarlex
