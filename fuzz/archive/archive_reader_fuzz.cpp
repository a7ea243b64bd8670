// Feeds arbitrary bytes to the archive reader: it may refuse them with nimbrel::Error, but must
// never crash, hang or allocate without bound.
#include <cstddef>
#include <cstdint>

#include "archive/archive_reader.h"
#include "platform/error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        nimbrel::archive::ArchiveReader reader(data, size);
        reader.VerifyArchiveCrc();
        reader.IndexOf("Options.ini");
        for (std::size_t i = 0; i < reader.Members().size(); ++i) {
            try {
                std::size_t total = 0;
                reader.Extract(i, [&total](const char*, std::size_t n) { total += n; });
                if (total != static_cast<std::size_t>(reader.Members()[i].originalSize)) __builtin_trap();
            } catch (const nimbrel::Error&) {
            }
        }
    } catch (const nimbrel::Error&) {
    }
    return 0;
}
