#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "archive/archive_format.h"
#include "archive/zlib_stream.h"
#include "archive_test_util.h"
#include "platform/error.h"

using namespace nimbrel::archive;

TEST(ArchiveFormat, TrailerBytesAreLittleEndianAtTheirOffsets) {
    ArchiveTrailer t;
    t.ArchiveCrc = 0x11223344;
    t.EntryCount = 2;
    t.AlwaysOne = 1;
    t.RegistrySize = 0x0102;
    t.RegistryOffset = -2;
    t.RegistryCompressed = 1;
    TrailerBytes b = EncodeTrailer(t);
    const unsigned char expected[21] = {0x44, 0x33, 0x22, 0x11, 2, 0,    0,    0,    1,    0, 0,
                                        0,    0x02, 0x01, 0,    0, 0xFE, 0xFF, 0xFF, 0xFF, 1};
    EXPECT_EQ(0, std::memcmp(b.data(), expected, sizeof expected));
    for (std::size_t i = 21; i < kTrailerSize; ++i) EXPECT_EQ(b[i], 0) << i;
    EXPECT_EQ(DecodeTrailer(b.data()), t);
}

TEST(ArchiveFormat, EntryRecordLayoutAndNameCut) {
    RegistryEntry e;
    e.FileName = std::string(300, 'n');
    e.FilePath = "/pics/";
    e.OriginalSize = 1000;
    e.StoredSize = 900;
    e.DataOffset = 0x01020304;
    e.Crc = 0xCAFEBABE;
    e.Stored = 0;
    e.Level = fcMaximum;
    EntryBytes b = EncodeEntry(e);
    EXPECT_EQ(b[0], 255);
    EXPECT_EQ(b[255], 'n');
    EXPECT_EQ(b[256], 6);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[257]), 6), "/pics/");
    EXPECT_EQ(b[263], 0);
    EXPECT_EQ(ReadI32(&b[512]), 1000);
    EXPECT_EQ(ReadI32(&b[516]), 900);
    EXPECT_EQ(b[520], 0x04);
    EXPECT_EQ(b[523], 0x01);
    EXPECT_EQ(ReadU32(&b[524]), 0xCAFEBABEu);
    EXPECT_EQ(b[529], 3);
    EXPECT_EQ(b[530], 0);
    EXPECT_EQ(b[531], 0);
    RegistryEntry back = DecodeEntry(b.data());
    EXPECT_EQ(back.FileName, std::string(255, 'n'));
    e.FileName = back.FileName;
    EXPECT_EQ(back, e);
}

TEST(ArchiveFormat, LevelsCrcAndPercentages) {
    EXPECT_EQ(ZlibLevel(fcNone), 0);
    EXPECT_EQ(ZlibLevel(fcFastest), 1);
    EXPECT_EQ(ZlibLevel(fcDefault), -1);
    EXPECT_EQ(ZlibLevel(fcMaximum), 9);
    EXPECT_EQ(Crc32("123456789"), 0xCBF43926u);
    EXPECT_EQ(Crc32(""), 0u);
    // Halves go to the even neighbour.
    EXPECT_EQ(ProgressPercentage(1, 200), 0);  // 0.5
    EXPECT_EQ(ProgressPercentage(3, 200), 2);  // 1.5
    EXPECT_EQ(ProgressPercentage(5, 200), 2);  // 2.5
    EXPECT_EQ(ProgressPercentage(4096, 5320), 77);
    EXPECT_EQ(ProgressPercentage(1, 0), 0);
}

TEST(ArchiveFormat, ArchiveLengthFollowsTheTrailer) {
    ArchiveTrailer t;
    t.EntryCount = 3;
    t.RegistryOffset = 100;
    t.RegistrySize = 40;
    t.RegistryCompressed = 1;
    EXPECT_EQ(ArchiveLength(t), 176);
    t.RegistryCompressed = 0;
    EXPECT_EQ(ArchiveLength(t), 100 + 3 * 532 + 36);
    t.EntryCount = -1;
    EXPECT_EQ(ArchiveLength(t), -1);
}

TEST(ZlibStreams, CompressionReportsOncePerFullOutputBuffer) {
    std::string data = testdata::RandomBytes(300000);
    std::string out;
    std::vector<std::uint64_t> reports;
    CompressionStream z(
        fcMaximum,
        [&](const unsigned char* p, std::size_t n) { out.append(reinterpret_cast<const char*>(p), n); },
        [&](const CompressionStream& s) { reports.push_back(s.TotalIn()); });
    z.Write(data.data(), data.size());
    z.Finish();
    EXPECT_EQ(reports.size(), out.size() / CompressionStream::kBufferSize);
    EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end()));
    EXPECT_EQ(out, CompressBytes(data, fcMaximum));
    EXPECT_EQ(CompressBytes("", fcMaximum).size(), 8u);

    std::size_t at = 0;
    DecompressionStream in([&](unsigned char* buffer, std::size_t capacity) {
        std::size_t n = std::min(capacity, out.size() - at);
        std::memcpy(buffer, out.data() + at, n);
        at += n;
        return n;
    });
    std::string back(data.size() + 10, '\0');
    EXPECT_EQ(in.Read(back.data(), back.size()), data.size());
    EXPECT_TRUE(in.AtEnd());
    back.resize(data.size());
    EXPECT_EQ(back, data);
}

TEST(ZlibStreams, TruncatedOrDamagedStreamsFail) {
    std::string z = CompressBytes(testdata::TextBytes(5000), fcDefault);
    for (std::string bad : {z.substr(0, z.size() / 2), std::string("garbage!"), z.substr(0, z.size() - 1)}) {
        std::size_t at = 0;
        DecompressionStream in([&](unsigned char* buffer, std::size_t capacity) {
            std::size_t n = std::min(capacity, bad.size() - at);
            std::memcpy(buffer, bad.data() + at, n);
            at += n;
            return n;
        });
        std::string out(10000, '\0');
        EXPECT_THROW(in.Read(out.data(), out.size()), nimbrel::Error);
    }
}
