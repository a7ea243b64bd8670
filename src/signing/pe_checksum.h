#pragma once
// The PE checksum: the file's 16-bit little-endian words added with end-around carry, the
// CheckSum field itself counted as zero, plus the file's length. Bytes may be added in any
// order and any pieces, each at its file offset.

#include <cstddef>
#include <cstdint>

namespace nimbrel::signing {

class PeChecksum {
public:
    void Add(std::uint64_t offset, const unsigned char* data, std::size_t size);
    std::uint32_t Finish(std::uint64_t fileSize) const;

private:
    std::uint64_t sum_ = 0;
};

}  // namespace nimbrel::signing
