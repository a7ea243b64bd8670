#pragma once
// TZLBArchive: writes archives of zlib-compressed members and reads their registries back.
// AddFiles writes a stand-alone archive file and ends by reopening it, which verifies its CRC and
// re-reads its registry. The build instead writes the archive once, straight after the player in
// the screensaver being made (WriteArchive), with the CRC computed as the bytes go out.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "archive/archive_format.h"
#include "archive/file_stream.h"
#include "platform/error.h"

namespace nimbrel::archive {

class CompressionStream;

// A member, or the archive as a whole, would pass the format's 2 GiB limit. Unlike a file that
// cannot be read, it ends AddFiles: the archive cannot hold what it was asked to hold.
struct ArchiveLimitError : Error {
    using Error::Error;
};

// Raised by an OnMemberSource handler to end AddFiles at once (a member that must not be left out).
struct MemberRefused : Error {
    using Error::Error;
};

class TZLBArchive {
public:
    enum TProgressKind { ReadingRegistry, AddingMember, WritingRegistry, ArchiveChanged };

    using TProgressEvent = std::function<void(const std::string& msg, int percentage)>;
    using TErrorLogEvent = std::function<void(const std::string& msg)>;
    using TNotifyEvent = std::function<void()>;

    // Members above this size are staged in a temporary file instead of memory.
    static constexpr std::int64_t kMemoryStagingLimit = 20971520;
    static constexpr std::size_t kCrcPiece = 10240;
    static constexpr std::size_t kRegistryPiece = 4096;

    TZLBArchive() = default;
    virtual ~TZLBArchive();
    TZLBArchive(const TZLBArchive&) = delete;
    TZLBArchive& operator=(const TZLBArchive&) = delete;

    // Prepares a new, empty archive to be written to fileName by the first AddFiles. Raises
    // "File already exists" when there is such a file. An empty name leaves no archive open.
    void CreateArchive(const std::string& fileName);
    // Reads the registry of a stand-alone archive file; false only for an empty name.
    bool OpenArchive(const std::string& fileName);
    void CloseArchive();
    // Adds every file named in `files` and rewrites the archive; folders are dropped, or
    // expanded when RecursePaths is set. The list is consumed: it keeps only the items not
    // reached when adding stopped on an error.
    void AddFiles(std::vector<std::string>& files);
    // Writes a new archive of the files in `files` to `output` from its current position: the
    // bytes before it (a player) are no part of the archive, its offsets and CRC count from there.
    // The members, the events and the archive's bytes are those CreateArchive and AddFiles give;
    // nothing is read back. Failures to write name output.Path() and what happened. The list is
    // consumed as by AddFiles. Needs no archive to be open; Entries() then lists the members.
    void WriteArchive(FileStream& output, std::vector<std::string>& files);
    // The first record whose key equals `key`, ignoring ASCII letter case; -1 when none.
    int IndexOfEntry(const std::string& key) const;
    RegistryEntry GetEntry(int index) const;
    // CRC-32 of the stream's bytes from 0 to its size minus excludeTail; the position is kept.
    std::uint32_t StreamCrc(FileStream& stream, std::int64_t excludeTail);
    // A new empty file whose name starts with "ZLB", in the private temporary folder of this
    // process (platform::PrivateTempDirectory).
    virtual std::string MakeTempFileName();
    // Appends the files of `folder` to `files`, those of its subfolders first.
    virtual void ExpandFolder(const std::string& folder, std::vector<std::string>& files);
    // One OnProgress call for the current progress kind; `sender` is the compression stream
    // of a member being added.
    void DoProgress(const CompressionStream* sender = nullptr);

    const std::string& ArchiveName() const { return archiveName_; }
    bool IsNew() const { return isNew_; }
    const ArchiveTrailer& Trailer() const { return trailer_; }
    const std::vector<RegistryEntry>& Entries() const { return entries_; }
    int Count() const { return static_cast<int>(entries_.size()); }

    // The largest member and archive AddFiles writes: the format's signed 32-bit limit (tests
    // lower it to reach it without gigabytes).
    std::int64_t SizeLimit = kMaxArchiveSize;
    TFileCompressionLevel CompressionLevel = fcDefault;
    bool SavePaths = false;
    bool RecursePaths = false;
    bool ExtractWithPath = false;  // kept for the settings; nothing here extracts
    bool CheckCRC = false;         // kept for the settings; nothing here extracts
    // Members compressed at once on worker threads (0: on the calling thread; at most
    // kMaxWorkerThreads). The archive's bytes and the sequence of events are the same for
    // every value: reports made on a worker are replayed on the calling thread in order.
    int WorkerThreads = DefaultWorkerThreads();
    // Each worker may hold a member of 20 MiB in memory (or a picture being converted).
    static constexpr int kMaxWorkerThreads = 4;
    // One for each core, up to kMaxWorkerThreads; none on a single core.
    static int DefaultWorkerThreads();

    TProgressEvent OnProgress;
    // Called on the calling thread, in list order, when a file's turn comes (done false) and
    // when it is in the archive or was left out with an error (done true). OnProgress reports
    // come between the two only when the file is large enough to fill an output buffer.
    using TMemberEvent = std::function<void(const std::string& path, bool done)>;
    TMemberEvent OnMember;
    TErrorLogEvent OnErrorLogged;
    TNotifyEvent OnArchiveOpened;

    // Where a member's bytes come from, as OnMemberSource chooses it.
    struct MemberSource {
        std::string file;    // the file whose bytes make the member; empty: the listed file itself
        bool store = false;  // kept as they are, never deflated (bytes that are compressed already)
    };
    // Called for each member before it is opened, on the thread that compresses it (a worker when
    // there are any), with the listed path and its position in the list after the folder pass.
    // The member keeps the listed file's name whatever file its bytes come from. An exception
    // leaves the member out like a file that cannot be read; a MemberRefused ends AddFiles.
    using TMemberSourceEvent = std::function<MemberSource(const std::string& path, std::size_t index)>;
    TMemberSourceEvent OnMemberSource;
    // Called on the calling thread during work that makes no OnProgress report, so that a front
    // end can keep its window painted: about every 100 ms while waiting for a worker, and about
    // every megabyte of a CRC pass. How often it comes depends on timing.
    TNotifyEvent OnWaiting;

private:
    struct Output;
    void WriteMembers(Output& output, std::vector<std::string>& files, std::size_t first);
    // Appends the registry and the trailer.
    void WriteRegistry(Output& output);
    std::string MemberPath(const std::string& path) const;
    void ReadRegistry(FileStream& file, std::int64_t fileSize);
    struct MemberJob;
    std::unique_ptr<MemberJob> PrepareMember(const std::string& path, std::size_t index);
    void MakeMember(MemberJob& job);
    static void CompressMember(MemberJob& job);
    RegistryEntry AppendMember(MemberJob& job, Output& output);
    void ReplaceArchiveFile(const std::string& builtPath);

    std::mutex tempNameMutex_;
    std::string archiveName_;
    bool isNew_ = false;
    bool destroying_ = false;
    ArchiveTrailer trailer_;
    std::vector<RegistryEntry> entries_;

    TProgressKind progressKind_ = ArchiveChanged;
    std::string progressMessage_;
    std::int64_t progressTotal_ = 0;
    std::int64_t progressDone_ = 0;
};

}  // namespace nimbrel::archive
