// libFuzzer target: a settings file of any bytes read by the INI layer and
// the settings model, then written back and read again.
//
// Checked: every text comes back as one line of at most 2047 bytes; every
// integer read agrees with a plain reading of the same text; the moving of
// originals is off unless its folder exists, with exactly one warning when
// it was turned off; writing the settings and reading them again gives the
// same settings; and the rewrite keeps every line that is not one of our
// keys.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unordered_map>
#include <vector>

#include "FuzzSupport.h"
#include "common/Paths.h"
#include "platform/ScriptedPlatform.h"
#include "settings/IniFile.h"
#include "settings/Settings.h"

using namespace scarlex;
using scarlex::fuzz::Require;

namespace {

bool Blank(char c) { return c == ' ' || c == '\t'; }

std::string Trimmed(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && Blank(s[b])) ++b;
    while (e > b && Blank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// The integer grammar read plainly: decimal with an optional sign, or 0x
// and one to eight hexadecimal digits; blanks around it.
bool PlainInteger(const std::string& text, int32_t& out) {
    const std::string s = Trimmed(text);
    auto hex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); };
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        if (s.size() > 10) return false;
        uint32_t v = 0;
        for (std::size_t i = 2; i < s.size(); ++i) {
            if (!hex(s[i])) return false;
            v = v * 16 + static_cast<uint32_t>(s[i] <= '9' ? s[i] - '0' : (s[i] | 0x20) - 'a' + 10);
        }
        out = static_cast<int32_t>(v);
        return true;
    }
    std::size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    if (i == s.size()) return false;
    int64_t v = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        v = v * 10 + (s[i] - '0');
        if (v > 2147483648LL) return false;
    }
    if (negative) v = -v;
    if (v > INT32_MAX || v < INT32_MIN) return false;
    out = static_cast<int32_t>(v);
    return true;
}

// The file's lines as the reader splits them.
std::vector<std::string> Lines(const std::vector<uint8_t>& bytes) {
    std::vector<std::string> lines;
    std::string text(bytes.begin(), bytes.end());
    std::size_t pos = 0, start = 0;
    // Ends: "\n", "\r\n", or "\r" alone.
    while (pos < text.size()) {
        const char c = text[pos];
        if (c != '\n' && c != '\r') {
            ++pos;
            continue;
        }
        lines.push_back(text.substr(start, pos - start));
        pos += (c == '\r' && pos + 1 < text.size() && text[pos + 1] == '\n') ? 2 : 1;
        start = pos;
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

const char* const kWrittenKeys[] = {
    "Top", "Left", "Width", "Height", "Ini File", "Show Hints", "Enable FIle Name Append", "File Name Append",
    "Rename Original File", "New File Extension", "Move Original File", "Move Original Directory", "Force Grey",
    "Remember Last Open Folder", "Last Open Folder Name", "Last Save Folder Name", "Remember Last Save Folder",
    "Number Duplicate Files", "Magnifying Glass Border Colour", "Limit Circle Border Colour", "Magnification", "Hint",
    "Startup Hints", "Remember Threshold settings", "Red Threshold", "Red/Green Threshold", "Red/Blue Threshold",
};

bool OurKeyLine(const std::string& line) {
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) return false;
    const std::string key = Lower(Trimmed(line.substr(0, eq)));
    for (const char* k : kWrittenKeys)
        if (key == Lower(k)) return true;
    return false;
}

void RequireText(const std::string& s) {
    Require(s.size() <= IniFile::kMaxValueLength);
    Require(s.find_first_of("\r\n") == std::string::npos);
}

void RequireSame(const SettingsModel& a, const SettingsModel& b) {
    Require(a.Top == b.Top && a.Left == b.Left && a.Width == b.Width && a.Height == b.Height);
    Require(a.UseIniFile == b.UseIniFile && a.ShowPopupHints == b.ShowPopupHints);
    Require(a.AppendEnabled == b.AppendEnabled && a.FileNameAppend == b.FileNameAppend);
    Require(a.RenameOriginal == b.RenameOriginal && a.RenameExtension == b.RenameExtension);
    Require(a.MoveOriginal == b.MoveOriginal && a.OriginalsFolder == b.OriginalsFolder);
    Require(a.ForceGrey == b.ForceGrey && a.NumberDuplicates == b.NumberDuplicates);
    Require(a.RememberOpenFolder == b.RememberOpenFolder && a.LastOpenFolder == b.LastOpenFolder);
    Require(a.RememberSaveFolder == b.RememberSaveFolder && a.LastSaveFolder == b.LastSaveFolder);
    Require(a.MagnifierBorderColour == b.MagnifierBorderColour && a.LimitBorderColour == b.LimitBorderColour);
    Require(a.OpeningMagnification == b.OpeningMagnification && a.NextHint == b.NextHint);
    Require(a.StartupHints == b.StartupHints && a.RememberThresholds == b.RememberThresholds);
    Require(a.ThresholdR == b.ThresholdR && a.ThresholdRG == b.ThresholdRG && a.ThresholdRB == b.ThresholdRB);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size > IniFile::kMaxFileSize) return 0;
    const std::string path = fuzz::ScratchDir() + "/scarlex.INI";
    fuzz::WriteBytes(path, data, size);
    const std::vector<uint8_t> original(data, data + size);

    const IniFile ini(path);
    // Every key line of the first section, read as text and as a number.
    {
        const std::vector<std::string> lines = Lines(original);
        std::string section;
        for (const std::string& line : lines) {
            const std::string t = Trimmed(line);
            if (!t.empty() && t[0] == '[') {
                if (!section.empty()) break;
                const std::size_t close = t.find(']');
                section = Trimmed(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
                if (section.empty()) break;
                continue;
            }
            const std::size_t eq = line.find('=');
            if (section.empty() || eq == std::string::npos) continue;
            const std::string key = Trimmed(line.substr(0, eq));
            if (key.empty()) continue;
            const std::string value = ini.ReadString(section, key, "\x01");
            RequireText(value);
            int32_t plain = 0;
            const bool number = PlainInteger(value, plain);
            Require(ini.ReadInteger(section, key, 12345) == (number ? plain : 12345));
        }
    }

    SettingsModel settings;
    ScriptedPlatform platform;
    LoadSettings(settings, ini, platform);
    for (const std::string* s : {&settings.FileNameAppend, &settings.RenameExtension, &settings.OriginalsFolder,
                                 &settings.LastOpenFolder, &settings.LastSaveFolder, &settings.ThresholdR,
                                 &settings.ThresholdRG, &settings.ThresholdRB})
        RequireText(*s);
    Require(settings.OpeningMagnification >= kMinMagnification && settings.OpeningMagnification <= kMaxMagnification);
    Require(!settings.MoveOriginal || DirectoryExists(settings.OriginalsFolder));
    SettingsModel plainRead;
    ReadSettings(plainRead, ini);
    Require(platform.messages.size() == (plainRead.MoveOriginal && !settings.MoveOriginal ? 1u : 0u));

    // Written back (as at exit with the file enabled) and read again.
    plainRead.UseIniFile = true;
    const std::string copy = fuzz::ScratchDir() + "/again.INI";
    fuzz::WriteBytes(copy, data, size);
    try {
        SaveSettings(plainRead, copy, true);
    } catch (const IniWriteError&) {
        Require(false);
    }
    SettingsModel reread;
    ReadSettings(reread, IniFile(copy));
    RequireSame(plainRead, reread);

    // Nothing but our own keys is lost.
    std::unordered_map<std::string, int> kept;
    for (const std::string& line : Lines(fuzz::ReadBytes(copy))) ++kept[line];
    for (const std::string& line : Lines(original)) {
        auto it = kept.find(line);
        if (it != kept.end() && it->second > 0) {
            --it->second;
            continue;
        }
        if (!OurKeyLine(line) && std::getenv("SCARLEX_FUZZ_VERBOSE"))
            std::fprintf(stderr, "line lost by the rewrite: '%s'\n", line.c_str());
        Require(OurKeyLine(line));
    }
    return 0;
}
