#include "imaging/row_resampler.h"

#include <algorithm>
#include <cmath>
#include <cstring>

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
    : sourceWidth_(sourceWidth),
      sameSize_(sourceWidth == targetWidth && sourceHeight == targetHeight),
      background_(background) {
    if (sourceWidth < 1 || sourceHeight < 1 || targetWidth < 1 || targetHeight < 1)
        throw Error("The picture has no pixels");
    int x0 = std::clamp(crop.x, 0, targetWidth), y0 = std::clamp(crop.y, 0, targetHeight);
    int x1 = std::clamp(crop.x + std::max(crop.width, 0), x0, targetWidth);
    int y1 = std::clamp(crop.y + std::max(crop.height, 0), y0, targetHeight);
    crop_ = Rect{x0, y0, x1 - x0, y1 - y0};
    if (crop_.width == 0 || crop_.height == 0) crop_ = Rect{x0, y0, 0, 0};  // nothing to make: done
    nextOutput_ = crop_.y;
    if (crop_.width == 0) return;
    columns_ = ComputeTaps(sourceWidth, targetWidth, x0, x1);
    for (const Taps& t : columns_) {
        columnFirst_.push_back(t.first);
        columnCount_.push_back(static_cast<int>(t.weights.size()));
        columnWeights_.insert(columnWeights_.end(), t.weights.begin(), t.weights.end());
    }
    rows_ = ComputeTaps(sourceHeight, targetHeight, y0, y1);
    firstNeeded_ = rows_.front().first;
    lastNeeded_ = rows_.back().Last() + 1;
    // Target rows gather their source rows at once when they overlap: as many as a source row
    // feeds, at most three when shrinking.
    for (std::size_t j = 0, k = 0; j < rows_.size(); ++j) {
        k = std::max(k, j);
        while (k + 1 < rows_.size() && rows_[k + 1].first <= rows_[j].Last()) ++k;
        inFlight_ = std::max(inFlight_, static_cast<int>(k - j + 1));
    }
    scaled_.assign(static_cast<std::size_t>(crop_.width) * 4, 0.0f);
    sums_.assign(static_cast<std::size_t>(inFlight_) * crop_.width * 4, 0.0f);
}

void RowResampler::PushRow(int index, const Pixel* row) {
    if (Done() || index < firstNeeded_ || index >= lastNeeded_) return;
    float* out = scaled_.data();
    const float* weight = columnWeights_.data();
    // Photos are opaque: their rows need no weighting by alpha.
    bool opaque = true;
    const int from = columnFirst_.front(), to = columnFirst_.back() + columnCount_.back();
    for (int x = from; x < to; ++x) opaque &= AlphaOf(row[x]) == 255;
    if (sameSize_ && opaque) {
        // A decoder that gave the picture at the size it shows at: what the weighing below
        // would give, without it.
        Pixel* out = OutputRow(index);
        if (mask_ == 0xFFFFFFFFu) {
            std::memcpy(out, row + crop_.x, static_cast<std::size_t>(crop_.width) * sizeof(Pixel));
        } else {
            for (int x = 0; x < crop_.width; ++x) out[x] = row[crop_.x + x] & mask_;
        }
        nextOutput_ = index + 1;
        return;
    }
    for (int x = 0; x < crop_.width; ++x) {
        const Pixel* p = row + columnFirst_[static_cast<std::size_t>(x)];
        const int count = columnCount_[static_cast<std::size_t>(x)];
        float r = 0, g = 0, b = 0, a = 0;
        if (opaque) {
            for (int k = 0; k < count; ++k) {
                Pixel px = p[k];
                float w = weight[k];
                r += static_cast<float>(RedOf(px)) * w;
                g += static_cast<float>(GreenOf(px)) * w;
                b += static_cast<float>(BlueOf(px)) * w;
                a += w;
            }
            a *= 255.0f;
            r *= 255.0f;
            g *= 255.0f;
            b *= 255.0f;
        } else {
            for (int k = 0; k < count; ++k) {
                Pixel px = p[k];
                float alpha = static_cast<float>(AlphaOf(px)) * weight[k];
                r += static_cast<float>(RedOf(px)) * alpha;
                g += static_cast<float>(GreenOf(px)) * alpha;
                b += static_cast<float>(BlueOf(px)) * alpha;
                a += alpha;
            }
        }
        weight += count;
        out[0] = r;
        out[1] = g;
        out[2] = b;
        out[3] = a;
        out += 4;
    }
    // Into every target row that this source row feeds.
    const std::size_t floats = scaled_.size();
    for (int j = nextOutput_; j < crop_.y + crop_.height; ++j) {
        const Taps& t = rows_[static_cast<std::size_t>(j - crop_.y)];
        if (t.first > index) break;
        if (index > t.Last()) continue;
        const float w = t.weights[static_cast<std::size_t>(index - t.first)];
        float* sum = Sum(j);
        if (index == t.first) {
            for (std::size_t i = 0; i < floats; ++i) sum[i] = scaled_[i] * w;
        } else {
            for (std::size_t i = 0; i < floats; ++i) sum[i] += scaled_[i] * w;
        }
    }
    while (!Done() && rows_[static_cast<std::size_t>(nextOutput_ - crop_.y)].Last() <= index)
        EmitRow(nextOutput_++);
}

void RowResampler::WriteInto(Pixel* rows, std::size_t stride, Pixel mask) {
    into_ = rows;
    intoStride_ = stride;
    mask_ = mask;
}

Pixel* RowResampler::OutputRow(int targetRow) {
    const auto row = static_cast<std::size_t>(targetRow - crop_.y);
    if (into_ != nullptr) return into_ + row * intoStride_;
    // Made only now, so that a caller's output costs no picture of the resampler's own.
    if (result_.Empty()) result_ = Image(crop_.width, crop_.height, background_ | 0xFF000000u);
    return result_.Row(static_cast<int>(row));
}

Image RowResampler::Take() {
    if (into_ == nullptr && result_.Empty() && crop_.width > 0)
        result_ = Image(crop_.width, crop_.height, background_ | 0xFF000000u);
    return std::move(result_);
}

float* RowResampler::Sum(int targetRow) {
    return sums_.data() + static_cast<std::size_t>(targetRow % inFlight_) * crop_.width * 4;
}

void RowResampler::EmitRow(int targetRow) {
    const float bgR = RedOf(background_), bgG = GreenOf(background_), bgB = BlueOf(background_);
    Pixel* out = OutputRow(targetRow);
    const float* sum = Sum(targetRow);
    for (int x = 0; x < crop_.width; ++x, sum += 4) {
        const float r = sum[0], g = sum[1], b = sum[2], a = sum[3];
        // Channels are premultiplied by alpha (0..255); lay the pixel over the background.
        float cover = std::clamp(a / 255.0f, 0.0f, 1.0f);
        auto channel = [&](float premultiplied, float back) {
            float v = std::clamp(premultiplied / 255.0f + back * (1.0f - cover), 0.0f, 255.0f);
            return static_cast<std::uint8_t>(static_cast<int>(v + 0.5f));
        };
        out[x] = MakePixel(channel(r, bgR), channel(g, bgG), channel(b, bgB)) & mask_;
    }
}

}  // namespace nimbrel::imaging
