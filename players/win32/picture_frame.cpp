#include "picture_frame.h"
#include "platform/ascii.h"

#include <wincodec.h>

#include <algorithm>
#include <cstring>

#include "gdiplus_headers.h"
#include "imaging/decoders.h"
#include "imaging/exif.h"
#include "imaging/picture_format.h"
#include "imaging/row_resampler.h"
#include "win32_util.h"

namespace nimbrel::player::win32 {
namespace {

constexpr PROPID kOrientationTag = 0x0112;

std::string LowerExtension(const std::string& name) {
    std::size_t dot = name.find_last_of('.');
    std::string ext = dot == std::string::npos ? std::string() : name.substr(dot);
    return platform::LowerAscii(ext);
}

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

IStream* StreamOf(const std::string& bytes) {
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

std::unique_ptr<Frame> DrawOnFrame(Gdiplus::Image& image, int width, int height,
                                   const FrameSettings& settings) {
    auto frame = BlankFrame(settings);
    Gdiplus::Bitmap target(frame->width, frame->height, frame->width * 4, PixelFormat32bppRGB,
                           reinterpret_cast<BYTE*>(frame->pixels.data()));
    Gdiplus::Graphics graphics(&target);
    graphics.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBilinear);
    graphics.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
    Gdiplus::ImageAttributes attributes;
    attributes.SetWrapMode(Gdiplus::WrapModeTileFlipXY);  // no dark seams at scaled edges
    for (const imaging::Rect& monitor : settings.monitors) {
        imaging::Rect place =
            imaging::LayoutPicture(monitor.width, monitor.height, width, height, settings.layout);
        graphics.SetClip(Gdiplus::Rect(monitor.x, monitor.y, monitor.width, monitor.height));
        Gdiplus::Rect dest(monitor.x + place.x, monitor.y + place.y, place.width, place.height);
        // Metafiles draw whole into the rectangle; bitmaps by their pixels, edges clamped.
        Gdiplus::Status drawn =
            image.GetType() == Gdiplus::ImageTypeMetafile
                ? graphics.DrawImage(&image, dest)
                : graphics.DrawImage(&image, dest, 0, 0, width, height, Gdiplus::UnitPixel, &attributes);
        if (drawn != Gdiplus::Ok) return nullptr;
    }
    graphics.Flush(Gdiplus::FlushIntentionSync);
    for (std::uint32_t& p : frame->pixels) p &= 0x00FFFFFF;
    return frame;
}

// Holds one COM interface.
template <class T>
class Com {
public:
    Com() = default;
    Com(const Com&) = delete;
    Com& operator=(const Com&) = delete;
    ~Com() {
        if (p_ != nullptr) p_->Release();
    }
    T** Out() { return &p_; }
    T* operator->() const { return p_; }
    T* Get() const { return p_; }

private:
    T* p_ = nullptr;
};

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

// Decodes through the Windows Imaging Component (BMP, DIB, JPEG, PNG, GIF, ICO, TIFF), row band
// by row band. Null when WIC is missing or cannot read the bytes.
std::unique_ptr<Frame> ComposeWithWic(const std::string& extension, const std::string& format,
                                      const std::string& bytes, const FrameSettings& settings) {
    if (bytes.empty() || bytes.size() > 0xFFFFFFFFu) return nullptr;
    ComScope com;
    Com<IWICImagingFactory> factory;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IWICImagingFactory, reinterpret_cast<void**>(factory.Out()))))
        return nullptr;
    Com<IWICStream> stream;
    if (FAILED(factory->CreateStream(stream.Out())) ||
        FAILED(stream->InitializeFromMemory(reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data())),
                                            static_cast<DWORD>(bytes.size()))))
        return nullptr;
    Com<IWICBitmapDecoder> decoder;
    if (FAILED(factory->CreateDecoderFromStream(stream.Get(), nullptr, WICDecodeMetadataCacheOnDemand,
                                                decoder.Out())))
        return nullptr;
    // An icon file holds several sizes: the largest shows best.
    UINT index = 0;
    if (extension == ".ico") {
        UINT count = 0, best = 0;
        decoder->GetFrameCount(&count);
        for (UINT i = 0; i < count && i < 64; ++i) {
            Com<IWICBitmapFrameDecode> candidate;
            UINT w = 0, h = 0;
            if (SUCCEEDED(decoder->GetFrame(i, candidate.Out())) && SUCCEEDED(candidate->GetSize(&w, &h)) &&
                w * h > best) {
                best = w * h;
                index = i;
            }
        }
    }
    Com<IWICBitmapFrameDecode> source;
    Com<IWICFormatConverter> converter;
    if (FAILED(decoder->GetFrame(index, source.Out())) ||
        FAILED(factory->CreateFormatConverter(converter.Out())) ||
        FAILED(converter->Initialize(source.Get(), GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone,
                                     nullptr, 0.0, WICBitmapPaletteTypeCustom)))
        return nullptr;
    Trace("picture decoder ready");
    UINT width = 0, height = 0;
    if (FAILED(converter->GetSize(&width, &height)) || width == 0 || height == 0 ||
        width > static_cast<UINT>(imaging::kMaxImageSide) * 2 ||
        height > static_cast<UINT>(imaging::kMaxImageSide) * 2)
        return nullptr;
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    int orientation = format == "jpeg" ? imaging::ReadExifOrientation(data, bytes.size()) : 1;
    RowReader read = [&](int first, int count, imaging::Pixel* into) {
        WICRect rect{0, first, static_cast<INT>(width), count};
        UINT stride = width * 4;
        return SUCCEEDED(converter->CopyPixels(&rect, stride, stride * static_cast<UINT>(count),
                                               reinterpret_cast<BYTE*>(into)));
    };
    return ComposeRows(static_cast<int>(width), static_cast<int>(height), orientation, read, settings);
}

}  // namespace

std::unique_ptr<Frame> ComposeFrame(const std::string& name, const std::string& bytes,
                                    const FrameSettings& settings) {
    // The decoder is chosen by the member's content: a picture converted at compile keeps its
    // name (a .heic member holds a JPEG), and a mislabelled file still shows.
    std::string ext = LowerExtension(name);
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const std::string format = imaging::DetectPictureFormat(name, {data, bytes.size()});
    if (format == "pcx" || format == "wbmp") {
        imaging::Image picture;
        try {
            picture = format == "pcx" ? imaging::DecodePcx(data, bytes.size())
                                      : imaging::DecodeWbmp(data, bytes.size());
        } catch (const std::exception&) {
            return nullptr;
        }
        if (picture.Empty()) return nullptr;
        return ComposeImage(picture, settings);
    }
    // Bitmaps through WIC; metafiles, and whatever WIC cannot read, through GDI+.
    if (!format.empty() || (ext != ".wmf" && ext != ".emf")) {
        if (auto frame = ComposeWithWic(ext, format, bytes, settings)) return frame;
    }
    IStream* stream = StreamOf(bytes);
    if (stream == nullptr) return nullptr;
    std::unique_ptr<Frame> frame;
    {
        Gdiplus::Image image(stream, FALSE);
        if (image.GetLastStatus() == Gdiplus::Ok) {
            TurnUpright(image);
            int width = static_cast<int>(image.GetWidth());
            int height = static_cast<int>(image.GetHeight());
            if (width > 0 && height > 0) frame = DrawOnFrame(image, width, height, settings);
        }
    }
    stream->Release();
    return frame;
}

imaging::Pixel BackgroundColor(std::int32_t value) {
    COLORREF color = value < 0 ? GetSysColor(value & 0xFF) : static_cast<COLORREF>(value) & 0x00FFFFFF;
    return imaging::MakePixel(GetRValue(color), GetGValue(color), GetBValue(color));
}

imaging::Rect ToRect(const RECT& rect) {
    return imaging::Rect{rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

}  // namespace nimbrel::player::win32
