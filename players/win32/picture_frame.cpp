#include "picture_frame.h"

#include <objidl.h>

#include <cstring>
// GDI+'s headers use min and max unqualified.
#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

#include "imaging/decoders.h"

namespace nimbrel::player::win32 {
namespace {

constexpr PROPID kOrientationTag = 0x0112;

std::string LowerExtension(const std::string& name) {
    std::size_t dot = name.find_last_of('.');
    std::string ext = dot == std::string::npos ? std::string() : name.substr(dot);
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return ext;
}

// Turns a photo upright by its EXIF orientation (1 upright .. 8).
void ApplyOrientation(Gdiplus::Image& image) {
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
    for (const RECT& monitor : settings.monitors) {
        PlacedRect place = PlacePicture(width, height, monitor.right - monitor.left,
                                        monitor.bottom - monitor.top, settings.layout);
        graphics.SetClip(Gdiplus::Rect(monitor.left, monitor.top, monitor.right - monitor.left,
                                       monitor.bottom - monitor.top));
        Gdiplus::Rect dest(monitor.left + place.x, monitor.top + place.y, place.width, place.height);
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

}  // namespace

std::unique_ptr<Frame> BlankFrame(const FrameSettings& settings) {
    auto frame = std::make_unique<Frame>();
    frame->width = std::max(settings.width, 1);
    frame->height = std::max(settings.height, 1);
    std::uint32_t fill = static_cast<std::uint32_t>(GetRValue(settings.background)) << 16 |
                         static_cast<std::uint32_t>(GetGValue(settings.background)) << 8 |
                         GetBValue(settings.background);
    frame->pixels.assign(static_cast<std::size_t>(frame->width) * static_cast<std::size_t>(frame->height),
                         fill);
    return frame;
}

std::unique_ptr<Frame> ComposeFrame(const std::string& name, const std::string& bytes,
                                    const FrameSettings& settings) {
    std::string ext = LowerExtension(name);
    if (ext == ".pcx" || ext == ".wbmp") {
        const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
        imaging::Image picture;
        try {
            picture = ext == ".pcx" ? imaging::DecodePcx(data, bytes.size())
                                    : imaging::DecodeWbmp(data, bytes.size());
        } catch (const std::exception&) {
            return nullptr;
        }
        if (picture.Empty()) return nullptr;
        Gdiplus::Bitmap bitmap(picture.Width(), picture.Height(), picture.Stride(), PixelFormat32bppRGB,
                               reinterpret_cast<BYTE*>(picture.Row(0)));
        if (bitmap.GetLastStatus() != Gdiplus::Ok) return nullptr;
        return DrawOnFrame(bitmap, picture.Width(), picture.Height(), settings);
    }
    IStream* stream = StreamOf(bytes);
    if (stream == nullptr) return nullptr;
    std::unique_ptr<Frame> frame;
    {
        Gdiplus::Image image(stream, FALSE);
        if (image.GetLastStatus() == Gdiplus::Ok) {
            ApplyOrientation(image);
            int width = static_cast<int>(image.GetWidth());
            int height = static_cast<int>(image.GetHeight());
            if (width > 0 && height > 0) frame = DrawOnFrame(image, width, height, settings);
        }
    }
    stream->Release();
    return frame;
}

COLORREF BackgroundColor(std::int32_t value) {
    if (value < 0) return GetSysColor(value & 0xFF);
    return static_cast<COLORREF>(value) & 0x00FFFFFF;
}

}  // namespace nimbrel::player::win32
