#include "imaging/picture_format.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "imaging/decoders.h"
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
    // Targa has no signature: its usual extensions with a header it can be, or the 2.0 footer.
    if ((ext == "tga" || ext == "targa" || ext == "icb" || ext == "vda" || ext == "vst" ||
         HasTgaFooter(bytes.data(), bytes.size())) &&
        LooksLikeTgaHeader(bytes.data(), bytes.size()))
        return "tga";
    if (ext == "dib" && bytes.size() >= 16) {
        const std::uint32_t header = Le32(bytes, 0);
        if (header == 12 || header == 40 || header == 52 || header == 56 || header == 108 || header == 124)
            return "bmp";
    }
    return {};
}

PictureHeader ReadPictureHeader(std::string_view format, std::span<const std::uint8_t> b, bool complete) {
    using State = PictureHeader::State;
    PictureHeader header;
    auto result = [&](std::int64_t width, std::int64_t height) {
        header.width = width;
        header.height = height;
        header.state = width > 0 && height > 0 ? State::Read : State::Damaged;
        return header;
    };
    // Too few bytes: damaged when they are the whole file, otherwise not known from them.
    auto shortOf = [&] {
        header.state = complete ? State::Damaged : State::Unknown;
        return header;
    };
    auto be16 = [&](std::size_t at) { return std::int64_t{b[at]} << 8 | b[at + 1]; };
    auto le16 = [&](std::size_t at) { return std::int64_t{b[at]} | std::int64_t{b[at + 1]} << 8; };
    auto be32 = [&](std::size_t at) { return be16(at) << 16 | be16(at + 2); };

    if (format == "jpeg") {
        // Segments up to the frame header; the scan cannot come before it.
        std::size_t at = 2;
        for (;;) {
            if (at + 4 > b.size()) return shortOf();
            if (b[at] != 0xFF) return result(0, 0);
            const std::uint8_t marker = b[at + 1];
            if (marker == 0xFF) {
                ++at;  // fill byte
                continue;
            }
            if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
                at += 2;
                continue;
            }
            if (marker == 0xD8 || marker == 0xD9 || marker == 0xDA) return result(0, 0);
            const std::size_t length = static_cast<std::size_t>(be16(at + 2));
            if (length < 2) return result(0, 0);
            const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
            if (frame) {
                if (length < 8) return result(0, 0);
                if (at + 9 > b.size()) return shortOf();
                return result(be16(at + 7), be16(at + 5));
            }
            at += 2 + length;
        }
    }
    if (format == "png") {
        if (b.size() < 24) return shortOf();
        if (be32(8) != 13 || !StartsWith(b, 12, "IHDR")) return result(0, 0);
        return result(be32(16), be32(20));
    }
    if (format == "gif") {
        if (b.size() < 13) return shortOf();
        // A logical screen of 0 x 0 is left to the frames; the decoders take it.
        if (le16(6) == 0 || le16(8) == 0) return header;
        return result(le16(6), le16(8));
    }
    if (format == "bmp") {
        if (b.size() < 26) return shortOf();
        const std::uint32_t size = Le32(b, 14);
        if (size == 12) return result(le16(18), le16(20));
        if (size < 40) return result(0, 0);
        const auto height = static_cast<std::int32_t>(Le32(b, 22));
        return result(static_cast<std::int32_t>(Le32(b, 18)), height == INT32_MIN ? 0 : std::abs(height));
    }
    if (format == "pcx") {
        if (b.size() < 12) return shortOf();
        return result(le16(8) - le16(4) + 1, le16(10) - le16(6) + 1);
    }
    if (format == "tga") {
        if (b.size() < 18) return shortOf();
        return result(le16(12), le16(14));
    }
    return header;
}

namespace {

std::uint32_t Be16(std::span<const std::uint8_t> b, std::size_t at) {
    return (std::uint32_t{b[at]} << 8) | b[at + 1];
}
std::uint32_t Be32(std::span<const std::uint8_t> b, std::size_t at) {
    return (Be16(b, at) << 16) | Be16(b, at + 2);
}
std::uint32_t Le16(std::span<const std::uint8_t> b, std::size_t at) {
    return b[at] | (std::uint32_t{b[at + 1]} << 8);
}

// The first frame header's size, walking the markers from the start.
bool JpegSize(std::span<const std::uint8_t> b, std::int64_t& width, std::int64_t& height) {
    std::size_t at = 2;
    while (at + 4 <= b.size()) {
        if (b[at] != 0xFF) return false;
        const std::uint8_t marker = b[at + 1];
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            at += 2;
            continue;
        }
        const std::size_t length = Be16(b, at + 2);
        if (length < 2) return false;
        const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            if (at + 9 > b.size() || length < 7) return false;
            height = Be16(b, at + 5);
            width = Be16(b, at + 7);
            return true;
        }
        if (marker == 0xDA || marker == 0xD9) return false;  // image data before any frame
        at += 2 + length;
    }
    return false;
}

}  // namespace

bool DeclaredPictureSize(std::string_view name, std::span<const std::uint8_t> head, std::int64_t& width,
                         std::int64_t& height) {
    const std::string format = DetectPictureFormat(name, head);
    const auto has = [&](std::size_t bytes) { return head.size() >= bytes; };
    if (format == "jpeg") return JpegSize(head, width, height);
    if (format == "png" && has(24) && StartsWith(head, 12, "IHDR")) {
        width = Be32(head, 16);
        height = Be32(head, 20);
        return true;
    }
    if (format == "gif" && has(10)) {
        width = Le16(head, 6);
        height = Le16(head, 8);
        return true;
    }
    if (format == "bmp") {
        const std::size_t at = StartsWith(head, 0, "BM") ? 14 : 0;
        if (!has(at + 12)) return false;
        if (Le32(head, at) == 12) {  // the old core header: 16-bit sizes
            width = Le16(head, at + 4);
            height = Le16(head, at + 6);
        } else {
            width = static_cast<std::int32_t>(Le32(head, at + 4));
            // Negative for a top-down picture.
            height = static_cast<std::int32_t>(Le32(head, at + 8));
            if (height < 0) height = -height;
        }
        return true;
    }
    if (format == "pcx" && has(12)) {
        width = std::int64_t{Le16(head, 8)} - Le16(head, 4) + 1;
        height = std::int64_t{Le16(head, 10)} - Le16(head, 6) + 1;
        return true;
    }
    if (format == "webp" && has(30)) {
        if (StartsWith(head, 12, "VP8X")) {
            width = 1 + (head[24] | (head[25] << 8) | (head[26] << 16));
            height = 1 + (head[27] | (head[28] << 8) | (head[29] << 16));
            return true;
        }
        if (StartsWith(head, 12, "VP8L") && head[20] == 0x2F) {
            const std::uint32_t bits = Le32(head, 21);
            width = 1 + (bits & 0x3FFF);
            height = 1 + ((bits >> 14) & 0x3FFF);
            return true;
        }
        if (StartsWith(head, 12, "VP8 ")) {
            width = Le16(head, 26) & 0x3FFF;
            height = Le16(head, 28) & 0x3FFF;
            return true;
        }
    }
    return false;
}

}  // namespace nimbrel::imaging
