#include <algorithm>
#include <cstring>

#include "codecs/codecs.h"
#include "codecs/sources.h"
#include "imaging/decoders.h"
#include "platform/ascii.h"

namespace nimbrel::codecs {

namespace detail {

bool StoredSizeAllowed(std::int64_t width, std::int64_t height) {
    return width >= 1 && height >= 1 && width <= kMaxStoredSide && height <= kMaxStoredSide &&
           width * height <= kMaxStoredPixels;
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

// A PCX or WBMP picture, decoded whole by our own decoders.
SourcePtr OpenWithOwnDecoder(Bytes bytes, bool pcx) {
    imaging::Image image;
    try {
        image = pcx ? imaging::DecodePcx(bytes.data(), bytes.size())
                    : imaging::DecodeWbmp(bytes.data(), bytes.size());
    } catch (const std::exception&) {
        return nullptr;
    }
    if (image.Empty()) return nullptr;
    imaging::PictureInfo info;
    info.width = image.Width();
    info.height = image.Height();
    info.format = pcx ? "pcx" : "wbmp";
    return std::make_unique<ImageSource>(std::move(image), std::move(info));
}

}  // namespace

SourcePtr OpenPcx(Bytes bytes) {
    return OpenWithOwnDecoder(bytes, true);
}
SourcePtr OpenWbmp(Bytes bytes) {
    return OpenWithOwnDecoder(bytes, false);
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

bool StartsWith(std::span<const std::uint8_t> bytes, std::size_t at, std::string_view text) {
    return bytes.size() >= at + text.size() && std::memcmp(bytes.data() + at, text.data(), text.size()) == 0;
}

std::uint32_t Le32(std::span<const std::uint8_t> b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t{b[at + 3]} << 24);
}

std::string LowerExtension(std::string_view name) {
    const std::size_t dot = name.find_last_of('.');
    if (dot == std::string_view::npos) return {};
    return platform::LowerAscii(std::string(name.substr(dot + 1)));
}

// The ISO base media brands of HEIF stills and AVIF.
std::string HeifFamily(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 16 || !StartsWith(bytes, 4, "ftyp")) return {};
    std::uint32_t boxSize = (std::uint32_t{bytes[0]} << 24) | (bytes[1] << 16) | (bytes[2] << 8) | bytes[3];
    if (boxSize < 16) return {};
    const std::size_t end = std::min<std::size_t>(boxSize, bytes.size());
    bool heif = false, avif = false;
    auto brand = [&](std::size_t at) {
        std::string_view b(reinterpret_cast<const char*>(bytes.data() + at), 4);
        if (b == "avif" || b == "avis") avif = true;
        if (b == "heic" || b == "heix" || b == "heim" || b == "heis" || b == "hevc" || b == "hevx" ||
            b == "mif1" || b == "msf1")
            heif = true;
    };
    brand(8);
    for (std::size_t at = 16; at + 4 <= end; at += 4) brand(at);
    std::string_view major(reinterpret_cast<const char*>(bytes.data() + 8), 4);
    if (major == "avif" || major == "avis") return "avif";
    if (avif && !(major == "heic" || major == "heix")) return "avif";
    return heif ? "heif" : std::string();
}

class LibraryDecoder : public imaging::PictureDecoder {
public:
    std::unique_ptr<imaging::PictureSource> Open(std::string_view name, std::span<const std::uint8_t> bytes,
                                                 imaging::DecodeHint hint) override {
        const std::string format = DetectFormat(name, bytes);
        try {
            if (format == "jpeg") return detail::OpenJpeg(bytes, hint);
            if (format == "png") return detail::OpenPng(bytes);
            if (format == "gif") return detail::OpenGif(bytes);
            if (format == "bmp") return detail::OpenBmp(bytes, !StartsWith(bytes, 0, "BM"));
            if (format == "pcx") return detail::OpenPcx(bytes);
            if (format == "wbmp") return detail::OpenWbmp(bytes);
            if (format == "heif" || format == "avif") return detail::OpenHeif(bytes, format);
            if (format == "webp") return detail::OpenWebp(bytes, hint);
            if (format == "tiff") return detail::OpenTiff(bytes);
        } catch (const std::exception&) {
            // Out of memory or a library's own failure: this picture cannot be read.
        }
        return nullptr;
    }
};

}  // namespace

std::string DetectFormat(std::string_view name, std::span<const std::uint8_t> bytes) {
    if (bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF) return "jpeg";
    if (StartsWith(bytes, 0, "\x89PNG\r\n\x1a\n")) return "png";
    if (StartsWith(bytes, 0, "GIF87a") || StartsWith(bytes, 0, "GIF89a")) return "gif";
    if (StartsWith(bytes, 0, "BM") && bytes.size() >= 18) return "bmp";
    if (StartsWith(bytes, 0, "RIFF") && StartsWith(bytes, 8, "WEBP")) return "webp";
    if (StartsWith(bytes, 0, std::string_view("II*\0", 4)) ||
        StartsWith(bytes, 0, std::string_view("MM\0*", 4)))
        return "tiff";
    if (std::string family = HeifFamily(bytes); !family.empty()) return family;
    const std::string ext = LowerExtension(name);
    // PCX: manufacturer 10, a known version, RLE or plain, 1..8 bits a plane.
    if (bytes.size() >= 128 && bytes[0] == 0x0A && bytes[1] <= 5 && bytes[2] <= 1 &&
        (bytes[3] == 1 || bytes[3] == 2 || bytes[3] == 4 || bytes[3] == 8))
        return "pcx";
    if (ext == "wbmp" && bytes.size() >= 4 && bytes[0] == 0 && bytes[1] == 0) return "wbmp";
    if (ext == "dib" && bytes.size() >= 16) {
        const std::uint32_t header = Le32(bytes, 0);
        if (header == 12 || header == 40 || header == 52 || header == 56 || header == 108 || header == 124)
            return "bmp";
    }
    return {};
}

bool PlayersDecode(std::string_view format) {
    return format == "jpeg" || format == "png" || format == "gif" || format == "bmp" || format == "pcx" ||
           format == "wbmp";
}

std::unique_ptr<imaging::PictureDecoder> MakeLibraryDecoder() {
    return std::make_unique<LibraryDecoder>();
}

}  // namespace nimbrel::codecs
