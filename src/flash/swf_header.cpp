#include "flash/swf_header.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <vector>

#ifdef NIMBREL_HAVE_LZMA
#include <lzma.h>
#endif

namespace nimbrel::flash {
namespace {

std::uint32_t Le32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// Unpacks a zlib stream into at most `limit` bytes; `complete` says whether it ended cleanly.
std::vector<std::uint8_t> Inflate(std::span<const std::uint8_t> in, std::size_t limit, bool& complete) {
    std::vector<std::uint8_t> out;
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) throw SwfError("cannot start unpacking");
    stream.next_in = const_cast<Bytef*>(in.data());
    stream.avail_in = static_cast<uInt>(std::min<std::size_t>(in.size(), 0x7fffffff));
    complete = false;
    std::vector<std::uint8_t> chunk(1 << 16);
    while (out.size() < limit) {
        stream.next_out = chunk.data();
        stream.avail_out = static_cast<uInt>(std::min(chunk.size(), limit - out.size()));
        int rc = inflate(&stream, Z_NO_FLUSH);
        out.insert(out.end(), chunk.data(), stream.next_out);
        if (rc == Z_STREAM_END) {
            complete = true;
            break;
        }
        if (rc != Z_OK) break;  // damaged or cut short: keep what came out
    }
    inflateEnd(&stream);
    return out;
}

#ifdef NIMBREL_HAVE_LZMA
// The LZMA body: 4 bytes of packed length, 5 bytes of properties, then the raw stream. It is
// handed to liblzma's reader of the old ".lzma" format, whose header is the properties followed
// by the 8-byte unpacked length.
std::vector<std::uint8_t> UnpackLzma(std::span<const std::uint8_t> body, std::uint64_t unpacked,
                                     std::size_t limit, bool& complete) {
    complete = false;
    if (body.size() < 9) throw SwfError("truncated header (the LZMA properties are missing)");
    std::vector<std::uint8_t> header(body.begin() + 4, body.begin() + 9);
    for (int i = 0; i < 8; ++i) header.push_back(static_cast<std::uint8_t>(unpacked >> (8 * i)));
    lzma_stream stream = LZMA_STREAM_INIT;
    if (lzma_alone_decoder(&stream, 256u << 20) != LZMA_OK) throw SwfError("cannot start unpacking");
    std::vector<std::uint8_t> out;
    std::vector<std::uint8_t> chunk(1 << 16);
    auto feed = [&](const std::uint8_t* data, std::size_t size, bool last) {
        stream.next_in = data;
        stream.avail_in = size;
        while (out.size() < limit) {
            stream.next_out = chunk.data();
            stream.avail_out = std::min(chunk.size(), limit - out.size());
            lzma_ret rc = lzma_code(&stream, last ? LZMA_FINISH : LZMA_RUN);
            out.insert(out.end(), chunk.data(), stream.next_out);
            if (rc == LZMA_STREAM_END) {
                complete = true;
                return false;
            }
            if (rc != LZMA_OK) return false;
            if (stream.avail_in == 0 && stream.avail_out != 0) return true;
        }
        return false;
    };
    if (feed(header.data(), header.size(), false)) feed(body.data() + 9, body.size() - 9, true);
    lzma_end(&stream);
    return out;
}
#endif

class BitReader {
public:
    BitReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint32_t Bits(int count) {
        std::uint32_t value = 0;
        for (int i = 0; i < count; ++i) {
            std::size_t byte = bit_ / 8;
            if (byte >= size_) throw SwfError("truncated header (the stage size is cut short)");
            value = (value << 1) | ((data_[byte] >> (7 - bit_ % 8)) & 1);
            ++bit_;
        }
        return value;
    }
    std::int32_t Signed(int count) {
        std::uint32_t value = Bits(count);
        if (count > 0 && count < 32 && (value & (1u << (count - 1)))) value |= ~0u << count;
        return static_cast<std::int32_t>(value);
    }
    std::size_t BytesUsed() const { return (bit_ + 7) / 8; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t bit_ = 0;
};

int TwipsToPixels(std::int64_t twips) {
    if (twips <= 0) return 0;
    return static_cast<int>(std::min<std::int64_t>((twips + 19) / 20, 1 << 20));
}

// Whether a tag may bring filters or blend modes: see SwfInfo::effects. A sprite's own tags
// are walked (sprites do not nest).
bool MayDrawEffects(unsigned code, const std::uint8_t* tag, std::size_t length, bool inSprite = false) {
    switch (code) {
        case 12:
        case 59:
        case 72:
        case 82:
        case 34:
        case 70: return true;
        case 26: return length >= 1 && (tag[0] & 0x80);
        case 39: break;
        default: return false;
    }
    if (inSprite) return false;
    for (std::size_t at = 4; at + 2 <= length;) {  // after the sprite's id and frame count
        const unsigned head = tag[at] | (tag[at + 1] << 8);
        at += 2;
        std::size_t inner = head & 0x3F;
        if (inner == 0x3F) {
            if (at + 4 > length) return false;
            inner = Le32(tag + at);
            at += 4;
        }
        if (inner > length - at) return false;
        if ((head >> 6) == 0) return false;
        if (MayDrawEffects(head >> 6, tag + at, inner, true)) return true;
        at += inner;
    }
    return false;
}

}  // namespace

SwfInfo ReadSwfInfo(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 3) throw SwfError("is not a Flash movie (it is too short)");
    SwfInfo info;
    const char signature = static_cast<char>(bytes[0]);
    if ((signature != 'F' && signature != 'C' && signature != 'Z') || bytes[1] != 'W' || bytes[2] != 'S')
        throw SwfError("is not a Flash movie (it does not start with FWS, CWS or ZWS)");
    if (bytes.size() < 8) throw SwfError("is truncated (the header is cut short)");
    info.compression = signature;
    info.version = bytes[3];
    info.declaredLength = Le32(bytes.data() + 4);
    if (info.declaredLength < 8) throw SwfError("is damaged (its header states a length below 8 bytes)");

    std::vector<std::uint8_t> unpacked;
    std::span<const std::uint8_t> body;
    bool bodyComplete = true;
    const std::size_t wanted = std::min<std::size_t>(info.declaredLength - 8, kMaxSwfBodyRead);
    if (signature == 'F') {
        body = bytes.subspan(8, std::min(bytes.size() - 8, wanted));
        bodyComplete = bytes.size() - 8 >= info.declaredLength - 8;
    } else if (signature == 'C') {
        unpacked = Inflate(bytes.subspan(8), wanted, bodyComplete);
        bodyComplete = bodyComplete && unpacked.size() >= info.declaredLength - 8;
        body = unpacked;
    } else {
#ifdef NIMBREL_HAVE_LZMA
        unpacked = UnpackLzma(bytes.subspan(8), info.declaredLength - 8, wanted, bodyComplete);
        bodyComplete = bodyComplete && unpacked.size() >= info.declaredLength - 8;
        body = unpacked;
#else
        throw SwfError("is LZMA-compressed (ZWS), which this build cannot unpack");
#endif
    }
    if (body.empty()) throw SwfError("is truncated (nothing follows the header)");

    BitReader bits(body.data(), body.size());
    const int nbits = static_cast<int>(bits.Bits(5));
    const std::int64_t xMin = bits.Signed(nbits), xMax = bits.Signed(nbits);
    const std::int64_t yMin = bits.Signed(nbits), yMax = bits.Signed(nbits);
    info.width = TwipsToPixels(xMax - xMin);
    info.height = TwipsToPixels(yMax - yMin);
    if (info.width <= 0 || info.height <= 0) throw SwfError("is damaged (its stage has no area)");
    std::size_t at = bits.BytesUsed();
    if (body.size() < at + 4) throw SwfError("is truncated (the frame rate and count are cut short)");
    info.frameRate = body[at + 1] + body[at] / 256.0;
    info.frameCount = body[at + 2] | (body[at + 3] << 8);
    at += 4;

    // The tags: a 10-bit code and a 6-bit length, the length 63 meaning a 32-bit length follows.
    bool ended = false;
    while (at + 2 <= body.size()) {
        const unsigned head = body[at] | (body[at + 1] << 8);
        at += 2;
        const unsigned code = head >> 6;
        std::uint64_t length = head & 0x3F;
        if (length == 0x3F) {
            if (at + 4 > body.size()) break;
            length = Le32(body.data() + at);
            at += 4;
        }
        if (length > body.size() - at) break;
        const std::uint8_t* tag = body.data() + at;
        switch (code) {
            case 0: ended = true; break;
            case 1: ++info.showFrames; break;
            case 9:  // SetBackgroundColor
                if (length >= 3 && !info.hasBackground) {
                    info.background = (tag[0] << 16) | (tag[1] << 8) | tag[2];
                    info.hasBackground = true;
                }
                break;
            case 12:
            case 59:
            case 72:
            case 82:  // DoAction, DoInitAction, DoABC (two forms)
                info.scripted = true;
                break;
            case 26:
            case 70:  // PlaceObject2/3 with clip actions carry code too
                if (length >= 1 && (tag[0] & 0x80)) info.scripted = true;
                break;
            default: break;
        }
        if (MayDrawEffects(code, tag, static_cast<std::size_t>(length))) info.effects = true;
        at += static_cast<std::size_t>(length);
        if (ended) break;
    }
    info.tagsComplete = ended && bodyComplete;
    return info;
}

SwfInfo ReadSwfFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw SwfError(path + " cannot be read");
    // The whole file is needed only for a compressed body; a plain one is read up to the limit.
    std::vector<std::uint8_t> bytes;
    std::vector<char> chunk(1 << 16);
    while (in && bytes.size() < kMaxSwfBodyRead + 16) {
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        bytes.insert(bytes.end(), chunk.data(), chunk.data() + in.gcount());
    }
    if (in.bad()) throw SwfError(path + " cannot be read");
    try {
        return ReadSwfInfo(bytes);
    } catch (const SwfError& e) {
        throw SwfError(path + " " + e.what());
    }
}

double PlayingFrameRate(const SwfInfo& info) {
    if (!(info.frameRate >= 1.0 / 256) || info.frameRate > 120) return 12;
    return info.frameRate;
}

}  // namespace nimbrel::flash
