#pragma once
// The installer: the setup program (setup.bin) with an archive appended, as a screensaver
// carries its show: "Setup.ini" (the show's name, its publisher and the screensaver's file
// name), "About.cfg" (the About text the screensaver shows) and the screensaver itself.

#include <string>

#include "project/project_file.h"

namespace nimbrel::pipeline {

struct InstallerContent {
    std::string showName;
    std::string aboutText;  // the About text as the project holds it (simple HTML)
    std::string publisher;  // who signed it; empty for an unsigned show
    std::string iconFile;   // the show's own icon (a path on disk), or empty for setup's own
};

// The content of a project's installer: its name, About text and icon (when it changes it).
InstallerContent InstallerContentOf(const project::ProjectValues& values, const std::string& projectFileName);

// The member names the setup program reads.
inline constexpr const char* kSetupIniMember = "Setup.ini";
inline constexpr const char* kSetupAboutMember = "About.cfg";

// "NAME Setup.exe" beside the screensaver; NAME is the show's name with characters that no file
// name may hold replaced, or the screensaver's own name when the show has none.
std::string DefaultInstallerPath(const std::string& screensaverPath, const std::string& showName);

// "Setup.ini"'s text: Name=, Publisher= and File= lines (UTF-8, CR LF).
std::string SetupIniText(const InstallerContent& content, const std::string& screensaverFileName);

// Writes the installer to `outputPath` (replacing a file there only once it is complete). Raises
// nimbrel::Error naming the file that cannot be read or written.
void WriteInstaller(const std::string& setupPath, const std::string& screensaverPath,
                    const InstallerContent& content, const std::string& outputPath);

}  // namespace nimbrel::pipeline
