#include "wine_session.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace nimbrel::testing {
namespace {

int Shell(const std::string& command) {
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ShellOutput(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
        pclose(pipe);
    }
    return out;
}

void Sleep(double seconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(seconds * 1000)));
}

// Ends everything wine runs for `prefix` and waits until its server has gone. A server outlives its
// last program by a few seconds, and the desktop it started stays with the display it had then: a
// program started meanwhile on another display gets no window at all.
void EndWine(const std::string& prefix) {
    Shell("WINEPREFIX='" + prefix + "' timeout 20 wineserver -k >/dev/null 2>&1; WINEPREFIX='" + prefix +
          "' timeout 20 wineserver -w >/dev/null 2>&1");
}

}  // namespace

std::uint32_t Screenshot::At(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return 0xFFFFFFFF;
    std::size_t i =
        (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 3;
    return static_cast<std::uint32_t>(rgb[i]) << 16 | static_cast<std::uint32_t>(rgb[i + 1]) << 8 |
           rgb[i + 2];
}

bool Near(std::uint32_t a, std::uint32_t b, int tolerance) {
    if (a == 0xFFFFFFFF || b == 0xFFFFFFFF) return false;
    for (int shift = 0; shift <= 16; shift += 8) {
        int d = static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
        if (d > tolerance || d < -tolerance) return false;
    }
    return true;
}

namespace {

// Starts an X server (`arguments`, the program first) on a display it picks itself; its number, or
// -1 when it did not start. The server's process goes to `server`.
int StartXServer(std::vector<std::string> arguments, pid_t& server) {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    server = fork();
    if (server == 0) {
        close(fds[0]);
        int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 1);
        dup2(devnull, 2);
        arguments.insert(arguments.begin() + 1, {"-displayfd", std::to_string(fds[1])});
        arguments.insert(arguments.end(), {"-nolisten", "tcp"});
        std::vector<char*> argv;
        for (std::string& a : arguments) argv.push_back(a.data());
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(fds[1]);
    std::string number;
    char c;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    fcntl(fds[0], F_SETFL, O_NONBLOCK);
    while (std::chrono::steady_clock::now() < deadline) {
        ssize_t n = read(fds[0], &c, 1);
        if (n == 1) {
            if (c == '\n') break;
            number += c;
        } else if (n == 0) {
            break;
        } else {
            Sleep(0.05);
        }
    }
    close(fds[0]);
    return number.empty() ? -1 : std::atoi(number.c_str());
}

void StopXServer(pid_t& server) {
    if (server <= 0) return;
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
    server = 0;
}

struct Loader {
    std::string program;  // "" when none works
    bool sixtyFourBitOnly = false;
    std::string reason;
};

// True when `loader` runs `probe` (a program that exits with 42) in the tests' wine prefix.
bool RunsProbe(const std::string& loader, const std::string& probe) {
    struct stat st {};
    if (stat(probe.c_str(), &st) != 0) return false;
    const std::string prefix = std::string(NIMBREL_WINE_WORK_DIR) + "/prefix";
    mkdir(NIMBREL_WINE_WORK_DIR, 0755);
    const bool runs = Shell("WINEPREFIX='" + prefix +
                            "' WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' timeout 240 " + loader + " '" +
                            probe + "' >/dev/null 2>&1 </dev/null") == 42;
    // The probe runs without the tests' display; what it started must not serve the players.
    EndWine(prefix);
    return runs;
}

const Loader& FindLoader() {
    static const Loader loader = [] {
        Loader found;
        if (Shell("command -v Xvfb >/dev/null 2>&1 && command -v import >/dev/null 2>&1") != 0) {
            found.reason = "Xvfb or imagemagick's import is not installed";
            return found;
        }
        if (Shell("command -v wine >/dev/null 2>&1") != 0) {
            found.reason = "wine is not installed";
            return found;
        }
        // The players we ship are 32-bit: they are the ones tested wherever wine runs 32-bit
        // programs. NIMBREL_WINE_64=1 tries the 64-bit builds on a system that runs both widths.
        const char* only64 = std::getenv("NIMBREL_WINE_64");
        const bool want64 = only64 != nullptr && std::string(only64) == "1";
        if (!want64 && RunsProbe("wine", NIMBREL_WINE_PROBE32)) {
            found.program = "wine";
            return found;
        }
        for (const char* candidate : {"wine", "wine64", "/usr/lib/wine/wine64", "/usr/lib64/wine/wine64"}) {
            if (RunsProbe(candidate, NIMBREL_WINE_PROBE64)) {
                found.program = candidate;
                found.sixtyFourBitOnly = true;
                if (!want64) {
                    std::printf(
                        "[ note     ] wine does not run 32-bit programs here: the 64-bit players in "
                        "%s/win64 are tested instead\n",
                        NIMBREL_BIN_DIR);
                    std::fflush(stdout);
                }
                return found;
            }
        }
        found.reason = "wine is installed but runs no Windows program on this machine";
        return found;
    }();
    return loader;
}

}  // namespace

std::string WineSession::Unavailable() {
    return FindLoader().reason;
}

bool WineSession::SixtyFourBitOnly() {
    return FindLoader().sixtyFourBitOnly;
}

WineSession::WineSession(const std::string& workDirectory) : work_(workDirectory) {
    mkdir(work_.c_str(), 0755);
    prefix_ = work_ + "/prefix";
    int display = StartXServer({"Xvfb", "-screen", "0", "640x480x24"}, xvfb_);
    if (display < 0) {
        problem_ = "Xvfb did not start";
        return;
    }
    const std::string number = std::to_string(display);
    display_ = display;
    setenv("DISPLAY", (":" + number).c_str(), 1);
    setenv("WINEPREFIX", prefix_.c_str(), 1);
    setenv("WINEDEBUG", "-all", 1);
    setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);  // no downloads of Mono or Gecko
    EndWine(prefix_);  // a server left from before holds no display or another one
    struct stat st {};
    if (stat((prefix_ + "/system.reg").c_str(), &st) != 0) {
        Shell("timeout 180 " + FindLoader().program +
              " wineboot -i >/dev/null 2>&1; timeout 60 wineserver -w");
        if (stat((prefix_ + "/system.reg").c_str(), &st) != 0) {
            problem_ = "wineboot could not prepare the wine prefix";
            return;
        }
    }
    ready_ = true;
}

WineSession::~WineSession() {
    EndWine(prefix_);
    StopXServer(xephyr_);
    StopXServer(xvfb_);
}

pid_t WineSession::Start(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& errorFile) {
    pid_t child = fork();
    if (child == 0) {
        int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 1);
        int err = errorFile.empty() ? devnull : open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(err, 2);
        std::vector<char*> argv;
        const std::string& loader = FindLoader().program;
        argv.push_back(const_cast<char*>(loader.c_str()));
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(loader.c_str(), argv.data());
        _exit(127);
    }
    return child;
}

std::optional<int> WineSession::Wait(pid_t process, double seconds) {
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(static_cast<int>(seconds * 1000));
    for (;;) {
        int status = 0;
        pid_t done = waitpid(process, &status, WNOHANG);
        if (done == process) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (done < 0) return -1;
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        Sleep(0.1);
    }
}

void WineSession::Stop(pid_t process) {
    if (process <= 0) return;
    if (!Wait(process, 0).has_value()) {
        kill(process, SIGTERM);
        if (!Wait(process, 5).has_value()) {
            kill(process, SIGKILL);
            Wait(process, 5);
        }
    }
    EndWine(prefix_);
}

std::optional<Screenshot> WineSession::Capture() {
    std::string path = work_ + "/shot.ppm";
    if (Shell("timeout 20 import -window root -depth 8 '" + path + "' >/dev/null 2>&1") != 0)
        return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int w = 0, h = 0, max = 0;
    in >> magic >> w >> h >> max;
    in.get();
    if (magic != "P6" || w <= 0 || h <= 0 || max != 255) return std::nullopt;
    Screenshot shot;
    shot.width = w;
    shot.height = h;
    shot.rgb.resize(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 3);
    in.read(reinterpret_cast<char*>(shot.rgb.data()), static_cast<std::streamsize>(shot.rgb.size()));
    if (!in) return std::nullopt;
    return shot;
}

std::string WineSession::WindowTree() {
    return ShellOutput("timeout 20 xwininfo -root -tree 2>/dev/null");
}

bool WineSession::UseTwoMonitors(bool on) {
    const char* key = "'HKCU\\Software\\Wine\\X11 Driver'";
    const std::string wine = FindLoader().program;
    if (on == (xephyr_ > 0)) return true;
    EndWine(prefix_);
    if (on) {
        if (Shell("command -v Xephyr >/dev/null 2>&1") != 0) return false;
        // Two screens side by side, seen by wine through Xinerama once its RandR support is off.
        int display =
            StartXServer({"Xephyr", "-screen", "640x480", "-screen", "640x480", "+xinerama"}, xephyr_);
        if (display < 0) return false;
        Shell("timeout 60 " + wine + " reg add " + key + " /v UseXRandR /d N /f >/dev/null 2>&1");
        EndWine(prefix_);
        setenv("DISPLAY", (":" + std::to_string(display)).c_str(), 1);
    } else {
        setenv("DISPLAY", (":" + std::to_string(display_)).c_str(), 1);
        Shell("timeout 60 " + wine + " reg delete " + key + " /v UseXRandR /f >/dev/null 2>&1");
        EndWine(prefix_);
        StopXServer(xephyr_);
    }
    return true;
}

}  // namespace nimbrel::testing
