#include "wizards/wizard_project.h"

#include "platform/error.h"
#include "project/big_ini_file.h"
#include "project/project_file.h"

namespace nimbrel::wizards {

void WriteWizardProjectFile(const std::string& path, const WizardProject& project) {
    project::TBigIniFile ini(path);
    ini.WriteString("Header", "Number", std::to_string(project.files.size()));
    project::WriteSlideShowPictureKeys(ini, project.files, project.slideShow);
    project::WritePicturesSection(ini, project.slideShow);
    // The destructor would swallow a failed write; flushing here reports it.
    ini.Flush();
}

void CheckBoxFileName(std::string_view name) {
    if (name.find_first_of("\"|<>[]") != std::string_view::npos)
        throw Error("Invalid file name - " + std::string(name));
}

}  // namespace nimbrel::wizards
