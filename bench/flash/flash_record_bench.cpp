// flash_record_bench [SECONDS] [FPS] [WIDTH] [HEIGHT] [OUT.scr] [STUB]: makes a movie of a square
// crossing the stage (20 s at 24 fps, 800 x 600 by default), compiles it as a Flash project with
// the recorder, and prints the time to the first recorded frame (the browser's start), the
// recording's time against the movie's length, the screensaver's size and the peak memory of
// this process. The stub is STUB, or build/bin/flash.bin when built, else a stand-in.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "flash/flash_recorder.h"
#include "flash/swf_writer.h"
#include "pipeline/build_pipeline.h"
#include "platform/files.h"
#include "platform/temp.h"

using namespace nimbrel;
using Clock = std::chrono::steady_clock;

namespace {

struct Timing : pipeline::BuildReporter {
    Clock::time_point started = Clock::now(), firstFrame{}, lastFrame{};
    int lastPercent = -1;
    void Progress(int) override {}
    void Notice(const std::string& text) override { std::printf("notice: %s\n", text.c_str()); }
    void Overall(const pipeline::BuildProgress& progress) override {
        if (progress.currentFile.find("(recording frame ") == std::string::npos) return;
        if (progress.currentFile.find("(recording frame 1 ") != std::string::npos &&
            firstFrame == Clock::time_point{})
            firstFrame = Clock::now();
        lastFrame = Clock::now();
        const int percent = static_cast<int>(progress.fraction * 100);
        if (percent != lastPercent) {
            lastPercent = percent;
            std::fprintf(stderr, "\r%s   ", progress.currentFile.c_str());
        }
    }
};

double Seconds(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
    const int fps = argc > 2 ? std::atoi(argv[2]) : 24;
    const int width = argc > 3 ? std::atoi(argv[3]) : 800;
    const int height = argc > 4 ? std::atoi(argv[4]) : 600;
    platform::TempDirectory dir("flash-bench");
    const std::string output = argc > 5 ? argv[5] : dir.File("movie.scr");

    const flash::testing::MoviePlan plan = flash::testing::CrossingPlan(width, height, fps, seconds);
    const auto frames = static_cast<int>(plan.shapeX.size());
    const auto movie = flash::testing::MakeMovie(plan);
    std::ofstream(dir.File("movie.swf"), std::ios::binary)
        .write(reinterpret_cast<const char*>(movie.data()), static_cast<std::streamsize>(movie.size()));

    std::string stub = argc > 6 ? argv[6] : std::string(NIMBREL_BENCH_BIN_DIR) + "/flash.bin";
    if (!platform::FileExists(stub)) {
        stub = dir.File("flash.bin");
        std::ofstream(stub, std::ios::binary) << "MZ stand-in Flash player";
    }
    pipeline::BuildRequest request;
    request.projectFileName = dir.File("movie.nssp");
    request.values.kind = project::kFlash;
    request.values.flash.title = "Bench";
    request.values.flash.flashFile = dir.File("movie.swf");
    request.values.flash.output = output;
    request.stubPath = stub;
    request.flashStubPath = stub;
    Timing timing;
    const auto started = Clock::now();
    pipeline::BuildResult result;
    try {
        result = pipeline::CompileProject(request, timing);
    } catch (const std::exception& e) {
        std::printf("\nbuild failed: %s\n", e.what());
        return 1;
    }
    const auto done = Clock::now();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("\nmovie: %d s, %d fps, %dx%d, %d frames, %zu bytes\n", seconds, fps, width, height, frames,
                movie.size());
    if (!result.notRecordedNotice.empty())
        std::printf("not recorded: %s\n", result.notRecordedNotice.c_str());
    std::printf("recorded frames: %d\n", result.recordedFrames);
    if (timing.firstFrame != Clock::time_point{}) {
        std::printf("browser start to first frame: %.2f s\n", Seconds(started, timing.firstFrame));
        std::printf("frames: %.2f s (%.1f frames/s)\n", Seconds(timing.firstFrame, timing.lastFrame),
                    frames / std::max(0.001, Seconds(timing.firstFrame, timing.lastFrame)));
    }
    std::printf("whole build: %.2f s = %.2fx the movie's length\n", Seconds(started, done),
                Seconds(started, done) / seconds);
    std::printf("screensaver: %s, %lld bytes (%.2f MB)\n", result.outputPath.c_str(),
                static_cast<long long>(result.outputSize), result.outputSize / 1048576.0);
    std::printf("peak memory of the build (without the browser): %ld MB\n", usage.ru_maxrss / 1024);
    return 0;
}
