#include "codecs/heif_boxes.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace nimbrel::codecs::detail {

namespace {

using Span = std::span<const std::uint8_t>;

// Big-endian fields read from a span; any read past its end sets `ok` false and gives 0.
class Reader {
public:
    explicit Reader(Span bytes) : bytes_(bytes) {}
    bool ok = true;

    std::size_t Left() const { return ok ? bytes_.size() - pos_ : 0; }
    bool AtEnd() const { return Left() == 0; }
    std::uint64_t Read(int size) {
        if (!ok || size < 0 || static_cast<std::size_t>(size) > bytes_.size() - pos_) {
            ok = false;
            return 0;
        }
        std::uint64_t value = 0;
        for (int i = 0; i < size; ++i) value = (value << 8) | bytes_[pos_++];
        return value;
    }
    std::uint8_t U8() { return static_cast<std::uint8_t>(Read(1)); }
    std::uint16_t U16() { return static_cast<std::uint16_t>(Read(2)); }
    std::uint32_t U32() { return static_cast<std::uint32_t>(Read(4)); }
    void Skip(std::size_t count) {
        if (!ok || count > bytes_.size() - pos_) {
            ok = false;
            return;
        }
        pos_ += count;
    }
    Span Rest() const { return ok ? bytes_.subspan(pos_) : Span(); }

private:
    Span bytes_;
    std::size_t pos_ = 0;
};

struct Box {
    std::uint32_t type = 0;
    std::size_t headerSize = 0;
    Span whole;  // header and payload
    Span payload;
};

// The boxes one after another in `bytes`; false when one runs past the end.
bool ReadBoxes(Span bytes, std::vector<Box>& boxes, std::size_t most = 100000) {
    boxes.clear();
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        if (boxes.size() >= most) return false;
        Reader r(bytes.subspan(pos));
        std::uint64_t size = r.U32();
        Box box;
        box.type = r.U32();
        box.headerSize = 8;
        if (size == 1) {
            size = r.Read(8);
            box.headerSize = 16;
        } else if (size == 0) {
            size = bytes.size() - pos;
        }
        if (box.type == FourCc("uuid")) box.headerSize += 16;
        if (!r.ok || size < box.headerSize || size > bytes.size() - pos) return false;
        box.whole = bytes.subspan(pos, static_cast<std::size_t>(size));
        box.payload = box.whole.subspan(box.headerSize);
        boxes.push_back(box);
        pos += static_cast<std::size_t>(size);
    }
    return true;
}

// Version and flags of a full box.
struct FullBox {
    int version = 0;
    std::uint32_t flags = 0;
};
FullBox ReadFullBox(Reader& r) {
    const std::uint32_t word = r.U32();
    return {static_cast<int>(word >> 24), word & 0xFFFFFF};
}

bool ReadPitm(Span payload, HeifFile& out) {
    Reader r(payload);
    const FullBox full = ReadFullBox(r);
    out.primary = full.version == 0 ? r.U16() : r.U32();
    return r.ok;
}

bool ReadIinf(Span payload, std::vector<HeifItem>& items) {
    Reader r(payload);
    const FullBox full = ReadFullBox(r);
    const std::uint32_t count = full.version == 0 ? r.U16() : r.U32();
    if (!r.ok || count > kMaxHeifItems) return false;
    std::vector<Box> boxes;
    if (!ReadBoxes(r.Rest(), boxes, kMaxHeifItems)) return false;
    for (const Box& box : boxes) {
        if (box.type != FourCc("infe")) continue;
        Reader e(box.payload);
        const FullBox entry = ReadFullBox(e);
        HeifItem item;
        item.hidden = (entry.flags & 1) != 0;
        if (entry.version < 2) {
            item.id = e.U16();
        } else {
            item.id = entry.version == 2 ? e.U16() : e.U32();
            e.U16();  // protection index
            item.type = e.U32();
        }
        if (!e.ok) return false;
        items.push_back(std::move(item));
    }
    return true;
}

struct Location {
    std::uint32_t id = 0;
    std::uint8_t construction = 0;
    std::uint16_t dataReference = 0;
    std::uint64_t baseOffset = 0;
    std::vector<HeifExtent> extents;
};

bool ReadIloc(Span payload, std::vector<Location>& locations) {
    Reader r(payload);
    const FullBox full = ReadFullBox(r);
    if (full.version > 2) return false;
    const std::uint8_t sizes = r.U8();
    const std::uint8_t more = r.U8();
    const int offsetSize = sizes >> 4, lengthSize = sizes & 15, baseSize = more >> 4;
    const int indexSize = full.version >= 1 ? more & 15 : 0;
    for (int s : {offsetSize, lengthSize, baseSize, indexSize})
        if (s != 0 && s != 4 && s != 8) return false;
    const std::uint32_t count = full.version < 2 ? r.U16() : r.U32();
    if (!r.ok || count > kMaxHeifItems) return false;
    // Each entry takes at least its id, reference index and extent count.
    if (static_cast<std::uint64_t>(count) * 6 > r.Left()) return false;
    locations.reserve(count);
    std::size_t extents = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        Location location;
        location.id = full.version < 2 ? r.U16() : r.U32();
        if (full.version >= 1) location.construction = static_cast<std::uint8_t>(r.U16() & 15);
        location.dataReference = r.U16();
        location.baseOffset = r.Read(baseSize);
        const std::uint16_t extentCount = r.U16();
        const std::size_t each = static_cast<std::size_t>(indexSize + offsetSize + lengthSize);
        if (!r.ok || static_cast<std::uint64_t>(extentCount) * each > r.Left()) return false;
        extents += extentCount;
        if (extents > kMaxHeifExtents) return false;
        location.extents.reserve(extentCount);
        for (std::uint16_t e = 0; e < extentCount; ++e) {
            r.Read(indexSize);
            HeifExtent extent;
            extent.offset = r.Read(offsetSize);
            extent.length = r.Read(lengthSize);
            location.extents.push_back(extent);
        }
        if (!r.ok) return false;
        locations.push_back(std::move(location));
    }
    return true;
}

bool ReadIref(Span payload, std::vector<HeifReference>& references) {
    Reader r(payload);
    const FullBox full = ReadFullBox(r);
    if (!r.ok || full.version > 1) return false;
    const int idSize = full.version == 0 ? 2 : 4;
    std::vector<Box> boxes;
    if (!ReadBoxes(r.Rest(), boxes, kMaxHeifReferences)) return false;
    for (const Box& box : boxes) {
        Reader b(box.payload);
        HeifReference reference;
        reference.type = box.type;
        reference.from = static_cast<std::uint32_t>(b.Read(idSize));
        const std::uint16_t count = b.U16();
        if (!b.ok || static_cast<std::size_t>(count) * idSize > b.Left()) return false;
        reference.to.reserve(count);
        for (std::uint16_t i = 0; i < count; ++i)
            reference.to.push_back(static_cast<std::uint32_t>(b.Read(idSize)));
        if (references.size() >= kMaxHeifReferences) return false;
        references.push_back(std::move(reference));
    }
    return true;
}

bool ReadIprp(Span payload, HeifFile& out,
              std::vector<std::pair<std::uint32_t, std::vector<HeifPropertyLink>>>& associations) {
    std::vector<Box> boxes;
    if (!ReadBoxes(payload, boxes)) return false;
    bool sawIpco = false;
    for (const Box& box : boxes) {
        if (box.type == FourCc("ipco")) {
            if (sawIpco) return false;
            sawIpco = true;
            std::vector<Box> properties;
            if (!ReadBoxes(box.payload, properties, kMaxHeifProperties)) return false;
            for (const Box& property : properties) {
                HeifProperty kept;
                kept.type = property.type;
                kept.headerSize = property.headerSize;
                kept.box.assign(property.whole.begin(), property.whole.end());
                out.properties.push_back(std::move(kept));
            }
        } else if (box.type == FourCc("ipma")) {
            Reader r(box.payload);
            const FullBox full = ReadFullBox(r);
            const std::uint32_t count = r.U32();
            if (!r.ok || count > kMaxHeifItems || static_cast<std::uint64_t>(count) * 3 > r.Left())
                return false;
            const bool wide = (full.flags & 1) != 0;
            for (std::uint32_t i = 0; i < count; ++i) {
                const std::uint32_t id = full.version < 1 ? r.U16() : r.U32();
                const std::uint8_t links = r.U8();
                std::vector<HeifPropertyLink> list;
                for (std::uint8_t l = 0; l < links && r.ok; ++l) {
                    HeifPropertyLink link;
                    if (wide) {
                        const std::uint16_t v = r.U16();
                        link.essential = (v & 0x8000) != 0;
                        link.index = v & 0x7FFF;
                    } else {
                        const std::uint8_t v = r.U8();
                        link.essential = (v & 0x80) != 0;
                        link.index = v & 0x7F;
                    }
                    list.push_back(link);
                }
                if (!r.ok || associations.size() >= kMaxHeifItems) return false;
                associations.emplace_back(id, std::move(list));
            }
        }
    }
    return true;
}

}  // namespace

const HeifItem* HeifFile::FindItem(std::uint32_t id) const {
    const auto found = itemIndex.find(id);
    return found == itemIndex.end() ? nullptr : &items[found->second];
}

std::vector<std::uint32_t> HeifFile::ReferencesFrom(std::uint32_t from, std::uint32_t type) const {
    std::vector<std::uint32_t> to;
    for (const HeifReference& reference : references)
        if (reference.type == type && reference.from == from)
            to.insert(to.end(), reference.to.begin(), reference.to.end());
    return to;
}

bool HeifFile::ReferredTo(std::uint32_t to, std::uint32_t type) const {
    for (const HeifReference& reference : references)
        if (reference.type == type &&
            std::find(reference.to.begin(), reference.to.end(), to) != reference.to.end())
            return true;
    return false;
}

const HeifProperty* HeifFile::FindProperty(const HeifItem& item, std::uint32_t type) const {
    for (const HeifPropertyLink& link : item.properties)
        if (link.index >= 1 && link.index <= properties.size() && properties[link.index - 1u].type == type)
            return &properties[link.index - 1u];
    return nullptr;
}

bool ReadHeifFile(std::span<const std::uint8_t> file, HeifFile& out) {
    out = HeifFile();
    // A file cut short still has its meta box in front of the data; what follows is not needed.
    std::size_t pos = 0;
    Span meta;
    while (pos + 8 <= file.size()) {
        Reader r(file.subspan(pos));
        std::uint64_t size = r.U32();
        const std::uint32_t type = r.U32();
        std::size_t header = 8;
        if (size == 1)
            size = r.Read(8), header = 16;
        else if (size == 0)
            size = file.size() - pos;
        if (!r.ok || size < header) return false;
        if (type == FourCc("meta")) {
            if (size > file.size() - pos) return false;
            meta = file.subspan(pos + header, static_cast<std::size_t>(size) - header);
            break;
        }
        if (size > file.size() - pos) return false;
        pos += static_cast<std::size_t>(size);
    }
    if (meta.empty()) return false;
    Reader m(meta);
    ReadFullBox(m);
    std::vector<Box> boxes;
    if (!m.ok || !ReadBoxes(m.Rest(), boxes)) return false;

    std::vector<Location> locations;
    std::vector<std::pair<std::uint32_t, std::vector<HeifPropertyLink>>> associations;
    bool sawPitm = false, sawIprp = false;  // one set of properties: their indexes must be one's
    for (const Box& box : boxes) {
        bool ok = true;
        if (box.type == FourCc("pitm"))
            ok = ReadPitm(box.payload, out), sawPitm = true;
        else if (box.type == FourCc("iinf"))
            ok = ReadIinf(box.payload, out.items);
        else if (box.type == FourCc("iloc"))
            ok = ReadIloc(box.payload, locations);
        else if (box.type == FourCc("iref"))
            ok = ReadIref(box.payload, out.references);
        else if (box.type == FourCc("iprp"))
            ok = !sawIprp && ReadIprp(box.payload, out, associations), sawIprp = true;
        else if (box.type == FourCc("idat"))
            out.idat = box.payload;
        if (!ok) return false;
    }
    if (!sawPitm || out.items.empty()) return false;

    std::unordered_map<std::uint32_t, std::size_t>& byId = out.itemIndex;
    byId.reserve(out.items.size());
    for (std::size_t i = 0; i < out.items.size(); ++i)
        if (!byId.emplace(out.items[i].id, i).second) return false;  // one id, two items
    for (Location& location : locations) {
        const auto found = byId.find(location.id);
        if (found == byId.end()) continue;
        HeifItem& item = out.items[found->second];
        if (item.located) return false;
        item.located = true;
        item.construction = location.construction;
        item.dataReference = location.dataReference;
        item.baseOffset = location.baseOffset;
        item.extents = std::move(location.extents);
    }
    for (auto& [id, links] : associations) {
        const auto found = byId.find(id);
        if (found == byId.end()) continue;
        for (const HeifPropertyLink& link : links)
            if (link.index > out.properties.size()) return false;  // a property that is not there
        auto& properties = out.items[found->second].properties;
        properties.insert(properties.end(), links.begin(), links.end());
    }
    return true;
}

bool ReadItemData(const HeifFile& heif, std::span<const std::uint8_t> file, const HeifItem& item,
                  std::size_t most, std::vector<std::uint8_t>& out) {
    out.clear();
    if (!item.located || item.dataReference != 0) return false;
    Span source;
    if (item.construction == 0)
        source = file;
    else if (item.construction == 1)
        source = heif.idat;
    else
        return false;
    std::uint64_t total = 0;
    for (const HeifExtent& extent : item.extents) {
        const std::uint64_t start = item.baseOffset + extent.offset;
        if (start < item.baseOffset || start > source.size()) return false;
        const std::uint64_t length = extent.length == 0 ? source.size() - start : extent.length;
        if (length > source.size() - start) return false;
        total += length;
        if (total > most) return false;
    }
    out.reserve(static_cast<std::size_t>(total));
    for (const HeifExtent& extent : item.extents) {
        const std::size_t start = static_cast<std::size_t>(item.baseOffset + extent.offset);
        const std::size_t length =
            extent.length == 0 ? source.size() - start : static_cast<std::size_t>(extent.length);
        out.insert(out.end(), source.begin() + static_cast<std::ptrdiff_t>(start),
                   source.begin() + static_cast<std::ptrdiff_t>(start + length));
    }
    return true;
}

bool ParseHeifGrid(std::span<const std::uint8_t> data, HeifGrid& out) {
    Reader r(data);
    const std::uint8_t version = r.U8();
    const std::uint8_t flags = r.U8();
    if (!r.ok || version != 0) return false;
    out.rows = r.U8() + 1;
    out.columns = r.U8() + 1;
    const int size = (flags & 1) ? 4 : 2;
    out.width = static_cast<std::uint32_t>(r.Read(size));
    out.height = static_cast<std::uint32_t>(r.Read(size));
    return r.ok && out.width > 0 && out.height > 0;
}

bool ParseIspe(const HeifProperty& property, std::uint32_t& width, std::uint32_t& height) {
    if (property.type != FourCc("ispe")) return false;
    Reader r(property.Payload());
    const FullBox full = ReadFullBox(r);
    width = r.U32();
    height = r.U32();
    return r.ok && full.version == 0;
}

bool ParseIrot(const HeifProperty& property, int& quarterTurnsAnticlockwise) {
    if (property.type != FourCc("irot")) return false;
    Reader r(property.Payload());
    quarterTurnsAnticlockwise = r.U8() & 3;
    return r.ok;
}

bool ParseImir(const HeifProperty& property, int& axis) {
    if (property.type != FourCc("imir")) return false;
    Reader r(property.Payload());
    axis = r.U8() & 1;
    return r.ok;
}

std::uint32_t ColrType(const HeifProperty& property) {
    if (property.type != FourCc("colr")) return 0;
    Reader r(property.Payload());
    const std::uint32_t type = r.U32();
    return r.ok ? type : 0;
}

// ---------------------------------------------------------------------------------------------
// Writing

namespace {

class Out {
public:
    std::vector<std::uint8_t> bytes;
    void U8(std::uint32_t v) { bytes.push_back(static_cast<std::uint8_t>(v)); }
    void U16(std::uint32_t v) { U8(v >> 8), U8(v); }
    void U32(std::uint32_t v) { U16(v >> 16), U16(v & 0xFFFF); }
    void Tag(const std::string& s) {
        for (std::size_t i = 0; i < 4; ++i) U8(i < s.size() ? static_cast<unsigned char>(s[i]) : ' ');
    }
    void Append(std::span<const std::uint8_t> more) { bytes.insert(bytes.end(), more.begin(), more.end()); }
    // Starts a box whose size is filled in by End.
    std::size_t Begin(std::uint32_t type, int version = -1, std::uint32_t flags = 0) {
        const std::size_t at = bytes.size();
        U32(0);
        U32(type);
        if (version >= 0) U32(static_cast<std::uint32_t>(version) << 24 | flags);
        return at;
    }
    void End(std::size_t at) {
        const std::size_t size = bytes.size() - at;
        if (size > 0xFFFFFFFFu) throw std::length_error("HEIF box too large");
        for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(size >> (24 - 8 * i));
    }
};

}  // namespace

HeifWriter::HeifWriter(std::string major, std::vector<std::string> compatible)
    : major_(std::move(major)), compatible_(std::move(compatible)) {}

std::size_t HeifWriter::AddData(std::vector<std::uint8_t> bytes, bool inIdat) {
    data_.push_back({std::move(bytes), inIdat});
    return data_.size() - 1;
}

std::uint16_t HeifWriter::AddProperty(std::vector<std::uint8_t> box) {
    properties_.push_back(std::move(box));
    return static_cast<std::uint16_t>(properties_.size());
}

void HeifWriter::AddItem(std::uint32_t id, std::uint32_t type, std::size_t data,
                         std::vector<HeifPropertyLink> properties, bool hidden) {
    items_.push_back({id, type, data, std::move(properties), hidden});
}

void HeifWriter::AddReference(std::uint32_t type, std::uint32_t from, std::vector<std::uint32_t> to) {
    references_.push_back({type, from, std::move(to)});
}

std::vector<std::uint8_t> HeifWriter::Meta(std::uint64_t mdatStart) const {
    // Where each block lies: in mdat after its header, or in idat.
    std::vector<std::uint64_t> offsets(data_.size());
    std::uint64_t inMdat = mdatStart + 8, inIdat = 0;
    for (std::size_t i = 0; i < data_.size(); ++i) {
        std::uint64_t& at = data_[i].inIdat ? inIdat : inMdat;
        offsets[i] = at;
        at += data_[i].bytes.size();
    }
    if (inMdat > 0xFFFFFFFFu) throw std::length_error("HEIF file too large");

    Out o;
    const std::size_t meta = o.Begin(FourCc("meta"), 0);
    const std::size_t hdlr = o.Begin(FourCc("hdlr"), 0);
    o.U32(0);
    o.Tag("pict");
    o.U32(0), o.U32(0), o.U32(0);
    o.U8(0);
    o.End(hdlr);
    const std::size_t pitm = o.Begin(FourCc("pitm"), 0);
    o.U16(primary_);
    o.End(pitm);

    const std::size_t iinf = o.Begin(FourCc("iinf"), 0);
    o.U16(static_cast<std::uint32_t>(items_.size()));
    for (const Item& item : items_) {
        const std::size_t infe = o.Begin(FourCc("infe"), 2, item.hidden ? 1 : 0);
        o.U16(item.id);
        o.U16(0);
        o.U32(item.type);
        o.U8(0);  // no name
        o.End(infe);
    }
    o.End(iinf);

    const std::size_t iloc = o.Begin(FourCc("iloc"), 1);
    o.U8(0x44);  // 32-bit offsets and lengths
    o.U8(0x00);  // no base offset, no extent index
    o.U16(static_cast<std::uint32_t>(items_.size()));
    for (const Item& item : items_) {
        o.U16(item.id);
        o.U16(data_[item.data].inIdat ? 1 : 0);
        o.U16(0);
        // No bytes are no extent: an extent of length 0 would run to the end.
        if (data_[item.data].bytes.empty()) {
            o.U16(0);
            continue;
        }
        o.U16(1);
        o.U32(static_cast<std::uint32_t>(offsets[item.data]));
        o.U32(static_cast<std::uint32_t>(data_[item.data].bytes.size()));
    }
    o.End(iloc);

    bool anyIdat = false;
    for (const Data& data : data_) anyIdat = anyIdat || data.inIdat;
    if (anyIdat) {
        const std::size_t idat = o.Begin(FourCc("idat"));
        for (const Data& data : data_)
            if (data.inIdat) o.Append(data.bytes);
        o.End(idat);
    }

    if (!references_.empty()) {
        const std::size_t iref = o.Begin(FourCc("iref"), 0);
        for (const HeifReference& reference : references_) {
            const std::size_t box = o.Begin(reference.type);
            o.U16(reference.from);
            o.U16(static_cast<std::uint32_t>(reference.to.size()));
            for (std::uint32_t to : reference.to) o.U16(to);
            o.End(box);
        }
        o.End(iref);
    }

    const std::size_t iprp = o.Begin(FourCc("iprp"));
    const std::size_t ipco = o.Begin(FourCc("ipco"));
    for (const auto& property : properties_) o.Append(property);
    o.End(ipco);
    const std::size_t ipma = o.Begin(FourCc("ipma"), 0, 1);  // 15-bit property indexes
    std::uint32_t associated = 0;
    for (const Item& item : items_) associated += item.properties.empty() ? 0 : 1;
    o.U32(associated);
    for (const Item& item : items_) {
        if (item.properties.empty()) continue;
        o.U16(item.id);
        o.U8(static_cast<std::uint32_t>(item.properties.size()));
        for (const HeifPropertyLink& link : item.properties)
            o.U16((link.essential ? 0x8000u : 0u) | link.index);
    }
    o.End(ipma);
    o.End(iprp);
    o.End(meta);
    return std::move(o.bytes);
}

std::vector<std::uint8_t> HeifWriter::Write() const {
    Out o;
    const std::size_t ftyp = o.Begin(FourCc("ftyp"));
    o.Tag(major_);
    o.U32(0);
    for (const std::string& brand : compatible_) o.Tag(brand);
    o.End(ftyp);
    // The meta box's size does not depend on the offsets it holds: measure it, then write it.
    const std::size_t metaSize = Meta(0).size();
    o.Append(Meta(o.bytes.size() + metaSize));
    const std::size_t mdat = o.Begin(FourCc("mdat"));
    for (const Data& data : data_)
        if (!data.inIdat) o.Append(data.bytes);
    o.End(mdat);
    return std::move(o.bytes);
}

std::vector<std::uint8_t> MakeIspeBox(std::uint32_t width, std::uint32_t height) {
    Out o;
    const std::size_t box = o.Begin(FourCc("ispe"), 0);
    o.U32(width);
    o.U32(height);
    o.End(box);
    return std::move(o.bytes);
}

namespace {
// A box whose payload is one byte (irot, imir).
std::vector<std::uint8_t> OneByteBox(std::uint32_t type, std::uint32_t value) {
    Out o;
    const std::size_t box = o.Begin(type);
    o.U8(value);
    o.End(box);
    return std::move(o.bytes);
}
}  // namespace

std::vector<std::uint8_t> MakeIrotBox(int quarterTurnsAnticlockwise) {
    return OneByteBox(FourCc("irot"), static_cast<std::uint32_t>(quarterTurnsAnticlockwise & 3));
}

std::vector<std::uint8_t> MakeImirBox(int axis) {
    return OneByteBox(FourCc("imir"), static_cast<std::uint32_t>(axis & 1));
}

std::vector<std::uint8_t> MakeGridDescriptor(int rows, int columns, std::uint32_t width,
                                             std::uint32_t height) {
    Out o;
    const bool wide = width > 0xFFFF || height > 0xFFFF;
    o.U8(0);
    o.U8(wide ? 1 : 0);
    o.U8(static_cast<std::uint32_t>(rows - 1));
    o.U8(static_cast<std::uint32_t>(columns - 1));
    if (wide)
        o.U32(width), o.U32(height);
    else
        o.U16(width), o.U16(height);
    return std::move(o.bytes);
}

}  // namespace nimbrel::codecs::detail
