#include "package.h"
#include "platform/ascii.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "imaging/image.h"
#include "imaging/picture_format.h"
#include "platform/error.h"
#include "show/show_order.h"

namespace nimbrel::player {
namespace {

bool EndsWithNoCase(const std::string& text, const std::string& tail) {
    return platform::EndsWithIgnoringAsciiCase(text, tail);
}

long FindName(const std::vector<std::string>& names, const std::string& wanted) {
    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i].size() == wanted.size() && EndsWithNoCase(names[i], wanted)) return static_cast<long>(i);
    return -1;
}

// Enough for a JPEG's frame header behind its metadata (EXIF with a preview, a profile).
constexpr std::size_t kHead = 256 * 1024;

// A picture member for a decoder that reads through a stream.
class MemberStream : public imaging::PictureStream {
public:
    explicit MemberStream(std::unique_ptr<archive::MemberReader> reader) : reader_(std::move(reader)) {}
    std::uint64_t Size() const override { return reader_->Size(); }
    std::size_t ReadAt(std::uint64_t offset, void* into, std::size_t size) override {
        // Each step back inflates the member again from its start: after a few, it is taken in
        // whole, once, rather than again and again.
        constexpr int kRestarts = 4;
        if (whole_.empty() && reader_->Restarts() >= kRestarts && Size() > 0) {
            whole_.resize(static_cast<std::size_t>(Size()));
            for (std::size_t at = 0; at < whole_.size();) {
                const std::size_t got = reader_->ReadAt(at, whole_.data() + at, whole_.size() - at);
                if (got == 0) throw Error("the picture is damaged");
                at += got;
            }
        }
        if (whole_.empty()) return reader_->ReadAt(offset, into, size);
        if (offset >= whole_.size()) return 0;
        size = static_cast<std::size_t>(std::min<std::uint64_t>(size, whole_.size() - offset));
        std::memcpy(into, whole_.data() + offset, size);
        return size;
    }

private:
    std::unique_ptr<archive::MemberReader> reader_;
    std::vector<unsigned char> whole_;
};

[[noreturn]] void Damaged(const std::string& detail) {
    throw Error(std::string(kDamagedMessage) + "\n\n(" + detail + ")");
}

}  // namespace

Package::Package(const unsigned char* data, std::size_t size, bool verify)
    : Package(archive::MemoryByteSource(data, size), verify) {}

Package::Package(std::shared_ptr<archive::ByteSource> source, bool verify) {
    try {
        reader_ = std::make_unique<archive::ArchiveReader>(std::move(source));
    } catch (const Error& e) {
        Damaged(e.what());
    }
    if (verify) VerifyArchive();
    for (const auto& member : reader_->Members()) names_.push_back(member.name);
    long options = FindName(names_, "Options.ini");
    if (options < 0) Damaged("Options.ini is missing");
    try {
        project_ = project::ReadProjectText(Extract(static_cast<std::size_t>(options)));
        long about = FindName(names_, "About.cfg");
        if (about >= 0) {
            about_ = SplitAboutFile(Extract(static_cast<std::size_t>(about)));
        } else if (project_.flashRead) {
            about_ = {project_.flash.title, project_.flash.showText};
        } else {
            about_ = {project_.slideShow.showName, project_.slideShow.showText};
        }
    } catch (const Error& e) {
        Damaged(e.what());
    }
    order_ = show::ShowOrder(project_.files, names_);
}

void Package::VerifyArchive() const {
    const std::atomic<bool> never{false};
    VerifyArchive(never);
}

void Package::VerifyArchive(const std::atomic<bool>& stop) const {
    if (reader_->VerifyArchiveCrc(stop) == std::optional<bool>(false))
        Damaged("The archive file appears to be corrupted");
}

long Package::FindByExtension(const std::string& extension) const {
    for (std::size_t i = 0; i < names_.size(); ++i)
        if (!show::IsPackageFile(names_[i]) && EndsWithNoCase(names_[i], extension)) return static_cast<long>(i);
    return -1;
}

std::string Package::Extract(std::size_t index) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return reader_->Extract(index);
}

bool PictureSizeAllowed(std::int64_t width, std::int64_t height) {
    return width >= 1 && height >= 1 && width <= 65536 && height <= 65536 &&
           width * height <= imaging::kMaxImagePixels;
}

std::string PictureTooLarge(std::int64_t width, std::int64_t height) {
    return "too large (" + std::to_string(width) + " x " + std::to_string(height) + " pixels)";
}

std::string Package::ExtractPicture(std::size_t index) const {
    struct HaveHead {};
    std::string head;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        try {
            reader_->Extract(index, [&head](const char* data, std::size_t size) {
                head.append(data, std::min(size, kHead - head.size()));
                if (head.size() >= kHead) throw HaveHead{};
            });
        } catch (const HaveHead&) {
        }
    }
    std::int64_t width = 0, height = 0;
    const auto bytes = std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(head.data()), head.size());
    if (imaging::DeclaredPictureSize(names_.at(index), bytes, width, height) && !PictureSizeAllowed(width, height))
        throw Error(PictureTooLarge(width, height));
    // A member smaller than the head is whole already (and its CRC was checked).
    if (head.size() < kHead) return head;
    return Extract(index);
}

std::shared_ptr<imaging::PictureStream> Package::PictureStream(std::size_t index) const {
    auto stream = std::make_shared<MemberStream>(reader_->OpenMember(index));
    std::vector<std::uint8_t> head(static_cast<std::size_t>(std::min<std::uint64_t>(stream->Size(), kHead)));
    for (std::size_t at = 0; at < head.size();) {
        const std::size_t got = stream->ReadAt(at, head.data() + at, head.size() - at);
        if (got == 0) throw Error("the picture is damaged");
        at += got;
    }
    std::int64_t width = 0, height = 0;
    if (imaging::DeclaredPictureSize(names_.at(index), head, width, height) && !PictureSizeAllowed(width, height))
        throw Error(PictureTooLarge(width, height));
    return stream;
}

std::shared_ptr<const show::CaptionLayer> Package::Captions(show::CaptionPlace place) const {
    const long member = FindName(names_, show::kCaptionsMemberName);
    if (member < 0) return nullptr;
    try {
        const std::map<std::size_t, show::CaptionMask> byEntry =
            show::ReadCaptionMasks(Extract(static_cast<std::size_t>(member)));
        // The masks are stored by the entry of the project's list; the engine asks by member.
        const std::vector<long> entries = show::MemberEntries(project_.files, names_);
        std::map<std::size_t, show::CaptionMask> byMember;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (entries[i] < 0) continue;
            auto mask = byEntry.find(static_cast<std::size_t>(entries[i]));
            if (mask != byEntry.end()) byMember[i] = mask->second;
        }
        return std::make_shared<show::CaptionLayer>(std::move(byMember), place);
    } catch (const Error&) {
        return nullptr;
    }
}

}  // namespace nimbrel::player
