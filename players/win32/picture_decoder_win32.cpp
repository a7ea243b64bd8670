#include "picture_decoder_win32.h"

#include <wincodec.h>

#include <algorithm>
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
        if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IWICImagingFactory, reinterpret_cast<void**>(factory_.Out()))))
            return false;
        if (FAILED(factory_->CreateStream(stream_.Out())) ||
            FAILED(stream_->InitializeFromMemory(const_cast<BYTE*>(bytes.data()),
                                                 static_cast<DWORD>(bytes.size()))))
            return false;
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
        info_.orientation = format == "jpeg" ? imaging::ReadExifOrientation(bytes.data(), bytes.size()) : 1;
        info_.format = "wic";
        return true;
    }
    const imaging::PictureInfo& Info() const override { return info_; }
    bool ReadRows(int first, int count, imaging::Pixel* into) override {
        WICRect rect{0, first, info_.width, count};
        const auto pixels = static_cast<std::size_t>(info_.width) * static_cast<std::size_t>(count);
        if (bytesPerPixel_ == 0) {
            UINT stride = static_cast<UINT>(info_.width) * 4;
            return SUCCEEDED(converter_->CopyPixels(&rect, stride, stride * static_cast<UINT>(count),
                                                    reinterpret_cast<BYTE*>(into)));
        }
        // The rows packed at the start of `into`, then widened from the last pixel back, so that
        // no pixel is overwritten before it is read.
        const UINT stride = static_cast<UINT>(info_.width) * bytesPerPixel_;
        auto* packed = reinterpret_cast<BYTE*>(into);
        if (FAILED(frame_->CopyPixels(&rect, stride, stride * static_cast<UINT>(count), packed)))
            return false;
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
    Com<IWICStream> stream_;
    Com<IWICBitmapDecoder> decoder_;
    Com<IWICBitmapFrameDecode> frame_;
    Com<IWICFormatConverter> converter_;  // for layouts other than the two above
    UINT bytesPerPixel_ = 0;              // of those two, read without a converter
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

imaging::Pixel BackgroundColor(std::int32_t value) {
    COLORREF color = value < 0 ? GetSysColor(value & 0xFF) : static_cast<COLORREF>(value) & 0x00FFFFFF;
    return imaging::MakePixel(GetRValue(color), GetGValue(color), GetBValue(color));
}

imaging::Rect ToRect(const RECT& rect) {
    return imaging::Rect{rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

}  // namespace nimbrel::player::win32
