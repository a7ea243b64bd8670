// The parts of the wallpaper interface every system shares: the values and the test seam.
#include "platform/wallpaper.h"

#include "platform/paths.h"

namespace nimbrel::platform {

// Supplied by posix/wallpaper_posix.cpp or win32/wallpaper_win32.cpp.
std::string SystemWallpaperDirectory();
WallpaperResult ApplySystemWallpaper(const std::vector<WallpaperValue>& values);

namespace {

std::function<void(const std::vector<WallpaperValue>&)>& Recorder() {
    static std::function<void(const std::vector<WallpaperValue>&)> recorder;
    return recorder;
}

std::string& TestDirectory() {
    static std::string directory;
    return directory;
}

}  // namespace

std::string WallpaperPath() {
    std::string directory = TestDirectory().empty() ? SystemWallpaperDirectory() : TestDirectory();
    return WithTrailingSeparator(directory) + "VorlapWallpaper.bmp";
}

std::vector<WallpaperValue> DesktopWallpaperValues(const std::string& bitmapPath, bool tile, bool stretch) {
    std::vector<WallpaperValue> values;
    values.push_back({"Wallpaper", bitmapPath});
    values.push_back({"TileWallpaper", tile ? "1" : "0"});
    if (stretch) values.push_back({"TileWallpaper", "0"});
    values.push_back({"WallpaperStyle", stretch ? "2" : "0"});
    return values;
}

WallpaperResult SetDesktopWallpaper(const std::string& bitmapPath, bool tile, bool stretch) {
    std::vector<WallpaperValue> values = DesktopWallpaperValues(bitmapPath, tile, stretch);
    if (Recorder()) {
        Recorder()(values);
        return WallpaperResult::Applied;
    }
    return ApplySystemWallpaper(values);
}

void SetWallpaperTestRecorder(std::function<void(const std::vector<WallpaperValue>&)> recorder,
                              std::string directory) {
    Recorder() = std::move(recorder);
    TestDirectory() = std::move(directory);
}

}  // namespace nimbrel::platform
