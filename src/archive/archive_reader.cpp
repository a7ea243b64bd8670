#include "archive/archive_reader.h"
#include "platform/ascii.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "archive/file_stream.h"
#include "archive/pe_layout.h"
#include "archive/zlib_stream.h"
#include "platform/error.h"
#include "platform/files.h"

namespace nimbrel::archive {

namespace {

constexpr std::size_t kPiece = 65536;

class MemorySource : public ByteSource {
public:
    MemorySource(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}
    std::uint64_t Size() const override { return size_; }
    void Read(std::uint64_t offset, void* buffer, std::size_t size) const override {
        if (offset > size_ || size > size_ - offset) throw Error("Read beyond end of file");
        if (size > 0) std::memcpy(buffer, data_ + offset, size);
    }

private:
    const unsigned char* data_;
    std::size_t size_;
};

class FileSource : public ByteSource {
public:
    explicit FileSource(const std::string& path) : file_(path, FileStream::Mode::Read) {
        size_ = static_cast<std::uint64_t>(file_.Size());
    }
    std::uint64_t Size() const override { return size_; }
    void Read(std::uint64_t offset, void* buffer, std::size_t size) const override {
        if (offset > size_ || size > size_ - offset) throw Error("Read beyond end of file");
        std::lock_guard<std::mutex> lock(mutex_);
        file_.Seek(static_cast<std::int64_t>(offset));
        file_.ReadExact(buffer, size);
    }

private:
    mutable FileStream file_;
    mutable std::mutex mutex_;
    std::uint64_t size_ = 0;
};

std::string Numbered(const char* pattern, std::int64_t a) {
    char text[160];
    std::snprintf(text, sizeof text, pattern, static_cast<long long>(a));
    return text;
}

[[noreturn]] void Damaged(const std::string& what) {
    throw Error("The archive is damaged: " + what);
}

// Turns registry records into members and refuses what no writer of the format produces:
// members whose data lies outside the data area, overlaps another member's, or whose sizes the
// bytes present cannot give. The number of members follows the file, not any count it declares:
// members with data cannot share a byte of the data area, and every member, empty ones included
// (a writer stores one for each empty file, as many as the project lists), takes its share of the
// registry's bytes, which deflate cannot expand beyond kMaxInflateRatio (checked before the
// registry is inflated).
class MemberChecker {
public:
    MemberChecker(std::int64_t dataArea, std::vector<ArchiveMember>& members)
        : dataArea_(dataArea), members_(members) {}

    void Add(RegistryEntry entry) {
        ArchiveMember m;
        m.name = std::move(entry.FileName);
        m.path = std::move(entry.FilePath);
        m.originalSize = entry.OriginalSize;
        m.storedSize = entry.StoredSize;
        m.dataOffset = entry.DataOffset;
        m.crc = entry.Crc;
        m.stored = entry.Stored != 0;
        m.level = entry.Level;
        const std::int64_t number = static_cast<std::int64_t>(members_.size()) + 1;
        // (The label is only made for a damaged member: a show may hold 100,000.)
        auto which = [&] { return Label(number, m.name); };
        if (m.originalSize < 0 || m.storedSize < 0 || m.dataOffset < 0)
            Damaged(which() + " has a negative size or offset");
        if (m.dataOffset + m.storedSize > dataArea_) Damaged(which() + " lies outside the member data area");
        if (m.stored && m.storedSize != m.originalSize)
            Damaged(which() + " is stored with a size that differs from its length");
        if (!m.stored && m.originalSize > m.storedSize * kMaxInflateRatio)
            Damaged(which() + " claims more bytes than its compressed data can hold");
        if (m.storedSize > 0) {
            // A writer lays members out in registry order, so sharing with the member before is
            // caught here, before the rest of a hostile registry is even inflated.
            if (!spans_.empty()) {
                const Span& last = spans_.back();
                if (m.dataOffset < last.end && last.start < m.dataOffset + m.storedSize)
                    Overlap(number, m.name, last.number);
            }
            stored_ += m.storedSize;
            if (stored_ > dataArea_) Damaged("its members claim more data than the archive holds");
            spans_.push_back({m.dataOffset, m.dataOffset + m.storedSize, number});
        }
        members_.push_back(std::move(m));
    }

    // The checks that need every member: sharing between members listed apart.
    void Finish() {
        std::sort(spans_.begin(), spans_.end(), [](const Span& a, const Span& b) {
            return a.start != b.start ? a.start < b.start : a.number < b.number;
        });
        for (std::size_t i = 1; i < spans_.size(); ++i) {
            if (spans_[i].start < spans_[i - 1].end) {
                std::int64_t a = std::min(spans_[i].number, spans_[i - 1].number);
                std::int64_t b = std::max(spans_[i].number, spans_[i - 1].number);
                Overlap(b, members_[static_cast<std::size_t>(b - 1)].name, a);
            }
        }
    }

private:
    struct Span {
        std::int64_t start, end, number;
    };
    static std::string Label(std::int64_t number, const std::string& name) {
        return Numbered("member %lld", number) + " (" + name + ")";
    }
    [[noreturn]] void Overlap(std::int64_t number, const std::string& name, std::int64_t earlier) {
        Damaged("the data of " + Label(number, name) + " overlaps that of " +
                Label(earlier, members_[static_cast<std::size_t>(earlier - 1)].name));
    }

    std::int64_t dataArea_;
    std::vector<ArchiveMember>& members_;
    std::vector<Span> spans_;
    std::int64_t stored_ = 0;
};

using platform::EqualIgnoringAsciiCase;

}  // namespace

std::shared_ptr<ByteSource> MemoryByteSource(const unsigned char* data, std::size_t size) {
    return std::make_shared<MemorySource>(data, size);
}

std::shared_ptr<ByteSource> FileByteSource(const std::string& path) {
    if (platform::DirectoryExists(path))
        throw Error(Format("Unable to open file (%s)", path) + ": it is a folder, not a file");
    try {
        return std::make_shared<FileSource>(path);
    } catch (const Error& e) {
        throw Error(Format("Unable to open file (%s)", path) + ": " + e.what());
    }
}

ArchiveReader::ArchiveReader(const unsigned char* data, std::size_t size)
    : source_(MemoryByteSource(data, size)) {
    Load();
}

ArchiveReader::ArchiveReader(std::shared_ptr<ByteSource> source) : source_(std::move(source)) {
    Load();
}

ArchiveReader ArchiveReader::FromFile(const std::string& path) {
    return ArchiveReader(FileByteSource(path));
}

void ArchiveReader::Load() {
    const std::uint64_t fileSize = source_->Size();
    if (fileSize < kTrailerSize) throw Error("No archive found: the file is shorter than an archive trailer");
    // A signed screensaver ends with its certificate table; the archive ends where the table
    // begins, or up to 7 zero bytes before it (the signer's padding to 8 bytes). An archive
    // appended after a signature still ends the file.
    std::optional<PeLayout> pe = ReadPeLayout(*source_);
    if (pe && pe->HasCertTable() &&
        static_cast<std::uint64_t>(pe->certTableOffset) + pe->certTableSize + kCertTableAlignment > fileSize) {
        const std::uint64_t table = pe->certTableOffset;
        const std::string where = "before the file's signature";
        std::optional<Error> first;
        unsigned char padding[kCertTableAlignment] = {};
        const auto back = static_cast<std::size_t>(std::min<std::uint64_t>(table, kCertTableAlignment - 1));
        source_->Read(table - back, padding, back);
        for (std::size_t pad = 0; pad <= back; ++pad) {
            if (pad > 0 && padding[back - pad] != 0) break;
            try {
                LoadAt(table - pad, where);
                return;
            } catch (const Error& e) {
                if (!first) first = e;
            }
        }
        throw *first;
    }
    LoadAt(fileSize, "at the end of the file");
}

void ArchiveReader::LoadAt(std::uint64_t fileSize, const std::string& where) {
    members_.clear();
    if (fileSize < kTrailerSize)
        throw Error("No archive found " + where + ": there is no room for an archive trailer");
    unsigned char bytes[kTrailerSize];
    source_->Read(fileSize - kTrailerSize, bytes, kTrailerSize);
    trailer_ = DecodeTrailer(bytes);

    // The archive's start follows from its trailer: the file's length minus the archive's.
    std::int64_t length = archive::ArchiveLength(trailer_);
    if (length < 0 || static_cast<std::uint64_t>(length) > fileSize)
        throw Error("No archive found " + where + " (its trailer does not describe an archive)");
    length_ = static_cast<std::uint64_t>(length);
    start_ = fileSize - length_;

    const std::int64_t count = trailer_.EntryCount;
    if (count > kMaxEntryCount)
        throw Error("No archive found " + where + " (its trailer claims " +
                    Numbered("%lld members)", count));
    // Every writer compresses the registry, also an empty one (an empty archive is 44 bytes):
    // a trailer of no members and no registry is just 36 bytes that happen to be zero.
    if (count == 0 && trailer_.RegistryCompressed == 0)
        throw Error("No archive found " + where);
    const std::int64_t total = count * static_cast<std::int64_t>(kRegistryEntrySize);
    const std::uint64_t registryAt = start_ + static_cast<std::uint64_t>(trailer_.RegistryOffset);

    // The records are decoded as they arrive and checked at once, so that memory follows what
    // the file holds, never what its trailer or registry declares.
    MemberChecker checker(trailer_.RegistryOffset, members_);
    std::string pending;  // bytes of a record not yet complete
    auto take = [&](const char* bytes, std::size_t size) {
        pending.append(bytes, size);
        std::size_t used = 0;
        for (; pending.size() - used >= kRegistryEntrySize; used += kRegistryEntrySize)
            checker.Add(DecodeEntry(reinterpret_cast<const unsigned char*>(pending.data()) + used));
        pending.erase(0, used);
    };
    if (trailer_.RegistryCompressed != 0) {
        if (total > static_cast<std::int64_t>(trailer_.RegistrySize) * kMaxInflateRatio)
            throw Error("No archive found " + where + " (its registry cannot hold " +
                        Numbered("%lld entries)", count));
        std::uint64_t at = registryAt;
        std::uint64_t left = static_cast<std::uint64_t>(trailer_.RegistrySize);
        DecompressionStream inflater([&](unsigned char* buffer, std::size_t capacity) {
            auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(left, capacity));
            source_->Read(at, buffer, piece);
            at += piece;
            left -= piece;
            return piece;
        });
        std::vector<char> piece(kPiece);
        std::int64_t produced = 0;
        try {
            while (produced < total) {
                auto want = static_cast<std::size_t>(std::min<std::int64_t>(total - produced, kPiece));
                std::size_t got = inflater.Read(piece.data(), want);
                produced += static_cast<std::int64_t>(got);
                take(piece.data(), got);
                if (got < want) Damaged("the registry holds fewer entries than its trailer declares");
            }
            char extra;
            if (inflater.Read(&extra, 1) != 0)
                Damaged("the registry holds more entries than its trailer declares");
        } catch (const Error& e) {
            if (std::string(e.what()) == "error") Damaged("the registry cannot be inflated");
            throw;
        }
    } else {
        std::vector<char> piece(kPiece / kRegistryEntrySize * kRegistryEntrySize);
        for (std::int64_t done = 0; done < total;) {
            auto want = static_cast<std::size_t>(std::min<std::int64_t>(total - done, piece.size()));
            source_->Read(registryAt + static_cast<std::uint64_t>(done), piece.data(), want);
            take(piece.data(), want);
            done += static_cast<std::int64_t>(want);
        }
    }
    checker.Finish();
}

bool ArchiveReader::VerifyArchiveCrc() const {
    const std::atomic<bool> never{false};
    return *VerifyArchiveCrc(never);
}

std::optional<bool> ArchiveReader::VerifyArchiveCrc(const std::atomic<bool>& stop) const {
    std::vector<unsigned char> buffer(kPiece);
    std::uint64_t at = start_;
    std::uint64_t left = length_ - kTrailerSize;
    std::uint32_t crc = 0;
    while (left > 0) {
        if (stop.load(std::memory_order_relaxed)) return std::nullopt;
        auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(left, kPiece));
        source_->Read(at, buffer.data(), piece);
        crc = Crc32(crc, buffer.data(), piece);
        at += piece;
        left -= piece;
    }
    return crc == trailer_.ArchiveCrc;
}

int ArchiveReader::IndexOf(const std::string& name) const {
    for (std::size_t i = 0; i < members_.size(); ++i)
        if (EqualIgnoringAsciiCase(members_[i].name, name)) return static_cast<int>(i);
    return -1;
}

void ArchiveReader::Extract(std::size_t index, const ChunkSink& sink) const {
    if (index >= members_.size()) throw Error("Index out of bounds");
    const ArchiveMember& m = members_[index];
    std::uint64_t at = start_ + static_cast<std::uint64_t>(m.dataOffset);
    std::uint64_t left = static_cast<std::uint64_t>(m.storedSize);
    std::uint32_t crc = 0;
    std::vector<unsigned char> buffer(kPiece);
    if (m.stored) {
        while (left > 0) {
            auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(left, kPiece));
            source_->Read(at, buffer.data(), piece);
            crc = Crc32(crc, buffer.data(), piece);
            sink(reinterpret_cast<const char*>(buffer.data()), piece);
            at += piece;
            left -= piece;
        }
    } else {
        DecompressionStream inflater([&](unsigned char* into, std::size_t capacity) {
            auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(left, capacity));
            source_->Read(at, into, piece);
            at += piece;
            left -= piece;
            return piece;
        });
        std::uint64_t expected = static_cast<std::uint64_t>(m.originalSize);
        std::uint64_t produced = 0;
        for (;;) {
            // One byte more than the member may still hold, so that a stream inflating beyond
            // its declared size is caught without inflating the rest of it.
            auto want = static_cast<std::size_t>(std::min<std::uint64_t>(expected - produced + 1, kPiece));
            std::size_t got = 0;
            try {
                got = inflater.Read(buffer.data(), want);
            } catch (const Error&) {
                Damaged("the data of member \"" + m.name + "\" cannot be inflated");
            }
            if (got == 0) break;
            produced += got;
            if (produced > expected) Damaged("member \"" + m.name + "\" inflates beyond its declared size");
            crc = Crc32(crc, buffer.data(), got);
            sink(reinterpret_cast<const char*>(buffer.data()), got);
        }
        if (produced != expected) Damaged("member \"" + m.name + "\" inflates to fewer bytes than declared");
    }
    if (crc != m.crc) Damaged("member \"" + m.name + "\" fails its CRC check");
}

std::string ArchiveReader::Extract(std::size_t index) const {
    if (index >= members_.size()) throw Error("Index out of bounds");
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(members_[index].originalSize));
    Extract(index, [&bytes](const char* data, std::size_t size) { bytes.append(data, size); });
    return bytes;
}

std::unique_ptr<MemberReader> ArchiveReader::OpenMember(std::size_t index) const {
    if (index >= members_.size()) throw Error("Index out of bounds");
    return std::make_unique<MemberReader>(source_, start_, members_[index]);
}

struct MemberReader::Inflating {
    std::uint64_t at = 0;    // source offset of the next compressed byte
    std::uint64_t left = 0;  // compressed bytes not yet taken
    std::uint32_t crc = 0;
    bool checked = false;  // the end and the CRC, once reached
    std::unique_ptr<DecompressionStream> stream;
};

MemberReader::MemberReader(std::shared_ptr<ByteSource> source, std::uint64_t archiveStart, ArchiveMember member)
    : source_(std::move(source)), start_(archiveStart), member_(std::move(member)) {}

MemberReader::~MemberReader() = default;

void MemberReader::Restart() {
    auto fresh = std::make_unique<Inflating>();
    fresh->at = start_ + static_cast<std::uint64_t>(member_.dataOffset);
    fresh->left = static_cast<std::uint64_t>(member_.storedSize);
    Inflating* state = fresh.get();
    fresh->stream = std::make_unique<DecompressionStream>([this, state](unsigned char* into, std::size_t capacity) {
        auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(state->left, capacity));
        source_->Read(state->at, into, piece);
        state->at += piece;
        state->left -= piece;
        return piece;
    });
    inflating_ = std::move(fresh);
    position_ = 0;
    ++restarts_;
}

std::size_t MemberReader::Inflate(void* into, std::size_t size) {
    const std::uint64_t expected = Size();
    std::size_t got = 0;
    auto* bytes = static_cast<unsigned char*>(into);
    while (got < size) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(size - got, kPiece));
        std::size_t piece = 0;
        try {
            piece = inflating_->stream->Read(bytes + got, want);
        } catch (const Error&) {
            Damaged("the data of member \"" + member_.name + "\" cannot be inflated");
        }
        if (piece == 0) break;
        if (position_ + piece > expected)
            Damaged("member \"" + member_.name + "\" inflates beyond its declared size");
        inflating_->crc = Crc32(inflating_->crc, bytes + got, piece);
        position_ += piece;
        got += piece;
    }
    if (position_ < expected) {
        if (got < size) Damaged("member \"" + member_.name + "\" inflates to fewer bytes than declared");
    } else if (!inflating_->checked) {
        inflating_->checked = true;
        unsigned char extra = 0;
        std::size_t more = 0;
        try {
            more = inflating_->stream->Read(&extra, 1);
        } catch (const Error&) {
            Damaged("the data of member \"" + member_.name + "\" cannot be inflated");
        }
        if (more != 0) Damaged("member \"" + member_.name + "\" inflates beyond its declared size");
        if (inflating_->crc != member_.crc) Damaged("member \"" + member_.name + "\" fails its CRC check");
    }
    return got;
}

std::size_t MemberReader::ReadAt(std::uint64_t offset, void* into, std::size_t size) {
    const std::uint64_t total = Size();
    if (offset >= total || size == 0) return 0;
    size = static_cast<std::size_t>(std::min<std::uint64_t>(size, total - offset));
    if (member_.stored) {
        source_->Read(start_ + static_cast<std::uint64_t>(member_.dataOffset) + offset, into, size);
        return size;
    }
    if (!inflating_ || offset < position_) Restart();
    // Forward to the offset, through a scratch piece.
    if (position_ < offset) {
        std::vector<unsigned char> scratch(kPiece);
        while (position_ < offset) {
            const auto skip = static_cast<std::size_t>(std::min<std::uint64_t>(offset - position_, kPiece));
            if (Inflate(scratch.data(), skip) < skip) return 0;
        }
    }
    return Inflate(into, size);
}

}  // namespace nimbrel::archive
