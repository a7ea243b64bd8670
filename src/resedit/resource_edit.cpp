// Opening an edit, the general entry operation, and the write-back of the resource section.
#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/error.h"
#include "platform/file_mapping.h"
#include "platform/last_error.h"
#include "resedit/resource_tree.h"

namespace nimbrel::resedit {

namespace {

int commitFailureStep = 0;

void ReleaseEdit(ResourceEditHandle* handle) {
    if (!handle) return;
    FreeResourceTree(handle->Root);
    handle->File.Close();
    delete handle;
}

// The section image under construction: a mapped temporary file removed when it goes away.
class SectionImage {
public:
    explicit SectionImage(std::u16string path) : path_(std::move(path)) {}
    ~SectionImage() {
        file_.Close();
        if (created_) platform::RemoveFileUtf16(path_);
    }
    SectionImage(const SectionImage&) = delete;
    SectionImage& operator=(const SectionImage&) = delete;

    void Create(std::uint32_t size) {
        if (!file_.Open(path_, platform::MappedFile::Mode::CreateNew))
            throw Error("Cannot create the temporary section image");
        created_ = true;
        if (!file_.Resize(size) || !file_.Map()) throw Error("Cannot map the temporary section image");
        if (file_.Data()) std::memset(file_.Data(), 0, file_.MappedSize());
    }
    std::uint8_t* Data() const { return file_.Data(); }

private:
    std::u16string path_;
    platform::MappedFile file_;
    bool created_ = false;
};

// What a commit changed in the executable, so that a failure can put every byte back.
class UndoLog {
public:
    explicit UndoLog(platform::MappedFile& file) : file_(file) {}

    void SaveBytes(std::uint64_t offset, std::size_t length) {
        Record r{Kind::WriteBack, offset, 0, 0, {}};
        const std::uint8_t* view = file_.Data();
        if (view && offset + length <= file_.MappedSize()) {
            r.bytes.assign(view + offset, view + offset + length);
        } else {
            r.bytes.resize(length);
            if (!file_.ReadAt(offset, r.bytes.data(), length)) throw Error("Cannot read the executable");
        }
        records_.push_back(std::move(r));
    }
    void SavedSize(std::uint64_t size) { records_.push_back({Kind::SetSize, size, 0, 0, {}}); }
    void Moved(std::uint64_t from, std::uint64_t to, std::uint64_t length) {
        records_.push_back({Kind::MoveBack, from, to, length, {}});
    }

    // Undoes in reverse order with positional reads and writes, which need no mapping.
    bool Restore() {
        file_.Unmap();
        bool ok = true;
        for (auto it = records_.rbegin(); it != records_.rend(); ++it) {
            switch (it->kind) {
                case Kind::WriteBack:
                    ok = file_.WriteAt(it->a, it->bytes.data(), it->bytes.size()) && ok;
                    break;
                case Kind::SetSize: ok = file_.Resize(it->a) && ok; break;
                case Kind::MoveBack: ok = file_.MoveData(it->b, it->a, it->c) && ok; break;
            }
        }
        return ok;
    }

private:
    enum class Kind { WriteBack, SetSize, MoveBack };
    struct Record {
        Kind kind;
        std::uint64_t a, b, c;  // WriteBack/SetSize: offset or size; MoveBack: from, to, length
        std::vector<std::uint8_t> bytes;
    };

    platform::MappedFile& file_;
    std::vector<Record> records_;
};

void FailAfter(int step) {
    if (commitFailureStep == step) {
        commitFailureStep = 0;
        throw Error("Injected commit failure");
    }
}

// Grows or shrinks the file at `position` (the end of the resource section's raw data) by
// `delta`, with one size change and one overlapping move of everything behind it. The move goes
// through positional reads and writes while the view is unmapped, then the file is mapped again.
bool ResizeSectionInFile(ResourceEditHandle& handle, UndoLog& undo, std::uint64_t position,
                         std::int64_t delta) {
    platform::MappedFile& file = handle.File;
    std::int64_t size = file.Size();
    if (size < 0 || static_cast<std::uint64_t>(size) < position) return false;
    std::uint64_t tail = static_cast<std::uint64_t>(size) - position;
    if (delta > 0) {
        file.Unmap();
        undo.SavedSize(static_cast<std::uint64_t>(size));
        if (!file.Resize(static_cast<std::uint64_t>(size + delta))) return false;
        undo.Moved(position, position + static_cast<std::uint64_t>(delta), tail);
        if (!file.MoveData(position, position + static_cast<std::uint64_t>(delta), tail)) return false;
        return file.Map();
    }
    std::uint64_t shrink = static_cast<std::uint64_t>(-delta);
    undo.SaveBytes(position - shrink, shrink);
    file.Unmap();
    undo.Moved(position, position - shrink, tail);
    if (!file.MoveData(position, position - shrink, tail)) return false;
    undo.SavedSize(static_cast<std::uint64_t>(size));
    return file.Resize(static_cast<std::uint64_t>(size) - shrink) && file.Map();
}

std::uint32_t AlignUp(std::uint32_t value, std::uint32_t alignment) {
    return static_cast<std::uint32_t>(Align(value, alignment));
}

void CorrectHeaders(ResourceEditHandle& handle, UndoLog& undo, const PeHeaders& old, int resource,
                    std::uint32_t newSize, std::int64_t rawDelta, std::int64_t virtDelta) {
    std::uint8_t* view = handle.File.Data();
    std::uint8_t* nt = view + handle.NtHeaders;
    const SectionInfo& res = old.Sections[static_cast<std::size_t>(resource)];
    std::uint32_t resAddress = old.DirectoryAddress(kResourceDirectory);
    std::uint32_t resRaw = res.PointerToRawData;
    auto add = [](std::uint8_t* p, std::int64_t delta) {
        Store32(p, static_cast<std::uint32_t>(static_cast<std::int64_t>(Load32(p)) + delta));
    };
    undo.SaveBytes(0, old.HeadersEnd());

    add(nt + kSizeOfInitializedDataOffset, rawDelta);
    std::uint8_t* rs = view + res.TableOffset;
    Store32(rs + 8, newSize);
    Store32(rs + 16, AlignUp(newSize, old.FileAlignment));
    Store32(nt + old.DataDirectoryOffset + 8 * kResourceDirectory + 4, newSize);
    add(nt + kSizeOfImageOffset, virtDelta);
    for (std::size_t j = 0; j < old.Sections.size(); ++j) {
        if (static_cast<int>(j) == resource) continue;
        std::uint8_t* s = view + old.Sections[j].TableOffset;
        if (Load32(s + 12) > resAddress) add(s + 12, virtDelta);
        // Raw data behind the section moved with the tail, whatever the section's address.
        if (Load32(s + 20) > resRaw) add(s + 20, rawDelta);
        if (Load32(s + 24) > resRaw) add(s + 24, rawDelta);
        if (Load32(s + 28) > resRaw) add(s + 28, rawDelta);
    }
    for (int d = 0; d < 16; ++d) {
        if (d == kResourceDirectory) continue;
        std::uint8_t* entry = nt + old.DataDirectoryOffset + 8 * d;
        if (d == kCertificateDirectory) {
            // The certificate table is given by its file position, not by an image address.
            if (Load32(entry) > resRaw) add(entry, rawDelta);
        } else if (Load32(entry) > resAddress) {
            add(entry, virtDelta);
        }
    }
}

void CorrectDebugDirectory(ResourceEditHandle& handle, UndoLog& undo, const PeHeaders& old, int resource,
                           std::int64_t rawDelta, std::int64_t virtDelta) {
    std::uint8_t* view = handle.File.Data();
    std::size_t fileSize = handle.File.MappedSize();
    PeHeaders now;
    if (!ReadPeHeaders(view, fileSize, now)) return;
    std::uint32_t address = now.DirectoryAddress(kDebugDirectory);
    std::uint32_t size = now.DirectorySize(kDebugDirectory);
    if (size == 0) return;
    const SectionInfo* holder = nullptr;
    for (std::size_t j = 0; j < now.Sections.size(); ++j) {
        if (now.Sections[j].VirtualAddress > address) continue;
        if (j + 1 == now.Sections.size() || now.Sections[j + 1].VirtualAddress > address) {
            holder = &now.Sections[j];
            break;
        }
    }
    if (!holder) return;
    std::uint64_t position = std::uint64_t{holder->PointerToRawData} + (address - holder->VirtualAddress);
    std::uint64_t count = size % kDebugEntrySize == 0 ? size / kDebugEntrySize : size;
    // Never past the end of the file, whatever Size claims.
    if (position >= fileSize) return;
    count = std::min<std::uint64_t>(count, (fileSize - position) / kDebugEntrySize);
    if (count == 0) return;
    undo.SaveBytes(position, static_cast<std::size_t>(count * kDebugEntrySize));
    std::uint32_t resRaw = old.Sections[static_cast<std::size_t>(resource)].PointerToRawData;
    std::uint32_t resAddress = old.DirectoryAddress(kResourceDirectory);
    for (std::uint64_t k = 0; k < count; ++k) {
        std::uint8_t* entry = view + position + k * kDebugEntrySize;
        std::uint32_t raw = Load32(entry + 24);
        if (raw <= resRaw) continue;
        Store32(entry + 24, static_cast<std::uint32_t>(raw + rawDelta));
        std::uint32_t mapped = Load32(entry + 20);
        if (mapped > resAddress) Store32(entry + 20, static_cast<std::uint32_t>(mapped + virtDelta));
    }
}

bool Commit(ResourceEditHandle& handle) {
    platform::MappedFile& file = handle.File;
    PeHeaders old;
    if (!file.Data() || !ReadPeHeaders(file.Data(), file.MappedSize(), old)) return false;
    int resource = old.ResourceSection();
    if (resource < 0) {
        UpdateImageChecksum(file.Data(), file.MappedSize(), old.NtHeaders);
        return false;
    }
    const SectionInfo res = old.Sections[static_cast<std::size_t>(resource)];
    if (res.PointerToRawData < old.HeadersEnd()) return false;
    handle.NtHeaders = old.NtHeaders;

    TreeMeasure measure;
    MeasureResourceTree(*handle.Root, measure);
    std::uint64_t newSize64 = Align(measure.dirBytes + measure.nameBytes, 4) + measure.dataBytes;
    std::uint64_t newRaw = Align(newSize64, old.FileAlignment);
    std::uint64_t oldFileSize = file.MappedSize();
    std::uint64_t position = std::uint64_t{res.PointerToRawData} + res.SizeOfRawData;
    std::int64_t rawDelta = static_cast<std::int64_t>(newRaw) - static_cast<std::int64_t>(res.SizeOfRawData);
    // Everything must stay addressable with the 32-bit fields of the format.
    constexpr std::uint64_t kLimit = std::numeric_limits<std::uint32_t>::max();
    if (newRaw > kLimit || position > oldFileSize ||
        static_cast<std::int64_t>(oldFileSize) + rawDelta > std::int64_t{kLimit} ||
        std::uint64_t{res.VirtualAddress} + Align(newSize64, old.SectionAlignment) > kLimit)
        return false;
    auto newSize = static_cast<std::uint32_t>(newSize64);
    // The old size in the image is what the section occupied there.
    std::uint32_t oldVirtual = res.VirtualSize ? res.VirtualSize : res.SizeOfRawData;
    std::int64_t virtDelta = static_cast<std::int64_t>(Align(newSize, old.SectionAlignment)) -
                             static_cast<std::int64_t>(Align(oldVirtual, old.SectionAlignment));

    // The whole new section exists before the executable is touched; it copies the unchanged
    // resources out of the file while they are still where the tree says.
    SectionImage image(ResourceTempFileName(handle.Root.get()));
    image.Create(newSize);
    WriteResourceTree(handle, *handle.Root, measure, res.VirtualAddress, image.Data());
    FailAfter(1);

    UndoLog undo(file);
    try {
        if (rawDelta != 0 && !ResizeSectionInFile(handle, undo, position, rawDelta))
            throw Error("Cannot resize the executable");
        FailAfter(2);
        std::int64_t nt = LocateNtHeaders(file.Data(), file.MappedSize());
        if (nt < 0) throw Error("The executable's headers are gone");
        handle.NtHeaders = static_cast<std::uint32_t>(nt);
        CorrectHeaders(handle, undo, old, resource, newSize, rawDelta, virtDelta);
        FailAfter(3);
        CorrectDebugDirectory(handle, undo, old, resource, rawDelta, virtDelta);
        FailAfter(4);
        undo.SaveBytes(res.PointerToRawData, static_cast<std::size_t>(newRaw));
        std::memcpy(file.Data() + res.PointerToRawData, image.Data(), newSize);
        std::memset(file.Data() + res.PointerToRawData + newSize, 0,
                    static_cast<std::size_t>(newRaw - newSize));
        FailAfter(5);
        UpdateImageChecksum(file.Data(), file.MappedSize(), handle.NtHeaders);
        FailAfter(6);
    } catch (...) {
        undo.Restore();
        throw;
    }
    return true;
}

}  // namespace

void SetCommitFailureForTesting(int step) {
    commitFailureStep = step;
}

ResourceEditHandle* BeginResourceEdit(const std::u16string& fileName, bool deleteExisting) {
    auto* handle = new ResourceEditHandle;
    handle->FileName = fileName;
    auto fail = [handle]() -> ResourceEditHandle* {
        std::uint32_t error = platform::LastErrorCode();
        ReleaseEdit(handle);
        platform::SetLastErrorCode(error);
        return nullptr;
    };
    try {
        if (!handle->File.Open(fileName, platform::MappedFile::Mode::OpenExisting) || !handle->File.Map())
            return fail();
        const std::uint8_t* view = handle->File.Data();
        std::size_t size = handle->File.MappedSize();
        PeHeaders headers;
        if (!ReadPeHeaders(view, size, headers)) {
            platform::SetLastErrorCode(platform::kErrorBadExeFormat);
            return fail();
        }
        handle->NtHeaders = headers.NtHeaders;
        platform::SetLastErrorCode(platform::kErrorFileNotFound);
        int resource = headers.ResourceSection();
        if (resource < 0) return fail();
        const SectionInfo& section = headers.Sections[static_cast<std::size_t>(resource)];
        // The section's raw data must lie inside the file and behind the headers, which the
        // write-back corrects in place while it moves what follows the section.
        if (std::uint64_t{section.PointerToRawData} + section.SizeOfRawData > size ||
            section.PointerToRawData < headers.HeadersEnd()) {
            platform::SetLastErrorCode(platform::kErrorInvalidData);
            return fail();
        }
        if (deleteExisting) {
            handle->Root = std::make_unique<TResItem>();
            handle->Root->IsDir = true;
        } else {
            try {
                handle->Root = ReadResourceTree(view, size, section.PointerToRawData, section.SizeOfRawData,
                                                section.VirtualAddress);
            } catch (const MalformedResources&) {
                platform::SetLastErrorCode(platform::kErrorInvalidData);
                return fail();
            }
        }
        return handle;
    } catch (const std::bad_alloc&) {
        platform::SetLastErrorCode(8);  // ERROR_NOT_ENOUGH_MEMORY
        return fail();
    }
}

bool EndResourceEdit(ResourceEditHandle* handle, bool discard) {
    if (!handle) return true;
    if (discard) {
        ReleaseEdit(handle);
        return true;
    }
    bool result = false;
    try {
        result = Commit(*handle);
    } catch (...) {
        result = false;
    }
    ReleaseEdit(handle);
    return result;
}

bool QueryResourceEntry(ResourceEditHandle* handle, const ResId& type, const ResId& name,
                        std::uint16_t language, const std::uint8_t** data, std::uint32_t* size) {
    if (!handle || !handle->Root) return false;
    try {
        TResLink* typeLink = FindDirectoryChild(*handle->Root, type);
        if (!*typeLink) return false;
        TResLink* nameLink = FindDirectoryChild(**typeLink, name);
        if (!*nameLink) return false;
        TResLink* leafLink = FindLanguageLeaf(**nameLink, language);
        if (!*leafLink) return false;
        const TResItem& leaf = **leafLink;
        if (data) *data = leaf.FileData >= 0 ? handle->File.Data() + leaf.FileData : nullptr;
        if (size) *size = leaf.Size;
        return true;
    } catch (...) {
        return false;
    }
}

bool UpdateResourceEntry(ResourceEditHandle* handle, const ResId& type, const ResId& name,
                         std::uint16_t language, const void* data, std::uint32_t size) {
    if (!handle || !handle->Root) return true;
    try {
        TResLink* rootLink = &handle->Root;
        TResLink* typeLink = FindDirectoryChild(*handle->Root, type);
        if (!*typeLink) {
            if (!data) return true;
            TResItem* typeNode = InsertDirectoryChild(*handle->Root, type);
            TResItem* nameNode = InsertDirectoryChild(*typeNode, name);
            InsertLanguageLeaf(*nameNode, language, data, size);
            return true;
        }
        TResLink* nameLink = FindDirectoryChild(**typeLink, name);
        if (!*nameLink) {
            if (data) {
                TResItem* nameNode = InsertDirectoryChild(**typeLink, name);
                InsertLanguageLeaf(*nameNode, language, data, size);
            } else if (!name.IsName() && name.Id() == 0 && language == 0) {
                DeleteEntryChain({typeLink, rootLink}, 1);
            }
            return true;
        }
        TResLink* leafLink = FindLanguageLeaf(**nameLink, language);
        if (!*leafLink) {
            if (data)
                InsertLanguageLeaf(**nameLink, language, data, size);
            else if (language == 0)
                DeleteEntryChain({nameLink, typeLink, rootLink}, 2);
            return true;
        }
        if (data)
            SetLeafData(**leafLink, language, data, size);
        else
            DeleteEntryChain({leafLink, nameLink, typeLink, rootLink}, 3);
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace nimbrel::resedit
