// Recording a project's movie as the build, render and the editor's preview do, with a stand-in
// browser (no real one is needed).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "flash/swf_writer.h"
#include "pipeline/build_pipeline.h"
#include "platform/temp.h"

namespace nimbrel::pipeline {
namespace {

namespace fs = std::filesystem;

// A browser that dies as soon as it starts leaves the recorder writing into a pipe nobody reads:
// the recording fails with the movie's name, and the program goes on (it was ended by SIGPIPE
// most times before). Several rounds, since whether the browser is gone by the first write
// depends on the moment.
TEST(RecordProjectMovie, ABrowserThatDiesAtOnceFailsTheRecordingNotTheProgram) {
    platform::TempDirectory dir("movie-rec");
    fs::create_directories(dir.File("ruffle"));
    std::ofstream(dir.File("ruffle/ruffle.js")) << "// nothing";
    const auto movie = flash::testing::MakeMovie({});
    std::ofstream(dir.File("m.swf"), std::ios::binary)
        .write(reinterpret_cast<const char*>(movie.data()), static_cast<std::streamsize>(movie.size()));
    std::ofstream(dir.File("browser.sh")) << "#!/bin/sh\nexit 3\n";
    fs::permissions(dir.File("browser.sh"), fs::perms::owner_all);
    const flash::RecorderSetup setup{dir.File("browser.sh"), dir.File("ruffle"), ""};
    for (int round = 0; round < 8; ++round) {
        const std::string frames = dir.File("frames" + std::to_string(round));
        fs::create_directories(frames);
        try {
            RecordProjectMovie(dir.File("m.swf"), dir.File("show.nssp"), frames, setup, {});
            ADD_FAILURE() << "recorded";
        } catch (const flash::RecordingError& e) {
            EXPECT_EQ(std::string(e.what()).rfind(dir.File("m.swf"), 0), 0u) << e.what();
        }
    }
}

}  // namespace
}  // namespace nimbrel::pipeline
