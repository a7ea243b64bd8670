#include "show/captions.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/error.h"

namespace nimbrel::show {

namespace {

constexpr char kMagic[8] = {'N', 'B', 'C', 'A', 'P', 'T', '1', '\n'};
// A mask is text of one line: these bound what a damaged member can ask for.
constexpr int kMaxMaskWidth = 16384;
constexpr int kMaxMaskHeight = 2048;
constexpr double kBandPadVertical = 0.12;  // the band's padding above and below, in ems
constexpr int kBandDarkness = 140;         // of 256: how much the band darkens the picture

void PutU32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
void PutU16(std::string& out, std::uint32_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>((v >> 8) & 0xFF));
}

class Reader {
public:
    explicit Reader(std::string_view bytes) : bytes_(bytes) {}
    const std::uint8_t* Take(std::size_t count) {
        if (count > bytes_.size() - pos_) throw Error("The captions of the show are damaged");
        const auto* p = reinterpret_cast<const std::uint8_t*>(bytes_.data() + pos_);
        pos_ += count;
        return p;
    }
    std::uint32_t U16() {
        const std::uint8_t* p = Take(2);
        return p[0] | (p[1] << 8);
    }
    std::uint32_t U32() {
        const std::uint8_t* p = Take(4);
        return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
    }

private:
    std::string_view bytes_;
    std::size_t pos_ = 0;
};

// One axis of an area-averaging resample: for each target position, the source positions it
// covers and how much of each (in 1/65536ths of the target pixel).
struct Tap {
    int first = 0;
    std::vector<std::uint32_t> weights;
};

std::vector<Tap> AreaTaps(int from, int to) {
    std::vector<Tap> taps(static_cast<std::size_t>(to));
    const double step = static_cast<double>(from) / to;
    for (int i = 0; i < to; ++i) {
        const double start = i * step, end = std::min<double>(from, (i + 1) * step);
        Tap& tap = taps[static_cast<std::size_t>(i)];
        tap.first = static_cast<int>(std::floor(start));
        for (int s = tap.first; s < end && s < from; ++s) {
            const double cover = std::min<double>(end, s + 1) - std::max<double>(start, s);
            tap.weights.push_back(static_cast<std::uint32_t>(std::lround(cover / step * 65536)));
        }
    }
    return taps;
}

}  // namespace

CaptionPlace CaptionPlaceFrom(int value) {
    return value >= 0 && value <= 5 ? static_cast<CaptionPlace>(value) : CaptionPlace::BottomLeft;
}

CaptionLayout LayOutCaption(const CaptionMask& mask, const imaging::Rect& monitor, CaptionPlace place) {
    CaptionLayout layout;
    if (mask.Empty() || mask.fontPixels <= 0 || monitor.width <= 0 || monitor.height <= 0) return layout;
    const double em = monitor.height * kCaptionEmShare;
    double scale = em / mask.fontPixels;
    const int margin = static_cast<int>(std::lround(monitor.height * kCaptionMarginShare));
    const int pad = static_cast<int>(std::lround(em * kCaptionPadShare));
    const int padV = static_cast<int>(std::lround(em * kBandPadVertical));
    const int room = monitor.width - 2 * margin - 2 * pad;
    if (room < 1) return layout;
    if (mask.width * scale > room) scale = static_cast<double>(room) / mask.width;
    const int textWidth = std::clamp(static_cast<int>(std::lround(mask.width * scale)), 1, room);
    const int textHeight = std::max(1, static_cast<int>(std::lround(mask.height * scale)));
    const int bandWidth = textWidth + 2 * pad, bandHeight = textHeight + 2 * padV;
    int x = monitor.x + (monitor.width - bandWidth) / 2;
    if (place == CaptionPlace::BottomLeft || place == CaptionPlace::TopLeft) x = monitor.x + margin;
    if (place == CaptionPlace::BottomRight || place == CaptionPlace::TopRight)
        x = monitor.x + monitor.width - margin - bandWidth;
    const bool top = place == CaptionPlace::TopLeft || place == CaptionPlace::TopCenter ||
                     place == CaptionPlace::TopRight;
    const int y = top ? monitor.y + margin : monitor.y + monitor.height - margin - bandHeight;
    layout.band = {x, y, bandWidth, bandHeight};
    layout.text = {x + pad, y + padV, textWidth, textHeight};
    return layout;
}

CaptionMask ScaleMask(const CaptionMask& mask, int width, int height) {
    CaptionMask out;
    out.width = width;
    out.height = height;
    out.fontPixels = mask.fontPixels;
    if (mask.Empty() || width <= 0 || height <= 0) return out;
    out.alpha.assign(static_cast<std::size_t>(width) * height, 0);
    const std::vector<Tap> across = AreaTaps(mask.width, width);
    const std::vector<Tap> down = AreaTaps(mask.height, height);
    // Across first, into 16-bit fixed point rows, then down.
    std::vector<std::uint32_t> rows(static_cast<std::size_t>(mask.height) * width);
    for (int y = 0; y < mask.height; ++y) {
        const std::uint8_t* src = mask.alpha.data() + static_cast<std::size_t>(y) * mask.width;
        std::uint32_t* dst = rows.data() + static_cast<std::size_t>(y) * width;
        for (int x = 0; x < width; ++x) {
            const Tap& tap = across[static_cast<std::size_t>(x)];
            std::uint64_t sum = 0;
            for (std::size_t k = 0; k < tap.weights.size(); ++k) sum += std::uint64_t{src[tap.first + k]} * tap.weights[k];
            dst[x] = static_cast<std::uint32_t>(sum >> 8);  // value * 256
        }
    }
    for (int y = 0; y < height; ++y) {
        const Tap& tap = down[static_cast<std::size_t>(y)];
        std::uint8_t* dst = out.alpha.data() + static_cast<std::size_t>(y) * width;
        for (int x = 0; x < width; ++x) {
            std::uint64_t sum = 0;
            for (std::size_t k = 0; k < tap.weights.size(); ++k)
                sum += std::uint64_t{rows[(tap.first + k) * static_cast<std::size_t>(width) + x]} * tap.weights[k];
            dst[x] = static_cast<std::uint8_t>(std::min<std::uint64_t>(255, (sum + (1u << 23)) >> 24));
        }
    }
    return out;
}

std::string WriteCaptionMasks(const std::map<std::size_t, CaptionMask>& masks) {
    std::string out(kMagic, sizeof kMagic);
    PutU32(out, static_cast<std::uint32_t>(masks.size()));
    for (const auto& [entry, mask] : masks) {
        if (mask.width > kMaxMaskWidth || mask.height > kMaxMaskHeight || mask.fontPixels > 0xFFFF)
            throw Error("A caption is too large to be stored");
        PutU32(out, static_cast<std::uint32_t>(entry));
        PutU16(out, static_cast<std::uint32_t>(mask.fontPixels));
        PutU16(out, static_cast<std::uint32_t>(mask.width));
        PutU16(out, static_cast<std::uint32_t>(mask.height));
        out.append(reinterpret_cast<const char*>(mask.alpha.data()), mask.alpha.size());
    }
    return out;
}

std::map<std::size_t, CaptionMask> ReadCaptionMasks(std::string_view bytes) {
    Reader in(bytes);
    if (std::memcmp(in.Take(sizeof kMagic), kMagic, sizeof kMagic) != 0)
        throw Error("The captions of the show are damaged");
    std::map<std::size_t, CaptionMask> masks;
    const std::uint32_t count = in.U32();
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t entry = in.U32();
        CaptionMask mask;
        mask.fontPixels = static_cast<int>(in.U16());
        mask.width = static_cast<int>(in.U16());
        mask.height = static_cast<int>(in.U16());
        if (mask.width > kMaxMaskWidth || mask.height > kMaxMaskHeight)
            throw Error("The captions of the show are damaged");
        const std::size_t size = static_cast<std::size_t>(mask.width) * mask.height;
        const std::uint8_t* p = in.Take(size);
        mask.alpha.assign(p, p + size);
        masks[entry] = std::move(mask);
    }
    return masks;
}

std::shared_ptr<const CaptionLayer::Scaled> CaptionLayer::ScaledFor(std::size_t member,
                                                                    const imaging::Rect& monitor) const {
    auto found = masks_.find(member);
    if (found == masks_.end() || found->second.Empty()) return nullptr;
    const auto key = std::make_tuple(member, monitor.x, monitor.y, monitor.width, monitor.height);
    {
        std::lock_guard<std::mutex> lock(cacheMutex_);
        auto cached = cache_.find(key);
        if (cached != cache_.end()) return cached->second;
    }
    auto scaled = std::make_shared<Scaled>();
    scaled->layout = LayOutCaption(found->second, monitor, place_);
    if (scaled->layout.text.width <= 0) return nullptr;
    scaled->mask = ScaleMask(found->second, scaled->layout.text.width, scaled->layout.text.height);
    std::lock_guard<std::mutex> lock(cacheMutex_);
    // A show meets few monitor sizes; dropping everything now and then keeps the cache small.
    if (cache_.size() > 64) cache_.clear();
    cache_[key] = scaled;
    return scaled;
}

void CaptionLayer::Draw(std::size_t member, const std::vector<imaging::Rect>& monitors, int opacity,
                        imaging::Image& frame) const {
    if (opacity <= 0) return;
    opacity = std::min(opacity, 256);
    for (const imaging::Rect& monitor : monitors) {
        const std::shared_ptr<const Scaled> scaled = ScaledFor(member, monitor);
        if (!scaled) continue;
        const imaging::Rect& band = scaled->layout.band;
        const imaging::Rect& text = scaled->layout.text;
        // Clipped to the monitor and the frame.
        const int x0 = std::max({band.x, monitor.x, 0});
        const int x1 = std::min({band.x + band.width, monitor.x + monitor.width, frame.Width()});
        const int y0 = std::max({band.y, monitor.y, 0});
        const int y1 = std::min({band.y + band.height, monitor.y + monitor.height, frame.Height()});
        const auto dark = static_cast<std::uint32_t>(kBandDarkness * opacity / 256);
        for (int y = y0; y < y1; ++y) {
            imaging::Pixel* row = frame.Row(y);
            const int my = y - text.y;
            const std::uint8_t* cover =
                my >= 0 && my < text.height ? scaled->mask.alpha.data() + static_cast<std::size_t>(my) * text.width
                                            : nullptr;
            for (int x = x0; x < x1; ++x) {
                const imaging::Pixel keep = row[x] & 0xFF000000u;
                imaging::Pixel p = imaging::BlendPixels(row[x] & 0x00FFFFFFu, 0, dark);
                const int mx = x - text.x;
                if (cover != nullptr && mx >= 0 && mx < text.width && cover[mx] != 0) {
                    const std::uint32_t w = (cover[mx] * static_cast<std::uint32_t>(opacity) + 128) / 255;
                    p = imaging::BlendPixels(p, 0x00FFFFFFu, std::min<std::uint32_t>(w, 256));
                }
                row[x] = p | keep;
            }
        }
    }
}

}  // namespace nimbrel::show
