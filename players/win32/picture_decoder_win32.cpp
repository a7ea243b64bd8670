#include "picture_decoder_win32.h"

#include <wincodec.h>

#include <algorithm>
#include <memory>
#include <cstring>
#include <string>
#include <vector>

#include "gdiplus_headers.h"
#include "imaging/exif.h"
#include "imaging/picture_format.h"
#include "package.h"
#include "platform/ascii.h"
#include "platform/win32/com.h"
#include "show/picture_sources.h"
#include "win32_util.h"

namespace nimbrel::player::win32 {
namespace {

constexpr PROPID kOrientationTag = 0x0112;

// Turns a photo upright by its EXIF orientation (1 upright .. 8).
void TurnUpright(Gdiplus::Image& image) {
    UINT size = image.GetPropertyItemSize(kOrientationTag);
    if (size == 0 || size > 4096) return;
    std::vector<unsigned char> buffer(size);
    auto* item = reinterpret_cast<Gdiplus::PropertyItem*>(buffer.data());
    if (image.GetPropertyItem(kOrientationTag, size, item) != Gdiplus::Ok || item->value == nullptr ||
        item->length < 2)
        return;
    unsigned orientation = *static_cast<unsigned short*>(item->value);
    Gdiplus::RotateFlipType turn = Gdiplus::RotateNoneFlipNone;
    switch (orientation) {
        case 2: turn = Gdiplus::RotateNoneFlipX; break;
        case 3: turn = Gdiplus::Rotate180FlipNone; break;
        case 4: turn = Gdiplus::RotateNoneFlipY; break;
        case 5: turn = Gdiplus::Rotate90FlipX; break;
        case 6: turn = Gdiplus::Rotate90FlipNone; break;
        case 7: turn = Gdiplus::Rotate270FlipX; break;
        case 8: turn = Gdiplus::Rotate270FlipNone; break;
        default: return;
    }
    image.RotateFlip(turn);
}

IStream* StreamOf(std::span<const std::uint8_t> bytes) {
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes.size() ? bytes.size() : 1);
    if (memory == nullptr) return nullptr;
    void* data = GlobalLock(memory);
    if (data == nullptr) {
        GlobalFree(memory);
        return nullptr;
    }
    if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
    GlobalUnlock(memory);
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(memory, TRUE, &stream))) {
        GlobalFree(memory);
        return nullptr;
    }
    return stream;
}

using platform::win32::Com;

// IWICBitmapSourceTransform, which mingw-w64's wincodec.h lacks: a decoder that can give its
// picture scaled (the JPEG decoder through its DCT) offers it on the frame.
struct SourceTransform : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CopyPixels(const WICRect* rect, UINT width, UINT height,
                                                 WICPixelFormatGUID* format, WICBitmapTransformOptions transform,
                                                 UINT stride, UINT bufferSize, BYTE* buffer) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetClosestSize(UINT* width, UINT* height) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetClosestPixelFormat(WICPixelFormatGUID* format) = 0;
    virtual HRESULT STDMETHODCALLTYPE DoesSupportTransform(WICBitmapTransformOptions transform, BOOL* supported) = 0;
};
constexpr IID kSourceTransformId = {0x3B16811B, 0x6A43, 0x4EC9, {0xB7, 0x13, 0x3D, 0x5A, 0x0C, 0x13, 0xB9, 0x40}};

// A read-only COM stream over a picture's bytes as they are asked for, so that WIC decoders that
// read a band at a time take a deflated member as it inflates, never whole.
class PictureIStream final : public IStream {
public:
    explicit PictureIStream(std::shared_ptr<imaging::PictureStream> stream) : stream_(std::move(stream)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (IsEqualIID(id, IID_IUnknown) || IsEqualIID(id, IID_ISequentialStream) || IsEqualIID(id, IID_IStream)) {
            *out = static_cast<IStream*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

    HRESULT STDMETHODCALLTYPE Read(void* into, ULONG size, ULONG* read) override {
        ULONG done = 0;
        HRESULT result = S_OK;
        try {
            while (done < size) {
                const std::size_t got = stream_->ReadAt(position_, static_cast<char*>(into) + done, size - done);
                if (got == 0) break;
                position_ += got;
                done += static_cast<ULONG>(got);
            }
            if (done < size) result = S_FALSE;
        } catch (const std::exception&) {
            result = E_FAIL;  // damaged: the decoder fails, and the picture is left out
        }
        if (read != nullptr) *read = done;
        return result;
    }
    HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG* written) override {
        if (written != nullptr) *written = 0;
        return STG_E_ACCESSDENIED;
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* now) override {
        LONGLONG base = 0;
        switch (origin) {
            case STREAM_SEEK_SET: base = 0; break;
            case STREAM_SEEK_CUR: base = static_cast<LONGLONG>(position_); break;
            case STREAM_SEEK_END: base = static_cast<LONGLONG>(stream_->Size()); break;
            default: return STG_E_INVALIDFUNCTION;
        }
        const LONGLONG target = base + move.QuadPart;
        if (target < 0) return STG_E_INVALIDFUNCTION;
        position_ = static_cast<std::uint64_t>(target);
        if (now != nullptr) now->QuadPart = position_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return STG_E_ACCESSDENIED; }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Revert() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD) override {
        if (stat == nullptr) return E_POINTER;
        *stat = STATSTG{};
        stat->type = STGTY_STREAM;
        stat->cbSize.QuadPart = stream_->Size();
        stat->grfMode = STGM_READ;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IStream** out) override {
        if (out != nullptr) *out = nullptr;
        return E_NOTIMPL;
    }

private:
    ~PictureIStream() = default;
    std::shared_ptr<imaging::PictureStream> stream_;
    std::uint64_t position_ = 0;
    LONG references_ = 1;
};

// The bytes a picture stream begins with, at most `limit` of them.
std::vector<std::uint8_t> HeadOf(imaging::PictureStream& stream, std::size_t limit) {
    std::vector<std::uint8_t> head(static_cast<std::size_t>(std::min<std::uint64_t>(stream.Size(), limit)));
    std::size_t at = 0;
    while (at < head.size()) {
        const std::size_t got = stream.ReadAt(at, head.data() + at, head.size() - at);
        if (got == 0) break;
        at += got;
    }
    head.resize(at);
    return head;
}

// COM for the calling thread, for as long as the object lives.
class ComScope {
public:
    ComScope() : result_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    ~ComScope() {
        if (SUCCEEDED(result_)) CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    HRESULT result_;
};

// A picture read through the Windows Imaging Component (BMP, DIB, JPEG, PNG, GIF, ICO, TIFF),
// row band by row band.
class WicSource : public imaging::PictureSource {
public:
    // False when WIC is missing or cannot read the bytes. `format` is what the bytes hold, as
    // DetectPictureFormat names it, or "" when unknown.
    bool Open(bool icon, const std::string& format, std::span<const std::uint8_t> bytes) {
        if (bytes.empty() || bytes.size() > 0xFFFFFFFFu) return false;
        if (!MakeFactory()) return false;
        Com<IWICStream> memory;
        if (FAILED(factory_->CreateStream(memory.Out())) ||
            FAILED(memory->InitializeFromMemory(const_cast<BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()))) ||
            FAILED(memory->QueryInterface(IID_IStream, reinterpret_cast<void**>(stream_.Out()))))
            return false;
        return OpenFrame(icon, format, bytes);
    }
    // The same over a stream that the decoder reads as it goes; `head` is the stream's first
    // bytes (where the EXIF orientation lies).
    bool Open(bool icon, const std::string& format, std::span<const std::uint8_t> head,
              std::shared_ptr<imaging::PictureStream> stream) {
        if (head.empty() || !MakeFactory()) return false;
        *stream_.Out() = new PictureIStream(std::move(stream));
        return OpenFrame(icon, format, head);
    }

    const imaging::PictureInfo& Info() const override { return info_; }
    int RowWidth() const override { return transform_ ? reducedWidth_ : info_.width; }
    int RowHeight() const override { return transform_ ? reducedHeight_ : info_.height; }

    // A decoder that scales while it decodes (the JPEG decoder's DCT scaling, in halves down to
    // an eighth) gives the picture at the smallest of its sizes that still covers the hint, so
    // that the memory a large photo takes follows the screen. Where the decoder cannot, or would
    // change the pixel layout, the size stays.
    bool ReduceTo(const imaging::DecodeHint& hint) override {
        if (hint.maxWidth <= 0 || hint.maxHeight <= 0 || bytesPerPixel_ == 0 || started_ || transform_) return false;
        Com<SourceTransform> transform;
        if (FAILED(frame_->QueryInterface(kSourceTransformId, reinterpret_cast<void**>(transform.Out()))))
            return false;
        WICPixelFormatGUID layout = bytesPerPixel_ == 3 ? GUID_WICPixelFormat24bppBGR : GUID_WICPixelFormat8bppGray;
        const WICPixelFormatGUID wanted = layout;
        if (FAILED(transform->GetClosestPixelFormat(&layout)) || !IsEqualGUID(layout, wanted)) return false;
        // The hint is upright; the decoder's sizes are as stored.
        const bool turned = info_.orientation >= 5 && info_.orientation <= 8;
        const auto needWidth = static_cast<UINT>(turned ? hint.maxHeight : hint.maxWidth);
        const auto needHeight = static_cast<UINT>(turned ? hint.maxWidth : hint.maxHeight);
        const auto width = static_cast<UINT>(info_.width), height = static_cast<UINT>(info_.height);
        for (UINT divisor : {8u, 4u, 2u}) {
            UINT w = (width + divisor - 1) / divisor, h = (height + divisor - 1) / divisor;
            if (w < needWidth || h < needHeight) continue;
            if (FAILED(transform->GetClosestSize(&w, &h)) || w < needWidth || h < needHeight || w >= width ||
                h >= height || w == 0 || h == 0)
                continue;
            transform_ = std::move(transform);
            reducedWidth_ = static_cast<int>(w);
            reducedHeight_ = static_cast<int>(h);
            Trace("picture decoder scales down");
            return true;
        }
        return false;
    }

    bool ReadRows(int first, int count, imaging::Pixel* into) override {
        started_ = true;
        const int rowWidth = RowWidth();
        WICRect rect{0, first, rowWidth, count};
        const auto pixels = static_cast<std::size_t>(rowWidth) * static_cast<std::size_t>(count);
        if (bytesPerPixel_ == 0) {
            UINT stride = static_cast<UINT>(rowWidth) * 4;
            return SUCCEEDED(converter_->CopyPixels(&rect, stride, stride * static_cast<UINT>(count),
                                                    reinterpret_cast<BYTE*>(into)));
        }
        // The rows packed at the start of `into`, then widened from the last pixel back, so that
        // no pixel is overwritten before it is read.
        const UINT stride = static_cast<UINT>(rowWidth) * bytesPerPixel_;
        auto* packed = reinterpret_cast<BYTE*>(into);
        HRESULT copied = E_FAIL;
        if (transform_) {
            WICPixelFormatGUID layout = bytesPerPixel_ == 3 ? GUID_WICPixelFormat24bppBGR : GUID_WICPixelFormat8bppGray;
            copied = transform_->CopyPixels(&rect, static_cast<UINT>(reducedWidth_), static_cast<UINT>(reducedHeight_),
                                            &layout, WICBitmapTransformRotate0, stride,
                                            stride * static_cast<UINT>(count), packed);
        } else {
            copied = frame_->CopyPixels(&rect, stride, stride * static_cast<UINT>(count), packed);
        }
        if (FAILED(copied)) return false;
        if (bytesPerPixel_ == 3) {
            for (std::size_t i = pixels; i-- > 0;) {
                const BYTE* p = packed + i * 3;
                into[i] = imaging::MakePixel(p[2], p[1], p[0]);
            }
        } else {
            for (std::size_t i = pixels; i-- > 0;)
                into[i] = imaging::MakePixel(packed[i], packed[i], packed[i]);
        }
        return true;
    }

private:
    bool MakeFactory() {
        return SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                          reinterpret_cast<void**>(factory_.Out())));
    }

    bool OpenFrame(bool icon, const std::string& format, std::span<const std::uint8_t> head) {
        if (!OpenDecoder(icon ? "ico" : format)) return false;
        // An icon file holds several sizes: the largest shows best.
        UINT index = 0;
        if (icon) {
            UINT count = 0, best = 0;
            decoder_->GetFrameCount(&count);
            for (UINT i = 0; i < count && i < 64; ++i) {
                Com<IWICBitmapFrameDecode> candidate;
                UINT w = 0, h = 0;
                if (SUCCEEDED(decoder_->GetFrame(i, candidate.Out())) &&
                    SUCCEEDED(candidate->GetSize(&w, &h)) && w * h > best) {
                    best = w * h;
                    index = i;
                }
            }
        }
        if (FAILED(decoder_->GetFrame(index, frame_.Out()))) return false;
        // Photos come as 24-bit BGR (or 8-bit grey): their rows are widened here, which is
        // quicker than a format converter; every other layout goes through one.
        WICPixelFormatGUID layout{};
        if (SUCCEEDED(frame_->GetPixelFormat(&layout))) {
            if (IsEqualGUID(layout, GUID_WICPixelFormat24bppBGR)) bytesPerPixel_ = 3;
            if (IsEqualGUID(layout, GUID_WICPixelFormat8bppGray)) bytesPerPixel_ = 1;
        }
        if (bytesPerPixel_ == 0 && (FAILED(factory_->CreateFormatConverter(converter_.Out())) ||
                                    FAILED(converter_->Initialize(frame_.Get(), GUID_WICPixelFormat32bppBGRA,
                                                                  WICBitmapDitherTypeNone, nullptr, 0.0,
                                                                  WICBitmapPaletteTypeCustom))))
            return false;
        Trace("picture decoder ready");
        UINT width = 0, height = 0;
        if (FAILED(frame_->GetSize(&width, &height)) || width == 0 || height == 0 ||
            width > static_cast<UINT>(imaging::kMaxImageSide) * 2 ||
            height > static_cast<UINT>(imaging::kMaxImageSide) * 2)
            return false;
        info_.width = static_cast<int>(width);
        info_.height = static_cast<int>(height);
        info_.orientation = format == "jpeg" ? imaging::ReadExifOrientation(head.data(), head.size()) : 1;
        info_.format = "wic";
        return true;
    }

    // The decoder of a known container straight away (asking WIC to find one tries each in
    // turn); any that will take the bytes otherwise.
    bool OpenDecoder(const std::string& format) {
        static const struct {
            const char* format;
            const GUID* container;
        } kContainers[] = {{"jpeg", &GUID_ContainerFormatJpeg}, {"png", &GUID_ContainerFormatPng},
                           {"gif", &GUID_ContainerFormatGif},   {"bmp", &GUID_ContainerFormatBmp},
                           {"tiff", &GUID_ContainerFormatTiff}, {"ico", &GUID_ContainerFormatIco}};
        for (const auto& known : kContainers) {
            if (format != known.format) continue;
            if (SUCCEEDED(factory_->CreateDecoder(*known.container, nullptr, decoder_.Out())) &&
                SUCCEEDED(decoder_->Initialize(stream_.Get(), WICDecodeMetadataCacheOnDemand)))
                return true;
            decoder_ = Com<IWICBitmapDecoder>();
            const LARGE_INTEGER start{};
            if (FAILED(stream_->Seek(start, STREAM_SEEK_SET, nullptr))) return false;
        }
        return SUCCEEDED(factory_->CreateDecoderFromStream(stream_.Get(), nullptr,
                                                           WICDecodeMetadataCacheOnDemand, decoder_.Out()));
    }

    ComScope com_;  // first in, last out
    Com<IWICImagingFactory> factory_;
    Com<IStream> stream_;
    Com<IWICBitmapDecoder> decoder_;
    Com<IWICBitmapFrameDecode> frame_;
    Com<IWICFormatConverter> converter_;  // for layouts other than the two above
    UINT bytesPerPixel_ = 0;              // of those two, read without a converter
    Com<SourceTransform> transform_;  // where the decoder scales down (ReduceTo)
    int reducedWidth_ = 0, reducedHeight_ = 0;
    bool started_ = false;
    imaging::PictureInfo info_;
};

// Metafiles, and bitmaps WIC cannot read, drawn by GDI+: a bitmap at its own size, a metafile
// at the size it will show at (as large as fits the screen), so that it stays sharp.
std::unique_ptr<imaging::PictureSource> OpenWithGdiPlus(std::span<const std::uint8_t> bytes,
                                                        const imaging::DecodeHint& hint) {
    IStream* stream = StreamOf(bytes);
    if (stream == nullptr) return nullptr;
    std::unique_ptr<imaging::PictureSource> source;
    {
        Gdiplus::Image image(stream, FALSE);
        if (image.GetLastStatus() == Gdiplus::Ok) {
            TurnUpright(image);
            const int width = static_cast<int>(image.GetWidth());
            const int height = static_cast<int>(image.GetHeight());
            if (width > 0 && height > 0 && imaging::ImageSizeAllowed(width, height)) {
                int drawWidth = width, drawHeight = height;
                const bool metafile = image.GetType() == Gdiplus::ImageTypeMetafile;
                if (metafile && hint.maxWidth > 0 && hint.maxHeight > 0) {
                    imaging::Rect fit =
                        imaging::LayoutPicture(hint.maxWidth, hint.maxHeight, width, height,
                                               imaging::LayoutOptions{false, false, true, true});
                    drawWidth = fit.width;
                    drawHeight = fit.height;
                }
                imaging::Image rows(drawWidth, drawHeight, 0);
                Gdiplus::Bitmap target(drawWidth, drawHeight, drawWidth * 4, PixelFormat32bppARGB,
                                       reinterpret_cast<BYTE*>(rows.Data()));
                Gdiplus::Graphics graphics(&target);
                graphics.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBilinear);
                graphics.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
                Gdiplus::ImageAttributes attributes;
                attributes.SetWrapMode(Gdiplus::WrapModeTileFlipXY);  // no dark seams at scaled edges
                Gdiplus::Rect dest(0, 0, drawWidth, drawHeight);
                Gdiplus::Status drawn = metafile ? graphics.DrawImage(&image, dest)
                                                 : graphics.DrawImage(&image, dest, 0, 0, width, height,
                                                                      Gdiplus::UnitPixel, &attributes);
                graphics.Flush(Gdiplus::FlushIntentionSync);
                if (drawn == Gdiplus::Ok)
                    source = std::make_unique<show::ImageSource>(
                        std::move(rows), metafile ? "metafile" : "gdiplus", width, height);
            }
        }
    }
    stream->Release();
    return source;
}

}  // namespace

std::unique_ptr<imaging::PictureSource> WindowsPictureDecoder::Open(std::string_view name,
                                                                    std::span<const std::uint8_t> bytes,
                                                                    imaging::DecodeHint hint) {
    try {
        // The decoder is chosen by the member's content: a picture converted at compile keeps its
        // name (a .heic member holds a JPEG), and a mislabelled file still shows.
        const std::string format = imaging::DetectPictureFormat(name, bytes);
        // The header's word on the size is looked at before any decoder takes it: the system's
        // decoders allocate what it claims, and fail badly for gigapixels.
        std::int64_t width = 0, height = 0;
        if (imaging::DeclaredPictureSize(name, bytes, width, height) && !PictureSizeAllowed(width, height))
            return nullptr;
        if (format == "pcx" || format == "wbmp") return show::OpenOwnFormat(name, bytes);
        // Bitmaps through WIC; metafiles, and whatever WIC cannot read, through GDI+.
        if (!format.empty() || (!show::HasExtension(name, ".wmf") && !show::HasExtension(name, ".emf"))) {
            auto wic = std::make_unique<WicSource>();
            if (wic->Open(show::HasExtension(name, ".ico"), format, bytes)) return wic;
        }
        return OpenWithGdiPlus(bytes, hint);
    } catch (const std::exception&) {
        return nullptr;
    }
}

std::unique_ptr<imaging::PictureSource> WindowsPictureDecoder::OpenStream(std::string_view name,
                                                                          std::shared_ptr<imaging::PictureStream> stream,
                                                                          imaging::DecodeHint hint) {
    try {
        // The head tells the format, the declared size and the EXIF orientation.
        const std::vector<std::uint8_t> head = HeadOf(*stream, 256 * 1024);
        const std::string format = imaging::DetectPictureFormat(name, head);
        std::int64_t width = 0, height = 0;
        if (imaging::DeclaredPictureSize(name, head, width, height) && !PictureSizeAllowed(width, height))
            return nullptr;
        // WIC reads the bitmaps through the stream; the rest is taken in whole, as before.
        if (!format.empty() && format != "pcx" && format != "wbmp") {
            auto wic = std::make_unique<WicSource>();
            if (wic->Open(show::HasExtension(name, ".ico"), format, head, stream)) return wic;
        }
        return PictureDecoder::OpenStream(name, std::move(stream), hint);
    } catch (const std::exception&) {
        return nullptr;
    }
}

imaging::Pixel BackgroundColor(std::int32_t value) {
    COLORREF color = value < 0 ? GetSysColor(value & 0xFF) : static_cast<COLORREF>(value) & 0x00FFFFFF;
    return imaging::MakePixel(GetRValue(color), GetGValue(color), GetBValue(color));
}

imaging::Rect ToRect(const RECT& rect) {
    return imaging::Rect{rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

}  // namespace nimbrel::player::win32
