#pragma once
// What the program `nimbrel` sets up around its main window, and its command line.

#include <QString>
#include <QStringList>

namespace nimbrel::app {

// Names the application ("Nimbrel"; "nimbrel" for the desktop entry) and gives it the program's
// icon. No application display name is set: Qt would add it to every window's caption, and each
// window's caption is exactly its own.
void ConfigureApplication();

// What `nimbrel --version` prints: "Nimbrel 1.0.0.46" and a line break.
QString VersionText();

// What `nimbrel --help` prints: how to start the program, ending in a line break.
QString UsageText();

// The command line after the program's name. An argument that starts with "-" is an option,
// never a project; "--" ends the options, so "nimbrel -- -odd.nssp" opens "-odd.nssp".
struct CommandLine {
    bool help = false;     // --help or -h
    bool version = false;  // --version or -v
    QString project;       // the first argument that is no option; "" when none
    QString badOption;     // the first option this program does not know; "" when none
};
CommandLine ParseCommandLine(const QStringList& arguments);

// The arguments of main() after the program's name.
QStringList ArgumentsOf(int argc, const char* const* argv);

}  // namespace nimbrel::app
