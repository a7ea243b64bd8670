#include "imaging/row_resampler.h"

#include <algorithm>
#include <cmath>

#include "platform/error.h"

namespace nimbrel::imaging {

std::vector<RowResampler::Taps> RowResampler::ComputeTaps(int source, int target, int from, int to) {
    std::vector<Taps> taps;
    taps.reserve(static_cast<std::size_t>(to - from));
    const double scale = static_cast<double>(source) / target;
    for (int o = from; o < to; ++o) {
        Taps t;
        if (scale >= 1.0) {
            // The source span [a, b) the target pixel covers, each source pixel weighted by its
            // share of it.
            double a = o * scale, b = (o + 1) * scale;
            int first = static_cast<int>(std::floor(a));
            int end = std::min(source, static_cast<int>(std::ceil(b)));
            t.first = first;
            for (int i = first; i < end; ++i) {
                double w = std::min(b, i + 1.0) - std::max(a, static_cast<double>(i));
                t.weights.push_back(static_cast<float>(w / scale));
            }
        } else {
            double centre = (o + 0.5) * scale - 0.5;
            int first = static_cast<int>(std::floor(centre));
            double f = centre - first;
            if (first < 0) {
                first = 0;
                f = 0;
            }
            if (first >= source - 1) {
                t.first = source - 1;
                t.weights = {1.0f};
            } else {
                t.first = first;
                t.weights = {static_cast<float>(1 - f), static_cast<float>(f)};
            }
        }
        if (t.weights.empty()) t.weights = {1.0f};  // rounding at the very edge
        taps.push_back(std::move(t));
    }
    return taps;
}

RowResampler::RowResampler(int sourceWidth, int sourceHeight, int targetWidth, int targetHeight, Rect crop,
                           Pixel background)
    : sourceWidth_(sourceWidth), background_(background) {
    if (sourceWidth < 1 || sourceHeight < 1 || targetWidth < 1 || targetHeight < 1)
        throw Error("The picture has no pixels");
    int x0 = std::clamp(crop.x, 0, targetWidth), y0 = std::clamp(crop.y, 0, targetHeight);
    int x1 = std::clamp(crop.x + std::max(crop.width, 0), x0, targetWidth);
    int y1 = std::clamp(crop.y + std::max(crop.height, 0), y0, targetHeight);
    crop_ = Rect{x0, y0, x1 - x0, y1 - y0};
    nextOutput_ = crop_.y;
    if (crop_.width == 0 || crop_.height == 0) return;
    result_ = Image(crop_.width, crop_.height, background | 0xFF000000u);
    columns_ = ComputeTaps(sourceWidth, targetWidth, x0, x1);
    rows_ = ComputeTaps(sourceHeight, targetHeight, y0, y1);
    firstNeeded_ = rows_.front().first;
    lastNeeded_ = rows_.back().Last() + 1;
    for (const Taps& t : rows_) span_ = std::max(span_, static_cast<int>(t.weights.size()));
    ring_.assign(static_cast<std::size_t>(span_) * crop_.width * 4, 0.0f);
    // Rows whose every tap lies before the first needed row cannot exist (taps only grow).
}

void RowResampler::PushRow(const Pixel* row) {
    const int index = nextSource_++;
    if (Done() || index < firstNeeded_ || index >= lastNeeded_) return;
    float* out = ring_.data() + static_cast<std::size_t>(index % span_) * crop_.width * 4;
    for (int x = 0; x < crop_.width; ++x) {
        const Taps& t = columns_[static_cast<std::size_t>(x)];
        float r = 0, g = 0, b = 0, a = 0;
        const Pixel* p = row + t.first;
        for (float w : t.weights) {
            Pixel px = *p++;
            float alpha = static_cast<float>(AlphaOf(px)) * w;
            r += RedOf(px) * alpha;
            g += GreenOf(px) * alpha;
            b += BlueOf(px) * alpha;
            a += alpha;
        }
        out[0] = r;
        out[1] = g;
        out[2] = b;
        out[3] = a;
        out += 4;
    }
    while (!Done() && rows_[static_cast<std::size_t>(nextOutput_ - crop_.y)].Last() <= index)
        EmitRow(nextOutput_++);
}

void RowResampler::EmitRow(int targetRow) {
    const Taps& t = rows_[static_cast<std::size_t>(targetRow - crop_.y)];
    const float bgR = RedOf(background_), bgG = GreenOf(background_), bgB = BlueOf(background_);
    Pixel* out = result_.Row(targetRow - crop_.y);
    const std::size_t rowFloats = static_cast<std::size_t>(crop_.width) * 4;
    for (int x = 0; x < crop_.width; ++x) {
        float r = 0, g = 0, b = 0, a = 0;
        for (std::size_t k = 0; k < t.weights.size(); ++k) {
            const float* in = ring_.data() + static_cast<std::size_t>((t.first + static_cast<int>(k)) % span_) *
                                                 rowFloats + static_cast<std::size_t>(x) * 4;
            float w = t.weights[k];
            r += in[0] * w;
            g += in[1] * w;
            b += in[2] * w;
            a += in[3] * w;
        }
        // Channels are premultiplied by alpha (0..255); lay the pixel over the background.
        float cover = std::clamp(a / 255.0f, 0.0f, 1.0f);
        auto channel = [&](float premultiplied, float back) {
            float v = premultiplied / 255.0f + back * (1.0f - cover);
            return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L));
        };
        out[x] = MakePixel(channel(r, bgR), channel(g, bgG), channel(b, bgB));
    }
}

}  // namespace nimbrel::imaging
