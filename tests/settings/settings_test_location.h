#pragma once
// Where a settings test keeps its keys: a private folder on POSIX, a private key under
// HKEY_CURRENT_USER on Windows, deleted with everything in it when the test ends.

#include <string>

#include "platform/temp.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace nimbrel::platform {

class TestSettingsLocation {
public:
    explicit TestSettingsLocation(const TempDirectory& dir) {
#ifdef _WIN32
        (void)dir;
        location_ = "Software\\NimbrelTests\\" + std::to_string(::GetCurrentProcessId()) + "-" +
                    std::to_string(++Counter());
#else
        location_ = dir.Path();
#endif
    }
    ~TestSettingsLocation() {
#ifdef _WIN32
        ::RegDeleteTreeA(HKEY_CURRENT_USER, location_.c_str());
        ::RegDeleteKeyA(HKEY_CURRENT_USER, location_.c_str());
#endif
    }
    TestSettingsLocation(const TestSettingsLocation&) = delete;
    TestSettingsLocation& operator=(const TestSettingsLocation&) = delete;

    const std::string& Location() const {
        return location_;
    }

private:
    static int& Counter() {
        static int counter = 0;
        return counter;
    }
    std::string location_;
};

}  // namespace nimbrel::platform
