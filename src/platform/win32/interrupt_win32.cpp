// Windows interrupts: the console's control handler runs on a thread of its own.
#include <windows.h>

#include "platform/interrupt.h"
#include "platform/temp.h"

namespace nimbrel::platform {

namespace {

BOOL WINAPI OnConsoleControl(DWORD) {
    RemoveLiveTemporaries();
    return FALSE;  // the default handler then ends the process
}

}  // namespace

void CleanUpOnInterrupt() {
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

BrokenPipesFail::BrokenPipesFail() = default;
BrokenPipesFail::~BrokenPipesFail() = default;

}  // namespace nimbrel::platform
