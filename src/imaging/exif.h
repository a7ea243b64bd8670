#pragma once
// EXIF orientation of JPEG photos, so that the player and the viewer show them upright.

#include <cstddef>
#include <cstdint>

#include "imaging/image.h"
#include "imaging/layout.h"

namespace nimbrel::imaging {

// The Orientation tag (0x0112) of IFD0 in a JPEG's APP1 "Exif" block, 1..8; 1 (as stored) when
// the data is no JPEG, has no such tag, holds a value outside 1..8, or is malformed. Every read
// is bounds-checked; the scan stops at the first start-of-scan marker.
int ReadExifOrientation(const std::uint8_t* data, std::size_t size);

// The picture turned upright for an EXIF orientation: 2 mirrors, 3 turns 180 degrees, 4 flips
// vertically, 5 transposes, 6 turns 90 degrees clockwise, 7 transverses, 8 turns 90 degrees
// anticlockwise; 1 and any other value return the picture unchanged.
Image ApplyOrientation(const Image& image, int orientation);

// The part of a storedWidth x storedHeight picture that ApplyOrientation turns into `upright`
// (a rectangle of the upright picture): cropping there and then turning gives the same pixels as
// turning and then cropping.
Rect StoredRect(const Rect& upright, int orientation, int storedWidth, int storedHeight);

}  // namespace nimbrel::imaging
