#include "show/picture_sources.h"

#include <algorithm>

#include "imaging/decoders.h"
#include "imaging/picture_format.h"
#include "platform/ascii.h"

namespace nimbrel::show {

ImageSource::ImageSource(imaging::Image image, std::string format, int orientation)
    : image_(std::move(image)) {
    info_.width = image_.Width();
    info_.height = image_.Height();
    info_.orientation = orientation;
    info_.format = std::move(format);
    for (int y = 0; y < image_.Height() && !info_.hasAlpha; ++y)
        for (int x = 0; x < image_.Width(); ++x)
            if (imaging::AlphaOf(image_.At(x, y)) != 255) {
                info_.hasAlpha = true;
                break;
            }
}

ImageSource::ImageSource(imaging::Image rows, std::string format, int pictureWidth, int pictureHeight)
    : ImageSource(std::move(rows), std::move(format)) {
    info_.width = pictureWidth;
    info_.height = pictureHeight;
}

bool ImageSource::ReadRows(int first, int count, imaging::Pixel* into) {
    if (first < 0 || count < 0 || first + count > image_.Height()) return false;
    if (count > 0)
        std::copy(image_.Row(first), image_.Row(first) + static_cast<std::size_t>(count) * image_.Width(),
                  into);
    return true;
}

bool HasExtension(std::string_view name, std::string_view extension) {
    return platform::EndsWithIgnoringAsciiCase(name, extension);
}

std::unique_ptr<imaging::PictureSource> OpenOwnFormat(std::string_view name,
                                                      std::span<const std::uint8_t> bytes) {
    // Chosen by content where the format has a signature, as every decoder of the show is.
    const std::string format = imaging::DetectPictureFormat(name, bytes);
    const bool pcx = format == "pcx", wbmp = format == "wbmp";
    if (!pcx && !wbmp) return nullptr;
    try {
        imaging::Image image = pcx ? imaging::DecodePcx(bytes.data(), bytes.size())
                                   : imaging::DecodeWbmp(bytes.data(), bytes.size());
        if (image.Empty()) return nullptr;
        return std::make_unique<ImageSource>(std::move(image), pcx ? "pcx" : "wbmp");
    } catch (const std::exception&) {
        return nullptr;
    }
}

}  // namespace nimbrel::show
