#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <sstream>

#include "archive_test_util.h"
#include "cli/cli.h"
#include "cli/extract_names.h"
#include "platform/files.h"
#include "platform/temp.h"

using namespace nimbrel::archive::testdata;
using nimbrel::cli::RunCli;
namespace fs = std::filesystem;

namespace {

struct CliRun {
    int code;
    std::string out, err;
};

CliRun Cli(std::vector<std::string> args) {
    std::ostringstream out, err;
    int code = RunCli(args, out, err);
    return {code, out.str(), err.str()};
}

std::vector<std::string> FilesIn(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        names.push_back(fs::relative(e.path(), dir).string());
    std::sort(names.begin(), names.end());
    return names;
}

struct CliTest : ::testing::Test {
    nimbrel::platform::TempDirectory dir{"clitest"};
    std::string Scr(const std::vector<RawMember>& members, const std::string& name = "show.scr") {
        std::string path = dir.File(name);
        WriteFile(path, std::string(5000, 'S') + BuildArchive(members));
        return path;
    }
};

}  // namespace

TEST_F(CliTest, HelpAndCommandLineErrors) {
    CliRun help = Cli({"--help"});
    EXPECT_EQ(help.code, 0);
    for (const char* word : {"list", "verify", "extract"}) EXPECT_NE(help.out.find(word), std::string::npos);
    EXPECT_EQ(Cli({}).code, 2);
    EXPECT_EQ(Cli({"frobnicate"}).code, 2);
    EXPECT_EQ(Cli({"list"}).code, 2);
    EXPECT_EQ(Cli({"extract", "a"}).code, 2);
    EXPECT_EQ(Cli({"verify", "--help"}).code, 0);
    CliRun missing = Cli({"list", dir.File("nothing.scr")});
    EXPECT_EQ(missing.code, 1);
    EXPECT_NE(missing.err.find("Unable to open file"), std::string::npos);
}

TEST_F(CliTest, ListAndVerifyAScreensaver) {
    std::string scr = Scr({{"Options.ini", TextBytes(2000)}, {"photo.jpg", RandomBytes(3000)}});
    CliRun list = Cli({"list", scr});
    EXPECT_EQ(list.code, 0);
    EXPECT_NE(list.out.find("at offset 5000, 2 member(s)"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("compressed      3"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("stored          0"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("Options.ini"), std::string::npos);

    CliRun verify = Cli({"verify", scr});
    EXPECT_EQ(verify.code, 0) << verify.err;
    EXPECT_NE(verify.out.find("OK: 2 member(s)"), std::string::npos);

    // One changed byte in the stored member: the archive CRC and that member's CRC fail.
    std::string bytes = ReadFile(scr);
    bytes[5000 + 1500] ^= 1;
    std::string damaged = dir.File("damaged.scr");
    WriteFile(damaged, bytes);
    CliRun bad = Cli({"verify", damaged});
    EXPECT_EQ(bad.code, 1);
    EXPECT_NE(bad.err.find("archive CRC mismatch"), std::string::npos) << bad.err;
    EXPECT_NE(bad.err.find("member 2 (photo.jpg)"), std::string::npos) << bad.err;

    std::string junk = dir.File("junk.bin");
    WriteFile(junk, RandomBytes(100, 4));
    EXPECT_EQ(Cli({"verify", junk}).code, 1);
}

TEST_F(CliTest, ExtractKeepsMembersOfTheSameName) {
    std::string scr = Scr({{"a.jpg", "first"}, {"A.JPG", "second"}, {"a.jpg", "third"}, {"notes", "n"}});
    std::string out = dir.File("out");
    CliRun run = Cli({"extract", scr, out});
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(FilesIn(out), (std::vector<std::string>{"A (2).JPG", "a (3).jpg", "a.jpg", "notes"}));
    EXPECT_EQ(ReadFile(out + "/a.jpg"), "first");
    EXPECT_EQ(ReadFile(out + "/A (2).JPG"), "second");
    EXPECT_EQ(ReadFile(out + "/a (3).jpg"), "third");
    EXPECT_NE(run.out.find("\"A.JPG\" is taken, written as \"A (2).JPG\""), std::string::npos) << run.out;
    // A second run into the same folder overwrites nothing.
    CliRun again = Cli({"extract", scr, out});
    EXPECT_EQ(again.code, 0);
    EXPECT_EQ(FilesIn(out).size(), 8u);
    EXPECT_EQ(ReadFile(out + "/a.jpg"), "first");
}

TEST_F(CliTest, ExtractNeverWritesOutsideTheFolder) {
    std::vector<RawMember> hostile = {{"../evil.txt", "1"}, {"..\\evil2.txt", "2"}, {"C:boot.ini", "3"},
                                      {"CON", "4"},         {"nul.txt", "5"},       {"com1.jpg", "6"},
                                      {"..", "7"},          {"/etc/passwd", "8"},   {"", "9"},
                                      {"a/b/c.txt", "10"},  {"trail. ", "11"},      {"LPT1", "12"}};
    std::string scr = Scr(hostile);
    std::string out = dir.File("x/out");
    CliRun run = Cli({"extract", scr, out});
    EXPECT_EQ(run.code, 0) << run.err;
    std::vector<std::string> expected = {"_CON",       "_com1.jpg",   ".._evil2.txt", ".._evil.txt",
                                         "_LPT1",      "_etc_passwd", "_nul.txt",     "a_b_c.txt",
                                         "C_boot.ini", "member_7",    "member_9",     "trail__"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(FilesIn(out), expected);
    EXPECT_EQ(FilesIn(dir.File("x")).size(), expected.size() + 1);  // just out/ and its files
    EXPECT_NE(run.out.find("member 1 \"../evil.txt\" is not a plain file name: written as \".._evil.txt\""),
              std::string::npos)
        << run.out;
}

TEST_F(CliTest, ExtractReportsADamagedMemberAndRemovesIt) {
    std::string bytes = Scr({{"good.txt", "good"}, {"bad.bin", RandomBytes(200)}});
    std::string data = ReadFile(bytes);
    data[5000 + 4 + 10] ^= 0x40;
    WriteFile(bytes, data);
    std::string out = dir.File("out");
    CliRun run = Cli({"extract", bytes, out});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("fails its CRC check"), std::string::npos) << run.err;
    EXPECT_EQ(FilesIn(out), (std::vector<std::string>{"good.txt"}));
}

TEST(ExtractNames, UniqueNamesAndPlainNames) {
    using nimbrel::cli::SafeMemberName;
    using nimbrel::cli::UniqueName;
    EXPECT_EQ(UniqueName("x.tar.gz", {"x.tar.gz", "x.tar (2).gz"}), "x.tar (3).gz");
    EXPECT_EQ(UniqueName(".profile", {".profile"}), ".profile (2)");
    EXPECT_EQ(SafeMemberName("photo.jpg", "f"), "photo.jpg");
    EXPECT_EQ(SafeMemberName("aux.tar.gz", "f"), "_aux.tar.gz");
    EXPECT_EQ(SafeMemberName("console.txt", "f"), "console.txt");
    EXPECT_EQ(SafeMemberName("...", "f"), "f");
    EXPECT_EQ(SafeMemberName("a\tb", "f"), "a_b");
}

TEST_F(CliTest, PipesAndDevicesAreRefusedAtOnceAndLeftOutFilesAreNamed) {
    const std::string pipe = dir.File("pipe");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"list", pipe}, {"verify", "/dev/zero"}, {"compile", pipe}}) {
        CliRun run = Cli(args);
        EXPECT_EQ(run.code, 1) << args[0];
        EXPECT_NE(run.err.find(args[1] + " is not a regular file"), std::string::npos) << run.err;
    }

    WriteFile(dir.File("stub.bin"), "MZ stand-in");
    WriteFile(dir.File("flash.bin"), "MZ stand-in");
    WriteFile(dir.File("a.jpg"), "picture");
    WriteFile(dir.File("p.nssp"),
              "[Header]\r\nNumber=3\r\nType=0\r\n[Files]\r\n0=a.jpg\r\n1=gone.jpg\r\n2=/dev/zero\r\n");
    CliRun built = Cli({"compile", dir.File("p.nssp"), "--stub-dir", dir.Path()});
    EXPECT_EQ(built.code, 0) << built.err;
    EXPECT_NE(built.out.find("gone.jpg cannot be found"), std::string::npos) << built.out;
    EXPECT_NE(built.err.find("left out: gone.jpg cannot be found"), std::string::npos) << built.err;
    EXPECT_NE(built.err.find("left out: /dev/zero is not a regular file"), std::string::npos) << built.err;

    const std::string before = nimbrel::platform::ReadWholeFile(dir.File("p.scr"));
    CliRun strict = Cli({"compile", dir.File("p.nssp"), "--stub-dir", dir.Path(), "--strict"});
    EXPECT_EQ(strict.code, 1);
    EXPECT_NE(strict.err.find("gone.jpg"), std::string::npos) << strict.err;
    EXPECT_EQ(nimbrel::platform::ReadWholeFile(dir.File("p.scr")), before);
}
