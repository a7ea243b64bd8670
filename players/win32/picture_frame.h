#pragma once
// One screen's worth of a slideshow picture: the picture decoded, turned upright, placed and
// scaled on every monitor over the background colour, as 32-bit pixels.

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "picture_layout.h"

namespace nimbrel::player::win32 {

struct Frame {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;  // top-down rows, 0x00RRGGBB
};

struct FrameSettings {
    int width = 0;
    int height = 0;
    std::vector<RECT> monitors;  // in frame coordinates
    LayoutOptions layout;
    COLORREF background = 0;
};

// A frame of the background alone.
std::unique_ptr<Frame> BlankFrame(const FrameSettings& settings);

// Decodes a picture file's bytes (the format chosen by `name`'s extension and the bytes) and
// draws it into a new frame. Returns null when the picture cannot be decoded. GDI+ must be
// started. Safe to call from a worker thread.
std::unique_ptr<Frame> ComposeFrame(const std::string& name, const std::string& bytes,
                                    const FrameSettings& settings);

// The background colour of a project's colour value (red in the low byte; negative values name
// a system colour).
COLORREF BackgroundColor(std::int32_t value);

}  // namespace nimbrel::player::win32
