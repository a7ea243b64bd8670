#include <gtest/gtest.h>

#include <filesystem>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/paths.h"
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
        {
            TempFile owned(a);
        }
        EXPECT_FALSE(FileExists(a));
        EXPECT_TRUE(FileExists(b));
    }
    EXPECT_FALSE(DirectoryExists(dirPath));
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
