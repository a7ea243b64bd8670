#pragma once
// The installer's checks under wine, for every test that installs a show: what a finished install
// leaves (the file, the uninstaller, the active screensaver, the uninstall entry) and that the
// uninstall entry's command takes it all away again.

#include <string>

#include "wine_session.h"

namespace nimbrel::testing {

// A file's bytes; empty when it cannot be read.
std::string ReadFile(const std::string& path);

class SetupHarness {
public:
    // `work` holds the harness's scratch files (registry exports, error logs).
    SetupHarness(WineSession& session, std::string work) : session_(session), work_(std::move(work)) {}

    // Runs a program under wine to its end; its exit code (-1 when it did not end in 90 s).
    int RunToEnd(const std::string& program, const std::vector<std::string>& arguments,
                 const std::string& errors = "");
    // A registry key as `reg export` writes it, as plain ASCII text.
    std::string ExportKey(const std::string& key);
    void SetPreviousScreenSaver(const std::string& value);
    // The folder the installer puts a show into: the user's local Programs\NAME.
    std::string InstallFolder(const std::string& name);

    // Checks that the show `name` is installed: `screensaver`'s bytes under its file name, the
    // uninstaller, the active screensaver and the uninstall entry naming `publisher` and
    // remembering `previous`, the screensaver that was active before.
    void ExpectInstalled(const std::string& name, const std::string& screensaver,
                         const std::string& publisher, const std::string& previous);
    // Runs the uninstall entry's command silently and checks that nothing of the show is left
    // and that `previous` (a Windows path) is the active screensaver again.
    void UninstallAndExpectNoTrace(const std::string& name, const std::string& previous);

private:
    WineSession& session_;
    std::string work_;
};

}  // namespace nimbrel::testing
