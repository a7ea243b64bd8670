#pragma once
// Decoders for the two picture formats the system's graphics library does not read: PCX
// (ZSoft, 1, 4 and 8 bits per pixel, one to four planes) and WBMP (type 0, black and white).

#include <cstdint>
#include <string_view>
#include <vector>

namespace nimbrel::player {

struct DecodedPicture {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;  // top-down rows, 0x00RRGGBB; empty when not decodable
};

// Pictures larger than this many pixels are refused rather than allocated.
inline constexpr std::int64_t kMaxPicturePixels = 100'000'000;

DecodedPicture DecodePcx(std::string_view bytes);
DecodedPicture DecodeWbmp(std::string_view bytes);

}  // namespace nimbrel::player
