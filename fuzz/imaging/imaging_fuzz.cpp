// The first byte picks the parser (0 PCX, 1 WBMP, 2 EXIF); the rest is the file.
#include <cstddef>
#include <cstdint>

#include "imaging/decoders.h"
#include "imaging/exif.h"
#include "platform/error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t* file = data + 1;
    const std::size_t fileSize = size - 1;
    try {
        switch (data[0] % 3) {
            case 0: nimbrel::imaging::DecodePcx(file, fileSize); break;
            case 1: nimbrel::imaging::DecodeWbmp(file, fileSize); break;
            default: {
                const int o = nimbrel::imaging::ReadExifOrientation(file, fileSize);
                if (o < 1 || o > 8) __builtin_trap();
                break;
            }
        }
    } catch (const nimbrel::Error&) {
    }
    return 0;
}
