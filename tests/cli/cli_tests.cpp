#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <sstream>

#include "archive_test_util.h"
#include "cli/cli.h"
#include "cli/cli_run.h"
#include "cli/extract_names.h"
#include "cli/json.h"
#include "nimbrel_version.h"
#include "platform/files.h"
#include "platform/temp.h"

#if NIMBREL_HAVE_QT_JSON
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#endif

using namespace nimbrel::archive::testdata;
namespace fs = std::filesystem;

namespace {

using nimbrel::clitest::Cli;
using nimbrel::clitest::CliRun;

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

TEST_F(CliTest, HelpForTheProgramAndEveryCommand) {
    CliRun help = Cli({"--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_TRUE(help.err.empty());
    EXPECT_NE(help.out.find("Exit codes: 0 success, 1 failure, 2 wrong command line."), std::string::npos);
    for (const auto& command : nimbrel::cli::Commands()) {
        EXPECT_NE(help.out.find("  " + command.name + " "), std::string::npos) << command.name;
        if (command.runRaw) {
            // A command that reads its own arguments prints its own usage.
            CliRun own = Cli({command.name, "--help"});
            EXPECT_EQ(own.code, 0) << command.name;
            EXPECT_NE(own.out.find("sage: nimbrel-cli " + command.name), std::string::npos) << own.out;
            continue;
        }
        // Every command answers --help (wherever it stands) with usage, options and an example.
        for (const std::vector<std::string>& args : {std::vector<std::string>{command.name, "--help"},
                                                     {command.name, "x", "-h"},
                                                     {"help", command.name}}) {
            CliRun own = Cli(args);
            EXPECT_EQ(own.code, 0) << command.name;
            EXPECT_EQ(own.out.rfind("Usage: nimbrel-cli " + command.name + " [OPTIONS]", 0), 0u) << own.out;
            EXPECT_NE(own.out.find("\nOptions:\n"), std::string::npos) << own.out;
            EXPECT_NE(own.out.find("-h, --help"), std::string::npos) << own.out;
            EXPECT_NE(own.out.find("\n  nimbrel-cli " + command.name + " "), std::string::npos) << own.out;
            EXPECT_NE(own.out.find("Exit codes: 0 success, 1 failure, 2 wrong command line."),
                      std::string::npos);
        }
    }
    CliRun compile = Cli({"compile", "--help"});
    for (const char* option :
         {"-o, --output FILE", "--stub-dir DIR", "--strict", "--progress", "-q, --quiet"})
        EXPECT_NE(compile.out.find(option), std::string::npos) << option;
    EXPECT_NE(Cli({"list", "--help"}).out.find("--json"), std::string::npos);

    CliRun version = Cli({"--version"});
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out, std::string("nimbrel-cli ") + NIMBREL_VERSION_TEXT + "\n");

    // No command: the help on standard error and the usage exit code.
    CliRun none = Cli({});
    EXPECT_EQ(none.code, 2);
    EXPECT_TRUE(none.out.empty());
    EXPECT_NE(none.err.find("Commands:"), std::string::npos);
    EXPECT_EQ(Cli({"frobnicate"}).code, 2);
    EXPECT_EQ(Cli({"help", "frobnicate"}).code, 2);
    EXPECT_EQ(Cli({"--frobnicate"}).code, 2);
}

TEST_F(CliTest, CommandLineMistakesAreNamedAndExitWithTwo) {
    auto expectUsage = [&](const std::vector<std::string>& args, const std::string& message) {
        CliRun run = Cli(args);
        EXPECT_EQ(run.code, 2) << message;
        EXPECT_TRUE(run.out.empty()) << message;
        EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
    };
    expectUsage({"compile", "--stub-dir"}, "compile: --stub-dir needs a folder");
    expectUsage({"compile", "p.nssp", "--stub-dir", "--strict"}, "--stub-dir needs a folder");
    expectUsage({"compile", "--stub-dir=", "p.nssp"}, "--stub-dir needs a folder");
    expectUsage({"compile", "p.nssp", "-o"}, "--output needs a file name");
    expectUsage({"compile", "--output", "--", "p.nssp"}, "--output needs a file name");
    expectUsage({"compile", "--bogus", "p.nssp"}, "unknown option --bogus");
    expectUsage({"compile", "--strict=yes", "p.nssp"}, "--strict takes no value");
    expectUsage({"compile", "--quiet", "--progress", "p.nssp"}, "cannot be used together");
    expectUsage({"compile"}, "missing PROJECT.nssp");
    expectUsage({"compile", "a.nssp", "b.nssp"}, "too many arguments (from \"b.nssp\")");
    expectUsage({"list"}, "missing FILE");
    expectUsage({"extract", "a"}, "missing DIR");
    expectUsage({"verify", "a", "b"}, "too many arguments");
    // Each mistake shows the usage line and where to read more.
    CliRun run = Cli({"list", "--bogus", "a"});
    EXPECT_NE(run.err.find("Usage: nimbrel-cli list [OPTIONS] FILE"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("nimbrel-cli list --help"), std::string::npos) << run.err;

    // "--" ends the options: files whose names start with '-' can be named.
    std::string odd = Scr({{"a.txt", "a"}}, "-odd.scr");
    std::string here = std::filesystem::current_path().string();
    std::filesystem::current_path(dir.Path());
    CliRun list = Cli({"list", "--", "-odd.scr"});
    CliRun json = Cli({"list", "--json", "--", "-odd.scr"});
    CliRun wrong = Cli({"list", "-odd.scr"});
    std::filesystem::current_path(here);
    EXPECT_EQ(list.code, 0) << list.err;
    EXPECT_NE(list.out.find("a.txt"), std::string::npos);
    EXPECT_EQ(json.code, 0) << json.err;
    EXPECT_EQ(wrong.code, 2);
    EXPECT_NE(wrong.err.find("unknown option -odd.scr"), std::string::npos) << wrong.err;

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

#if NIMBREL_HAVE_QT_JSON
namespace {

QJsonObject ParseJson(const std::string& text) {
    QJsonParseError error{};
    QJsonDocument document =
        QJsonDocument::fromJson(QByteArray(text.data(), static_cast<qsizetype>(text.size())), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString() << "\n" << text;
    EXPECT_TRUE(document.isObject());
    return document.object();
}

std::string CrcHex(const std::string& bytes) {
    char text[16];
    std::snprintf(text, sizeof text, "%08lX",
                  crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
    return text;
}

}  // namespace

TEST_F(CliTest, JsonListAndVerifyFollowTheArchivesRealLayout) {
    // A stored member, compressed ones, and names JSON must escape (a quote, a control
    // character, a Latin-1 byte that is no UTF-8, and UTF-8 that must pass unchanged).
    std::vector<RawMember> members = {{"Options.ini", TextBytes(3000)},
                                      {"photo \"1\".jpg", RandomBytes(2500, 7)},
                                      {"caf\xE9\tx.png", TextBytes(900)},
                                      {"\xC3\xA9t\xC3\xA9.gif", TextBytes(5)}};
    std::string scr = Scr(members);
    std::string bytes = ReadFile(scr);

    CliRun list = Cli({"list", "--json", scr});
    ASSERT_EQ(list.code, 0) << list.err;
    QJsonObject root = ParseJson(list.out);
    EXPECT_EQ(root["file"].toString().toStdString(), scr);
    EXPECT_EQ(root["archiveStart"].toInteger(), 5000);
    EXPECT_EQ(root["archiveLength"].toInteger(), static_cast<qint64>(bytes.size() - 5000));
    EXPECT_EQ(root["memberCount"].toInteger(), 4);
    QJsonArray array = root["members"].toArray();
    ASSERT_EQ(array.size(), 4);
    const char* names[] = {"Options.ini", "photo \"1\".jpg", "caf\u00e9\tx.png", "\u00e9t\u00e9.gif"};
    for (qsizetype i = 0; i < array.size(); ++i) {
        SCOPED_TRACE(i);
        QJsonObject m = array[i].toObject();
        const std::string& content = members[static_cast<std::size_t>(i)].content;
        EXPECT_EQ(m["index"].toInteger(), i + 1);
        EXPECT_EQ(m["name"].toString(), QString::fromUtf8(names[i]));
        EXPECT_EQ(m["originalSize"].toInteger(), static_cast<qint64>(content.size()));
        EXPECT_EQ(m["crc"].toString().toStdString(), CrcHex(content));
        EXPECT_EQ(m["fileOffset"].toInteger(), 5000 + m["offset"].toInteger());
        // The bytes at the stated offset are the member: as they are, or a zlib stream.
        auto at = static_cast<std::size_t>(m["fileOffset"].toInteger());
        auto stored = static_cast<std::size_t>(m["storedSize"].toInteger());
        ASSERT_LE(at + stored, bytes.size());
        std::string data = bytes.substr(at, stored);
        if (m["method"].toString() == "stored") {
            EXPECT_EQ(m["level"].toInteger(), 0);
            EXPECT_EQ(data, content);
        } else {
            EXPECT_EQ(m["method"].toString(), "compressed");
            EXPECT_EQ(m["level"].toInteger(), 3);
            std::string inflated(content.size(), '\0');
            uLongf size = static_cast<uLongf>(inflated.size());
            ASSERT_EQ(
                uncompress(reinterpret_cast<Bytef*>(inflated.data()), &size,
                           reinterpret_cast<const Bytef*>(data.data()), static_cast<uLong>(data.size())),
                Z_OK);
            EXPECT_EQ(inflated, content);
        }
    }
    EXPECT_EQ(array[1].toObject()["method"].toString(), "stored");  // random bytes do not shrink

    CliRun verify = Cli({"verify", "--json", scr});
    EXPECT_EQ(verify.code, 0) << verify.err;
    QJsonObject good = ParseJson(verify.out);
    EXPECT_TRUE(good["ok"].toBool());
    EXPECT_TRUE(good["archiveCrcOk"].toBool());
    for (const auto& m : good["members"].toArray()) EXPECT_TRUE(m.toObject()["ok"].toBool());

    // One changed byte in the stored member: that member fails, the others pass, exit code 1.
    bytes[static_cast<std::size_t>(array[1].toObject()["fileOffset"].toInteger()) + 100] ^= 1;
    std::string damaged = dir.File("damaged.scr");
    WriteFile(damaged, bytes);
    CliRun bad = Cli({"verify", "--json", damaged});
    EXPECT_EQ(bad.code, 1);
    EXPECT_TRUE(bad.err.empty()) << bad.err;
    QJsonObject result = ParseJson(bad.out);
    EXPECT_FALSE(result["ok"].toBool());
    EXPECT_FALSE(result["archiveCrcOk"].toBool());
    QJsonArray checked = result["members"].toArray();
    ASSERT_EQ(checked.size(), 4);
    for (qsizetype i = 0; i < checked.size(); ++i) {
        QJsonObject m = checked[i].toObject();
        EXPECT_EQ(m["ok"].toBool(), i != 1) << i;
        EXPECT_EQ(m.contains("error"), i == 1) << i;
    }
}
#endif

TEST(Json, StringsAreValidJsonForAnyBytes) {
    using nimbrel::cli::JsonString;
    EXPECT_EQ(JsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(JsonString(std::string("\x01\n\x7F", 3)), "\"\\u0001\\n\\u007f\"");
    EXPECT_EQ(JsonString("\xE2\x82\xAC"), "\"\xE2\x82\xAC\"");  // valid UTF-8 passes
    // Bytes that are no UTF-8 (a lone Latin-1 byte, a cut sequence, an overlong form, a
    // surrogate) are read as Latin-1, so the output is always valid UTF-8.
    EXPECT_EQ(JsonString("\xE9"), "\"\xC3\xA9\"");
    EXPECT_EQ(JsonString("\xE2\x82"), "\"\xC3\xA2\xC2\x82\"");
    EXPECT_EQ(JsonString("\xC0\xAF"), "\"\xC3\x80\xC2\xAF\"");
    EXPECT_EQ(JsonString("\xED\xA0\x80"), "\"\xC3\xAD\xC2\xA0\xC2\x80\"");
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
#ifdef _WIN32
    GTEST_SKIP() << "pipes, devices, file modes and links are POSIX's: the Windows cases are in the win32 tests";
#else
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
    EXPECT_NE(built.err.find("warning: 2 files were left out"), std::string::npos) << built.err;
    EXPECT_NE(built.err.find("left out: gone.jpg cannot be found"), std::string::npos) << built.err;
    EXPECT_NE(built.err.find("left out: /dev/zero is not a regular file"), std::string::npos) << built.err;

    const std::string before = nimbrel::platform::ReadWholeFile(dir.File("p.scr"));
    CliRun strict = Cli({"compile", dir.File("p.nssp"), "--stub-dir", dir.Path(), "--strict"});
    EXPECT_EQ(strict.code, 1);
    EXPECT_NE(strict.err.find("gone.jpg"), std::string::npos) << strict.err;
    EXPECT_EQ(nimbrel::platform::ReadWholeFile(dir.File("p.scr")), before);
#endif
}
