// The in-memory resource tree: reading it from a section, looking up, inserting and deleting
// entries, and laying it out again.
#include <cstdio>
#include <cstring>
#include <unordered_set>

#include "platform/error.h"
#include "platform/file_mapping.h"
#include "platform/temp.h"
#include "resedit/resource_tree.h"

namespace nimbrel::resedit {

TResItem::~TResItem() {
    TResLink sibling = std::move(Next);
    while (sibling) {
        TResLink after = std::move(sibling->Next);
        sibling.reset();
        sibling = std::move(after);
    }
}

namespace {

constexpr std::uint32_t kHighBit = 0x80000000u;

class TreeReader {
public:
    TreeReader(const std::uint8_t* section, std::uint32_t size, std::uint32_t fileOffset,
               std::uint32_t address)
        : section_(section), size_(size), fileOffset_(fileOffset), address_(address) {}

    TResLink ReadNode(std::uint32_t nameField, std::uint32_t offsetField, int depth) {
        if (++nodes_ > kMaxTreeNodes || depth > kMaxTreeDepth) throw MalformedResources{};
        auto node = std::make_unique<TResItem>();
        node->IsDir = (offsetField & kHighBit) != 0;
        if (nameField & kHighBit) {
            std::uint32_t at = nameField & ~kHighBit;
            Need(at, 2);
            std::uint32_t length = Load16(section_ + at);
            // An empty name could not be told from an ID entry.
            if (length == 0) throw MalformedResources{};
            Need(at + 2u, 2u * length);
            node->Name.resize(length);
            for (std::uint32_t i = 0; i < length; ++i) node->Name[i] = Load16(section_ + at + 2 + 2 * i);
        } else {
            node->Id = nameField;
        }
        std::uint32_t at = offsetField & ~kHighBit;
        if (node->IsDir) {
            // A directory reached twice (a loop back to an ancestor, or a shared table) is refused:
            // no tool writes one, and following it could repeat without end.
            if (!visited_.insert(at).second) throw MalformedResources{};
            Need(at, 16);
            const std::uint8_t* d = section_ + at;
            node->Characteristics = Load32(d);
            node->TimeDateStamp = Load32(d + 4);
            node->MajorVersion = Load16(d + 8);
            node->MinorVersion = Load16(d + 10);
            node->NamedCount = Load16(d + 12);
            node->IdCount = Load16(d + 14);
            std::uint32_t count = node->NamedCount + node->IdCount;
            Need(at + 16u, 8u * count);
            TResLink* tail = &node->FirstChild;
            for (std::uint32_t i = 0; i < count; ++i) {
                std::uint32_t name = Load32(d + 16 + 8 * i);
                std::uint32_t offset = Load32(d + 20 + 8 * i);
                // Named entries come first; the counts must say which is which.
                if (((name & kHighBit) != 0) != (i < node->NamedCount)) throw MalformedResources{};
                *tail = ReadNode(name, offset, depth + 1);
                tail = &(*tail)->Next;
            }
        } else {
            Need(at, 16);
            const std::uint8_t* e = section_ + at;
            std::uint32_t address = Load32(e);
            node->Size = Load32(e + 4);
            node->CodePage = Load32(e + 8);
            node->Reserved = Load32(e + 12);
            // The data must lie inside this section's raw data.
            if (address < address_) throw MalformedResources{};
            Need(address - address_, node->Size);
            node->FileData = static_cast<std::int64_t>(fileOffset_) + (address - address_);
        }
        return node;
    }

private:
    void Need(std::uint64_t offset, std::uint64_t length) const {
        if (offset > size_ || length > size_ - offset) throw MalformedResources{};
    }

    const std::uint8_t* section_;
    std::uint32_t size_;
    std::uint32_t fileOffset_;
    std::uint32_t address_;
    std::size_t nodes_ = 0;
    std::unordered_set<std::uint32_t> visited_;
};

void ReleaseLeafStorage(TResItem& node) {
    node.Data.clear();
    node.Data.shrink_to_fit();
    if (node.TempFile) {
        node.TempFile->Close();
        node.TempFile.reset();
        platform::RemoveFileUtf16(ResourceTempFileName(&node));
    }
}

}  // namespace

TResLink ReadResourceTree(const std::uint8_t* view, std::size_t viewSize, std::uint32_t sectionFileOffset,
                          std::uint32_t sectionSize, std::uint32_t sectionAddress) {
    if (sectionFileOffset > viewSize || sectionSize > viewSize - sectionFileOffset)
        throw MalformedResources{};
    TreeReader reader(view + sectionFileOffset, sectionSize, sectionFileOffset, sectionAddress);
    return reader.ReadNode(0, kHighBit, 0);
}

void FreeResourceTree(TResLink& link) {
    while (link) {
        FreeResourceTree(link->FirstChild);
        TResLink node = std::move(link);
        link = std::move(node->Next);
        ReleaseLeafStorage(*node);
    }
}

TResLink* FindDirectoryChild(TResItem& parent, const ResId& typeOrName) {
    TResLink* link = &parent.FirstChild;
    for (; *link; link = &(*link)->Next) {
        const TResItem& child = **link;
        if (!child.IsDir) continue;
        if (typeOrName.IsName() ? child.Name == typeOrName.Name()
                                : !child.IsNamed() && child.Id == typeOrName.Id())
            return link;
    }
    return link;
}

TResLink* FindLanguageLeaf(TResItem& parent, std::uint32_t language) {
    TResLink* link = &parent.FirstChild;
    for (; *link; link = &(*link)->Next)
        if (!(*link)->IsDir && (*link)->Id == language) return link;
    return link;
}

bool NameSortsBefore(const std::u16string& a, const std::u16string& b) {
    // std::string compares its bytes as unsigned values; a prefix sorts first.
    return platform::NarrowFromUtf16(a).compare(platform::NarrowFromUtf16(b)) < 0;
}

TResItem* InsertDirectoryChild(TResItem& parent, const ResId& typeOrName) {
    auto node = std::make_unique<TResItem>();
    node->IsDir = true;
    TResLink* link = &parent.FirstChild;
    if (typeOrName.IsName()) {
        while (*link && (*link)->IsNamed() && NameSortsBefore((*link)->Name, typeOrName.Name()))
            link = &(*link)->Next;
        node->Name = typeOrName.Name();
        ++parent.NamedCount;
    } else {
        while (*link && ((*link)->IsNamed() || (*link)->Id < typeOrName.Id())) link = &(*link)->Next;
        node->Id = typeOrName.Id();
        ++parent.IdCount;
    }
    node->Next = std::move(*link);
    *link = std::move(node);
    return link->get();
}

TResItem* InsertLanguageLeaf(TResItem& nameNode, std::uint32_t language, const void* data,
                             std::uint32_t size) {
    auto node = std::make_unique<TResItem>();
    TResLink* link = &nameNode.FirstChild;
    while (*link && (*link)->Id < language) link = &(*link)->Next;
    node->Next = std::move(*link);
    *link = std::move(node);
    TResItem* leaf = link->get();
    ++nameNode.IdCount;
    SetLeafData(*leaf, language, data, size);
    return leaf;
}

void SetLeafData(TResItem& leaf, std::uint32_t language, const void* data, std::uint32_t size) {
    ReleaseLeafStorage(leaf);
    leaf.Id = language;
    leaf.FileData = -1;
    leaf.Size = size;
    leaf.CodePage = 0;
    if (size > InMemoryDataLimit) {
        auto file = std::make_unique<platform::MappedFile>();
        std::u16string path = ResourceTempFileName(&leaf);
        if (!file->Open(path, platform::MappedFile::Mode::CreateNew)) {
            leaf.Size = 0;  // no bytes stored: the entry must not claim any
            throw Error("Cannot create a temporary file for resource data");
        }
        if (!file->WriteAt(0, data, size)) {
            file->Close();
            platform::RemoveFileUtf16(path);
            leaf.Size = 0;
            throw Error("Cannot write a temporary file for resource data");
        }
        leaf.TempFile = std::move(file);
    } else {
        leaf.Data.assign(static_cast<const char*>(data), size);
    }
}

void DeleteEntryChain(const std::vector<TResLink*>& links, int steps) {
    // links[k] holds the node at level k counted upwards; links[k + 1] holds its parent.
    for (std::size_t k = 0; k < static_cast<std::size_t>(steps) && k + 1 < links.size(); ++k) {
        TResLink& link = *links[k];
        TResItem& parent = **links[k + 1];
        if (!link) return;
        TResLink node = std::move(link);
        link = std::move(node->Next);
        if (node->IsNamed())
            --parent.NamedCount;
        else
            --parent.IdCount;
        FreeResourceTree(node->FirstChild);
        ReleaseLeafStorage(*node);
        node.reset();
        if (parent.FirstChild) return;
    }
}

bool ReadLeafBytes(const ResourceEditHandle& handle, const TResItem& leaf, std::string& bytes) {
    if (leaf.FileData >= 0) {
        const std::uint8_t* view = handle.File.Data();
        auto offset = static_cast<std::uint64_t>(leaf.FileData);
        if (!view || offset > handle.File.MappedSize() || leaf.Size > handle.File.MappedSize() - offset)
            return false;
        bytes.assign(reinterpret_cast<const char*>(view + offset), leaf.Size);
        return true;
    }
    if (leaf.TempFile) {
        bytes.assign(leaf.Size, '\0');
        return leaf.TempFile->ReadAt(0, bytes.data(), bytes.size());
    }
    bytes = leaf.Data;
    bytes.resize(leaf.Size, '\0');
    return true;
}

std::u16string ResourceTempFileName(const void* owner) {
    char tail[64];
    std::snprintf(tail, sizeof tail, "$zel$res$%08lx$%llx$",
                  static_cast<unsigned long>(platform::CurrentProcessId()),
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(owner)));
    // Inside the process's private folder, never straight in the shared temporary folder.
    std::u16string path = platform::Utf16FromNarrow(platform::PrivateTempDirectory());
    for (const char* c = tail; *c; ++c) path += static_cast<char16_t>(*c);
    return path;
}

void MeasureResourceTree(const TResItem& node, TreeMeasure& measure) {
    if (!node.IsDir) {
        measure.dirBytes += 16;
        measure.dataBytes += Align(node.Size, 4);
        return;
    }
    measure.dirBytes += 16 + 8 * (std::uint64_t{node.NamedCount} + node.IdCount);
    for (const TResItem* child = node.FirstChild.get(); child; child = child->Next.get()) {
        if (child->IsNamed()) measure.nameBytes += 2 + 2 * std::uint64_t{child->Name.size()};
        MeasureResourceTree(*child, measure);
    }
}

namespace {

struct LayoutWriter {
    const ResourceEditHandle& handle;
    std::uint8_t* image;
    std::uint32_t sectionAddress;
    std::uint32_t dirCursor;
    std::uint32_t nameCursor;
    std::uint32_t dataCursor;

    void Write(const TResItem& node) {
        if (!node.IsDir) {
            std::uint8_t* entry = image + dirCursor;
            dirCursor += 16;
            Store32(entry, sectionAddress + dataCursor);
            Store32(entry + 4, node.Size);
            Store32(entry + 8, node.CodePage);
            Store32(entry + 12, node.Reserved);
            std::uint8_t* out = image + dataCursor;
            if (node.FileData >= 0) {
                std::memcpy(out, handle.File.Data() + node.FileData, node.Size);
            } else if (!node.Data.empty()) {
                std::memcpy(out, node.Data.data(), std::min<std::size_t>(node.Data.size(), node.Size));
            } else if (node.TempFile) {
                if (!node.TempFile->ReadAt(0, out, node.Size)) throw Error("Cannot read a temporary file");
            }
            dataCursor += static_cast<std::uint32_t>(Align(node.Size, 4));
            return;
        }
        std::uint8_t* table = image + dirCursor;
        Store32(table, node.Characteristics);
        Store32(table + 4, node.TimeDateStamp);
        Store16(table + 8, node.MajorVersion);
        Store16(table + 10, node.MinorVersion);
        Store16(table + 12, static_cast<std::uint16_t>(node.NamedCount));
        Store16(table + 14, static_cast<std::uint16_t>(node.IdCount));
        dirCursor += 16 + 8 * (node.NamedCount + node.IdCount);
        std::uint32_t i = 0;
        for (const TResItem* child = node.FirstChild.get(); child; child = child->Next.get(), ++i) {
            std::uint8_t* entry = table + 16 + 8 * i;
            if (i < node.NamedCount) {
                Store32(entry, nameCursor | 0x80000000u);
                Store16(image + nameCursor, static_cast<std::uint16_t>(child->Name.size()));
                for (std::size_t k = 0; k < child->Name.size(); ++k)
                    Store16(image + nameCursor + 2 + 2 * k, child->Name[k]);
                nameCursor += static_cast<std::uint32_t>(2 + 2 * child->Name.size());
            } else {
                Store32(entry, child->Id);
            }
            Store32(entry + 4, dirCursor | (child->IsDir ? 0x80000000u : 0u));
            Write(*child);
        }
    }
};

}  // namespace

void WriteResourceTree(const ResourceEditHandle& handle, const TResItem& root, const TreeMeasure& measure,
                       std::uint32_t sectionAddress, std::uint8_t* image) {
    LayoutWriter writer{handle,
                        image,
                        sectionAddress,
                        0,
                        static_cast<std::uint32_t>(measure.dirBytes),
                        static_cast<std::uint32_t>(Align(measure.dirBytes + measure.nameBytes, 4))};
    writer.Write(root);
}

}  // namespace nimbrel::resedit
