#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>

#include "codecs/codecs.h"
#include "codecs/sources.h"
#include "imaging/decoders.h"
#include "imaging/picture_format.h"

namespace nimbrel::codecs {

namespace detail {

namespace {
thread_local std::string refusal;
}  // namespace

void Refuse(const std::string& why) {
    if (refusal.empty()) refusal = why;
}

std::string TooLarge(std::int64_t width, std::int64_t height) {
    return "too large (" + std::to_string(width) + " x " + std::to_string(height) + " pixels)";
}

bool StoredSizeAllowed(std::int64_t width, std::int64_t height) {
    const bool allowed = width >= 1 && height >= 1 && width <= kMaxStoredSide && height <= kMaxStoredSide &&
                         width * height <= kMaxStoredPixels;
    if (!allowed) Refuse(width < 1 || height < 1 ? std::string("damaged: it has no pixels") : TooLarge(width, height));
    return allowed;
}

bool WholeSizeAllowed(std::int64_t width, std::int64_t height) {
    const bool allowed = width >= 1 && height >= 1 && width <= INT32_MAX && height <= INT32_MAX &&
                         imaging::ImageSizeAllowed(static_cast<int>(width), static_cast<int>(height));
    if (!allowed) Refuse(width < 1 || height < 1 ? std::string("damaged: it has no pixels") : TooLarge(width, height));
    return allowed;
}

bool ImageSource::ReadRows(int first, int count, imaging::Pixel* into) {
    if (first < 0 || count < 0 || first + count > image_.Height()) return false;
    if (count > 0) std::memcpy(into, image_.Row(first), static_cast<std::size_t>(count) * image_.Width() * 4);
    return true;
}

void Unpremultiply(imaging::Pixel* pixels, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const imaging::Pixel p = pixels[i];
        const unsigned a = imaging::AlphaOf(p);
        if (a == 255) continue;
        if (a == 0) {
            pixels[i] = 0;
            continue;
        }
        auto up = [a](unsigned c) {
            return static_cast<std::uint8_t>(std::min(255u, (c * 255 + a / 2) / a));
        };
        pixels[i] = imaging::MakePixel(up(imaging::RedOf(p)), up(imaging::GreenOf(p)), up(imaging::BlueOf(p)),
                                       static_cast<std::uint8_t>(a));
    }
}

namespace {

// A PCX, WBMP or Targa picture, decoded whole by our own decoders.
SourcePtr OpenWithOwnDecoder(Bytes bytes, imaging::Image (*decode)(const std::uint8_t*, std::size_t),
                             const char* format) {
    imaging::Image image;
    try {
        image = decode(bytes.data(), bytes.size());
    } catch (const std::exception&) {
        return nullptr;
    }
    if (image.Empty()) return nullptr;
    imaging::PictureInfo info;
    info.width = image.Width();
    info.height = image.Height();
    info.format = format;
    const imaging::Pixel* pixels = image.Data();
    info.hasAlpha = std::any_of(pixels, pixels + static_cast<std::size_t>(image.Width()) * image.Height(),
                                [](imaging::Pixel p) { return imaging::AlphaOf(p) != 255; });
    return std::make_unique<ImageSource>(std::move(image), std::move(info));
}

}  // namespace

SourcePtr OpenPcx(Bytes bytes) {
    return OpenWithOwnDecoder(bytes, &imaging::DecodePcx, "pcx");
}
SourcePtr OpenWbmp(Bytes bytes) {
    return OpenWithOwnDecoder(bytes, &imaging::DecodeWbmp, "wbmp");
}
SourcePtr OpenTga(Bytes bytes) {
    return OpenWithOwnDecoder(bytes, &imaging::DecodeTga, "tga");
}

}  // namespace detail

void FittedStoredSize(int storedWidth, int storedHeight, int orientation, imaging::DecodeHint hint,
                      int& width, int& height) {
    width = storedWidth;
    height = storedHeight;
    if (hint.maxWidth <= 0 || hint.maxHeight <= 0) return;
    const bool turned = orientation >= 5 && orientation <= 8;
    const double boxWidth = turned ? hint.maxHeight : hint.maxWidth;
    const double boxHeight = turned ? hint.maxWidth : hint.maxHeight;
    const double scale = std::min(boxWidth / storedWidth, boxHeight / storedHeight);
    if (scale >= 1.0) return;
    width = std::max(1, static_cast<int>(storedWidth * scale + 0.5));
    height = std::max(1, static_cast<int>(storedHeight * scale + 0.5));
    width = std::min(width, static_cast<int>(boxWidth));
    height = std::min(height, static_cast<int>(boxHeight));
    width = std::max(width, 1);
    height = std::max(height, 1);
}

namespace {

class LibraryDecoder : public imaging::PictureDecoder {
public:
    std::unique_ptr<imaging::PictureSource> Open(std::string_view name, std::span<const std::uint8_t> bytes,
                                                 imaging::DecodeHint hint) override {
        detail::refusal.clear();
        refusal_.clear();
        auto source = OpenFormat(name, bytes, hint);
        if (!source) {
            const std::string format = DetectFormat(name, bytes);
            if (format.empty())
                refusal_ = "not a picture this program can read";
            else if (!detail::refusal.empty())
                refusal_ = detail::refusal;
            else if (std::int64_t width = 0, height = 0;
                     imaging::DeclaredPictureSize(name, bytes, width, height) &&
                     !(width <= detail::kMaxStoredSide && height <= detail::kMaxStoredSide &&
                       width * height <= detail::kMaxStoredPixels))
                // The library's own limits turned it away first.
                refusal_ = detail::TooLarge(width, height);
            else
                refusal_ = "damaged, or a kind of " + FormatName(format) + " picture this program cannot read";
        }
        return source;
    }
    std::string Refusal() const override { return refusal_; }

private:
    static std::string FormatName(const std::string& format) {
        std::string upper = format;
        for (char& c : upper) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        return upper;
    }

    std::unique_ptr<imaging::PictureSource> OpenFormat(std::string_view name, std::span<const std::uint8_t> bytes,
                                                       imaging::DecodeHint hint) {
        const std::string format = DetectFormat(name, bytes);
        try {
            if (format == "jpeg") return detail::OpenJpeg(bytes, hint);
            if (format == "png") return detail::OpenPng(bytes);
            if (format == "gif") return detail::OpenGif(bytes);
            if (format == "bmp")
                return detail::OpenBmp(bytes, !(bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M'));
            if (format == "pcx") return detail::OpenPcx(bytes);
            if (format == "wbmp") return detail::OpenWbmp(bytes);
            if (format == "tga") return detail::OpenTga(bytes);
            if (format == "heif" || format == "avif") return detail::OpenHeif(bytes, format);
            if (format == "webp") return detail::OpenWebp(bytes, hint);
            if (format == "tiff") return detail::OpenTiff(bytes);
        } catch (const std::bad_alloc&) {
            detail::Refuse("too large for the memory available");
        } catch (const std::exception&) {
            // A library's own failure: this picture cannot be read.
        }
        return nullptr;
    }

    std::string refusal_;
};

}  // namespace

std::string DetectFormat(std::string_view name, std::span<const std::uint8_t> bytes) {
    return imaging::DetectPictureFormat(name, bytes);
}

bool PlayersDecode(std::string_view format) {
    return format == "jpeg" || format == "png" || format == "gif" || format == "bmp" || format == "pcx" ||
           format == "wbmp";
}

std::unique_ptr<imaging::PictureDecoder> MakeLibraryDecoder() {
    return std::make_unique<LibraryDecoder>();
}

}  // namespace nimbrel::codecs
