#pragma once
// Runs Windows programs under wine on a private X server (Xvfb) and takes screenshots of it.
// Tests skip when wine cannot run programs on this machine or Xvfb is missing.

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace nimbrel::testing {

struct Screenshot {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;         // 3 bytes a pixel, top-down
    std::uint32_t At(int x, int y) const;  // 0xRRGGBB
};

// True when both colours are within `tolerance` on every channel.
bool Near(std::uint32_t a, std::uint32_t b, int tolerance = 24);

class WineSession {
public:
    // Why wine tests cannot run here, or "" when they can. Checked once.
    static std::string Unavailable();
    // True when wine runs 64-bit programs only (a system without 32-bit program support): the
    // tests then use the 64-bit builds of the players.
    static bool SixtyFourBitOnly();

    // Starts Xvfb (640 x 480) and prepares the wine prefix under `workDirectory` (kept between
    // runs: the first start of a prefix takes a minute).
    explicit WineSession(const std::string& workDirectory);
    ~WineSession();
    WineSession(const WineSession&) = delete;
    WineSession& operator=(const WineSession&) = delete;

    bool Ready() const { return ready_; }
    // The wine prefix (its drive C: is Prefix() + "/drive_c").
    const std::string& Prefix() const { return prefix_; }
    const std::string& Problem() const { return problem_; }

    // Starts `program` with `arguments` under wine; stderr goes to `errorFile` when given.
    pid_t Start(const std::string& program, const std::vector<std::string>& arguments,
                const std::string& errorFile = "");
    // Waits up to `seconds` for the process to end; its exit code, or nothing when it still runs.
    std::optional<int> Wait(pid_t process, double seconds);
    // Ends a process and everything wine runs for this session.
    void Stop(pid_t process);
    std::optional<Screenshot> Capture();
    // The names of the top-level windows on the display (xwininfo).
    std::string WindowTree();
    // Switches to two 640 x 480 monitors side by side (a nested Xephyr server with Xinerama, which
    // wine reads with its RandR support turned off), or back to the single screen. Ends what wine
    // runs. False when Xephyr is not installed or does not start.
    bool UseTwoMonitors(bool on);

private:
    std::string work_;
    std::string prefix_;
    int display_ = -1;
    bool ready_ = false;
    pid_t xvfb_ = 0;
    pid_t xephyr_ = 0;
    std::string problem_;
};

}  // namespace nimbrel::testing
