#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/safe_create.h"
#include "platform/temp.h"

using namespace nimbrel::platform;

TEST(Paths, SplitsDirectoryNameAndExtension) {
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
    EXPECT_EQ(JoinPath("/w", "About.cfg"), "/w/About.cfg");
    EXPECT_EQ(WithTrailingSeparator("/tmp//"), "/tmp/");
}

TEST(Paths, TempAndExecutableDirectoriesEndInOneSeparator) {
    std::string temp = GetTempDirectory();
    ASSERT_FALSE(temp.empty());
    EXPECT_EQ(temp.back(), kSeparator);
    std::string exe = ExecutableDirectory();
    EXPECT_EQ(exe.back(), kSeparator);
    EXPECT_TRUE(FileExists(exe + "platform_tests"));
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

TEST(IoErrors, EveryFailureIsToldInWords) {
    EXPECT_EQ(IoErrorMessage(ENOENT), "File not found");
    EXPECT_EQ(IoErrorMessage(ENAMETOOLONG), "File name too long");
    EXPECT_EQ(IoErrorMessage(EISDIR), "Is a directory");
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

    if (geteuid() != 0) {  // root writes through permission bits
        chmod(path.c_str(), 0444);
        try {
            WriteFileAtomically(path, "third");
            ADD_FAILURE() << "a read-only file was replaced";
        } catch (const nimbrel::Error& e) {
            EXPECT_STREQ(e.what(), "File access denied");
        }
        EXPECT_EQ(ReadWholeFile(path), "second\r\n");
    }
    EXPECT_THROW(ReadWholeFile(dir.File("missing")), nimbrel::Error);
    EXPECT_THROW(WriteFileAtomically(dir.File("no/such/dir/x"), "x"), nimbrel::Error);
}
