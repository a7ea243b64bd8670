#include "signing/pe_checksum.h"

#include <cstring>

namespace nimbrel::signing {

void PeChecksum::Add(std::uint64_t offset, const unsigned char* data, std::size_t size) {
    if (size == 0) return;
    if (offset & 1) {  // the high byte of a word
        sum_ += static_cast<std::uint64_t>(data[0]) << 8;
        ++data;
        --size;
    }
    // Words in batches small enough that the 64-bit sum cannot overflow, folded between them.
    std::uint64_t sum = 0;
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        std::uint64_t v;
        std::memcpy(&v, data + i, 8);
        // Little-endian host assumed by memcpy: the four words of v.
        sum += (v & 0xFFFF) + ((v >> 16) & 0xFFFF) + ((v >> 32) & 0xFFFF) + (v >> 48);
    }
    for (; i + 2 <= size; i += 2) sum += static_cast<std::uint64_t>(data[i]) | static_cast<std::uint64_t>(data[i + 1]) << 8;
    if (i < size) sum += data[i];
    sum_ += sum;
    sum_ = (sum_ & 0xFFFFFFFF) + (sum_ >> 32);
}

std::uint32_t PeChecksum::Finish(std::uint64_t fileSize) const {
    std::uint64_t sum = sum_;
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint32_t>(sum + fileSize);
}

}  // namespace nimbrel::signing
