#include "imaging/picture_decoder.h"

#include <algorithm>

#include "platform/error.h"

namespace nimbrel::imaging {

namespace {

// A source that keeps the bytes it was opened on.
class SourceWithBytes : public PictureSource {
public:
    SourceWithBytes(std::unique_ptr<PictureSource> source, std::unique_ptr<std::vector<std::uint8_t>> bytes)
        : source_(std::move(source)), bytes_(std::move(bytes)) {}
    const PictureInfo& Info() const override { return source_->Info(); }
    int RowWidth() const override { return source_->RowWidth(); }
    int RowHeight() const override { return source_->RowHeight(); }
    bool ReadRows(int first, int count, Pixel* into) override { return source_->ReadRows(first, count, into); }
    std::vector<std::uint8_t> ColorProfile() const override { return source_->ColorProfile(); }
    bool ReduceTo(const DecodeHint& hint) override { return source_->ReduceTo(hint); }
    std::string Failure() const override { return source_->Failure(); }

private:
    std::unique_ptr<PictureSource> source_;  // first out: it may look at the bytes to the end
    std::unique_ptr<std::vector<std::uint8_t>> bytes_;
};

}  // namespace

std::unique_ptr<PictureSource> PictureDecoder::OpenStream(std::string_view name, std::shared_ptr<PictureStream> stream,
                                                          DecodeHint hint) {
    const std::uint64_t size = stream->Size();
    if (size > SIZE_MAX / 2) throw Error("too large to be read");
    auto bytes = std::make_unique<std::vector<std::uint8_t>>(static_cast<std::size_t>(size));
    for (std::size_t at = 0; at < bytes->size();) {
        const std::size_t got = stream->ReadAt(at, bytes->data() + at, bytes->size() - at);
        if (got == 0) throw Error("the picture is damaged");
        at += got;
    }
    std::unique_ptr<PictureSource> source = Open(name, std::span<const std::uint8_t>(*bytes), hint);
    if (!source) return nullptr;
    return std::make_unique<SourceWithBytes>(std::move(source), std::move(bytes));
}

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
