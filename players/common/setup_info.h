#pragma once
// The installer's platform-neutral part: what "Setup.ini" says, its command line, the folder and
// uninstall entry names it uses and the About text as plain text.

#include <string>
#include <string_view>

namespace nimbrel::player {

struct SetupInfo {
    std::string name;       // the show's name
    std::string publisher;  // who signed it, or empty
    std::string file;       // the screensaver's file name, a member of the installer's archive
};

// "Name=", "Publisher=" and "File=" lines; other lines are ignored. Raises nimbrel::Error when
// File is missing or is no plain file name.
SetupInfo ParseSetupIni(std::string_view text);

struct SetupCommandLine {
    bool silent = false;     // "/S"
    bool uninstall = false;  // "/uninstall"
};

// Switches start with '/' or '-', in any case; unknown ones are ignored.
SetupCommandLine ParseSetupCommandLine(std::string_view arguments);

// The show's name as a folder name: characters no file name may hold become '_', trailing dots
// and blanks go; "Screensaver" when nothing is left.
std::string SetupFolderName(const std::string& showName);

// The uninstall entry's key name for an installed show's folder name.
std::string UninstallKeyName(const std::string& folderName);

// The About text's simple HTML as plain text: tags dropped, entities resolved, <br> and <p> as
// CR LF, a link's address after its text when the two differ.
std::string PlainAboutText(std::string_view html);

}  // namespace nimbrel::player
