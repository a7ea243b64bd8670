#include <io.h>
#include <windows.h>

#include "platform/terminal.h"

namespace nimbrel::platform {

namespace {
DWORD Handle(StandardStream stream) {
    return stream == StandardStream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE;
}
}  // namespace

bool IsTerminal(StandardStream stream) {
    return _isatty(stream == StandardStream::Output ? 1 : 2) != 0;
}

int TerminalColumns(StandardStream stream) {
    if (!IsTerminal(stream)) return 0;
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(GetStdHandle(Handle(stream)), &info)) return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

}  // namespace nimbrel::platform
