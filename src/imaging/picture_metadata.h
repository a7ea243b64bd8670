#pragma once
// What a photo says of itself: when it was taken and its description, from the EXIF block, the
// XMP packet or the IPTC record of a JPEG (or the EXIF tags of a TIFF). Every read is
// bounds-checked; a damaged block gives nothing rather than an error.

#include <cstddef>
#include <cstdint>
#include <string>

namespace nimbrel::imaging {

struct PictureMetadata {
    // EXIF DateTimeOriginal as stored ("YYYY:MM:DD HH:MM:SS"), empty when missing or blank.
    std::string dateTaken;
    // EXIF ImageDescription, else XMP dc:description, else the IPTC caption (2:120), the first
    // that is not blank, in UTF-8 (text that is not UTF-8 is read as Latin-1).
    std::string description;
};

PictureMetadata ReadPictureMetadata(const std::uint8_t* data, std::size_t size);

// The text as UTF-8: kept when it is valid UTF-8, else read as Latin-1. Blanks, and the zero
// bytes some writers pad with, are trimmed at both ends.
std::string CleanMetadataText(std::string text);

}  // namespace nimbrel::imaging
