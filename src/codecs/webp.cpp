// WebP through libwebp: still pictures decoded at the hinted scale, animations by their first
// frame, the ICC profile from the container.
#include <webp/decode.h>
#include <webp/demux.h>

#include <algorithm>
#include <atomic>
#include <cstring>

#include "codecs/codecs.h"
#include "codecs/sources.h"

namespace nimbrel::codecs::detail {

namespace {

class WebpSource : public imaging::PictureSource {
public:
    bool Start(Bytes bytes, imaging::DecodeHint hint) {
        bytes_ = bytes;
        stop_ = hint.stop;
        WebPBitstreamFeatures features;
        if (WebPGetFeatures(bytes.data(), bytes.size(), &features) != VP8_STATUS_OK) return false;
        WebPData data{bytes.data(), bytes.size()};
        WebPDemuxer* demux = WebPDemux(&data);
        if (demux == nullptr) return false;
        const int width = static_cast<int>(WebPDemuxGetI(demux, WEBP_FF_CANVAS_WIDTH));
        const int height = static_cast<int>(WebPDemuxGetI(demux, WEBP_FF_CANVAS_HEIGHT));
        WebPChunkIterator chunk;
        if (WebPDemuxGetChunk(demux, "ICCP", 1, &chunk)) {
            profile_.assign(chunk.chunk.bytes, chunk.chunk.bytes + chunk.chunk.size);
            WebPDemuxReleaseChunkIterator(&chunk);
        }
        WebPDemuxDelete(demux);
        if (width < 1 || height < 1 || !StoredSizeAllowed(width, height)) return false;
        info_.width = width;
        info_.height = height;
        info_.format = "webp";
        info_.hasAlpha = features.has_alpha != 0;
        info_.hasColorProfile = !profile_.empty();
        animated_ = features.has_animation != 0;
        // libwebp holds a lossless picture's pixels, and an alpha plane, whole at full size
        // whatever the scale asked for: those must fit within the whole-picture limits.
        if ((features.format == 2 || features.has_alpha) && !detail::WholeSizeAllowed(width, height))
            return false;
        // libwebp's own scaling averages stored values, which darkens fine detail: it is used only
        // where the whole picture would be too large to hold.
        rowWidth_ = width, rowHeight_ = height;
        if (!animated_ && !detail::WholeSizeAllowed(width, height))
            FittedStoredSize(width, height, 1, hint, rowWidth_, rowHeight_);
        return detail::WholeSizeAllowed(rowWidth_, rowHeight_);
    }

    const imaging::PictureInfo& Info() const override { return info_; }
    int RowWidth() const override { return rowWidth_; }
    int RowHeight() const override { return rowHeight_; }
    std::vector<std::uint8_t> ColorProfile() const override { return profile_; }

    bool ReadRows(int first, int count, imaging::Pixel* into) override {
        if (first < 0 || count < 0 || first + count > rowHeight_) return false;
        if (pixels_.Empty() && (failed_ || !(animated_ ? DecodeFirstFrame() : Decode()))) {
            failed_ = true;
            return false;
        }
        std::memcpy(into, pixels_.Row(first), static_cast<std::size_t>(count) * rowWidth_ * 4);
        return true;
    }

private:
    bool Decode() {
        WebPDecoderConfig config;
        if (!WebPInitDecoderConfig(&config)) return false;
        imaging::Image pixels(rowWidth_, rowHeight_);
        if (rowWidth_ != info_.width || rowHeight_ != info_.height) {
            config.options.use_scaling = 1;
            config.options.scaled_width = rowWidth_;
            config.options.scaled_height = rowHeight_;
        }
        config.output.colorspace = MODE_BGRA;
        config.output.is_external_memory = 1;
        config.output.u.RGBA.rgba = reinterpret_cast<std::uint8_t*>(pixels.Data());
        config.output.u.RGBA.stride = pixels.Stride();
        config.output.u.RGBA.size = static_cast<std::size_t>(pixels.Stride()) * rowHeight_;
        // Fed in pieces, so that a decode the caller stops ends within a piece.
        WebPIDecoder* incremental = WebPIDecode(nullptr, 0, &config);
        if (incremental == nullptr) return false;
        constexpr std::size_t kPiece = 256 * 1024;
        VP8StatusCode status = VP8_STATUS_SUSPENDED;
        for (std::size_t at = 0; at < bytes_.size() && status == VP8_STATUS_SUSPENDED; at += kPiece) {
            if (stop_ != nullptr && stop_->load(std::memory_order_relaxed)) break;
            status = WebPIUpdate(incremental, bytes_.data(), std::min(bytes_.size(), at + kPiece));
        }
        WebPIDelete(incremental);
        WebPFreeDecBuffer(&config.output);
        if (status != VP8_STATUS_OK) return false;
        pixels_ = std::move(pixels);
        return true;
    }

    bool DecodeFirstFrame() {
        WebPAnimDecoderOptions options;
        if (!WebPAnimDecoderOptionsInit(&options)) return false;
        options.color_mode = MODE_BGRA;
        options.use_threads = 0;
        WebPData data{bytes_.data(), bytes_.size()};
        WebPAnimDecoder* decoder = WebPAnimDecoderNew(&data, &options);
        if (decoder == nullptr) return false;
        std::uint8_t* frame = nullptr;
        int timestamp = 0;
        const bool ok = WebPAnimDecoderGetNext(decoder, &frame, &timestamp) && frame != nullptr;
        if (ok) {
            pixels_ = imaging::Image(rowWidth_, rowHeight_);
            std::memcpy(pixels_.Data(), frame, static_cast<std::size_t>(rowWidth_) * rowHeight_ * 4);
        }
        WebPAnimDecoderDelete(decoder);
        return ok;
    }

    Bytes bytes_;
    const std::atomic<bool>* stop_ = nullptr;
    bool animated_ = false;
    bool failed_ = false;
    int rowWidth_ = 0, rowHeight_ = 0;
    imaging::PictureInfo info_;
    std::vector<std::uint8_t> profile_;
    imaging::Image pixels_;
};

}  // namespace

SourcePtr OpenWebp(Bytes bytes, imaging::DecodeHint hint) {
    auto source = std::make_unique<WebpSource>();
    if (!source->Start(bytes, hint)) return nullptr;
    return source;
}

}  // namespace nimbrel::codecs::detail
