// The build from project values to a screensaver file, with stand-in stubs (any bytes will do
// where no icon is changed).
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>

#include "archive/archive_reader.h"
#include "pipeline/build_pipeline.h"
#include "pipeline/project_state.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/temp.h"
#include "project/project_file.h"
#include "support/test_system.h"
#if NIMBREL_HAVE_PE_FIXTURES
#include "pe_check.h"
#endif

namespace fs = std::filesystem;
using namespace nimbrel;
using pipeline::BuildRequest;
using pipeline::BuildResult;

namespace {

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string Pattern(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + seed * 7) ^ (i >> 5));
    return bytes;
}

// `bytes` behind the header of a 16 x 16 JPEG or PNG, so that the build takes them for a picture
// the players show (only the header is looked at).
std::string AsJpeg(std::string bytes) {
    return bytes.replace(0, 12, std::string("\xFF\xD8\xFF\xC0\x00\x11\x08\x00\x10\x00\x10\x03", 12));
}
std::string AsPng(std::string bytes) {
    return bytes.replace(0, 24, std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\0\x10\0\0\0\x10", 24));
}

struct Recorder : pipeline::BuildReporter {
    std::vector<int> progress;
    std::vector<std::string> notices;
    std::vector<pipeline::BuildProgress> overall;
    int events = 0;
    void Progress(int percent) override { progress.push_back(percent); }
    void Overall(const pipeline::BuildProgress& p) override { overall.push_back(p); }
    void Notice(const std::string& text) override { notices.push_back(text); }
    void ProcessEvents() override { ++events; }
};

std::vector<std::string> Names(const archive::ArchiveReader& reader) {
    std::vector<std::string> names;
    for (const auto& m : reader.Members()) names.push_back(m.name);
    return names;
}

std::vector<std::string> FolderListing(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class Compile : public ::testing::Test {
protected:
    void SetUp() override {
        folder = dir.Path();
        stubBytes = "MZ stand-in slideshow player " + Pattern(3000, 1);
        flashStubBytes = "MZ stand-in Flash player " + Pattern(2000, 2);
        WriteBytes(dir.File("stub.bin"), stubBytes);
        WriteBytes(dir.File("flash.bin"), flashStubBytes);
        fs::create_directory(folder + "pics");
        WriteBytes(folder + "pics/a.jpg", AsJpeg(Pattern(200000, 3)));
        WriteBytes(folder + "pics/b.png", AsPng(std::string(70000, 'b')));
        request.projectFileName = folder + "Show.nssp";
        request.values = pipeline::NewProjectValues();
        request.values.slideShow.showName = "Lake";
        request.values.slideShow.showText = "Hello";
        request.values.files = {folder + "pics/a.jpg", folder + "pics/b.png"};
        request.stubPath = dir.File("stub.bin");
        request.flashStubPath = dir.File("flash.bin");
    }

    platform::TempDirectory dir{"nbcompile"};
    std::string folder, stubBytes, flashStubBytes;
    BuildRequest request;
    Recorder reporter;
};

}  // namespace

TEST(CompileRules, OutputPathAboutFileAndCompletionText) {
    EXPECT_EQ(pipeline::ChooseOutputPath("", "/work/Show.nssp"), "/work/Show.scr");
    EXPECT_EQ(pipeline::ChooseOutputPath("", "/work.d/Show"), "/work.d/Show.scr");
    EXPECT_EQ(pipeline::ChooseOutputPath("/out/x.scr", "/work/Show.nssp"), "/out/x.scr");
    EXPECT_EQ(pipeline::AboutFileBytes("Lake", "Hello"), "Lake\r\nHello\r\n");
    EXPECT_EQ(pipeline::AboutFileBytes("", ""), "\r\n\r\n");
    EXPECT_EQ(pipeline::CompletionText("/Saves/Lake.scr", 1234, {}),
              "The project was saved during compile.\n\rFile: Lake.scr Output\n\r1234 bytes output");
    std::string withLeftOut =
        pipeline::CompletionText("/Saves/Lake.scr", 5, {{"/p/gone.jpg", "cannot be found"}});
    EXPECT_NE(withLeftOut.find("\n\r/p/gone.jpg cannot be found"), std::string::npos);
}

TEST(CompileRules, LoadedProjectAppliesAsTheWindowDoes) {
    project::ProjectValues values = pipeline::NewProjectValues();
    values.files = {"old.jpg"};
    values.slideShow.showName = "kept";
    values.flash.title = "flash kept";

    project::LoadedProject empty;  // Number 0: the slideshow values stay, the list empties
    pipeline::ApplyLoadedProject(empty, values);
    EXPECT_TRUE(values.files.empty());
    EXPECT_EQ(values.slideShow.showName, "kept");

    project::LoadedProject loaded;
    loaded.type = 0;
    loaded.number = 1;
    loaded.slideShowRead = true;
    loaded.files = {"x.jpg"};
    loaded.slideShow.showSpeed = 500;
    loaded.slideShow.transition = 200;
    pipeline::ApplyLoadedProject(loaded, values);
    EXPECT_EQ(values.files, std::vector<std::string>{"x.jpg"});
    EXPECT_EQ(values.slideShow.showSpeed, 240);
    EXPECT_EQ(values.slideShow.transition, -1);
    EXPECT_EQ(values.flash.title, "flash kept");

    project::LoadedProject other;
    other.type = 2;  // an unknown kind keeps the page
    values.kind = project::kFlash;
    pipeline::ApplyLoadedProject(other, values);
    EXPECT_EQ(values.kind, project::kFlash);
}

TEST_F(Compile, SlideshowLayoutMembersAndProgress) {
    BuildResult result = pipeline::CompileProject(request, reporter);
    ASSERT_TRUE(result.built);
    EXPECT_EQ(result.outputPath, folder + "Show.scr");
    std::string scr = platform::ReadWholeFile(result.outputPath);
    EXPECT_EQ(result.outputSize, static_cast<std::int64_t>(scr.size()));
    ASSERT_GT(scr.size(), stubBytes.size());
    EXPECT_EQ(scr.substr(0, stubBytes.size()), stubBytes);

    archive::ArchiveReader reader(reinterpret_cast<const unsigned char*>(scr.data()), scr.size());
    EXPECT_EQ(reader.ArchiveStart(), stubBytes.size());
    EXPECT_TRUE(reader.VerifyArchiveCrc());
    EXPECT_EQ(Names(reader), (std::vector<std::string>{"Options.ini", "About.cfg", "a.jpg", "b.png"}));
    EXPECT_EQ(reader.Members()[0].dataOffset, 0);
    for (const auto& m : reader.Members()) {
        EXPECT_TRUE(m.path.empty());
        if (!m.stored) {
            EXPECT_EQ(m.level, 3);
        }
    }
    // "Options.ini" is the project file as saved, with the chosen output path in it.
    std::string saved = platform::ReadWholeFile(request.projectFileName);
    EXPECT_EQ(reader.Extract(0), saved);
    EXPECT_NE(saved.find("Output=" + folder + "Show.scr\r\n"), std::string::npos);
    EXPECT_EQ(reader.Extract(1), "Lake\r\nHello\r\n");
    EXPECT_EQ(reader.Extract(2), platform::ReadWholeFile(folder + "pics/a.jpg"));

    // 0, 25, 40, the archive's reports, 60, 80, 100 — in that order.
    ASSERT_GE(reporter.progress.size(), 6u);
    EXPECT_EQ((std::vector<int>(reporter.progress.begin(), reporter.progress.begin() + 3)),
              (std::vector<int>{0, 25, 40}));
    EXPECT_EQ((std::vector<int>(reporter.progress.end() - 3, reporter.progress.end())),
              (std::vector<int>{60, 80, 100}));
    // One after each entry listed, and more while long work makes no report (timing decides).
    EXPECT_GE(reporter.events, 2);
    EXPECT_TRUE(reporter.notices.empty());
    EXPECT_EQ(result.completionText,
              pipeline::CompletionText(result.outputPath, static_cast<std::int64_t>(scr.size()), {}));

    // The project folder holds no side file, no temporary archive, no partial output.
    EXPECT_EQ(FolderListing(folder),
              (std::vector<std::string>{"Show.nssp", "Show.scr", "flash.bin", "pics", "stub.bin"}));
}

TEST_F(Compile, OverallProgressOnlyMovesForwardAndCountsEveryByte) {
    // Pictures that do not compress give the archive many reports each; the same picture
    // twice in a row and one that cannot be read must not confuse the count.
    WriteBytes(folder + "pics/c.jpg", Pattern(900000, 5) + "x");
    request.values.files = {folder + "pics/a.jpg", folder + "pics/c.jpg", folder + "pics/c.jpg",
                            folder + "pics/gone.jpg", "pics/b.png"};
    BuildResult result = pipeline::CompileProject(request, reporter);
    ASSERT_TRUE(result.built);
    ASSERT_FALSE(reporter.overall.empty());

    std::int64_t options = static_cast<std::int64_t>(platform::ReadWholeFile(request.projectFileName).size());
    std::int64_t media = 200000 + 2 * 900001 + 70000;
    std::int64_t total = options + static_cast<std::int64_t>(std::string("Lake\r\nHello\r\n").size()) + media;
    std::vector<std::string> shown;
    for (std::size_t i = 1; i < reporter.overall.size(); ++i) {
        const auto& before = reporter.overall[i - 1];
        const auto& now = reporter.overall[i];
        EXPECT_GE(now.fraction, before.fraction) << "report " << i;
        EXPECT_GE(now.bytesDone, before.bytesDone) << "report " << i;
        EXPECT_LE(now.bytesDone, now.bytesTotal);
        if (!now.currentFile.empty() && (shown.empty() || shown.back() != now.currentFile))
            shown.push_back(now.currentFile);
    }
    EXPECT_EQ(reporter.overall.front().fraction, 0.0);
    EXPECT_EQ(reporter.overall.back().fraction, 1.0);
    EXPECT_EQ(reporter.overall.back().bytesTotal, total);
    EXPECT_EQ(reporter.overall.back().bytesDone, total);
    EXPECT_TRUE(reporter.overall.back().currentFile.empty());
    // The pictures show as the project names them, in order; never the side files.
    EXPECT_EQ(shown, (std::vector<std::string>{folder + "pics/a.jpg", folder + "pics/c.jpg", "pics/b.png"}));
    // Half-way through the bytes, the bar is past the start and short of the end.
    auto middle = std::find_if(reporter.overall.begin(), reporter.overall.end(),
                               [&](const pipeline::BuildProgress& p) { return p.bytesDone * 2 >= total; });
    ASSERT_NE(middle, reporter.overall.end());
    EXPECT_GT(middle->fraction, 0.3);
    EXPECT_LT(middle->fraction, 0.96);
}

TEST_F(Compile, BuildWithoutSavingLeavesTheProjectFileAndPacksTheSameBytes) {
    pipeline::CompileProject(request, reporter);  // a project file as the editor saved it
    request.values.slideShow.output = folder + "elsewhere.scr";
    request.values.slideShow.showName = "Changed";
    std::string projectBefore = platform::ReadWholeFile(request.projectFileName);
    request.saveProject = false;
    BuildResult unsaved = pipeline::CompileProject(request, reporter);
    ASSERT_TRUE(unsaved.built);
    EXPECT_EQ(unsaved.outputPath, folder + "elsewhere.scr");
    EXPECT_EQ(platform::ReadWholeFile(request.projectFileName), projectBefore);
    std::string scr = platform::ReadWholeFile(unsaved.outputPath);

    // The same values saved first give the same screensaver, byte for byte.
    request.saveProject = true;
    pipeline::CompileProject(request, reporter);
    EXPECT_NE(platform::ReadWholeFile(request.projectFileName), projectBefore);
    EXPECT_EQ(platform::ReadWholeFile(folder + "elsewhere.scr"), scr);
}

TEST_F(Compile, SideFilesNeverTouchTheUsersFiles) {
    // A user's own Options.ini and About.cfg beside the project, and a project named About.cfg.
    WriteBytes(folder + "Options.ini", "mine");
    request.projectFileName = folder + "About.cfg";
    BuildResult result = pipeline::CompileProject(request, reporter);
    ASSERT_TRUE(result.built);
    EXPECT_EQ(platform::ReadWholeFile(folder + "Options.ini"), "mine");
    std::string scr = platform::ReadWholeFile(result.outputPath);
    archive::ArchiveReader reader(reinterpret_cast<const unsigned char*>(scr.data()), scr.size());
    EXPECT_EQ(reader.Extract(0), platform::ReadWholeFile(folder + "About.cfg"));
    EXPECT_EQ(reader.Extract(1), "Lake\r\nHello\r\n");
}

TEST_F(Compile, EmptySlideshowSavesAndKeepsTheOldOutput) {
    request.values.files.clear();
    WriteBytes(folder + "Show.scr", "old screensaver");
    BuildResult result = pipeline::CompileProject(request, reporter);
    EXPECT_FALSE(result.built);
    EXPECT_TRUE(result.completionText.empty());
    EXPECT_EQ(platform::ReadWholeFile(folder + "Show.scr"), "old screensaver");
    EXPECT_TRUE(platform::FileExists(request.projectFileName));
    EXPECT_EQ(reporter.progress, (std::vector<int>{0, 25}));
}

TEST_F(Compile, FlashWithoutAndWithMovie) {
    request.values.kind = project::kFlash;
    request.values.flash.title = "";
    request.values.flash.showText = "";
    request.values.flash.output = folder + "out/f.scr";
    fs::create_directory(folder + "out");
    BuildResult result = pipeline::CompileProject(request, reporter);
    ASSERT_TRUE(result.built);
    std::string scr = platform::ReadWholeFile(folder + "out/f.scr");
    EXPECT_EQ(scr.substr(0, flashStubBytes.size()), flashStubBytes);
    archive::ArchiveReader reader(reinterpret_cast<const unsigned char*>(scr.data()), scr.size());
    EXPECT_EQ(Names(reader), (std::vector<std::string>{"Options.ini", "About.cfg"}));
    EXPECT_EQ(reader.Extract(1), "\r\n\r\n");
    EXPECT_TRUE(result.leftOutFiles.empty());

    WriteBytes(folder + "movie.swf", Pattern(5000, 9));
    request.values.flash.flashFile = folder + "movie.swf";
    pipeline::CompileProject(request, reporter);
    scr = platform::ReadWholeFile(folder + "out/f.scr");
    archive::ArchiveReader again(reinterpret_cast<const unsigned char*>(scr.data()), scr.size());
    EXPECT_EQ(Names(again), (std::vector<std::string>{"Options.ini", "About.cfg", "movie.swf"}));
}

// A movie that cannot be recorded (here no Flash movie at all, or no recorder beside the stubs)
// is packed as it is, and the build says once that it plays only with a Flash control; a strict
// build fails instead, leaving the screensaver as it was.
TEST_F(Compile, FlashMovieNotRecordedIsNoticedOrFailsWhenStrict) {
    request.values.kind = project::kFlash;
    request.values.flash.output = folder + "f.scr";
    WriteBytes(folder + "movie.swf", Pattern(5000, 9));
    request.values.flash.flashFile = folder + "movie.swf";
    BuildResult result = pipeline::CompileProject(request, reporter);
    ASSERT_TRUE(result.built);
    EXPECT_EQ(result.recordedFrames, 0);
    EXPECT_NE(result.notRecordedNotice.find("only where a Flash control is installed"), std::string::npos)
        << result.notRecordedNotice;
    const std::string& text = result.completionText;
    EXPECT_EQ(text.find(result.notRecordedNotice), text.size() - result.notRecordedNotice.size()) << text;
    EXPECT_EQ(text.find(result.notRecordedNotice), text.rfind(result.notRecordedNotice)) << text;
    const std::string built = platform::ReadWholeFile(folder + "f.scr");

    request.strict = true;
    try {
        pipeline::CompileProject(request, reporter);
        ADD_FAILURE() << "strict build went on";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("The movie was not recorded"), std::string::npos) << e.what();
    }
    EXPECT_EQ(platform::ReadWholeFile(folder + "f.scr"), built);
}

TEST_F(Compile, UnreadablePicturesAreNamedOrFailInStrictMode) {
    request.values.files.push_back(folder + "pics/gone.jpg");
    BuildResult result = pipeline::CompileProject(request, reporter);
    ASSERT_TRUE(result.built);
    ASSERT_EQ(result.leftOutFiles.size(), 1u);
    EXPECT_EQ(result.leftOutFiles[0].path, folder + "pics/gone.jpg");
    EXPECT_EQ(result.leftOutFiles[0].reason, "cannot be found");
    EXPECT_NE(result.completionText.find(folder + "pics/gone.jpg"), std::string::npos);

    request.strict = true;
    fs::remove(folder + "Show.scr");
    try {
        pipeline::CompileProject(request, reporter);
        ADD_FAILURE() << "strict build went on";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open file " + folder + "pics/gone.jpg");
    }
    EXPECT_FALSE(platform::FileExists(folder + "Show.scr"));
}

TEST_F(Compile, ChecksFailBeforeAnyWorkAndTouchNothing) {
    // Each failure is found before the project is saved, the old screensaver removed or any
    // progress made, and leaves the folder exactly as it was.
    WriteBytes(folder + "Show.scr", "old screensaver");
    auto expectFailure = [&](const std::string& message) {
        Recorder fresh;
        try {
            pipeline::CompileProject(request, fresh);
            ADD_FAILURE() << "built in spite of: " << message;
        } catch (const Error& e) {
            EXPECT_EQ(std::string(e.what()), message);
        }
        EXPECT_TRUE(fresh.progress.empty()) << message;
        EXPECT_EQ(FolderListing(folder),
                  (std::vector<std::string>{"Show.scr", "flash.bin", "pics", "stub.bin"}))
            << message;
        EXPECT_EQ(platform::ReadWholeFile(folder + "Show.scr"), "old screensaver");
    };

    request.stubPath = folder + "missing/stub.bin";
    expectFailure("Cannot open file " + request.stubPath);
    request.stubPath = folder + "pics";  // a folder is no player
    expectFailure("Cannot open file " + request.stubPath);
    request.stubPath = dir.File("stub.bin");

    request.values.slideShow.output = folder + "no/such/folder/x.scr";
    expectFailure("Cannot create file " + folder + "no/such/folder/x.scr");
    request.values.slideShow.output = folder + "pics";
    expectFailure("The output path " + folder + "pics is a folder; choose a file name for the screensaver");
    request.values.slideShow.output.clear();

    // Strict: the unreadable picture is found before the readable ones are packed. A Flash
    // project checks its own player and movie.
    request.values.files.push_back(folder + "pics/gone.jpg");
    request.strict = true;
    expectFailure("Cannot open file " + folder + "pics/gone.jpg");
    request.values.kind = project::kFlash;
    request.values.flash.flashFile = "gone.swf";
    expectFailure("Cannot open file gone.swf");
    request.flashStubPath = folder + "missing/flash.bin";
    expectFailure("Cannot open file " + request.flashStubPath);

    // A slideshow without pictures needs neither a player nor an output folder.
    request.values.kind = project::kSlideShow;
    request.values.files.clear();
    request.stubPath = folder + "missing/stub.bin";
    EXPECT_FALSE(pipeline::CompileProject(request, reporter).built);
}

TEST_F(Compile, RelativePathsNameFilesBesideTheProject) {
    request.values.files = {"pics/a.jpg"};
    request.values.slideShow.output = "rel.scr";
    BuildResult result = pipeline::CompileProject(request, reporter);
    ASSERT_TRUE(result.built);
    EXPECT_EQ(result.outputPath, folder + "rel.scr");
    EXPECT_TRUE(platform::FileExists(folder + "rel.scr"));
    // The box and the saved project keep the path as the user wrote it.
    EXPECT_NE(platform::ReadWholeFile(request.projectFileName).find("Output=rel.scr\r\n"), std::string::npos);
}

TEST_F(Compile, MissingIconFileLeavesTheStubAlone) {
    request.values.slideShow.changeIcon = true;
    request.values.slideShow.iconFile = folder + "none.ico";
    BuildResult result = pipeline::CompileProject(request, reporter);
    ASSERT_TRUE(result.built);
    EXPECT_TRUE(reporter.notices.empty());
    EXPECT_EQ(platform::ReadWholeFile(result.outputPath).substr(0, stubBytes.size()), stubBytes);
}

TEST_F(Compile, IconOnAStubThatIsNoExecutableIsIgnoredSilently) {
    WriteBytes(folder + "i.ico", std::string("\0\0\1\0\0\0", 6));
    request.values.slideShow.changeIcon = true;
    request.values.slideShow.iconFile = folder + "i.ico";
    BuildResult result = pipeline::CompileProject(request, reporter);
    ASSERT_TRUE(result.built);
    EXPECT_TRUE(reporter.notices.empty());
    EXPECT_EQ(platform::ReadWholeFile(result.outputPath).substr(0, stubBytes.size()), stubBytes);
}

TEST_F(Compile, TwoProcessesBuildingAtOnce) {
#ifdef _WIN32
    GTEST_SKIP() << "the second process is made with fork(), which Windows does not have";
#else
    // Each process builds its own project from the same pictures at the same moment.
    std::string second = folder + "Second.nssp";
    pid_t children[2];
    for (int k = 0; k < 2; ++k) {
        children[k] = fork();
        ASSERT_GE(children[k], 0);
        if (children[k] == 0) {
            Recorder quiet;
            BuildRequest mine = request;
            if (k == 1) mine.projectFileName = second;
            try {
                for (int round = 0; round < 3; ++round) pipeline::CompileProject(mine, quiet);
            } catch (...) {
                _exit(1);
            }
            _exit(0);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (const std::string& scrPath : {folder + "Show.scr", folder + "Second.scr"}) {
        std::string scr = platform::ReadWholeFile(scrPath);
        archive::ArchiveReader reader(reinterpret_cast<const unsigned char*>(scr.data()), scr.size());
        EXPECT_TRUE(reader.VerifyArchiveCrc());
        ASSERT_EQ(reader.Members().size(), 4u);
        for (std::size_t i = 0; i < 4; ++i) EXPECT_NO_THROW(reader.Extract(i));
    }
#endif
}

namespace {

// Runs a build that must fail and returns its message.
std::string FailedBuild(const BuildRequest& request, pipeline::BuildReporter& reporter) {
    try {
        pipeline::CompileProject(request, reporter);
    } catch (const Error& e) {
        return e.what();
    }
    ADD_FAILURE() << "the build went on";
    return {};
}

}  // namespace

TEST_F(Compile, AnOutputPathThatIsTheUsersFileIsRefusedBeforeAnythingIsTouched) {
#ifdef _WIN32
    GTEST_SKIP() << "pipes, devices, file modes and links are POSIX's: the Windows cases are in the win32 tests";
#else
    const std::string projectBytes = "[Header]\r\nNumber=7\r\n\r\n";
    WriteBytes(request.projectFileName, projectBytes);
    WriteBytes(folder + "mine.ico", "icon bytes");
    request.values.slideShow.iconFile = "mine.ico";  // relative: beside the project
    fs::create_symlink(folder + "pics/a.jpg", folder + "link.scr");
    const std::string pictureBytes = platform::ReadWholeFile(folder + "pics/a.jpg");

    struct Case {
        std::string output, named;
    };
    for (const Case& c : std::vector<Case>{
             {request.projectFileName, "the project file itself"},
             {folder + "pics/../Show.nssp", "the project file itself"},
             {folder + "pics/./a.jpg", "one of the project's media files"},
             {"pics/b.png", "one of the project's media files"},
             {folder + "link.scr", "one of the project's media files"},
             {folder + "mine.ico", "the project's icon file"},
             {request.stubPath, "a player stub"},
             {folder + "pics", "is a folder"},
         }) {
        SCOPED_TRACE(c.output);
        request.values.slideShow.output = c.output;
        EXPECT_NE(FailedBuild(request, reporter).find(c.named), std::string::npos);
    }
    // Not even saved: the project, the pictures, the icon and the stub are as they were.
    EXPECT_EQ(platform::ReadWholeFile(request.projectFileName), projectBytes);
    EXPECT_EQ(platform::ReadWholeFile(folder + "pics/a.jpg"), pictureBytes);
    EXPECT_EQ(platform::ReadWholeFile(folder + "mine.ico"), "icon bytes");
    EXPECT_EQ(platform::ReadWholeFile(request.stubPath), stubBytes);

    // A hard link to a picture is the same file under another name.
    fs::create_hard_link(folder + "pics/a.jpg", folder + "hard.scr");
    request.values.slideShow.output = folder + "hard.scr";
    EXPECT_NE(FailedBuild(request, reporter).find("media files"), std::string::npos);
    EXPECT_EQ(platform::ReadWholeFile(folder + "pics/a.jpg"), pictureBytes);
#endif
}

TEST_F(Compile, TheScreensaverBuiltBeforeSurvivesEveryFailedBuild) {
#ifdef _WIN32
    GTEST_SKIP() << "pipes, devices, file modes and links are POSIX's: the Windows cases are in the win32 tests";
#else
    WriteBytes(folder + "Show.scr", "previous screensaver");
    request.stubPath = folder + "missing/stub.bin";
    EXPECT_EQ(FailedBuild(request, reporter), "Cannot open file " + request.stubPath);
    EXPECT_EQ(platform::ReadWholeFile(folder + "Show.scr"), "previous screensaver");

    request.stubPath = dir.File("stub.bin");
    request.strict = true;
    request.values.files.push_back(folder + "pics/gone.jpg");
    EXPECT_EQ(FailedBuild(request, reporter), "Cannot open file " + folder + "pics/gone.jpg");
    EXPECT_EQ(platform::ReadWholeFile(folder + "Show.scr"), "previous screensaver");

    // A successful build replaces it, through a link to it, keeping its permissions.
    request.strict = false;
    request.values.files.pop_back();
    fs::permissions(folder + "Show.scr", fs::perms::owner_read | fs::perms::owner_write);
    fs::create_symlink(folder + "Show.scr", folder + "Link.scr");
    request.values.slideShow.output = folder + "Link.scr";
    BuildResult result = pipeline::CompileProject(request, reporter);
    ASSERT_TRUE(result.built);
    EXPECT_TRUE(fs::is_symlink(folder + "Link.scr"));
    EXPECT_EQ(platform::FileSize(folder + "Show.scr"), result.outputSize);
    EXPECT_EQ(fs::status(folder + "Show.scr").permissions(), fs::perms::owner_read | fs::perms::owner_write);
#endif
}

TEST_F(Compile, FilesThatAreNotRegularAreLeftOutAtOnceAndNamed) {
#ifdef _WIN32
    GTEST_SKIP() << "pipes, devices, file modes and links are POSIX's: the Windows cases are in the win32 tests";
#else
    ASSERT_EQ(mkfifo((folder + "pipe.jpg").c_str(), 0600), 0);
    request.values.files = {folder + "pics/a.jpg", "/dev/zero", folder + "pipe.jpg",
                            folder + "pics",       "",          folder + "gone.jpg"};
    BuildResult result = pipeline::CompileProject(request, reporter);
    ASSERT_TRUE(result.built);
    std::vector<std::pair<std::string, std::string>> leftOut;
    for (const auto& file : result.leftOutFiles) leftOut.emplace_back(file.path, file.reason);
    EXPECT_EQ(leftOut,
              (std::vector<std::pair<std::string, std::string>>{
                  {"/dev/zero", "is not a regular file (a device or a pipe cannot be packed)"},
                  {folder + "pipe.jpg", "is not a regular file (a device or a pipe cannot be packed)"},
                  {folder + "pics", "is a folder, not a file"},
                  {"", "names no file"},
                  {folder + "gone.jpg", "cannot be found"},
              }));
    for (const auto& file : result.leftOutFiles) {
        if (!file.path.empty()) {
            EXPECT_NE(result.completionText.find(file.path + " " + file.reason), std::string::npos);
        }
    }
    std::string scr = platform::ReadWholeFile(result.outputPath);
    archive::ArchiveReader reader(reinterpret_cast<const unsigned char*>(scr.data()), scr.size());
    EXPECT_EQ(Names(reader), (std::vector<std::string>{"Options.ini", "About.cfg", "a.jpg"}));

    // Strict fails on each kind, naming the file.
    request.strict = true;
    for (const std::string& bad : {std::string("/dev/zero"), folder + "pipe.jpg", folder + "pics"}) {
        request.values.files = {folder + "pics/a.jpg", bad};
        EXPECT_EQ(FailedBuild(request, reporter).rfind(bad, 0), 0u) << bad;
    }
#endif
}

TEST_F(Compile, AMemberBeyondTheArchiveLimitIsLeftOutNamingFileAndLimit) {
    WriteBytes(folder + "Show.scr", "previous screensaver");
    {
        // A sparse file: its size is all that is looked at.
        std::ofstream(folder + "huge.jpg", std::ios::binary).put('x');
        fs::resize_file(folder + "huge.jpg", 4294967296ull);
    }
    request.values.files.push_back(folder + "huge.jpg");
    BuildResult result = pipeline::CompileProject(request, reporter);
    ASSERT_TRUE(result.built);
    ASSERT_EQ(result.leftOutFiles.size(), 1u);
    EXPECT_EQ(result.leftOutFiles[0].path, folder + "huge.jpg");
    EXPECT_EQ(result.leftOutFiles[0].reason,
              "is 4294967296 bytes, more than the 2147483647 bytes a file in a screensaver can hold");

    // Strict fails before any work, naming file and limit.
    fs::remove(folder + "Show.scr");
    WriteBytes(folder + "Show.scr", "previous screensaver");
    request.strict = true;
    std::string message = FailedBuild(request, reporter);
    EXPECT_NE(message.find(folder + "huge.jpg is 4294967296 bytes"), std::string::npos) << message;
    EXPECT_EQ(platform::ReadWholeFile(folder + "Show.scr"), "previous screensaver");
}

TEST_F(Compile, PicturesTheScreensaverWillNotShowAreNamedAndFailStrictBuilds) {
    auto be32 = [](std::uint32_t v) {
        return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                           static_cast<char>(v)};
    };
    auto png = [&](std::uint32_t w, std::uint32_t h) {
        return std::string("\x89PNG\r\n\x1a\n", 8) + be32(13) + "IHDR" + be32(w) + be32(h) + Pattern(40, 5);
    };
    WriteBytes(folder + "broken.jpg", "not a picture\n");
    WriteBytes(folder + "empty.png", "");
    WriteBytes(folder + "cut.jpg", std::string("\xFF\xD8\xFF\xE0\x00\x10JFIF\0", 11));
    WriteBytes(folder + "strip.png", png(1, 65536));
    WriteBytes(folder + "fine.png", png(4, 4));
    WriteBytes(folder + "icon.ico", std::string("\0\0\1\0", 4) + Pattern(100, 6));
    request.values.files = {folder + "broken.jpg", folder + "fine.png", folder + "empty.png",
                            folder + "cut.jpg",    folder + "icon.ico", folder + "strip.png"};
    BuildResult result = pipeline::CompileProject(request, reporter);
    ASSERT_TRUE(result.built);
    EXPECT_TRUE(result.leftOutFiles.empty());
    std::vector<std::pair<std::string, std::string>> notShown;
    for (const auto& file : result.notShownFiles) notShown.emplace_back(file.path, file.reason);
    EXPECT_EQ(notShown,
              (std::vector<std::pair<std::string, std::string>>{
                  {folder + "broken.jpg", "is not a picture in a format the screensaver can show"},
                  {folder + "empty.png", "is empty (0 bytes)"},
                  {folder + "cut.jpg", "cannot be decoded: its header is damaged or cut short"},
                  {folder + "strip.png",
                   "cannot be decoded: it is 1 x 65536 pixels, more than the 65535 pixels a side a picture may have"},
              }));
    EXPECT_NE(result.completionText.find("These files were packed, but the screensaver will not show them:\n\r" +
                                         folder + "broken.jpg is not a picture"),
              std::string::npos)
        << result.completionText;
    // Packed all the same.
    std::string scr = platform::ReadWholeFile(result.outputPath);
    archive::ArchiveReader reader(reinterpret_cast<const unsigned char*>(scr.data()), scr.size());
    EXPECT_EQ(reader.Members().size(), 8u);

    request.strict = true;
    request.values.files = {folder + "fine.png", folder + "empty.png"};
    EXPECT_EQ(FailedBuild(request, reporter),
              folder + "empty.png is empty (0 bytes): the screensaver would not show it.");
}

TEST_F(Compile, AProjectOfAnUnknownKindBuildsAndSavesNothing) {
    WriteBytes(request.projectFileName, "[Header]\r\nNumber=2\r\nType=2\r\n\r\n");
    request.values.kind = 2;
    std::string message = FailedBuild(request, reporter);
    EXPECT_NE(message.find("kind this program does not know (Type=2"), std::string::npos) << message;
    EXPECT_EQ(platform::ReadWholeFile(request.projectFileName), "[Header]\r\nNumber=2\r\nType=2\r\n\r\n");
    EXPECT_FALSE(platform::FileExists(folder + "Show.scr"));
}

TEST_F(Compile, SavingUnchangedValuesKeepsTheBytesTheUserWrote) {
    const std::string path_ = request.projectFileName;
    // Numbers spelt other ways, keys in other case, out-of-range values the editor shows clamped,
    // colour parts that join to the colour, texts that keep a line feed.
    const std::string handWritten =
        "[header]\r\nnumber=$2\r\nType= 0\r\n\r\n"
        "[Files]\r\n0=a.jpg\r\n1=pics/b.jpg\r\n\r\n"
        "[Options]\r\nOutput=out.scr\r\nCENTER=yes\r\nAutoSize=2\r\nStretch=0x0\r\nKeepAspect=+0\r\n"
        "Random=-1\r\nShowSpeed=500\r\nTransition=200\r\nBGColor=12\r\nColorR=300\r\nColorG=0\r\n"
        "ColorB=0\r\nChangeIcon=0\r\niconfile=i.ico\r\n\r\n"
        "[About]\r\nShowName=Lake\nand hills\r\nShowText=Hello\nWorld\r\n\r\n";
    WriteBytes(path_, handWritten);
    project::ProjectValues values = pipeline::ProjectValuesFromFile(project::LoadProject(path_));
    EXPECT_EQ(values.slideShow.showText, "Hello\nWorld");
    EXPECT_EQ(values.slideShow.showSpeed, 240);
    project::SaveProject(path_, values);
    EXPECT_EQ(platform::ReadWholeFile(path_), handWritten);

    // A value that did change is written in the usual form, and only that line changes.
    values.slideShow.showSpeed = 30;
    values.slideShow.backgroundColor = 0x0000FF;
    project::SaveProject(path_, values);
    std::string changed = handWritten;
    changed.replace(changed.find("ShowSpeed=500"), 13, "ShowSpeed=30");
    const std::string oldColor = "BGColor=12\r\nColorR=300";
    changed.replace(changed.find(oldColor), oldColor.size(), "BGColor=255\r\nColorR=255");
    EXPECT_EQ(platform::ReadWholeFile(path_), changed);

    // A slideshow without pictures keeps its options through a compile; an LF-only file is read
    // line by line and, once something is added, written back with CR LF.
    const std::string lfOnly = "[Header]\nNumber=0\nType=0\n[Options]\nShowSpeed=50\n";
    WriteBytes(path_, lfOnly);
    request.values = pipeline::ProjectValuesFromFile(project::LoadProject(path_));
    EXPECT_EQ(request.values.slideShow.showSpeed, 50);
    EXPECT_FALSE(pipeline::CompileProject(request, reporter).built);
    std::string saved = platform::ReadWholeFile(path_);
    EXPECT_EQ(saved.rfind("[Header]\r\nNumber=0\r\nType=0\r\n\r\n[Options]\r\nShowSpeed=50\r\nOutput=", 0),
              0u)
        << saved;
    EXPECT_EQ(project::LoadProject(path_).slideShow.showSpeed, 50);
}

#if NIMBREL_HAVE_PE_FIXTURES
namespace {

// An .ico file with one image per size: the images are plain bytes, which is all the editor
// needs to copy them.
std::string MakeIco(const std::vector<std::uint32_t>& sizes) {
    std::string file;
    auto put16 = [&](unsigned v) { file += static_cast<char>(v & 0xFF), file += static_cast<char>(v >> 8); };
    auto put32 = [&](std::uint32_t v) { put16(v & 0xFFFF), put16(v >> 16); };
    put16(0), put16(1), put16(static_cast<unsigned>(sizes.size()));
    std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(sizes.size());
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        file += static_cast<char>(16 << i), file += static_cast<char>(16 << i), file += '\0', file += '\0';
        put16(1), put16(32), put32(sizes[i]), put32(offset);
        offset += sizes[i];
    }
    for (std::size_t i = 0; i < sizes.size(); ++i) file += Pattern(sizes[i], static_cast<unsigned>(i + 20));
    return file;
}

}  // namespace

TEST_F(Compile, ProjectIconReplacesThePlayersIcon) {
    std::string player = platform::ReadWholeFile(NIMBREL_PE_FIXTURES "/basic.exe");
    ASSERT_TRUE(pecheck::DumpResources(player).count("14/\"1\"/2057"));
    WriteBytes(dir.File("stub.bin"), player);
    WriteBytes(folder + "mine.ico", MakeIco({1128, 4264}));
    request.values.slideShow.changeIcon = true;
    request.values.slideShow.iconFile = folder + "mine.ico";

    BuildResult result = pipeline::CompileProject(request, reporter);
    ASSERT_TRUE(result.built);
    EXPECT_TRUE(reporter.notices.empty());
    std::string scr = platform::ReadWholeFile(result.outputPath);
    archive::ArchiveReader reader(reinterpret_cast<const unsigned char*>(scr.data()), scr.size());
    std::string edited = scr.substr(0, reader.ArchiveStart());
    EXPECT_EQ(pecheck::ValidateStructure(edited), "");
    auto resources = pecheck::DumpResources(edited);
    EXPECT_FALSE(resources.count("14/\"1\"/2057"));
    ASSERT_TRUE(resources.count("14/\"0\"/2057"));
    // The new group lists two images, and both are there as icons of the same language.
    int icons = 0;
    for (const auto& [key, bytes] : resources)
        if (key.rfind("3/", 0) == 0 && key.size() > 5 && key.compare(key.size() - 5, 5, "/2057") == 0)
            ++icons;
    EXPECT_GE(icons, 2);
    EXPECT_EQ(Names(reader).front(), "Options.ini");
    EXPECT_EQ(result.outputSize, static_cast<std::int64_t>(scr.size()));
}

TEST_F(Compile, AnIconThatCannotBeImportedKeepsThePlayersOwn) {
    std::string player = platform::ReadWholeFile(NIMBREL_PE_FIXTURES "/basic.exe");
    WriteBytes(dir.File("stub.bin"), player);
    std::string broken = MakeIco({1128});
    broken.resize(broken.size() - 100);  // its image runs past the end of the file
    WriteBytes(folder + "broken.ico", broken);
    request.values.slideShow.changeIcon = true;
    request.values.slideShow.iconFile = folder + "broken.ico";

    BuildResult result = pipeline::CompileProject(request, reporter);
    ASSERT_TRUE(result.built);
    EXPECT_EQ(reporter.notices, std::vector<std::string>{"Unable to Change Icon"});
    std::string scr = platform::ReadWholeFile(result.outputPath);
    EXPECT_EQ(scr.substr(0, player.size()), player);
    archive::ArchiveReader reader(reinterpret_cast<const unsigned char*>(scr.data()), scr.size());
    EXPECT_EQ(reader.ArchiveStart(), player.size());
}
#endif

TEST_F(Compile, FilesThatCannotBeReachedSayWhyAndAReadOnlyProjectIsNamed) {
#ifdef _WIN32
    GTEST_SKIP() << "links and file modes are POSIX's here";
#else
    fs::create_symlink(folder + "loop2.jpg", folder + "loop1.jpg");
    fs::create_symlink(folder + "loop1.jpg", folder + "loop2.jpg");
    request.values.files = {folder + "pics/a.jpg", folder + "loop1.jpg"};
    BuildResult result = pipeline::CompileProject(request, reporter);
    ASSERT_EQ(result.leftOutFiles.size(), 1u);
    EXPECT_EQ(result.leftOutFiles[0].reason, "cannot be reached: its path runs into a loop of symbolic links");

    if (!nimbrel::testing::ReadOnlyMarksBind()) GTEST_SKIP() << "read-only marks do not stop root";
    request.values.slideShow.showName = "Changed";
    ASSERT_TRUE(nimbrel::testing::SetReadOnly(request.projectFileName, true));
    EXPECT_EQ(FailedBuild(request, reporter), "Cannot save the project " + request.projectFileName + ": File access denied");
    nimbrel::testing::SetReadOnly(request.projectFileName, false);
#endif
}
