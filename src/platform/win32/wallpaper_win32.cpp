// The Windows desktop wallpaper: HKEY_CURRENT_USER\Control Panel\Desktop and the shell's
// SPI_SETDESKWALLPAPER, which re-reads those values and tells every window.
#include <windows.h>

#include "platform/paths.h"
#include "platform/wallpaper.h"

namespace nimbrel::platform {

std::string SystemWallpaperDirectory() {
    char buffer[261] = {};
    UINT length = GetWindowsDirectoryA(buffer, sizeof buffer);
    if (length == 0 || length >= sizeof buffer) return {};
    return WithTrailingSeparator(std::string(buffer, length));
}

WallpaperResult ApplySystemWallpaper(const std::vector<WallpaperValue>& values) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &key, nullptr) == ERROR_SUCCESS) {
        for (const WallpaperValue& v : values)
            RegSetValueExA(key, v.name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(v.value.c_str()),
                           static_cast<DWORD>(v.value.size() + 1));
        RegCloseKey(key);
    }
    // The shell takes the wallpaper from the values just written.
    SystemParametersInfoA(SPI_SETDESKWALLPAPER, 0, nullptr, SPIF_SENDWININICHANGE);
    return WallpaperResult::Applied;
}

}  // namespace nimbrel::platform
