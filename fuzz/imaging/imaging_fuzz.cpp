// The first byte picks the parser (0 PCX, 1 WBMP, 2 EXIF, 3 the row-fed scaler, 4 Targa); the rest
// is the file, or for the scaler the sizes, the crop and the pixels.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "imaging/decoders.h"
#include "imaging/exif.h"
#include "imaging/row_resampler.h"
#include "platform/error.h"

namespace {

// Sizes and a crop from the first bytes, rows from the rest (repeated as needed): the result
// must be the clipped crop, opaque, whatever the numbers.
void Resample(const std::uint8_t* data, std::size_t size) {
    using namespace nimbrel::imaging;
    if (size < 9) return;
    const int sw = 1 + data[0] % 200, sh = 1 + data[1] % 200, tw = 1 + data[2] * 3 % 500,
              th = 1 + data[3] * 3 % 500;
    const Rect crop{static_cast<int>(data[4]) * 2 - 100, static_cast<int>(data[5]) * 2 - 100, data[6] * 2,
                    data[7] * 2};
    const int orientation = data[8] % 10;
    RowResampler resampler(sw, sh, tw, th, crop, MakePixel(1, 2, 3));
    std::vector<Pixel> row(static_cast<std::size_t>(sw));
    std::size_t at = 9;
    for (int y = 0; y < sh; ++y) {
        for (Pixel& p : row) {
            p = 0;
            for (int k = 0; k < 4; ++k) p = p << 8 | (size > 9 ? data[9 + at++ % (size - 9)] : 0);
        }
        resampler.PushRow(y, row.data());
    }
    if (!resampler.Done()) __builtin_trap();
    const int x0 = std::clamp(crop.x, 0, tw), y0 = std::clamp(crop.y, 0, th);
    const int x1 = std::clamp(crop.x + crop.width, x0, tw), y1 = std::clamp(crop.y + crop.height, y0, th);
    Image out = ApplyOrientation(resampler.Take(), orientation);
    const bool turned = orientation >= 5 && orientation <= 8;
    const int w = x1 - x0, h = y1 - y0;
    if (w > 0 && h > 0 && (out.Width() != (turned ? h : w) || out.Height() != (turned ? w : h)))
        __builtin_trap();
    for (int y = 0; y < out.Height(); ++y)
        for (int x = 0; x < out.Width(); ++x)
            if (AlphaOf(out.At(x, y)) != 255) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t* file = data + 1;
    const std::size_t fileSize = size - 1;
    try {
        switch (data[0] % 5) {
            case 0: nimbrel::imaging::DecodePcx(file, fileSize); break;
            case 1: nimbrel::imaging::DecodeWbmp(file, fileSize); break;
            case 3: Resample(file, fileSize); break;
            case 4: {
                // Whatever it reads, it reads the size its header gives.
                const nimbrel::imaging::Image image = nimbrel::imaging::DecodeTga(file, fileSize);
                if (fileSize < 18 || image.Width() != (file[12] | file[13] << 8) ||
                    image.Height() != (file[14] | file[15] << 8))
                    __builtin_trap();
                break;
            }
            default: {
                const int o = nimbrel::imaging::ReadExifOrientation(file, fileSize);
                if (o < 1 || o > 8) __builtin_trap();
                break;
            }
        }
    } catch (const nimbrel::Error&) {
    }
    return 0;
}
