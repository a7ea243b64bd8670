#pragma once
// Stand-in for the core's archive reader until it lands in src/archive; same interface.
// Reads an archive that forms the tail of a larger byte range (a screensaver file).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace nimbrel::archive {

struct ArchiveMember {
    std::string name;
    std::string path;
    std::int32_t originalSize = 0;
    std::int32_t storedSize = 0;
    std::int32_t dataOffset = 0;
    std::uint32_t crc = 0;
    bool stored = false;
    int level = 0;
};

class ArchiveReader {
public:
    // Finds the archive at the end of `data`; throws nimbrel::Error when there is none or its
    // registry is damaged. The bytes must outlive the reader.
    ArchiveReader(const unsigned char* data, std::size_t size);
    const std::vector<ArchiveMember>& Members() const { return members_; }
    std::size_t ArchiveStart() const { return start_; }
    bool VerifyArchiveCrc() const;
    // The member's bytes; throws nimbrel::Error when they are damaged.
    std::string Extract(std::size_t index) const;

private:
    const unsigned char* data_;
    std::size_t size_;
    std::size_t start_ = 0;
    std::vector<ArchiveMember> members_;
};

}  // namespace nimbrel::archive
