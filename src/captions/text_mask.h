#pragma once
// One line of text drawn into an alpha mask: shaped with HarfBuzz (its direction and script
// guessed from the text, so right-to-left text reads right), drawn with FreeType from the font
// the program ships.

#include <memory>
#include <string>
#include <string_view>

#include "show/captions.h"

namespace nimbrel::captions {

// The font captions are drawn with: DejaVu Sans beside the program (fonts/DejaVuSans.ttf next to
// the executable, or in the installed data folder), else the system's copy. Empty when none is
// found.
std::string CaptionFontPath();

// The em size masks are drawn at: large enough that monitors up to 4K scale them down.
inline constexpr int kReferenceFontPixels = 80;

class TextRenderer {
public:
    // Opens the font; raises nimbrel::Error naming the file when it cannot be read.
    explicit TextRenderer(const std::string& fontPath, int fontPixels = kReferenceFontPixels);
    ~TextRenderer();
    TextRenderer(const TextRenderer&) = delete;
    TextRenderer& operator=(const TextRenderer&) = delete;

    // The text (UTF-8; line breaks and tabs count as blanks) as a mask at most `maxWidth` pixels
    // wide: a longer text is cut at a character and ends in an ellipsis. Empty for a text that
    // is blank.
    show::CaptionMask Render(std::string_view utf8, int maxWidth) const;
    // The width the text takes, unelided.
    int Width(std::string_view utf8) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The widest mask a caption is drawn into, for the reference em size.
int MaxCaptionWidth(int fontPixels = kReferenceFontPixels);

}  // namespace nimbrel::captions
