// JPEG through libjpeg-turbo: rows as they are decoded, at a reduced scale (in eighths) when
// the picture will be shown smaller; CMYK pictures are turned into RGB.
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstdlib>

#include <jerror.h>
#include <jpeglib.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "codecs/codecs.h"
#include "codecs/jpeg_idct.h"
#include "codecs/sources.h"
#include "imaging/exif.h"
#include "platform/error.h"

namespace nimbrel::codecs {

namespace {

// A progressive JPEG may hold any number of scans, each a pass over the whole picture; cameras
// and encoders write about ten. Beyond this many the picture is taken as a denial of service.
constexpr int kMaxScans = 500;

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    bool truncated = false;
    const char* why = nullptr;  // set before a jump that is not libjpeg's own error
};

void ErrorExit(j_common_ptr info) {
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}

void EmitMessage(j_common_ptr info, int level) {
    // A file cut short is only a warning to libjpeg, which fills the rest with grey; to us the
    // picture is damaged.
    auto* err = reinterpret_cast<ErrorManager*>(info->err);
    if (level < 0 && err->pub.msg_code == JWRN_JPEG_EOF) err->truncated = true;
}

void SilentOutput(j_common_ptr) {}

// libjpeg calls this every few rows while it takes in scans: the place to stop a picture that
// holds too many of them, or whose decode the caller abandoned.
struct Progress {
    jpeg_progress_mgr pub{};
    const std::atomic<bool>* stop = nullptr;
};

void OnProgress(j_common_ptr info) {
    auto* progress = reinterpret_cast<Progress*>(info->progress);
    auto* err = reinterpret_cast<ErrorManager*>(info->err);
    if (progress->stop != nullptr && progress->stop->load(std::memory_order_relaxed)) {
        err->why = "the decode was stopped";
        std::longjmp(err->jump, 1);
    }
    if (info->is_decompressor && reinterpret_cast<j_decompress_ptr>(info)->input_scan_number > kMaxScans) {
        err->why = "the picture holds too many scans (more than 500) to decode";
        std::longjmp(err->jump, 1);
    }
}

class JpegSource : public imaging::PictureSource {
public:
    JpegSource() {
        cinfo_.err = jpeg_std_error(&err_.pub);
        err_.pub.error_exit = ErrorExit;
        err_.pub.emit_message = EmitMessage;
        err_.pub.output_message = SilentOutput;
        progress_.pub.progress_monitor = OnProgress;
    }
    ~JpegSource() override {
        if (created_) jpeg_destroy_decompress(&cinfo_);
    }

    // Reads the header only: decompressing starts with the first rows asked for, once the
    // scale is settled (ReduceTo), so that a progressive picture is taken in once.
    bool Start(detail::Bytes bytes, imaging::DecodeHint hint, std::string& why) {
        if (setjmp(err_.jump)) {
            why = err_.pub.msg_code == JERR_IMAGE_TOO_BIG
                      ? "too large (more than " + std::to_string(JPEG_MAX_DIMENSION) + " pixels across or down)"
                      : "damaged";
            return false;
        }
        jpeg_create_decompress(&cinfo_);
        created_ = true;
        progress_.stop = hint.stop;
        cinfo_.progress = &progress_.pub;
        jpeg_mem_src(&cinfo_, bytes.data(), static_cast<unsigned long>(bytes.size()));
        jpeg_save_markers(&cinfo_, JPEG_APP0 + 2, 0xFFFF);
        if (jpeg_read_header(&cinfo_, TRUE) != JPEG_HEADER_OK) {
            why = "damaged";
            return false;
        }
        if (!detail::StoredSizeAllowed(cinfo_.image_width, cinfo_.image_height)) {
            why = detail::TooLarge(cinfo_.image_width, cinfo_.image_height);
            return false;
        }
        info_.width = static_cast<int>(cinfo_.image_width);
        info_.height = static_cast<int>(cinfo_.image_height);
        info_.orientation = imaging::ReadExifOrientation(bytes.data(), bytes.size());
        info_.format = "jpeg";
        JOCTET* icc = nullptr;
        unsigned int iccSize = 0;
        if (jpeg_read_icc_profile(&cinfo_, &icc, &iccSize) && icc != nullptr) {
            profile_.assign(icc, icc + iccSize);
            std::free(icc);
        }
        info_.hasColorProfile = !profile_.empty();
        cmyk_ = cinfo_.jpeg_color_space == JCS_CMYK || cinfo_.jpeg_color_space == JCS_YCCK;
        cinfo_.out_color_space = cmyk_ ? JCS_CMYK : JCS_EXT_BGRA;
        // CMYK profiles are not converted: the colours are made from the inks directly.
        if (cmyk_) profile_.clear();
        cinfo_.dct_method = JDCT_ISLOW;
        ChooseScale(hint);
        return true;
    }

    const imaging::PictureInfo& Info() const override { return info_; }
    int RowWidth() const override { return rowWidth_; }
    int RowHeight() const override { return rowHeight_; }
    std::vector<std::uint8_t> ColorProfile() const override { return profile_; }
    std::string Failure() const override { return failure_; }

    bool ReduceTo(const imaging::DecodeHint& hint) override {
        if (started_ || failed_) return false;
        const int width = rowWidth_, height = rowHeight_;
        if (setjmp(err_.jump)) return Fail("the picture is damaged");
        ChooseScale(hint);
        return rowWidth_ != width || rowHeight_ != height;
    }

    bool ReadRows(int first, int count, imaging::Pixel* into) override {
        if (failed_ || count < 0 || first + count > rowHeight_) return false;
        if (started_ && first < static_cast<int>(cinfo_.output_scanline)) return false;
        if (cmyk_) inks_.resize(static_cast<std::size_t>(rowWidth_) * 4);
        if (setjmp(err_.jump)) return Fail(err_.why != nullptr ? err_.why : "the picture is damaged");
        if (!started_) {
            started_ = true;
            jpeg_start_decompress(&cinfo_);
            idct_.TakeOver(cinfo_);
        }
        if (static_cast<int>(cinfo_.output_scanline) < first)
            skip_.resize(static_cast<std::size_t>(rowWidth_) * 4);
        while (static_cast<int>(cinfo_.output_scanline) < first) {
            JSAMPROW row = skip_.data();
            jpeg_read_scanlines(&cinfo_, &row, 1);
        }
        for (int i = 0; i < count; ++i) {
            imaging::Pixel* out = into + static_cast<std::size_t>(i) * rowWidth_;
            JSAMPROW row = cmyk_ ? inks_.data() : reinterpret_cast<JSAMPROW>(out);
            if (jpeg_read_scanlines(&cinfo_, &row, 1) != 1) return Fail("the picture is damaged");
            if (cmyk_) InksToRgb(out);
        }
        if (err_.truncated) return Fail("the picture is damaged: its file ends early");
        return true;
    }

private:
    bool Fail(const char* why) {
        failed_ = true;
        failure_ = why;
        return false;
    }

    // The smallest scale that still covers the picture's fitted size: 1/8, 1/4 or 1/2, or
    // above a half any eighth. Below a half, 3/8 decodes no faster than 1/2 (libjpeg-turbo
    // vectorises only the halving steps) and the linear-light shrink that follows does the rest
    // better; above it, 5/8 to 7/8 (their transforms vectorised by ScaledIdct) decode faster than
    // the whole picture and leave the shrink that follows a third to a sixth fewer pixels. May
    // raise libjpeg's error.
    void ChooseScale(const imaging::DecodeHint& hint) {
        int wantWidth = 0, wantHeight = 0;
        detail::FittedStoredSize(info_.width, info_.height, info_.orientation, hint, wantWidth, wantHeight);
        cinfo_.scale_denom = 8;
        for (int num : {1, 2, 4, 5, 6, 7, 8}) {
            cinfo_.scale_num = static_cast<unsigned>(num);
            jpeg_calc_output_dimensions(&cinfo_);
            if (static_cast<int>(cinfo_.output_width) >= wantWidth &&
                static_cast<int>(cinfo_.output_height) >= wantHeight)
                break;
        }
        rowWidth_ = static_cast<int>(cinfo_.output_width);
        rowHeight_ = static_cast<int>(cinfo_.output_height);
    }

    // Adobe writes CMYK inverted; the product of ink and black gives each channel.
    void InksToRgb(imaging::Pixel* out) const {
        const bool inverted = cinfo_.saw_Adobe_marker;
        for (int x = 0; x < rowWidth_; ++x) {
            unsigned c = inks_[x * 4], m = inks_[x * 4 + 1], y = inks_[x * 4 + 2], k = inks_[x * 4 + 3];
            if (!inverted) c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
            out[x] = imaging::MakePixel(static_cast<std::uint8_t>(c * k / 255),
                                        static_cast<std::uint8_t>(m * k / 255),
                                        static_cast<std::uint8_t>(y * k / 255));
        }
    }

    jpeg_decompress_struct cinfo_{};
    ErrorManager err_{};
    Progress progress_;
    bool created_ = false;
    bool started_ = false;
    bool failed_ = false;
    bool cmyk_ = false;
    int rowWidth_ = 0, rowHeight_ = 0;
    imaging::PictureInfo info_;
    std::vector<std::uint8_t> profile_;
    std::string failure_;
    std::vector<JSAMPLE> inks_;
    std::vector<JSAMPLE> skip_;
    detail::ScaledIdct idct_;  // the reduced-size transforms, when libjpeg would do them in plain C
};

}  // namespace

namespace detail {
SourcePtr OpenJpeg(Bytes bytes, imaging::DecodeHint hint) {
    auto source = std::make_unique<JpegSource>();
    std::string why;
    if (!source->Start(bytes, hint, why)) {
        Refuse(why);
        return nullptr;
    }
    return source;
}
}  // namespace detail

// The encoder's libjpeg state; each step that may raise libjpeg's error runs in a function of
// its own that holds nothing to destroy, and reports the error as false. The file goes straight
// into the vector Finish returns: its room is reserved up front (pages not yet written cost
// nothing) and cleared a step at a time as the encoder fills it.
struct JpegRowEncoder::State {
    jpeg_compress_struct cinfo{};
    ErrorManager err{};
    jpeg_destination_mgr destination{};
    std::vector<std::uint8_t> file;
    bool created = false;
    ~State() {
        if (created) jpeg_destroy_compress(&cinfo);
    }

    static State& Of(j_compress_ptr cinfo) { return *static_cast<State*>(cinfo->client_data); }
    static void Begin(j_compress_ptr cinfo) {
        State& state = Of(cinfo);
        state.file.clear();
        state.file.resize(std::min<std::size_t>(state.file.capacity(), 64 * 1024));
        cinfo->dest->next_output_byte = state.file.data();
        cinfo->dest->free_in_buffer = state.file.size();
    }
    // The whole room so far is written: as much again (at least 64 KiB). Without the memory,
    // the encoder stops as if suspended, and the row or the finish fails.
    static boolean Grow(j_compress_ptr cinfo) {
        State& state = Of(cinfo);
        const std::size_t used = state.file.size();
        try {
            state.file.resize(used + std::max<std::size_t>(used, 64 * 1024));
        } catch (const std::bad_alloc&) {
            return FALSE;
        }
        cinfo->dest->next_output_byte = state.file.data() + used;
        cinfo->dest->free_in_buffer = state.file.size() - used;
        return TRUE;
    }
    static void End(j_compress_ptr cinfo) {
        State& state = Of(cinfo);
        state.file.resize(state.file.size() - cinfo->dest->free_in_buffer);
    }

    bool Start(int width, int height, int quality, std::vector<std::uint8_t> room) {
        cinfo.err = jpeg_std_error(&err.pub);
        err.pub.error_exit = ErrorExit;
        err.pub.output_message = SilentOutput;
        // About a byte a pixel: more than a photo at quality 92 takes.
        file = std::move(room);
        file.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
        if (setjmp(err.jump)) return false;
        jpeg_create_compress(&cinfo);
        created = true;
        cinfo.client_data = this;
        destination.init_destination = Begin;
        destination.empty_output_buffer = Grow;
        destination.term_destination = End;
        cinfo.dest = &destination;
        cinfo.image_width = static_cast<JDIMENSION>(width);
        cinfo.image_height = static_cast<JDIMENSION>(height);
        cinfo.input_components = 4;
        cinfo.in_color_space = JCS_EXT_BGRX;
        jpeg_set_defaults(&cinfo);
        jpeg_set_quality(&cinfo, quality, TRUE);
        cinfo.dct_method = JDCT_ISLOW;
        jpeg_start_compress(&cinfo, TRUE);
        return true;
    }
    bool Write(const imaging::Pixel* pixels) {
        if (setjmp(err.jump)) return false;
        JSAMPROW row = const_cast<JSAMPROW>(reinterpret_cast<const JSAMPLE*>(pixels));
        return jpeg_write_scanlines(&cinfo, &row, 1) == 1;
    }
    bool Finish() {
        if (setjmp(err.jump)) return false;
        jpeg_finish_compress(&cinfo);
        return true;
    }
};

JpegRowEncoder::JpegRowEncoder(int width, int height, int quality, std::vector<std::uint8_t> room)
    : state_(std::make_unique<State>()) {
    if (width < 1 || height < 1) throw Error("An empty picture cannot be written as JPEG.");
    if (!state_->Start(width, height, quality, std::move(room)))
        throw Error("The picture could not be written as JPEG.");
}

JpegRowEncoder::~JpegRowEncoder() = default;

void JpegRowEncoder::WriteRow(const imaging::Pixel* row) {
    if (state_->cinfo.next_scanline >= state_->cinfo.image_height || !state_->Write(row))
        throw Error("The picture could not be written as JPEG.");
}

std::vector<std::uint8_t> JpegRowEncoder::Finish() {
    if (state_->cinfo.next_scanline < state_->cinfo.image_height || !state_->Finish())
        throw Error("The picture could not be written as JPEG.");
    return std::move(state_->file);
}

std::vector<std::uint8_t> EncodeJpeg(const imaging::Image& image, int quality) {
    if (image.Empty()) throw Error("An empty picture cannot be written as JPEG.");
    JpegRowEncoder encoder(image.Width(), image.Height(), quality);
    for (int y = 0; y < image.Height(); ++y) encoder.WriteRow(image.Row(y));
    return encoder.Finish();
}

}  // namespace nimbrel::codecs
