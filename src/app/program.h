#pragma once
// What the program `nimbrel` sets up around its main window.

#include <QString>

namespace nimbrel::app {

// Names the application ("Nimbrel"; "nimbrel" for the desktop entry) and gives it the program's
// icon. No application display name is set: Qt would add it to every window's caption, and each
// window's caption is exactly its own.
void ConfigureApplication();

// What `nimbrel --version` prints: "Nimbrel 1.0.0.46" and a line break.
QString VersionText();

// True when the command line asks for the version only (`--version` or `-v` as the one argument).
bool AsksForVersion(int argc, const char* const* argv);

}  // namespace nimbrel::app
