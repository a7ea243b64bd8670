// nimbrel-cli render: frames of a project's show as PNG files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/cli.h"
#include "cli/cli_run.h"
#include "codecs/codecs.h"
#include "imaging/picture_decoder.h"
#include "package_writer.h"
#include "platform/temp.h"

namespace {

using nimbrel::clitest::Cli;
using nimbrel::clitest::CliRun;

namespace fs = std::filesystem;
using nimbrel::testing::MakeSlideShowProject;
using nimbrel::testing::MakeSolidBmp;

void Write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

nimbrel::imaging::Image ReadPng(const std::string& path) {
    const std::string bytes = Read(path);
    auto decoder = nimbrel::codecs::MakeLibraryDecoder();
    auto source =
        decoder->Open("f.png", std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    if (!source) return {};
    return nimbrel::imaging::ReadWholePicture(*source);
}

std::uint32_t Rgb(const nimbrel::imaging::Image& image, int x, int y) {
    return image.At(x, y) & 0xFFFFFF;
}

struct Render : ::testing::Test {
    nimbrel::platform::TempDirectory dir{"rendertest"};
    // A project of a red and a green picture, stretched, one second each with a fade between.
    std::string Project(const std::vector<std::string>& options = {"Stretch=1", "ShowSpeed=1",
                                                                   "Transition=0"}) {
        Write(dir.File("red.bmp"), MakeSolidBmp(32, 24, 0xE0, 0x10, 0x10));
        Write(dir.File("green.bmp"), MakeSolidBmp(32, 24, 0x10, 0xC0, 0x20));
        const std::string project = dir.File("show.nssp");
        Write(project, MakeSlideShowProject({dir.File("red.bmp"), "green.bmp"}, options));
        return project;
    }
};

TEST_F(Render, WritesTheFramesAtTheTimesInTheOrderGiven) {
    const std::string out = dir.File("frames");
    CliRun run = Cli({"render", Project(), "--size", "80x60", "--at", "2500ms,0.5,1.5", "--out", out});
    ASSERT_EQ(run.code, 0) << run.err;
    auto first = ReadPng(out + "/frame-01.png"), second = ReadPng(out + "/frame-02.png"),
         third = ReadPng(out + "/frame-03.png");
    ASSERT_EQ(first.Width(), 80);
    ASSERT_EQ(first.Height(), 60);
    EXPECT_EQ(Rgb(first, 40, 30), 0x10C020u) << "2.5 s: the second picture, found by a relative path";
    EXPECT_EQ(Rgb(second, 0, 0), 0xE01010u);
    EXPECT_EQ(Rgb(third, 79, 59), nimbrel::imaging::BlendPixels(0xE01010, 0x10C020, 128) & 0xFFFFFF)
        << "1.5 s: half way through the fade";
    EXPECT_NE(run.out.find("frame-03.png"), std::string::npos) << run.out;
}

TEST_F(Render, BadCommandLinesProjectsAndFoldersAreRefused) {
    const std::string project = Project();
    const std::string out = dir.File("out");
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"render", project, "--size", "0x10", "--at", "1", "--out", out},
             {"render", project, "--size", "640", "--at", "1", "--out", out},
             {"render", project, "--size", "99999x10", "--at", "1", "--out", out},
             {"render", project, "--size", "64x48", "--at", "1,-2", "--out", out},
             {"render", project, "--size", "64x48", "--at", "soon", "--out", out},
             // Years into the show: refused, not walked slide by slide into gigabytes.
             {"render", project, "--size", "64x48", "--at", "1,1000001", "--out", out},
             {"render", project, "--size", "64x48", "--at", "999999999999999ms", "--out", out},
             {"render", project, "--size", "64x48", "--at", "1,", "--out", out},
             {"render", project, "--size", "64x48", "--at", "1", "--out", out, "--seed", "x"},
             {"render", project, "--size", "64x48", "--at", "1"},
             {"render", project, "--size", "64x48", "--at", "1", "--out", out, "--fast"},
         }) {
        CliRun run = Cli(args);
        EXPECT_EQ(run.code, 2) << args[3] << " " << args[5];
        EXPECT_NE(run.err.find("usage:"), std::string::npos);
    }
    EXPECT_FALSE(fs::exists(out)) << "nothing is written for a wrong command line";

    CliRun missing = Cli({"render", dir.File("none.nssp"), "--size", "64x48", "--at", "1", "--out", out});
    EXPECT_EQ(missing.code, 1);
    EXPECT_NE(missing.err.find("none.nssp"), std::string::npos) << missing.err;

    Write(dir.File("flash.nssp"), "[Header]\r\nNumber=0\r\nType=1\r\n\r\n");
    CliRun flash = Cli({"render", dir.File("flash.nssp"), "--size", "64x48", "--at", "1", "--out", out});
    EXPECT_EQ(flash.code, 1);
    EXPECT_NE(flash.err.find("movie"), std::string::npos) << flash.err;  // a Flash project without one

    // A file where the folder should be.
    Write(dir.File("blocked"), "x");
    const std::string blocked = dir.File("blocked") + "/frames";
    CliRun unwritable = Cli({"render", project, "--size", "64x48", "--at", "1", "--out", blocked});
    EXPECT_EQ(unwritable.code, 1);
    EXPECT_NE(unwritable.err.find(blocked), std::string::npos) << unwritable.err;
}

TEST_F(Render, AShowWithoutReadablePicturesRendersTheBackgroundAndSaysWhy) {
    Write(dir.File("broken.jpg"), "not a picture");
    const std::string project = dir.File("broken.nssp");
    Write(project, MakeSlideShowProject({dir.File("broken.jpg"), dir.File("gone.png")},
                                        {"ColorR=10", "ColorG=20", "ColorB=30"}));
    CliRun run = Cli({"render", project, "--size", "40x30", "--at", "0", "--out", dir.File("f")});
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(Rgb(ReadPng(dir.File("f") + "/frame-01.png"), 5, 5), 0x0A141Eu);
    EXPECT_NE(run.err.find("None of the show's 2 pictures can be shown"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("gone.png"), std::string::npos) << run.err;
}

}  // namespace

TEST_F(Render, SeveralSizesAreMonitorsSideBySideEachWithFramesOfItsOwn) {
    constexpr std::uint32_t kRed = 0xE01010, kGreen = 0x10C020;
    const std::vector<std::string> options = {"Stretch=1", "ShowSpeed=1", "Transition=0", "", "[Show]", "Monitors=1"};
    const std::string out = dir.File("frames");
    CliRun run = Cli({"render", Project(options), "--size", "80x60,40x30", "--at", "0.5,2.5", "--out", out});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_FALSE(fs::exists(out + "/frame-01.png"));
    // A picture of its own on each monitor; the first monitor's is the one-monitor show.
    nimbrel::imaging::Image first = ReadPng(out + "/frame-01-m1.png"), second = ReadPng(out + "/frame-01-m2.png");
    ASSERT_EQ(first.Width(), 80);
    ASSERT_EQ(second.Width(), 40);
    EXPECT_EQ(second.Height(), 30);
    EXPECT_EQ(Rgb(first, 40, 30), kRed);
    EXPECT_EQ(Rgb(second, 20, 15), kGreen);
    ASSERT_EQ(Cli({"render", Project(options), "--size", "80x60", "--at", "0.5,2.5", "--out", out + "1"}).code, 0);
    EXPECT_EQ(ReadPng(out + "1/frame-01.png"), first);
    EXPECT_EQ(ReadPng(out + "1/frame-02.png"), ReadPng(out + "/frame-02-m1.png"));

    // The same show on each: the same picture, each at its monitor's size.
    const std::vector<std::string> same = {"Stretch=1", "ShowSpeed=1", "Transition=0"};
    run = Cli({"render", Project(same), "--size", "80x60,40x30", "--at", "0.5", "--out", out + "2"});
    ASSERT_EQ(run.code, 0) << run.err;
    second = ReadPng(out + "2/frame-01-m2.png");
    ASSERT_EQ(second.Width(), 40);
    EXPECT_EQ(Rgb(second, 39, 29), kRed);
    EXPECT_EQ(Rgb(ReadPng(out + "2/frame-01-m1.png"), 79, 59), kRed);
    EXPECT_EQ(Cli({"render", Project(same), "--size", "80x60,", "--at", "0.5", "--out", out}).code,
              nimbrel::cli::kExitUsage);
}
