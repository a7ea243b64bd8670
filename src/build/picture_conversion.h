#pragma once
// Conversion of a slideshow's pictures at compile: a picture the players cannot decode (HEIC,
// AVIF, WebP, TIFF) is decoded, turned upright, brought to sRGB and written as JPEG (opaque) or
// PNG (with transparency); with "Fit pictures to the screen" a picture larger than the screen
// box is also shrunk (area averaging in linear light) and written the same way. Everything else
// is packed byte for byte. The member keeps its file's bare name; the project and the user's
// files are never changed.

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "build/build_pipeline.h"

namespace nimbrel::build {

inline constexpr int kDefaultFitWidth = 3840;
inline constexpr int kDefaultFitHeight = 2160;
// A stored size outside these bounds means the default.
inline constexpr int kMinFitSide = 16;
inline constexpr int kMaxFitSide = 16384;

struct FitOptions {
    bool fit = false;
    int width = kDefaultFitWidth;
    int height = kDefaultFitHeight;
};

// One picture's conversion. `converted` false: pack the file as it is.
struct ConvertedPicture {
    bool converted = false;
    std::vector<std::uint8_t> bytes;  // JPEG or PNG
    std::string format;               // "jpeg" or "png"
    int width = 0, height = 0;        // upright
};

// Converts one picture if it needs it. Bytes of no picture format we know are packed as they
// are. Raises nimbrel::Error, whose text completes a sentence that starts with the file's path
// ("cannot be decoded ..."), when the picture needs converting, or "Fit" is on, and it cannot be
// decoded.
ConvertedPicture ConvertPicture(const std::string& name, std::span<const std::uint8_t> bytes,
                                const FitOptions& options);

// The outcome for each picture of a show, in list order.
struct PreparedPicture {
    std::string source;  // the picture's own path
    std::string path;    // the file to pack: the picture itself or its converted copy
    bool converted = false;
    std::string leftOutReason;  // not empty: the picture is left out, for this reason
};

// Called on the calling thread after each picture with the number done, the total and the result.
using PictureProgress = std::function<void(int done, int total, const PreparedPicture& picture)>;

// Prepares every picture on up to `threads` workers (0: as many as the machine has cores, at
// most 4), writing converted copies into folders of their own under `workFolder`; the calling
// thread only reports progress. Memory stays bounded: each worker holds one picture's file, a
// band of its rows and its shrunk result.
std::vector<PreparedPicture> PreparePictures(const std::vector<std::string>& paths, const FitOptions& options,
                                             const std::string& workFolder, int threads = 0,
                                             const PictureProgress& progress = {});

// The build's step: prepares the show's media, members[first..], in place. A converted picture's
// member becomes its copy; a picture that cannot be converted is removed (with its entry of
// `names`, the member list's names as the project shows them, kept parallel) and added to
// `leftOut` under that name with its reason, or, when `strict`, ends the build with an error
// naming it. Reports each picture through the reporter; moves the progress bar only when the
// show uses "Fit" or some picture was converted, so that other shows report as before.
void PrepareShowPictures(std::vector<std::string>& members, std::vector<std::string>& names,
                         std::size_t first, const FitOptions& options, const std::string& workFolder,
                         bool strict, BuildReporter& reporter, std::vector<LeftOutFile>& leftOut);

}  // namespace nimbrel::build
