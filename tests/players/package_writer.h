#pragma once
// Writes archives for the players' tests: the member data, the registry (compressed or plain)
// and the 36-byte trailer, the way the build lays out a screensaver's tail.

#include <string>
#include <utility>
#include <vector>

namespace nimbrel::testing {

struct TestMember {
    std::string name;
    std::string bytes;
};

// An archive of `members` in order, each compressed at level 9 when that makes it shorter
// (or all stored as they are when `compressMembers` is false, as photos mostly end up).
std::string MakeTestArchive(const std::vector<TestMember>& members, bool compressRegistry = true,
                            bool compressMembers = true);

// A slideshow project file ("Options.ini") with the given files and option lines (for example
// "Stretch=1"), written in CR LF lines.
std::string MakeSlideShowProject(const std::vector<std::string>& files,
                                 const std::vector<std::string>& options);

// "About.cfg": name, CR LF, text, CR LF.
std::string MakeAboutFile(const std::string& name, const std::string& text);

// A 24-bit BMP file of one colour.
std::string MakeSolidBmp(int width, int height, unsigned char r, unsigned char g, unsigned char b);

// A JPEG file of one colour, stored as width x height, whose EXIF block (when `orientation` is
// not 0) tells viewers to turn it: 6, for one, means a quarter turn clockwise. `grey` stores one
// channel, the red value.
std::string MakeSolidJpeg(int width, int height, unsigned char r, unsigned char g, unsigned char b,
                          int orientation, bool grey = false);

// A PNG file (8-bit RGBA) of the colour r, g, b with alpha `alpha` inside `inner` (x, y, width,
// height) and fully transparent around it.
struct InnerRect {
    int x, y, width, height;
};
std::string MakeFramedPng(int width, int height, InnerRect inner, unsigned char r, unsigned char g,
                          unsigned char b, unsigned char alpha);

// Pictures of one colour in the other formats the slideshow shows: a GIF (uncompressed LZW), a
// 32-bit icon of size x size, a 24-bit PCX (three RLE planes), an all-white WBMP, and
// metafiles that fill width x height with one rectangle (an EMF, and a placeable WMF at 96 dpi).
std::string MakeSolidGif(int width, int height, unsigned char r, unsigned char g, unsigned char b);
std::string MakeSolidIco(int size, unsigned char r, unsigned char g, unsigned char b);
std::string MakeSolidPcx(int width, int height, unsigned char r, unsigned char g, unsigned char b);
std::string MakeWhiteWbmp(int width, int height);
// An uncompressed 24-bit TIFF of one colour, its directory first and its rows in strips of 16.
std::string MakeSolidTiff(int width, int height, unsigned char r, unsigned char g, unsigned char b);
std::string MakeSolidEmf(int width, int height, unsigned char r, unsigned char g, unsigned char b);
std::string MakeSolidWmf(int width, int height, unsigned char r, unsigned char g, unsigned char b);

}  // namespace nimbrel::testing
