#include <gtest/gtest.h>

#include <algorithm>

#include "codecs/codecs.h"
#include "codecs/heif_boxes.h"
#include "codecs/sources.h"
#include "imaging/exif.h"
#include "platform/error.h"
#include "test_pictures.h"

using namespace nimbrel;
using namespace nimbrel::codecs;
using namespace nimbrel::codecs::testing;
using detail::FourCc;

namespace {

// Four tiles that tell apart where they land: each a colour with a white mark in its top left.
std::vector<HeifTile> MarkedTiles(int side, bool avif) {
    const imaging::Pixel colours[] = {imaging::MakePixel(220, 30, 30), imaging::MakePixel(30, 200, 40),
                                      imaging::MakePixel(40, 50, 210), imaging::MakePixel(230, 210, 40)};
    std::vector<HeifTile> tiles;
    for (imaging::Pixel colour : colours) {
        imaging::Image image(side, side, colour);
        for (int y = 0; y < side / 4; ++y)
            for (int x = 0; x < side / 4; ++x) image.Set(x, y, imaging::MakePixel(255, 255, 255));
        tiles.push_back(TakeHeifTile(MakeHeif(image, avif)));
    }
    return tiles;
}

// A 3 x 2 grid of 64-pixel tiles cropped to 170 x 120, every tile used at least once.
HeifGridLayout SmallGrid(bool avif = false) {
    HeifGridLayout layout;
    layout.rows = 2, layout.columns = 3;
    layout.cells = {0, 1, 2, 3, 2, 1};
    layout.width = 170, layout.height = 120;
    layout.avif = avif;
    return layout;
}

imaging::Image ReadInBands(imaging::PictureSource& source, int band) {
    imaging::Image image(source.RowWidth(), source.RowHeight());
    for (int y = 0; y < image.Height(); y += band)
        if (!source.ReadRows(y, std::min(band, image.Height() - y), image.Row(y))) throw Error("damaged");
    return image;
}

int LargestDistance(const imaging::Image& a, const imaging::Image& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height()) return 1000;
    int largest = 0;
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x)
            largest = std::max(largest, ChannelDistance(a.At(x, y), b.At(x, y)));
    return largest;
}

// The picture as libheif decodes it whole (upright), and as the banded path gives it, turned
// upright by the orientation it reports.
void ExpectBandsMatchWholeDecode(const Bytes& file, const std::string& what) {
    auto whole = MakeLibraryDecoder()->Open("grid.heic", file, {});
    ASSERT_NE(whole, nullptr) << what;
    EXPECT_EQ(whole->Info().orientation, 1) << what;
    const imaging::Image expected = imaging::ReadWholePicture(*whole);

    auto bands = detail::OpenHeifGridInBands(file, "heif");
    ASSERT_NE(bands, nullptr) << what;
    const imaging::Image stored = ReadInBands(*bands, 7);
    const imaging::Image upright = imaging::ApplyOrientation(stored, bands->Info().orientation);
    EXPECT_LE(LargestDistance(upright, expected), 2) << what << ", orientation " << bands->Info().orientation;
    EXPECT_EQ(bands->ColorProfile(), whole->ColorProfile()) << what;
    EXPECT_EQ(bands->Info().hasColorProfile, whole->Info().hasColorProfile) << what;
}

TEST(HeifBoxes, ReadsWhatTheWriterWroteAndRefusesBrokenIndexes) {
    const std::vector<HeifTile> tiles = MarkedTiles(64, false);
    EXPECT_EQ(tiles[0].type, FourCc("hvc1"));
    HeifGridLayout layout = SmallGrid();
    layout.descriptorInIdat = true;
    layout.rotation = 3;
    const Bytes file = MakeHeifGrid(tiles, layout);

    detail::HeifFile heif;
    ASSERT_TRUE(detail::ReadHeifFile(file, heif));
    const detail::HeifItem* grid = heif.FindItem(heif.primary);
    ASSERT_NE(grid, nullptr);
    EXPECT_EQ(grid->type, FourCc("grid"));
    EXPECT_EQ(grid->construction, 1) << "descriptor in idat";
    std::vector<std::uint8_t> descriptor;
    ASSERT_TRUE(detail::ReadItemData(heif, file, *grid, 64, descriptor));
    detail::HeifGrid parsed;
    ASSERT_TRUE(detail::ParseHeifGrid(descriptor, parsed));
    EXPECT_EQ(parsed.rows, 2);
    EXPECT_EQ(parsed.columns, 3);
    EXPECT_EQ(parsed.width, 170u);
    EXPECT_EQ(parsed.height, 120u);
    int quarterTurns = -1;
    const detail::HeifProperty* irot = heif.FindProperty(*grid, FourCc("irot"));
    ASSERT_NE(irot, nullptr);
    EXPECT_TRUE(detail::ParseIrot(*irot, quarterTurns));
    EXPECT_EQ(quarterTurns, 3);

    const std::vector<std::uint32_t> cells = heif.ReferencesFrom(heif.primary, FourCc("dimg"));
    ASSERT_EQ(cells.size(), 6u);
    // Cells 2 and 6 show the same tile: the same bytes, once in the file.
    const detail::HeifItem* second = heif.FindItem(cells[1]);
    const detail::HeifItem* sixth = heif.FindItem(cells[5]);
    ASSERT_TRUE(second && sixth);
    std::vector<std::uint8_t> a, b;
    ASSERT_TRUE(detail::ReadItemData(heif, file, *second, file.size(), a));
    ASSERT_TRUE(detail::ReadItemData(heif, file, *sixth, file.size(), b));
    EXPECT_EQ(a, tiles[1].data);
    EXPECT_EQ(a, b);
    std::uint32_t width = 0, height = 0;
    const detail::HeifProperty* ispe = heif.FindProperty(*second, FourCc("ispe"));
    ASSERT_TRUE(ispe && detail::ParseIspe(*ispe, width, height));
    EXPECT_EQ(width, 64u);
    EXPECT_EQ(height, 64u);
    EXPECT_FALSE(detail::ReadItemData(heif, file, *second, a.size() - 1, b)) << "more than allowed";

    // An item without bytes beside one with some has none, not the rest of the file.
    detail::HeifWriter writer("heic", {"mif1"});
    writer.AddItem(1, FourCc("Exif"), writer.AddData({}), {});
    writer.AddItem(2, FourCc("Exif"), writer.AddData({1, 2, 3}), {});
    writer.SetPrimary(2);
    const Bytes two = writer.Write();
    detail::HeifFile twoItems;
    ASSERT_TRUE(detail::ReadHeifFile(two, twoItems));
    ASSERT_TRUE(detail::ReadItemData(twoItems, two, twoItems.items[0], two.size(), a));
    EXPECT_TRUE(a.empty());
    ASSERT_TRUE(detail::ReadItemData(twoItems, two, twoItems.items[1], two.size(), a));
    EXPECT_EQ(a, (std::vector<std::uint8_t>{1, 2, 3}));

    // Cut anywhere inside the meta box, or with a property index beyond ipco: refused whole.
    const std::size_t ipma =
        std::search(file.begin(), file.end(), std::begin("ipma"), std::end("ipma") - 1) - file.begin();
    ASSERT_LT(ipma, file.size());
    for (std::size_t keep = 0; keep < ipma; keep += 13) {
        detail::HeifFile cut;
        EXPECT_FALSE(detail::ReadHeifFile(std::span(file).first(keep), cut)) << keep;
    }
    Bytes badIndex = file;
    // ipma: version/flags, entry count, then the first entry's id (16 bits), count, 16-bit links.
    badIndex[ipma + 4 + 4 + 4 + 2 + 1] = 0x7F;
    detail::HeifFile broken;
    EXPECT_FALSE(detail::ReadHeifFile(badIndex, broken));
}

// The fields the writer never uses: iloc version 2 with a base offset and two extents, infe
// version 3 and iref version 1 with 32-bit ids, ipma version 1 with 8-bit links.
TEST(HeifBoxes, ReadsLargeIdsBaseOffsetsAndSeveralExtents) {
    Bytes b;
    auto u8 = [&](unsigned v) { b.push_back(static_cast<std::uint8_t>(v)); };
    auto u16 = [&](unsigned v) { u8(v >> 8), u8(v & 0xFF); };
    auto u32 = [&](std::uint32_t v) { u16(v >> 16), u16(v & 0xFFFF); };
    auto tag = [&](const char* t) { b.insert(b.end(), t, t + 4); };
    std::vector<std::size_t> open;
    auto begin = [&](const char* t) { open.push_back(b.size()), u32(0), tag(t); };
    auto end = [&] {
        const std::size_t at = open.back();
        open.pop_back();
        const auto size = static_cast<std::uint32_t>(b.size() - at);
        for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(size >> (24 - 8 * i));
    };
    const std::uint32_t kId = 0x12345;
    begin("ftyp"), tag("heic"), u32(0), tag("mif1"), end();
    begin("meta"), u32(0);
    begin("pitm"), u32(0x01000000), u32(kId), end();
    begin("iinf"), u32(0x01000000), u32(2);
    begin("infe"), u32(0x03000001), u32(kId), u16(0), tag("grid"), u8(0), end();
    begin("infe"), u32(0x03000000), u32(kId + 1), u16(0), tag("hvc1"), u8(0), end();
    end();
    begin("iloc"), u32(0x02000000), u8(0x44), u8(0x84), u32(1);
    // Item kId: from 300 on in the file, 4 bytes at 300+10 and 3 at 300+0, an 8-byte base offset.
    u32(kId), u16(0), u16(0), u32(0), u32(300), u16(2);
    u32(0), u32(10), u32(4);
    u32(0), u32(0), u32(3);
    end();
    begin("iref"), u32(0x01000000);
    begin("dimg"), u32(kId), u16(2), u32(kId + 1), u32(kId + 1), end();
    end();
    begin("iprp");
    begin("ipco");
    begin("ispe"), u32(0), u32(640), u32(480), end();
    end();
    begin("ipma"), u32(0x01000000), u32(1), u32(kId), u8(1), u8(0x81), end();
    end();
    end();
    ASSERT_LT(b.size(), 300u);
    b.resize(320, 0);
    for (int i = 0; i < 14; ++i) b[300 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>('a' + i);

    detail::HeifFile heif;
    ASSERT_TRUE(detail::ReadHeifFile(b, heif));
    EXPECT_EQ(heif.primary, kId);
    const detail::HeifItem* grid = heif.FindItem(kId);
    ASSERT_NE(grid, nullptr);
    EXPECT_TRUE(grid->hidden);
    ASSERT_EQ(grid->properties.size(), 1u);
    EXPECT_TRUE(grid->properties[0].essential);
    std::vector<std::uint8_t> data;
    ASSERT_TRUE(detail::ReadItemData(heif, b, *grid, 100, data));
    EXPECT_EQ(std::string(data.begin(), data.end()), "klmnabc");
    EXPECT_EQ(heif.ReferencesFrom(kId, FourCc("dimg")), (std::vector<std::uint32_t>{kId + 1, kId + 1}));
    EXPECT_EQ(heif.FindItem(kId + 1)->type, FourCc("hvc1"));
    EXPECT_FALSE(heif.FindItem(kId + 1)->located);
    EXPECT_FALSE(detail::ReadItemData(heif, b, *heif.FindItem(kId + 1), 100, data)) << "no location";
    // An extent beyond the file's end.
    b.resize(312);
    detail::HeifFile cut;
    ASSERT_TRUE(detail::ReadHeifFile(b, cut));
    EXPECT_FALSE(detail::ReadItemData(cut, b, *cut.FindItem(kId), 100, data));
}

TEST(HeifGrid, BandsGiveTheSamePixelsAsTheWholeDecodeInEveryOrientation) {
    const std::vector<HeifTile> tiles = MarkedTiles(64, false);
    HeifGridLayout layout = SmallGrid();
    ExpectBandsMatchWholeDecode(MakeHeifGrid(tiles, layout), "as stored");
    for (int rotation : {1, 2, 3}) {
        layout.rotation = rotation;
        ExpectBandsMatchWholeDecode(MakeHeifGrid(tiles, layout), "irot " + std::to_string(rotation));
    }
    layout.rotation = -1;
    for (int axis : {0, 1}) {
        layout.mirror = axis;
        ExpectBandsMatchWholeDecode(MakeHeifGrid(tiles, layout), "imir " + std::to_string(axis));
    }
    layout.rotation = 1, layout.mirror = 0;
    ExpectBandsMatchWholeDecode(MakeHeifGrid(tiles, layout), "irot 1 then imir 0");
    layout.mirrorFirst = true;
    ExpectBandsMatchWholeDecode(MakeHeifGrid(tiles, layout), "imir 0 then irot 1");

    // The positions themselves: cell (row 1, column 0) shows tile 3, yellow, its mark at (8, 72).
    const Bytes file = MakeHeifGrid(tiles, SmallGrid());
    auto bands = detail::OpenHeifGridInBands(file, "heif");
    ASSERT_NE(bands, nullptr);
    EXPECT_EQ(bands->Info().width, 170);
    EXPECT_EQ(bands->Info().height, 120);
    EXPECT_FALSE(bands->Info().hasAlpha);
    const imaging::Image image = ReadInBands(*bands, 16);
    EXPECT_LE(ChannelDistance(image.At(40, 100), imaging::MakePixel(230, 210, 40)), 6);
    EXPECT_LE(ChannelDistance(image.At(8, 72), imaging::MakePixel(255, 255, 255)), 6);
    EXPECT_LE(ChannelDistance(image.At(160, 30), imaging::MakePixel(40, 50, 210)), 6)
        << "cropped last column";
}

TEST(HeifGrid, RowsComeOnlyForwardAndAcrossTileRows) {
    const Bytes file = MakeHeifGrid(MarkedTiles(64, false), SmallGrid());
    auto whole = MakeLibraryDecoder()->Open("grid.heic", file, {});
    ASSERT_NE(whole, nullptr);
    const imaging::Image expected = imaging::ReadWholePicture(*whole);
    auto bands = detail::OpenHeifGridInBands(file, "heif");
    ASSERT_NE(bands, nullptr);
    // Rows 60..67 straddle the two tile rows; rows 0..59 are skipped.
    std::vector<imaging::Pixel> rows(170 * 8);
    ASSERT_TRUE(bands->ReadRows(60, 8, rows.data()));
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 170; x += 13)
            EXPECT_LE(ChannelDistance(rows[static_cast<std::size_t>(y) * 170 + x], expected.At(x, 60 + y)),
                      2);
    EXPECT_FALSE(bands->ReadRows(0, 1, rows.data())) << "rows only come forward";
    EXPECT_FALSE(bands->ReadRows(118, 3, rows.data())) << "past the end";
    EXPECT_TRUE(bands->ReadRows(119, 1, rows.data()));
}

TEST(HeifGrid, AvifGridDecodesInBandsToo) {
    const Bytes file = MakeHeifGrid(MarkedTiles(64, true), SmallGrid(true));
    ExpectBandsMatchWholeDecode(file, "avif");
    EXPECT_EQ(detail::OpenHeifGridInBands(file, "avif")->Info().format, "avif");
}

TEST(HeifGrid, TilesTakeTheGridsColoursWhenTheyNameNone) {
    // Tiles without a colr box of their own, the grid in BT.601 full range with P3 primaries.
    std::vector<HeifTile> tiles = MarkedTiles(64, false);
    for (HeifTile& tile : tiles)
        std::erase_if(tile.properties, [](const auto& p) {
            return p.first.size() > 8 && p.first[4] == 'c' && p.first[5] == 'o' && p.first[6] == 'l';
        });
    HeifGridLayout layout = SmallGrid();
    layout.gridColr = {0, 0, 0, 19, 'c', 'o', 'l', 'r', 'n', 'c', 'l', 'x', 0, 12, 0, 13, 0, 6, 0x80};
    const Bytes file = MakeHeifGrid(tiles, layout);
    ExpectBandsMatchWholeDecode(file, "grid's nclx");
    auto bands = detail::OpenHeifGridInBands(file, "heif");
    ASSERT_NE(bands, nullptr);
    EXPECT_TRUE(bands->Info().hasColorProfile) << "P3 primaries";

    // An ICC profile on the grid rules over the primaries.
    const double bt2020[6] = {0.708, 0.292, 0.170, 0.797, 0.131, 0.046};
    const Bytes icc = MakeRgbProfile(bt2020);
    Bytes prof = {0, 0, 0, 0, 'c', 'o', 'l', 'r', 'p', 'r', 'o', 'f'};
    prof.insert(prof.end(), icc.begin(), icc.end());
    prof[2] = static_cast<std::uint8_t>(prof.size() >> 8), prof[3] = static_cast<std::uint8_t>(prof.size());
    layout.gridColr = prof;
    const Bytes withIcc = MakeHeifGrid(tiles, layout);
    ExpectBandsMatchWholeDecode(withIcc, "grid's ICC profile");
    EXPECT_EQ(detail::OpenHeifGridInBands(withIcc, "heif")->ColorProfile(), icc);
}

TEST(HeifGrid, DamagedOrInconsistentGridsAreRefusedOrFailNeverCrash) {
    const std::vector<HeifTile> tiles = MarkedTiles(64, false);
    auto neverCrashes = [](const Bytes& file, const std::string& what) {
        // Either path: refused at the header or failing on the rows, whatever the file says.
        auto bands = detail::OpenHeifGridInBands(file, "heif");
        if (bands) {
            EXPECT_THROW(ReadInBands(*bands, 32), Error) << what;
        }
        // libheif's own whole decode may read some of these its own way; it only must not crash.
        auto whole = MakeLibraryDecoder()->Open("grid.heic", file, {});
        if (whole) {
            try {
                imaging::ReadWholePicture(*whole);
            } catch (const Error&) {
            }
        }
        return bands != nullptr;
    };

    // A tile whose coded bytes stop half way.
    std::vector<HeifTile> cut = tiles;
    cut[2].data.resize(cut[2].data.size() / 2);
    EXPECT_TRUE(neverCrashes(MakeHeifGrid(cut, SmallGrid()), "tile cut short")) << "found damaged on reading";
    // No bytes at all for a tile.
    cut = tiles;
    cut[1].data.clear();
    neverCrashes(MakeHeifGrid(cut, SmallGrid()), "empty tile");
    // The file cut inside the tiles' data.
    Bytes file = MakeHeifGrid(tiles, SmallGrid());
    neverCrashes(Bytes(file.begin(), file.end() - 200), "file cut short");

    // Fewer cells than rows x columns: a tile is missing.
    HeifGridLayout layout = SmallGrid();
    layout.cells.pop_back();
    EXPECT_EQ(detail::OpenHeifGridInBands(MakeHeifGrid(tiles, layout), "heif"), nullptr);
    neverCrashes(MakeHeifGrid(tiles, layout), "missing tile");
    // Tiles that do not cover the output.
    layout = SmallGrid();
    layout.width = 3 * 64 + 1;
    EXPECT_EQ(detail::OpenHeifGridInBands(MakeHeifGrid(tiles, layout), "heif"), nullptr);
    neverCrashes(MakeHeifGrid(tiles, layout), "not covered");
    // Tiles of two sizes.
    std::vector<HeifTile> mixed = tiles;
    mixed[3] = TakeHeifTile(MakeHeif(imaging::Image(64, 32, imaging::MakePixel(1, 2, 3)), false));
    EXPECT_EQ(detail::OpenHeifGridInBands(MakeHeifGrid(mixed, SmallGrid()), "heif"), nullptr);
    neverCrashes(MakeHeifGrid(mixed, SmallGrid()), "tiles of two sizes");
    // A tile whose header claims a larger size than its coded picture has.
    std::vector<HeifTile> lying = tiles;
    for (HeifTile& tile : lying)
        for (auto& [box, essential] : tile.properties)
            if (box.size() == 20 && box[4] == 'i' && box[5] == 's') box = detail::MakeIspeBox(96, 64);
    layout = SmallGrid();
    EXPECT_TRUE(neverCrashes(MakeHeifGrid(lying, layout), "ispe larger than the tile"));

    // Absurd counts and sizes: 256 x 255 cells over a picture claiming 100,000 pixels a side.
    layout.rows = 256, layout.columns = 255;
    layout.width = layout.height = 100000;
    layout.cells.assign(256 * 255, 0);
    const Bytes bomb = MakeHeifGrid(tiles, layout);
    EXPECT_EQ(MakeLibraryDecoder()->Open("bomb.heic", bomb, {}), nullptr);
    EXPECT_EQ(MakeLibraryDecoder()->Open("bomb.heic", bomb, {3840, 2160}), nullptr);
    EXPECT_EQ(detail::OpenHeifGridInBands(bomb, "heif"), nullptr);
}

TEST(HeifGrid, ManySmallTilesOpenWithoutDecodingAndServeTheFirstRowsOnly) {
    // 16,512 cells of 64 x 64 over 8,256 x 8,192: a picture beyond the whole limit, opened with
    // nothing decoded; the first rows decode the first row of tiles only.
    const std::vector<HeifTile> tiles = MarkedTiles(64, false);
    HeifGridLayout layout;
    layout.rows = 128, layout.columns = 129;
    layout.width = 8256, layout.height = 8192;
    layout.cells.resize(128 * 129);
    for (std::size_t i = 0; i < layout.cells.size(); ++i) layout.cells[i] = static_cast<int>(i % 3);
    const Bytes file = MakeHeifGrid(tiles, layout);
    auto source = MakeLibraryDecoder()->Open("many.heic", file, {});
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->Info().width, 8256);
    std::vector<imaging::Pixel> row(8256);
    ASSERT_TRUE(source->ReadRows(4, 1, row.data()));
    EXPECT_LE(ChannelDistance(row[64 * 127 + 4], imaging::MakePixel(255, 255, 255)), 6) << "cell 127's mark";
    ASSERT_TRUE(source->ReadRows(40, 1, row.data()));
    EXPECT_LE(ChannelDistance(row[64 * 2 + 40], imaging::MakePixel(40, 50, 210)), 6) << "third cell: tile 2";
    EXPECT_LE(ChannelDistance(row[64 * 127 + 40], imaging::MakePixel(30, 200, 40)), 6) << "cell 127: tile 1";
}

}  // namespace
