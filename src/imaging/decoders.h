#pragma once
// Decoders of our own for the picture formats the system decoders don't read: PCX, WBMP and
// Targa (TGA).
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

// Targa: true colour of 15, 16, 24 or 32 bits, 8-bit greyscale and 8-bit colour-mapped pictures,
// uncompressed or RLE, rows bottom-up or top-down, with or without the TGA 2.0 footer. A 32-bit
// picture whose alpha is 0 everywhere is taken as opaque.
Image DecodeTga(const std::uint8_t* data, std::size_t size);
// The header (first 18 bytes) describes a picture DecodeTga reads; TGA has no signature.
bool LooksLikeTgaHeader(const std::uint8_t* data, std::size_t size);
// The bytes end with the TGA 2.0 footer ("TRUEVISION-XFILE.").
bool HasTgaFooter(const std::uint8_t* data, std::size_t size);

}  // namespace nimbrel::imaging
