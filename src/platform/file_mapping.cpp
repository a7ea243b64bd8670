// The portable parts of platform/file_mapping.h.
#include "platform/file_mapping.h"

#include <algorithm>
#include <vector>

namespace nimbrel::platform {

bool MappedFile::MoveDataBuffered(std::uint64_t from, std::uint64_t to, std::uint64_t length) {
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(length, 4u << 20)));
    for (std::uint64_t done = 0; done < length;) {
        auto chunk = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), length - done));
        // Towards the end the chunks go from the back, towards the start from the front, so no
        // chunk overwrites bytes that are still to be moved.
        std::uint64_t at = to > from ? length - done - chunk : done;
        if (!ReadAt(from + at, buffer.data(), chunk) || !WriteAt(to + at, buffer.data(), chunk)) return false;
        done += chunk;
    }
    return true;
}

}  // namespace nimbrel::platform
