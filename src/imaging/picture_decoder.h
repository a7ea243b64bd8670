#pragma once
// The one way a front end hands pictures to the show engine and to the build's conversion: a
// decoder opens a file's bytes and gives the picture's rows from the top, a band at a time, so
// a photo of any size need never be held whole. Each front end brings its own decoders (WIC and
// GDI+ in the players, Qt's image readers in the editor, libjpeg-turbo, libpng, giflib,
// libheif, libwebp and libtiff for the command line); the engine and the build only see this.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "imaging/image.h"

namespace nimbrel::imaging {

// What a decoder learned from a picture's header.
struct PictureInfo {
    int width = 0;         // the stored size, before the EXIF orientation is applied
    int height = 0;
    int orientation = 1;   // EXIF orientation, 1 (as stored) to 8
    bool hasAlpha = false; // some pixel may be less than opaque
    bool hasColorProfile = false;
    std::string format;    // "jpeg", "png", "gif", "bmp", "pcx", "wbmp", "heif", "avif", "webp", "tiff", ...
};

// A size the caller will show the picture at, at most; 0 x 0 when the full size is wanted.
struct DecodeHint {
    int maxWidth = 0;
    int maxHeight = 0;
    // Turned true by the caller to abandon the decode: decoders that take in much at once (a
    // progressive JPEG's scans) look at it as they go and fail; null when never stopped.
    const std::atomic<bool>* stop = nullptr;
};

// An opened picture. Rows come in order from the top; a source is used by one thread at a time.
class PictureSource {
public:
    virtual ~PictureSource() = default;
    virtual const PictureInfo& Info() const = 0;
    // The size of the rows ReadRows gives: Info()'s size, or smaller where the decoder scaled
    // down on its own to the size hint given to Open (libjpeg-turbo's scaled decoding).
    virtual int RowWidth() const { return Info().width; }
    virtual int RowHeight() const { return Info().height; }
    // Fills `count` rows from row `first` (never before a row already read) as 0xAARRGGBB,
    // straight alpha, RowWidth() pixels a row. False when the picture turns out damaged.
    virtual bool ReadRows(int first, int count, Pixel* into) = 0;
    // The embedded ICC profile, empty when there is none (or the decoder converted already).
    virtual std::vector<std::uint8_t> ColorProfile() const { return {}; }
    // Before the first ReadRows: a decoder that can decode smaller on its own (JPEG in eighths)
    // does so for a picture shown at most `hint`'s upright size, as if the hint had been given
    // to Open; RowWidth() and RowHeight() then give the new size. False when the size stays.
    virtual bool ReduceTo(const DecodeHint&) { return false; }
    // Why ReadRows failed, for the user ("damaged: the file ends early"); empty when it did not
    // fail or the decoder cannot say.
    virtual std::string Failure() const { return {}; }
};

// A picture's bytes taken as a decoder asks for them (an archive member inflated as it is read).
// Used by one thread at a time.
class PictureStream {
public:
    virtual ~PictureStream() = default;
    virtual std::uint64_t Size() const = 0;
    // Up to `size` bytes from `offset`, fewer only at the end; raises nimbrel::Error when the
    // bytes are damaged.
    virtual std::size_t ReadAt(std::uint64_t offset, void* into, std::size_t size) = 0;
};

class PictureDecoder {
public:
    virtual ~PictureDecoder() = default;
    // Opens the picture in `bytes` (the format chosen by the bytes; `name` only breaks ties).
    // Null when this decoder cannot read it; never throws for damaged input. `bytes` must
    // outlive the source.
    virtual std::unique_ptr<PictureSource> Open(std::string_view name,
                                                std::span<const std::uint8_t> bytes,
                                                DecodeHint hint = {}) = 0;
    // The same for the picture in `stream`. A decoder that reads through a stream of its own
    // (the players' WIC decoders) takes the bytes as it goes, so that a large member is never
    // held whole; by default the whole stream is read first and handed to Open.
    virtual std::unique_ptr<PictureSource> OpenStream(std::string_view name, std::shared_ptr<PictureStream> stream,
                                                      DecodeHint hint = {});
    // Why the last Open gave null, for the user: "too large (70000 x 70000 pixels)", "damaged",
    // "not a picture this program can read"; empty when the decoder cannot say.
    virtual std::string Refusal() const { return {}; }
};

// Reads a whole source into an image (RowWidth() x RowHeight(), as stored, not turned upright).
// Raises nimbrel::Error beyond the image limits or when the rows cannot be read.
Image ReadWholePicture(PictureSource& source);

}  // namespace nimbrel::imaging
