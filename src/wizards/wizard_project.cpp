#include "wizards/wizard_project.h"

#include "platform/error.h"
#include "project/big_ini_file.h"
#include "project/project_file.h"

namespace nimbrel::wizards {

void WriteWizardProjectFile(const std::string& path, const WizardProject& project) {
    project::TBigIniFile ini(path);
    ini.WriteString("Header", "Number", std::to_string(project.files.size()));
    for (std::size_t i = 0; i < project.files.size(); ++i)
        ini.WriteString("Files", std::to_string(i), project.files[i]);
    ini.WriteString("Options", "Output", project.output);
    ini.WriteBool("Options", "Center", project.center);
    ini.WriteBool("Options", "AutoSize", project.autoSize);
    ini.WriteBool("Options", "Stretch", project.stretch);
    ini.WriteBool("Options", "KeepAspect", project.keepAspect);
    ini.WriteBool("Options", "Random", project.random);
    ini.WriteInteger("Options", "ShowSpeed", project.showSpeed);
    ini.WriteInteger("Options", "Transition", project.transition);
    ini.WriteInteger("Options", "BGColor", project.backgroundColor);
    const project::ColorParts parts = project::SplitColor(project.backgroundColor);
    ini.WriteInteger("Options", "ColorR", parts.r);
    ini.WriteInteger("Options", "ColorG", parts.g);
    ini.WriteInteger("Options", "ColorB", parts.b);
    // The destructor would swallow a failed write; flushing here reports it.
    ini.Flush();
}

void CheckBoxFileName(std::string_view name) {
    if (name.find_first_of("\"|<>[]") != std::string_view::npos)
        throw Error("Invalid file name - " + std::string(name));
}

}  // namespace nimbrel::wizards
