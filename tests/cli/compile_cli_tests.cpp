// nimbrel-cli compile: in-process through plain streams (a pipe), and the real program on a
// pseudo-terminal for its progress bar.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <filesystem>
#include <regex>
#include <sstream>

#include "archive/archive_reader.h"
#include "archive_test_util.h"
#include "pipeline/project_state.h"
#include "cli/cli.h"
#include "cli/cli_run.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/temp.h"
#include "project/project_file.h"
#ifdef NIMBREL_HAVE_TEST_PICTURES
#include <span>

#include "codecs/codecs.h"
#include "imaging/picture_decoder.h"
#include "test_pictures.h"
#endif

using namespace nimbrel;
using namespace nimbrel::archive::testdata;

namespace {

// Random bytes behind the header of a 16 x 16 JPEG: a picture the players show, as far as the
// build looks (only the header).
std::string AsJpeg(std::string bytes) {
    return bytes.replace(0, 12, std::string("\xFF\xD8\xFF\xC0\x00\x11\x08\x00\x10\x00\x10\x03", 12));
}

using nimbrel::clitest::Cli;
using nimbrel::clitest::CliRun;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// A project with three pictures beside it and stand-in players in a folder of their own.
struct CompileCli : ::testing::Test {
    void SetUp() override {
        folder = dir.Path();
        std::filesystem::create_directory(folder + "players");
        stubs = folder + "players";
        WriteFile(stubs + "/stub.bin", "MZ stand-in player " + RandomBytes(4000, 1));
        WriteFile(stubs + "/flash.bin", "MZ stand-in Flash player");
        project = folder + "Show.nssp";
        values = pipeline::NewProjectValues();
        for (int i = 0; i < 3; ++i) {
            std::string picture = folder + "picture-" + std::to_string(i) + ".jpg";
            WriteFile(picture, AsJpeg(RandomBytes(pictureSize, static_cast<std::uint32_t>(i + 3))));
            values.files.push_back(picture);
        }
        Save();
    }
    void Save() { project::SaveProject(project, values); }

    std::size_t pictureSize = 300000;
    platform::TempDirectory dir{"clicompile"};
    std::string folder, stubs, project;
    project::ProjectValues values;
};

}  // namespace

TEST_F(CompileCli, ThroughAPipeOnlyTheResultUnlessAsked) {
    CliRun plain = Cli({"compile", "--stub-dir", stubs, project});
    ASSERT_EQ(plain.code, 0) << plain.err;
    EXPECT_TRUE(plain.err.empty()) << plain.err;
    std::string scr = folder + "Show.scr";
    EXPECT_EQ(plain.out, "Project saved: " + project + "\nScreensaver: " + scr + " (" +
                             std::to_string(platform::FileSize(scr)) + " bytes)\n");

    CliRun quiet = Cli({"compile", "-q", "--stub-dir=" + stubs, project});
    EXPECT_EQ(quiet.code, 0) << quiet.err;
    EXPECT_TRUE(quiet.out.empty());
    EXPECT_TRUE(quiet.err.empty());

    // --progress: plain lines on standard error, each further on, the last at 100 %.
    CliRun lines = Cli({"compile", "--progress", "--stub-dir", stubs, project});
    EXPECT_EQ(lines.code, 0) << lines.err;
    EXPECT_EQ(lines.out, plain.out);
    std::vector<std::string> progress = Lines(lines.err);
    ASSERT_GE(progress.size(), 4u) << lines.err;
    EXPECT_LE(progress.size(), 101u);
    const std::regex line(R"(progress (\d+)%( \((\d+) of (\d+) bytes\))?( .*)?)");
    int last = -1;
    for (const std::string& text : progress) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(text, m, line)) << text;
        int percent = std::stoi(m[1]);
        EXPECT_GT(percent, last) << lines.err;
        last = percent;
    }
    EXPECT_EQ(progress.back().rfind("progress 100% (", 0), 0u) << progress.back();
    EXPECT_NE(lines.err.find(folder + "picture-1.jpg\n"), std::string::npos) << lines.err;
}

TEST_F(CompileCli, OutputOptionLeavesTheProjectFileAlone) {
    std::string before = ReadFile(project);
    std::string target = folder + "elsewhere/out.scr";
    std::filesystem::create_directory(folder + "elsewhere");
    CliRun run = Cli({"compile", "--stub-dir", stubs, "--output", target, project});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.out,
              "Screensaver: " + target + " (" + std::to_string(platform::FileSize(target)) + " bytes)\n");
    EXPECT_EQ(ReadFile(project), before);
    EXPECT_FALSE(platform::FileExists(folder + "Show.scr"));
    // The packed project names the output, as the editor's would with that output box.
    archive::ArchiveReader reader = archive::ArchiveReader::FromFile(target);
    EXPECT_NE(reader.Extract(0).find("Output=" + target + "\r\n"), std::string::npos);

    // A relative -o means the current folder, not the project's.
    std::string here = std::filesystem::current_path().string();
    std::filesystem::current_path(folder + "elsewhere");
    CliRun relative = Cli({"compile", "--stub-dir", stubs, "-o", "rel.scr", project});
    std::filesystem::current_path(here);
    EXPECT_EQ(relative.code, 0) << relative.err;
    EXPECT_TRUE(platform::FileExists(folder + "elsewhere/rel.scr"));
    EXPECT_FALSE(platform::FileExists(folder + "rel.scr"));
    EXPECT_EQ(ReadFile(project), before);
}

TEST_F(CompileCli, LeftOutPicturesWarnAndStrictOrBrokenSetUpsFailFirst) {
    values.files.insert(values.files.begin() + 1, folder + "gone.jpg");
    Save();
    CliRun lenient = Cli({"compile", "--stub-dir", stubs, project});
    EXPECT_EQ(lenient.code, 0) << lenient.err;
    EXPECT_NE(
        lenient.err.find("warning: 1 file was left out of the screensaver:\nnimbrel-cli compile: left out: " +
                         folder + "gone.jpg cannot be found\n"),
        std::string::npos)
        << lenient.err;
    EXPECT_NE(lenient.out.find("Screensaver: "), std::string::npos);
    std::string built = ReadFile(folder + "Show.scr");

    // Each failure comes before any work: the project file and the screensaver stay as they were.
    std::string projectBefore = ReadFile(project);
    auto expectFailure = [&](const std::vector<std::string>& args, const std::string& message) {
        CliRun run = Cli(args);
        EXPECT_EQ(run.code, 1) << message;
        EXPECT_TRUE(run.out.empty()) << run.out;
        EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
        EXPECT_EQ(ReadFile(project), projectBefore) << message;
        EXPECT_EQ(ReadFile(folder + "Show.scr"), built) << message;
    };
    expectFailure({"compile", "--strict", "--stub-dir", stubs, project},
                  "nimbrel-cli compile: Cannot open file " + folder + "gone.jpg: no such file\n");
    std::filesystem::create_directory(folder + "empty");
    expectFailure({"compile", "--stub-dir", folder + "empty", project},
                  "Cannot open file " + folder + "empty" + platform::kSeparator + "stub.bin: no such file\n");
    expectFailure(
        {"compile", "--stub-dir", stubs, "-o", folder + "none/x.scr", project},
        "Cannot create file " + folder + "none/x.scr: the folder " + folder + "none/ does not exist\n");
    expectFailure({"compile", "--stub-dir", stubs, "-o", folder + "empty", project},
                  "The output path " + folder + "empty is a folder; choose a file name for the screensaver\n");
    expectFailure({"compile", "--stub-dir", stubs, folder + "none.nssp"}, "Project file not found");

    values.files.clear();
    Save();
    CliRun empty = Cli({"compile", "--stub-dir", stubs, project});
    EXPECT_EQ(empty.code, 1);
    EXPECT_NE(empty.err.find("the project has no pictures"), std::string::npos) << empty.err;
}

#ifdef NIMBREL_HAVE_TEST_PICTURES
// --fit WxH: a picture larger than the box comes out shrunk into it as a JPEG under its own name,
// a smaller one in a format the players read is packed byte for byte; the project file keeps the
// user's own choice, and a size that is no size is refused before anything is done.
TEST_F(CompileCli, FitShrinksLargePicturesIntoTheBoxAndLeavesTheProjectFileAlone) {
    using codecs::testing::Bytes;
    auto write = [](const std::string& path, const Bytes& bytes) {
        WriteFile(path, std::string(bytes.begin(), bytes.end()));
    };
    const Bytes large = codecs::testing::MakeBmp24(codecs::testing::Gradient(640, 480));
    const Bytes small = codecs::testing::MakeBmp24(codecs::testing::Gradient(100, 80));
    const Bytes tall = codecs::testing::MakeBmp24(codecs::testing::Gradient(150, 600));
    write(folder + "large.bmp", large);
    write(folder + "small.bmp", small);
    write(folder + "tall.bmp", tall);
    values.files = {folder + "large.bmp", folder + "small.bmp", folder + "tall.bmp"};
    Save();
    // A first compile fills in the project's Output; from then on a compile leaves its bytes.
    ASSERT_EQ(Cli({"compile", "-q", "--stub-dir", stubs, project}).code, 0);
    const std::string projectBefore = ReadFile(project);
    const std::string scr = folder + "Show.scr";
    const std::string plain = ReadFile(scr);

    for (const char* bad : {"0x0", "abc", "100", "320x", "x200", "15x200", "320x16385", "320x200x1"}) {
        SCOPED_TRACE(bad);
        CliRun run = Cli({"compile", "--stub-dir", stubs, "--fit", bad, project});
        EXPECT_EQ(run.code, 2);
        EXPECT_TRUE(run.out.empty()) << run.out;
        EXPECT_NE(run.err.find("--fit wants WIDTHxHEIGHT"), std::string::npos) << run.err;
        EXPECT_EQ(ReadFile(project), projectBefore);
        EXPECT_EQ(ReadFile(scr), plain);
    }

    CliRun run = Cli({"compile", "--stub-dir", stubs, "--fit", "320x200", project});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(run.err.empty()) << run.err;
    EXPECT_EQ(ReadFile(project), projectBefore);
    EXPECT_EQ(projectBefore.find("[Pictures]"), std::string::npos) << projectBefore;

    archive::ArchiveReader reader = archive::ArchiveReader::FromFile(scr);
    // The packed project records how the show was built.
    EXPECT_NE(reader.Extract(0).find("[Pictures]\r\nFit=1\r\nFitWidth=320\r\nFitHeight=200\r\n"),
              std::string::npos)
        << reader.Extract(0);
    auto decode = [](const std::string& bytes) {
        auto source = codecs::MakeLibraryDecoder()->Open(
            "member", std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), {});
        EXPECT_TRUE(source);
        return source ? imaging::ReadWholePicture(*source) : imaging::Image();
    };
    // 640 x 480 into 320 x 200: the height decides, 200 / 480 of each side.
    const int largeAt = reader.IndexOf("large.bmp");
    ASSERT_GE(largeAt, 0);
    const std::string shrunk = reader.Extract(static_cast<std::size_t>(largeAt));
    EXPECT_EQ(
        codecs::DetectFormat("large.bmp",
                             std::span(reinterpret_cast<const std::uint8_t*>(shrunk.data()), shrunk.size())),
        "jpeg");
    const imaging::Image largeOut = decode(shrunk);
    EXPECT_EQ(largeOut.Height(), 200);
    EXPECT_NEAR(largeOut.Width(), 267, 1);
    // The gradient's corners are where they were: dark top left, red and green bottom right.
    if (!largeOut.Empty()) {
        const imaging::Pixel topLeft = largeOut.At(1, 1),
                             bottomRight = largeOut.At(largeOut.Width() - 2, 198);
        EXPECT_LT(imaging::RedOf(topLeft) + imaging::GreenOf(topLeft), 40);
        EXPECT_GT(imaging::RedOf(bottomRight), 215);
        EXPECT_GT(imaging::GreenOf(bottomRight), 215);
    }
    // 150 x 600: the height decides again, 50 x 200.
    const int tallAt = reader.IndexOf("tall.bmp");
    ASSERT_GE(tallAt, 0);
    const imaging::Image tallOut = decode(reader.Extract(static_cast<std::size_t>(tallAt)));
    EXPECT_EQ(tallOut.Height(), 200);
    EXPECT_EQ(tallOut.Width(), 50);
    // Small enough already: the file itself.
    const int smallAt = reader.IndexOf("small.bmp");
    ASSERT_GE(smallAt, 0);
    EXPECT_EQ(reader.Extract(static_cast<std::size_t>(smallAt)), std::string(small.begin(), small.end()));
    // The user's pictures are untouched.
    EXPECT_EQ(ReadFile(folder + "large.bmp"), std::string(large.begin(), large.end()));

    // --fit with --output: the same screensaver elsewhere, the project file still as it was.
    CliRun elsewhere =
        Cli({"compile", "--stub-dir", stubs, "--fit", "320X200", "-o", folder + "o.scr", project});
    ASSERT_EQ(elsewhere.code, 0) << elsewhere.err;
    EXPECT_EQ(ReadFile(project), projectBefore);
    archive::ArchiveReader other = archive::ArchiveReader::FromFile(folder + "o.scr");
    EXPECT_EQ(other.Extract(static_cast<std::size_t>(other.IndexOf("large.bmp"))), shrunk);
}
#endif

#ifndef _WIN32
// The real program on a pseudo-terminal of a given width: everything it wrote, and its exit code.
static CliRun OnTerminal(const std::vector<std::string>& args, unsigned short columns) {
    winsize size{};
    size.ws_row = 24;
    size.ws_col = columns;
    int master = -1;
    pid_t child = forkpty(&master, nullptr, nullptr, &size);
    if (child < 0) return {-1, "", "forkpty failed"};
    if (child == 0) {
        std::vector<char*> argv{const_cast<char*>(NIMBREL_CLI_PATH)};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(NIMBREL_CLI_PATH, argv.data());
        _exit(127);
    }
    std::string output;
    char buffer[4096];
    for (;;) {
        ssize_t got = read(master, buffer, sizeof buffer);
        if (got > 0) {
            output.append(buffer, static_cast<std::size_t>(got));
        } else if (got < 0 && errno == EINTR) {
            continue;
        } else {
            break;  // EIO once the program has ended and closed the terminal
        }
    }
    close(master);
    int status = 0;
    waitpid(child, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output, ""};
}

TEST_F(CompileCli, ProgressBarOnATerminalOnlyMovesForwardAndFitsTheWidth) {
    // Larger pictures, one with a long name, so that the bar is drawn more than once and the
    // name must be cut.
    pictureSize = 1 << 20;
    std::string longName = folder + std::string(90, 'n') + ".jpg";
    WriteFile(longName, AsJpeg(RandomBytes(pictureSize, 11)));
    values.files.push_back(longName);
    for (const auto& file : values.files) WriteFile(file, AsJpeg(RandomBytes(pictureSize, 12)));
    Save();

    for (unsigned short columns : {60, 120, 24}) {
        SCOPED_TRACE(columns);
        CliRun run = OnTerminal({"compile", "--stub-dir", stubs, project}, columns);
        ASSERT_EQ(run.code, 0) << run.out;
        // The terminal turns each "\n" into "\r\n"; the bar returns with "\r" alone.
        std::vector<std::string> pieces;
        std::string piece;
        for (char c : run.out) {
            if (c == '\r' || c == '\n') {
                pieces.push_back(piece);
                piece.clear();
            } else {
                piece += c;
            }
        }
        pieces.push_back(piece);
        const std::regex percent(R"((\d+)%)");
        std::vector<int> shown;
        for (const std::string& text : pieces) {
            // The result lines name long paths and may wrap; the bar never does.
            if (text.rfind("Screensaver: ", 0) == 0 || text.rfind("Project saved: ", 0) == 0) continue;
            EXPECT_LT(text.size(), columns) << "\"" << text << "\"";
            std::smatch m;
            if (std::regex_search(text, m, percent)) shown.push_back(std::stoi(m[1]));
        }
        ASSERT_FALSE(shown.empty()) << run.out;
        for (std::size_t i = 1; i < shown.size(); ++i) EXPECT_GE(shown[i], shown[i - 1]) << run.out;
        EXPECT_EQ(shown.back(), 100) << run.out;
        EXPECT_NE(run.out.find("\r\nScreensaver: " + folder + "Show.scr ("), std::string::npos) << run.out;
    }
}
#endif
