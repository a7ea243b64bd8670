#pragma once
// What a program does when it is interrupted in the middle of its work.

namespace nimbrel::platform {

// From now on, an interrupt (SIGINT, SIGTERM or SIGHUP; Ctrl+C, Ctrl+Break or the console
// window closing on Windows) first removes every temporary file and folder still alive
// (RemoveLiveTemporaries: the half-written screensaver beside the output, the build's folder),
// then ends the process as the signal would have ended it. A write past the file size limit
// (SIGXFSZ) fails with EFBIG, which the writer reports, instead of killing the process without
// a word. Call once, from main, before any other thread starts.
void CleanUpOnInterrupt();

// While one lives, a write on this thread to a pipe whose reader is gone (a child program that
// died) fails with EPIPE, which the writer reports, instead of ending the whole program by
// SIGPIPE. For code that talks to a child program over pipes (the Flash recorder's browser).
// Nothing on Windows, where a broken pipe is an error code already.
class BrokenPipesFail {
public:
    BrokenPipesFail();
    ~BrokenPipesFail();
    BrokenPipesFail(const BrokenPipesFail&) = delete;
    BrokenPipesFail& operator=(const BrokenPipesFail&) = delete;

private:
    bool unblock_ = false;  // SIGPIPE was not blocked before
};

}  // namespace nimbrel::platform
