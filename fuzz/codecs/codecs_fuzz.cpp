// The library decoder over any bytes: the first byte picks the name the bytes come with (which
// only matters for WBMP and headerless DIBs) and whether a size hint is given; the rest is the
// file. Every picture that opens is read to its end in uneven bands and its profile applied;
// a HEIF or AVIF grid is also read through the tile-row decoding whatever its size.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codecs/codecs.h"
#include "codecs/sources.h"
#include "imaging/picture_decoder.h"

namespace {

void ReadAll(std::unique_ptr<nimbrel::imaging::PictureSource> source) {
    using namespace nimbrel;
    if (!source) return;
    const int width = source->RowWidth(), height = source->RowHeight();
    // Large pictures are legal; reading them whole only slows the fuzzer down.
    if (width < 1 || height < 1 || static_cast<std::int64_t>(width) * height > 4'000'000) return;
    const codecs::SrgbConverter toSrgb(source->ColorProfile());
    std::vector<imaging::Pixel> band(static_cast<std::size_t>(width) * 7);
    for (int y = 0, step = 1; y < height; y += step, step = step % 7 + 1) {
        const int count = std::min(step, height - y);
        if (!source->ReadRows(y, count, band.data())) break;
        toSrgb.Apply(band.data(), static_cast<std::size_t>(count) * width);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace nimbrel;
    if (size < 1) return 0;
    static const char* const kNames[] = {"a.jpg",  "a.png",  "a.gif",  "a.bmp",  "a.dib", "a.pcx",
                                         "a.wbmp", "a.heic", "a.avif", "a.webp", "a.tif", "a"};
    const char* name = kNames[data[0] % 12];
    const imaging::DecodeHint hint = data[0] & 0x80 ? imaging::DecodeHint{160, 120} : imaging::DecodeHint{};
    const std::span<const std::uint8_t> bytes(data + 1, size - 1);
    const std::string format = codecs::DetectFormat(name, bytes);
    ReadAll(codecs::MakeLibraryDecoder()->Open(name, bytes, hint));
    if (format == "heif" || format == "avif") ReadAll(codecs::detail::OpenHeifGridInBands(bytes, format));
    return 0;
}

// The AV1 decoder behind libheif (libdav1d) keeps one 40-byte block after some damaged AVIF
// files; the stack ends inside the library, whose frames we cannot see past. That is left to
// the library; a leak of ours would show our own frames.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libdav1d\n";
}
