#pragma once
// The slideshow's pictures on Windows, for the show engine: bitmaps through the Windows Imaging
// Component, row band by row band; metafiles, and whatever WIC cannot read, through GDI+; PCX
// and WBMP through the core's decoders.

#include <windows.h>

#include <cstdint>

#include "imaging/layout.h"
#include "imaging/picture_decoder.h"

namespace nimbrel::player::win32 {

// GDI+ must be started while sources are open. A source is used on the thread that opened it.
class WindowsPictureDecoder : public imaging::PictureDecoder {
public:
    std::unique_ptr<imaging::PictureSource> Open(std::string_view name, std::span<const std::uint8_t> bytes,
                                                 imaging::DecodeHint hint = {}) override;
    // Bitmaps that WIC reads are taken from the stream as the decoder asks for them.
    std::unique_ptr<imaging::PictureSource> OpenStream(std::string_view name, std::shared_ptr<imaging::PictureStream> stream,
                                                       imaging::DecodeHint hint = {}) override;
};

// The background pixel of a project's colour value (red in the low byte; negative values name
// a system colour).
imaging::Pixel BackgroundColor(std::int32_t value);

// A monitor's rectangle as the show takes it.
imaging::Rect ToRect(const RECT& rect);

}  // namespace nimbrel::player::win32
