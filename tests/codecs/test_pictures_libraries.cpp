#include <libheif/heif.h>
#include <tiffio.h>
#include <webp/encode.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "codecs/codecs.h"
#include "codecs/heif_boxes.h"
#include "test_pictures.h"

namespace nimbrel::codecs::testing {

namespace {

void Check(heif_error error) {
    if (error.code != heif_error_Ok) throw std::runtime_error(error.message);
}

heif_error WriteHeif(heif_context*, const void* data, size_t size, void* userdata) {
    auto* out = static_cast<Bytes*>(userdata);
    const auto* p = static_cast<const std::uint8_t*>(data);
    out->insert(out->end(), p, p + size);
    return heif_error{heif_error_Ok, heif_suberror_Unspecified, "ok"};
}

}  // namespace

Bytes MakeHeif(const imaging::Image& image, bool avif, const Bytes& iccProfile, int orientation) {
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    Check(heif_context_get_encoder_for_format(context, avif ? heif_compression_AV1 : heif_compression_HEVC,
                                              &encoder));
    heif_encoder_set_lossy_quality(encoder, 95);
    if (avif) heif_encoder_set_parameter(encoder, "speed", "9");
    heif_image* picture = nullptr;
    Check(heif_image_create(image.Width(), image.Height(), heif_colorspace_RGB, heif_chroma_interleaved_RGBA,
                            &picture));
    Check(heif_image_add_plane(picture, heif_channel_interleaved, image.Width(), image.Height(), 8));
    int stride = 0;
    std::uint8_t* plane = heif_image_get_plane(picture, heif_channel_interleaved, &stride);
    for (int y = 0; y < image.Height(); ++y)
        for (int x = 0; x < image.Width(); ++x) {
            const imaging::Pixel p = image.At(x, y);
            std::uint8_t* o = plane + static_cast<std::size_t>(y) * stride + 4 * x;
            o[0] = imaging::RedOf(p), o[1] = imaging::GreenOf(p), o[2] = imaging::BlueOf(p),
            o[3] = imaging::AlphaOf(p);
        }
    if (!iccProfile.empty())
        Check(heif_image_set_raw_color_profile(picture, "prof", iccProfile.data(), iccProfile.size()));
    heif_encoding_options* options = heif_encoding_options_alloc();
    options->image_orientation = static_cast<heif_orientation>(orientation);
    heif_image_handle* handle = nullptr;
    Check(heif_context_encode_image(context, picture, encoder, options, &handle));
    if (orientation != 1) {
        const std::uint8_t exif[] = {0,
                                     0,
                                     0,
                                     0,
                                     'I',
                                     'I',
                                     42,
                                     0,
                                     8,
                                     0,
                                     0,
                                     0,
                                     1,
                                     0,
                                     0x12,
                                     0x01,
                                     3,
                                     0,
                                     1,
                                     0,
                                     0,
                                     0,
                                     static_cast<std::uint8_t>(orientation),
                                     0,
                                     0,
                                     0,
                                     0,
                                     0,
                                     0,
                                     0};
        Check(heif_context_add_exif_metadata(context, handle, exif + 4, sizeof exif - 4));
    }
    Bytes out;
    heif_writer writer{1, WriteHeif};
    Check(heif_context_write(context, &writer, &out));
    heif_image_handle_release(handle);
    heif_encoding_options_free(options);
    heif_image_release(picture);
    heif_encoder_release(encoder);
    heif_context_free(context);
    return out;
}

HeifTile TakeHeifTile(const Bytes& heif) {
    detail::HeifFile file;
    if (!detail::ReadHeifFile(heif, file)) throw std::runtime_error("the test HEIF cannot be read");
    const detail::HeifItem* item = file.FindItem(file.primary);
    if (item == nullptr) throw std::runtime_error("the test HEIF has no primary item");
    HeifTile tile;
    tile.type = item->type;
    for (const detail::HeifPropertyLink& link : item->properties)
        if (link.index > 0)
            tile.properties.emplace_back(file.properties[link.index - 1u].box, link.essential);
    if (!detail::ReadItemData(file, heif, *item, heif.size(), tile.data))
        throw std::runtime_error("the test HEIF's data cannot be read");
    return tile;
}

Bytes MakeHeifGrid(const std::vector<HeifTile>& tiles, const HeifGridLayout& layout) {
    using detail::FourCc;
    detail::HeifWriter writer(layout.avif ? "avif" : "heic",
                              layout.avif ? std::vector<std::string>{"mif1", "avif", "miaf"}
                                          : std::vector<std::string>{"mif1", "heic"});
    // Each tile's bytes and properties once, however many cells show it.
    std::vector<std::size_t> data;
    std::vector<std::vector<detail::HeifPropertyLink>> links;
    for (const HeifTile& tile : tiles) {
        data.push_back(writer.AddData(tile.data));
        links.emplace_back();
        for (const auto& [box, essential] : tile.properties)
            links.back().push_back({writer.AddProperty(box), essential});
    }
    constexpr std::uint32_t kGrid = 1;
    std::vector<std::uint32_t> cells;
    for (std::size_t i = 0; i < layout.cells.size(); ++i) {
        const auto id = static_cast<std::uint32_t>(i + 2);
        const auto t = static_cast<std::size_t>(layout.cells[i]);
        writer.AddItem(id, tiles[t].type, data[t], links[t], true);
        cells.push_back(id);
    }
    std::vector<detail::HeifPropertyLink> gridLinks = {
        {writer.AddProperty(detail::MakeIspeBox(layout.width, layout.height)), false}};
    if (!layout.gridColr.empty()) gridLinks.push_back({writer.AddProperty(layout.gridColr), false});
    const detail::HeifPropertyLink irot = {
        layout.rotation >= 0 ? writer.AddProperty(detail::MakeIrotBox(layout.rotation)) : std::uint16_t{0},
        true};
    const detail::HeifPropertyLink imir = {
        layout.mirror >= 0 ? writer.AddProperty(detail::MakeImirBox(layout.mirror)) : std::uint16_t{0}, true};
    for (const detail::HeifPropertyLink& link :
         layout.mirrorFirst ? std::vector{imir, irot} : std::vector{irot, imir})
        if (link.index != 0) gridLinks.push_back(link);
    const std::size_t descriptor =
        writer.AddData(detail::MakeGridDescriptor(layout.rows, layout.columns, layout.width, layout.height),
                       layout.descriptorInIdat);
    writer.AddItem(kGrid, FourCc("grid"), descriptor, gridLinks);
    writer.AddReference(FourCc("dimg"), kGrid, cells);
    writer.SetPrimary(kGrid);
    return writer.Write();
}

Bytes MakeWebpLossless(const imaging::Image& image) {
    std::uint8_t* output = nullptr;
    const std::size_t size = WebPEncodeLosslessBGRA(reinterpret_cast<const std::uint8_t*>(image.Data()),
                                                    image.Width(), image.Height(), image.Stride(), &output);
    if (size == 0) throw std::runtime_error("WebP encoding failed");
    Bytes out(output, output + size);
    WebPFree(output);
    return out;
}

Bytes MakeTiff16(const imaging::Image& image, int orientation) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("nimbrel-tiff-" + std::to_string(reinterpret_cast<std::uintptr_t>(&image)) + ".tif");
    TIFF* tiff = TIFFOpen(path.string().c_str(), "w");
    if (!tiff) throw std::runtime_error("TIFFOpen");
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(image.Width()));
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(image.Height()));
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 16);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(tiff, TIFFTAG_ORIENTATION, static_cast<std::uint16_t>(orientation));
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 7);
    std::vector<std::uint16_t> row(static_cast<std::size_t>(image.Width()) * 3);
    for (int y = 0; y < image.Height(); ++y) {
        for (int x = 0; x < image.Width(); ++x) {
            const imaging::Pixel p = image.At(x, y);
            row[3 * x] = static_cast<std::uint16_t>(imaging::RedOf(p) * 257);
            row[3 * x + 1] = static_cast<std::uint16_t>(imaging::GreenOf(p) * 257);
            row[3 * x + 2] = static_cast<std::uint16_t>(imaging::BlueOf(p) * 257);
        }
        TIFFWriteScanline(tiff, row.data(), static_cast<std::uint32_t>(y), 0);
    }
    TIFFClose(tiff);
    std::ifstream in(path, std::ios::binary);
    Bytes out((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::filesystem::remove(path);
    return out;
}

}  // namespace nimbrel::codecs::testing

// The HEVC encoder behind libheif keeps a few blocks for the life of the process; that is the
// library's business, not a fault of ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libx265\n";
}

namespace nimbrel::codecs::testing {

namespace {

void Put32Be(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}
void Put16Be(Bytes& b, std::size_t at, std::uint32_t v) {
    b[at] = static_cast<std::uint8_t>(v >> 8), b[at + 1] = static_cast<std::uint8_t>(v);
}
void PutLe(Bytes& b, std::size_t at, std::uint32_t v, int count) {
    for (int i = 0; i < count; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint32_t GetLe(const Bytes& b, std::size_t at, int count) {
    std::uint32_t v = 0;
    for (int i = count - 1; i >= 0; --i) v = v << 8 | b[at + i];
    return v;
}
// Where `what` starts in `b` from `from` on, or b.size().
std::size_t Find(const Bytes& b, const std::string& what, std::size_t from = 0) {
    for (std::size_t at = from; at + what.size() <= b.size(); ++at)
        if (std::memcmp(b.data() + at, what.data(), what.size()) == 0) return at;
    return b.size();
}

}  // namespace

std::vector<std::pair<std::string, Bytes>> DecompressionBombs() {
    constexpr std::uint32_t kClaim = 100000;
    std::vector<std::pair<std::string, Bytes>> bombs;
    const imaging::Image small = Gradient(16, 16);

    Bytes jpeg = EncodeJpeg(small, 90);
    const std::size_t sof = Find(jpeg, "\xFF\xC0");
    if (sof == jpeg.size()) throw std::runtime_error("no SOF0 in the test JPEG");
    Put16Be(jpeg, sof + 5, 65535), Put16Be(jpeg, sof + 7, 65535);
    bombs.emplace_back("bomb.jpg", jpeg);

    Bytes png = EncodePng(small);
    Put32Be(png, 16, kClaim), Put32Be(png, 20, kClaim);
    bombs.emplace_back("bomb.png", png);

    bombs.emplace_back("bomb.gif", MakeGif(65535, 65535, 0, 0, 2, 2, -1));

    Bytes bmp = MakeBmp24(small);
    PutLe(bmp, 18, kClaim, 4), PutLe(bmp, 22, kClaim, 4);
    bombs.emplace_back("bomb.bmp", bmp);

    Bytes pcx(128 + 64, 0);
    pcx[0] = 0x0A, pcx[1] = 5, pcx[2] = 1, pcx[3] = 8, pcx[65] = 3;
    PutLe(pcx, 8, 65534, 2), PutLe(pcx, 10, 65534, 2), PutLe(pcx, 66, 65535, 2);
    bombs.emplace_back("bomb.pcx", pcx);

    // 100,000 in WBMP's seven bits a byte: 6, 13, 32.
    bombs.emplace_back("bomb.wbmp", Bytes{0, 0, 0x86, 0x8D, 0x20, 0x86, 0x8D, 0x20, 0xFF, 0xFF});

    for (bool avif : {false, true}) {
        Bytes heif = MakeHeif(small, avif);
        std::size_t at = Find(heif, "ispe");
        if (at == heif.size()) throw std::runtime_error("no ispe box in the test HEIF");
        for (; at < heif.size(); at = Find(heif, "ispe", at + 4))
            Put32Be(heif, at + 8, kClaim), Put32Be(heif, at + 12, kClaim);
        bombs.emplace_back(avif ? "bomb.avif" : "bomb.heic", heif);
    }

    // A lossless WebP's 14-bit sizes at their largest, and a canvas of 100,000 in front of one.
    Bytes webp = MakeWebpLossless(small);
    if (Find(webp, "VP8L") != 12) throw std::runtime_error("the test WebP is not a plain lossless one");
    const std::uint32_t bits = GetLe(webp, 21, 4);
    PutLe(webp, 21, (bits & 0xF0000000u) | 16383u | (16383u << 14), 4);
    bombs.emplace_back("bomb.webp", webp);
    Bytes canvas = {'R', 'I', 'F', 'F', 0,  0, 0, 0, 'W', 'E', 'B', 'P',
                    'V', 'P', '8', 'X', 10, 0, 0, 0, 0,   0,   0,   0};
    canvas.resize(canvas.size() + 6);
    PutLe(canvas, 24, kClaim - 1, 3), PutLe(canvas, 27, kClaim - 1, 3);
    const Bytes plain = MakeWebpLossless(small);
    canvas.insert(canvas.end(), plain.begin() + 12, plain.end());
    PutLe(canvas, 4, static_cast<std::uint32_t>(canvas.size() - 8), 4);
    bombs.emplace_back("canvas.webp", canvas);

    // TIFF: the width and length entries of the first directory, as LONG values.
    Bytes tiff = MakeTiff16(small);
    if (tiff[0] != 'I') throw std::runtime_error("the test TIFF is not little-endian");
    const std::size_t ifd = GetLe(tiff, 4, 4);
    const std::size_t entries = GetLe(tiff, ifd, 2);
    for (std::size_t i = 0; i < entries; ++i) {
        const std::size_t at = ifd + 2 + 12 * i;
        const std::uint32_t tag = GetLe(tiff, at, 2);
        if (tag == 256 || tag == 257) {
            PutLe(tiff, at + 2, 4, 2);  // LONG
            PutLe(tiff, at + 4, 1, 4);
            PutLe(tiff, at + 8, kClaim, 4);
        }
    }
    bombs.emplace_back("bomb.tif", tiff);
    return bombs;
}

}  // namespace nimbrel::codecs::testing
