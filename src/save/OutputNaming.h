#pragma once
// Output names and the relocation of originals.

#include <string>

#include "settings/Settings.h"

namespace scarlex {

// The name the save dialog proposes: the open file without its extension,
// plus the append text and ".jpg" when appending is on.
std::string ProposedSaveName(const std::string& openPath, const SettingsModel& s);
// The output of Auto Save.
std::string AutoSaveName(const std::string& openPath, const SettingsModel& s);
// "Filename <out> already exists. Overwrite?"
std::string OverwritePrompt(const std::string& out);

struct RelocationPlan {
    bool relocate = false;      // a rename or move is asked for
    bool refused = false;       // the name is taken and numbering is off
    std::string relocated;      // where the original goes (the open path when not relocating)
    std::string warning;        // the text shown when refused
};

// Works out where the original goes, numbering the name ("_0", "_1", ...)
// while it is taken. Touches no file.
RelocationPlan PlanRelocation(const std::string& openPath, const SettingsModel& s);

}  // namespace scarlex
