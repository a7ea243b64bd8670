// HEIF (HEIC) and AVIF through libheif: the primary image, turned upright by the container's
// rotation and mirroring, decoded whole once its size is known to be within the image limits
// (libheif 1.15 cannot decode part of a picture, nor a grid's tiles one by one).
#include <libheif/heif.h>

#include <cstring>

#include "codecs/codecs.h"
#include "codecs/sources.h"

namespace nimbrel::codecs::detail {

namespace {

struct ContextFree {
    void operator()(heif_context* c) const { heif_context_free(c); }
};
struct HandleFree {
    void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
};
struct ImageFree {
    void operator()(heif_image* i) const { heif_image_release(i); }
};

// An ICC profile for the colour primaries an nclx box names, when they are not sRGB's.
std::vector<std::uint8_t> ProfileFromNclx(const heif_image_handle* handle) {
    heif_color_profile_nclx* nclx = nullptr;
    // libheif may hand over the structure even with an error: it is ours to free either way.
    if (heif_image_handle_get_nclx_color_profile(handle, &nclx).code != heif_error_Ok || nclx == nullptr) {
        if (nclx != nullptr) heif_nclx_color_profile_free(nclx);
        return {};
    }
    std::vector<std::uint8_t> profile;
    const auto primaries = nclx->color_primaries;
    if (primaries != heif_color_primaries_ITU_R_BT_709_5 && primaries != heif_color_primaries_unspecified &&
        nclx->color_primary_red_x > 0) {
        const double xy[6] = {nclx->color_primary_red_x,   nclx->color_primary_red_y,
                              nclx->color_primary_green_x, nclx->color_primary_green_y,
                              nclx->color_primary_blue_x,  nclx->color_primary_blue_y};
        profile = MakeRgbProfile(xy);
    }
    heif_nclx_color_profile_free(nclx);
    return profile;
}

class HeifSource : public imaging::PictureSource {
public:
    bool Start(Bytes bytes, const std::string& format) {
        context_.reset(heif_context_alloc());
        if (!context_) return false;
        heif_context_set_maximum_image_size_limit(context_.get(), imaging::kMaxImageSide);
        if (heif_context_read_from_memory_without_copy(context_.get(), bytes.data(), bytes.size(), nullptr)
                .code != heif_error_Ok)
            return false;
        heif_image_handle* handle = nullptr;
        if (heif_context_get_primary_image_handle(context_.get(), &handle).code != heif_error_Ok)
            return false;
        handle_.reset(handle);
        const int width = heif_image_handle_get_width(handle);
        const int height = heif_image_handle_get_height(handle);
        if (width < 1 || height < 1 || !imaging::ImageSizeAllowed(width, height)) return false;
        info_.width = width;
        info_.height = height;
        info_.format = format;
        info_.hasAlpha = heif_image_handle_has_alpha_channel(handle) != 0;
        const auto type = heif_image_handle_get_color_profile_type(handle);
        if (type == heif_color_profile_type_prof || type == heif_color_profile_type_rICC) {
            profile_.resize(heif_image_handle_get_raw_color_profile_size(handle));
            if (profile_.empty() ||
                heif_image_handle_get_raw_color_profile(handle, profile_.data()).code != heif_error_Ok)
                profile_.clear();
        } else if (type == heif_color_profile_type_nclx) {
            profile_ = ProfileFromNclx(handle);
        }
        info_.hasColorProfile = !profile_.empty();
        return true;
    }

    const imaging::PictureInfo& Info() const override { return info_; }
    std::vector<std::uint8_t> ColorProfile() const override { return profile_; }

    bool ReadRows(int first, int count, imaging::Pixel* into) override {
        if (first < 0 || count < 0 || first + count > info_.height) return false;
        if (!image_ && (failed_ || !Decode())) {
            failed_ = true;
            return false;
        }
        const int step = info_.hasAlpha ? 4 : 3;
        for (int y = first; y < first + count; ++y) {
            const std::uint8_t* in = plane_ + static_cast<std::size_t>(y) * stride_;
            imaging::Pixel* out = into + static_cast<std::size_t>(y - first) * info_.width;
            for (int x = 0; x < info_.width; ++x, in += step)
                out[x] = imaging::MakePixel(in[0], in[1], in[2], info_.hasAlpha ? in[3] : 255);
        }
        return true;
    }

private:
    bool Decode() {
        heif_image* image = nullptr;
        heif_decoding_options* options = heif_decoding_options_alloc();
        // libheif holds the picture whole (it has no way to decode part of one): without alpha,
        // three bytes a pixel instead of four.
        const heif_error error = heif_decode_image(
            handle_.get(), &image, heif_colorspace_RGB,
            info_.hasAlpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options);
        heif_decoding_options_free(options);
        if (error.code != heif_error_Ok || image == nullptr) return false;
        image_.reset(image);
        int stride = 0;
        plane_ = heif_image_get_plane_readonly(image, heif_channel_interleaved, &stride);
        stride_ = static_cast<std::size_t>(stride);
        // The rows must be as large as the header said.
        return plane_ != nullptr && heif_image_get_width(image, heif_channel_interleaved) == info_.width &&
               heif_image_get_height(image, heif_channel_interleaved) == info_.height &&
               stride_ >= static_cast<std::size_t>(info_.width) * (info_.hasAlpha ? 4 : 3);
    }

    std::unique_ptr<heif_context, ContextFree> context_;
    std::unique_ptr<heif_image_handle, HandleFree> handle_;
    std::unique_ptr<heif_image, ImageFree> image_;
    const std::uint8_t* plane_ = nullptr;
    std::size_t stride_ = 0;
    bool failed_ = false;
    imaging::PictureInfo info_;
    std::vector<std::uint8_t> profile_;
};

}  // namespace

SourcePtr OpenHeif(Bytes bytes, const std::string& format) {
    // Once, before the first picture, whichever thread opens it.
    static const bool initialised = heif_init(nullptr).code == heif_error_Ok;
    if (!initialised) return nullptr;
    auto source = std::make_unique<HeifSource>();
    if (!source->Start(bytes, format)) return nullptr;
    return source;
}

}  // namespace nimbrel::codecs::detail
