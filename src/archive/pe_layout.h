#pragma once
// Where a Windows program keeps the fields a signature touches: its checksum, the security entry
// of its data directory and the certificate table that entry points to. A signed screensaver
// carries its archive just before that table, which always ends the file.

#include <cstdint>
#include <optional>

namespace nimbrel::archive {

class ByteSource;

struct PeLayout {
    std::uint64_t checksumOffset = 0;       // the optional header's CheckSum (4 bytes)
    std::uint64_t securityEntryOffset = 0;  // the data directory's security entry (8 bytes)
    std::uint64_t sizeOfHeaders = 0;        // SizeOfHeaders of the optional header
    std::uint32_t certTableOffset = 0;      // file offset of the certificate table, 0 when none
    std::uint32_t certTableSize = 0;
    bool pe32Plus = false;

    bool HasCertTable() const { return certTableOffset != 0 && certTableSize != 0; }
};

// The layout of the bytes when they begin with a PE image's headers, else nullopt. Only the
// headers are read; a header that points outside the bytes counts as no PE image.
std::optional<PeLayout> ReadPeLayout(const ByteSource& source);

// The padding a signer may put between the file's former end and the certificate table, which
// starts on an 8-byte boundary.
inline constexpr unsigned kCertTableAlignment = 8;

}  // namespace nimbrel::archive
