#include <algorithm>
#include <array>
#include <cmath>

#include "codecs/codecs.h"
#include "platform/error.h"

namespace nimbrel::codecs {

namespace {

struct Tables {
    std::array<float, 256> toLinear{};
    std::array<std::uint8_t, 4097> toSrgb{};
    Tables() {
        for (int i = 0; i < 256; ++i) {
            const double c = i / 255.0;
            toLinear[i] = static_cast<float>(c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4));
        }
        for (int i = 0; i <= 4096; ++i) {
            const double l = i / 4096.0;
            const double c = l <= 0.0031308 ? l * 12.92 : 1.055 * std::pow(l, 1 / 2.4) - 0.055;
            toSrgb[i] = static_cast<std::uint8_t>(std::clamp(c * 255.0 + 0.5, 0.0, 255.0));
        }
    }
};

const Tables& GetTables() {
    static const Tables tables;
    return tables;
}

std::uint8_t ToSrgb(float linear) {
    const int i = static_cast<int>(std::clamp(linear, 0.0f, 1.0f) * 4096.0f + 0.5f);
    return GetTables().toSrgb[i];
}

}  // namespace

LinearAreaScaler::LinearAreaScaler(int sourceWidth, int sourceHeight, int targetWidth, int targetHeight)
    : sourceWidth_(sourceWidth),
      sourceHeight_(sourceHeight),
      targetWidth_(targetWidth),
      targetHeight_(targetHeight) {
    if (sourceWidth < 1 || sourceHeight < 1 || targetWidth < 1 || targetHeight < 1 ||
        targetWidth > sourceWidth || targetHeight > sourceHeight ||
        !imaging::ImageSizeAllowed(targetWidth, targetHeight))
        throw Error("The picture's size is not supported.");
    const double sx = static_cast<double>(sourceWidth) / targetWidth;
    columnStart_.resize(targetWidth);
    columnCount_.resize(targetWidth);
    for (int tx = 0; tx < targetWidth; ++tx) {
        const double left = tx * sx, right = std::min<double>((tx + 1) * sx, sourceWidth);
        const int first = static_cast<int>(left);
        const int last = std::min(sourceWidth - 1, static_cast<int>(std::ceil(right)) - 1);
        columnStart_[tx] = first;
        columnCount_[tx] = std::max(1, last - first + 1);
        for (int x = first; x < first + columnCount_[tx]; ++x) {
            const double overlap = std::min<double>(x + 1, right) - std::max<double>(x, left);
            columnWeights_.push_back(static_cast<float>(std::max(0.0, overlap) / sx));
        }
    }
    across_.resize(static_cast<std::size_t>(targetWidth) * 4);
    linear_.resize(static_cast<std::size_t>(sourceWidth) * 4);
    sums_[0].resize(across_.size());
    sums_[1].resize(across_.size());
    result_ = imaging::Image(targetWidth, targetHeight, 0);
}

void LinearAreaScaler::PushRow(const imaging::Pixel* row) {
    if (Done()) return;
    const int r = nextSource_++;
    // Each source pixel into linear light, weighted by its alpha, once; then the taps.
    const auto& linear = GetTables().toLinear;
    float* lin = linear_.data();
    for (int x = 0; x < sourceWidth_; ++x, lin += 4) {
        const imaging::Pixel p = row[x];
        const unsigned a8 = imaging::AlphaOf(p);
        const float a = a8 == 255 ? 1.0f : a8 / 255.0f;
        lin[0] = a * linear[imaging::RedOf(p)];
        lin[1] = a * linear[imaging::GreenOf(p)];
        lin[2] = a * linear[imaging::BlueOf(p)];
        lin[3] = a;
    }
    const float* weight = columnWeights_.data();
    for (int tx = 0; tx < targetWidth_; ++tx) {
        float red = 0, green = 0, blue = 0, alpha = 0;
        const float* in = linear_.data() + static_cast<std::size_t>(columnStart_[tx]) * 4;
        for (int i = 0; i < columnCount_[tx]; ++i, in += 4) {
            const float w = *weight++;
            red += w * in[0];
            green += w * in[1];
            blue += w * in[2];
            alpha += w * in[3];
        }
        float* out = &across_[static_cast<std::size_t>(tx) * 4];
        out[0] = red, out[1] = green, out[2] = blue, out[3] = alpha;
    }
    const double sy = static_cast<double>(sourceHeight_) / targetHeight_;
    const double top = r, bottom = r + 1;
    for (int ty = static_cast<int>(top / sy); ty < targetHeight_; ++ty) {
        const double lo = ty * sy, hi = ty + 1 == targetHeight_ ? sourceHeight_ : (ty + 1) * sy;
        const double overlap = std::min(bottom, hi) - std::max(top, lo);
        if (overlap <= 0) break;
        const int slot = ty & 1;
        if (sumRow_[slot] != ty) {
            std::fill(sums_[slot].begin(), sums_[slot].end(), 0.0f);
            sumRow_[slot] = ty;
        }
        const float w = static_cast<float>(overlap / sy);
        float* sum = sums_[slot].data();
        for (std::size_t i = 0; i < across_.size(); ++i) sum[i] += w * across_[i];
        if (hi <= bottom + 1e-9) EmitRow(ty);
    }
}

void LinearAreaScaler::EmitRow(int targetRow) {
    const float* sum = sums_[targetRow & 1].data();
    imaging::Pixel* out = result_.Row(targetRow);
    for (int tx = 0; tx < targetWidth_; ++tx, sum += 4) {
        const float alpha = sum[3];
        if (alpha <= 0.5f / 255) {
            out[tx] = 0;
            continue;
        }
        const float inverse = 1.0f / alpha;
        out[tx] =
            imaging::MakePixel(ToSrgb(sum[0] * inverse), ToSrgb(sum[1] * inverse), ToSrgb(sum[2] * inverse),
                               static_cast<std::uint8_t>(std::min(255.0f, alpha * 255.0f + 0.5f)));
    }
    sumRow_[targetRow & 1] = -1;
}

}  // namespace nimbrel::codecs
