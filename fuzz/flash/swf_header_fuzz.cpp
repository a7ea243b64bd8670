// libFuzzer target: a movie's header and tags, and the recorded frames' index, from any bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "flash/frame_index.h"
#include "flash/swf_header.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        const nimbrel::flash::SwfInfo info = nimbrel::flash::ReadSwfInfo({data, size});
        if (info.width <= 0 || info.height <= 0) __builtin_trap();
    } catch (const nimbrel::flash::SwfError&) {
    }
    const auto index = nimbrel::flash::ReadFrameIndex(std::string(reinterpret_cast<const char*>(data), size));
    if (index && (index->frames.empty() || !(index->frameRate > 0))) __builtin_trap();
    return 0;
}
