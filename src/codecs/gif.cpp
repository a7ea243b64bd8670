// GIF through giflib: the first frame, laid on a transparent canvas of the screen's size.
#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "codecs/sources.h"

namespace nimbrel::codecs::detail {

namespace {

struct Reader {
    Bytes bytes;
    std::size_t at = 0;
};

int ReadData(GifFileType* gif, GifByteType* out, int length) {
    auto* reader = static_cast<Reader*>(gif->UserData);
    const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(std::max(length, 0)),
                                                reader->bytes.size() - reader->at);
    std::memcpy(out, reader->bytes.data() + reader->at, n);
    reader->at += n;
    return static_cast<int>(n);
}

struct GifCloser {
    void operator()(GifFileType* gif) const {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};

class GifSource : public imaging::PictureSource {
public:
    bool Start(Bytes bytes) {
        reader_.bytes = bytes;
        int error = 0;
        gif_.reset(DGifOpen(&reader_, ReadData, &error));
        if (!gif_) return false;
        if (!imaging::ImageSizeAllowed(gif_->SWidth, gif_->SHeight) || gif_->SWidth < 1 || gif_->SHeight < 1)
            return false;
        info_.width = gif_->SWidth;
        info_.height = gif_->SHeight;
        info_.format = "gif";
        // Read up to the first frame's descriptor, noting its transparent colour.
        for (;;) {
            GifRecordType type;
            if (DGifGetRecordType(gif_.get(), &type) == GIF_ERROR) return false;
            if (type == TERMINATE_RECORD_TYPE) return false;
            if (type == IMAGE_DESC_RECORD_TYPE) {
                if (DGifGetImageDesc(gif_.get()) == GIF_ERROR) return false;
                break;
            }
            if (type == EXTENSION_RECORD_TYPE) {
                int code = 0;
                GifByteType* block = nullptr;
                if (DGifGetExtension(gif_.get(), &code, &block) == GIF_ERROR) return false;
                if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr) {
                    GraphicsControlBlock control;
                    if (DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK)
                        transparent_ = control.TransparentColor;
                }
                while (block != nullptr)
                    if (DGifGetExtensionNext(gif_.get(), &block) == GIF_ERROR) return false;
            }
        }
        const GifImageDesc& frame = gif_->Image;
        if (frame.Width < 1 || frame.Height < 1 || !imaging::ImageSizeAllowed(frame.Width, frame.Height))
            return false;
        const bool covers =
            frame.Left == 0 && frame.Top == 0 && frame.Width >= info_.width && frame.Height >= info_.height;
        info_.hasAlpha = transparent_ >= 0 || !covers;
        return true;
    }

    const imaging::PictureInfo& Info() const override { return info_; }

    bool ReadRows(int first, int count, imaging::Pixel* into) override {
        if (first < 0 || count < 0 || first + count > info_.height) return false;
        if (canvas_.Empty() && (failed_ || !Decode())) {
            failed_ = true;
            return false;
        }
        std::memcpy(into, canvas_.Row(first), static_cast<std::size_t>(count) * info_.width * 4);
        return true;
    }

private:
    bool Decode() {
        const GifImageDesc& frame = gif_->Image;
        const ColorMapObject* map = frame.ColorMap ? frame.ColorMap : gif_->SColorMap;
        if (map == nullptr) return false;
        std::vector<GifPixelType> indices(static_cast<std::size_t>(frame.Width) * frame.Height);
        auto line = [&](int y) { return indices.data() + static_cast<std::size_t>(y) * frame.Width; };
        if (frame.Interlace) {
            static constexpr int kStart[] = {0, 4, 2, 1}, kStep[] = {8, 8, 4, 2};
            for (int pass = 0; pass < 4; ++pass)
                for (int y = kStart[pass]; y < frame.Height; y += kStep[pass])
                    if (DGifGetLine(gif_.get(), line(y), frame.Width) == GIF_ERROR) return false;
        } else {
            for (int y = 0; y < frame.Height; ++y)
                if (DGifGetLine(gif_.get(), line(y), frame.Width) == GIF_ERROR) return false;
        }
        canvas_ = imaging::Image(info_.width, info_.height, 0);
        for (int y = 0; y < frame.Height; ++y) {
            const int cy = frame.Top + y;
            if (cy >= info_.height) break;
            imaging::Pixel* out = canvas_.Row(cy);
            for (int x = 0; x < frame.Width; ++x) {
                const int cx = frame.Left + x;
                if (cx >= info_.width) break;
                const int index = line(y)[x];
                if (index == transparent_ || index >= map->ColorCount) continue;
                const GifColorType& c = map->Colors[index];
                out[cx] = imaging::MakePixel(c.Red, c.Green, c.Blue);
            }
        }
        return true;
    }

    Reader reader_;
    std::unique_ptr<GifFileType, GifCloser> gif_;
    int transparent_ = -1;
    bool failed_ = false;
    imaging::PictureInfo info_;
    imaging::Image canvas_;
};

}  // namespace

SourcePtr OpenGif(Bytes bytes) {
    auto source = std::make_unique<GifSource>();
    if (!source->Start(bytes)) return nullptr;
    return source;
}

}  // namespace nimbrel::codecs::detail
