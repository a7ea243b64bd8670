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

// [Show]/Caption: what a picture's caption says.
inline constexpr int kCaptionNone = 0;
inline constexpr int kCaptionFileName = 1;     // the file name without folder and extension
inline constexpr int kCaptionDateTaken = 2;    // EXIF DateTimeOriginal, else the file's date
inline constexpr int kCaptionDescription = 3;  // the picture's own description
inline constexpr int kCaptionOwnText = 4;      // the entry's text in [Captions]
inline constexpr int kCaptionLast = kCaptionOwnText;

// [Show]/CaptionPlace: the corner or edge of the screen a caption sits at.
inline constexpr int kPlaceBottomLeft = 0;
inline constexpr int kPlaceBottomCenter = 1;
inline constexpr int kPlaceBottomRight = 2;
inline constexpr int kPlaceTopLeft = 3;
inline constexpr int kPlaceTopCenter = 4;
inline constexpr int kPlaceTopRight = 5;
inline constexpr int kPlaceLast = kPlaceTopRight;

// [Show]/Monitors: how a show uses several monitors.
inline constexpr int kMonitorsSame = 0;  // the same show on each monitor
inline constexpr int kMonitorsEach = 1;  // a picture of its own on each monitor, own order and timing
inline constexpr int kMonitorsSpan = 2;  // one picture across the bounding rectangle of all monitors
inline constexpr int kMonitorsLast = kMonitorsSpan;

// The [Show] section: pan and zoom, captions and monitors. Its defaults give the still show of
// one picture copied onto each monitor; the section is written only once one of them changed
// (or the file has the section already). Values are read raw; the show treats one out of range
// as the default.
struct ShowValues {
    bool motion = false;  // Motion: pan and zoom every picture
    int caption = kCaptionNone;
    int captionPlace = kPlaceBottomLeft;
    int monitors = kMonitorsSame;
    bool operator==(const ShowValues&) const = default;
};

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
    ShowValues show;
    // [Captions]: each entry's own text by its index in the file list ("" for none; the list
    // may be shorter than the file list). The section is written only once a text was given.
    std::vector<std::string> captions;

    // [Pictures] StoreCompressed: JPEG, PNG, GIF, WebP, HEIF and AVIF pictures go into the
    // screensaver as they are, without the deflate pass (compiles at about the speed of a copy,
    // the screensaver a little larger). Written only once it has been turned on.
    bool storeCompressed = false;
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

// Writes [Pictures] (Fit, FitWidth, FitHeight) when the option is on or the file has those keys
// already (so that turning it off is kept), and StoreCompressed likewise on its own; a project
// that never used either gets no such section.
void WritePicturesSection(TBigIniFile& ini, const SlideShowValues& values);

// Writes [Show] (Motion, Caption, CaptionPlace, Monitors) when one of them differs from its
// default or the file has the section already.
void WriteShowSection(TBigIniFile& ini, const ShowValues& values);

// Writes [Captions] ("i=text" for the entries 0..fileCount-1 with a text) when a text is given or
// the file has the section already. A stored text of an entry that now has none, or of an index
// past the list, is emptied, so that an entry added later never takes over a removed one's text.
void WriteCaptionsSection(TBigIniFile& ini, const std::vector<std::string>& captions, std::size_t fileCount);

}  // namespace nimbrel::project
