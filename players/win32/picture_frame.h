#pragma once
// Decoding a slideshow picture on Windows: bitmaps through the Windows Imaging Component, row
// band by row band, metafiles through GDI+, PCX and WBMP through the core's decoders; then
// composed on the screen's frame.

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "frame_composer.h"

namespace nimbrel::player::win32 {

// Decodes a picture file's bytes (the format chosen by `name`'s extension and the bytes) and
// draws it into a new frame. Returns null when the picture cannot be decoded. GDI+ must be
// started. Safe to call from a worker thread.
std::unique_ptr<Frame> ComposeFrame(const std::string& name, const std::string& bytes,
                                    const FrameSettings& settings);

// The background pixel of a project's colour value (red in the low byte; negative values name
// a system colour).
imaging::Pixel BackgroundColor(std::int32_t value);

// A monitor's rectangle as the frame composer takes it.
imaging::Rect ToRect(const RECT& rect);

}  // namespace nimbrel::player::win32
