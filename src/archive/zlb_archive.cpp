#include "archive/zlb_archive.h"
#include "platform/ascii.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <exception>
#include <filesystem>
#include <future>
#include <mutex>
#include <system_error>
#include <thread>

#include "archive/zlib_stream.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/temp.h"

namespace fs = std::filesystem;

namespace nimbrel::archive {

namespace {

constexpr std::size_t kCopyPiece = 65536;

// A failure while writing the archive being built: unlike a member that cannot be read, it
// ends AddFiles, since the archive under construction can no longer be trusted.
struct OutputFailure : Error {
    using Error::Error;
};

// The failure to write `path` in words that name it, from what the stream raised.
[[noreturn]] void ThrowWriteFailure(const std::string& path, const Error& e, std::int64_t needed,
                                    std::int64_t written) {
    if (const auto* io = dynamic_cast<const FileStream::IoFailure*>(&e))
        throw OutputFailure(platform::WriteFailureMessage(path, io->code, needed, written));
    throw OutputFailure("Cannot write " + path + ": " + e.what());
}

using platform::EqualIgnoringAsciiCase;

std::string AfterFirstColon(const std::string& text) {
    auto colon = text.find(':');
    return colon == std::string::npos ? text : text.substr(colon + 1);
}

std::string CutName(std::string text) {
    if (text.size() > kMaxNameLength) text.resize(kMaxNameLength);
    return text;
}

}  // namespace

// Where the archive goes: a file from a position on, with the CRC of what was written so far.
struct TZLBArchive::Output {
    FileStream& file;
    std::int64_t base = 0;    // the file's position of the archive's first byte
    std::uint32_t crc = 0;    // of the archive's bytes written so far
    std::int64_t needed = 0;  // the whole archive's size as guessed at the start, for messages

    // The file's bytes so far, as far as can be told after a failure.
    std::int64_t Written() {
        try {
            return file.Size();
        } catch (const Error&) {
            return base;
        }
    }
    // The archive's bytes so far (its position relative to its start).
    std::int64_t Position() { return file.Position() - base; }
    void Write(const void* data, std::size_t size) {
        try {
            file.Write(data, size);
        } catch (const Error& e) {
            ThrowWriteFailure(file.Path(), e, base + needed, Written());
        }
        crc = Crc32(crc, data, size);
    }
    // Cuts the archive back to `size` bytes, whose CRC was `crcThere`.
    void Truncate(std::int64_t size, std::uint32_t crcThere) {
        try {
            file.Truncate(base + size);
        } catch (const Error& e) {
            ThrowWriteFailure(file.Path(), e, base + needed, Written());
        }
        crc = crcThere;
    }
};

struct TZLBArchive::MemberJob {
    std::string path;
    std::size_t index = 0;
    TFileCompressionLevel level = fcDefault;
    bool store = false;
    FileStream input;
    std::int64_t size = 0;
    bool toFile = false;
    platform::TempFile stagingGuard;
    FileStream stagingFile;
    std::string staged;
    std::int64_t stagedSize = 0;  // the whole compressed length, also past what was kept
    std::uint32_t crc = 0;
    std::vector<std::uint64_t> reports;                  // TotalIn at each report made on a worker
    std::function<void(const CompressionStream&)> live;  // reports made on the calling thread
    std::exception_ptr failure;
    std::future<void> finished;
};

TZLBArchive::~TZLBArchive() {
    destroying_ = true;
    try {
        if (!archiveName_.empty()) CloseArchive();
    } catch (...) {
    }
}

void TZLBArchive::CreateArchive(const std::string& fileName) {
    CloseArchive();
    if (fileName.empty()) return;
    if (platform::FileExists(fileName)) throw Error("File already exists");
    archiveName_ = fileName;
    isNew_ = true;
    if (OnArchiveOpened) OnArchiveOpened();
}

bool TZLBArchive::OpenArchive(const std::string& fileName) {
    CloseArchive();
    archiveName_ = fileName;
    if (fileName.empty()) return false;
    if (!platform::FileExists(fileName)) throw Error("Archive file not found");
    FileStream file;
    try {
        file = FileStream(fileName, FileStream::Mode::Read);
    } catch (const Error&) {
        throw Error(Format("Unable to open file (%s)", fileName));
    }

    // The CRC runs from the file's first byte: only an archive that is a file of its own
    // passes, never one at the tail of a screensaver.
    bool intact = false;
    std::int64_t size = 0;
    try {
        size = file.Size();
        if (size >= static_cast<std::int64_t>(kTrailerSize)) {
            std::uint32_t crc = StreamCrc(file, kTrailerSize);
            unsigned char bytes[kTrailerSize];
            file.Seek(size - static_cast<std::int64_t>(kTrailerSize));
            file.ReadExact(bytes, sizeof bytes);
            trailer_ = DecodeTrailer(bytes);
            intact = crc == trailer_.ArchiveCrc;
        }
    } catch (const Error&) {
        intact = false;
    }
    if (!intact) {
        archiveName_.clear();
        trailer_ = {};
        throw Error("The archive file appears to be corrupted");
    }

    try {
        ReadRegistry(file, size);
        if (OnArchiveOpened) OnArchiveOpened();
    } catch (...) {
        CloseArchive();
        throw Error("Unable to read archive file list");
    }
    file.Close();
    progressKind_ = ArchiveChanged;
    DoProgress();
    return true;
}

void TZLBArchive::ReadRegistry(FileStream& file, std::int64_t fileSize) {
    // A damaged or hostile trailer must not lead to reads outside the file or to a registry
    // larger than its stream can possibly inflate to.
    std::int64_t length = ArchiveLength(trailer_);
    if (length < 0 || length > fileSize) throw Error("registry outside the archive");
    if (trailer_.EntryCount > kMaxEntryCount) throw Error("too many entries");
    std::int64_t total = static_cast<std::int64_t>(trailer_.EntryCount) * kRegistryEntrySize;
    std::string records;
    file.Seek(trailer_.RegistryOffset);
    if (trailer_.RegistryCompressed != 0) {
        if (total > static_cast<std::int64_t>(trailer_.RegistrySize) * kMaxInflateRatio)
            throw Error("registry larger than its stream");
        progressKind_ = ReadingRegistry;
        progressTotal_ = total;
        progressDone_ = 0;
        progressMessage_ = "Extracting archive registry";
        std::int64_t left = trailer_.RegistrySize;
        DecompressionStream inflater([&file, &left](unsigned char* buffer, std::size_t capacity) {
            auto want =
                static_cast<std::size_t>(std::min<std::int64_t>(left, static_cast<std::int64_t>(capacity)));
            std::size_t got = want > 0 ? file.Read(buffer, want) : 0;
            left -= static_cast<std::int64_t>(got);
            return got;
        });
        std::int64_t asked = 0;
        char buffer[kRegistryPiece];
        while (asked < total) {
            auto piece = static_cast<std::size_t>(std::min<std::int64_t>(total - asked, kRegistryPiece));
            std::size_t got = inflater.Read(buffer, piece);
            records.append(buffer, got);
            asked += static_cast<std::int64_t>(piece);
            progressDone_ += static_cast<std::int64_t>(got);
            DoProgress();
            if (got < piece) throw Error("registry shorter than declared");
        }
        // The stream must end exactly here (this also checks its Adler-32).
        char extra;
        if (inflater.Read(&extra, 1) != 0 || !inflater.AtEnd()) throw Error("registry longer than declared");
    } else {
        records.resize(static_cast<std::size_t>(total));
        file.ReadExact(records.data(), records.size());
    }
    entries_.reserve(static_cast<std::size_t>(trailer_.EntryCount));
    for (std::int32_t i = 0; i < trailer_.EntryCount; ++i)
        entries_.push_back(
            DecodeEntry(reinterpret_cast<const unsigned char*>(records.data()) + i * kRegistryEntrySize));
}

void TZLBArchive::CloseArchive() {
    entries_.clear();
    isNew_ = false;
    trailer_ = {};
    archiveName_.clear();
    progressKind_ = ArchiveChanged;
    DoProgress();
}

std::string TZLBArchive::MemberPath(const std::string& path) const {
    return SavePaths ? AfterFirstColon(platform::DirectoryPart(path)) : std::string();
}

void TZLBArchive::AddFiles(std::vector<std::string>& files) {
    if (archiveName_.empty()) throw Error("No archive is currently open");

    // Folders never become members: dropped, or replaced by their files (appended at the end
    // of the list and looked at in this same pass).
    for (std::size_t i = 0; i < files.size();) {
        if (platform::DirectoryExists(files[i])) {
            std::string folder = files[i];
            if (RecursePaths) ExpandFolder(folder, files);
            files.erase(files.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            ++i;
        }
    }

    // Every archive written must be one the reader takes.
    if (entries_.size() + files.size() > static_cast<std::size_t>(kMaxEntryCount))
        throw ArchiveLimitError("The archive would list " + std::to_string(entries_.size() + files.size()) +
                                " files, more than the " + std::to_string(kMaxEntryCount) +
                                " an archive can hold");

    platform::TempFile built(MakeTempFileName());
    FileStream file(built.Path(), FileStream::Mode::Create);
    Output output{file};

    if (!isNew_) {
        // Extending an opened archive: its member data area is carried over unchanged.
        try {
            FileStream old(archiveName_, FileStream::Mode::Read);
            std::vector<unsigned char> buffer(kCopyPiece);
            std::int64_t left = trailer_.RegistryOffset;
            while (left > 0) {
                auto piece = static_cast<std::size_t>(std::min<std::int64_t>(left, kCopyPiece));
                old.ReadExact(buffer.data(), piece);
                output.Write(buffer.data(), piece);
                left -= static_cast<std::int64_t>(piece);
            }
        } catch (const OutputFailure&) {
            throw;
        } catch (const Error&) {
            throw Error(Format("Unable to open file (%s)", archiveName_));
        }
    }

    WriteMembers(output, files, 0);
    WriteRegistry(output);
    file.Close();
    ReplaceArchiveFile(built.Path());
    built.Release();

    std::string name = archiveName_;
    CloseArchive();
    OpenArchive(name);
}

void TZLBArchive::WriteArchive(FileStream& file, std::vector<std::string>& files) {
    CloseArchive();
    for (std::size_t i = 0; i < files.size();) {
        if (platform::DirectoryExists(files[i])) {
            std::string folder = files[i];
            if (RecursePaths) ExpandFolder(folder, files);
            files.erase(files.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            ++i;
        }
    }
    if (files.size() > static_cast<std::size_t>(kMaxEntryCount))
        throw ArchiveLimitError("The archive would list " + std::to_string(files.size()) + " files, more than the " +
                                std::to_string(kMaxEntryCount) + " an archive can hold");
    Output output{file};
    output.base = file.Position();
    archiveName_ = file.Path();
    isNew_ = true;
    // What a full disk's message says is needed: the files as they are, which the archive
    // rarely passes.
    for (const std::string& path : files) output.needed += std::max<std::int64_t>(platform::FileSize(path), 0);
    output.needed += static_cast<std::int64_t>(files.size()) * kRegistryEntrySize + kTrailerSize;
    WriteMembers(output, files, 0);
    WriteRegistry(output);
}

void TZLBArchive::WriteMembers(Output& output, std::vector<std::string>& files, std::size_t first) {
    // Items are consumed from the front; on an error the ones not reached stay in the list.
    std::size_t done = first;
    struct Consume {
        std::vector<std::string>& files;
        std::size_t& done;
        ~Consume() { files.erase(files.begin(), files.begin() + static_cast<std::ptrdiff_t>(done)); }
    } consume{files, done};

    // Each member is prepared (opened, staging chosen) and compressed, on a worker when there
    // are any, then appended in list order on this thread. At most `window` members are in
    // flight, which bounds the memory their staging takes.
    const bool threaded = WorkerThreads > 0;
    const std::size_t window =
        threaded ? static_cast<std::size_t>(std::min(WorkerThreads, kMaxWorkerThreads)) : 1;
    std::deque<std::unique_ptr<MemberJob>> pending;
    std::size_t next = done;
    for (; done < files.size(); ++done) {
        while (threaded && pending.size() < window && next < files.size()) {
            pending.push_back(PrepareMember(files[next], next));
            ++next;
            MemberJob* job = pending.back().get();
            job->finished = std::async(std::launch::async, [this, job] {
                MakeMember(*job);
                if (!job->failure) CompressMember(*job);
            });
        }
        const std::string path = files[done];
        if (OnMember) OnMember(path, false);
        std::string key = MemberPath(path) + platform::FileNamePart(path);
        if (OnErrorLogged && IndexOfEntry(key) >= 0)
            OnErrorLogged(Format("%s already exists in the archive", path));

        std::unique_ptr<MemberJob> job;
        if (threaded) {
            job = std::move(pending.front());
            pending.pop_front();
        } else {
            job = PrepareMember(path, done);
        }
        progressKind_ = AddingMember;
        progressTotal_ = 0;
        progressDone_ = 0;
        progressMessage_ = Format("Updating %s", path);
        if (!threaded) {
            job->live = [this](const CompressionStream& s) { DoProgress(&s); };
            MakeMember(*job);
            progressTotal_ = job->size;
            if (!job->failure) CompressMember(*job);
        } else if (job->finished.valid()) {
            while (job->finished.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready)
                if (OnWaiting) OnWaiting();
            job->finished.get();
            // The member's size is known once its worker has opened it.
            progressTotal_ = job->size;
            for (std::uint64_t taken : job->reports) {
                progressDone_ = static_cast<std::int64_t>(taken);
                DoProgress();
            }
        }

        std::int64_t dataOffset = output.Position();
        std::uint32_t crcBefore = output.crc;
        try {
            if (job->failure) std::rethrow_exception(job->failure);
            entries_.push_back(AppendMember(*job, output));
        } catch (const OutputFailure&) {
            throw;
        } catch (const ArchiveLimitError&) {
            throw;
        } catch (const MemberRefused&) {
            throw;
        } catch (const std::exception&) {
            // Whatever of the member reached the archive goes again, so the next member's
            // data starts where this one's would have.
            if (output.Position() != dataOffset) output.Truncate(dataOffset, crcBefore);
            if (OnErrorLogged) OnErrorLogged(Format("Unable to open file (%s)", path));
        }
        if (OnMember) OnMember(path, true);
    }
}

int TZLBArchive::DefaultWorkerThreads() {
    const int cores = static_cast<int>(std::thread::hardware_concurrency());
    return cores >= 2 ? std::min(cores, kMaxWorkerThreads) : 0;
}

std::unique_ptr<TZLBArchive::MemberJob> TZLBArchive::PrepareMember(const std::string& path,
                                                                   std::size_t index) {
    auto job = std::make_unique<MemberJob>();
    job->path = path;
    job->index = index;
    job->level = CompressionLevel;
    return job;
}

void TZLBArchive::MakeMember(MemberJob& job) {
    try {
        std::string file = job.path;
        if (OnMemberSource) {
            MemberSource source = OnMemberSource(job.path, job.index);
            if (!source.file.empty()) file = source.file;
            job.store = source.store;
        }
        job.input = FileStream(file, FileStream::Mode::Read);
        job.size = job.input.Size();
        if (job.size > SizeLimit)
            throw ArchiveLimitError(Format(
                "%s is larger than the " + std::to_string(SizeLimit) + " bytes an archive member can hold",
                job.path));
        if (job.store) return;
        job.toFile = job.size > kMemoryStagingLimit;
        if (job.toFile) {
            std::string staging;
            {
                // Workers may come here at once; an overriding MakeTempFileName need not know.
                std::lock_guard lock(tempNameMutex_);
                staging = MakeTempFileName();
            }
            job.stagingGuard = platform::TempFile(staging);
            job.stagingFile = FileStream(job.stagingGuard.Path(), FileStream::Mode::Create);
        } else {
            job.staged.reserve(static_cast<std::size_t>(job.size) + CompressionStream::kBufferSize);
        }
    } catch (...) {
        job.failure = std::current_exception();
    }
}

void TZLBArchive::CompressMember(MemberJob& job) {
    if (job.store) {
        // Only the CRC: the member is appended from its file as it is.
        try {
            std::vector<unsigned char> buffer(kCopyPiece);
            std::int64_t read = 0;
            for (std::size_t got; (got = job.input.Read(buffer.data(), buffer.size())) > 0;) {
                read += static_cast<std::int64_t>(got);
                if (read > job.size) break;
                job.crc = Crc32(job.crc, buffer.data(), got);
            }
            if (read != job.size) throw Error("the file changed while it was read");
            job.stagedSize = job.size;
        } catch (...) {
            job.failure = std::current_exception();
        }
        return;
    }
    try {
        // Once the compressed form is as long as the file, the file will be stored as it is:
        // the rest of the stream is still produced (its reports are part of the progress
        // sequence) but no longer kept.
        std::int64_t kept = 0;
        auto sink = [&job, &kept](const unsigned char* data, std::size_t n) {
            job.stagedSize += static_cast<std::int64_t>(n);
            if (kept >= job.size) return;
            if (job.toFile) {
                // A full temporary folder ends the build with its own name, not as a member
                // that could not be read.
                try {
                    job.stagingFile.Write(data, n);
                } catch (const Error& e) {
                    ThrowWriteFailure(job.stagingFile.Path(), e, job.size, kept);
                }
            } else
                job.staged.append(reinterpret_cast<const char*>(data), n);
            kept += static_cast<std::int64_t>(n);
        };
        auto progress = [&job](const CompressionStream& s) {
            if (job.live)
                job.live(s);
            else
                job.reports.push_back(s.TotalIn());
        };
        CompressionStream stream(job.level, sink, progress);
        std::vector<unsigned char> buffer(kCopyPiece);
        std::int64_t read = 0;
        for (;;) {
            std::size_t got = job.input.Read(buffer.data(), buffer.size());
            if (got == 0) break;
            read += static_cast<std::int64_t>(got);
            if (read > job.size) break;
            job.crc = Crc32(job.crc, buffer.data(), got);
            stream.Write(buffer.data(), got);
        }
        if (read != job.size) throw Error("the file changed while it was read");
        stream.Finish();
    } catch (...) {
        job.failure = std::current_exception();
    }
}

RegistryEntry TZLBArchive::AppendMember(MemberJob& job, Output& output) {
    RegistryEntry entry;
    entry.Crc = job.crc;
    entry.FileName = CutName(platform::FileNamePart(job.path));
    entry.FilePath = CutName(MemberPath(job.path));
    entry.OriginalSize = static_cast<std::int32_t>(job.size);
    std::int64_t offset = output.Position();
    bool compressed = job.stagedSize < job.size;
    std::int64_t storedSize = compressed ? job.stagedSize : job.size;
    if (offset + storedSize > SizeLimit)
        throw ArchiveLimitError(Format(
            "%s does not fit: the archive would pass its limit of " + std::to_string(SizeLimit) + " bytes",
            job.path));
    entry.DataOffset = static_cast<std::int32_t>(offset);
    entry.StoredSize = static_cast<std::int32_t>(storedSize);

    if (compressed && !job.toFile) {
        output.Write(job.staged.data(), job.staged.size());
    } else {
        FileStream& from = compressed ? job.stagingFile : job.input;
        from.Seek(0);
        std::vector<unsigned char> buffer(kCopyPiece);
        std::int64_t left = storedSize;
        while (left > 0) {
            auto piece = static_cast<std::size_t>(std::min<std::int64_t>(left, kCopyPiece));
            from.ReadExact(buffer.data(), piece);
            output.Write(buffer.data(), piece);
            left -= static_cast<std::int64_t>(piece);
        }
    }
    entry.Stored = compressed ? 0 : 1;
    entry.Level = compressed ? static_cast<std::uint8_t>(job.level) : 0;
    return entry;
}

void TZLBArchive::ReplaceArchiveFile(const std::string& builtPath) {
    // The old archive goes only once the new one stands in its place; across file systems
    // the new one is copied beside the target first, so a failure leaves the old one.
    if (platform::RenameFile(builtPath, archiveName_)) return;
    std::string directory = platform::DirectoryPart(archiveName_);
    try {
        platform::TempFile beside(platform::MakeUniqueTempFile(directory.empty() ? "." : directory, "ZLB"));
        if (platform::CopyFileBytes(builtPath, beside.Path()) &&
            platform::RenameFile(beside.Path(), archiveName_)) {
            beside.Release();
            platform::RemoveFile(builtPath);
            return;
        }
    } catch (const Error&) {
    }
    throw Error(Format("Unable to open file (%s)", archiveName_));
}

int TZLBArchive::IndexOfEntry(const std::string& key) const {
    if (archiveName_.empty()) throw Error("No archive is currently open");
    for (std::size_t i = 0; i < entries_.size(); ++i)
        if (EqualIgnoringAsciiCase(key, entries_[i].Key())) return static_cast<int>(i);
    return -1;
}

RegistryEntry TZLBArchive::GetEntry(int index) const {
    if (index < 0 || index >= Count()) throw Error("Index out of bounds");
    return entries_[static_cast<std::size_t>(index)];
}

void TZLBArchive::WriteRegistry(Output& output) {
    ArchiveTrailer trailer;
    const std::int64_t registryStart = output.Position();
    const std::uint32_t crcBefore = output.crc;
    std::string buffer = EncodeRegistry(entries_);

    progressKind_ = WritingRegistry;
    progressTotal_ = static_cast<std::int64_t>(buffer.size());
    progressDone_ = 0;
    progressMessage_ = "Writing archive registry";
    try {
        CompressionStream stream(
            CompressionLevel, [&output](const unsigned char* data, std::size_t n) { output.Write(data, n); },
            [this](const CompressionStream& s) { DoProgress(&s); });
        stream.Write(buffer.data(), buffer.size());
        stream.Finish();
        trailer.RegistrySize = static_cast<std::int32_t>(
            std::min<std::int64_t>(output.Position() - registryStart, kMaxArchiveSize));
        trailer.RegistryCompressed = 1;
    } catch (const OutputFailure&) {
        throw;
    } catch (const Error&) {
        output.Truncate(registryStart, crcBefore);
        output.Write(buffer.data(), buffer.size());
        trailer.RegistrySize = 0;
        trailer.RegistryCompressed = 0;
    }
    if (output.Position() + static_cast<std::int64_t>(kTrailerSize) > SizeLimit)
        throw ArchiveLimitError("The archive would pass its limit of " + std::to_string(SizeLimit) +
                                " bytes");
    trailer.EntryCount = static_cast<std::int32_t>(entries_.size());
    trailer.AlwaysOne = 1;
    trailer.RegistryOffset = static_cast<std::int32_t>(registryStart);
    // The CRC of every byte before the trailer, kept up as they were written.
    trailer.ArchiveCrc = output.crc;
    TrailerBytes bytes = EncodeTrailer(trailer);
    output.Write(bytes.data(), bytes.size());
    trailer_ = trailer;
}

std::uint32_t TZLBArchive::StreamCrc(FileStream& stream, std::int64_t excludeTail) {
    std::int64_t position = stream.Position();
    std::int64_t left = stream.Size() - excludeTail;
    stream.Seek(0);
    std::uint32_t crc = 0;
    unsigned char buffer[kCrcPiece];
    // A pass over a large archive takes a while and reports nothing: about every megabyte the
    // front end may look after its window.
    for (int pieces = 1; left > 0; ++pieces) {
        auto piece = static_cast<std::size_t>(std::min<std::int64_t>(left, kCrcPiece));
        stream.ReadExact(buffer, piece);
        crc = Crc32(crc, buffer, piece);
        left -= static_cast<std::int64_t>(piece);
        if (pieces % 100 == 0 && OnWaiting) OnWaiting();
    }
    stream.Seek(position);
    return crc;
}

std::string TZLBArchive::MakeTempFileName() {
    // In the process's private folder: a link planted in the shared one cannot redirect it.
    return platform::MakeUniqueTempFile(platform::PrivateTempDirectory(), "ZLB");
}

void TZLBArchive::ExpandFolder(const std::string& folder, std::vector<std::string>& files) {
    std::string base = folder;
    if (!base.empty() && platform::IsSeparator(base.back())) base.pop_back();
    std::vector<std::string> local;
    std::error_code ec;
    fs::path where =
        base.empty() ? fs::path(std::string(1, platform::kSeparator)) : platform::NativePath(base);
    for (fs::directory_iterator it(where, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = platform::NarrowPath(it->path().filename());
        std::error_code statusError;
        std::string child = base + platform::kSeparator + name;
        if (!it->is_directory(statusError)) {
            local.push_back(child);
        } else if (name != "." && name != ".." && RecursePaths) {
            // A link to a folder could lead back to one of its parents: it is not followed.
            if (!it->is_symlink(statusError)) ExpandFolder(child, files);
        }
    }
    files.insert(files.end(), local.begin(), local.end());
}

void TZLBArchive::DoProgress(const CompressionStream* sender) {
    if (destroying_ || !OnProgress) return;
    switch (progressKind_) {
        case ReadingRegistry:
            OnProgress(progressMessage_, ProgressPercentage(static_cast<double>(progressDone_),
                                                            static_cast<double>(progressTotal_)));
            break;
        case AddingMember: {
            double taken =
                sender ? static_cast<double>(sender->TotalIn()) : static_cast<double>(progressDone_);
            OnProgress(progressMessage_, ProgressPercentage(taken, static_cast<double>(progressTotal_)));
            break;
        }
        case WritingRegistry:
            OnProgress(progressMessage_, ProgressPercentage(static_cast<double>(progressDone_),
                                                            static_cast<double>(progressTotal_)));
            break;
        case ArchiveChanged: OnProgress(archiveName_, 0); break;
    }
}

}  // namespace nimbrel::archive
