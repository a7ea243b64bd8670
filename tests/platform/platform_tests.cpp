#include <fcntl.h>
#include <gtest/gtest.h>
#ifdef __linux__
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/safe_create.h"
#include "platform/temp.h"
#include "support/test_system.h"

using namespace nimbrel::platform;

TEST(Paths, SplitsDirectoryNameAndExtension) {
    // "/" separates on both systems; the separator a join adds is the system's own.
    const std::string sep(1, kSeparator);
    EXPECT_EQ(DirectoryPart("/a/b/c.nssp"), "/a/b/");
    EXPECT_EQ(FileNamePart("/a/b/c.nssp"), "c.nssp");
    EXPECT_EQ(DirectoryPart("c.nssp"), "");
    EXPECT_EQ(DirectoryPart("/Show.nssp"), "/");
    EXPECT_EQ(ExtensionPart("/a.b/README"), "");
    EXPECT_EQ(ExtensionPart("/x/photo.JPG"), ".JPG");
    EXPECT_EQ(ChangeExtension("/w/Show.nssp", ".scr"), "/w/Show.scr");
    EXPECT_EQ(ChangeExtension("/w.d/Show", ".scr"), "/w.d/Show.scr");
    EXPECT_EQ(JoinPath("/", "About.cfg"), "/About.cfg");
    EXPECT_EQ(JoinPath("/w/", "About.cfg"), "/w/About.cfg");
    EXPECT_EQ(JoinPath("/w", "About.cfg"), "/w" + sep + "About.cfg");
    EXPECT_EQ(WithTrailingSeparator("/tmp//"), "/tmp" + sep);

    // Backslashes and drive letters are path syntax on Windows only; elsewhere they are
    // characters of a file name.
#ifdef _WIN32
    EXPECT_EQ(DirectoryPart("C:\\Pics\\a.b\\README"), "C:\\Pics\\a.b\\");
    EXPECT_EQ(ExtensionPart("C:\\Pics\\a.b\\README"), "");
    EXPECT_EQ(DirectoryPart("C:Show.nssp"), "C:");
    EXPECT_EQ(FileNamePart("C:Show.nssp"), "Show.nssp");
    EXPECT_EQ(JoinPath("C:\\Saves/", "\\Lake.scr"), "C:\\Saves/Lake.scr");
    EXPECT_EQ(WithTrailingSeparator("C:\\Saves/\\"), "C:\\Saves\\");
#else
    EXPECT_EQ(DirectoryPart("C:\\Pics\\a.b\\README"), "");
    EXPECT_EQ(ExtensionPart("C:\\Pics\\a.b\\README"), ".b\\README");
    EXPECT_EQ(DirectoryPart("C:Show.nssp"), "");
    EXPECT_EQ(JoinPath("/Saves", "\\Lake.scr"), "/Saves/\\Lake.scr");
#endif
}

TEST(Paths, TempAndExecutableDirectoriesEndInOneSeparator) {
    std::string temp = GetTempDirectory();
    ASSERT_FALSE(temp.empty());
    EXPECT_EQ(temp.back(), kSeparator);
    std::string exe = ExecutableDirectory();
    EXPECT_EQ(exe.back(), kSeparator);
#ifdef _WIN32
    EXPECT_TRUE(FileExists(exe + "platform_tests.exe"));
#else
    EXPECT_TRUE(FileExists(exe + "platform_tests"));
#endif
}

TEST(TempFiles, UniqueNamesAndCleanup) {
    std::string dirPath;
    {
        TempDirectory dir("nbtest");
        dirPath = dir.Path();
        ASSERT_TRUE(DirectoryExists(dirPath));
        std::string a = MakeUniqueTempFile(dirPath, "ZLB");
        std::string b = MakeUniqueTempFile(dirPath, "ZLB");
        EXPECT_NE(a, b);
        EXPECT_EQ(FileSize(a), 0);
        EXPECT_EQ(FileNamePart(a).substr(0, 3), "ZLB");
        { TempFile owned(a); }
        EXPECT_FALSE(FileExists(a));
        EXPECT_TRUE(FileExists(b));
    }
    EXPECT_FALSE(DirectoryExists(dirPath));
}

#ifndef _WIN32  // modes and symbolic links are POSIX matters
TEST(TempFiles, PrivateFoldersAreTheOwnersAloneAndNewFilesFollowNoLink) {
    auto mode = [](const std::string& path) {
        struct stat info {};
        EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
        return info.st_mode & 07777;
    };
    std::string mine = PrivateTempDirectory();
    EXPECT_EQ(mine, PrivateTempDirectory());
    EXPECT_EQ(DirectoryPart(mine.substr(0, mine.size() - 1)), GetTempDirectory());
    EXPECT_EQ(mode(mine), 0700u);
    TempDirectory dir("nbtest");
    EXPECT_EQ(mode(dir.Path()), 0700u);

    // A name taken by a link, dangling or not, is never opened through it.
    std::string victim = dir.File("victim");
    WriteFileAtomically(victim, "mine");
    std::filesystem::create_symlink(victim, dir.File("to-victim"));
    std::filesystem::create_symlink(dir.File("nowhere"), dir.File("dangling"));
    for (const char* name : {"to-victim", "dangling", "victim"}) {
        int error = 0;
        EXPECT_EQ(CreateNewFile(dir.File(name), error), nullptr) << name;
        EXPECT_EQ(error, EEXIST) << name;
        EXPECT_TRUE(EntryExists(dir.File(name)));
    }
    EXPECT_EQ(ReadWholeFile(victim), "mine");
    EXPECT_FALSE(EntryExists(dir.File("nowhere")));
    EXPECT_TRUE(IsLinkOrReparsePoint(dir.File("dangling")));
    EXPECT_FALSE(IsLinkOrReparsePoint(victim));
    int error = 0;
    std::FILE* fresh = CreateNewFile(dir.File("fresh"), error);
    ASSERT_NE(fresh, nullptr);
    std::fputs("new", fresh);
    std::fclose(fresh);
    EXPECT_EQ(ReadWholeFile(dir.File("fresh")), "new");
}

TEST(TempFiles, AnInterruptRemovesWhatLivesAndWhatOtherThreadsMakeAfterIt) {
    // In a child: after the clean-up the process may make nothing that outlives it. The folder
    // is no TempDirectory, which the child's clean-up would take along.
    const std::string outer = GetTempDirectory() + "nbinterrupt" + std::to_string(getpid()) + "/";
    std::filesystem::create_directories(outer);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int faults = 0;
        TempDirectory work("nbtest");
        TempFile held(MakeUniqueTempFile(work.Path(), "held"));
        // Made, and not yet in a TempFile: a thread between the two when the signal comes.
        const std::string bare = MakeUniqueTempFile(outer, "bare");
        RemoveLiveTemporaries();
        if (DirectoryExists(work.Path()) || FileExists(held.Path())) faults |= 1;
        if (FileExists(bare)) faults |= 2;
        try {
            MakeUniqueTempFile(outer, "late");
            faults |= 4;
        } catch (const nimbrel::Error&) {
        }
        try {
            TempDirectory late("nbtest");
            faults |= 8;
        } catch (const nimbrel::Error&) {
        }
        std::fclose(std::fopen((outer + "by-hand").c_str(), "wb"));  // made before a TempFile takes it
        TempFile late(outer + "by-hand");
        if (FileExists(late.Path())) faults |= 16;
        _exit(faults);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0)
        << "faults (bits) 1: lived on, 2: made bare, 4/8: made later, 16: taken later";
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(outer))
        left.push_back(entry.path().string());
    EXPECT_TRUE(left.empty()) << left.front();
    std::filesystem::remove_all(outer);
}

#endif

TEST(IoErrors, EveryFailureIsToldInWords) {
    EXPECT_EQ(IoErrorMessage(ENOENT), "File not found");
    for (int error : {ENAMETOOLONG, EISDIR, EINVAL}) {
        EXPECT_EQ(IoErrorMessage(error).find("I/O error"), std::string::npos) << error;
        EXPECT_FALSE(IoErrorMessage(error).empty()) << error;
    }
#ifndef _WIN32
    EXPECT_EQ(IoErrorMessage(ENAMETOOLONG), "File name too long");
#endif
}

TEST(AtomicWrite, ReplacesContentAndKeepsOldOnFailure) {
    TempDirectory dir("nbtest");
    std::string path = dir.File("p.nssp");
    WriteFileAtomically(path, "first");
    WriteFileAtomically(path, "second\r\n");
    EXPECT_EQ(ReadWholeFile(path), "second\r\n");
    // Nothing but the target is left in the folder.
    int count = 0;
    for (auto& entry : std::filesystem::directory_iterator(dir.Path())) {
        (void)entry;
        ++count;
    }
    EXPECT_EQ(count, 1);

    // Root writes through permission bits (also under wine, where the read-only attribute becomes one).
    if (nimbrel::testing::ReadOnlyMarksBind()) {
        ASSERT_TRUE(nimbrel::testing::SetReadOnly(path, true));
        try {
            WriteFileAtomically(path, "third");
            ADD_FAILURE() << "a read-only file was replaced";
        } catch (const nimbrel::Error& e) {
            EXPECT_STREQ(e.what(), "File access denied");
        }
        EXPECT_EQ(ReadWholeFile(path), "second\r\n");
        nimbrel::testing::SetReadOnly(path, false);  // so that the folder can go
    }
    EXPECT_THROW(ReadWholeFile(dir.File("missing")), nimbrel::Error);
    EXPECT_THROW(WriteFileAtomically(dir.File("no/such/dir/x"), "x"), nimbrel::Error);
}

#ifndef _WIN32
namespace {

mode_t ModeOf(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

// Makes a folder refuse new files: read-only for an ordinary user, immutable for root (whom
// permission bits do not stop). False when neither can be done here.
bool LockFolder(const std::string& folder, bool lock) {
    if (geteuid() != 0) return chmod(folder.c_str(), lock ? 0500 : 0700) == 0;
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return false;
    int flags = 0;
    bool ok = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = lock ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    close(fd);
    return ok;
}

}  // namespace
#endif

TEST(AtomicWrite, KeepsModeAndWritesThroughLinksToTheRealFile) {
#ifdef _WIN32
    GTEST_SKIP()
        << "pipes, devices, file modes and links are POSIX's: the Windows cases are in the win32 tests";
#else
    TempDirectory dir("nbtest");
    std::string path = dir.File("p.nssp");
    WriteFileAtomically(path, "new");
    mode_t mask = umask(022);
    umask(mask);
    EXPECT_EQ(ModeOf(path), 0666 & ~mask);
    for (mode_t mode : {0600, 0640, 0604}) {
        chmod(path.c_str(), mode);
        WriteFileAtomically(path, "again");
        EXPECT_EQ(ModeOf(path), mode);
    }

    // A symbolic link (relative, from another folder) stays a link; the file it names changes.
    std::filesystem::create_directory(dir.File("elsewhere"));
    std::filesystem::create_symlink("../p.nssp", dir.File("elsewhere/link.nssp"));
    WriteFileAtomically(dir.File("elsewhere/link.nssp"), "through the link");
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("elsewhere/link.nssp")));
    EXPECT_EQ(ReadWholeFile(path), "through the link");
    EXPECT_EQ(ModeOf(path), 0604u);
    // A link to a file not made yet makes that file.
    std::filesystem::create_symlink("later.nssp", dir.File("dangling.nssp"));
    WriteFileAtomically(dir.File("dangling.nssp"), "made");
    EXPECT_EQ(ReadWholeFile(dir.File("later.nssp")), "made");
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("dangling.nssp")));

    // A hard link keeps sharing the file, whether the content grows or shrinks.
    std::filesystem::create_hard_link(path, dir.File("hard.nssp"));
    for (std::string content : {std::string(100000, 'g'), std::string("short")}) {
        WriteFileAtomically(dir.File("hard.nssp"), content);
        EXPECT_EQ(ReadWholeFile(path), content);
        EXPECT_EQ(std::filesystem::hard_link_count(path), 2u);
    }

    // A pipe is refused at once instead of waiting for a reader.
    ASSERT_EQ(mkfifo(dir.File("pipe").c_str(), 0600), 0);
    try {
        WriteFileAtomically(dir.File("pipe"), "x");
        ADD_FAILURE() << "wrote into a pipe";
    } catch (const nimbrel::Error& e) {
        EXPECT_EQ(std::string(e.what()), dir.File("pipe") + " is not a regular file");
    }
    EXPECT_THROW(ReadWholeFile(dir.File("pipe")), nimbrel::Error);
#endif
}

TEST(AtomicWrite, AFolderThatTakesNoNewFileIsWrittenInPlace) {
#ifdef _WIN32
    GTEST_SKIP()
        << "pipes, devices, file modes and links are POSIX's: the Windows cases are in the win32 tests";
#else
    TempDirectory dir("nbtest");
    std::string folder = dir.File("locked");
    std::filesystem::create_directory(folder);
    std::string path = folder + "/p.nssp";
    WriteFileAtomically(path, "before");
    chmod(path.c_str(), 0620);
    if (!LockFolder(folder, true)) GTEST_SKIP() << "no way to lock a folder here";
    bool locked = true;
    try {
        WriteFileAtomically(path, "after, and longer than before");
        EXPECT_EQ(ReadWholeFile(path), "after, and longer than before");
        WriteFileAtomically(path, "short");
        EXPECT_EQ(ReadWholeFile(path), "short");
        EXPECT_EQ(ModeOf(path), 0620u);
        // A new file still cannot be made there, and says so.
        try {
            WriteFileAtomically(folder + "/new.nssp", "x");
            ADD_FAILURE() << "made a file in a locked folder";
        } catch (const nimbrel::Error& e) {
            EXPECT_STREQ(e.what(), "File access denied");
        }
    } catch (...) {
        locked = !LockFolder(folder, false);
        throw;
    }
    if (locked) LockFolder(folder, false);
    int count = 0;
    for (auto& entry : std::filesystem::directory_iterator(folder)) {
        (void)entry;
        ++count;
    }
    EXPECT_EQ(count, 1);
#endif
}

TEST(Files, KindsAndSameFile) {
#ifdef _WIN32
    GTEST_SKIP()
        << "pipes, devices, file modes and links are POSIX's: the Windows cases are in the win32 tests";
#else
    TempDirectory dir("nbtest");
    WriteFileAtomically(dir.File("a"), "a");
    EXPECT_EQ(KindOfFile(dir.File("a")), FileKind::Regular);
    EXPECT_EQ(KindOfFile(dir.File("missing")), FileKind::Missing);
    EXPECT_EQ(KindOfFile(dir.Path()), FileKind::Directory);
    EXPECT_EQ(KindOfFile("/dev/null"), FileKind::Other);
    std::filesystem::create_symlink(dir.File("a"), dir.File("link"));
    std::filesystem::create_hard_link(dir.File("a"), dir.File("hard"));
    EXPECT_TRUE(SameFile(dir.File("a"), dir.File("link")));
    EXPECT_TRUE(SameFile(dir.File("a"), dir.File("hard")));
    EXPECT_TRUE(SameFile(dir.File("a"), dir.Path() + "./x/../a"));
    EXPECT_TRUE(SameFile(dir.File("new.scr"), dir.Path() + "x/../new.scr"));  // neither exists
    EXPECT_FALSE(SameFile(dir.File("a"), dir.File("b")));
    EXPECT_FALSE(SameFile(dir.File("a"), ""));
#endif
}
