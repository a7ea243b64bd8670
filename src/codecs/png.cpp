// PNG through libpng: rows as they are decoded (interlaced pictures whole, within the image
// limits), every colour type expanded to 8-bit BGRA.
#include <png.h>

#include <csetjmp>
#include <cstring>
#include <vector>

#include "codecs/codecs.h"
#include "codecs/sources.h"
#include "platform/error.h"

namespace nimbrel::codecs {

namespace {

struct Reader {
    detail::Bytes bytes;
    std::size_t at = 0;
};

void ReadData(png_structp png, png_bytep out, png_size_t length) {
    auto* reader = static_cast<Reader*>(png_get_io_ptr(png));
    if (length > reader->bytes.size() - reader->at) png_error(png, "file cut short");
    std::memcpy(out, reader->bytes.data() + reader->at, length);
    reader->at += length;
}

void OnError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}
void OnWarning(png_structp, png_const_charp) {}

class PngSource : public imaging::PictureSource {
public:
    ~PngSource() override {
        if (png_) png_destroy_read_struct(&png_, info_ ? &info_ : nullptr, nullptr);
    }

    bool Start(detail::Bytes bytes) {
        reader_.bytes = bytes;
        png_ = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
        if (!png_) return false;
        info_ = png_create_info_struct(png_);
        if (!info_) return false;
        if (setjmp(png_jmpbuf(png_))) return false;
        png_set_read_fn(png_, &reader_, ReadData);
        png_set_user_limits(png_, detail::kMaxStoredSide, detail::kMaxStoredSide);
        png_set_chunk_malloc_max(png_, 16 * 1024 * 1024);
        // The CRC of ancillary chunks is not worth refusing a picture for.
        png_set_crc_action(png_, PNG_CRC_QUIET_USE, PNG_CRC_QUIET_USE);
        png_read_info(png_, info_);
        const png_uint_32 width = png_get_image_width(png_, info_);
        const png_uint_32 height = png_get_image_height(png_, info_);
        if (!detail::StoredSizeAllowed(width, height)) return false;
        const int colorType = png_get_color_type(png_, info_);
        const int depth = png_get_bit_depth(png_, info_);
        pictureInfo_.width = static_cast<int>(width);
        pictureInfo_.height = static_cast<int>(height);
        pictureInfo_.format = "png";
        pictureInfo_.hasAlpha =
            (colorType & PNG_COLOR_MASK_ALPHA) != 0 || png_get_valid(png_, info_, PNG_INFO_tRNS) != 0;
        png_charp name = nullptr;
        int compression = 0;
        png_bytep profile = nullptr;
        png_uint_32 profileSize = 0;
        if (png_get_iCCP(png_, info_, &name, &compression, &profile, &profileSize) && profile != nullptr)
            profile_.assign(profile, profile + profileSize);
        pictureInfo_.hasColorProfile = !profile_.empty();

        if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png_);
        if (colorType == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png_);
        if (png_get_valid(png_, info_, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png_);
        if (depth == 16) png_set_strip_16(png_);
        if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA)
            png_set_gray_to_rgb(png_);
        png_set_filler(png_, 0xFF, PNG_FILLER_AFTER);
        png_set_bgr(png_);
        passes_ = png_set_interlace_handling(png_);
        png_read_update_info(png_, info_);
        if (png_get_rowbytes(png_, info_) != static_cast<png_size_t>(width) * 4) return false;
        if (passes_ > 1 && !detail::WholeSizeAllowed(width, height)) return false;
        return true;
    }

    const imaging::PictureInfo& Info() const override { return pictureInfo_; }
    std::vector<std::uint8_t> ColorProfile() const override { return profile_; }

    bool ReadRows(int first, int count, imaging::Pixel* into) override {
        if (failed_ || first < nextRow_ || count < 0 || first + count > pictureInfo_.height) return false;
        const std::size_t width = static_cast<std::size_t>(pictureInfo_.width);
        if (passes_ > 1) {
            if (whole_.Empty() && !ReadInterlaced()) return failed_ = true, false;
            std::memcpy(into, whole_.Row(first), width * 4 * static_cast<std::size_t>(count));
            nextRow_ = first + count;
            return true;
        }
        if (nextRow_ < first) skip_.resize(width);
        if (setjmp(png_jmpbuf(png_))) {
            failed_ = true;
            return false;
        }
        while (nextRow_ < first) {
            png_read_row(png_, reinterpret_cast<png_bytep>(skip_.data()), nullptr);
            ++nextRow_;
        }
        for (int i = 0; i < count; ++i) {
            png_read_row(png_, reinterpret_cast<png_bytep>(into + i * width), nullptr);
            ++nextRow_;
        }
        return true;
    }

private:
    bool ReadInterlaced() {
        try {
            whole_ = imaging::Image(pictureInfo_.width, pictureInfo_.height);
        } catch (const std::exception&) {
            return false;
        }
        rows_.resize(static_cast<std::size_t>(pictureInfo_.height));
        for (int y = 0; y < pictureInfo_.height; ++y) rows_[y] = reinterpret_cast<png_bytep>(whole_.Row(y));
        if (setjmp(png_jmpbuf(png_))) return false;
        png_read_image(png_, rows_.data());
        return true;
    }

    Reader reader_;
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
    int passes_ = 1;
    int nextRow_ = 0;
    bool failed_ = false;
    imaging::PictureInfo pictureInfo_;
    std::vector<std::uint8_t> profile_;
    std::vector<imaging::Pixel> skip_;
    imaging::Image whole_;
    std::vector<png_bytep> rows_;
};

struct WriteGuard {
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::vector<std::uint8_t> out;
    std::vector<std::uint8_t> row;
    ~WriteGuard() { png_destroy_write_struct(&png, info ? &info : nullptr); }
};

void WriteData(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}
void Flush(png_structp) {}

bool Write(WriteGuard& g, const imaging::Image& image, bool alpha) {
    if (setjmp(png_jmpbuf(g.png))) return false;
    png_set_write_fn(g.png, &g.out, WriteData, Flush);
    png_set_IHDR(g.png, g.info, static_cast<png_uint_32>(image.Width()),
                 static_cast<png_uint_32>(image.Height()), 8,
                 alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(g.png, 6);
    png_write_info(g.png, g.info);
    const int channels = alpha ? 4 : 3;
    g.row.resize(static_cast<std::size_t>(image.Width()) * channels);
    for (int y = 0; y < image.Height(); ++y) {
        const imaging::Pixel* in = image.Row(y);
        std::uint8_t* o = g.row.data();
        for (int x = 0; x < image.Width(); ++x) {
            *o++ = imaging::RedOf(in[x]);
            *o++ = imaging::GreenOf(in[x]);
            *o++ = imaging::BlueOf(in[x]);
            if (alpha) *o++ = imaging::AlphaOf(in[x]);
        }
        png_write_row(g.png, g.row.data());
    }
    png_write_end(g.png, g.info);
    return true;
}

}  // namespace

namespace detail {
SourcePtr OpenPng(Bytes bytes) {
    auto source = std::make_unique<PngSource>();
    if (!source->Start(bytes)) return nullptr;
    return source;
}
}  // namespace detail

std::vector<std::uint8_t> EncodePng(const imaging::Image& image) {
    if (image.Empty()) throw Error("An empty picture cannot be written as PNG.");
    bool alpha = false;
    for (int y = 0; y < image.Height() && !alpha; ++y)
        for (int x = 0; x < image.Width(); ++x)
            if (imaging::AlphaOf(image.Row(y)[x]) != 255) {
                alpha = true;
                break;
            }
    WriteGuard guard;
    guard.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
    if (!guard.png) throw Error("The picture could not be written as PNG.");
    guard.info = png_create_info_struct(guard.png);
    if (!guard.info || !Write(guard, image, alpha)) throw Error("The picture could not be written as PNG.");
    return std::move(guard.out);
}

}  // namespace nimbrel::codecs
