#include "app/qt_picture_decoder.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>

#include <algorithm>
#include <cstring>

namespace nimbrel::app {
namespace {

class QtSource : public imaging::PictureSource {
public:
    QtSource(std::span<const std::uint8_t> bytes, imaging::DecodeHint hint)
        : data_(QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()),
                                        static_cast<qsizetype>(bytes.size()))),
          buffer_(&data_) {
        buffer_.open(QIODevice::ReadOnly);
        reader_.setDevice(&buffer_);
        reader_.setAutoTransform(true);
        QSize size = reader_.size();
        if (!size.isValid() || size.isEmpty()) return;
        // The rows come upright: the picture's own size is its upright size.
        if (reader_.transformation() & QImageIOHandler::TransformationRotate90) size.transpose();
        info_.width = size.width();
        info_.height = size.height();
        info_.format = reader_.format().toLower().toStdString();
        if (info_.format == "jpg") info_.format = "jpeg";
        rowWidth_ = info_.width;
        rowHeight_ = info_.height;
        if (hint.maxWidth > 0 && hint.maxHeight > 0 && reader_.supportsOption(QImageIOHandler::ScaledSize) &&
            !(reader_.transformation() & QImageIOHandler::TransformationRotate90) &&
            (hint.maxWidth < info_.width || hint.maxHeight < info_.height)) {
            QSize scaled = size.scaled(hint.maxWidth, hint.maxHeight, Qt::KeepAspectRatio);
            // At least the hint's size both ways, so nothing is enlarged again later.
            if (scaled.width() < hint.maxWidth || scaled.height() < hint.maxHeight)
                scaled = size.scaled(hint.maxWidth, hint.maxHeight, Qt::KeepAspectRatioByExpanding);
            scaled = scaled.boundedTo(size);
            reader_.setScaledSize(scaled);
            rowWidth_ = scaled.width();
            rowHeight_ = scaled.height();
        }
        valid_ = true;
    }
    bool Valid() const { return valid_; }
    const imaging::PictureInfo& Info() const override { return info_; }
    int RowWidth() const override { return rowWidth_; }
    int RowHeight() const override { return rowHeight_; }
    bool ReadRows(int first, int count, imaging::Pixel* into) override {
        if (image_.isNull()) {
            if (!reader_.read(&image_)) return false;
            // RGB32 is 0xFFRRGGBB already: a photo needs no conversion.
            if (image_.format() != QImage::Format_RGB32 && image_.format() != QImage::Format_ARGB32)
                image_ = image_.convertToFormat(QImage::Format_ARGB32);
            if (image_.width() != rowWidth_ || image_.height() != rowHeight_)
                image_ =
                    image_.scaled(rowWidth_, rowHeight_, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        }
        if (first < 0 || first + count > image_.height()) return false;
        for (int y = 0; y < count; ++y)
            std::memcpy(into + static_cast<std::size_t>(y) * rowWidth_, image_.constScanLine(first + y),
                        static_cast<std::size_t>(rowWidth_) * 4);
        return true;
    }

private:
    QByteArray data_;
    QBuffer buffer_;
    QImageReader reader_;
    QImage image_;
    imaging::PictureInfo info_;
    int rowWidth_ = 0, rowHeight_ = 0;
    bool valid_ = false;
};

}  // namespace

std::unique_ptr<imaging::PictureSource> QtPictureDecoder::Open(std::string_view,
                                                               std::span<const std::uint8_t> bytes,
                                                               imaging::DecodeHint hint) {
    if (bytes.empty()) return nullptr;
    auto source = std::make_unique<QtSource>(bytes, hint);
    if (!source->Valid() || !imaging::ImageSizeAllowed(source->Info().width, source->Info().height))
        return nullptr;
    return source;
}

}  // namespace nimbrel::app
