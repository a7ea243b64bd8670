#include <gtest/gtest.h>

#include "archive/archive_reader.h"
#include "archive_test_util.h"
#include "platform/error.h"

using namespace nimbrel::archive;
using namespace nimbrel::archive::testdata;
using nimbrel::Error;

namespace {

std::string ErrorOf(const std::string& file) {
    try {
        ArchiveReader r(Bytes(file), file.size());
        for (std::size_t i = 0; i < r.Members().size(); ++i) r.Extract(i);
    } catch (const Error& e) {
        return e.what();
    }
    return "no error";
}

std::vector<RawMember> Sample() {
    return {
        {"Options.ini", TextBytes(700)}, {"About.cfg", "Lake\r\nHello\r\n"}, {"photo.jpg", RandomBytes(900)}};
}

}  // namespace

TEST(ArchiveReader, FindsTheArchiveBehind300000Bytes) {
    std::string archive = BuildArchive(Sample());
    std::string file = RandomBytes(300000, 5) + archive;
    ArchiveReader r(Bytes(file), file.size());
    EXPECT_EQ(r.ArchiveStart(), 300000u);
    EXPECT_EQ(r.ArchiveLength(), archive.size());
    ASSERT_EQ(r.Members().size(), 3u);
    EXPECT_EQ(r.Members()[0].dataOffset, 0);
    EXPECT_EQ(r.Members()[0].name, "Options.ini");
    EXPECT_FALSE(r.Members()[0].stored);
    EXPECT_EQ(r.Members()[0].level, 3);
    EXPECT_TRUE(r.Members()[2].stored);
    EXPECT_TRUE(r.VerifyArchiveCrc());
    EXPECT_EQ(r.Extract(0), TextBytes(700));
    EXPECT_EQ(r.Extract(r.IndexOf("about.CFG")), "Lake\r\nHello\r\n");
    EXPECT_EQ(r.IndexOf("nothing"), -1);
    std::string streamed;
    r.Extract(2, [&](const char* d, std::size_t n) { streamed.append(d, n); });
    EXPECT_EQ(streamed, RandomBytes(900));
    EXPECT_THROW(r.Extract(3), Error);
}

TEST(ArchiveReader, AnyChangedByteFailsTheCrc) {
    std::string archive = BuildArchive(Sample());
    for (std::size_t i = 0; i + kTrailerSize < archive.size(); ++i) {
        std::string damaged = archive;
        damaged[i] = static_cast<char>(damaged[i] ^ 0x20);
        try {
            ArchiveReader r(Bytes(damaged), damaged.size());
            EXPECT_FALSE(r.VerifyArchiveCrc()) << "byte " << i;
        } catch (const Error&) {
            // a damaged registry may already be refused when the archive is opened
        }
    }
}

TEST(ArchiveReader, TruncatedFilesNeverCrash) {
    std::string archive = BuildArchive(Sample());
    for (std::size_t size = 0; size < archive.size(); ++size) {
        std::string cut = archive.substr(0, size);
        EXPECT_NE(ErrorOf(cut), "no error") << size;
    }
    EXPECT_EQ(ErrorOf(""), "No archive found: the file is shorter than an archive trailer");
}

TEST(ArchiveReader, HostileTrailersAndRegistries) {
    auto with = [](auto patch, bool compressed = true) { return BuildArchive(Sample(), patch, compressed); };
    std::string noArchive = "No archive found at the end of the file";
    EXPECT_NE(ErrorOf(with([](auto&, ArchiveTrailer& t, auto&) { t.EntryCount = -1; })).find(noArchive),
              std::string::npos);
    EXPECT_NE(
        ErrorOf(with([](auto&, ArchiveTrailer& t, auto&) { t.EntryCount = 0x7FFFFFFF; })).find(noArchive),
        std::string::npos);
    EXPECT_NE(ErrorOf(with([](auto&, ArchiveTrailer& t, auto&) { t.EntryCount = 0x7FFFFFFF; }, false))
                  .find(noArchive),
              std::string::npos);
    EXPECT_NE(
        ErrorOf(with([](auto&, ArchiveTrailer& t, auto&) { t.RegistryOffset = 0x7FFFFF00; })).find(noArchive),
        std::string::npos);
    EXPECT_NE(ErrorOf(with([](auto&, ArchiveTrailer& t, auto&) { t.RegistryOffset = -5; })).find(noArchive),
              std::string::npos);
    EXPECT_EQ(ErrorOf(with([](auto&, ArchiveTrailer& t, auto&) { t.EntryCount = 2; })),
              "The archive is damaged: the registry holds more entries than its trailer declares");
    EXPECT_EQ(ErrorOf(with([](auto&, ArchiveTrailer& t, auto&) { t.EntryCount = 4; })),
              "The archive is damaged: the registry holds fewer entries than its trailer declares");
    EXPECT_EQ(ErrorOf(with([](auto&, auto&, std::string& reg) { reg = "not a zlib stream at all"; })),
              "The archive is damaged: the registry cannot be inflated");
}

TEST(ArchiveReader, RegistryClaimsAreBoundedBeforeInflating) {
    // 600 KB of "registry" could in theory inflate far enough for these counts: the first is
    // refused outright, the second fails at the first bad byte instead of reserving 478 MB.
    std::string garbage = RandomBytes(600000, 21);
    auto claim = [&](std::int32_t count) {
        return ErrorOf(BuildArchive(Sample(), [&](auto&, ArchiveTrailer& t, std::string& reg) {
            reg = garbage;
            t.EntryCount = count;
        }));
    };
    EXPECT_EQ(claim(1000001), "No archive found at the end of the file (its trailer claims 1000001 members)");
    EXPECT_EQ(claim(900000), "The archive is damaged: the registry cannot be inflated");
}

TEST(ArchiveReader, HostileMemberRecords) {
    auto entry = [](int index, auto change) {
        return BuildArchive(Sample(), [=](std::vector<RegistryEntry>& e, auto&, auto&) { change(e[index]); });
    };
    EXPECT_EQ(ErrorOf(entry(0, [](RegistryEntry& e) { e.DataOffset = 100000; })),
              "The archive is damaged: member 1 (Options.ini) lies outside the member data area");
    EXPECT_EQ(ErrorOf(entry(2, [](RegistryEntry& e) { e.StoredSize = -1; })),
              "The archive is damaged: member 3 (photo.jpg) has a negative size or offset");
    EXPECT_EQ(
        ErrorOf(entry(2, [](RegistryEntry& e) { e.OriginalSize = 5; })),
        "The archive is damaged: member 3 (photo.jpg) is stored with a size that differs from its length");
    EXPECT_EQ(
        ErrorOf(entry(0, [](RegistryEntry& e) { e.OriginalSize = 0x7FFFFFFF; })),
        "The archive is damaged: member 1 (Options.ini) claims more bytes than its compressed data can hold");
    EXPECT_EQ(ErrorOf(entry(1, [](RegistryEntry& e) { e.Crc ^= 1; })),
              "The archive is damaged: member \"About.cfg\" fails its CRC check");
    EXPECT_EQ(ErrorOf(entry(0, [](RegistryEntry& e) { e.OriginalSize += 1; })),
              "The archive is damaged: member \"Options.ini\" inflates to fewer bytes than declared");
    // A zip bomb in small: a megabyte of zeros that declares 1000 bytes stops at 1001.
    std::string bomb =
        BuildArchive({{"bomb.bmp", std::string(1 << 20, '\0')}},
                     [](std::vector<RegistryEntry>& e, auto&, auto&) { e[0].OriginalSize = 1000; });
    std::size_t delivered = 0;
    try {
        ArchiveReader r(Bytes(bomb), bomb.size());
        r.Extract(0, [&](const char*, std::size_t n) { delivered += n; });
        ADD_FAILURE();
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(),
                     "The archive is damaged: member \"bomb.bmp\" inflates beyond its declared size");
    }
    EXPECT_LE(delivered, 1000u);
    EXPECT_EQ(ErrorOf(entry(0, [](RegistryEntry& e) { e.StoredSize -= 4; })),
              "The archive is damaged: the data of member \"Options.ini\" cannot be inflated");
}

TEST(ArchiveReader, MembersReadFromAnyPlaceAsTheyInflate) {
    const std::string text = TextBytes(300000), noise = RandomBytes(5000);
    const std::string archive = BuildArchive({{"text.bmp", text}, {"noise.jpg", noise}});
    ArchiveReader r(Bytes(archive), archive.size());
    ASSERT_FALSE(r.Members()[0].stored);
    ASSERT_TRUE(r.Members()[1].stored);
    for (std::size_t index : {0u, 1u}) {
        const std::string& whole = index == 0 ? text : noise;
        std::unique_ptr<MemberReader> member = r.OpenMember(index);
        ASSERT_EQ(member->Size(), whole.size());
        std::string piece(1000, '\0');
        // Forward, with a gap; back to the start; over the end.
        for (std::uint64_t at : {0u, 4000u, 170000u, 10u, 4500u}) {
            if (at >= whole.size()) continue;
            const std::size_t got = member->ReadAt(at, piece.data(), piece.size());
            ASSERT_EQ(got, std::min<std::size_t>(1000, whole.size() - at)) << at;
            EXPECT_EQ(piece.substr(0, got), whole.substr(at, got)) << at;
        }
        EXPECT_EQ(member->ReadAt(whole.size() - 5, piece.data(), piece.size()), 5u);
        EXPECT_EQ(member->ReadAt(whole.size(), piece.data(), piece.size()), 0u);
    }
    // A deflated member whose bytes fail its CRC says so once it has been read to its end.
    const std::string bad = BuildArchive({{"text.bmp", text}}, [](std::vector<RegistryEntry>& e, auto&, auto&) {
        e[0].Crc ^= 1;
    });
    ArchiveReader damaged(Bytes(bad), bad.size());
    std::unique_ptr<MemberReader> member = damaged.OpenMember(0);
    std::string all(text.size(), '\0');
    try {
        member->ReadAt(0, all.data(), all.size());
        ADD_FAILURE() << "no error";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "The archive is damaged: member \"text.bmp\" fails its CRC check");
    }
}

TEST(ArchiveReader, ReadsFilesOnDisk) {
    std::string archive = BuildArchive(Sample());
    EXPECT_THROW(ArchiveReader::FromFile("/nonexistent/x.scr"), Error);
    std::string path = ::testing::TempDir() + "reader_test.scr";
    WriteFile(path, std::string(1234, 'M') + archive);
    ArchiveReader r = ArchiveReader::FromFile(path);
    EXPECT_EQ(r.ArchiveStart(), 1234u);
    EXPECT_TRUE(r.VerifyArchiveCrc());
    EXPECT_EQ(r.Extract(2), RandomBytes(900));
    std::remove(path.c_str());
}
