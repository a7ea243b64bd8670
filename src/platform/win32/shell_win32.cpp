// The shell on Windows: the shell's execute operation, with no owner window.
#include <windows.h>
// shellapi.h needs windows.h first.
#include <shellapi.h>

#include "platform/shell.h"

namespace nimbrel::platform {

namespace detail {
bool RecordShellCall(const ShellCall& call);
}

namespace {
const char* Argument(const std::optional<std::string>& text) {
    return text ? text->c_str() : nullptr;
}
}  // namespace

std::vector<std::string> ShellCommandLine(const ShellCall& /*call*/, const std::string& /*wine*/) {
    return {};
}

std::string ShellProblem(const ShellCall& /*call*/) {
    return {};
}

std::string WineProgram() {
    return {};
}

void ExecuteShell(const ShellCall& call) {
    if (detail::RecordShellCall(call)) return;
    ShellExecuteA(nullptr, Argument(call.operation), call.file.c_str(), Argument(call.parameters),
                  Argument(call.directory), SW_SHOWNORMAL);
}

bool CanRunWindowsProgram(const std::string&) {
    return true;
}

}  // namespace nimbrel::platform
