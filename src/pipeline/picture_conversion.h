#pragma once
// Conversion of a slideshow's pictures at compile: a picture the players cannot decode (HEIC,
// AVIF, WebP, TIFF) is decoded, turned upright, brought to sRGB and written as JPEG (opaque) or
// PNG (with transparency); with "Fit pictures to the screen" a picture larger than the screen
// box is also shrunk (area averaging in linear light) and written the same way. Everything else
// is packed byte for byte. The member keeps its file's bare name; the project and the user's
// files are never changed.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "archive/zlb_archive.h"
#include "pipeline/build_pipeline.h"

namespace nimbrel::pipeline {

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
// `progress`, when given, hears the share done in percent as the rows are read, on this thread.
ConvertedPicture ConvertPicture(const std::string& name, std::span<const std::uint8_t> bytes,
                                const FitOptions& options, const std::function<void(int)>& progress = {});

// The outcome for each picture of a show, in list order.
struct PreparedPicture {
    std::string source;  // the picture's own path
    std::string path;    // the file to pack: the picture itself or its converted copy
    bool converted = false;
    std::string leftOutReason;  // not empty: the picture is left out, for this reason
    // Not empty: the picture is packed as it is, but the players will not show it, for this
    // reason ("is empty (0 bytes)", "is not a picture ...", "cannot be decoded: ...").
    std::string notShownReason;
};

// Why the players will not show a file packed as it is, or "" when they can. `head` is the
// file's first bytes, `complete` says whether they are all of it. Completes a sentence that
// starts with the file's path.
std::string NotShownReason(std::string_view name, std::span<const std::uint8_t> head, bool complete);

// The reason a width x height picture cannot be decoded, naming the limit it passes; "" within.
std::string SizeLimitReason(std::int64_t width, std::int64_t height);

// Called on the calling thread after each picture with the number done, the total and the result.
using PictureProgress = std::function<void(int done, int total, const PreparedPicture& picture)>;

// True for the formats whose files are compressed already, which deflate barely shrinks.
bool IsCompressedFormat(const std::string& format);

// Prepares every picture on up to `threads` workers (0: as many as the machine has cores, at
// most 4), writing converted copies into folders of their own under `workFolder`; the calling
// thread only reports progress. Memory stays bounded: each worker holds one picture's file, a
// band of its rows and its shrunk result. (A build converts through ShowPictureConverter instead,
// inside the archive's workers; this serves a list of pictures on its own, as the benchmark's.)
std::vector<PreparedPicture> PreparePictures(const std::vector<std::string>& paths, const FitOptions& options,
                                             const std::string& workFolder, int threads = 0,
                                             const PictureProgress& progress = {});

// Memory that the workers of one build hand on from picture to picture.
class ConversionRooms;

// The build's conversion of a slideshow's pictures while the archive packs them: the archive's
// workers ask it for each member's source (TZLBArchive::OnMemberSource), so that pictures are
// converted on the same workers that compress the other members, each as its turn comes, and
// never more than the archive's window of them at once. A converted picture is packed from its
// copy and stored as it is (JPEG and PNG are compressed already); everything else as before.
class ShowPictureConverter {
public:
    // `names`: the members' names as the project lists them, in archive order; the first
    // `first` members are side files, never converted. `workFolder` takes the converted copies.
    ShowPictureConverter(std::vector<std::string> names, std::size_t first, const FitOptions& options,
                         std::string workFolder, bool strict);

    // The source of member `index`, listed as `path`: the picture itself or its converted copy.
    // A picture that cannot be converted raises nimbrel::Error (the member is left out and its
    // reason kept), or, when strict, archive::MemberRefused naming it. Safe on any thread.
    archive::TZLBArchive::MemberSource Source(const std::string& path, std::size_t index);

    // How far the conversion of member `index` has come, 0 to 100 (band by band); -1 while it is
    // not being converted (not yet, or it needs no conversion).
    int PercentDone(std::size_t index) const;
    // Why member `index` was left out, empty when it was not (ask once it has been packed).
    std::string LeftOutReason(std::size_t index) const;
    // Why member `index`, packed as it is, will not be shown by the players; empty when it will.
    // A strict build refuses such a picture instead (archive::MemberRefused).
    std::string NotShownReason(std::size_t index) const;
    // Removes member `index`'s converted copy, once it is in the archive.
    void Release(std::size_t index);
    // Called on the thread that made the converter as a picture converted there moves on (when
    // the archive has no workers), so that the caller can report it.
    std::function<void()> OnProgressHere;
    // "Store pictures that are already compressed": a picture packed as it is, whose format
    // compresses already (JPEG, PNG, GIF, WebP, HEIF, AVIF), is stored without a deflate pass.
    bool storeCompressed = false;

private:
    std::vector<std::string> names_;
    std::size_t first_;
    FitOptions options_;
    std::string workFolder_;
    bool strict_;
    std::thread::id home_ = std::this_thread::get_id();
    std::unique_ptr<std::atomic<int>[]> percent_;
    mutable std::mutex mutex_;
    std::vector<std::string> reasons_, copies_, notShown_;
    std::shared_ptr<ConversionRooms> rooms_;
};

}  // namespace nimbrel::pipeline
