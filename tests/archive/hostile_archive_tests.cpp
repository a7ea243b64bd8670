// Archives made by strangers: members that share or repeat data, registries that declare more
// than the file can hold, and trailers that describe no archive at all.
#include <gtest/gtest.h>

#include "archive/archive_reader.h"
#include "archive_test_util.h"
#include "platform/error.h"

using namespace nimbrel::archive;
using namespace nimbrel::archive::testdata;
using nimbrel::Error;

namespace {

std::string OpenError(const std::string& file) {
    try {
        ArchiveReader r(Bytes(file), file.size());
    } catch (const Error& e) {
        return e.what();
    }
    return "no error";
}

// `count` records that all describe member 0 of `members`: the same stream, over and over.
std::string Repeated(const std::vector<RawMember>& members, int count) {
    return BuildArchive(members, [count](std::vector<RegistryEntry>& e, ArchiveTrailer& t, auto&) {
        RegistryEntry first = e[0];
        e.assign(static_cast<std::size_t>(count), first);
        t.EntryCount = count;
    });
}

}  // namespace

TEST(HostileArchive, MembersThatShareDataAreRefused) {
    // Ten records over one stream of 20,000 compressible bytes: extracting would write ten copies.
    std::string tenOverOne = Repeated({{"frame.bmp", std::string(20000, 'A')}}, 10);
    EXPECT_EQ(
        OpenError(tenOverOne),
        "The archive is damaged: the data of member 2 (frame.bmp) overlaps that of member 1 (frame.bmp)");

    // A member whose data starts inside the one before it, in either registry order.
    std::vector<RawMember> three = {{"a.bin", RandomBytes(300, 1), false},
                                    {"b.bin", RandomBytes(300, 2), false},
                                    {"c.bin", RandomBytes(300, 3), false}};
    std::string inside = BuildArchive(three, [](std::vector<RegistryEntry>& e, auto&, auto&) {
        e[2].DataOffset = 450;
        e[2].StoredSize = e[2].OriginalSize = 150;
    });
    EXPECT_EQ(OpenError(inside),
              "The archive is damaged: the data of member 3 (c.bin) overlaps that of member 2 (b.bin)");
    std::string reversed = BuildArchive(three, [](std::vector<RegistryEntry>& e, auto&, auto&) {
        std::swap(e[0], e[2]);
        e[1].DataOffset = 0;
    });
    EXPECT_EQ(OpenError(reversed),
              "The archive is damaged: the data of member 3 (a.bin) overlaps that of member 2 (b.bin)");

    // What a writer does produce stays readable: empty members share the offset of the next one,
    // and members may be listed out of data order as long as nothing is shared.
    std::vector<RawMember> withEmpty = {{"empty1", ""}, {"x.txt", TextBytes(500)}, {"empty2", ""}};
    std::string fine = BuildArchive(withEmpty);
    ArchiveReader r(Bytes(fine), fine.size());
    ASSERT_EQ(r.Members().size(), 3u);
    EXPECT_EQ(r.Extract(1), TextBytes(500));
    EXPECT_EQ(r.Extract(2), "");
    std::string swapped =
        BuildArchive(three, [](std::vector<RegistryEntry>& e, auto&, auto&) { std::swap(e[0], e[2]); });
    ArchiveReader s(Bytes(swapped), swapped.size());
    EXPECT_EQ(s.Extract(0), RandomBytes(300, 3));
}

TEST(HostileArchive, DeclaredSizesMustComeFromTheBytesPresent) {
    // A stored member of 0 bytes that claims a length, and one whose data runs into the registry.
    std::vector<RawMember> one = {{"a.bin", RandomBytes(300, 1), false}};
    EXPECT_EQ(OpenError(BuildArchive(
                  one, [](std::vector<RegistryEntry>& e, auto&, auto&) { e[0].StoredSize = 0; })),
              "The archive is damaged: member 1 (a.bin) is stored with a size that differs from its length");
    EXPECT_EQ(OpenError(BuildArchive(one, [](std::vector<RegistryEntry>& e, auto&,
                                             auto&) { e[0].StoredSize = e[0].OriginalSize = 301; })),
              "The archive is damaged: member 1 (a.bin) lies outside the member data area");
}

TEST(HostileArchive, MemoryFollowsTheFileNotTheDeclaredCount) {
    // 5,000 identical records of one empty member: what a writer makes of 5,000 empty files of
    // one name in different folders. Their registry is a few kilobytes, as deflate allows.
    std::string many = Repeated({{"x", ""}}, 5000);
    EXPECT_LT(many.size(), 20000u);
    EXPECT_EQ(OpenError(many), "no error");
    // Claiming more records than the registry's bytes can inflate to is refused before inflating.
    std::string claims = BuildArchive({{"x", ""}}, [](auto& e, ArchiveTrailer& t, std::string& reg) {
        reg = CompressBytes(EncodeRegistry(e), fcMaximum);
        t.EntryCount = static_cast<std::int32_t>(reg.size() * kMaxInflateRatio / kRegistryEntrySize + 1);
    });
    EXPECT_NE(OpenError(claims).find("its registry cannot hold"), std::string::npos);
    // 100,000 records over one byte of data: refused as overlapping long before all are read.
    std::string shared = Repeated({{"x", "1", false}}, 100000);
    EXPECT_NE(OpenError(shared).find("overlaps that of member 1 (x)"), std::string::npos);
    // A handful of empty files is normal.
    std::vector<RawMember> empties(40, RawMember{"e", ""});
    empties.push_back({"Options.ini", TextBytes(300)});
    EXPECT_EQ(OpenError(BuildArchive(empties)), "no error");
}

TEST(HostileArchive, ATrailerOfZerosIsNoArchive) {
    // A plain registry of no members is never written: an empty archive has a compressed registry.
    std::string zeros = RandomBytes(5000, 8) + std::string(kTrailerSize, '\0');
    EXPECT_EQ(OpenError(zeros), "No archive found at the end of the file");
    EXPECT_EQ(OpenError(std::string(kTrailerSize, '\0')), "No archive found at the end of the file");
    // The true empty archive: 44 bytes with a compressed registry.
    std::string empty = BuildArchive({});
    EXPECT_EQ(empty.size(), 44u);
    EXPECT_EQ(OpenError(empty), "no error");
}
