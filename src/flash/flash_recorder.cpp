#include "flash/flash_recorder.h"

#include "project/big_ini_file.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace nimbrel::flash {

namespace fs = std::filesystem;

namespace {

bool IsFile(const fs::path& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

}  // namespace

RecorderSetup FindRecorder(const std::string& programDir) {
    RecorderSetup setup;
    std::vector<fs::path> browsers;
    if (!Env("NIMBREL_CHROMIUM").empty()) {
        browsers.push_back(Env("NIMBREL_CHROMIUM"));
    } else {
        browsers = {"/usr/lib/chromium/chromium", "/usr/bin/chromium", "/usr/bin/chromium-browser",
                    "/usr/bin/google-chrome", "/usr/bin/microsoft-edge"};
    }
    for (const auto& path : browsers)
        if (IsFile(path)) {
            setup.browser = path.string();
            break;
        }
    std::vector<fs::path> players;
    if (!Env("NIMBREL_RUFFLE_DIR").empty()) {
        players.push_back(Env("NIMBREL_RUFFLE_DIR"));
    } else if (!programDir.empty()) {
        fs::path dir(programDir);
        if (!dir.has_filename()) dir = dir.parent_path();  // "bin/" names the folder "bin"
        players = {dir / "ruffle", dir.parent_path() / "ruffle",
                   dir.parent_path() / "share" / "nimbrel" / "ruffle"};
    }
    for (const auto& path : players)
        if (IsFile(path / "ruffle.js")) {
            setup.playerDir = path.string();
            break;
        }
    if (setup.browser.empty() && setup.playerDir.empty())
        setup.missing = "Chromium and the Ruffle package are not installed";
    else if (setup.browser.empty())
        setup.missing = "Chromium is not installed";
    else if (setup.playerDir.empty())
        setup.missing = "the Ruffle package is not installed";
    return setup;
}

std::string NotRecordedNotice(const std::string& why) {
    return "The movie was not recorded (" + why +
           "): the screensaver will show it only where a Flash control is installed. Install Chromium "
           "and the Ruffle package (./nimbrel.sh run installs both) and compile again.";
}

double ProjectRecordSeconds(const std::string& projectFile) {
    project::TBigIniFile ini(projectFile);
    const std::int32_t seconds =
        ini.ReadInteger("Flash", "RecordSeconds", static_cast<std::int32_t>(kDefaultRecordSeconds));
    return std::clamp(static_cast<double>(seconds), 1.0, kMaxRecordSeconds);
}

int FramesToRecord(const SwfInfo& info, double fixedSeconds) {
    const double rate = PlayingFrameRate(info);
    if (!info.scripted && info.tagsComplete && info.frameCount > 1) {
        const int timeline = std::min(info.frameCount, std::max(1, info.showFrames));
        return std::min(timeline, static_cast<int>(std::ceil(kMaxRecordSeconds * rate)));
    }
    const double seconds = std::clamp(fixedSeconds, 1.0, kMaxRecordSeconds);
    return std::max(1, static_cast<int>(std::lround(seconds * rate)));
}

std::string DescribeMovie(const std::string& swfPath, const RecorderSetup& setup, double recordSeconds) {
    SwfInfo info;
    try {
        info = ReadSwfFile(swfPath);
    } catch (const SwfError& e) {
        const std::string message = e.what();
        // The path is in the box above: the line says only what is wrong.
        return "Not a movie that can be played: " +
               (message.rfind(swfPath, 0) == 0 ? message.substr(swfPath.size() + 1) : message);
    }
    const double rate = PlayingFrameRate(info);
    const int frames = FramesToRecord(info, recordSeconds);
    char line[160];
    std::snprintf(line, sizeof line, "%d x %d, %.4g frames a second, %d frame%s (%.1f s%s)", info.width,
                  info.height, rate, frames, frames == 1 ? "" : "s", frames / rate,
                  info.scripted || !info.tagsComplete || info.frameCount <= 1 ? ", a fixed length" : "");
    std::string text = line;
    text += setup.Available() ? "; recorded at compile" : "; will not be recorded: " + setup.missing;
    return text;
}

void CaptureSize(const SwfInfo& info, int& width, int& height) {
    const int stageWidth = std::max(1, info.width), stageHeight = std::max(1, info.height);
    // The factor that fits the stage into 1920 x 1080 keeping its aspect.
    const double fit = std::min(static_cast<double>(kMaxFrameWidth) / stageWidth,
                                static_cast<double>(kMaxFrameHeight) / stageHeight);
    // A large stage shrinks to fit. A small one is drawn larger, as vectors, so that the player
    // never enlarges a frame more than twice on a 1920 x 1080 screen; that keeps every frame
    // within 960 x 540 pixels' worth, as costly to capture, pack and decode as an 800 x 600 stage.
    double scale = 1;
    if (fit < 1)
        scale = fit;
    else if (fit > kMaxPlayerEnlargement)
        scale = fit / kMaxPlayerEnlargement;
    width = std::clamp(static_cast<int>(stageWidth * scale + 0.5), 1, kMaxFrameWidth);
    height = std::clamp(static_cast<int>(stageHeight * scale + 0.5), 1, kMaxFrameHeight);
}

bool LooksTheSame(const imaging::Image& a, const imaging::Image& b) {
    if (a.Empty() || a.Width() != b.Width() || a.Height() != b.Height()) return false;
    const std::size_t pixels = static_cast<std::size_t>(a.Width()) * static_cast<std::size_t>(a.Height());
    std::uint64_t total = 0;
    std::size_t far = 0;
    for (std::size_t i = 0; i < pixels; ++i) {
        const imaging::Pixel p = a.Data()[i], q = b.Data()[i];
        const int d = std::max({std::abs(imaging::RedOf(p) - imaging::RedOf(q)),
                                std::abs(imaging::GreenOf(p) - imaging::GreenOf(q)),
                                std::abs(imaging::BlueOf(p) - imaging::BlueOf(q))});
        total += static_cast<std::uint64_t>(d);
        if (d > 64) ++far;
    }
    // On average within one step, and at most one pixel in 10,000 clearly different.
    return total <= pixels && far * 10000 <= pixels;
}

}  // namespace nimbrel::flash
