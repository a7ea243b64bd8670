// Records test movies in the real headless browser with the Ruffle package; skipped where either
// is missing (./nimbrel.sh test installs both).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "archive/archive_reader.h"
#include "codecs/codecs.h"
#include "flash/flash_recorder.h"
#include "flash/frame_index.h"
#include "flash/swf_writer.h"
#include "pipeline/build_pipeline.h"
#include "platform/files.h"
#include "platform/temp.h"

namespace nimbrel::flash {
namespace {

namespace fs = std::filesystem;
using testing::MakeMovie;
using testing::MoviePlan;

RecorderSetup TestSetup() {
    return FindRecorder(std::string(NIMBREL_TEST_BUILD_DIR) + "/bin");
}

#define SKIP_WITHOUT_RECORDER(setup) \
    if (!(setup).Available()) GTEST_SKIP() << (setup).missing

std::string WriteMovie(const platform::TempDirectory& dir, const std::string& name, const MoviePlan& plan) {
    const auto bytes = MakeMovie(plan);
    std::ofstream(dir.File(name), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return dir.File(name);
}

imaging::Image ReadFrame(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto decoder = codecs::MakeLibraryDecoder();
    auto source = decoder->Open(path, bytes);
    if (!source) throw Error(path + " is no picture");
    return imaging::ReadWholePicture(*source);
}

bool Reddish(imaging::Pixel p) {
    return imaging::RedOf(p) > 180 && imaging::BlueOf(p) < 90;
}

// The left edge of the red square on row y, or -1.
int SquareLeft(const imaging::Image& frame, int y) {
    for (int x = 0; x < frame.Width(); ++x)
        if (Reddish(frame.At(x, y))) return x;
    return -1;
}

MoviePlan MovingSquare(int frames) {
    MoviePlan plan;
    plan.frameRate = 10;
    plan.shapeX.clear();
    for (int k = 0; k < frames; ++k) plan.shapeX.push_back(7 + 13 * k);
    return plan;
}

// Plain, and compressed with a (do-nothing) script: a movie with code may draw filters, so it is
// drawn with Ruffle's WebGL renderer instead of its canvas one.
TEST(FlashRecorder, EachRecordedFrameIsThatFrameOfTheMovieAlsoWhenCompressedAndScripted) {
    const RecorderSetup setup = TestSetup();
    SKIP_WITHOUT_RECORDER(setup);
    MoviePlan plan = MovingSquare(12);
    for (bool compressed : {false, true}) {
        plan.compressed = compressed;
        plan.extraTags.clear();
        if (compressed) testing::Tag(plan.extraTags, 12, {0x00});
        platform::TempDirectory dir("flash-rec");
        const std::string movie = WriteMovie(dir, "moving.swf", plan);
        fs::create_directories(dir.File("frames"));
        std::vector<int> reported;
        RecordOptions options;
        options.fixedSeconds = 1.2;  // the scripted one's length: its 12 frames once
        options.progress = [&](int done, int total) {
            EXPECT_EQ(total, 12);
            reported.push_back(done);
            return true;
        };
        const Recording recording = RecordMovie(movie, dir.File("frames"), setup, options);
        // The small stage is drawn 4.8 times larger, so that a 1920 x 1080 screen enlarges it twice.
        const double scale = 4.8;
        EXPECT_EQ(recording.width, 960);
        EXPECT_EQ(recording.height, 480);
        EXPECT_DOUBLE_EQ(recording.frameRate, 10);
        ASSERT_EQ(recording.frameFiles.size(), 12u) << "compressed " << compressed;
        EXPECT_EQ(recording.distinctFrames, 12);
        ASSERT_FALSE(reported.empty());
        EXPECT_EQ(reported.back(), 12);
        for (std::size_t k = 0; k < recording.frameFiles.size(); ++k) {
            const imaging::Image frame = ReadFrame(recording.frameFiles[k]);
            ASSERT_EQ(frame.Width(), 960);
            EXPECT_NEAR(SquareLeft(frame, static_cast<int>((plan.shapeTop + plan.shapeSize / 2) * scale)),
                        plan.shapeX[k] * scale, 3)
                << "frame " << k << " compressed " << compressed;
            // Above the square: the movie's own blue background.
            const imaging::Pixel corner = frame.At(950, 5);
            EXPECT_LT(imaging::RedOf(corner), 40);
            EXPECT_GT(imaging::BlueOf(corner), 200);
        }
    }
}

TEST(FlashRecorder, StillMoviesScriptsThatNeverEndAndCancellingEndInTime) {
    const RecorderSetup setup = TestSetup();
    SKIP_WITHOUT_RECORDER(setup);
    platform::TempDirectory dir("flash-rec");
    fs::create_directories(dir.File("frames"));

    // Nothing drawn, ever: the background for the fixed length, packed once.
    MoviePlan empty = MovingSquare(3);
    empty.drawsNothing = true;
    empty.shapeX = {0};
    RecordOptions options;
    options.fixedSeconds = 2;
    Recording still = RecordMovie(WriteMovie(dir, "empty.swf", empty), dir.File("frames"), setup, options);
    EXPECT_EQ(still.frameFiles.size(), 20u);
    EXPECT_EQ(still.distinctFrames, 1);

    // A script that loops forever: the player stops it, or the step limit ends the recording.
    MoviePlan endless = MovingSquare(4);
    endless.extraTags = testing::EndlessScriptTag();
    options.stepLimit = std::chrono::milliseconds(8000);
    try {
        Recording scripted =
            RecordMovie(WriteMovie(dir, "endless.swf", endless), dir.File("frames"), setup, options);
        EXPECT_EQ(scripted.frameFiles.size(), 20u);
    } catch (const RecordingError& e) {
        EXPECT_EQ(std::string(e.what()).rfind(dir.File("endless.swf"), 0), 0u) << e.what();
    }

    // Cancelled at the third frame.
    options.progress = [](int done, int) { return done < 3; };
    EXPECT_THROW(
        RecordMovie(WriteMovie(dir, "moving.swf", MovingSquare(10)), dir.File("frames"), setup, options),
        RecordingCancelled);
}

// A movie that ends where it began loses its last frame, so that the loop shows no picture
// twice; one that ends a pixel away keeps it.
TEST(FlashRecorder, ALastFrameThatLooksLikeTheFirstIsLeftOut) {
    const RecorderSetup setup = TestSetup();
    SKIP_WITHOUT_RECORDER(setup);
    platform::TempDirectory dir("flash-rec");
    MoviePlan plan = MovingSquare(4);
    for (int last : {7, 8}) {
        plan.shapeX = {7, 40, 70, 40, last};
        const std::string frames = dir.File("frames" + std::to_string(last));
        fs::create_directories(frames);
        const Recording recording = RecordMovie(WriteMovie(dir, "loop.swf", plan), frames, setup, {});
        const std::size_t expected = last == 7 ? 4 : 5;
        EXPECT_EQ(recording.frameFiles.size(), expected) << last;
        EXPECT_EQ(recording.distinctFrames, static_cast<int>(expected)) << last;
        EXPECT_EQ(static_cast<std::size_t>(std::distance(fs::directory_iterator(frames), {})), expected);
    }
}

// A movie that asks for a movie and a page on the network is recorded all the same, in its
// usual time, and nothing it asked for was let through: every request but the page, the player
// package and the movie was refused by the recorder.
TEST(FlashRecorder, AMovieThatReachesForTheNetworkGetsNothing) {
    const RecorderSetup setup = TestSetup();
    SKIP_WITHOUT_RECORDER(setup);
    platform::TempDirectory dir("flash-rec");
    fs::create_directories(dir.File("frames"));
    MoviePlan plan = MovingSquare(10);
    plan.extraTags = testing::GetUrlTag({{"http://example.invalid/other.swf", "_level1"},
                                         {"http://example.invalid/page.html", "_blank"},
                                         {"https://127.0.0.1:9/data.txt", "_level2"}});
    RecordOptions options;
    options.fixedSeconds = 1;
    const Recording recording =
        RecordMovie(WriteMovie(dir, "net.swf", plan), dir.File("frames"), setup, options);
    EXPECT_EQ(recording.frameFiles.size(), 10u);
    EXPECT_EQ(recording.distinctFrames, 10);
    const std::string ours = "http://movie.nimbrel.invalid/";
    const auto& blocked = recording.blockedUrls;
    auto wasBlocked = [&](const std::string& url) {
        return std::find(blocked.begin(), blocked.end(), url) != blocked.end();
    };
    for (const std::string& url : recording.requestedUrls) {
        if (url.rfind("data:", 0) == 0 || url.rfind("blob:", 0) == 0) continue;
        const bool served =
            url == ours + "index.html" || url == ours + "movie.swf" || url.rfind(ours + "ruffle/", 0) == 0;
        EXPECT_NE(served, wasBlocked(url)) << url;
    }
    // The page opening a window is refused by the player itself; the loads reach the recorder.
    EXPECT_TRUE(wasBlocked("http://example.invalid/other.swf"));
    EXPECT_TRUE(wasBlocked("https://127.0.0.1:9/data.txt"));
}

struct QuietReporter : pipeline::BuildReporter {
    std::vector<double> fractions;
    void Progress(int) override {}
    void Notice(const std::string&) override {}
    void Overall(const pipeline::BuildProgress& progress) override { fractions.push_back(progress.fraction); }
};

// The build packs the three members as always, the movie byte for byte, then the frame index and
// the distinct frames; the index names a member for every frame of the movie.
TEST(FlashRecorder, TheBuildPacksTheRecordedFramesAfterTheThreeMembers) {
    const RecorderSetup setup = TestSetup();
    SKIP_WITHOUT_RECORDER(setup);
    setenv("NIMBREL_RUFFLE_DIR", setup.playerDir.c_str(), 1);
    platform::TempDirectory dir("flash-build");
    MoviePlan plan = MovingSquare(6);
    plan.shapeX = {0, 30, 60, 60, 60, 90};  // frames 2 to 4 are the same
    const std::string movie = WriteMovie(dir, "moving.swf", plan);
    std::ofstream(dir.File("flash.bin"), std::ios::binary) << "MZ stand-in Flash player";
    pipeline::BuildRequest request;
    request.projectFileName = dir.File("show.nssp");
    request.values.kind = project::kFlash;
    request.values.flash.title = "Square";
    request.values.flash.flashFile = movie;
    request.stubPath = request.flashStubPath = dir.File("flash.bin");
    QuietReporter reporter;
    const pipeline::BuildResult result = pipeline::CompileProject(request, reporter);
    unsetenv("NIMBREL_RUFFLE_DIR");
    ASSERT_TRUE(result.built);
    EXPECT_TRUE(result.notRecordedNotice.empty()) << result.notRecordedNotice;
    EXPECT_EQ(result.recordedFrames, 6);
    EXPECT_TRUE(std::is_sorted(reporter.fractions.begin(), reporter.fractions.end()));

    const std::string scr = platform::ReadWholeFile(result.outputPath);
    archive::ArchiveReader reader(reinterpret_cast<const unsigned char*>(scr.data()), scr.size());
    std::vector<std::string> names;
    for (const auto& member : reader.Members()) names.push_back(member.name);
    ASSERT_EQ(names.size(), 3u + 1u + 4u);
    EXPECT_EQ(std::vector<std::string>(names.begin(), names.begin() + 4),
              (std::vector<std::string>{"Options.ini", "About.cfg", "moving.swf", "Movie.frames"}));
    EXPECT_EQ(reader.Extract(2), platform::ReadWholeFile(movie));
    const auto index = ReadFrameIndex(reader.Extract(3));
    ASSERT_TRUE(index);
    EXPECT_EQ(index->width, 960);
    EXPECT_DOUBLE_EQ(index->frameRate, 10);
    EXPECT_EQ(index->background, 0x0000FFu);
    ASSERT_EQ(index->frames.size(), 6u);
    EXPECT_EQ(index->frames[2], index->frames[4]);
    EXPECT_NE(index->frames[1], index->frames[2]);
    for (const auto& frame : index->frames)
        EXPECT_NE(std::find(names.begin() + 4, names.end(), frame), names.end()) << frame;
}

// A browser that dies at once, or never answers: the error names the movie, and the browser's
// profile is gone afterwards. These need no real browser.
TEST(FlashRecorder, ABrowserThatCrashesOrHangsEndsTheRecordingWithItsProfileRemoved) {
    platform::TempDirectory dir("flash-rec");
    fs::create_directories(dir.File("frames"));
    fs::create_directories(dir.File("ruffle"));
    std::ofstream(dir.File("ruffle/ruffle.js")) << "// nothing";
    const std::string movie = WriteMovie(dir, "m.swf", MovingSquare(3));
    // Gone at once, never answering, or answering the first command after closing its end of
    // the pipe (the next command's write into it must fail, not end this program).
    for (const std::string& behaviour :
         {std::string("exit 3"), std::string("sleep 30"),
          std::string("exec 3<&-; printf '{\"id\":1,\"result\":{}}\\000' >&4; sleep 30")}) {
        const std::string fake = dir.File("browser.sh");
        {
            std::ofstream script(fake);
            script << "#!/bin/sh\nfor a in \"$@\"; do case \"$a\" in --user-data-dir=*) echo \"${a#*=}\" > "
                   << dir.File("profile.txt") << ";; esac; done\n"
                   << behaviour << "\n";
        }
        fs::permissions(fake, fs::perms::owner_all);
        RecorderSetup setup{fake, dir.File("ruffle"), ""};
        RecordOptions options;
        options.startLimit = std::chrono::milliseconds(2000);
        try {
            RecordMovie(movie, dir.File("frames"), setup, options);
            ADD_FAILURE() << behaviour << ": recorded";
        } catch (const RecordingError& e) {
            const std::string message = e.what();
            EXPECT_EQ(message.rfind(movie + " could not be recorded: the browser", 0), 0u) << message;
        }
        std::ifstream profile(dir.File("profile.txt"));
        std::string profilePath;
        std::getline(profile, profilePath);
        ASSERT_FALSE(profilePath.empty()) << behaviour;
        EXPECT_FALSE(fs::exists(profilePath)) << behaviour;
    }
    // Not a movie at all: no browser is started.
    std::ofstream(dir.File("text.swf")) << "just text";
    RecorderSetup none{"/nonexistent/browser", dir.File("ruffle"), ""};
    try {
        RecordMovie(dir.File("text.swf"), dir.File("frames"), none, {});
        ADD_FAILURE() << "recorded";
    } catch (const RecordingError& e) {
        EXPECT_NE(std::string(e.what()).find("text.swf is not a Flash movie"), std::string::npos) << e.what();
    }
}

}  // namespace
}  // namespace nimbrel::flash
