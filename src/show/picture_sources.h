#pragma once
// Small pieces the front ends build their picture decoders from.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "imaging/image.h"
#include "imaging/picture_decoder.h"

namespace nimbrel::show {

// A picture already in memory, given out row by row.
class ImageSource : public imaging::PictureSource {
public:
    ImageSource(imaging::Image image, std::string format, int orientation = 1);
    // Rows drawn at another size than the picture's own (a metafile drawn at the screen's size).
    ImageSource(imaging::Image rows, std::string format, int pictureWidth, int pictureHeight);
    const imaging::PictureInfo& Info() const override { return info_; }
    int RowWidth() const override { return image_.Width(); }
    int RowHeight() const override { return image_.Height(); }
    bool ReadRows(int first, int count, imaging::Pixel* into) override;

private:
    imaging::Image image_;
    imaging::PictureInfo info_;
};

// PCX and WBMP through the core's own decoders (chosen by the extension of `name`, which for
// WBMP is all there is to go by); null for other names and for damaged files.
std::unique_ptr<imaging::PictureSource> OpenOwnFormat(std::string_view name,
                                                      std::span<const std::uint8_t> bytes);

// True when `name` ends in `extension` (".pcx"), ignoring case.
bool HasExtension(std::string_view name, std::string_view extension);

}  // namespace nimbrel::show
