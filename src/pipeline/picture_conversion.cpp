#include "pipeline/picture_conversion.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "pipeline/build_pipeline.h"
#include "codecs/codecs.h"
#include "codecs/sources.h"
#include "imaging/exif.h"
#include "imaging/picture_format.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace nimbrel::pipeline {

// Memory the workers of a build pass on from one picture to the next: fresh memory costs a page
// fault every 4 KiB, which for a photo read whole and re-encoded came to a sixth of its
// conversion. (The archive runs each member on a thread of its own, so the rooms cannot be the
// threads' own.) A room larger than 64 MiB is not kept.
struct ConversionRoom {
    std::unique_ptr<std::uint8_t[]> read;  // the file
    std::size_t readCapacity = 0;
    std::vector<std::uint8_t> encoded;  // the converted picture
};

class ConversionRooms {
public:
    ConversionRoom Take() {
        std::lock_guard lock(mutex_);
        if (rooms_.empty()) return {};
        ConversionRoom room = std::move(rooms_.back());
        rooms_.pop_back();
        return room;
    }
    void Give(ConversionRoom room) {
        if (room.readCapacity > kKept) room.read.reset(), room.readCapacity = 0;
        if (room.encoded.capacity() > kKept) room.encoded = {};
        std::lock_guard lock(mutex_);
        if (rooms_.size() < kMostRooms) rooms_.push_back(std::move(room));
    }

private:
    static constexpr std::size_t kKept = 64u << 20;
    static constexpr std::size_t kMostRooms = 8;
    std::mutex mutex_;
    std::vector<ConversionRoom> rooms_;
};

namespace {

constexpr const char* kCannotDecode =
    "cannot be decoded: it is damaged, or its format, codec or size is not supported";
constexpr int kBandRows = 32;
// Enough of a file for the headers of the formats the players read (a JPEG's frame header may
// come after large metadata segments).
constexpr std::size_t kHeaderBytes = 256 * 1024;

std::string Pixels(std::int64_t width, std::int64_t height) {
    return std::to_string(width) + " x " + std::to_string(height) + " pixels";
}

// Formats the players read that DetectFormat does not name: icons (WIC), metafiles (GDI+),
// JPEG XR and DDS (WIC's own codecs).
bool PlayersReadUnnamed(std::span<const std::uint8_t> b) {
    auto at = [&](std::size_t i, std::string_view text) {
        return b.size() >= i + text.size() && std::equal(text.begin(), text.end(), b.begin() + static_cast<std::ptrdiff_t>(i),
                                                         [](char c, std::uint8_t v) { return static_cast<std::uint8_t>(c) == v; });
    };
    using namespace std::string_view_literals;
    return at(0, "\0\0\1\0"sv) ||                                   // icon
           at(0, "\xD7\xCD\xC6\x9A"sv) ||                           // placeable metafile
           at(0, "\1\0\x09\0"sv) || at(0, "\2\0\x09\0"sv) ||    // metafile
           (at(0, "\1\0\0\0"sv) && at(40, " EMF"sv)) ||             // enhanced metafile
           at(0, "II\xBC"sv) ||                                        // JPEG XR
           at(0, "DDS "sv);
}

bool AnyTransparent(const imaging::Image& image) {
    const imaging::Pixel* p = image.Data();
    const std::size_t count = static_cast<std::size_t>(image.Width()) * image.Height();
    for (std::size_t i = 0; i < count; ++i)
        if (imaging::AlphaOf(p[i]) != 255) return true;
    return false;
}

// Reads the source's rows in bands into sRGB and, when smaller, through the linear-light scaler.
// `opaque` tells whether every pixel is known opaque (the scaler saw only opaque rows). With an
// encoder, the scaler's rows go there as they are made and the result is empty.
imaging::Image ReadConverted(imaging::PictureSource& source, int width, int height,
                             const std::function<void(int)>& progress, bool& opaque,
                             codecs::JpegRowEncoder* encoder = nullptr) {
    opaque = false;
    const int rowWidth = source.RowWidth(), rowHeight = source.RowHeight();
    const std::vector<std::uint8_t> profile = source.ColorProfile();
    const codecs::SrgbConverter toSrgb(profile);
    const bool shrink = width < rowWidth || height < rowHeight;
    if (!shrink && !imaging::ImageSizeAllowed(rowWidth, rowHeight))
        throw Error("is " + Pixels(rowWidth, rowHeight) + ", more than a picture converted at its full size may have (" +
                    std::to_string(imaging::kMaxImageSide) + " pixels a side and " +
                    std::to_string(imaging::kMaxImagePixels) +
                    " pixels in all); \"Fit pictures to the screen\" shrinks it");
    imaging::Image whole;
    std::optional<codecs::LinearAreaScaler> scaler;
    std::vector<imaging::Pixel> band;
    if (shrink) {
        codecs::LinearAreaScaler::RowSink sink;
        if (encoder != nullptr) sink = [encoder](int, const imaging::Pixel* row) { encoder->WriteRow(row); };
        scaler.emplace(rowWidth, rowHeight, width, height, std::move(sink));
        band.resize(static_cast<std::size_t>(rowWidth) * kBandRows);
    } else {
        whole = imaging::Image(rowWidth, rowHeight);
    }
    for (int y = 0; y < rowHeight; y += kBandRows) {
        const int count = std::min(kBandRows, rowHeight - y);
        imaging::Pixel* rows = shrink ? band.data() : whole.Row(y);
        if (!source.ReadRows(y, count, rows)) {
            const std::string why = source.Failure();
            throw Error(why.empty() ? std::string(kCannotDecode) : "cannot be decoded: " + why);
        }
        toSrgb.Apply(rows, static_cast<std::size_t>(count) * rowWidth);
        if (shrink)
            for (int i = 0; i < count; ++i) scaler->PushRow(rows + static_cast<std::size_t>(i) * rowWidth);
        // Reading the rows is most of the work; the encoding that follows is the last tenth.
        if (progress) progress(static_cast<int>(90LL * (y + count) / rowHeight));
    }
    if (!shrink) return whole;
    opaque = scaler->AllOpaque();
    return scaler->Take();
}

// The first `most` bytes of a file.
std::vector<std::uint8_t> ReadFileBytes(const std::string& path, std::size_t most) {
    std::ifstream in(platform::NativePath(path), std::ios::binary);
    if (!in) throw Error("cannot be read");
    std::vector<std::uint8_t> bytes(most);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(most));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    if (in.bad()) throw Error("cannot be read");
    return bytes;
}

// A whole file, read into `room` (made larger when it must; not cleared first: a photo is read
// once, and often).
std::span<const std::uint8_t> ReadWholeFile(const std::string& path, ConversionRoom& room) {
    std::ifstream in(platform::NativePath(path), std::ios::binary);
    if (!in) throw Error("cannot be read");
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    in.seekg(0, std::ios::beg);
    if (size < 0) throw Error("cannot be read");
    const auto length = static_cast<std::size_t>(size);
    if (length > room.readCapacity) {
        // (A quarter more, so that the next photos, about as large, fit in it too.)
        const std::size_t capacity = length + length / 4;
        room.read.reset();
        room.readCapacity = 0;
        room.read = std::make_unique_for_overwrite<std::uint8_t[]>(capacity);
        room.readCapacity = capacity;
    }
    in.read(reinterpret_cast<char*>(room.read.get()), size);
    if (in.gcount() != size || in.bad()) throw Error("cannot be read");
    return {room.read.get(), length};
}

void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) throw Error(Format("Cannot create file %s", path));
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0 || !written) throw Error(Format("Cannot create file %s", path));
}

}  // namespace

std::string SizeLimitReason(std::int64_t width, std::int64_t height) {
    if (codecs::detail::StoredSizeAllowed(width, height)) return {};
    const bool side = width > codecs::detail::kMaxStoredSide || height > codecs::detail::kMaxStoredSide;
    return "cannot be decoded: it is " + Pixels(width, height) + ", more than the " +
           (side ? std::to_string(codecs::detail::kMaxStoredSide) + " pixels a side"
                 : std::to_string(codecs::detail::kMaxStoredPixels) + " pixels") +
           " a picture may have";
}

std::string NotShownReason(std::string_view name, std::span<const std::uint8_t> head, bool complete) {
    if (head.empty() && complete) return "is empty (0 bytes)";
    const std::string format = codecs::DetectFormat(name, head);
    if (format.empty())
        return PlayersReadUnnamed(head) ? std::string() : "is not a picture in a format the screensaver can show";
    if (!codecs::PlayersDecode(format)) return {};  // converted by the build
    const imaging::PictureHeader header = imaging::ReadPictureHeader(format, head, complete);
    if (header.state == imaging::PictureHeader::State::Damaged)
        return "cannot be decoded: its header is damaged or cut short";
    if (header.state == imaging::PictureHeader::State::Read) return SizeLimitReason(header.width, header.height);
    return {};
}

bool IsCompressedFormat(const std::string& format) {
    return format == "jpeg" || format == "png" || format == "gif" || format == "webp" || format == "heif" ||
           format == "avif";
}

namespace {

// ConvertPicture, a JPEG result written into the memory of `room`.
ConvertedPicture ConvertInto(const std::string& name, std::span<const std::uint8_t> bytes,
                             const FitOptions& options, const std::function<void(int)>& progress,
                             std::vector<std::uint8_t>& room) {
    ConvertedPicture result;
    const std::string format = codecs::DetectFormat(name, bytes);
    // What we do not know is packed as before; the players try it themselves.
    if (format.empty()) return result;
    const bool playable = codecs::PlayersDecode(format);
    if (playable && !options.fit) return result;

    const imaging::DecodeHint hint =
        options.fit ? imaging::DecodeHint{options.width, options.height} : imaging::DecodeHint{};
    auto decoder = codecs::MakeLibraryDecoder();
    auto source = decoder->Open(name, bytes, hint);
    if (!source) {
        // Name the limit when the header gives a size beyond it.
        const imaging::PictureHeader header = imaging::ReadPictureHeader(format, bytes, true);
        if (header.state == imaging::PictureHeader::State::Read)
            if (std::string limit = SizeLimitReason(header.width, header.height); !limit.empty()) throw Error(limit);
        const std::string why = decoder->Refusal();
        throw Error(why.empty() ? std::string(kCannotDecode) : "cannot be decoded: " + why);
    }
    int width = 0, height = 0;
    codecs::FittedStoredSize(source->Info().width, source->Info().height, source->Info().orientation, hint, width,
                             height);
    // A picture shrunk 4 times or more is decoded to twice its fitted size at least (a JPEG in
    // eighths, settled again after its header), so that the linear-light shrink still does a
    // factor of 2 or more: a decoder's own coarse steps alias fine detail and darken it, as they
    // average gamma-encoded values.
    if (options.fit && source->Info().width >= 4 * width && source->Info().height >= 4 * height) {
        const bool turned = source->Info().orientation >= 5 && source->Info().orientation <= 8;
        source->ReduceTo({2 * (turned ? height : width), 2 * (turned ? width : height)});
    }
    const imaging::PictureInfo& info = source->Info();
    if (playable && width == info.width && height == info.height) return result;
    width = std::min(width, source->RowWidth());
    height = std::min(height, source->RowHeight());

    bool opaque = false;
    result.converted = true;
    // A JPEG is opaque: shrunk and upright, it goes from the scaler into the encoder a row at a
    // time, never held whole.
    const bool upright = info.orientation < 2 || info.orientation > 8;
    if (format == "jpeg" && upright && (width < source->RowWidth() || height < source->RowHeight())) {
        codecs::JpegRowEncoder encoder(width, height, 92, std::move(room));
        ReadConverted(*source, width, height, progress, opaque, &encoder);
        result.width = width;
        result.height = height;
        result.format = "jpeg";
        result.bytes = encoder.Finish();
        if (progress) progress(100);
        return result;
    }
    imaging::Image picture = ReadConverted(*source, width, height, progress, opaque);
    // (Upright pictures are not copied.)
    if (info.orientation >= 2 && info.orientation <= 8)
        picture = imaging::ApplyOrientation(picture, info.orientation);
    result.width = picture.Width();
    result.height = picture.Height();
    if (!opaque && AnyTransparent(picture)) {
        result.format = "png";
        result.bytes = codecs::EncodePng(picture);
    } else {
        result.format = "jpeg";
        result.bytes = codecs::EncodeJpeg(picture, 92);
    }
    if (progress) progress(100);
    return result;
}

}  // namespace

ConvertedPicture ConvertPicture(const std::string& name, std::span<const std::uint8_t> bytes,
                                const FitOptions& options, const std::function<void(int)>& progress) {
    std::vector<std::uint8_t> room;
    return ConvertInto(name, bytes, options, progress, room);
}

namespace {

// A room taken from `rooms` for the length of a conversion (or a room of its own).
struct BorrowedRoom {
    explicit BorrowedRoom(ConversionRooms* from) : rooms(from) {
        if (rooms) room = rooms->Take();
    }
    ~BorrowedRoom() {
        if (rooms) rooms->Give(std::move(room));
    }
    BorrowedRoom(const BorrowedRoom&) = delete;
    BorrowedRoom& operator=(const BorrowedRoom&) = delete;
    ConversionRooms* rooms;
    ConversionRoom room;
};

PreparedPicture PrepareOne(const std::string& path, std::size_t index, const FitOptions& options,
                           const std::string& workFolder, ConversionRooms* rooms,
                           const std::function<void(int)>& progress = {}) {
    PreparedPicture picture;
    picture.source = path;
    picture.path = path;
    try {
        // The first bytes tell whether the picture is packed as it is (always, for no picture
        // format we convert; without "Fit", for the formats the players read), and whether the
        // players will show it then.
        const std::vector<std::uint8_t> head = ReadFileBytes(path, kHeaderBytes);
        const std::string format = codecs::DetectFormat(path, head);
        if (format.empty() || (!options.fit && codecs::PlayersDecode(format))) {
            picture.notShownReason = pipeline::NotShownReason(path, head, head.size() < kHeaderBytes);
            return picture;
        }
        BorrowedRoom borrowed(rooms);
        ConvertedPicture converted = ConvertInto(path, ReadWholeFile(path, borrowed.room), options, progress,
                                                 borrowed.room.encoded);
        if (!converted.converted) return picture;
        // A folder for each picture keeps two pictures of the same name apart.
        std::string folderName = "p";  // (appended, not "p" + ...: GCC 12 warns wrongly about the latter)
        folderName += std::to_string(index);
        const std::string folder = platform::JoinPath(workFolder, folderName);
        std::error_code ec;
        std::filesystem::create_directories(std::filesystem::path(folder), ec);
        if (ec) throw Error(Format("Cannot create file %s", folder));
        const std::string copy = platform::JoinPath(folder, platform::FileNamePart(path));
        WriteFileBytes(copy, converted.bytes);
        borrowed.room.encoded = std::move(converted.bytes);
        picture.path = copy;
        picture.converted = true;
    } catch (const std::bad_alloc&) {
        picture.leftOutReason = "cannot be converted: there is not enough memory";
    } catch (const std::exception& error) {
        picture.leftOutReason = error.what();
    }
    return picture;
}

}  // namespace

std::vector<PreparedPicture> PreparePictures(const std::vector<std::string>& paths, const FitOptions& options,
                                             const std::string& workFolder, int threads,
                                             const PictureProgress& progress) {
    const int total = static_cast<int>(paths.size());
    std::vector<PreparedPicture> prepared(paths.size());
    if (total == 0) return prepared;
    if (threads <= 0) threads = static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 4u));
    threads = std::clamp(threads, 1, total);

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<int> finished;  // indexes in the order they were finished, for the progress reports
    std::atomic<int> next{0};
    ConversionRooms rooms;
    auto work = [&] {
        for (int i = next++; i < total; i = next++) {
            prepared[static_cast<std::size_t>(i)] = PrepareOne(
                paths[static_cast<std::size_t>(i)], static_cast<std::size_t>(i), options, workFolder, &rooms);
            std::lock_guard lock(mutex);
            finished.push_back(i);
            changed.notify_one();
        }
    };
    // The calling thread only reports, so that a window stays responsive while workers convert.
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) workers.emplace_back(work);
    int reported = 0;
    while (reported < total) {
        std::vector<int> batch;
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return static_cast<int>(finished.size()) > reported; });
            batch.assign(finished.begin() + reported, finished.end());
        }
        for (int index : batch) {
            ++reported;
            if (progress) progress(reported, total, prepared[static_cast<std::size_t>(index)]);
        }
    }
    for (auto& worker : workers) worker.join();
    return prepared;
}

ShowPictureConverter::ShowPictureConverter(std::vector<std::string> names, std::size_t first,
                                           const FitOptions& options, std::string workFolder, bool strict)
    : names_(std::move(names)),
      first_(first),
      options_(options),
      workFolder_(std::move(workFolder)),
      strict_(strict),
      percent_(std::make_unique<std::atomic<int>[]>(names_.size())),
      reasons_(names_.size()),
      copies_(names_.size()),
      notShown_(names_.size()),
      rooms_(std::make_shared<ConversionRooms>()) {
    for (std::size_t i = 0; i < names_.size(); ++i) percent_[i] = -1;
}

archive::TZLBArchive::MemberSource ShowPictureConverter::Source(const std::string& path, std::size_t index) {
    if (index < first_ || index >= names_.size()) return {};
    const bool here = std::this_thread::get_id() == home_;
    auto progress = [&](int percent) {
        percent_[index] = percent;
        if (here && OnProgressHere) OnProgressHere();
    };
    const PreparedPicture picture = PrepareOne(path, index, options_, workFolder_, rooms_.get(), progress);
    if (!picture.leftOutReason.empty()) {
        const std::string& name = names_[index].empty() ? path : names_[index];
        if (strict_) throw archive::MemberRefused(name + " " + picture.leftOutReason + ".");
        {
            std::lock_guard lock(mutex_);
            reasons_[index] = picture.leftOutReason;
        }
        throw Error(picture.leftOutReason);
    }
    if (!picture.notShownReason.empty()) {
        const std::string& name = names_[index].empty() ? path : names_[index];
        if (strict_)
            throw archive::MemberRefused(name + " " + picture.notShownReason + ": the screensaver would not show it.");
        std::lock_guard lock(mutex_);
        notShown_[index] = picture.notShownReason;
    }
    if (!picture.converted) {
        if (storeCompressed) {
            try {
                if (IsCompressedFormat(codecs::DetectFormat(path, ReadFileBytes(path, 64)))) return {{}, true};
            } catch (const Error&) {
                // Unreadable now: the archive says so as it opens the file.
            }
        }
        return {};
    }
    {
        std::lock_guard lock(mutex_);
        copies_[index] = picture.path;
    }
    return {picture.path, true};
}

int ShowPictureConverter::PercentDone(std::size_t index) const {
    return index < names_.size() ? percent_[index].load() : -1;
}

std::string ShowPictureConverter::LeftOutReason(std::size_t index) const {
    std::lock_guard lock(mutex_);
    return index < reasons_.size() ? reasons_[index] : std::string();
}

std::string ShowPictureConverter::NotShownReason(std::size_t index) const {
    std::lock_guard lock(mutex_);
    return index < notShown_.size() ? notShown_[index] : std::string();
}

void ShowPictureConverter::Release(std::size_t index) {
    std::string copy;
    {
        std::lock_guard lock(mutex_);
        if (index >= copies_.size()) return;
        copy.swap(copies_[index]);
    }
    if (copy.empty()) return;
    // The copy's own folder goes with it; the work folder is removed with the build's anyway.
    std::error_code ec;
    std::filesystem::remove_all(platform::NativePath(platform::DirectoryPart(copy)), ec);
}

}  // namespace nimbrel::pipeline
