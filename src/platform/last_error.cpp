#include "platform/last_error.h"

#include <cerrno>

#ifdef _WIN32
#include <windows.h>
#endif

namespace nimbrel::platform {

#ifdef _WIN32
std::uint32_t LastErrorCode() {
    return ::GetLastError();
}
void SetLastErrorCode(std::uint32_t code) {
    ::SetLastError(code);
}
#else
namespace {
thread_local std::uint32_t lastErrorCode = kErrorSuccess;
}
std::uint32_t LastErrorCode() {
    return lastErrorCode;
}
void SetLastErrorCode(std::uint32_t code) {
    lastErrorCode = code;
}
#endif

std::uint32_t ErrorCodeFromErrno(int errorNumber) {
    switch (errorNumber) {
        case 0: return kErrorSuccess;
        case ENOENT: return kErrorFileNotFound;
        case ENOTDIR: return kErrorPathNotFound;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR: return kErrorAccessDenied;
#ifdef EWOULDBLOCK
        case EWOULDBLOCK: return kErrorSharingViolation;
#endif
        case ENOSPC: return kErrorDiskFull;
        default: return 0x20000000u | static_cast<std::uint32_t>(errorNumber);
    }
}

}  // namespace nimbrel::platform
