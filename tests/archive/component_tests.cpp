#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <thread>

#include <zlib.h>
#include "archive/archive_reader.h"
#include "archive/zlb_archive.h"
#include "archive/zlib_stream.h"
#include "archive_test_util.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/temp.h"

using namespace nimbrel::archive;
using namespace nimbrel::archive::testdata;
using nimbrel::Error;
namespace platform = nimbrel::platform;
using nimbrel::platform::FileExists;
using nimbrel::platform::TempDirectory;

namespace {

using Report = std::pair<std::string, int>;

// Records every temporary name it hands out, so the tests can see the staging files.
class RecordingArchive : public TZLBArchive {
public:
    std::string MakeTempFileName() override {
        names.push_back(TZLBArchive::MakeTempFileName());
        return names.back();
    }
    std::vector<std::string> names;
};

struct Fixture : ::testing::Test {
    TempDirectory dir{"archtest"};
    std::vector<Report> reports;
    std::vector<std::string> logged;

    void Wire(TZLBArchive& a) {
        a.OnProgress = [this](const std::string& m, int p) { reports.emplace_back(m, p); };
        a.OnErrorLogged = [this](const std::string& m) { logged.push_back(m); };
    }
    std::string Make(const std::string& name, const std::string& bytes) {
        std::string path = dir.File(name);
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        WriteFile(path, bytes);
        return path;
    }
    // Packs the files into a new archive and returns its path.
    std::string Pack(TZLBArchive& a, std::vector<std::string> files, const std::string& name = "out.cab") {
        std::string path = dir.File(name);
        a.CreateArchive(path);
        a.AddFiles(files);
        EXPECT_TRUE(files.empty());
        return path;
    }
};

using Component = Fixture;

}  // namespace

TEST_F(Component, EmptyArchiveIs44Bytes) {
    TZLBArchive a;
    std::string path = Pack(a, {});
    std::string bytes = ReadFile(path);
    ASSERT_EQ(bytes.size(), 44u);
    ArchiveTrailer t = DecodeTrailer(reinterpret_cast<const unsigned char*>(bytes.data()) + 8);
    EXPECT_EQ(t.EntryCount, 0);
    EXPECT_EQ(t.RegistryOffset, 0);
    EXPECT_EQ(t.RegistrySize, 8);
    EXPECT_EQ(t.RegistryCompressed, 1);
    EXPECT_EQ(t.AlwaysOne, 1);
    EXPECT_EQ(t.ArchiveCrc, Crc32(bytes.substr(0, 8)));
    EXPECT_EQ(a.Trailer(), t);
    EXPECT_FALSE(a.IsNew());
    EXPECT_EQ(a.ArchiveName(), path);
}

TEST_F(Component, MembersStoredOrCompressedWithTheirRecords) {
    std::string text = TextBytes(100000), noise = RandomBytes(5000);
    std::vector<std::string> files = {Make("empty.txt", ""), Make("Text.TXT", text),
                                      Make("noise.jpg", noise)};
    TZLBArchive a;
    a.CompressionLevel = fcMaximum;
    std::string path = Pack(a, files);
    ASSERT_EQ(a.Count(), 3);
    RegistryEntry empty = a.GetEntry(0), t = a.GetEntry(1), n = a.GetEntry(2);
    EXPECT_EQ(empty.FileName, "empty.txt");
    EXPECT_EQ(empty.FilePath, "");
    EXPECT_EQ(empty.Stored, 1);
    EXPECT_EQ(empty.StoredSize, 0);
    EXPECT_EQ(empty.Crc, 0u);
    EXPECT_EQ(empty.DataOffset, t.DataOffset);  // an empty member shares the next one's offset
    EXPECT_EQ(t.Stored, 0);
    EXPECT_EQ(t.Level, 3);  // the setting's ordinal, not zlib's 9
    EXPECT_EQ(t.StoredSize, static_cast<std::int32_t>(CompressBytes(text, fcMaximum).size()));
    EXPECT_EQ(t.Crc, Crc32(text));
    EXPECT_EQ(n.Stored, 1);
    EXPECT_EQ(n.Level, 0);
    EXPECT_EQ(n.StoredSize, 5000);
    EXPECT_EQ(n.DataOffset, t.DataOffset + t.StoredSize);
    EXPECT_EQ(a.Trailer().RegistryOffset, n.DataOffset + n.StoredSize);
    EXPECT_EQ(a.IndexOfEntry("TEXT.txt"), 1);
    EXPECT_EQ(a.IndexOfEntry("missing"), -1);
    EXPECT_THROW(
        {
            try {
                a.GetEntry(3);
            } catch (const Error& e) {
                EXPECT_STREQ(e.what(), "Index out of bounds");
                throw;
            }
        },
        Error);

    ArchiveReader reader = ArchiveReader::FromFile(path);
    EXPECT_TRUE(reader.VerifyArchiveCrc());
    EXPECT_EQ(reader.Extract(1), text);
    EXPECT_EQ(reader.Extract(2), noise);
    EXPECT_EQ(reader.Extract(0), "");
}

TEST_F(Component, StreamAsLongAsTheFileIsStored) {
    // Zeros followed by noise: each extra zero adds a byte to the file but rarely to its
    // stream, so some count of zeros makes the two lengths equal.
    std::string noise = RandomBytes(3000, 7), equal, shorter;
    for (std::size_t zeros = 0; zeros < 200 && (equal.empty() || shorter.empty()); ++zeros) {
        std::string data = std::string(zeros, '\0') + noise;
        std::size_t z = CompressBytes(data, fcMaximum).size();
        if (z == data.size() && equal.empty()) equal = data;
        if (z + 1 == data.size() && shorter.empty()) shorter = data;
    }
    ASSERT_FALSE(equal.empty());
    ASSERT_FALSE(shorter.empty());
    TZLBArchive a;
    a.CompressionLevel = fcMaximum;
    Pack(a, {Make("equal.bin", equal), Make("shorter.bin", shorter)});
    EXPECT_EQ(a.GetEntry(0).Stored, 1);
    EXPECT_EQ(a.GetEntry(0).Level, 0);
    EXPECT_EQ(a.GetEntry(0).StoredSize, static_cast<std::int32_t>(equal.size()));
    EXPECT_EQ(a.GetEntry(1).Stored, 0);
    EXPECT_EQ(a.GetEntry(1).StoredSize + 1, static_cast<std::int32_t>(shorter.size()));
}

TEST_F(Component, DuplicateKeysAreLoggedAndBothKept) {
    std::string one = Make("a/photo.jpg", "first"), two = Make("b/PHOTO.jpg", "second");
    TZLBArchive a;
    Wire(a);
    std::string path = Pack(a, {one, two, one});
    ASSERT_EQ(a.Count(), 3);
    EXPECT_EQ(logged, (std::vector<std::string>{two + " already exists in the archive",
                                                one + " already exists in the archive"}));
    ArchiveReader r = ArchiveReader::FromFile(path);
    EXPECT_EQ(r.Extract(0), "first");
    EXPECT_EQ(r.Extract(1), "second");
    EXPECT_EQ(r.Extract(2), "first");

    TZLBArchive withPaths;
    withPaths.SavePaths = true;
    Pack(withPaths, {one, two}, "paths.cab");
    // A stored path loses everything up to its first ":", the drive of a Windows path.
    auto withoutDrive = [](const std::string& path) { return path.substr(path.find(':') + 1); };
#ifdef _WIN32
    ASSERT_EQ(one[1], ':');
#endif
    EXPECT_EQ(withPaths.GetEntry(0).FilePath, nimbrel::platform::DirectoryPart(withoutDrive(one)));
    EXPECT_EQ(withPaths.IndexOfEntry(withoutDrive(two)), 1);
}

TEST_F(Component, ProgressSequenceOfSmallMemberAndRegistry) {
    TZLBArchive a;
    a.CompressionLevel = fcMaximum;
    Wire(a);
    std::string path = dir.File("small.cab");
    a.CreateArchive(path);
    std::vector<std::string> files;
    for (int i = 0; i < 10; ++i) files.push_back(Make("f" + std::to_string(i) + ".txt", TextBytes(1000)));
    a.AddFiles(files);
    // Create closes first; AddFiles closes, reopens (close, registry pieces, opened); no
    // member or registry write fills a 64 KiB buffer, so they report nothing.
    std::vector<Report> expected = {
        {"", 0},  {"", 0}, {"", 0}, {"Extracting archive registry", 77}, {"Extracting archive registry", 100},
        {path, 0}};
    EXPECT_EQ(reports, expected);
    reports.clear();
    a.CloseArchive();
    EXPECT_EQ(reports, (std::vector<Report>{{"", 0}}));
    EXPECT_TRUE(a.OpenArchive(path));
    EXPECT_EQ(reports.back(), Report(path, 0));
}

// What zlib itself says was taken in each time a 64 KiB output buffer filled, feeding the file
// in 64 KiB pieces: the points at which the component must report.
std::vector<int> ExpectedPercentages(const std::string& data) {
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY);
    std::vector<unsigned char> out(65536);
    std::vector<int> result;
    z.next_out = out.data();
    z.avail_out = 65536;
    auto drain = [&](int flush) {
        for (;;) {
            int rc = deflate(&z, flush);
            if (z.avail_out == 0) {
                result.push_back(
                    ProgressPercentage(static_cast<double>(z.total_in), static_cast<double>(data.size())));
                z.next_out = out.data();
                z.avail_out = 65536;
                continue;
            }
            if (flush == Z_FINISH ? rc == Z_STREAM_END : z.avail_in == 0) break;
        }
    };
    for (std::size_t at = 0; at < data.size(); at += 65536) {
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data() + at));
        z.avail_in = static_cast<uInt>(std::min<std::size_t>(65536, data.size() - at));
        drain(Z_NO_FLUSH);
    }
    drain(Z_FINISH);
    deflateEnd(&z);
    return result;
}

TEST_F(Component, ProgressOfAMemberOverOneOutputBuffer) {
    std::string noise = RandomBytes(300000, 3);
    std::string file = Make("big.bin", noise);
    std::vector<int> expectedPercentages = ExpectedPercentages(noise);
    ASSERT_EQ(expectedPercentages.size(), CompressBytes(noise, fcMaximum).size() / 65536);  // 4 for ~300 KB
    for (int workers : {0, 2}) {
        reports.clear();
        TZLBArchive a;
        a.CompressionLevel = fcMaximum;
        a.WorkerThreads = workers;
        Wire(a);
        std::string path = Pack(a, {file});
        std::vector<Report> expected = {{"", 0}};
        for (int p : expectedPercentages) expected.emplace_back("Updating " + file, p);
        expected.insert(expected.end(), {{"", 0}, {"", 0}, {"Extracting archive registry", 100}, {path, 0}});
        EXPECT_EQ(reports, expected) << workers;
        EXPECT_EQ(a.GetEntry(0).Stored, 1);  // noise does not shrink
        platform::RemoveFile(path);
    }
}

TEST_F(Component, StagingSwitchesToATemporaryFileAbove20MiB) {
    for (std::int64_t size : {TZLBArchive::kMemoryStagingLimit, TZLBArchive::kMemoryStagingLimit + 1}) {
        std::string file = Make("zeros.bin", std::string(static_cast<std::size_t>(size), '\0'));
        for (int workers : {0, 2}) {
            RecordingArchive a;
            a.CompressionLevel = fcFastest;
            a.WorkerThreads = workers;
            std::string path =
                Pack(a, {file}, "stage" + std::to_string(size) + "_" + std::to_string(workers) + ".cab");
            // One name for the archive being built; one more for a member staged on disk.
            ASSERT_EQ(a.names.size(), size > TZLBArchive::kMemoryStagingLimit ? 2u : 1u) << size;
            for (const std::string& name : a.names) EXPECT_FALSE(FileExists(name)) << name;
            ASSERT_EQ(a.Count(), 1);
            EXPECT_EQ(a.GetEntry(0).OriginalSize, size);
            EXPECT_EQ(a.GetEntry(0).Stored, 0);
            ArchiveReader r = ArchiveReader::FromFile(path);
            EXPECT_TRUE(r.VerifyArchiveCrc());
            std::int64_t total = 0;
            r.Extract(0, [&](const char*, std::size_t n) { total += static_cast<std::int64_t>(n); });
            EXPECT_EQ(total, size);
        }
    }
}

TEST_F(Component, ListHandlingFoldersAndUnreadableFiles) {
    TZLBArchive a;
    std::vector<std::string> files = {"x"};
    try {
        a.AddFiles(files);
        ADD_FAILURE();
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "No archive is currently open");
    }
    EXPECT_EQ(files.size(), 1u);
    EXPECT_THROW(a.IndexOfEntry("x"), Error);

    std::string top = Make("tree/top.txt", "top"), sub = Make("tree/sub/deep.txt", "deep");
    std::string folder = dir.File("tree");
    Wire(a);
    Pack(a, {folder, dir.File("missing.txt"), top});  // the folder is dropped silently
    ASSERT_EQ(a.Count(), 1);
    EXPECT_EQ(a.GetEntry(0).FileName, "top.txt");
    EXPECT_EQ(logged, (std::vector<std::string>{"Unable to open file (" + dir.File("missing.txt") + ")"}));

    TZLBArchive recursing;
    recursing.RecursePaths = true;
    Pack(recursing, {folder}, "tree.cab");
    ASSERT_EQ(recursing.Count(), 2);
    EXPECT_EQ(recursing.GetEntry(0).FileName, "deep.txt");  // subfolders' files come first
    EXPECT_EQ(recursing.GetEntry(1).FileName, "top.txt");

    TZLBArchive quiet;  // without OnErrorLogged a missing file is skipped without a word
    Pack(quiet, {dir.File("missing.txt")}, "quiet.cab");
    EXPECT_EQ(quiet.Count(), 0);
}

TEST_F(Component, SecondAddFilesExtendsTheArchive) {
    TZLBArchive a;
    a.CompressionLevel = fcMaximum;
    std::string path = Pack(a, {Make("one.txt", TextBytes(3000))});
    RegistryEntry first = a.GetEntry(0);
    std::vector<std::string> more = {Make("two.txt", TextBytes(4000))};
    a.AddFiles(more);
    ASSERT_EQ(a.Count(), 2);
    EXPECT_EQ(a.GetEntry(0), first);
    EXPECT_EQ(a.GetEntry(1).DataOffset, first.StoredSize);

    TZLBArchive reopened;
    ASSERT_TRUE(reopened.OpenArchive(path));
    EXPECT_EQ(reopened.Entries(), a.Entries());
    std::vector<std::string> third = {Make("three.txt", "3")};
    reopened.AddFiles(third);
    EXPECT_EQ(reopened.Count(), 3);
    EXPECT_EQ(ArchiveReader::FromFile(path).Extract(2), "3");

    TZLBArchive fromEmpty;  // extending an archive without members copies nothing
    std::string emptyPath = Pack(fromEmpty, {}, "empty.cab");
    std::vector<std::string> one = {Make("solo.txt", "solo")};
    fromEmpty.AddFiles(one);
    EXPECT_EQ(fromEmpty.GetEntry(0).DataOffset, 0);
}

TEST_F(Component, OpenAndCreateFailures) {
    TZLBArchive a;
    EXPECT_FALSE(a.OpenArchive(""));
    auto message = [](auto&& f) {
        try {
            f();
        } catch (const Error& e) {
            return std::string(e.what());
        }
        return std::string("no error");
    };
    EXPECT_EQ(message([&] { a.OpenArchive(dir.File("none.cab")); }), "Archive file not found");
    // The name stays, so AddFiles tries to extend that file and reports that it cannot.
    std::vector<std::string> files = {Make("f.txt", "f")};
    EXPECT_EQ(message([&] { a.AddFiles(files); }), "Unable to open file (" + dir.File("none.cab") + ")");

    std::string existing = Make("exists.cab", "keep me");
    EXPECT_EQ(message([&] { a.CreateArchive(existing); }), "File already exists");
    EXPECT_EQ(ReadFile(existing), "keep me");
    EXPECT_TRUE(a.ArchiveName().empty());
    EXPECT_EQ(message([&] { a.OpenArchive(existing); }), "The archive file appears to be corrupted");
    EXPECT_TRUE(a.ArchiveName().empty());

    // A screensaver: stub bytes in front of the archive. The component's CRC runs from the
    // file's first byte and refuses it; the reader finds the archive at the tail.
    std::string archive = ReadFile(Pack(a, {Make("Options.ini", "[Header]\r\n")}));
    std::string scr = Make("show.scr", RandomBytes(4096, 9) + archive);
    EXPECT_EQ(message([&] { a.OpenArchive(scr); }), "The archive file appears to be corrupted");
    ArchiveReader r = ArchiveReader::FromFile(scr);
    EXPECT_EQ(r.ArchiveStart(), 4096u);
    EXPECT_EQ(r.Extract(0), "[Header]\r\n");

    // A trailer with a valid CRC whose registry cannot exist.
    std::string bad = Make("bad.cab", BuildArchive({{"a", "aaaa"}}, [](auto&, ArchiveTrailer& t, auto&) {
                               t.EntryCount = 0x7FFFFFFF;
                           }));
    EXPECT_EQ(message([&] { a.OpenArchive(bad); }), "Unable to read archive file list");
    EXPECT_TRUE(a.ArchiveName().empty());
    std::string longer =
        Make("longer.cab", BuildArchive({{"a", "aaaa"}, {"b", "bbbb"}},
                                        [](auto&, ArchiveTrailer& t, auto&) { t.EntryCount = 1; }));
    EXPECT_EQ(message([&] { a.OpenArchive(longer); }), "Unable to read archive file list");
    std::string fewer =
        Make("fewer.cab",
             BuildArchive({{"a", "aaaa"}}, [](auto&, ArchiveTrailer& t, auto&) { t.EntryCount = 2; }));
    EXPECT_EQ(message([&] { a.OpenArchive(fewer); }), "Unable to read archive file list");
    std::string plain =
        Make("plain.cab", BuildArchive(
                              {{"p", "plain text plain text plain"}}, [](auto&, auto&, auto&) {}, false));
    EXPECT_TRUE(a.OpenArchive(plain));
    EXPECT_EQ(a.GetEntry(0).FileName, "p");

    bool opened = false;
    a.OnArchiveOpened = [&] {
        opened = true;
        throw std::runtime_error("handler failed");
    };
    EXPECT_EQ(message([&] { a.OpenArchive(plain); }), "Unable to read archive file list");
    EXPECT_TRUE(opened);
    EXPECT_TRUE(a.ArchiveName().empty());
}

TEST_F(Component, WorkerThreadsChangeNeitherBytesNorEvents) {
    std::string a1 = Make("one/photo.jpg", RandomBytes(300000, 11));
    std::string b = Make("two/photo.jpg", TextBytes(50000) + RandomBytes(200000, 12));
    std::string c = Make("empty.bmp", "");
    std::string d = Make("text.txt", TextBytes(400000));
    std::vector<std::string> list = {a1, dir.File("missing.jpg"), b, c, a1, d};
    std::vector<std::string> archives;
    std::vector<std::vector<Report>> sequences;
    std::vector<std::vector<std::string>> logs;
    for (int workers : {0, 1, 2}) {
        reports.clear();
        logged.clear();
        TZLBArchive a;
        a.CompressionLevel = fcMaximum;
        a.WorkerThreads = workers;
        Wire(a);
        std::string name = "w" + std::to_string(workers) + ".cab";
        Pack(a, list, name);
        EXPECT_EQ(a.Count(), 5);
        archives.push_back(ReadFile(dir.File(name)));
        // The archive's own name differs between runs; everything else must match.
        for (Report& r : reports)
            if (r.first == dir.File(name)) r.first = "<archive>";
        sequences.push_back(reports);
        logs.push_back(logged);
    }
    EXPECT_GE(std::count_if(sequences[0].begin(), sequences[0].end(),
                            [&](const Report& r) { return r.first == "Updating " + a1; }),
              8);  // a1 twice, four reports each
    for (std::size_t i = 1; i < archives.size(); ++i) {
        EXPECT_EQ(archives[i], archives[0]) << i;
        EXPECT_EQ(sequences[i], sequences[0]) << i;
        EXPECT_EQ(logs[i], logs[0]) << i;
    }
    EXPECT_EQ(logs[0], (std::vector<std::string>{"Unable to open file (" + dir.File("missing.jpg") + ")",
                                                 b + " already exists in the archive",
                                                 a1 + " already exists in the archive"}));
}

TEST_F(Component, FailureToPlaceTheArchiveIsReported) {
    // The archive's folder does not exist: the archive built in the temporary folder cannot
    // take its place. That is an error for the caller, and the temporary file is gone.
    RecordingArchive a;
    std::string target = dir.File("no/such/folder/out.cab");
    a.CreateArchive(target);
    std::vector<std::string> files = {Make("f.txt", "f")};
    try {
        a.AddFiles(files);
        ADD_FAILURE();
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to open file (" + target + ")");
    }
    ASSERT_EQ(a.names.size(), 1u);
    EXPECT_FALSE(FileExists(a.names[0]));
    EXPECT_FALSE(FileExists(target));
}

TEST_F(Component, AddingBeyondTheSizeLimitEndsAddFilesNamingTheFile) {
    std::string noise(3000, '\0');
    unsigned state = 12345;
    for (char& c : noise) c = static_cast<char>((state = state * 1103515245u + 12345u) >> 24);
    const std::string a = Make("a.bin", noise), b = Make("b.bin", noise + "x"),
                      big = Make("big.bin", noise + noise);

    // Together they pass the limit: the second one is named, with the limit, and nothing is written.
    for (const auto& [files, named] :
         std::vector<std::pair<std::vector<std::string>, std::string>>{{{a, b}, b}, {{big}, big}}) {
        TZLBArchive archive;
        Wire(archive);
        archive.SizeLimit = 5000;
        std::string path = dir.File("limit.cab");
        archive.CreateArchive(path);
        std::vector<std::string> list = files;
        try {
            archive.AddFiles(list);
            ADD_FAILURE() << "the archive passed its limit";
        } catch (const ArchiveLimitError& e) {
            EXPECT_NE(std::string(e.what()).find(named), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find("5000 bytes"), std::string::npos) << e.what();
        }
        archive.CloseArchive();
        EXPECT_FALSE(FileExists(path));
        EXPECT_TRUE(logged.empty());
    }
}

TEST_F(Component, AMemberSourceGivesTheBytesTheListedNameKeeps) {
    const std::string text = TextBytes(200000);  // compresses well
    std::string listed = Make("IMG_1.HEIC", "the user's own picture");
    std::string copy = Make("work/p2/IMG_1.HEIC", text);
    std::string plain = Make("notes.txt", text);
    std::string refused = Make("broken.heic", "cut short");
    for (int workers : {0, 2}) {
        logged.clear();
        TZLBArchive a;
        a.CompressionLevel = fcMaximum;
        a.WorkerThreads = workers;
        Wire(a);
        std::vector<std::size_t> asked;
        std::mutex mutex;
        a.OnMemberSource = [&](const std::string& path, std::size_t index) -> TZLBArchive::MemberSource {
            {
                std::lock_guard lock(mutex);
                asked.push_back(index);
            }
            if (path == listed) return {copy, true};
            if (path == refused) throw Error("cannot be decoded");
            return {};
        };
        std::string path = Pack(a, {plain, listed, refused, plain}, "src" + std::to_string(workers) + ".cab");
        std::sort(asked.begin(), asked.end());
        EXPECT_EQ(asked, (std::vector<std::size_t>{0, 1, 2, 3}));
        ASSERT_EQ(a.Count(), 3);
        EXPECT_EQ(a.GetEntry(1).FileName, "IMG_1.HEIC") << "the listed name, not the source's";
        EXPECT_EQ(a.GetEntry(1).Stored, 1) << "stored as it is, although it would shrink";
        EXPECT_EQ(a.GetEntry(1).Level, 0);
        EXPECT_EQ(a.GetEntry(1).OriginalSize, static_cast<std::int32_t>(text.size()));
        EXPECT_EQ(a.GetEntry(0).Stored, 0) << "other members are compressed as before";
        EXPECT_EQ(a.GetEntry(0).Level, 3);
        EXPECT_EQ(logged, (std::vector<std::string>{"Unable to open file (" + refused + ")",
                                                    plain + " already exists in the archive"}));
        const std::string bytes = ReadFile(path);
        ArchiveReader reader(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
        ASSERT_EQ(reader.Members().size(), 3u);
        EXPECT_EQ(reader.Extract(1), text) << "its CRC and bytes are the source's";
        EXPECT_EQ(ReadFile(listed), "the user's own picture");
    }
}

TEST_F(Component, ARefusedMemberEndsAddFilesAndLeavesNoArchive) {
    std::string good = Make("good.txt", TextBytes(1000));
    std::string bad = Make("bad.heic", "x");
    for (int workers : {0, 2}) {
        TZLBArchive a;
        a.WorkerThreads = workers;
        a.OnMemberSource = [&](const std::string& path, std::size_t) -> TZLBArchive::MemberSource {
            if (path == bad) throw MemberRefused(bad + " cannot be decoded.");
            return {};
        };
        const std::string path = dir.File("refused" + std::to_string(workers) + ".cab");
        a.CreateArchive(path);
        std::vector<std::string> files = {good, bad, good};
        try {
            a.AddFiles(files);
            FAIL() << "AddFiles went on";
        } catch (const MemberRefused& e) {
            EXPECT_EQ(std::string(e.what()), bad + " cannot be decoded.");
        }
        EXPECT_FALSE(FileExists(path));
        EXPECT_EQ(files.size(), 2u) << "the refused member and those after it stay in the list";
    }
}

TEST_F(Component, WaitingForAWorkerLetsTheCallerPaint) {
    std::string file = Make("slow.bin", TextBytes(5000));
    TZLBArchive a;
    a.WorkerThreads = 2;
    int waits = 0;
    std::atomic<bool> released{false};
    a.OnWaiting = [&] {
        // The worker is held until the calling thread has been called back at least once.
        ++waits;
        released = true;
    };
    a.OnMemberSource = [&](const std::string&, std::size_t) -> TZLBArchive::MemberSource {
        while (!released) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return {};
    };
    Pack(a, {file});
    EXPECT_GE(waits, 1);
    EXPECT_EQ(a.Count(), 1);
}

TEST_F(Component, EveryArchiveWrittenIsReadBack) {
    // One picture and 1,100 empty files (one name, each in a folder of its own).
    std::vector<std::string> files{Make("photo.jpg", RandomBytes(3000, 4))};
    for (int i = 0; i < 1100; ++i) files.push_back(Make("e" + std::to_string(i) + "/blank.png", ""));
    TZLBArchive a;
    a.CompressionLevel = fcMaximum;
    std::string path = Pack(a, files);
    ArchiveReader reader = ArchiveReader::FromFile(path);
    ASSERT_EQ(reader.Members().size(), 1101u);
    EXPECT_TRUE(reader.VerifyArchiveCrc());
    EXPECT_EQ(reader.Extract(0), RandomBytes(3000, 4));
    EXPECT_EQ(reader.Extract(1100), "");
}

TEST_F(Component, WritingOnceAfterAPlayerGivesTheBytesOfAStandAloneArchive) {
    // A compressible member, a random one (stored), one that cannot be read (left out), and one
    // over the memory staging limit.
    std::vector<std::string> files{Make("a.txt", TextBytes(300000)), Make("b.bin", RandomBytes(70000, 4)),
                                   dir.File("gone.jpg"), Make("c.txt", TextBytes(TZLBArchive::kMemoryStagingLimit + 5000))};
    for (int threads : {0, 2}) {
        TZLBArchive standAlone;
        standAlone.WorkerThreads = threads;
        standAlone.CompressionLevel = fcMaximum;
        const std::string archive = ReadFile(Pack(standAlone, files, "alone" + std::to_string(threads) + ".cab"));

        const std::string player = "MZ player " + RandomBytes(3000, 9);
        const std::string path = Make("show" + std::to_string(threads) + ".scr", player);
        TZLBArchive once;
        once.WorkerThreads = threads;
        once.CompressionLevel = fcMaximum;
        std::vector<std::string> list = files;
        FileStream out(path, FileStream::Mode::ReadWrite);
        out.SeekEnd();
        once.WriteArchive(out, list);
        out.Close();
        EXPECT_TRUE(list.empty());
        EXPECT_EQ(ReadFile(path), player + archive) << threads << " threads";
        EXPECT_EQ(once.Entries().size(), 3u);
        ArchiveReader reader = ArchiveReader::FromFile(path);
        EXPECT_TRUE(reader.VerifyArchiveCrc());
    }
}

TEST_F(Component, AFailureToWriteTheArchiveNamesTheFile) {
#ifdef _WIN32
    GTEST_SKIP() << "no /dev/full";
#else
    if (!FileExists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    std::vector<std::string> files{Make("a.bin", RandomBytes(200000, 2))};
    TZLBArchive a;
    FileStream out("/dev/full", FileStream::Mode::Create);
    try {
        a.WriteArchive(out, files);
        FAIL() << "a full disk went unnoticed";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("Cannot write /dev/full: the disk holding /dev/ is full"),
                  std::string::npos)
            << e.what();
    }
#endif
}
