#pragma once
// Which picture format a file's bytes hold, told by their content: the players and the build
// choose a decoder this way, so that a converted picture keeps its name whatever it holds now.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace nimbrel::imaging {

// "jpeg", "png", "gif", "bmp", "pcx", "wbmp", "heif", "avif", "webp" or "tiff"; empty for
// anything else (icons and metafiles included). `name` only breaks ties for formats without a
// signature: WBMP, and a DIB without its file header.
std::string DetectPictureFormat(std::string_view name, std::span<const std::uint8_t> bytes);

// The size a picture's header declares, read from its first bytes without decoding anything
// (JPEG, PNG, GIF, BMP/DIB, PCX and WebP), so that a picture too large to decode can be turned
// away before a decoder takes its word. False when the bytes hold none of these or end before
// the size (a JPEG's may follow long metadata: give the first 256 KiB or so).
bool DeclaredPictureSize(std::string_view name, std::span<const std::uint8_t> head, std::int64_t& width,
                         std::int64_t& height);

}  // namespace nimbrel::imaging
