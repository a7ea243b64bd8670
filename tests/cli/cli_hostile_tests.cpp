// nimbrel-cli over files made by strangers: links planted in the target folder, trailers that
// describe no archive, and failures that must be told in words with the file's name.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "archive_test_util.h"
#include "cli/cli.h"
#include "cli/cli_run.h"
#include "platform/files.h"
#include "platform/temp.h"

using namespace nimbrel::archive::testdata;
namespace fs = std::filesystem;

namespace {

using nimbrel::clitest::Cli;
using nimbrel::clitest::CliRun;

struct CliHostile : ::testing::Test {
    nimbrel::platform::TempDirectory dir{"clihostile"};
    std::string Scr(const std::string& archive, const std::string& name = "show.scr") {
        std::string path = dir.File(name);
        WriteFile(path, std::string(3000, 'S') + archive);
        return path;
    }
};

}  // namespace

TEST_F(CliHostile, ExtractFollowsNoLinkAndOverwritesNothing) {
#ifdef _WIN32
    GTEST_SKIP() << "symbolic links need a privilege on Windows";
#endif
    std::string scr = Scr(BuildArchive({{"a.jpg", "first"}, {"b.jpg", "second"}, {"c.jpg", "third"}}));
    std::string out = dir.File("out");
    std::string outside = dir.File("outside");
    fs::create_directories(out);
    fs::create_directories(outside);
    WriteFile(outside + "/keep.txt", "the user's own");
    // A dangling link, a link to a file of the user's, and a link to a folder.
    fs::create_symlink(outside + "/planted.jpg", out + "/a.jpg");
    fs::create_symlink(outside + "/keep.txt", out + "/b.jpg");
    fs::create_symlink(outside, out + "/c.jpg");

    CliRun run = Cli({"extract", scr, out});
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_FALSE(fs::exists(fs::symlink_status(outside + "/planted.jpg")));
    EXPECT_EQ(ReadFile(outside + "/keep.txt"), "the user's own");
    EXPECT_EQ(std::distance(fs::directory_iterator(outside), fs::directory_iterator()), 1);
    EXPECT_TRUE(fs::is_symlink(out + "/a.jpg"));
    EXPECT_EQ(ReadFile(out + "/a (2).jpg"), "first");
    EXPECT_EQ(ReadFile(out + "/b (2).jpg"), "second");
    EXPECT_EQ(ReadFile(out + "/c (2).jpg"), "third");
    EXPECT_NE(run.out.find("\"a.jpg\" is taken, written as \"a (2).jpg\""), std::string::npos) << run.out;
}

TEST_F(CliHostile, MembersOverOneStreamAreNotMultiplied) {
    std::string archive = BuildArchive(
        {{"big.bmp", std::string(100000, 'B')}},
        [](std::vector<nimbrel::archive::RegistryEntry>& e, nimbrel::archive::ArchiveTrailer& t, auto&) {
            e.assign(10, e[0]);
            t.EntryCount = 10;
        });
    std::string scr = Scr(archive);
    std::string out = dir.File("out");
    CliRun run = Cli({"extract", scr, out});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find(scr + ": The archive is damaged: the data of member 2 (big.bmp) overlaps"),
              std::string::npos)
        << run.err;
    EXPECT_FALSE(fs::exists(out + "/big (2).bmp"));
}

TEST_F(CliHostile, ATrailerOfZerosIsNoArchive) {
    std::string stub = dir.File("stub.bin");
    WriteFile(stub, RandomBytes(4000, 3) + std::string(36, '\0'));
    for (const char* command : {"verify", "list"}) {
        CliRun run = Cli({command, stub});
        EXPECT_EQ(run.code, 1) << command;
        EXPECT_EQ(run.out.find("OK"), std::string::npos) << run.out;
        EXPECT_NE(run.err.find(stub + ": No archive found"), std::string::npos) << run.err;
    }
}

TEST_F(CliHostile, FailuresNameTheFileInWords) {
    // A folder given as the file.
    std::string folder = dir.File("folder");
    fs::create_directories(folder);
    CliRun list = Cli({"list", folder});
    EXPECT_EQ(list.code, 1);
    EXPECT_NE(list.err.find(folder), std::string::npos) << list.err;
    EXPECT_NE(list.err.find("is a folder"), std::string::npos) << list.err;
    EXPECT_EQ(list.err.find("I/O error"), std::string::npos) << list.err;

#ifndef _WIN32  // the system's own words differ on Windows
    // Two members of 255-byte names: the second, renamed " (2)", is too long for the file system.
    std::string longName(255, 'n');
    std::string scr = Scr(BuildArchive({{longName, "1"}, {longName, "2"}}));
    std::string out = dir.File("out");
    CliRun extract = Cli({"extract", scr, out});
    EXPECT_EQ(extract.code, 1);
    EXPECT_NE(extract.err.find(out + "/" + longName.substr(0, 200)), std::string::npos) << extract.err;
    EXPECT_NE(extract.err.find("File name too long"), std::string::npos) << extract.err;
    EXPECT_EQ(extract.err.find("I/O error"), std::string::npos) << extract.err;

    // A target folder that cannot be made, because a file stands in its way.
    std::string blocked = dir.File("blocked");
    WriteFile(blocked, "x");
    CliRun noFolder = Cli({"extract", scr, blocked + "/sub"});
    EXPECT_EQ(noFolder.code, 1);
    EXPECT_NE(noFolder.err.find(blocked + "/sub"), std::string::npos) << noFolder.err;
    EXPECT_NE(noFolder.err.find("Not a directory"), std::string::npos) << noFolder.err;
#endif
}

TEST_F(CliHostile, MemberNamesReachTheTerminalEscaped) {
    // A line break that would forge a row, an escape sequence, and a C1 control (CSI in UTF-8).
    const std::string forged = "a.jpg\n    9      999      999  stored  0  00000000  0  fake.jpg";
    const std::string escape = "\x1b[2Jclear.png";
    const std::string csi = "\xC2\x9B" "31mred.gif";
    std::string scr = Scr(BuildArchive({{forged, "one"}, {escape, "two"}, {csi, "three"}}));

    CliRun list = Cli({"list", scr});
    EXPECT_EQ(list.code, 0) << list.err;
    EXPECT_EQ(list.out.find('\x1b'), std::string::npos);
    EXPECT_EQ(list.out.find("\xC2\x9B"), std::string::npos);
    EXPECT_NE(list.out.find("a.jpg\\n    9"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("\\u001b[2Jclear.png"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("\\u009b31mred.gif"), std::string::npos) << list.out;
    // Header, title and one line a member.
    EXPECT_EQ(std::count(list.out.begin(), list.out.end(), '\n'), 5);

    CliRun extract = Cli({"extract", scr, dir.File("out")});
    EXPECT_EQ(extract.out.find('\x1b'), std::string::npos);
    EXPECT_EQ(extract.err.find('\x1b'), std::string::npos);
    EXPECT_NE(extract.out.find("member 2 \"\\u001b[2Jclear.png\""), std::string::npos) << extract.out;
}
