#include "imaging/picture_decoder.h"

#include <algorithm>

#include "platform/error.h"

namespace nimbrel::imaging {

Image ReadWholePicture(PictureSource& source) {
    const int width = source.RowWidth();
    const int height = source.RowHeight();
    if (width < 1 || height < 1 || !ImageSizeAllowed(width, height)) {
        throw Error("The picture's size is not supported.");
    }
    Image image(width, height);
    constexpr int kBand = 64;
    for (int y = 0; y < height; y += kBand) {
        const int count = std::min(kBand, height - y);
        if (!source.ReadRows(y, count, image.Row(y))) throw Error("The picture is damaged.");
    }
    return image;
}

}  // namespace nimbrel::imaging
