// The HEIF box reader over any bytes (after the selector byte the codecs seeds start with):
// every item's bytes, the grid descriptor and the property boxes it knows are read. What was
// read is then written again through the writer and read back, which must give the same items,
// references and properties.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "codecs/heif_boxes.h"

using namespace nimbrel::codecs::detail;

namespace {

// A property box whose size field says what it is: one that runs "to the end" only does so
// where it stands.
bool Plain(const HeifProperty& property) {
    const auto& b = property.box;
    if (property.headerSize != 8 || b.size() < 8) return false;
    const std::uint32_t size = static_cast<std::uint32_t>(b[0]) << 24 | b[1] << 16 | b[2] << 8 | b[3];
    return size == b.size();
}

void RoundTrip(const HeifFile& heif, std::span<const std::uint8_t> bytes) {
    HeifWriter writer("heic", {"mif1", "heic"});
    for (const HeifProperty& property : heif.properties)
        if (!Plain(property)) return;
    for (const HeifProperty& property : heif.properties) writer.AddProperty(property.box);
    std::size_t items = 0;
    std::vector<std::uint8_t> data;
    for (const HeifItem& item : heif.items) {
        if (item.id == 0 || item.id > 0xFFFF || item.properties.size() > 255) return;
        if (!ReadItemData(heif, bytes, item, 1 << 16, data)) data.clear();
        writer.AddItem(item.id, item.type, writer.AddData(data, item.construction == 1), item.properties,
                       item.hidden);
        if (++items > 2000) return;
    }
    for (const HeifReference& reference : heif.references) {
        if (reference.from > 0xFFFF) return;
        for (std::uint32_t to : reference.to)
            if (to > 0xFFFF) return;
        writer.AddReference(reference.type, reference.from, reference.to);
    }
    if (heif.primary > 0xFFFF) return;
    writer.SetPrimary(heif.primary);
    const std::vector<std::uint8_t> again = writer.Write();
    HeifFile back;
    if (!ReadHeifFile(again, back) || back.primary != heif.primary ||
        back.items.size() != heif.items.size() || back.properties.size() != heif.properties.size() ||
        back.references.size() != heif.references.size())
        std::abort();
    for (std::size_t i = 0; i < heif.items.size(); ++i) {
        const HeifItem& a = heif.items[i];
        const HeifItem& b = back.items[i];
        if (a.id != b.id || a.type != b.type || a.hidden != b.hidden ||
            a.properties.size() != b.properties.size())
            std::abort();
        for (std::size_t p = 0; p < a.properties.size(); ++p)
            if (a.properties[p].index != b.properties[p].index ||
                a.properties[p].essential != b.properties[p].essential)
                std::abort();
        std::vector<std::uint8_t> original, copied;
        const bool had = ReadItemData(heif, bytes, a, 1 << 16, original);
        if (!ReadItemData(back, again, b, 1 << 16, copied) || (had && copied != original)) std::abort();
    }
    for (std::size_t i = 0; i < heif.properties.size(); ++i)
        if (back.properties[i].box != heif.properties[i].box) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::span<const std::uint8_t> bytes(data + 1, size - 1);
    HeifFile heif;
    if (!ReadHeifFile(bytes, heif)) return 0;
    std::vector<std::uint8_t> itemData;
    for (const HeifItem& item : heif.items) {
        if (!ReadItemData(heif, bytes, item, 1 << 20, itemData)) continue;
        HeifGrid grid;
        if (item.type == FourCc("grid")) (void)ParseHeifGrid(itemData, grid);
        std::uint32_t width = 0, height = 0;
        int value = 0;
        if (const HeifProperty* ispe = heif.FindProperty(item, FourCc("ispe")))
            (void)ParseIspe(*ispe, width, height);
        if (const HeifProperty* irot = heif.FindProperty(item, FourCc("irot"))) (void)ParseIrot(*irot, value);
        if (const HeifProperty* imir = heif.FindProperty(item, FourCc("imir"))) (void)ParseImir(*imir, value);
        if (const HeifProperty* colr = heif.FindProperty(item, FourCc("colr"))) (void)ColrType(*colr);
    }
    (void)heif.ReferencesFrom(heif.primary, FourCc("dimg"));
    (void)heif.ReferredTo(heif.primary, FourCc("auxl"));
    RoundTrip(heif, bytes);
    return 0;
}
