#pragma once
// A screensaver's own content: the archive at the end of the player's file, with its project
// settings ("Options.ini"), its About text ("About.cfg") and its media members.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "about_text.h"
#include "archive/archive_reader.h"
#include "imaging/picture_decoder.h"
#include "project/project_file.h"
#include "show/captions.h"

namespace nimbrel::player {

// The text shown when the screensaver's own data cannot be read.
inline constexpr const char* kDamagedMessage =
    "This screen saver is damaged: the show it carries is missing or corrupt.";

// True when a picture whose header declares width x height can be decoded by the player:
// at most 64 Mi pixels, the bound the build converts pictures within.
bool PictureSizeAllowed(std::int64_t width, std::int64_t height);
// "too large (70000 x 70000 pixels)".
std::string PictureTooLarge(std::int64_t width, std::int64_t height);

class Package {
public:
    // Reads the archive at the end of `data` (the player's mapped file) and, when `verify`,
    // checks the CRC of the whole archive. Throws nimbrel::Error with kDamagedMessage and the
    // detail when the archive is missing, corrupt, or has no "Options.ini". The bytes must
    // outlive the package. Every member's own CRC is checked whenever it is taken out.
    Package(const unsigned char* data, std::size_t size, bool verify = true);
    // The same over bytes read piece by piece (the player's file through mapped views).
    explicit Package(std::shared_ptr<archive::ByteSource> source, bool verify = true);

    // Checks the CRC of the whole archive (a pass over every byte: the slideshow does it beside
    // decoding its first picture). Throws nimbrel::Error as the constructor does.
    void VerifyArchive() const;
    // The same, given up quietly as soon as `stop` is set (from any thread).
    void VerifyArchive(const std::atomic<bool>& stop) const;

    const project::LoadedProject& Project() const { return project_; }
    // From "About.cfg"; when the member is missing, from the project's ShowName and ShowText.
    const AboutInfo& About() const { return about_; }
    const std::vector<std::string>& MemberNames() const { return names_; }
    // Media members in show order (see ShowOrder).
    const std::vector<std::size_t>& SlideOrder() const { return order_; }
    // The first member whose name ends in `extension` (ignoring case), or -1.
    long FindByExtension(const std::string& extension) const;
    // The bytes of a member; throws nimbrel::Error when they are damaged. Safe from any thread.
    std::string Extract(std::size_t index) const;
    // The same for a picture, after a look at the size its header declares: a picture larger
    // than the player decodes (PictureSizeAllowed) raises nimbrel::Error ("too large (...)")
    // before the member is inflated, so that a small member that inflates to gigabytes, or a
    // header that claims them, costs next to nothing.
    std::string ExtractPicture(std::size_t index) const;
    // The same picture as a stream that inflates the member as the decoder reads it (a stored
    // member is read where it lies), after the same look at its declared size. A decoder that
    // reads back and forth too often makes it take the member in whole instead. Used by one
    // thread at a time.
    std::shared_ptr<imaging::PictureStream> PictureStream(std::size_t index) const;

    // The show's captions by member, drawn at `place`; null when the screensaver carries none
    // (or they are damaged: the show goes on without them).
    std::shared_ptr<const show::CaptionLayer> Captions(show::CaptionPlace place) const;

private:
    std::unique_ptr<archive::ArchiveReader> reader_;
    mutable std::mutex mutex_;
    project::LoadedProject project_;
    AboutInfo about_;
    std::vector<std::string> names_;
    std::vector<std::size_t> order_;
};

}  // namespace nimbrel::player
