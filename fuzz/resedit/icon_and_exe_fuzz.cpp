// Fuzzes the icon and the executable together: the input is the icon's length in 4 bytes,
// the icon, then the executable.
#include "icon_edit_round.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace nimbrel::fuzzinputs;
    static IconWorkspace work;
    if (size < 4) return 0;
    std::size_t icoSize = static_cast<std::size_t>(data[0]) | (static_cast<std::size_t>(data[1]) << 8) |
                          (static_cast<std::size_t>(data[2]) << 16) |
                          (static_cast<std::size_t>(data[3]) << 24);
    data += 4;
    size -= 4;
    if (icoSize > size) icoSize = size;
    IconWorkspace::Write(work.ico, data, icoSize);
    IconWorkspace::Write(work.exe, data + icoSize, size - icoSize);
    work.Run();
    return 0;
}
