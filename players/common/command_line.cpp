#include "command_line.h"

#include <cctype>

namespace nimbrel::player {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Reads an unsigned decimal number at `at`, skipping blanks, a colon and quotes first.
std::uintptr_t ReadHandle(std::string_view text, std::size_t at) {
    while (at < text.size() && (IsBlank(text[at]) || text[at] == ':' || text[at] == '"')) ++at;
    std::uintptr_t value = 0;
    bool any = false;
    for (; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])); ++at) {
        std::uintptr_t next = value * 10 + static_cast<std::uintptr_t>(text[at] - '0');
        if (next / 10 != value) return 0;  // overflow: not a handle
        value = next;
        any = true;
    }
    return any ? value : 0;
}

}  // namespace

CommandLine ParseCommandLine(std::string_view arguments) {
    CommandLine result;
    std::size_t at = 0;
    while (at < arguments.size() && (IsBlank(arguments[at]) || arguments[at] == '"')) ++at;
    if (at >= arguments.size()) return result;
    if (arguments[at] == '/' || arguments[at] == '-') ++at;
    if (at >= arguments.size()) return result;
    char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(arguments[at])));
    std::uintptr_t handle = ReadHandle(arguments, at + 1);
    switch (letter) {
        case 's': result.mode = RunMode::FullScreen; break;
        case 'p':
        case 'l':  // "/l" is the preview switch of some old control panels
            if (handle != 0) {
                result.mode = RunMode::Preview;
                result.window = handle;
            }
            break;
        case 'a': result.mode = RunMode::Password; break;
        case 'c': result.window = handle; break;
        default: break;
    }
    return result;
}

}  // namespace nimbrel::player
