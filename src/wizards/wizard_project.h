#pragma once
// The rules of the new-project wizards that need no window: the project file the slideshow
// wizard writes, and the file names the main window's file-name boxes refuse.

#include <string>
#include <string_view>
#include <vector>

#include "project/project_file.h"

namespace nimbrel::wizards {

// What the slideshow wizard collects. The defaults are its controls' initial states (no
// transition chosen: -1). Of `slideShow` only the picture options, `output` to
// `backgroundColor`, are the wizard's; it has no icon or About controls and writes no such keys.
struct WizardProject {
    std::vector<std::string> files;  // full paths, in list order
    project::SlideShowValues slideShow;
};

// Writes the wizard's keys into the project file at `path`, in their fixed order: Header/Number,
// Files/0.., then Options/Output, Center, AutoSize, Stretch, KeepAspect, Random, ShowSpeed,
// Transition, BGColor, ColorR, ColorG, ColorB. Everything else an existing file holds stays
// (Type, the icon and About keys, file keys beyond Number). Every line is cut to the INI layer's
// 255 characters. Throws nimbrel::Error when the file cannot be read or rewritten; the file then
// keeps its old content.
void WriteWizardProjectFile(const std::string& path, const WizardProject& project);

// The main window's file-name boxes refuse a name holding a double quote, a vertical bar or one
// of < > [ ]: throws nimbrel::Error "Invalid file name - <name>" for such a name.
void CheckBoxFileName(std::string_view name);

}  // namespace nimbrel::wizards
