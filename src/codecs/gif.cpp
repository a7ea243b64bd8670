// GIF through giflib: the first frame, laid on a transparent canvas of the screen's size, row by
// row as the rows are asked for (an interlaced frame is held whole as palette indices, a byte a
// pixel, since its rows come in four passes).
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
        if (!StoredSizeAllowed(gif_->SWidth, gif_->SHeight)) return false;
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
        if (frame.Width < 1 || frame.Height < 1 || !StoredSizeAllowed(frame.Width, frame.Height))
            return false;
        if (frame.Interlace && !detail::WholeSizeAllowed(frame.Width, frame.Height)) return false;
        map_ = frame.ColorMap ? frame.ColorMap : gif_->SColorMap;
        if (map_ == nullptr) return false;
        const bool covers =
            frame.Left == 0 && frame.Top == 0 && frame.Width >= info_.width && frame.Height >= info_.height;
        info_.hasAlpha = transparent_ >= 0 || !covers;
        return true;
    }

    const imaging::PictureInfo& Info() const override { return info_; }

    bool ReadRows(int first, int count, imaging::Pixel* into) override {
        if (failed_ || first < nextRow_ || count < 0 || first + count > info_.height) return false;
        const std::size_t width = static_cast<std::size_t>(info_.width);
        if (nextRow_ < first) skip_.resize(width);
        for (; nextRow_ < first; ++nextRow_)
            if (!Compose(nextRow_, skip_.data())) return failed_ = true, false;
        for (int i = 0; i < count; ++i, ++nextRow_)
            if (!Compose(nextRow_, into + static_cast<std::size_t>(i) * width)) return failed_ = true, false;
        return true;
    }

private:
    // Canvas row `y` (asked for in order): transparent, with the frame's row laid on it.
    bool Compose(int y, imaging::Pixel* out) {
        std::fill(out, out + info_.width, imaging::Pixel{0});
        const GifImageDesc& frame = gif_->Image;
        const int row = y - frame.Top;
        if (row < 0 || row >= frame.Height) return true;
        const GifPixelType* indices = nullptr;
        if (frame.Interlace) {
            if (whole_.empty() && !ReadInterlaced()) return false;
            indices = whole_.data() + static_cast<std::size_t>(row) * frame.Width;
        } else {
            line_.resize(static_cast<std::size_t>(frame.Width));
            // Frame rows come one after another; this is the next one.
            if (DGifGetLine(gif_.get(), line_.data(), frame.Width) == GIF_ERROR) return false;
            indices = line_.data();
        }
        for (int x = 0; x < frame.Width; ++x) {
            const int cx = frame.Left + x;
            if (cx >= info_.width) break;
            const int index = indices[x];
            if (index == transparent_ || index >= map_->ColorCount) continue;
            const GifColorType& c = map_->Colors[index];
            out[cx] = imaging::MakePixel(c.Red, c.Green, c.Blue);
        }
        return true;
    }

    bool ReadInterlaced() {
        const GifImageDesc& frame = gif_->Image;
        whole_.resize(static_cast<std::size_t>(frame.Width) * frame.Height);
        static constexpr int kStart[] = {0, 4, 2, 1}, kStep[] = {8, 8, 4, 2};
        for (int pass = 0; pass < 4; ++pass)
            for (int y = kStart[pass]; y < frame.Height; y += kStep[pass])
                if (DGifGetLine(gif_.get(), whole_.data() + static_cast<std::size_t>(y) * frame.Width,
                                frame.Width) == GIF_ERROR)
                    return false;
        return true;
    }

    Reader reader_;
    std::unique_ptr<GifFileType, GifCloser> gif_;
    int transparent_ = -1;
    const ColorMapObject* map_ = nullptr;
    int nextRow_ = 0;
    bool failed_ = false;
    imaging::PictureInfo info_;
    std::vector<GifPixelType> line_, whole_;
    std::vector<imaging::Pixel> skip_;
};

}  // namespace

SourcePtr OpenGif(Bytes bytes) {
    auto source = std::make_unique<GifSource>();
    if (!source->Start(bytes)) return nullptr;
    return source;
}

}  // namespace nimbrel::codecs::detail
