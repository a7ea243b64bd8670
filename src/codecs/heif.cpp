// HEIF (HEIC) and AVIF through libheif. Most pictures are decoded whole, turned upright by the
// container's rotation and mirroring, once their size is known to be within the image limits.
// A grid picture beyond those limits (a large photo from a camera or phone: many small coded
// tiles) is decoded one row of tiles at a time instead, each tile as a small file of its own,
// since libheif 1.15 can decode neither part of a picture nor a grid's tiles one by one; its
// rotation and mirroring are then left to the caller as an EXIF orientation.
#include <libheif/heif.h>

#include <algorithm>
#include <cstring>

#include "codecs/codecs.h"
#include "codecs/heif_boxes.h"
#include "codecs/sources.h"

namespace nimbrel::codecs::detail {

namespace {

struct ContextFree {
    void operator()(heif_context* c) const { heif_context_free(c); }
};
struct HandleFree {
    void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
};
struct ImageFree {
    void operator()(heif_image* i) const { heif_image_release(i); }
};

// An ICC profile for the colour primaries an nclx box names, when they are not sRGB's.
std::vector<std::uint8_t> ProfileFromNclx(const heif_image_handle* handle) {
    heif_color_profile_nclx* nclx = nullptr;
    // libheif may hand over the structure even with an error: it is ours to free either way.
    if (heif_image_handle_get_nclx_color_profile(handle, &nclx).code != heif_error_Ok || nclx == nullptr) {
        if (nclx != nullptr) heif_nclx_color_profile_free(nclx);
        return {};
    }
    std::vector<std::uint8_t> profile;
    const auto primaries = nclx->color_primaries;
    if (primaries != heif_color_primaries_ITU_R_BT_709_5 && primaries != heif_color_primaries_unspecified &&
        nclx->color_primary_red_x > 0) {
        const double xy[6] = {nclx->color_primary_red_x,   nclx->color_primary_red_y,
                              nclx->color_primary_green_x, nclx->color_primary_green_y,
                              nclx->color_primary_blue_x,  nclx->color_primary_blue_y};
        profile = MakeRgbProfile(xy);
    }
    heif_nclx_color_profile_free(nclx);
    return profile;
}

// The picture's colour profile: its ICC profile, or one made for the primaries nclx names.
std::vector<std::uint8_t> HandleProfile(const heif_image_handle* handle) {
    std::vector<std::uint8_t> profile;
    const auto type = heif_image_handle_get_color_profile_type(handle);
    if (type == heif_color_profile_type_prof || type == heif_color_profile_type_rICC) {
        profile.resize(heif_image_handle_get_raw_color_profile_size(handle));
        if (profile.empty() ||
            heif_image_handle_get_raw_color_profile(handle, profile.data()).code != heif_error_Ok)
            profile.clear();
    } else if (type == heif_color_profile_type_nclx) {
        profile = ProfileFromNclx(handle);
    }
    return profile;
}

class HeifSource : public imaging::PictureSource {
public:
    bool Start(Bytes bytes, const std::string& format) {
        context_.reset(heif_context_alloc());
        if (!context_) return false;
        heif_context_set_maximum_image_size_limit(context_.get(), imaging::kMaxImageSide);
        const heif_error read =
            heif_context_read_from_memory_without_copy(context_.get(), bytes.data(), bytes.size(), nullptr);
        if (read.code != heif_error_Ok) {
            if (read.subcode == heif_suberror_Security_limit_exceeded)
                Refuse("too large (more than " + std::to_string(imaging::kMaxImageSide) +
                       " pixels across or down)");
            return false;
        }
        heif_image_handle* handle = nullptr;
        if (heif_context_get_primary_image_handle(context_.get(), &handle).code != heif_error_Ok)
            return false;
        handle_.reset(handle);
        const int width = heif_image_handle_get_width(handle);
        const int height = heif_image_handle_get_height(handle);
        if (width < 1 || height < 1 || !detail::WholeSizeAllowed(width, height)) return false;
        info_.width = width;
        info_.height = height;
        info_.format = format;
        info_.hasAlpha = heif_image_handle_has_alpha_channel(handle) != 0;
        profile_ = HandleProfile(handle);
        info_.hasColorProfile = !profile_.empty();
        return true;
    }

    const imaging::PictureInfo& Info() const override { return info_; }
    std::vector<std::uint8_t> ColorProfile() const override { return profile_; }

    bool ReadRows(int first, int count, imaging::Pixel* into) override {
        if (first < 0 || count < 0 || first + count > info_.height) return false;
        if (!image_ && (failed_ || !Decode())) {
            failed_ = true;
            return false;
        }
        const int step = info_.hasAlpha ? 4 : 3;
        for (int y = first; y < first + count; ++y) {
            const std::uint8_t* in = plane_ + static_cast<std::size_t>(y) * stride_;
            imaging::Pixel* out = into + static_cast<std::size_t>(y - first) * info_.width;
            for (int x = 0; x < info_.width; ++x, in += step)
                out[x] = imaging::MakePixel(in[0], in[1], in[2], info_.hasAlpha ? in[3] : 255);
        }
        return true;
    }

private:
    bool Decode() {
        heif_image* image = nullptr;
        heif_decoding_options* options = heif_decoding_options_alloc();
        // libheif holds the picture whole (it has no way to decode part of one): without alpha,
        // three bytes a pixel instead of four.
        const heif_error error = heif_decode_image(
            handle_.get(), &image, heif_colorspace_RGB,
            info_.hasAlpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options);
        heif_decoding_options_free(options);
        if (error.code != heif_error_Ok || image == nullptr) return false;
        image_.reset(image);
        int stride = 0;
        plane_ = heif_image_get_plane_readonly(image, heif_channel_interleaved, &stride);
        stride_ = static_cast<std::size_t>(stride);
        // The rows must be as large as the header said.
        return plane_ != nullptr && heif_image_get_width(image, heif_channel_interleaved) == info_.width &&
               heif_image_get_height(image, heif_channel_interleaved) == info_.height &&
               stride_ >= static_cast<std::size_t>(info_.width) * (info_.hasAlpha ? 4 : 3);
    }

    std::unique_ptr<heif_context, ContextFree> context_;
    std::unique_ptr<heif_image_handle, HandleFree> handle_;
    std::unique_ptr<heif_image, ImageFree> image_;
    const std::uint8_t* plane_ = nullptr;
    std::size_t stride_ = 0;
    bool failed_ = false;
    imaging::PictureInfo info_;
    std::vector<std::uint8_t> profile_;
};

// ---------------------------------------------------------------------------------------------
// Grid pictures in bands of tile rows

// What a grid picture is made of, once it is known to be one the banded decoding can read.
struct GridPlan {
    HeifFile heif;
    HeifGrid grid;
    std::vector<std::uint32_t> tiles;  // item ids, row by row
    std::uint32_t tileType = 0;
    int tileWidth = 0, tileHeight = 0;
    std::vector<std::uint8_t> nclx;  // the grid's own nclx colr box, for tiles that have none
    std::vector<std::uint8_t> profile;
    int orientation = 1;
};

// The colour profile a colr box gives: the ICC profile it holds, or one made for the primaries
// an nclx box names when they are not sRGB's. (libheif gives the same for pictures it decodes
// whole; its own reading of the boxes takes a time that grows with the square of the tiles.)
std::vector<std::uint8_t> ProfileFromColr(const HeifProperty& colr) {
    const std::uint32_t type = ColrType(colr);
    const auto payload = colr.Payload();
    if (type == FourCc("prof") || type == FourCc("rICC")) return {payload.begin() + 4, payload.end()};
    if (type != FourCc("nclx") || payload.size() < 6) return {};
    struct Primaries {
        int code;
        double xy[6];
    };
    static constexpr Primaries kKnown[] = {
        {4, {0.67, 0.33, 0.21, 0.71, 0.14, 0.08}},        {5, {0.64, 0.33, 0.29, 0.60, 0.15, 0.06}},
        {6, {0.630, 0.340, 0.310, 0.595, 0.155, 0.070}},  {7, {0.630, 0.340, 0.310, 0.595, 0.155, 0.070}},
        {8, {0.681, 0.319, 0.243, 0.692, 0.145, 0.049}},  {9, {0.708, 0.292, 0.170, 0.797, 0.131, 0.046}},
        {11, {0.680, 0.320, 0.265, 0.690, 0.150, 0.060}}, {12, {0.680, 0.320, 0.265, 0.690, 0.150, 0.060}},
        {22, {0.630, 0.340, 0.295, 0.605, 0.155, 0.077}}};
    const int code = payload[4] << 8 | payload[5];
    for (const Primaries& known : kKnown)
        if (known.code == code) return MakeRgbProfile(known.xy);
    return {};  // BT.709 (sRGB's), unspecified, or unknown
}

// An EXIF orientation as the matrix that takes stored to upright coordinates (centred, y down).
struct Turn {
    int a, b, c, d;
    Turn Then(const Turn& next) const {
        return {next.a * a + next.b * c, next.a * b + next.b * d, next.c * a + next.d * c,
                next.c * b + next.d * d};
    }
    bool operator==(const Turn&) const = default;
};
constexpr Turn kOrientations[9] = {{1, 0, 0, 1}, {1, 0, 0, 1},  {-1, 0, 0, 1},  {-1, 0, 0, -1}, {1, 0, 0, -1},
                                   {0, 1, 1, 0}, {0, -1, 1, 0}, {0, -1, -1, 0}, {0, 1, -1, 0}};

// The container's rotations and mirrorings, applied in the order the item lists them, as the
// one EXIF orientation that does the same.
int OrientationOf(const HeifFile& heif, const HeifItem& item) {
    Turn turn = kOrientations[1];
    for (const HeifPropertyLink& link : item.properties) {
        if (link.index < 1 || link.index > heif.properties.size()) continue;
        const HeifProperty& property = heif.properties[link.index - 1u];
        int value = 0;
        if (ParseIrot(property, value)) {
            for (int i = 0; i < value; ++i)
                turn = turn.Then(kOrientations[8]);  // a quarter turn anticlockwise
        } else if (ParseImir(property, value)) {
            // About a vertical axis (left and right swap) or a horizontal one (top and bottom).
            turn = turn.Then(value == 0 ? kOrientations[4] : kOrientations[2]);
        }
    }
    for (int o = 1; o <= 8; ++o)
        if (kOrientations[o] == turn) return o;
    return 1;
}

// True when the primary item is a grid of coded tiles that can be decoded a tile row at a time:
// tiles of one codec and one size covering the output, no alpha, no crop, no property we do not
// know that the grid says must be understood.
bool PlanGrid(Bytes bytes, GridPlan& plan) {
    if (!ReadHeifFile(bytes, plan.heif)) return false;
    const HeifFile& heif = plan.heif;
    const HeifItem* grid = heif.FindItem(heif.primary);
    if (grid == nullptr || grid->type != FourCc("grid")) return false;
    std::vector<std::uint8_t> descriptor;
    if (!ReadItemData(heif, bytes, *grid, 64, descriptor) || !ParseHeifGrid(descriptor, plan.grid))
        return false;
    if (!StoredSizeAllowed(plan.grid.width, plan.grid.height)) return false;
    if (heif.ReferredTo(grid->id, FourCc("auxl"))) return false;
    bool iccFound = false;
    for (const HeifPropertyLink& link : grid->properties) {
        if (link.index == 0) continue;
        const HeifProperty& property = heif.properties[link.index - 1u];
        const std::uint32_t type = property.type;
        if (type == FourCc("clap")) return false;
        const bool known = type == FourCc("ispe") || type == FourCc("colr") || type == FourCc("pixi") ||
                           type == FourCc("irot") || type == FourCc("imir") || type == FourCc("pasp");
        if (link.essential && !known) return false;
        if (type == FourCc("colr")) {
            const bool nclx = ColrType(property) == FourCc("nclx");
            if (nclx && plan.nclx.empty()) plan.nclx = property.box;
            // An ICC profile rules over the primaries nclx names.
            if (nclx ? plan.profile.empty() : !iccFound) {
                std::vector<std::uint8_t> profile = ProfileFromColr(property);
                if (!profile.empty()) plan.profile = std::move(profile), iccFound = !nclx;
            }
        }
    }
    plan.tiles = heif.ReferencesFrom(grid->id, FourCc("dimg"));
    if (plan.tiles.size() != static_cast<std::size_t>(plan.grid.rows) * plan.grid.columns) return false;
    for (std::size_t i = 0; i < plan.tiles.size(); ++i) {
        const HeifItem* tile = heif.FindItem(plan.tiles[i]);
        if (tile == nullptr || !tile->located) return false;
        if (i == 0) plan.tileType = tile->type;
        if (tile->type != plan.tileType) return false;
        const HeifProperty* ispe = heif.FindProperty(*tile, FourCc("ispe"));
        std::uint32_t width = 0, height = 0;
        if (ispe == nullptr || !ParseIspe(*ispe, width, height)) return false;
        if (i == 0) {
            if (!detail::WholeSizeAllowed(width, height)) return false;
            plan.tileWidth = static_cast<int>(width);
            plan.tileHeight = static_cast<int>(height);
        }
        if (width != static_cast<std::uint32_t>(plan.tileWidth) ||
            height != static_cast<std::uint32_t>(plan.tileHeight))
            return false;
    }
    if (plan.tileType != FourCc("hvc1") && plan.tileType != FourCc("av01")) return false;
    const std::int64_t coveredWidth = std::int64_t{plan.tileWidth} * plan.grid.columns;
    const std::int64_t coveredHeight = std::int64_t{plan.tileHeight} * plan.grid.rows;
    if (coveredWidth < plan.grid.width || coveredHeight < plan.grid.height) return false;
    // One row of tiles is held at a time.
    if (!detail::WholeSizeAllowed(plan.grid.width, plan.tileHeight)) return false;
    plan.orientation = OrientationOf(heif, *grid);
    return true;
}

class GridSource : public imaging::PictureSource {
public:
    GridSource(Bytes bytes, GridPlan plan) : bytes_(bytes), plan_(std::move(plan)) {}

    void Start(const std::string& format) {
        profile_ = plan_.profile;
        info_.width = static_cast<int>(plan_.grid.width);
        info_.height = static_cast<int>(plan_.grid.height);
        info_.orientation = plan_.orientation;
        info_.format = format;
        info_.hasColorProfile = !profile_.empty();
    }

    const imaging::PictureInfo& Info() const override { return info_; }
    std::vector<std::uint8_t> ColorProfile() const override { return profile_; }

    bool ReadRows(int first, int count, imaging::Pixel* into) override {
        if (failed_ || first < nextRow_ || count < 0 || first + count > info_.height) return false;
        const std::size_t width = static_cast<std::size_t>(info_.width);
        for (int y = first; y < first + count; ++y) {
            const int tileRow = y / plan_.tileHeight;
            if (tileRow != bandRow_ && !DecodeTileRow(tileRow)) {
                failed_ = true;
                return false;
            }
            std::memcpy(into + (y - first) * width,
                        band_.data() + static_cast<std::size_t>(y - tileRow * plan_.tileHeight) * width,
                        width * sizeof(imaging::Pixel));
        }
        nextRow_ = first + count;
        return true;
    }

private:
    bool DecodeTileRow(int tileRow) {
        bandRow_ = -1;
        band_.resize(static_cast<std::size_t>(info_.width) * plan_.tileHeight);
        const int rows = std::min(plan_.tileHeight, info_.height - tileRow * plan_.tileHeight);
        for (int column = 0; column < plan_.grid.columns; ++column) {
            const int left = column * plan_.tileWidth;
            if (left >= info_.width) break;  // tiles wholly outside the picture are not decoded
            const std::uint32_t id =
                plan_.tiles[static_cast<std::size_t>(tileRow) * plan_.grid.columns + column];
            if (!DecodeTile(id, band_.data() + left, std::min(plan_.tileWidth, info_.width - left), rows))
                return false;
        }
        bandRow_ = tileRow;
        return true;
    }

    // The tile as a HEIF file of its own: its properties (without any turning or cropping, which
    // belong to the grid) and its bytes.
    std::vector<std::uint8_t> TileFile(const HeifItem& tile) const {
        // No coded tile is larger than eight bytes a pixel; a file whose tiles all claim the whole
        // file would otherwise have it copied once for every tile.
        const std::size_t most =
            static_cast<std::size_t>(plan_.tileWidth) * static_cast<std::size_t>(plan_.tileHeight) * 8 +
            (1u << 20);
        std::vector<std::uint8_t> data;
        if (!ReadItemData(plan_.heif, bytes_, tile, most, data)) return {};
        const bool avif = plan_.tileType == FourCc("av01");
        HeifWriter writer(avif ? "avif" : "heic", avif ? std::vector<std::string>{"mif1", "avif", "miaf"}
                                                       : std::vector<std::string>{"mif1", "heic"});
        std::vector<HeifPropertyLink> links;
        bool hasNclx = false;
        for (const HeifPropertyLink& link : tile.properties) {
            if (link.index == 0) continue;
            const HeifProperty& property = plan_.heif.properties[link.index - 1u];
            if (property.type == FourCc("irot") || property.type == FourCc("imir") ||
                property.type == FourCc("clap"))
                continue;
            hasNclx = hasNclx || ColrType(property) == FourCc("nclx");
            links.push_back({writer.AddProperty(property.box), link.essential});
        }
        // Tiles take the grid's colours when they name none, as libheif does for the whole grid.
        if (!hasNclx && !plan_.nclx.empty()) links.push_back({writer.AddProperty(plan_.nclx), false});
        writer.AddItem(1, tile.type, writer.AddData(std::move(data)), std::move(links));
        writer.SetPrimary(1);
        return writer.Write();
    }

    bool DecodeTile(std::uint32_t id, imaging::Pixel* into, int columns, int rows) {
        const HeifItem* tile = plan_.heif.FindItem(id);
        if (tile == nullptr) return false;
        const std::vector<std::uint8_t> file = TileFile(*tile);
        if (file.empty()) return false;
        std::unique_ptr<heif_context, ContextFree> context(heif_context_alloc());
        if (!context) return false;
        heif_context_set_maximum_image_size_limit(context.get(), imaging::kMaxImageSide);
        if (heif_context_read_from_memory_without_copy(context.get(), file.data(), file.size(), nullptr)
                .code != heif_error_Ok)
            return false;
        heif_image_handle* handle = nullptr;
        if (heif_context_get_primary_image_handle(context.get(), &handle).code != heif_error_Ok) return false;
        std::unique_ptr<heif_image_handle, HandleFree> heldHandle(handle);
        heif_decoding_options* options = heif_decoding_options_alloc();
        options->ignore_transformations = 1;
        heif_image* image = nullptr;
        const heif_error error =
            heif_decode_image(handle, &image, heif_colorspace_RGB, heif_chroma_interleaved_RGB, options);
        heif_decoding_options_free(options);
        std::unique_ptr<heif_image, ImageFree> heldImage(image);
        if (error.code != heif_error_Ok || image == nullptr) return false;
        int stride = 0;
        const std::uint8_t* plane = heif_image_get_plane_readonly(image, heif_channel_interleaved, &stride);
        // The tile must be as large as its header said.
        if (plane == nullptr || heif_image_get_width(image, heif_channel_interleaved) != plan_.tileWidth ||
            heif_image_get_height(image, heif_channel_interleaved) != plan_.tileHeight ||
            stride < plan_.tileWidth * 3)
            return false;
        for (int y = 0; y < rows; ++y) {
            const std::uint8_t* in = plane + static_cast<std::size_t>(y) * static_cast<std::size_t>(stride);
            imaging::Pixel* out = into + static_cast<std::size_t>(y) * static_cast<std::size_t>(info_.width);
            for (int x = 0; x < columns; ++x, in += 3) out[x] = imaging::MakePixel(in[0], in[1], in[2]);
        }
        return true;
    }

    Bytes bytes_;
    GridPlan plan_;
    std::vector<imaging::Pixel> band_;  // the decoded tile row, the picture's width across
    int bandRow_ = -1;
    int nextRow_ = 0;
    bool failed_ = false;
    imaging::PictureInfo info_;
    std::vector<std::uint8_t> profile_;
};

bool HeifReady() {
    // Once, before the first picture, whichever thread opens it.
    static const bool initialised = heif_init(nullptr).code == heif_error_Ok;
    return initialised;
}

SourcePtr OpenGrid(Bytes bytes, const std::string& format, GridPlan plan) {
    auto source = std::make_unique<GridSource>(bytes, std::move(plan));
    source->Start(format);
    return source;
}

}  // namespace

SourcePtr OpenHeif(Bytes bytes, const std::string& format) {
    if (!HeifReady()) return nullptr;
    // A grid too large to decode whole is decoded a tile row at a time.
    GridPlan plan;
    if (PlanGrid(bytes, plan) && !imaging::ImageSizeAllowed(plan.grid.width, plan.grid.height))
        return OpenGrid(bytes, format, std::move(plan));
    auto source = std::make_unique<HeifSource>();
    if (!source->Start(bytes, format)) return nullptr;
    return source;
}

SourcePtr OpenHeifGridInBands(Bytes bytes, const std::string& format) {
    if (!HeifReady()) return nullptr;
    GridPlan plan;
    if (!PlanGrid(bytes, plan)) return nullptr;
    return OpenGrid(bytes, format, std::move(plan));
}

}  // namespace nimbrel::codecs::detail
