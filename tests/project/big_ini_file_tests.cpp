#include "project/big_ini_file.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/temp.h"
#include "support/test_system.h"
#include "test_files.h"

using namespace nimbrel;
using namespace nimbrel::project;
using nimbrel::project::testing::ReadBytes;
using nimbrel::project::testing::WriteBytes;
using Lines = std::vector<std::string>;

TEST(BigIniReading, LineEndsCtrlZAndLongLines) {
    std::string longLine = "Long=" + std::string(300, 'v');
    auto ini = TBigIniFile::FromBytes(
        "dropped before any section\r\n"
        "[A]\r\n"
        "cr=1\r"           // CR alone ends a line
        "crlf=2\r\n"       // the LF after it is skipped
        "lf=3\nstill=3\r"  // an LF alone stays inside the line
        "\r\n\r\n" +       // empty lines are dropped
        longLine +
        "\r\n"
        "after=4\r\n"
        "no equals sign\r\n"
        "; comment=5\r\n"
        " spaced = 6 \r\n"
        "end=7\x1A"
        "[B]\r\nlost=8\r\n");
    EXPECT_EQ(ini.SectionNames(), Lines{"A"});
    EXPECT_EQ(ini.SectionLines("A"),
              (Lines{"cr=1", "crlf=2", "lf=3\nstill=3", longLine.substr(0, 255), "after=4", "no equals sign",
                     "; comment=5", " spaced = 6 ", "end=7"}));
    EXPECT_EQ(ini.ReadString("A", "lf", ""), "3\nstill=3");
    EXPECT_EQ(ini.ReadString("A", "Long", "").size(), 250u);
    EXPECT_EQ(ini.ReadString("A", " spaced ", ""), " 6 ");
    EXPECT_EQ(ini.ReadString("A", "spaced", "none"), "none");
    EXPECT_EQ(ini.ReadString("A", "; comment", ""), "5");
    EXPECT_EQ(ini.ReadString("B", "lost", "none"), "none");
    EXPECT_FALSE(ini.Modified());
}

TEST(BigIniReading, FilesWithoutAnyCrEndTheirLinesAtLf) {
    // What editors on Linux write: read line by line, written back with CR LF.
    auto ini = TBigIniFile::FromBytes(
        "junk\n[Header]\nNumber=2\n\nType=0\n[Files]\n0=a b.jpg\n1=c.jpg\x1A\n[Lost]\n");
    EXPECT_EQ(ini.SectionNames(), (Lines{"Header", "Files"}));
    EXPECT_EQ(ini.ReadInteger("Header", "Number", 0), 2);
    EXPECT_EQ(ini.ReadString("Files", "0", ""), "a b.jpg");
    EXPECT_EQ(ini.ReadString("Files", "1", ""), "c.jpg");
    EXPECT_EQ(ini.Content(), "[Header]\r\nNumber=2\r\nType=0\r\n\r\n[Files]\r\n0=a b.jpg\r\n1=c.jpg\r\n\r\n");
    // A single CR anywhere keeps the CR rule for the whole file: the LFs stay inside the line.
    auto mixed = TBigIniFile::FromBytes("[Header]\nNumber=2\r\n");
    EXPECT_TRUE(mixed.SectionNames().empty());
    auto last = TBigIniFile::FromBytes("[Header]\nNumber=2\nName=x\r");
    EXPECT_TRUE(last.SectionNames().empty());
}

TEST(BigIniReading, SectionHeadersAndCase) {
    auto ini = TBigIniFile::FromBytes(
        "[ Spaced ]\r\nk=1\r\n[]\r\nempty=2\r\n[x\r\nnot=header\r\n[OPTIONS]\r\nKey=first\r\nkey=second\r\n");
    EXPECT_EQ(ini.SectionNames(), (Lines{" Spaced ", "", "OPTIONS"}));
    EXPECT_EQ(ini.ReadString(" spaced ", "K", ""), "1");
    EXPECT_EQ(ini.ReadString("Spaced", "k", "none"), "none");
    EXPECT_EQ(ini.ReadString("", "empty", ""), "2");
    EXPECT_EQ(ini.ReadString("", "not", ""), "header");  // "[x" is an ordinary line
    // The first matching line wins for reading and for writing; the later one is left alone.
    EXPECT_EQ(ini.ReadString("options", "KEY", ""), "first");
    ini.WriteString("Options", "key", "new");
    EXPECT_EQ(ini.SectionLines("options"), (Lines{"key=new", "key=second"}));
}

TEST(BigIniReading, NumberedKeysTakeTheFirstLineOfEachNumber) {
    // Read in one pass over the lines: the same lines a lookup by key finds, also once the
    // section has been written to.
    auto ini = TBigIniFile::FromBytes("[Files]\r\n2=two\r\n0=zero\r\n2=again\r\n01=padded\r\nnone\r\n"
                                      "4=\r\n9=beyond\r\n");
    EXPECT_EQ(ini.HighestNumberedKey("FILES"), 9);
    EXPECT_EQ(ini.NumberedValues("files", 5), (Lines{"zero", "", "two", "", ""}));
    EXPECT_EQ(ini.ReadString("Files", "2", ""), "two");
    ini.WriteString("Files", "1", "one");
    ini.WriteString("Files", "2", "new");
    EXPECT_EQ(ini.NumberedValues("Files", 3), (Lines{"zero", "one", "new"}));
    EXPECT_EQ(ini.ReadString("Files", "1", ""), "one");
    EXPECT_EQ(ini.HighestNumberedKey("Other"), -1);
}

TEST(BigIniReading, RepeatedSectionsAreDiscardedWithTheirLines) {
    auto ini = TBigIniFile::FromBytes("[A]\r\na=1\r\n[B]\r\nb=1\r\n[a]\r\na=2\r\nextra\r\n[C]\r\nc=1\r\n");
    EXPECT_TRUE(ini.Modified());
    EXPECT_EQ(ini.SectionNames(), (Lines{"A", "B", "C"}));
    EXPECT_EQ(ini.ReadString("A", "a", ""), "1");
    EXPECT_EQ(ini.Content(), "[A]\r\na=1\r\n\r\n[B]\r\nb=1\r\n\r\n[C]\r\nc=1\r\n\r\n");
}

TEST(BigIniReading, Integers) {
    struct Case {
        const char* text;
        std::int32_t expected;  // 99 is the default
    };
    const Case cases[] = {
        {"12", 12},
        {"  12", 12},
        {"+7", 7},
        {"-7", -7},
        {"0x1F", 31},
        {"0X1f", 31},
        {"$1F", 31},
        {"x1F", 31},
        {"-$10", -16},
        {"2147483647", 2147483647},
        {"-2147483648", INT32_MIN},
        {"$7FFFFFFF", 2147483647},
        {"-$80000000", INT32_MIN},
        {"$FFFFFFFF", 99},  // out of the signed range, not -1
        {"-$FFFFFFFF", 99},
        {"$80000000", 99},
        {"0x80000000", 99},
        {"-$80000001", 99},
        {"", 99},
        {" ", 99},
        {"12 ", 99},
        {"fast", 99},
        {"1e3", 99},
        {"2147483648", 99},
        {"-2147483649", 99},
        {"$100000000", 99},
        {"0x", 99},
        {"$", 99},
        {"-", 99},
        {" 0x1F", 99},
        {"-0x1F", 99},
        {"\t5", 99},
        {"99999999999999999999", 99},
    };
    for (const Case& c : cases) {
        auto ini = TBigIniFile::FromBytes(std::string("[S]\r\nv=") + c.text + "\r\n");
        EXPECT_EQ(ini.ReadInteger("S", "v", 99), c.expected) << '"' << c.text << '"';
    }
    auto ini = TBigIniFile::FromBytes("[S]\r\nt=true\r\ntwo=2\r\nzero=0\r\nempty=\r\n");
    EXPECT_TRUE(ini.ReadBool("S", "t", true));
    EXPECT_FALSE(ini.ReadBool("S", "t", false));
    EXPECT_TRUE(ini.ReadBool("S", "two", false));
    EXPECT_FALSE(ini.ReadBool("S", "zero", true));
    EXPECT_TRUE(ini.ReadBool("S", "empty", true));
    EXPECT_EQ(ini.ReadString("S", "empty", "default"), "");
    EXPECT_EQ(ini.ReadString("S", "missing", "default"), "default");
    EXPECT_EQ(ini.ReadString("Missing", "t", "default"), "default");
}

TEST(BigIniWriting, ModifiedOnlyByRealChanges) {
    auto ini = TBigIniFile::FromBytes("[S]\r\nName=Value\r\nn=5\r\n");
    ini.WriteString("s", "NAME", "Value");
    EXPECT_TRUE(ini.Modified());  // "NAME=Value" differs from "Name=Value" in case
    ini.Flush();
    EXPECT_FALSE(ini.Modified());
    EXPECT_EQ(ini.SectionLines("S")[0], "NAME=Value");  // replaced in place
    ini.WriteString("S", "NAME", "Value");
    ini.WriteInteger("S", "n", 5);
    EXPECT_FALSE(ini.Modified());
    ini.WriteBool("S", "flag", true);
    ini.WriteInteger("New", "neg", -12);
    EXPECT_TRUE(ini.Modified());
    ini.WriteString("New", "long", std::string(300, 'x'));
    EXPECT_EQ(ini.SectionLines("S"), (Lines{"NAME=Value", "n=5", "flag=1"}));
    EXPECT_EQ(ini.SectionLines("New"), (Lines{"neg=-12", "long=" + std::string(250, 'x')}));
}

TEST(BigIniWriting, FlushLayoutAndKeysCutByTheLineLimit) {
    auto ini = TBigIniFile::FromBytes("[Empty]\r\n[S]\r\nplain line\r\n");
    ini.WriteString("S", "k", "v");
    ini.WriteString("T", "", "no key");
    EXPECT_EQ(ini.Content(), "[S]\r\nplain line\r\nk=v\r\n\r\n[T]\r\n=no key\r\n\r\n");

    // A key of 255 characters leaves no "=" in its cut line: it never matches, so each write appends.
    std::string key(260, 'k');
    ini.WriteString("S", key, "1");
    ini.WriteString("S", key, "2");
    EXPECT_EQ(ini.SectionLines("S").size(), 4u);
    EXPECT_EQ(ini.ReadString("S", key, "none"), "none");
}

TEST(BigIniBadInput, GarbageNulBytesAndHugeLines) {
    std::mt19937 random(12345);
    for (int round = 0; round < 20; ++round) {
        std::string garbage(64 * 1024, '\0');
        for (char& c : garbage)
            c = static_cast<char>(random() % 8 == 0 ? "[]=\r\n\x1A"[random() % 6] : random());
        auto ini = TBigIniFile::FromBytes(garbage);
        // What was read must survive a rewrite and a second read unchanged.
        auto again = TBigIniFile::FromBytes(ini.Content());
        EXPECT_EQ(again.Content(), ini.Content());
        EXPECT_FALSE(again.Modified());
    }

    static const char kNul[] = "[S\0]\r\nk\0ey=va\0lue\r\n";
    std::string nul(kNul, sizeof kNul - 1);
    auto ini = TBigIniFile::FromBytes(nul);
    EXPECT_EQ(ini.SectionNames(), Lines{std::string("S\0", 2)});
    // A value ends at its first NUL (section and key names keep theirs).
    EXPECT_EQ(ini.ReadString(std::string("s\0", 2), std::string("K\0ey", 4), ""), "va");
    EXPECT_EQ(ini.Content(), nul + "\r\n");

    std::string huge = "[S]\r\n" + std::string(10 * 1024 * 1024, 'z') + "\r\nk=1\r\n";
    auto big = TBigIniFile::FromBytes(huge);
    EXPECT_EQ(big.SectionLines("S"), (Lines{std::string(255, 'z'), "k=1"}));
    auto oneLine = TBigIniFile::FromBytes(std::string(10 * 1024 * 1024, '['));
    EXPECT_TRUE(oneLine.SectionNames().empty());
}

TEST(BigIniFiles, FlushWritesOnlyWhenModifiedAndKeepsTheOldFileOnFailure) {
    platform::TempDirectory dir;
    std::string path = dir.File("a.ini");
    {
        TBigIniFile ini(path);  // missing: empty, nothing created
        EXPECT_TRUE(ini.SectionNames().empty());
    }
    EXPECT_FALSE(platform::FileExists(path));
    {
        TBigIniFile ini(path);
        ini.WriteString("S", "k", "v");
    }  // the destructor flushes
    EXPECT_EQ(ReadBytes(path), "[S]\r\nk=v\r\n\r\n");

    WriteBytes(path, "junk\r\n[S]\r\n\r\nk=v\r\n");
    {
        TBigIniFile ini(path);
        ini.WriteString("S", "k", "v");
        ini.Flush();
    }
    EXPECT_EQ(ReadBytes(path), "junk\r\n[S]\r\n\r\nk=v\r\n");  // unmodified: never rewritten

    // A flush that cannot write raises from Flush() and is swallowed by the destructor.
    std::string noFolder = dir.File("missing/a.ini");
    {
        TBigIniFile ini(noFolder);
        ini.WriteString("S", "k", "v");
        EXPECT_THROW(ini.Flush(), Error);
        EXPECT_TRUE(ini.Modified());
    }
    EXPECT_FALSE(platform::FileExists(noFolder));
}

TEST(BigIniFiles, UnreadableFilesAndLongNames) {
    platform::TempDirectory dir;
    std::string folder = dir.File("folder.ini");
    ASSERT_TRUE(nimbrel::testing::MakeDirectory(folder));
    try {
        TBigIniFile ini(folder);
        FAIL() << "a folder was read as a file";
    } catch (const Error& error) {
        EXPECT_STREQ(error.what(), "File access denied");
    }

    std::string longName = dir.Path() + std::string(256 - dir.Path().size(), 'n');
    EXPECT_THROW(
        {
            TBigIniFile ini(longName);
            ini.WriteString("S", "k", "v");
        },
        Error);
    EXPECT_FALSE(platform::FileExists(longName));
    EXPECT_FALSE(platform::FileExists(longName.substr(0, 255)));
}

TEST(BigIniFiles, PipesAndDevicesAreRefusedAtOnce) {
#ifdef _WIN32
    GTEST_SKIP() << "pipes, devices, file modes and links are POSIX's: the Windows cases are in the win32 tests";
#else
    platform::TempDirectory dir;
    std::string pipe = dir.File("pipe.nssp");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    for (const std::string& path : {pipe, std::string("/dev/zero")}) {
        try {
            TBigIniFile ini(path);
            ADD_FAILURE() << path << " was read";
        } catch (const Error& error) {
            EXPECT_EQ(std::string(error.what()), path + " is not a regular file");
        }
    }
#endif
}

TEST(BigIniFiles, UnreadableByItsMode) {
    platform::TempDirectory dir;
    std::string locked = dir.File("locked.ini");
    WriteBytes(locked, "[S]\r\nk=v\r\n");
#ifdef _WIN32
    // Windows has no mode that forbids reading; another program holding the file does.
    nimbrel::testing::HeldOpenFile held(locked);
    ASSERT_TRUE(held.Held());
#else
    if (geteuid() == 0) GTEST_SKIP() << "file modes do not stop root";
    chmod(locked.c_str(), 0);
#endif
    try {
        TBigIniFile ini(locked);
        FAIL() << "an unreadable file was read";
    } catch (const Error& error) {
        EXPECT_STREQ(error.what(), "File access denied");
    }
}
