#pragma once
// The project file (.nssp): what a project holds, how it is read with its defaults and written
// in its fixed key order. The windows and the command line turn these plain values into
// controls and back; every rule about keys, order and defaults lives here.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace nimbrel::project {

class TBigIniFile;

inline constexpr int kSlideShow = 0;
inline constexpr int kFlash = 1;

// A damaged Header/Number can ask for billions of entries; a load lists at most this many
// (`LoadedProject::number` still holds the stored count).
inline constexpr int kMaxLoadedFiles = 1000000;

// The slideshow page's values, as the project file stores them.
struct SlideShowValues {
    std::string output;   // Options/Output
    bool center = false;  // Options/Center (read default: true)
    bool autoSize = false;
    bool stretch = false;
    bool keepAspect = false;
    bool random = false;
    int showSpeed = 10;                // 1..240 in the editor; read raw, the slider clamps
    int transition = -1;               // -1..129 in the editor; read raw (default 0)
    std::int32_t backgroundColor = 0;  // red in the low byte; stored as BGColor and ColorR/G/B
    bool changeIcon = false;
    std::string iconFile;
    std::string showName;  // About/ShowName (at most 246 characters are stored)
    // About/ShowText (simple HTML). A line break (LF or CR LF) put into a changed text is stored
    // as CR LF, so that each further line becomes a line of its own in [About] (a load returns the
    // first line only). A text that a load gave, line feeds included, is kept as it was.
    std::string showText;
    // [Pictures]: "Fit pictures to the screen" shrinks larger pictures at compile to at most
    // fitWidth x fitHeight. The section is written only once the option has been turned on.
    bool fitPictures = false;
    int fitWidth = 3840;
    int fitHeight = 2160;
};

// The Flash page's values.
struct FlashValues {
    std::string title;      // About/ShowName (read default: "Untitled")
    std::string showText;   // About/ShowText, line breaks as for the slideshow
    std::string flashFile;  // Options/FlashFile
    bool changeIcon = false;
    std::string iconFile;
    std::string output;
};

// Everything SaveProject writes. `files` are the file list's captions in list order; their
// count is stored as Header/Number for both kinds, the paths themselves only for a slideshow.
// `kind` is stored as Header/Type; a kind other than kSlideShow or kFlash writes only [Header].
struct ProjectValues {
    int kind = kSlideShow;
    std::vector<std::string> files;
    SlideShowValues slideShow;
    FlashValues flash;
};

// What LoadProject found. The window applies only what was read: the slideshow values when
// `slideShowRead` (Number > 0 and Type 0), the Flash values when `flashRead` (Type 1).
// `slideShow` holds the file's slideshow values whenever Type is 0, for a front end without
// earlier values to keep (the command line), so that a project without pictures keeps its options.
struct LoadedProject {
    int number = 0;  // Header/Number
    int type = 0;    // Header/Type: 0 slideshow, 1 Flash, other: leave the page
    // Files/0..Number-1 when slideShowRead ("" for a missing key), but never beyond the highest
    // file key present (nor kMaxLoadedFiles): trailing missing keys add no entries
    std::vector<std::string> files;
    bool slideShowRead = false;
    SlideShowValues slideShow;
    bool flashRead = false;
    FlashValues flash;
    // LoadProject only: the file held repeated sections and rewriting it without them failed
    // (for example "File access denied" for a read-only file). The values above are complete;
    // the window applies them and then reports this text as the error of the load.
    std::string rewriteError;
};

// The default About text of a new project (one line, at most 246 characters), also the value
// a load gives for a missing About/ShowText.
const std::string& DefaultAboutText();

// Splits a colour value into the three stored parts (ColorR/G/B) and joins them again. An RGB
// value gives red, green and blue; a negative one (a system colour) gives r = colour, g = b = 0.
// JoinColor wraps in 32 bits and restores every value SplitColor produced.
struct ColorParts {
    std::int32_t r = 0, g = 0, b = 0;
};
ColorParts SplitColor(std::int32_t color);
std::int32_t JoinColor(std::int32_t r, std::int32_t g, std::int32_t b);

// Reads a project file. A missing file reads as empty (nothing reported); a file that exists but
// cannot be read (a folder included) raises nimbrel::Error with the input/output text. Rewrites
// the file only when it held duplicate sections (see `rewriteError`). A path longer than the text
// layer's 255 characters raises nimbrel::Error and touches nothing.
LoadedProject LoadProject(const std::string& path);

// Reads project values from the bytes of a project file, as LoadProject does (the players read
// "Options.ini" from their archive this way). Never writes anything.
LoadedProject ReadProjectText(std::string_view bytes);

// Writes the project into `path`, keeping every key and line of the existing file that it does
// not write itself (file keys beyond Number, the other kind's keys, unknown sections and lines).
// Leaves the file untouched when nothing changed. The file is replaced only once the new content
// is complete; failures raise nimbrel::Error ("File access denied" for a read-only file, the
// input/output text when the existing file cannot be read, the path-length text for a path of
// more than 255 characters) and leave the file as it was.
void SaveProject(const std::string& path, const ProjectValues& values);

// Writes a slideshow's file list and picture options into `ini`, in their fixed order: Files/0..
// (the paths in list order), then Options/Output, Center, AutoSize, Stretch, KeepAspect, Random,
// ShowSpeed, Transition, BGColor, ColorR, ColorG, ColorB. SaveProject follows them with the icon
// and About keys; the slideshow wizard writes them alone after Header/Number.
void WriteSlideShowPictureKeys(TBigIniFile& ini, const std::vector<std::string>& files,
                               const SlideShowValues& values);

// Writes [Pictures] (Fit, FitWidth, FitHeight) when the option is on or the file has the section
// already (so that turning it off is kept); a project that never used it gets no such section.
void WritePicturesSection(TBigIniFile& ini, const SlideShowValues& values);

}  // namespace nimbrel::project
