#include <sys/ioctl.h>
#include <unistd.h>

#include "platform/terminal.h"

namespace nimbrel::platform {

namespace {
int Descriptor(StandardStream stream) {
    return stream == StandardStream::Output ? STDOUT_FILENO : STDERR_FILENO;
}
}  // namespace

bool IsTerminal(StandardStream stream) {
    return isatty(Descriptor(stream)) != 0;
}

int TerminalColumns(StandardStream stream) {
    if (!IsTerminal(stream)) return 0;
    winsize size{};
    if (ioctl(Descriptor(stream), TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_col;
}

}  // namespace nimbrel::platform
