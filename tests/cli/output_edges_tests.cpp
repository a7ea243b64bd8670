// nimbrel-cli compile at the edges of its output: what an output, a player and an icon may be,
// projects named from another folder, a full disk, a file size limit, and interrupts sent to the
// real program, which must leave nothing behind.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <filesystem>
#include <sstream>
#include <thread>

#include "archive/archive_reader.h"
#include "archive_test_util.h"
#include "cli/cli.h"
#ifdef NIMBREL_HAVE_TEST_PICTURES
#include "codecs/codecs.h"
#include "imaging/image.h"
#endif
#include "pipeline/project_state.h"
#include "platform/files.h"
#include "platform/temp.h"
#include "project/project_file.h"

using namespace nimbrel;
using namespace nimbrel::archive::testdata;
namespace fs = std::filesystem;

namespace {

struct CliResult {
    int code;
    std::string out, err;
};

CliResult Cli(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    int code = cli::RunCli(args, out, err);
    return {code, out.str(), err.str()};
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The entries of `folder` whose names start with `prefix`.
std::vector<std::string> Entries(const std::string& folder, const std::string& prefix) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec)) {
        const std::string name = e.path().filename().string();
        if (name.rfind(prefix, 0) == 0) names.push_back(name);
    }
    return names;
}

// A project beside its pictures, stand-in players in their own folder, and a TMPDIR of its own
// for the real program.
struct OutputEdges : ::testing::Test {
    void SetUp() override {
        folder = dir.Path();
        fs::create_directories(folder + "players");
        fs::create_directories(folder + "tmp");
        stubs = folder + "players";
        WriteFile(stubs + "/stub.bin", "MZ stand-in player " + RandomBytes(4000, 1));
        WriteFile(stubs + "/flash.bin", "MZ stand-in Flash player");
        project = folder + "Show.nssp";
        values = pipeline::NewProjectValues();
        AddPictures(3, 100000);
    }
    void AddPictures(int count, std::size_t size) {
        for (int i = 0; i < count; ++i) {
            std::string picture = folder + "picture-" + std::to_string(values.files.size()) + ".bmp";
            WriteFile(picture, RandomBytes(size, static_cast<std::uint32_t>(values.files.size() + 3)));
            values.files.push_back(picture);
        }
        project::SaveProject(project, values);
    }
    CliResult Compile(const std::string& output, std::vector<std::string> more = {}) {
        std::vector<std::string> args{"compile", "--stub-dir", stubs};
        if (!output.empty()) args.insert(args.end(), {"-o", output});
        args.insert(args.end(), more.begin(), more.end());
        args.push_back(project);
        return Cli(args);
    }

    platform::TempDirectory dir{"cliedges"};
    std::string folder, stubs, project;
    project::ProjectValues values;
};

// The real program, with TMPDIR set; `prepare` runs in the child before it starts.
pid_t Spawn(const std::vector<std::string>& args, const std::string& tmpdir,
            const std::function<void()>& prepare = {}) {
    pid_t child = fork();
    if (child == 0) {
        setenv("TMPDIR", tmpdir.c_str(), 1);
        if (prepare) prepare();
        int null = open("/dev/null", O_WRONLY);
        if (null >= 0) dup2(null, 1);
        std::vector<char*> argv{const_cast<char*>(NIMBREL_CLI_PATH)};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(NIMBREL_CLI_PATH, argv.data());
        _exit(127);
    }
    return child;
}

}  // namespace

TEST_F(OutputEdges, AnOutputThatIsNoFileIsRefusedBeforeAnyWork) {
    const std::string fifo = folder + "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string link = folder + "link-to-fifo.scr";
    fs::create_symlink(fifo, link);
    for (const std::string& output : {fifo, link}) {
        CliResult run = Compile(output);
        EXPECT_EQ(run.code, 1) << output;
        EXPECT_TRUE(Contains(run.err, output + " is ")) << run.err;
        EXPECT_TRUE(Contains(run.err, "named pipe")) << run.err;
    }
    EXPECT_TRUE(fs::is_fifo(fifo));
    // The project's own Output names the pipe: refused the same, the project untouched.
    values.slideShow.output = "fifo";
    project::SaveProject(project, values);
    const std::string before = ReadFile(project);
    CliResult run = Compile("");
    EXPECT_EQ(run.code, 1);
    EXPECT_TRUE(Contains(run.err, fifo + " is a named pipe")) << run.err;
    EXPECT_EQ(ReadFile(project), before);
    EXPECT_TRUE(Entries(folder, "~nb").empty());

    // extract into a pipe
    ASSERT_EQ(Compile(folder + "ok.scr").code, 0);
    CliResult extract = Cli({"extract", folder + "ok.scr", fifo});
    EXPECT_EQ(extract.code, 1);
    EXPECT_TRUE(Contains(extract.err, fifo + ": it is a named pipe")) << extract.err;
    EXPECT_TRUE(fs::is_fifo(fifo));

    if (geteuid() != 0) GTEST_SKIP() << "character devices can be made only as root";
    const std::string device = folder + "mynull";
    ASSERT_EQ(mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
    CliResult onDevice = Compile(device);
    EXPECT_EQ(onDevice.code, 1);
    EXPECT_TRUE(Contains(onDevice.err, device + " is a character device")) << onDevice.err;
    struct stat info {};
    ASSERT_EQ(lstat(device.c_str(), &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode));
}

TEST_F(OutputEdges, PlayersAndIconsThatAreNoProgramsOrFilesAreRefusedByName) {
    const std::string stub = stubs + "/stub.bin";
    const std::string output = folder + "out.scr";
    auto expectRefused = [&](const std::string& what) {
        CliResult run = Compile(output);
        EXPECT_EQ(run.code, 1) << what;
        EXPECT_TRUE(Contains(run.err, stub)) << what << ": " << run.err;
        EXPECT_TRUE(Contains(run.err, what)) << run.err;
        EXPECT_FALSE(fs::exists(output));
        EXPECT_TRUE(Entries(folder, "~nb").empty());
    };
    WriteFile(stub, "");
    expectRefused("is empty");
    WriteFile(stub, "#!/bin/sh\necho not a player\n");
    expectRefused("not a Windows program");
    fs::remove(stub);
    ASSERT_EQ(mkfifo(stub.c_str(), 0600), 0);
    expectRefused("is a named pipe");
    fs::remove(stub);
    fs::create_symlink("/dev/zero", stub);
    expectRefused("is a link to a character device");
    fs::remove(stub);
    WriteFile(stub, "MZ stand-in player");

    // An icon that is a pipe would hang the build.
    const std::string icon = folder + "icon.ico";
    ASSERT_EQ(mkfifo(icon.c_str(), 0600), 0);
    values.slideShow.changeIcon = true;
    values.slideShow.iconFile = icon;
    project::SaveProject(project, values);
    CliResult run = Compile(output);
    EXPECT_EQ(run.code, 1);
    EXPECT_TRUE(Contains(run.err, "The icon file " + icon + " is a named pipe")) << run.err;
    EXPECT_FALSE(fs::exists(output));
}

TEST_F(OutputEdges, AProjectNamedFromAnotherFolderFindsItsOutputOnce) {
    fs::create_directories(folder + "sub");
    const std::string inSub = folder + "sub/x.nssp";
    project::ProjectValues sub = values;
    project::SaveProject(inSub, sub);
    const fs::path here = fs::current_path();
    fs::current_path(folder);
    CliResult run = Cli({"compile", "--stub-dir", stubs, "sub/x.nssp"});
    // The Output filled in is read relative to the project, as from inside sub/.
    const std::string saved = ReadFile(inSub);
    sub.slideShow.output = "gone/r.scr";
    project::SaveProject(inSub, sub);
    CliResult missing = Cli({"compile", "--stub-dir", stubs, "sub/x.nssp"});
    fs::current_path(here);
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(fs::exists(folder + "sub/x.scr"));
    EXPECT_FALSE(fs::exists(folder + "sub/sub"));
    EXPECT_TRUE(Contains(saved, "Output=x.scr\r\n")) << saved;
    EXPECT_EQ(missing.code, 1);
    EXPECT_TRUE(Contains(missing.err, "Cannot create file sub/gone/r.scr: the folder sub/gone/ does not exist"))
        << missing.err;
}

TEST_F(OutputEdges, AFullDiskNamesTheFileAndTheSpace) {
    // Write failures in words, whatever the disk.
    const std::string file = folder + "x.scr";
    EXPECT_TRUE(Contains(platform::WriteFailureMessage(file, ENOSPC, 35 << 20),
                         "Cannot write " + file + ": the disk holding " + folder))
        << platform::WriteFailureMessage(file, ENOSPC, 35 << 20);
    EXPECT_TRUE(Contains(platform::WriteFailureMessage(file, ENOSPC, 35 << 20), ": 35 MB needed, "));
    EXPECT_TRUE(Contains(platform::WriteFailureMessage(file, EFBIG), "largest file size"));
    EXPECT_EQ(platform::SizeInWords(1536 * 1024), "1.5 MB");
    EXPECT_EQ(platform::SizeInWords(20 << 20), "20 MB");

    if (geteuid() != 0) GTEST_SKIP() << "a small disk (tmpfs) can be mounted only as root";
    const std::string small = folder + "small";
    fs::create_directories(small);
    if (mount("tmpfs", small.c_str(), "tmpfs", 0, "size=1m") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    struct Unmount {
        std::string at;
        ~Unmount() { umount2(at.c_str(), MNT_DETACH); }
    } unmount{small};
    AddPictures(3, 1 << 20);  // random bytes: the archive cannot be smaller than they are
    const std::string output = small + "/out.scr";
    WriteFile(output, "the previous screensaver");
    CliResult run = Compile(output);
    EXPECT_EQ(run.code, 1);
    EXPECT_TRUE(Contains(run.err, "Cannot write " + output + ": the disk holding " + small + "/ is full: "))
        << run.err;
    EXPECT_TRUE(Contains(run.err, " MB needed, ")) << run.err;
    EXPECT_FALSE(Contains(run.err, "stub.bin")) << run.err;
    EXPECT_EQ(ReadFile(output), "the previous screensaver");
    EXPECT_TRUE(Entries(small, "~nb").empty());
}

TEST_F(OutputEdges, AFileSizeLimitIsAnErrorWithNothingLeft) {
    AddPictures(2, 1 << 20);
    const std::string output = folder + "out.scr";
    WriteFile(output, "the previous screensaver");
    const std::string errors = folder + "tmp/errors.txt";
    pid_t child = Spawn({"compile", "--stub-dir", stubs, "-o", output, project}, folder + "tmp", [&] {
        int file = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(file, 2);
        struct rlimit limit {512 * 1024, 512 * 1024};
        setrlimit(RLIMIT_FSIZE, &limit);
    });
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(ReadFile(output), "the previous screensaver");
    EXPECT_TRUE(Entries(folder, "~nb").empty());
    EXPECT_TRUE(Entries(folder + "tmp", "nimbrel").empty());
    const std::string said = ReadFile(errors);
    EXPECT_TRUE(Contains(said, "Cannot write " + output + ": the file would pass the largest file size")) << said;
}

TEST_F(OutputEdges, InterruptsCleanUpAndLaterBuildsRemoveWhatKilledOnesLeft) {
    // Large enough that the archive is still being written when the signal comes.
    AddPictures(6, 8 << 20);
    const std::string output = folder + "out.scr";
    WriteFile(output, "the previous screensaver");
    const std::string tmp = folder + "tmp";
    const std::vector<std::string> args{"compile", "--stub-dir", stubs, "-q", "-o", output, project};
    auto startAndWait = [&] {
        pid_t child = Spawn(args, tmp);
        // Until the work folder and the half-made screensaver are there.
        for (int i = 0; i < 2000 && (Entries(folder, "~nb").empty() || Entries(tmp, "nimbrel-build").empty()); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return child;
    };
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        pid_t child = startAndWait();
        ASSERT_FALSE(Entries(folder, "~nb").empty()) << "the build ended before it could be interrupted";
        kill(child, signal);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the build ended before the signal came";
        EXPECT_EQ(WTERMSIG(status), signal);
        EXPECT_EQ(Entries(folder, "~nb"), std::vector<std::string>{}) << strsignal(signal);
        EXPECT_EQ(Entries(tmp, "nimbrel"), std::vector<std::string>{}) << strsignal(signal);
        EXPECT_EQ(ReadFile(output), "the previous screensaver");
    }

    // kill -9 cannot be caught: the next build removes what it left, and nothing of a live one.
    pid_t killed = startAndWait();
    kill(killed, SIGKILL);
    waitpid(killed, nullptr, 0);
    const std::vector<std::string> left = Entries(folder, "~nb");
    EXPECT_FALSE(left.empty());
    EXPECT_FALSE(Entries(tmp, "nimbrel").empty());
    WriteFile(folder + "~nb1-ABCD.tmp", "a live process's");  // process 1 always runs
    pid_t next = Spawn(args, tmp);
    int status = 0;
    ASSERT_EQ(waitpid(next, &status, 0), next);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(Entries(folder, "~nb"), std::vector<std::string>{"~nb1-ABCD.tmp"});
    EXPECT_TRUE(Entries(tmp, "nimbrel").empty());
    archive::ArchiveReader reader = archive::ArchiveReader::FromFile(output);
    EXPECT_TRUE(reader.VerifyArchiveCrc());
}

#ifdef NIMBREL_HAVE_TEST_PICTURES
TEST_F(OutputEdges, StoreCompressedKeepsCompressedPicturesAsTheyAreAndIsSavedOnlyWhenUsed) {
    // A photo with a long compressible tail (decoders stop at its end), and a text file.
    imaging::Image image(64, 48);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x) image.Row(y)[x] = imaging::MakePixel(static_cast<std::uint8_t>(x * 4), static_cast<std::uint8_t>(y * 5), 128);
    std::vector<std::uint8_t> jpeg = codecs::EncodeJpeg(image);
    jpeg.resize(jpeg.size() + 200000, 0);
    values.files = {folder + "photo.jpg", folder + "notes.txt"};
    WriteFile(values.files[0], std::string(jpeg.begin(), jpeg.end()));
    WriteFile(values.files[1], TextBytes(200000));
    project::SaveProject(project, values);
    const std::string before = ReadFile(project);
    EXPECT_FALSE(Contains(before, "[Pictures]"));

    auto stored = [&](const std::string& scr) {
        std::vector<bool> flags;
        archive::ArchiveReader reader = archive::ArchiveReader::FromFile(scr);
        EXPECT_TRUE(reader.VerifyArchiveCrc());
        for (const auto& m : reader.Members()) flags.push_back(m.stored);
        return flags;
    };
    ASSERT_EQ(Compile(folder + "plain.scr").code, 0);
    ASSERT_EQ(Compile(folder + "fast.scr", {"--store-compressed"}).code, 0);
    EXPECT_EQ(stored(folder + "plain.scr"), (std::vector<bool>{false, false, false, false}));
    EXPECT_EQ(stored(folder + "fast.scr"), (std::vector<bool>{false, false, true, false}));
    EXPECT_EQ(archive::ArchiveReader::FromFile(folder + "fast.scr").Extract(2),
              std::string(jpeg.begin(), jpeg.end()));
    EXPECT_EQ(ReadFile(project), before);  // the option was for that build only

    // In the project: read back, written alone, and kept once turned off.
    values.slideShow.storeCompressed = true;
    project::SaveProject(project, values);
    const std::string on = ReadFile(project);
    EXPECT_TRUE(Contains(on, "[Pictures]\r\nStoreCompressed=1\r\n")) << on;
    EXPECT_FALSE(Contains(on, "Fit=")) << on;
    EXPECT_TRUE(project::LoadProject(project).slideShow.storeCompressed);
    ASSERT_EQ(Compile("").code, 0);
    EXPECT_EQ(stored(folder + "Show.scr"), (std::vector<bool>{false, false, true, false}));
    values.slideShow.storeCompressed = false;
    project::SaveProject(project, values);
    EXPECT_TRUE(Contains(ReadFile(project), "StoreCompressed=0\r\n"));
    EXPECT_FALSE(project::LoadProject(project).slideShow.storeCompressed);
}
#endif

// File modes do not stop root: run as root, the real program runs here as the user "nobody",
// which owns the test's folder.
TEST_F(OutputEdges, APictureInALockedFolderAndAReadOnlyProjectAreNamed) {
    uid_t uid = geteuid();
    gid_t gid = getegid();
    if (uid == 0) {
        const passwd* nobody = getpwnam("nobody");
        if (nobody == nullptr) GTEST_SKIP() << "there is no user \"nobody\" to run the program as";
        uid = nobody->pw_uid;
        gid = nobody->pw_gid;
    }
    const std::string locked = folder + "locked/";
    fs::create_directories(locked);
    WriteFile(locked + "hidden.bmp", "not seen");
    values.files.push_back(locked + "hidden.bmp");
    project::SaveProject(project, values);
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        ASSERT_EQ(lchown(entry.path().c_str(), uid, gid), 0) << entry.path();
    ASSERT_EQ(chown(folder.c_str(), uid, gid), 0);
    ASSERT_EQ(chmod(locked.c_str(), 0), 0);
    ASSERT_EQ(chmod(project.c_str(), 0444), 0);
    struct Unlock {
        std::string path;
        ~Unlock() { chmod(path.c_str(), 0700); }
    } unlock{locked};
    const std::string errors = folder + "tmp/errors.txt";
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"compile", "--stub-dir", stubs});
        pid_t child = Spawn(args, folder + "tmp", [&] {
            int file = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(file, 2);
            setenv("HOME", folder.c_str(), 1);
            setenv("XDG_CONFIG_HOME", (folder + "tmp").c_str(), 1);
            if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0)) _exit(126);
            if (access(folder.c_str(), W_OK | X_OK) != 0) _exit(125);
        });
        int status = 0;
        waitpid(child, &status, 0);
        return std::make_pair(WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(errors));
    };

    // Left out, saying which folder keeps it from the build.
    auto [code, said] = run({"-o", folder + "out.scr", project});
    if (code == 126) GTEST_SKIP() << "the program cannot be run as the user \"nobody\" here";
    if (code == 125) GTEST_SKIP() << "the user \"nobody\" cannot reach the test's folder " << folder;
    EXPECT_EQ(code, 0) << said;
    EXPECT_TRUE(Contains(said, locked + "hidden.bmp cannot be found: the folder " + folder + "locked cannot be opened "
                                        "(permission denied)"))
        << said;
    // The project must be saved before a build that writes its own output: it is named.
    std::tie(code, said) = run({project});
    EXPECT_EQ(code, 1) << said;
    EXPECT_TRUE(Contains(said, "Cannot save the project " + project + ": File access denied")) << said;
}

TEST(Leftovers, OnlyThoseOfGoneProcessesAreRemoved) {
    platform::TempDirectory dir{"leftovers"};
    pid_t gone = fork();
    if (gone == 0) _exit(0);
    waitpid(gone, nullptr, 0);
    const std::string id = std::to_string(gone);
    const std::string own = std::to_string(getpid());
    WriteFile(dir.File("~nb" + id + "-1A2B.tmp"), "x");
    WriteFile(dir.File("nimbrel-build" + id + "-1A2B.tmp"), "");
    fs::create_directories(dir.File("nimbrel-build" + id + "-1A2B.tmp.d/pictures"));
    WriteFile(dir.File("~nb" + own + "-1A2B.tmp"), "ours");
    WriteFile(dir.File("~nb1-1A2B.tmp"), "process 1's");
    WriteFile(dir.File("~nb" + id + "-notes.txt"), "not a name we make");
    WriteFile(dir.File("~nbfoo-1A2B.tmp"), "not a name we make");
    EXPECT_EQ(platform::RemoveLeftoversOfGoneProcesses(dir.Path(), "~nb"), 1);
    EXPECT_EQ(platform::RemoveLeftoversOfGoneProcesses(dir.Path(), "nimbrel-build"), 2);
    EXPECT_EQ(Entries(dir.Path(), "~nb").size(), 4u);
    EXPECT_TRUE(Entries(dir.Path(), "nimbrel-build").empty());
}

#endif  // !_WIN32
