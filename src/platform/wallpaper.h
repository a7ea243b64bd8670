#pragma once
// The desktop wallpaper: where the wallpaper bitmap lives and how the desktop is told to show it.
// On Windows the values go to HKEY_CURRENT_USER\Control Panel\Desktop and the shell re-applies
// them; other systems have no common way to set a wallpaper, so there the bitmap is only saved.

#include <functional>
#include <string>
#include <vector>

namespace nimbrel::platform {

// The bitmap every wallpaper action overwrites: "VorlapWallpaper.bmp" in the Windows directory;
// elsewhere in the user's data folder ($XDG_DATA_HOME or ~/.local/share, subfolder "nimbrel").
std::string WallpaperPath();

// One desktop value, written as a string.
struct WallpaperValue {
    std::string name;
    std::string value;
    bool operator==(const WallpaperValue&) const = default;
};

// The values that make `bitmapPath` the wallpaper, in the order they are written: "Wallpaper",
// "TileWallpaper" ("1" tiled, else "0"; written twice when stretched) and "WallpaperStyle"
// ("2" stretched, else "0").
std::vector<WallpaperValue> DesktopWallpaperValues(const std::string& bitmapPath, bool tile, bool stretch);

enum class WallpaperResult {
    Applied,      // the values were written and the desktop told to re-read them
    Unsupported,  // this system offers no way to set the wallpaper; nothing was changed
};

// Writes DesktopWallpaperValues and asks the desktop to apply them (SystemParametersInfo with
// SPI_SETDESKWALLPAPER and SPIF_SENDWININICHANGE on Windows, whose result is not looked at).
WallpaperResult SetDesktopWallpaper(const std::string& bitmapPath, bool tile, bool stretch);

// Test seam: while a recorder is set, SetDesktopWallpaper hands it the values instead of touching
// the desktop and reports Applied. WallpaperPath then lies in `directory` when that is not "".
void SetWallpaperTestRecorder(std::function<void(const std::vector<WallpaperValue>&)> recorder,
                              std::string directory = {});

}  // namespace nimbrel::platform
