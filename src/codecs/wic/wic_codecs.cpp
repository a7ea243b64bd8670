// The codecs on Windows, through the Windows Imaging Component: JPEG, PNG, GIF, TIFF, and HEIF,
// AVIF and WebP where the system's codecs are installed. Pictures with a colour profile come out
// in sRGB already (WIC's colour transform), so their sources report no profile. BMP/DIB, PCX and
// WBMP stay with our own decoders, as on every system.
#include <objbase.h>
#include <wincodec.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "codecs/codecs.h"
#include "codecs/sources.h"
#include "imaging/exif.h"
#include "platform/error.h"
#include "platform/win32/com.h"

namespace nimbrel::codecs {

namespace {

// COM for the calling thread for as long as the thread lives (conversion workers included).
struct ComThread {
    HRESULT result = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    ~ComThread() {
        if (SUCCEEDED(result)) CoUninitialize();
    }
};
void EnsureCom() {
    thread_local ComThread com;
}

using platform::win32::Com;

Com<IWICImagingFactory> Factory() {
    EnsureCom();
    Com<IWICImagingFactory> factory;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IWICImagingFactory, reinterpret_cast<void**>(factory.Out()))))
        return {};
    return factory;
}

// The TIFF Orientation tag, or EXIF's inside a JPEG or HEIF container, through WIC's metadata.
int MetadataOrientation(IWICBitmapFrameDecode* frame) {
    Com<IWICMetadataQueryReader> reader;
    if (FAILED(frame->GetMetadataQueryReader(reader.Out()))) return 1;
    for (const wchar_t* query :
         {L"/ifd/{ushort=274}", L"/app1/ifd/{ushort=274}", L"System.Photo.Orientation"}) {
        PROPVARIANT value;
        PropVariantInit(&value);
        int orientation = 0;
        if (SUCCEEDED(reader->GetMetadataByName(query, &value)) && value.vt == VT_UI2)
            orientation = value.uiVal;
        PropVariantClear(&value);
        if (orientation >= 1 && orientation <= 8) return orientation;
    }
    return 1;
}

class WicSource : public imaging::PictureSource {
public:
    bool Start(detail::Bytes bytes, const std::string& format, imaging::DecodeHint hint) {
        if (bytes.empty() || bytes.size() > 0xFFFFFFFFu) return false;
        factory_ = Factory();
        if (!factory_) return false;
        if (FAILED(factory_->CreateStream(stream_.Out())) ||
            FAILED(stream_->InitializeFromMemory(const_cast<BYTE*>(bytes.data()),
                                                 static_cast<DWORD>(bytes.size()))))
            return false;
        if (FAILED(factory_->CreateDecoderFromStream(stream_.Get(), nullptr, WICDecodeMetadataCacheOnDemand,
                                                     decoder_.Out())) ||
            FAILED(decoder_->GetFrame(0, frame_.Out())))
            return false;
        UINT width = 0, height = 0;
        if (FAILED(frame_->GetSize(&width, &height)) || !detail::StoredSizeAllowed(width, height))
            return false;
        info_.width = static_cast<int>(width);
        info_.height = static_cast<int>(height);
        info_.format = format;
        info_.orientation = format == "jpeg" ? imaging::ReadExifOrientation(bytes.data(), bytes.size())
                                             : MetadataOrientation(frame_.Get());
        WICPixelFormatGUID pixelFormat{};
        Com<IWICComponentInfo> component;
        Com<IWICPixelFormatInfo2> formatInfo;
        BOOL alpha = FALSE;
        if (SUCCEEDED(frame_->GetPixelFormat(&pixelFormat)) &&
            SUCCEEDED(factory_->CreateComponentInfo(pixelFormat, component.Out())) &&
            SUCCEEDED(component->QueryInterface(IID_IWICPixelFormatInfo2,
                                                reinterpret_cast<void**>(formatInfo.Out()))))
            formatInfo->SupportsTransparency(&alpha);
        info_.hasAlpha = alpha != FALSE;

        IWICBitmapSource* current = frame_.Get();
        // A profile: straight into sRGB.
        IWICColorContext* contexts[1] = {nullptr};
        UINT count = 0;
        if (SUCCEEDED(factory_->CreateColorContext(&contexts[0])) &&
            SUCCEEDED(frame_->GetColorContexts(1, contexts, &count)) && count > 0) {
            WICColorContextType type{};
            Com<IWICColorContext> srgb;
            if (SUCCEEDED(contexts[0]->GetType(&type)) && type == WICColorContextProfile &&
                SUCCEEDED(factory_->CreateColorContext(srgb.Out())) &&
                SUCCEEDED(srgb->InitializeFromExifColorSpace(1)) &&
                SUCCEEDED(factory_->CreateColorTransformer(transform_.Out())) &&
                SUCCEEDED(
                    transform_->Initialize(current, contexts[0], srgb.Get(), GUID_WICPixelFormat32bppBGRA))) {
                current = transform_.Get();
                info_.hasColorProfile = true;
            }
        }
        if (contexts[0] != nullptr) contexts[0]->Release();

        // The smallest of 1/8, 1/4, 1/2 and the whole that covers the fitted size, where the
        // whole would be too large to hold or at least twice the fitted size.
        int wantWidth = 0, wantHeight = 0;
        FittedStoredSize(info_.width, info_.height, info_.orientation, hint, wantWidth, wantHeight);
        rowWidth_ = info_.width;
        rowHeight_ = info_.height;
        for (int divisor : {8, 4, 2}) {
            const int w = (info_.width + divisor - 1) / divisor, h = (info_.height + divisor - 1) / divisor;
            if (w >= wantWidth && h >= wantHeight) {
                rowWidth_ = w;
                rowHeight_ = h;
                break;
            }
        }
        if (rowWidth_ != info_.width || rowHeight_ != info_.height) {
            if (FAILED(factory_->CreateBitmapScaler(scaler_.Out())) ||
                FAILED(scaler_->Initialize(current, static_cast<UINT>(rowWidth_),
                                           static_cast<UINT>(rowHeight_), WICBitmapInterpolationModeFant)))
                return false;
            current = scaler_.Get();
        }
        if (FAILED(factory_->CreateFormatConverter(converter_.Out())) ||
            FAILED(converter_->Initialize(current, GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone,
                                          nullptr, 0.0, WICBitmapPaletteTypeCustom)))
            return false;
        return true;
    }

    const imaging::PictureInfo& Info() const override { return info_; }
    int RowWidth() const override { return rowWidth_; }
    int RowHeight() const override { return rowHeight_; }

    bool ReadRows(int first, int count, imaging::Pixel* into) override {
        if (first < 0 || count < 0 || first + count > rowHeight_) return false;
        if (count == 0) return true;
        const WICRect rect{0, first, rowWidth_, count};
        const UINT stride = static_cast<UINT>(rowWidth_) * 4;
        return SUCCEEDED(converter_->CopyPixels(&rect, stride, stride * static_cast<UINT>(count),
                                                reinterpret_cast<BYTE*>(into)));
    }

private:
    Com<IWICImagingFactory> factory_;
    Com<IWICStream> stream_;
    Com<IWICBitmapDecoder> decoder_;
    Com<IWICBitmapFrameDecode> frame_;
    Com<IWICColorTransform> transform_;
    Com<IWICBitmapScaler> scaler_;
    Com<IWICFormatConverter> converter_;
    int rowWidth_ = 0, rowHeight_ = 0;
    imaging::PictureInfo info_;
};

detail::SourcePtr OpenWithWic(detail::Bytes bytes, const std::string& format, imaging::DecodeHint hint = {}) {
    auto source = std::make_unique<WicSource>();
    if (!source->Start(bytes, format, hint)) return nullptr;
    return source;
}

// Writes a picture through a WIC encoder into memory.
std::vector<std::uint8_t> Encode(const imaging::Image& image, const GUID& container, bool alpha,
                                 float quality) {
    if (image.Empty()) throw Error("An empty picture cannot be written.");
    auto factory = Factory();
    if (!factory) throw Error("The Windows Imaging Component is not available.");
    Com<IStream> stream;
    Com<IWICBitmapEncoder> encoder;
    Com<IWICBitmapFrameEncode> frame;
    Com<IPropertyBag2> options;
    Com<IWICBitmap> bitmap;
    Com<IWICFormatConverter> converter;
    const UINT width = static_cast<UINT>(image.Width()), height = static_cast<UINT>(image.Height());
    WICPixelFormatGUID format = alpha ? GUID_WICPixelFormat32bppBGRA : GUID_WICPixelFormat24bppBGR;
    bool ok = SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, stream.Out())) &&
              SUCCEEDED(factory->CreateEncoder(container, nullptr, encoder.Out())) &&
              SUCCEEDED(encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache)) &&
              SUCCEEDED(encoder->CreateNewFrame(frame.Out(), options.Out()));
    if (ok && quality > 0) {
        PROPBAG2 option{};
        option.pstrName = const_cast<LPOLESTR>(L"ImageQuality");
        VARIANT value;
        VariantInit(&value);
        value.vt = VT_R4;
        value.fltVal = quality;
        options->Write(1, &option, &value);
    }
    ok = ok && SUCCEEDED(frame->Initialize(options.Get())) && SUCCEEDED(frame->SetSize(width, height)) &&
         SUCCEEDED(frame->SetPixelFormat(&format)) &&
         SUCCEEDED(factory->CreateBitmapFromMemory(
             width, height, GUID_WICPixelFormat32bppBGRA, width * 4, width * 4 * height,
             reinterpret_cast<BYTE*>(const_cast<imaging::Pixel*>(image.Data())), bitmap.Out())) &&
         SUCCEEDED(factory->CreateFormatConverter(converter.Out())) &&
         SUCCEEDED(converter->Initialize(bitmap.Get(), format, WICBitmapDitherTypeNone, nullptr, 0.0,
                                         WICBitmapPaletteTypeCustom)) &&
         SUCCEEDED(frame->WriteSource(converter.Get(), nullptr)) && SUCCEEDED(frame->Commit()) &&
         SUCCEEDED(encoder->Commit());
    if (!ok) throw Error("The picture could not be written.");
    HGLOBAL memory = nullptr;
    if (FAILED(GetHGlobalFromStream(stream.Get(), &memory))) throw Error("The picture could not be written.");
    STATSTG stat{};
    stream->Stat(&stat, STATFLAG_NONAME);
    const auto size = static_cast<std::size_t>(stat.cbSize.QuadPart);
    const auto* data = static_cast<const std::uint8_t*>(GlobalLock(memory));
    if (data == nullptr) throw Error("The picture could not be written.");
    std::vector<std::uint8_t> bytes(data, data + size);
    GlobalUnlock(memory);
    return bytes;
}

}  // namespace

namespace detail {
SourcePtr OpenJpeg(Bytes bytes, imaging::DecodeHint hint) {
    return OpenWithWic(bytes, "jpeg", hint);
}
SourcePtr OpenPng(Bytes bytes) {
    return OpenWithWic(bytes, "png");
}
SourcePtr OpenGif(Bytes bytes) {
    return OpenWithWic(bytes, "gif");
}
SourcePtr OpenHeif(Bytes bytes, const std::string& format) {
    return OpenWithWic(bytes, format);
}
SourcePtr OpenWebp(Bytes bytes, imaging::DecodeHint hint) {
    return OpenWithWic(bytes, "webp", hint);
}
SourcePtr OpenTiff(Bytes bytes) {
    return OpenWithWic(bytes, "tiff");
}
}  // namespace detail

std::vector<std::uint8_t> EncodeJpeg(const imaging::Image& image, int quality) {
    return Encode(image, GUID_ContainerFormatJpeg, false, std::clamp(quality, 1, 100) / 100.0f);
}

// WIC's JPEG encoder takes rows in its own pixel format only: the rows are gathered and written
// at the end.
struct JpegRowEncoder::State {
    imaging::Image image;
    int next = 0;
    int quality = 92;
};

JpegRowEncoder::JpegRowEncoder(int width, int height, int quality, std::vector<std::uint8_t>)
    : state_(std::make_unique<State>()) {
    if (width < 1 || height < 1) throw Error("An empty picture cannot be written as JPEG.");
    state_->image = imaging::Image(width, height);
    state_->quality = quality;
}

JpegRowEncoder::~JpegRowEncoder() = default;

void JpegRowEncoder::WriteRow(const imaging::Pixel* row) {
    if (state_->next >= state_->image.Height()) throw Error("The picture could not be written as JPEG.");
    std::copy(row, row + state_->image.Width(), state_->image.Row(state_->next++));
}

std::vector<std::uint8_t> JpegRowEncoder::Finish() {
    if (state_->next < state_->image.Height()) throw Error("The picture could not be written as JPEG.");
    return EncodeJpeg(state_->image, state_->quality);
}

std::vector<std::uint8_t> EncodePng(const imaging::Image& image) {
    bool alpha = false;
    const std::size_t count = static_cast<std::size_t>(image.Width()) * image.Height();
    for (std::size_t i = 0; i < count && !alpha; ++i) alpha = imaging::AlphaOf(image.Data()[i]) != 255;
    return Encode(image, GUID_ContainerFormatPng, alpha, 0.0f);
}

// WIC brings pictures into sRGB while decoding; nothing is left to convert.
SrgbConverter::SrgbConverter(std::span<const std::uint8_t>) {}
SrgbConverter::~SrgbConverter() = default;
void SrgbConverter::Apply(imaging::Pixel*, std::size_t) const {}
std::vector<std::uint8_t> MakeRgbProfile(const double*) {
    return {};
}

}  // namespace nimbrel::codecs
