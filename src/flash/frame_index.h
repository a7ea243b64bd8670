#pragma once
// The recorded movie inside a screensaver: its frames are pictures packed as members of their
// own, and one small text member, "Movie.frames", says how to play them:
//
//   NimbrelFrames 1
//   Size=800x600
//   Rate=24
//   Background=0000FF
//   f00000.jpg 12      (a frame member, shown for 12 frames in a row)
//   f00001.jpg 1
//   ...
//
// The players read it with every value checked, so a damaged member means "no recorded frames",
// never a crash.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace nimbrel::flash {

inline constexpr const char* kFrameIndexName = "Movie.frames";
inline constexpr int kMaxIndexedFrames = 120 * 120;

struct FrameIndex {
    int width = 0, height = 0;
    double frameRate = 0;
    std::uint32_t background = 0;  // 0xRRGGBB
    // The member name of each frame, in order (a name repeats where frames repeat). How they
    // play is show::RecordedMovie's.
    std::vector<std::string> frames;
};

std::string WriteFrameIndex(const FrameIndex& index);
// Nothing when the text is not a valid index.
std::optional<FrameIndex> ReadFrameIndex(const std::string& text);

}  // namespace nimbrel::flash
