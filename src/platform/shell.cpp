// The recording seam shared by both systems' shell implementations.
#include "platform/shell.h"

namespace nimbrel::platform {

namespace {
bool recording = false;
std::vector<ShellCall>& Recorded() {
    static std::vector<ShellCall> calls;
    return calls;
}
}  // namespace

namespace detail {
// True when the call was recorded instead of executed.
bool RecordShellCall(const ShellCall& call) {
    if (!recording) return false;
    Recorded().push_back(call);
    return true;
}
}  // namespace detail

void SetShellRecording(bool on) {
    recording = on;
}

bool ShellRecording() {
    return recording;
}

const std::vector<ShellCall>& RecordedShellCalls() {
    return Recorded();
}

void ClearRecordedShellCalls() {
    Recorded().clear();
}

}  // namespace nimbrel::platform
