#pragma once
// Hands work to the desktop shell (run a screensaver, open a help file or a web site) without
// waiting for it and without reporting whether it started.

#include <optional>
#include <string>
#include <vector>

namespace nimbrel::platform {

// One shell execute request. An absent operation, parameter text or directory is a null
// argument; an empty one is an empty string (for the operation both mean the default verb).
struct ShellCall {
    std::optional<std::string> operation;
    std::string file;
    std::optional<std::string> parameters;
    std::optional<std::string> directory;

    bool operator==(const ShellCall&) const = default;
};

// Starts the request and returns at once; failures are ignored. On Windows this is the shell's
// execute operation with the normal show mode. Elsewhere a Windows program is run with wine when
// wine is installed (rundll32's control panel commands have no equivalent and do nothing), and
// any other file is opened with xdg-open.
void ExecuteShell(const ShellCall& call);

// The command line ExecuteShell runs for a request on this system (program first), or an empty
// list when it runs nothing. `wine` is the wine program to use, "" when none is installed.
// Windows hands the request to the shell as it stands, so there this is always empty.
std::vector<std::string> ShellCommandLine(const ShellCall& call, const std::string& wine);

// Why a request cannot run on this system, in words for the user, or "" when it can: on POSIX
// systems a Windows program needs wine, a document or address needs xdg-open, a document must
// exist, and the display control panel has no equivalent. Windows hands every request to its
// shell and reports nothing, so there this is always "".
std::string ShellProblem(const ShellCall& call);

// The wine program that runs Windows programs here, "" when none is installed (always "" on
// Windows).
std::string WineProgram();

// True where this system can start the Windows program `path`: always on Windows; elsewhere when
// wine is on the PATH, with its 32-bit side for a 32-bit program (the PE header's machine 0x14C).
bool CanRunWindowsProgram(const std::string& path);

// Test seam: while recording, ExecuteShell runs nothing and keeps each request instead.
void SetShellRecording(bool on);
bool ShellRecording();
const std::vector<ShellCall>& RecordedShellCalls();
void ClearRecordedShellCalls();

}  // namespace nimbrel::platform
