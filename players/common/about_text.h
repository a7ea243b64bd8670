#pragma once
// The About box's content: the "About.cfg" member and the simple HTML of its text.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace nimbrel::player {

struct AboutInfo {
    std::string name;  // line 1
    std::string text;  // everything after line 1, without the final line break
};

// Splits "About.cfg": the first line is the name, the rest (which may span lines) the text.
// Lines end in CR LF; a lone CR or LF is accepted as well.
AboutInfo SplitAboutFile(std::string_view bytes);

struct TextStyle {
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool operator==(const TextStyle&) const = default;
};

// A piece of text in one style; `link` is the address of the link it belongs to, or empty.
// A run with `lineBreak` set carries no text and ends the line.
struct TextRun {
    std::string text;
    TextStyle style;
    std::string link;
    bool lineBreak = false;
};

// Reads the simple HTML of an About text: <b>/<strong>, <i>/<em>, <u>, <br>, <p>, <a href="...">
// (tags in any case), the common character entities, other tags ignored. Runs of blanks become
// one blank; a line break in the text itself counts as <br>. Unclosed tags end with the text.
std::vector<TextRun> ParseSimpleHtml(std::string_view html);

// One placed piece of text of a laid-out About text.
struct PlacedText {
    int x = 0;
    int line = 0;
    int width = 0;
    std::string text;
    TextStyle style;
    std::string link;
};

struct TextLayout {
    std::vector<PlacedText> pieces;
    int lines = 0;
};

// Breaks runs into lines no wider than `maxWidth`, at blanks; a word wider than a line stands
// on a line of its own. `measure` returns the width of a text in a style.
TextLayout LayoutText(const std::vector<TextRun>& runs, int maxWidth,
                      const std::function<int(const std::string&, const TextStyle&)>& measure);

// True for addresses a link may open: web pages and mail ("http:", "https:", "mailto:", or a
// name starting with "www."). Anything else (a program, a local file) is never started.
bool IsWebLink(std::string_view address);

}  // namespace nimbrel::player
