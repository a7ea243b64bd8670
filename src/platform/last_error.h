#pragma once
// The platform's last-error value: the detail left behind by operations that report only a
// boolean. On Windows it is the system's own (GetLastError/SetLastError); elsewhere it is a
// per-thread value that the platform layer sets with the same Windows codes.

#include <cstdint>

namespace nimbrel::platform {

inline constexpr std::uint32_t kErrorSuccess = 0;
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorPathNotFound = 3;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorInvalidData = 13;
inline constexpr std::uint32_t kErrorSharingViolation = 32;
inline constexpr std::uint32_t kErrorDiskFull = 112;
inline constexpr std::uint32_t kErrorBadExeFormat = 193;

std::uint32_t LastErrorCode();
void SetLastErrorCode(std::uint32_t code);

// The Windows code for an errno value (unknown values keep the errno with bit 29 set, the
// customer bit, so that they never collide with a system code).
std::uint32_t ErrorCodeFromErrno(int errorNumber);

}  // namespace nimbrel::platform
