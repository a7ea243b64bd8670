// The shell on Linux and other POSIX desktops: Windows programs through wine, documents and
// addresses through xdg-open. The program is started by a short-lived child that forks it off,
// so nothing waits for it and no zombie is left behind.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string_view>

#include "platform/shell.h"

extern char** environ;

namespace nimbrel::platform {

namespace detail {
bool RecordShellCall(const ShellCall& call);
}

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool EndsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The executable named `program` on PATH, "" when there is none.
std::string FindProgram(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string directories = path ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= directories.size()) {
        std::size_t end = directories.find(':', start);
        if (end == std::string::npos) end = directories.size();
        std::string_view directory = std::string_view(directories).substr(start, end - start);
        std::string candidate(directory.empty() ? std::string_view(".") : directory);
        if (candidate.back() != '/') candidate.push_back('/');
        candidate.append(program);
        struct stat info {};
        if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return {};
}

// The parameter text split at blanks, as a Windows program would see its arguments (no quotes).
std::vector<std::string> SplitParameters(const std::string& text) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : text) {
        if (c == ' ' || c == '\t') {
            if (!part.empty()) parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty()) parts.push_back(part);
    return parts;
}

void Spawn(const std::vector<std::string>& commandLine) {
    if (commandLine.empty()) return;
    // Everything the children need is prepared before forking: after fork only async-signal-safe
    // calls are made.
    std::vector<char*> argv;
    for (const std::string& arg : commandLine) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const char* program = argv[0];
    pid_t child = ::fork();
    if (child < 0) return;
    if (child == 0) {
        pid_t grandchild = ::fork();
        if (grandchild == 0) {
            ::setsid();
            // The program starts with the signals as a program expects them, whatever this
            // process blocked or ignored for its own clean-up.
            sigset_t none;
            sigemptyset(&none);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
            ::signal(SIGXFSZ, SIG_DFL);
            int null = ::open("/dev/null", O_RDWR);
            if (null >= 0) {
                ::dup2(null, STDIN_FILENO);
                ::dup2(null, STDOUT_FILENO);
                ::dup2(null, STDERR_FILENO);
            }
            ::execve(program, argv.data(), environ);
            ::_exit(127);
        }
        ::_exit(0);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
}

bool IsWindowsProgram(const std::string& name) {
    return EndsWith(name, ".exe") || EndsWith(name, ".scr") || EndsWith(name, ".com");
}

bool IsRunDll(const std::string& name) {
    return name == "rundll32.exe" || EndsWith(name, "/rundll32.exe");
}

bool IsAddress(const std::string& target) {
    return target.find("://") != std::string::npos || Lower(target).rfind("mailto:", 0) == 0;
}

}  // namespace

std::string WineProgram() {
    return FindProgram("wine");
}

std::string ShellProblem(const ShellCall& call) {
    if (call.file.empty()) return {};
    const std::string name = Lower(call.file);
    if (IsWindowsProgram(name)) {
        if (IsRunDll(name)) {
            if (call.parameters && call.parameters->find("InstallScreenSaver") != std::string::npos)
                return "Installing a screensaver is done by the display settings of Windows, which this "
                       "system does not have. Copy the screensaver to a Windows computer and choose "
                       "Install from its context menu there.";
            return "The screensaver control panel is part of Windows, which this system does not have.";
        }
        if (WineProgram().empty())
            return "Running " + call.file +
                   " needs wine, which is not installed. Install it with the system's package manager "
                   "(on Debian and Ubuntu: sudo apt install wine) and try again.";
        return {};
    }
    if (!IsAddress(call.file)) {
        struct stat info {};
        if (::stat(call.file.c_str(), &info) != 0) return "The file " + call.file + " does not exist.";
    }
    if (FindProgram("xdg-open").empty())
        return "Opening " + call.file +
               " needs xdg-open, which is not installed. Install the package xdg-utils (on Debian and "
               "Ubuntu: sudo apt install xdg-utils) and try again.";
    return {};
}

std::vector<std::string> ShellCommandLine(const ShellCall& call, const std::string& wine) {
    if (call.file.empty()) return {};
    const std::string name = Lower(call.file);
    if (IsWindowsProgram(name)) {
        // The display control panel's installer and pages are Windows' own.
        if (IsRunDll(name)) return {};
        if (wine.empty()) return {};
        std::vector<std::string> line{wine, call.file};
        for (std::string& part : SplitParameters(call.parameters.value_or("")))
            line.push_back(std::move(part));
        return line;
    }
    std::string opener = FindProgram("xdg-open");
    if (opener.empty()) return {};
    return {opener, call.file};
}

void ExecuteShell(const ShellCall& call) {
    if (detail::RecordShellCall(call)) return;
    Spawn(ShellCommandLine(call, FindProgram("wine")));
}

bool CanRunWindowsProgram(const std::string& path) {
    // The machine the PE header names: 0x14C for a 32-bit program.
    unsigned machine = 0;
    {
        std::ifstream in(path, std::ios::binary);
        unsigned char header[64] = {};
        if (in.read(reinterpret_cast<char*>(header), 64)) {
            const std::uint32_t pe = header[60] | header[61] << 8 | header[62] << 16 |
                                     static_cast<std::uint32_t>(header[63]) << 24;
            unsigned char signature[6] = {};
            if (pe < (1u << 20) && in.seekg(pe) && in.read(reinterpret_cast<char*>(signature), 6) &&
                signature[0] == 'P' && signature[1] == 'E')
                machine = signature[4] | signature[5] << 8;
        }
    }
    const char* pathVariable = std::getenv("PATH");
    std::string directories = pathVariable != nullptr ? pathVariable : "/usr/bin:/bin";
    bool haveWine = false;
    std::size_t start = 0;
    while (start <= directories.size() && !haveWine) {
        std::size_t end = directories.find(':', start);
        if (end == std::string::npos) end = directories.size();
        std::error_code ec;
        haveWine = std::filesystem::exists(
            std::filesystem::path(directories.substr(start, end - start)) / "wine", ec);
        start = end + 1;
    }
    if (!haveWine) return false;
    if (machine != 0x14C) return true;
    // A 32-bit program needs wine's 32-bit side (Debian's wine32, or a wine of its own build).
    for (const char* loader :
         {"/usr/lib/wine/wine", "/usr/lib/i386-linux-gnu/wine", "/usr/lib/wine/i386-windows",
          "/usr/lib/i386-linux-gnu/wine/i386-windows", "/opt/wine-stable/lib/wine/i386-windows"}) {
        std::error_code ec;
        if (std::filesystem::exists(loader, ec)) return true;
    }
    return false;
}

}  // namespace nimbrel::platform
