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

}  // namespace nimbrel::imaging
