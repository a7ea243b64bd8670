// POSIX desktops have no common wallpaper setting (each desktop keeps its own), so the bitmap is
// kept in the user's data folder and the desktop is left alone.
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/paths.h"
#include "platform/wallpaper.h"

namespace nimbrel::platform {

std::string SystemWallpaperDirectory() {
    std::string base;
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data)
        base = data;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = JoinPath(home, ".local/share");
    else
        base = GetTempDirectory();
    std::string directory = JoinPath(base, "nimbrel");
    std::error_code ignored;
    std::filesystem::create_directories(directory, ignored);
    return WithTrailingSeparator(directory);
}

WallpaperResult ApplySystemWallpaper(const std::vector<WallpaperValue>&) {
    return WallpaperResult::Unsupported;
}

}  // namespace nimbrel::platform
