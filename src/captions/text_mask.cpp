#include "captions/text_mask.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include <hb-ft.h>
#include <hb.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <mutex>
#include <vector>

#include "platform/error.h"
#include "platform/paths.h"

namespace nimbrel::captions {

namespace {

constexpr const char* kFontFile = "DejaVuSans.ttf";
constexpr std::string_view kEllipsis = "\xE2\x80\xA6";  // U+2026

// Blanks for line breaks and tabs, and none at either end.
std::string OneLine(std::string_view text) {
    std::string line(text);
    for (char& c : line)
        if (c == '\r' || c == '\n' || c == '\t') c = ' ';
    const std::size_t first = line.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return line.substr(first, line.find_last_not_of(' ') - first + 1);
}

bool StartsCharacter(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
}

}  // namespace

std::string CaptionFontPath() {
    std::vector<std::filesystem::path> places;
    const std::string exeDir = platform::ExecutableDirectory();
    if (!exeDir.empty()) places.push_back(std::filesystem::path(exeDir) / "fonts" / kFontFile);
#ifdef NIMBREL_FONT_DATA_DIR
    places.push_back(std::filesystem::path(NIMBREL_FONT_DATA_DIR) / kFontFile);
#endif
    places.push_back(std::filesystem::path("/usr/share/fonts/truetype/dejavu") / kFontFile);
    for (const auto& place : places) {
        std::error_code ec;
        if (std::filesystem::is_regular_file(place, ec)) return place.string();
    }
    return {};
}

int MaxCaptionWidth(int fontPixels) {
    return static_cast<int>(std::floor(show::kCaptionMaxEms * fontPixels));
}

struct TextRenderer::Impl {
    FT_Library library = nullptr;
    FT_Face face = nullptr;
    hb_font_t* font = nullptr;
    int fontPixels = 0;
    int ascender = 0;   // pixels above the baseline
    int descender = 0;  // pixels below it
    mutable std::mutex mutex;  // FreeType's face is used by one thread at a time

    ~Impl() {
        if (font != nullptr) hb_font_destroy(font);
        if (face != nullptr) FT_Done_Face(face);
        if (library != nullptr) FT_Done_FreeType(library);
    }

    struct Shaped {
        std::vector<hb_codepoint_t> glyphs;
        std::vector<hb_glyph_position_t> positions;
        int advance = 0;  // 26.6
    };

    Shaped Shape(std::string_view text) const {
        hb_buffer_t* buffer = hb_buffer_create();
        hb_buffer_add_utf8(buffer, text.data(), static_cast<int>(text.size()), 0, static_cast<int>(text.size()));
        // Direction, script and language from the text itself: Hebrew and Arabic run right to left.
        hb_buffer_guess_segment_properties(buffer);
        hb_shape(font, buffer, nullptr, 0);
        unsigned count = 0;
        const hb_glyph_info_t* info = hb_buffer_get_glyph_infos(buffer, &count);
        const hb_glyph_position_t* pos = hb_buffer_get_glyph_positions(buffer, &count);
        Shaped shaped;
        for (unsigned i = 0; i < count; ++i) {
            shaped.glyphs.push_back(info[i].codepoint);
            shaped.positions.push_back(pos[i]);
            shaped.advance += pos[i].x_advance;
        }
        hb_buffer_destroy(buffer);
        return shaped;
    }
};

TextRenderer::TextRenderer(const std::string& fontPath, int fontPixels) : impl_(std::make_unique<Impl>()) {
    if (FT_Init_FreeType(&impl_->library) != 0) throw Error("The text renderer cannot start");
    if (fontPath.empty() || FT_New_Face(impl_->library, fontPath.c_str(), 0, &impl_->face) != 0)
        throw Error("Cannot read the caption font " + (fontPath.empty() ? std::string(kFontFile) : fontPath));
    if (FT_Set_Pixel_Sizes(impl_->face, 0, static_cast<FT_UInt>(fontPixels)) != 0)
        throw Error("The caption font " + fontPath + " cannot be drawn at " + std::to_string(fontPixels) + " pixels");
    impl_->fontPixels = fontPixels;
    impl_->ascender = static_cast<int>((impl_->face->size->metrics.ascender + 63) >> 6);
    impl_->descender = static_cast<int>((-impl_->face->size->metrics.descender + 63) >> 6);
    impl_->font = hb_ft_font_create_referenced(impl_->face);
}

TextRenderer::~TextRenderer() = default;

int TextRenderer::Width(std::string_view utf8) const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return (impl_->Shape(OneLine(utf8)).advance + 63) >> 6;
}

show::CaptionMask TextRenderer::Render(std::string_view utf8, int maxWidth) const {
    std::string text = OneLine(utf8);
    show::CaptionMask mask;
    mask.fontPixels = impl_->fontPixels;
    if (text.empty() || maxWidth < 1) return mask;
    std::lock_guard<std::mutex> lock(impl_->mutex);
    Impl::Shaped shaped = impl_->Shape(text);
    if (((shaped.advance + 63) >> 6) > maxWidth) {
        // The longest start of the text (whole characters) that fits with the ellipsis.
        std::vector<std::size_t> cuts;
        for (std::size_t i = 1; i < text.size(); ++i)
            if (StartsCharacter(text[i])) cuts.push_back(i);
        std::size_t low = 0, high = cuts.size();  // cuts[0..low) fit
        auto fits = [&](std::size_t n) {
            std::string head = OneLine(text.substr(0, cuts[n - 1]));
            head += kEllipsis;
            return ((impl_->Shape(head).advance + 63) >> 6) <= maxWidth;
        };
        while (low < high) {
            const std::size_t mid = (low + high + 1) / 2;
            if (fits(mid)) low = mid; else high = mid - 1;
        }
        text = low == 0 ? std::string(kEllipsis) : OneLine(text.substr(0, cuts[low - 1])) + std::string(kEllipsis);
        shaped = impl_->Shape(text);
    }

    // Glyphs in drawing order; each placed at its sub-pixel pen position.
    struct Placed {
        std::vector<std::uint8_t> bits;
        int left, top, width, rows;
    };
    std::vector<Placed> placed;
    FT_Face face = impl_->face;
    int minX = 0, maxX = (shaped.advance + 63) >> 6;
    FT_Pos pen = 0;
    for (std::size_t i = 0; i < shaped.glyphs.size(); ++i) {
        const hb_glyph_position_t& pos = shaped.positions[i];
        const FT_Pos x = pen + pos.x_offset;
        const FT_Pos y = pos.y_offset;
        FT_Vector delta{x & 63, y & 63};
        FT_Set_Transform(face, nullptr, &delta);
        pen += pos.x_advance;
        if (FT_Load_Glyph(face, shaped.glyphs[i], FT_LOAD_NO_HINTING | FT_LOAD_RENDER) != 0) continue;
        const FT_Bitmap& bitmap = face->glyph->bitmap;
        if (bitmap.pixel_mode != FT_PIXEL_MODE_GRAY || bitmap.width == 0 || bitmap.rows == 0) continue;
        Placed glyph;
        glyph.left = static_cast<int>(x >> 6) + face->glyph->bitmap_left;
        glyph.top = impl_->ascender - (static_cast<int>(y >> 6) + face->glyph->bitmap_top);
        glyph.width = static_cast<int>(bitmap.width);
        glyph.rows = static_cast<int>(bitmap.rows);
        for (int r = 0; r < glyph.rows; ++r) {
            const unsigned char* row = bitmap.buffer + static_cast<std::ptrdiff_t>(r) * bitmap.pitch;
            glyph.bits.insert(glyph.bits.end(), row, row + glyph.width);
        }
        minX = std::min(minX, glyph.left);
        maxX = std::max(maxX, glyph.left + glyph.width);
        placed.push_back(std::move(glyph));
    }
    FT_Set_Transform(face, nullptr, nullptr);
    mask.width = std::min(maxX - minX, maxWidth);
    mask.height = impl_->ascender + impl_->descender;
    mask.alpha.assign(static_cast<std::size_t>(mask.width) * mask.height, 0);
    for (const Placed& glyph : placed) {
        for (int r = 0; r < glyph.rows; ++r) {
            const int y = glyph.top + r;
            if (y < 0 || y >= mask.height) continue;
            for (int c = 0; c < glyph.width; ++c) {
                const int x = glyph.left - minX + c;
                if (x < 0 || x >= mask.width) continue;
                std::uint8_t& to = mask.alpha[static_cast<std::size_t>(y) * mask.width + x];
                to = std::max(to, glyph.bits[static_cast<std::size_t>(r) * glyph.width + c]);
            }
        }
    }
    return mask;
}

}  // namespace nimbrel::captions
