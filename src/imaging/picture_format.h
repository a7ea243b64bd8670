#pragma once
// Which picture format a file's bytes hold, told by their content: the players and the build
// choose a decoder this way, so that a converted picture keeps its name whatever it holds now.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace nimbrel::imaging {

// "jpeg", "png", "gif", "bmp", "pcx", "wbmp", "tga", "heif", "avif", "webp" or "tiff"; empty for
// anything else (icons and metafiles included). `name` only breaks ties for formats without a
// signature: WBMP, Targa without its 2.0 footer, and a DIB without its file header.
std::string DetectPictureFormat(std::string_view name, std::span<const std::uint8_t> bytes);

// What a picture's header says about its size, read from the file's first bytes without decoding
// (JPEG, PNG, GIF, BMP, PCX and Targa; any other format is `Unknown`).
struct PictureHeader {
    enum class State {
        Read,     // width and height are the stored size
        Damaged,  // the header is broken (or the file ends inside it): no decoder can read it
        Unknown,  // not told by these bytes (another format, or the header lies further on)
    };
    State state = State::Unknown;
    std::int64_t width = 0, height = 0;
};
// `complete`: `bytes` is the whole file, so running out of bytes means the file is cut short.
PictureHeader ReadPictureHeader(std::string_view format, std::span<const std::uint8_t> bytes, bool complete);

// The size a picture's header declares, read from its first bytes without decoding anything
// (JPEG, PNG, GIF, BMP/DIB, PCX and WebP), so that a picture too large to decode can be turned
// away before a decoder takes its word. False when the bytes hold none of these or end before
// the size (a JPEG's may follow long metadata: give the first 256 KiB or so).
bool DeclaredPictureSize(std::string_view name, std::span<const std::uint8_t> head, std::int64_t& width,
                         std::int64_t& height);

}  // namespace nimbrel::imaging
