// TIFF through libtiff: the first page through its RGBA interface (every photometric and bit
// depth it knows, 16-bit channels reduced to 8), read in bands of rows as stored; the
// Orientation tag is reported like an EXIF orientation, which it equals.
#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "codecs/sources.h"

namespace nimbrel::codecs::detail {

namespace {

struct Memory {
    Bytes bytes;
    toff_t at = 0;
};

tmsize_t Read(thandle_t h, void* out, tmsize_t size) {
    auto* m = static_cast<Memory*>(h);
    if (size <= 0 || m->at >= m->bytes.size()) return 0;
    const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(size), m->bytes.size() - m->at);
    std::memcpy(out, m->bytes.data() + m->at, n);
    m->at += n;
    return static_cast<tmsize_t>(n);
}
tmsize_t Write(thandle_t, void*, tmsize_t) {
    return 0;
}
toff_t Seek(thandle_t h, toff_t offset, int whence) {
    auto* m = static_cast<Memory*>(h);
    toff_t base = whence == SEEK_CUR ? m->at : whence == SEEK_END ? m->bytes.size() : 0;
    m->at = base + offset;
    return m->at;
}
int Close(thandle_t) {
    return 0;
}
toff_t Size(thandle_t h) {
    return static_cast<Memory*>(h)->bytes.size();
}
int Quiet(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

class TiffSource : public imaging::PictureSource {
public:
    ~TiffSource() override {
        if (begun_) TIFFRGBAImageEnd(&rgba_);
        if (tiff_) TIFFClose(tiff_);
    }

    bool Start(Bytes bytes) {
        memory_.bytes = bytes;
        TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
        TIFFOpenOptionsSetErrorHandlerExtR(options, Quiet, nullptr);
        TIFFOpenOptionsSetWarningHandlerExtR(options, Quiet, nullptr);
        TIFFOpenOptionsSetMaxSingleMemAlloc(options, 256 * 1024 * 1024);
        tiff_ = TIFFClientOpenExt("picture", "rm", &memory_, Read, Write, Seek, Close, Size, nullptr, nullptr,
                                  options);
        TIFFOpenOptionsFree(options);
        if (!tiff_) return false;
        char message[1024] = {0};
        if (!TIFFRGBAImageOK(tiff_, message) || !TIFFRGBAImageBegin(&rgba_, tiff_, 0, message)) return false;
        begun_ = true;
        if (!StoredSizeAllowed(rgba_.width, rgba_.height)) return false;
        info_.width = static_cast<int>(rgba_.width);
        info_.height = static_cast<int>(rgba_.height);
        info_.format = "tiff";
        info_.hasAlpha = rgba_.alpha != 0;
        info_.orientation = rgba_.orientation >= 1 && rgba_.orientation <= 8 ? rgba_.orientation : 1;
        // Rows as stored: the orientation is the caller's to apply.
        rgba_.req_orientation = rgba_.orientation;
        std::uint32_t size = 0;
        void* profile = nullptr;
        if (TIFFGetField(tiff_, TIFFTAG_ICCPROFILE, &size, &profile) && profile != nullptr && size > 0) {
            const auto* p = static_cast<const std::uint8_t*>(profile);
            profile_.assign(p, p + size);
        }
        info_.hasColorProfile = !profile_.empty();
        return true;
    }

    const imaging::PictureInfo& Info() const override { return info_; }
    std::vector<std::uint8_t> ColorProfile() const override { return profile_; }

    bool ReadRows(int first, int count, imaging::Pixel* into) override {
        if (failed_ || first < 0 || count < 0 || first + count > info_.height) return false;
        if (count == 0) return true;
        rgba_.row_offset = first;
        rgba_.col_offset = 0;
        auto* raster = reinterpret_cast<std::uint32_t*>(into);
        if (!TIFFRGBAImageGet(&rgba_, raster, rgba_.width, static_cast<std::uint32_t>(count))) {
            failed_ = true;
            return false;
        }
        const std::size_t n = static_cast<std::size_t>(count) * info_.width;
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint32_t v = raster[i];  // R in the low byte
            into[i] = (v & 0xFF00FF00u) | ((v & 0xFFu) << 16) | ((v >> 16) & 0xFFu);
        }
        if (info_.hasAlpha) Unpremultiply(into, n);
        return true;
    }

private:
    Memory memory_;
    TIFF* tiff_ = nullptr;
    TIFFRGBAImage rgba_{};
    bool begun_ = false;
    bool failed_ = false;
    imaging::PictureInfo info_;
    std::vector<std::uint8_t> profile_;
};

}  // namespace

SourcePtr OpenTiff(Bytes bytes) {
    auto source = std::make_unique<TiffSource>();
    if (!source->Start(bytes)) return nullptr;
    return source;
}

}  // namespace nimbrel::codecs::detail
