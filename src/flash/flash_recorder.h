#pragma once
// Records a Flash movie as pictures, frame by frame, so that a screensaver can show it where no
// Flash control is installed. The movie plays in the open Flash player's web package inside a
// headless Chromium, driven over its DevTools pipe: the page's clock is ours and moves exactly
// one frame at a time, so the recording never depends on how fast this machine is. The page
// reaches nothing but the package and the movie, both served from this process.

#include <chrono>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "flash/swf_header.h"
#include "imaging/image.h"
#include "platform/error.h"

namespace nimbrel::flash {

// A recording that could not be made; the message names the movie and what went wrong.
class RecordingError : public Error {
public:
    using Error::Error;
};

// The user stopped the build while the movie was being recorded.
class RecordingCancelled : public Error {
public:
    RecordingCancelled() : Error("The recording of the movie was cancelled") {}
};

// Where the browser and the player package are, or why the recorder cannot run.
struct RecorderSetup {
    std::string browser;    // the Chromium (or Edge) program
    std::string playerDir;  // the folder that holds ruffle.js and its .wasm files
    std::string missing;    // empty when both were found; else what to install, as a sentence
    bool Available() const { return missing.empty(); }
};

// Looks for the browser (NIMBREL_CHROMIUM, then Chromium's usual places) and the player package
// (NIMBREL_RUFFLE_DIR, then "ruffle" beside the programs in `programDir`, in its parent folder as
// in the build tree, and in ../share/nimbrel/ruffle as installed).
RecorderSetup FindRecorder(const std::string& programDir);

// The one-line notice for a build that packs the movie without recorded frames.
std::string NotRecordedNotice(const std::string& why);

inline constexpr double kDefaultRecordSeconds = 20;
inline constexpr double kMaxRecordSeconds = 120;
inline constexpr int kMaxFrameWidth = 1920, kMaxFrameHeight = 1080;
// The browser is handed the whole movie in one message: larger movies are not recorded.
inline constexpr std::uintmax_t kMaxRecordedMovieBytes = 256u << 20;

struct RecordOptions {
    // The length of a recording when the timeline alone does not say (a scripted or one-frame
    // movie); clamped to 1 .. kMaxRecordSeconds.
    double fixedSeconds = kDefaultRecordSeconds;
    int jpegQuality = 85;
    // PNG frames instead of JPEG, exactly as drawn (for comparing frame formats).
    bool losslessFrames = false;
    // How long the browser may take to start and load the movie; the frames then get three times
    // the movie's length, 0.1 s a frame and 5 s besides.
    std::chrono::milliseconds startLimit{60000};
    // How long one step of the page may take before the movie counts as hung.
    std::chrono::milliseconds stepLimit{15000};
    // Called after each frame with frames done and the total; false stops the recording at once.
    std::function<bool(int, int)> progress;
};

// The length the project file asks for a scripted or one-frame movie ([Flash] RecordSeconds,
// written only once the user chose one), clamped to 1 .. kMaxRecordSeconds; the default without.
double ProjectRecordSeconds(const std::string& projectFile);

// One line about a movie for the editor's Flash page: its stage, frame rate and length, and
// whether a compile will record it ("800 x 600, 24 frames a second, 20.0 s; recorded at
// compile"), or what is wrong with the file. `recordSeconds` is the project's fixed length.
std::string DescribeMovie(const std::string& swfPath, const RecorderSetup& setup, double recordSeconds);

// How long the recording of a movie runs, in frames: one pass of the main timeline when that
// is the whole show, else the fixed length.
int FramesToRecord(const SwfInfo& info, double fixedSeconds);

// The size frames are captured at, keeping the stage's aspect: a stage larger than 1920 x 1080
// fitted into it; a stage that a 1920 x 1080 screen would enlarge more than
// kMaxPlayerEnlargement times drawn larger, to the size it enlarges exactly that much from;
// else the stage's own.
inline constexpr double kMaxPlayerEnlargement = 2;
void CaptureSize(const SwfInfo& info, int& width, int& height);

// Whether two recorded frames of the same size show the same picture: a little JPEG noise
// passes, anything that moved does not.
bool LooksTheSame(const imaging::Image& a, const imaging::Image& b);

struct Recording {
    SwfInfo info;
    int width = 0, height = 0;  // of every frame
    double frameRate = 0;       // frames a second the recording plays at
    // The file of each frame, in order: JPEG pictures written into the folder given, a file
    // repeated where a frame is the same as the one before it. A last frame that looks the same
    // as the first is left out, so that the loop does not show that picture twice.
    std::vector<std::string> frameFiles;
    int distinctFrames = 0;
    // What the page asked for, as the browser's network log saw it, and the requests refused:
    // everything but the page, the player package and the movie.
    std::vector<std::string> requestedUrls, blockedUrls;
};

// Records the movie at `swfPath` into the (existing, empty) folder `outDir`. Throws
// RecordingError naming the movie and the fault, RecordingCancelled when progress says stop.
// The browser and its profile are gone when this returns, on every path.
Recording RecordMovie(const std::string& swfPath, const std::string& outDir, const RecorderSetup& setup,
                      const RecordOptions& options);

}  // namespace nimbrel::flash
