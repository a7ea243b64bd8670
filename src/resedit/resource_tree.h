#pragma once
// The editor's internals: the in-memory resource tree, the PE headers it sits in and the steps
// of opening, editing and writing back. Callers use resedit/resource_edit.h; the tests reach in
// here.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_mapping.h"
#include "resedit/res_id.h"

namespace nimbrel::resedit {

inline constexpr std::uint32_t InMemoryDataLimit = 32768;
inline constexpr std::uint32_t FirstNewIconId = 50;
// Limits of what the reader accepts: real files have three levels and far fewer nodes.
inline constexpr int kMaxTreeDepth = 32;
inline constexpr std::size_t kMaxTreeNodes = 1u << 20;

// One node of the resource tree: a directory (type, name) or a leaf (one language's data).
struct TResItem {
    std::uint32_t Id = 0;  // ID of an unnamed entry; in a leaf, the language
    std::u16string Name;   // name of a named entry; empty for ID entries and for leaves
    std::unique_ptr<TResItem> FirstChild;
    std::unique_ptr<TResItem> Next;
    std::string Data;  // leaf data set during this edit, at most InMemoryDataLimit bytes
    bool IsDir = false;

    // Directory fields.
    std::uint32_t Characteristics = 0;
    std::uint32_t TimeDateStamp = 0;
    std::uint16_t MajorVersion = 0;
    std::uint16_t MinorVersion = 0;
    std::uint32_t NamedCount = 0;
    std::uint32_t IdCount = 0;

    // Leaf fields. FileData is the file offset of the data as read from the executable (-1 for
    // data set during this edit); an offset rather than an address, so a remapped view never
    // leaves it dangling.
    std::int64_t FileData = -1;
    std::uint32_t Size = 0;
    std::unique_ptr<platform::MappedFile> TempFile;  // data above InMemoryDataLimit
    std::uint32_t CodePage = 0;
    std::uint32_t Reserved = 0;

    TResItem() = default;
    ~TResItem();  // frees long sibling lists without deep recursion
    TResItem(const TResItem&) = delete;
    TResItem& operator=(const TResItem&) = delete;

    bool IsNamed() const { return !Name.empty(); }
};

using TResLink = std::unique_ptr<TResItem>;

struct ResourceEditHandle {
    std::u16string FileName;
    platform::MappedFile File;    // the executable, its mapping and its view
    std::uint32_t NtHeaders = 0;  // file offset of the PE signature
    TResLink Root;
};

// ---- PE headers (pe_image.cpp) ----

struct SectionInfo {
    std::uint32_t TableOffset = 0;  // file offset of the section's 40-byte header
    std::uint32_t VirtualSize = 0;
    std::uint32_t VirtualAddress = 0;
    std::uint32_t SizeOfRawData = 0;
    std::uint32_t PointerToRawData = 0;
};

// Offsets from the PE signature.
inline constexpr std::uint32_t kNumberOfSectionsOffset = 6;
inline constexpr std::uint32_t kSizeOfOptionalHeaderOffset = 20;
inline constexpr std::uint32_t kOptionalHeaderOffset = 24;
inline constexpr std::uint32_t kMagicOffset = 24;
inline constexpr std::uint32_t kSizeOfInitializedDataOffset = 24 + 8;
inline constexpr std::uint32_t kSectionAlignmentOffset = 24 + 32;
inline constexpr std::uint32_t kFileAlignmentOffset = 24 + 36;
inline constexpr std::uint32_t kSizeOfImageOffset = 24 + 56;
inline constexpr std::uint32_t kCheckSumOffset = 24 + 64;
// The fields above sit at the same offsets in PE32 and PE32+ (64-bit) images; the data
// directories and the section table, behind the wider fields of PE32+, do not.
inline constexpr std::uint32_t kPe32DataDirectoryOffset = 24 + 96;
inline constexpr std::uint32_t kPe32PlusDataDirectoryOffset = 24 + 112;
inline constexpr std::uint32_t kSectionHeaderSize = 40;
inline constexpr std::uint16_t kPe32Magic = 0x10B;
inline constexpr std::uint16_t kPe32PlusMagic = 0x20B;
inline constexpr int kResourceDirectory = 2;
inline constexpr int kCertificateDirectory = 4;
inline constexpr int kDebugDirectory = 6;
inline constexpr std::uint32_t kDebugEntrySize = 28;

// The headers of a PE32 or PE32+ image, checked against the file: read through a bounds-checked
// reader.
struct PeHeaders {
    std::uint32_t NtHeaders = 0;
    std::uint32_t DataDirectoryOffset = kPe32DataDirectoryOffset;  // from the PE signature
    std::uint32_t SectionTableOffset = 0;                           // from the PE signature
    std::uint32_t FileAlignment = 0;
    std::uint32_t SectionAlignment = 0;
    std::vector<SectionInfo> Sections;
    std::uint32_t DirectoryAddress(int index) const { return directories[index][0]; }
    std::uint32_t DirectorySize(int index) const { return directories[index][1]; }
    std::uint32_t directories[16][2] = {};
    std::uint32_t HeadersEnd() const {  // end of the section table
        return NtHeaders + SectionTableOffset +
               kSectionHeaderSize * static_cast<std::uint32_t>(Sections.size());
    }
    // Index of the first section whose VirtualAddress is that of the resource directory, or -1.
    int ResourceSection() const;
};

std::uint16_t Load16(const std::uint8_t* p);
std::uint32_t Load32(const std::uint8_t* p);
void Store16(std::uint8_t* p, std::uint16_t value);
void Store32(std::uint8_t* p, std::uint32_t value);

// The file offset of the NT headers of an image of `size` bytes at `base` (MZ, e_lfanew, "PE\0\0"),
// or -1.
std::int64_t LocateNtHeaders(const std::uint8_t* base, std::size_t size);
// Reads and checks the headers: PE32 with a 224-byte optional header or PE32+ with a 240-byte
// one (each with its 16 data directories), alignments that are
// powers of two, the section table inside the file. False when the image is not acceptable.
bool ReadPeHeaders(const std::uint8_t* base, std::size_t size, PeHeaders& headers);
// Writes the standard PE checksum of the whole file into the optional header.
void UpdateImageChecksum(std::uint8_t* view, std::size_t fileSize, std::uint32_t ntHeaders);

// ---- The tree (resource_tree.cpp) ----

// Thrown by ReadResourceTree for a directory that does not fit its section.
struct MalformedResources {};

// Reads the tree stored in the resource section whose raw data is `sectionSize` bytes at
// `sectionFileOffset` of the mapped file and whose image address is `sectionAddress`. Every
// directory, entry, name and data block must lie inside the section; no directory may be reached
// twice; depth and size are capped. Throws MalformedResources otherwise.
TResLink ReadResourceTree(const std::uint8_t* view, std::size_t viewSize, std::uint32_t sectionFileOffset,
                          std::uint32_t sectionSize, std::uint32_t sectionAddress);
void FreeResourceTree(TResLink& link);

// The link that holds the matching child (the parent's FirstChild or a sibling's Next), or the
// empty link at the end of the list.
TResLink* FindDirectoryChild(TResItem& parent, const ResId& typeOrName);
TResLink* FindLanguageLeaf(TResItem& parent, std::uint32_t language);

// Sorting of names: converted to the system's narrow encoding, compared byte by byte.
bool NameSortsBefore(const std::u16string& a, const std::u16string& b);
TResItem* InsertDirectoryChild(TResItem& parent, const ResId& typeOrName);
TResItem* InsertLanguageLeaf(TResItem& nameNode, std::uint32_t language, const void* data,
                             std::uint32_t size);
// Replaces a leaf's data. Throws nimbrel::Error when a temporary file is needed and cannot be
// written, leaving the leaf with its old data released and no bytes.
void SetLeafData(TResItem& leaf, std::uint32_t language, const void* data, std::uint32_t size);
// `links` holds the link of the node to delete first, then the links of its ancestors up to the
// root's. Deletes at most `steps` nodes, going up while a parent became empty; never the root.
void DeleteEntryChain(const std::vector<TResLink*>& links, int steps);
// The bytes of a leaf from its source (file, memory or temporary file).
bool ReadLeafBytes(const ResourceEditHandle& handle, const TResItem& leaf, std::string& bytes);

// The temporary file that belongs to `owner` (a leaf, or a whole edit's root).
std::u16string ResourceTempFileName(const void* owner);

struct TreeMeasure {
    std::uint64_t dirBytes = 0;
    std::uint64_t nameBytes = 0;
    std::uint64_t dataBytes = 0;
};
void MeasureResourceTree(const TResItem& node, TreeMeasure& measure);
inline std::uint64_t Align(std::uint64_t value, std::uint64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

// Lays the tree out into `image` (zeroed, of the measured size): pre-order directories and data
// entries, then the names, then the 4-aligned data blocks.
void WriteResourceTree(const ResourceEditHandle& handle, const TResItem& root, const TreeMeasure& measure,
                       std::uint32_t sectionAddress, std::uint8_t* image);

// ---- Icons (icon_group.cpp) ----

// The smallest RT_ICON ID at or above `candidate` that no RT_ICON name directory uses;
// `candidate` advances to it.
std::uint32_t NextFreeIconId(ResourceEditHandle* handle, std::uint32_t& candidate);

// ---- Commit (resource_edit.cpp) ----

// Test seam: makes the next commit fail after the given step (1: section image built, 2: file
// resized, 3: headers corrected, 4: debug directory corrected, 5: section copied, 6: checksum),
// so the tests can show that a failed commit restores the file. 0 turns it off.
void SetCommitFailureForTesting(int step);

}  // namespace nimbrel::resedit
