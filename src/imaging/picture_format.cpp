#include "imaging/picture_format.h"

#include <algorithm>
#include <cstring>

#include "platform/ascii.h"

namespace nimbrel::imaging {

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

}  // namespace

std::string DetectPictureFormat(std::string_view name, std::span<const std::uint8_t> bytes) {
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

}  // namespace nimbrel::imaging
