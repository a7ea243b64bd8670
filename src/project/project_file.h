#pragma once
// The project file (.nssp): what a project holds, how it is read with its defaults and written
// in its fixed key order. The windows and the command line turn these plain values into
// controls and back; every rule about keys, order and defaults lives here.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace nimbrel::project {

inline constexpr int kSlideShow = 0;
inline constexpr int kFlash = 1;

// The slideshow page's values, as the project file stores them.
struct SlideShowValues {
    std::string output;                 // Options/Output
    bool center = false;                // Options/Center (read default: true)
    bool autoSize = false;
    bool stretch = false;
    bool keepAspect = false;
    bool random = false;
    int showSpeed = 10;                 // 1..240 in the editor; read raw, the slider clamps
    int transition = -1;                // -1..129 in the editor; read raw (default 0)
    std::int32_t backgroundColor = 0;   // red in the low byte; stored as BGColor and ColorR/G/B
    bool changeIcon = false;
    std::string iconFile;
    std::string showName;               // About/ShowName
    std::string showText;               // About/ShowText (simple HTML)
};

// The Flash page's values.
struct FlashValues {
    std::string title;                  // About/ShowName
    std::string showText;               // About/ShowText
    std::string flashFile;              // Options/FlashFile
    bool changeIcon = false;
    std::string iconFile;
    std::string output;
};

// Everything SaveProject writes. `files` are the file list's captions in list order; their
// count is stored as Header/Number for both kinds, the paths themselves only for a slideshow.
struct ProjectValues {
    int kind = kSlideShow;
    std::vector<std::string> files;
    SlideShowValues slideShow;
    FlashValues flash;
};

// What LoadProject found. The window applies only what was read: the slideshow values when
// `slideShowRead` (Number > 0 and Type 0), the Flash values when `flashRead` (Type 1).
struct LoadedProject {
    int number = 0;                     // Header/Number
    int type = 0;                       // Header/Type: 0 slideshow, 1 Flash, other: leave the page
    std::vector<std::string> files;     // Files/0..Number-1 when slideShowRead ("" for a missing key)
    bool slideShowRead = false;
    SlideShowValues slideShow;
    bool flashRead = false;
    FlashValues flash;
};

// The default About text of a new project (one line, at most 246 characters).
const std::string& DefaultAboutText();

// Splits a colour value into the three stored parts and joins them again.
struct ColorParts {
    std::int32_t r = 0, g = 0, b = 0;
};
ColorParts SplitColor(std::int32_t color);
std::int32_t JoinColor(std::int32_t r, std::int32_t g, std::int32_t b);

// Reads a project file. A missing file reads as empty (nothing reported); a file that exists but
// cannot be read raises nimbrel::Error. Rewrites the file only when it held duplicate sections.
// A path longer than the text layer's 255 characters raises nimbrel::Error and touches nothing.
LoadedProject LoadProject(const std::string& path);

// Reads project values from the bytes of a project file, as LoadProject does (the players read
// "Options.ini" from their archive this way). Never writes anything.
LoadedProject ReadProjectText(std::string_view bytes);

// Writes the project into `path`, keeping every key and line of the existing file that it does
// not write itself. The file is replaced only once the new content is complete; failures raise
// nimbrel::Error ("File access denied" for a read-only file).
void SaveProject(const std::string& path, const ProjectValues& values);

}  // namespace nimbrel::project
