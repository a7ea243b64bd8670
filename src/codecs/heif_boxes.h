#pragma once
// The boxes of a HEIF/AVIF file that say what its items are and where their bytes lie, read by
// our own small reader so that a grid picture's tiles can be decoded one at a time; and a
// writer of small HEIF files (one coded tile on its own, or a few items for the tests).
//
// The reader takes strangers' files: every size and count is checked against the bytes that
// hold it, counts are capped, and nothing is allocated beyond what the file's own size allows.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

namespace nimbrel::codecs::detail {

constexpr std::uint32_t FourCc(const char (&s)[5]) {
    return (static_cast<std::uint32_t>(static_cast<unsigned char>(s[0])) << 24) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(s[1])) << 16) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(s[2])) << 8) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(s[3]));
}

// More than this many items, properties, references or extents and the file is refused: a
// 256 x 256 grid with its alpha grid stays well within them.
inline constexpr std::size_t kMaxHeifItems = 150000;
inline constexpr std::size_t kMaxHeifProperties = 20000;
inline constexpr std::size_t kMaxHeifReferences = 150000;
inline constexpr std::size_t kMaxHeifExtents = 1000000;

struct HeifExtent {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;  // 0: to the end of the file or idat
};

// An item's link to a property: its index in ipco, from 1.
struct HeifPropertyLink {
    std::uint16_t index = 0;
    bool essential = false;
};

struct HeifItem {
    std::uint32_t id = 0;
    std::uint32_t type = 0;  // from infe (version 2 or later); 0 when not given
    bool hidden = false;
    bool located = false;             // iloc has an entry for it
    std::uint8_t construction = 0;    // 0: offsets in the file, 1: in idat, 2: in another item
    std::uint16_t dataReference = 0;  // 0: this file
    std::uint64_t baseOffset = 0;
    std::vector<HeifExtent> extents;
    std::vector<HeifPropertyLink> properties;
};

// A property box as it stands in ipco, header and all.
struct HeifProperty {
    std::uint32_t type = 0;
    std::size_t headerSize = 8;
    std::vector<std::uint8_t> box;
    std::span<const std::uint8_t> Payload() const { return std::span(box).subspan(headerSize); }
};

struct HeifReference {
    std::uint32_t type = 0;
    std::uint32_t from = 0;
    std::vector<std::uint32_t> to;
};

struct HeifFile {
    std::uint32_t primary = 0;
    std::vector<HeifItem> items;           // in the order infe lists them
    std::vector<HeifProperty> properties;  // properties[i] is ipco's property i + 1
    std::vector<HeifReference> references;
    std::span<const std::uint8_t> idat;
    std::unordered_map<std::uint32_t, std::size_t> itemIndex;  // items[itemIndex[id]] has that id

    const HeifItem* FindItem(std::uint32_t id) const;
    // The items `from` refers to by references of `type`, in order (dimg's order is the grid's).
    std::vector<std::uint32_t> ReferencesFrom(std::uint32_t from, std::uint32_t type) const;
    // True when some item refers to `to` by a reference of `type`.
    bool ReferredTo(std::uint32_t to, std::uint32_t type) const;
    // The item's first property of `type`, or null.
    const HeifProperty* FindProperty(const HeifItem& item, std::uint32_t type) const;
};

// Reads the meta box of a HEIF file. False when there is none or it is damaged.
bool ReadHeifFile(std::span<const std::uint8_t> file, HeifFile& out);

// The item's bytes (its extents joined), at most `most` bytes. False when they lie outside the
// file or idat, in another file or item, or are more than `most`.
bool ReadItemData(const HeifFile& heif, std::span<const std::uint8_t> file, const HeifItem& item,
                  std::size_t most, std::vector<std::uint8_t>& out);

// A grid item's descriptor: rows x columns tiles, cropped to the output size.
struct HeifGrid {
    int rows = 0;
    int columns = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};
bool ParseHeifGrid(std::span<const std::uint8_t> data, HeifGrid& out);

// The sizes and transforms carried by property boxes; false when the box is not of that kind
// or is damaged.
bool ParseIspe(const HeifProperty& property, std::uint32_t& width, std::uint32_t& height);
bool ParseIrot(const HeifProperty& property, int& quarterTurnsAnticlockwise);
bool ParseImir(const HeifProperty& property, int& axis);
// The colour type of a colr box ("nclx", "prof", "rICC"), 0 when damaged.
std::uint32_t ColrType(const HeifProperty& property);

// A small HEIF file in memory: items whose bytes go in mdat (or idat), their properties, the
// references between them and the primary item.
class HeifWriter {
public:
    // `major` brand and the compatible ones, such as "heic" with {"mif1", "heic"}.
    HeifWriter(std::string major, std::vector<std::string> compatible);
    // A block of bytes that items can point to; several items may share one. Returns its index.
    std::size_t AddData(std::vector<std::uint8_t> bytes, bool inIdat = false);
    // A whole property box (header included). Returns its index, from 1.
    std::uint16_t AddProperty(std::vector<std::uint8_t> box);
    // Item ids run from 1 to 65535.
    void AddItem(std::uint32_t id, std::uint32_t type, std::size_t data,
                 std::vector<HeifPropertyLink> properties, bool hidden = false);
    void AddReference(std::uint32_t type, std::uint32_t from, std::vector<std::uint32_t> to);
    void SetPrimary(std::uint32_t id) { primary_ = id; }
    // Raises std::length_error when the file would exceed what 32-bit offsets can point to.
    std::vector<std::uint8_t> Write() const;

private:
    struct Data {
        std::vector<std::uint8_t> bytes;
        bool inIdat = false;
    };
    struct Item {
        std::uint32_t id, type;
        std::size_t data;
        std::vector<HeifPropertyLink> properties;
        bool hidden;
    };
    std::vector<std::uint8_t> Meta(std::uint64_t mdatStart) const;

    std::string major_;
    std::vector<std::string> compatible_;
    std::vector<Data> data_;
    std::vector<std::vector<std::uint8_t>> properties_;
    std::vector<Item> items_;
    std::vector<HeifReference> references_;
    std::uint32_t primary_ = 0;
};

// Property boxes made from scratch.
std::vector<std::uint8_t> MakeIspeBox(std::uint32_t width, std::uint32_t height);
std::vector<std::uint8_t> MakeIrotBox(int quarterTurnsAnticlockwise);
std::vector<std::uint8_t> MakeImirBox(int axis);
// A grid descriptor (the grid item's bytes).
std::vector<std::uint8_t> MakeGridDescriptor(int rows, int columns, std::uint32_t width,
                                             std::uint32_t height);

}  // namespace nimbrel::codecs::detail
