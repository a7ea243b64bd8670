// Icon groups: finding, removing and importing them from .ico files.
#include <algorithm>
#include <utility>
#include <vector>

#include "platform/error.h"
#include "platform/file_mapping.h"
#include "resedit/resource_edit.h"
#include "resedit/resource_tree.h"

namespace nimbrel::resedit {

namespace {

constexpr std::uint32_t kIconDirSize = 6;
constexpr std::uint32_t kIconDirEntrySize = 16;
constexpr std::uint32_t kGroupEntrySize = 14;
constexpr std::uint32_t kMaxIconId = 0xFFFF;

// The nID values a group record lists; entries beyond the record's end are not read.
std::vector<std::uint32_t> GroupIconIds(const std::string& record) {
    std::vector<std::uint32_t> ids;
    if (record.size() < kIconDirSize) return ids;
    const auto* p = reinterpret_cast<const std::uint8_t*>(record.data());
    std::size_t count =
        std::min<std::size_t>(Load16(p + 4), (record.size() - kIconDirSize) / kGroupEntrySize);
    for (std::size_t i = 0; i < count; ++i)
        ids.push_back(Load16(p + kIconDirSize + kGroupEntrySize * i + 12));
    return ids;
}

// Real icons hold a few dozen images of a few megabytes at most; more would only blow up the
// screensaver the icon goes into.
constexpr std::uint64_t kMaxIconImages = 256;
constexpr std::uint64_t kMaxIconBytes = 16u << 20;

// Checks an .ico file: its directory and every image must lie inside it, there are at most
// kMaxIconImages images of at most kMaxIconBytes together, and no two entries share a byte.
bool IcoIsWellFormed(const std::string& ico) {
    if (ico.size() < kIconDirSize) return false;
    const auto* p = reinterpret_cast<const std::uint8_t*>(ico.data());
    std::uint64_t count = Load16(p + 4);
    if (count > kMaxIconImages) return false;
    if (ico.size() < kIconDirSize + kIconDirEntrySize * count) return false;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> images;  // offset, size
    std::uint64_t total = 0;
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint8_t* entry = p + kIconDirSize + kIconDirEntrySize * i;
        std::uint64_t bytes = Load32(entry + 8);
        std::uint64_t offset = Load32(entry + 12);
        if (offset > ico.size() || bytes > ico.size() - offset) return false;
        total += bytes;
        if (total > kMaxIconBytes) return false;
        if (bytes > 0) images.emplace_back(offset, bytes);
    }
    std::sort(images.begin(), images.end());
    for (std::size_t i = 1; i < images.size(); ++i)
        if (images[i].first < images[i - 1].first + images[i - 1].second) return false;
    return true;
}

}  // namespace

bool FindIconGroup(ResourceEditHandle* handle, const ResId& name, std::uint16_t language,
                   std::string* group) {
    if (!handle || !handle->Root) return false;
    try {
        TResLink* typeLink = FindDirectoryChild(*handle->Root, RT_GROUP_ICON);
        if (!*typeLink) return false;
        TResLink* nameLink = FindDirectoryChild(**typeLink, name);
        if (!*nameLink) return false;
        TResLink* leafLink = FindLanguageLeaf(**nameLink, language);
        if (!*leafLink) return false;
        // A group set during this edit has its record in the leaf's new data, not in the file.
        std::string bytes;
        if (!ReadLeafBytes(*handle, **leafLink, bytes)) return false;
        if (group) *group = std::move(bytes);
        return true;
    } catch (...) {
        return false;
    }
}

bool RemoveIconGroup(ResourceEditHandle* handle, const ResId& name, std::uint16_t language) {
    std::string record;
    if (!FindIconGroup(handle, name, language, &record)) return true;
    bool ok = UpdateResourceEntry(handle, RT_GROUP_ICON, name, language, nullptr, 0);
    if (!ok) return false;
    for (std::uint32_t id : GroupIconIds(record))
        ok = UpdateResourceEntry(handle, RT_ICON, id, language, nullptr, 0) && ok;
    return ok;
}

std::uint32_t NextFreeIconId(ResourceEditHandle* handle, std::uint32_t& candidate) {
    if (!handle || !handle->Root) throw Error("No resource edit is open");
    TResLink* typeLink = FindDirectoryChild(*handle->Root, RT_ICON);
    if (!*typeLink) return candidate;
    // One ascending walk suffices for the sorted lists the editor writes; a file whose list is
    // out of order is walked again until the candidate is free, so no used ID is ever handed out.
    for (bool moved = true; moved;) {
        moved = false;
        for (const TResItem* child = (*typeLink)->FirstChild.get(); child; child = child->Next.get()) {
            if (child->IsDir && !child->IsNamed() && child->Id == candidate) {
                ++candidate;
                moved = true;
            }
        }
    }
    return candidate;
}

bool ImportIconGroup(ResourceEditHandle* handle, const ResId& name, std::uint16_t language,
                     const std::u16string& icoFileName) {
    std::string ico;
    if (!platform::ReadWholeFileShared(icoFileName, ico)) return false;
    if (!IcoIsWellFormed(ico)) return false;
    const auto* file = reinterpret_cast<const std::uint8_t*>(ico.data());
    std::uint32_t count = Load16(file + 4);

    std::vector<std::uint32_t> reused;
    std::string oldGroup;
    if (FindIconGroup(handle, name, language, &oldGroup)) reused = GroupIconIds(oldGroup);
    std::uint32_t candidate =
        reused.empty() ? FirstNewIconId : *std::min_element(reused.begin(), reused.end());
    RemoveIconGroup(handle, name, language);

    std::string group(kIconDirSize + kGroupEntrySize * count, '\0');
    std::copy(ico.begin(), ico.begin() + kIconDirSize, group.begin());
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint8_t* entry = file + kIconDirSize + kIconDirEntrySize * i;
        std::copy(entry, entry + 12, group.begin() + kIconDirSize + kGroupEntrySize * i);
        std::uint32_t id = i < reused.size() ? reused[i] : NextFreeIconId(handle, candidate);
        if (id > kMaxIconId) return false;  // nID has 16 bits
        Store16(reinterpret_cast<std::uint8_t*>(group.data()) + kIconDirSize + kGroupEntrySize * i + 12,
                static_cast<std::uint16_t>(id));
        if (!UpdateResourceEntry(handle, RT_ICON, id, language, file + Load32(entry + 12), Load32(entry + 8)))
            return false;
    }
    return UpdateResourceEntry(handle, RT_GROUP_ICON, name, language, group.data(),
                               static_cast<std::uint32_t>(group.size()));
}

}  // namespace nimbrel::resedit
