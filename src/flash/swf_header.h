#pragma once
// What a Flash movie's header tells before it is played: the stage, the frame rate, the number of
// frames of its main timeline and its background colour. Read from the file's bytes alone, with
// every count and length checked against what is really there, so a damaged or hostile movie
// gives an error and never a read outside the bytes or an unbounded allocation.

#include <cstdint>
#include <span>
#include <string>

#include "platform/error.h"

namespace nimbrel::flash {

struct SwfInfo {
    char compression = 'F';  // 'F' none, 'C' zlib, 'Z' LZMA
    int version = 0;
    std::uint32_t declaredLength = 0;  // the uncompressed length the header states
    // The stage in pixels (the header gives twentieths of a pixel), rounded up, at least 1.
    int width = 0, height = 0;
    double frameRate = 0;  // frames a second as stored; 0 in the file means "as fast as possible"
    int frameCount = 0;    // frames of the main timeline
    std::uint32_t background = 0xFFFFFF;  // 0xRRGGBB; white when the movie sets none
    bool hasBackground = false;
    // True when the movie carries code (actions or ActionScript 3): what it shows may then depend
    // on more than its timeline.
    bool scripted = false;
    // True when filters or blend modes may be drawn: a PlaceObject3 or a DefineButton2 (which
    // carry them), or code anywhere, also inside a sprite (code can add them).
    bool effects = false;
    int showFrames = 0;  // ShowFrame tags seen on the main timeline
    // False when the tags could not all be walked (the body was beyond the reading limit or
    // could not be unpacked): scripted and showFrames then describe only the part read.
    bool tagsComplete = false;
};

// Raised for bytes that are no Flash movie or whose header is damaged.
class SwfError : public Error {
public:
    using Error::Error;
};

// The most bytes the reader unpacks to walk the tags; beyond them it stops with what it has.
inline constexpr std::size_t kMaxSwfBodyRead = 64u << 20;

// Reads the header and walks the tags of the main timeline. Throws SwfError naming what is wrong
// ("not a Flash movie", "truncated header", ...).
SwfInfo ReadSwfInfo(std::span<const std::uint8_t> bytes);

// The same for a file; the message of the error then starts with the file's path.
SwfInfo ReadSwfFile(const std::string& path);

// The frame rate the movie plays at: the stored rate, or 12 a second where it is 0 or beyond
// what a screen can show (more than 120).
double PlayingFrameRate(const SwfInfo& info);

}  // namespace nimbrel::flash
