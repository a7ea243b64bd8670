#pragma once
// Decoders of our own for the picture formats the system decoders don't read: PCX and WBMP.
// Both take the whole file's bytes and raise nimbrel::Error (never crash, never allocate more
// than the picture's size allows) for damaged, truncated, oversized or unsupported files.

#include <cstddef>
#include <cstdint>

#include "imaging/image.h"

namespace nimbrel::imaging {

// PCX (ZSoft): 1-bit monochrome, 1-bit x 2..4 planes (EGA, header palette), 2/4-bit packed
// (header palette), 8-bit with the 256-colour palette after 0x0C at the end (greyscale when the
// palette is missing), 24-bit as 3 planes and 32-bit as 4 planes; RLE or uncompressed.
Image DecodePcx(const std::uint8_t* data, std::size_t size);

// WBMP type 0: 1 bit a pixel, 1 white and 0 black, multi-byte width and height.
Image DecodeWbmp(const std::uint8_t* data, std::size_t size);

}  // namespace nimbrel::imaging
