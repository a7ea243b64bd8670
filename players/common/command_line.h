#pragma once
// The screensaver command line: "/s" full screen, "/p <hwnd>" preview inside a window, "/c" or
// nothing the configuration box. Switches may start with '/' or '-', in either case, and carry
// their window handle after a blank or a colon ("/c:1234", "/p 5678").

#include <cstdint>
#include <string_view>

namespace nimbrel::player {

enum class RunMode {
    Configure,   // "/c" or no argument: the About box
    FullScreen,  // "/s"
    Preview,     // "/p <hwnd>": draw inside the given window
    Password,    // "/a": change password (old Windows); the players have none and just exit
};

struct CommandLine {
    RunMode mode = RunMode::Configure;
    std::uintptr_t window = 0;  // the parent window of "/p" and "/c:<hwnd>", 0 when none
};

// Parses the arguments after the program name. A preview without a valid window handle falls
// back to the configuration box, which is what the control panel expects from an unknown call.
CommandLine ParseCommandLine(std::string_view arguments);

}  // namespace nimbrel::player
