#include "about_text.h"

#include <cctype>
#include <cstdlib>

namespace nimbrel::player {
namespace {

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\f' || c == '\v';
}

// Encodes a code point as the single byte of the narrow code page where it has one, else '?'.
std::string CodePointText(long code) {
    if (code > 0 && code < 256) return std::string(1, static_cast<char>(code));
    return "?";
}

std::string DecodeEntity(std::string_view name) {
    std::string lower = Lower(name);
    if (lower == "amp") return "&";
    if (lower == "lt") return "<";
    if (lower == "gt") return ">";
    if (lower == "quot") return "\"";
    if (lower == "apos") return "'";
    if (lower == "nbsp") return " ";
    if (lower == "copy") return CodePointText(0xA9);
    if (!lower.empty() && lower[0] == '#') {
        bool hex = lower.size() > 1 && lower[1] == 'x';
        std::string digits = lower.substr(hex ? 2 : 1);
        if (digits.empty() || digits.size() > 7) return {};
        char* end = nullptr;
        long code = std::strtol(digits.c_str(), &end, hex ? 16 : 10);
        if (*end != '\0') return {};
        return CodePointText(code);
    }
    return {};
}

// The value of attribute `name` inside a tag's text (after the tag name), or "".
std::string AttributeValue(std::string_view tag, std::string_view name) {
    std::string lower = Lower(tag);
    std::size_t at = 0;
    while ((at = lower.find(name, at)) != std::string::npos) {
        bool startOk = at == 0 || IsBlank(lower[at - 1]) || lower[at - 1] == '\n' || lower[at - 1] == '\r';
        std::size_t after = at + name.size();
        while (after < lower.size() && IsBlank(lower[after])) ++after;
        if (!startOk || after >= lower.size() || lower[after] != '=') {
            at += name.size();
            continue;
        }
        ++after;
        while (after < tag.size() && IsBlank(tag[after])) ++after;
        if (after >= tag.size()) return {};
        char quote = tag[after];
        if (quote == '"' || quote == '\'') {
            std::size_t close = tag.find(quote, after + 1);
            if (close == std::string_view::npos) close = tag.size();
            return std::string(tag.substr(after + 1, close - after - 1));
        }
        std::size_t end = after;
        while (end < tag.size() && !IsBlank(tag[end])) ++end;
        return std::string(tag.substr(after, end - after));
    }
    return {};
}

class RunBuilder {
public:
    void AddText(std::string_view text) {
        for (char c : text) {
            bool blank = IsBlank(c);
            if (blank && (pendingBlank_ || atLineStart_)) continue;
            if (blank) {
                // The blank keeps the style it was written in (no underlined blank before a link).
                pendingBlank_ = true;
                pendingStyle_ = CurrentStyle();
                pendingLink_ = link_;
                continue;
            }
            FlushBlank();
            Append(c, CurrentStyle(), link_);
        }
    }
    void AddLiteral(const std::string& text) {
        FlushBlank();
        for (char c : text) Append(c, CurrentStyle(), link_);
    }
    void LineBreak() {
        TextRun run;
        run.lineBreak = true;
        runs_.push_back(run);
        pendingBlank_ = false;
        atLineStart_ = true;
    }
    void SetStyle(int bold, int italic, int underline, std::string link) {
        bold_ = bold;
        italic_ = italic;
        underline_ = underline;
        link_ = std::move(link);
    }
    std::vector<TextRun> Finish() { return std::move(runs_); }

    int bold_ = 0, italic_ = 0, underline_ = 0;
    std::string link_;

private:
    TextStyle CurrentStyle() const {
        return TextStyle{bold_ > 0, italic_ > 0, underline_ > 0 || !link_.empty()};
    }
    void FlushBlank() {
        if (pendingBlank_) Append(' ', pendingStyle_, pendingLink_);
        pendingBlank_ = false;
    }
    void Append(char c, const TextStyle& style, const std::string& link) {
        if (runs_.empty() || runs_.back().lineBreak || !(runs_.back().style == style) ||
            runs_.back().link != link) {
            TextRun run;
            run.style = style;
            run.link = link;
            runs_.push_back(run);
        }
        runs_.back().text.push_back(c);
        atLineStart_ = false;
    }

    std::vector<TextRun> runs_;
    bool pendingBlank_ = false;
    TextStyle pendingStyle_;
    std::string pendingLink_;
    bool atLineStart_ = true;
};

}  // namespace

AboutInfo SplitAboutFile(std::string_view bytes) {
    AboutInfo info;
    std::size_t end = bytes.find_first_of("\r\n");
    if (end == std::string_view::npos) {
        info.name = std::string(bytes);
        return info;
    }
    info.name = std::string(bytes.substr(0, end));
    std::size_t rest = end + 1;
    if (bytes[end] == '\r' && rest < bytes.size() && bytes[rest] == '\n') ++rest;
    std::string_view text = bytes.substr(rest);
    if (text.size() >= 2 && text.substr(text.size() - 2) == "\r\n")
        text.remove_suffix(2);
    else if (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.remove_suffix(1);
    info.text = std::string(text);
    return info;
}

std::vector<TextRun> ParseSimpleHtml(std::string_view html) {
    RunBuilder out;
    std::size_t at = 0;
    while (at < html.size()) {
        char c = html[at];
        if (c == '\r' || c == '\n') {
            out.LineBreak();
            at += (c == '\r' && at + 1 < html.size() && html[at + 1] == '\n') ? 2 : 1;
            continue;
        }
        if (c == '&') {
            std::size_t semi = html.find(';', at);
            if (semi != std::string_view::npos && semi - at <= 10) {
                std::string decoded = DecodeEntity(html.substr(at + 1, semi - at - 1));
                if (!decoded.empty()) {
                    out.AddLiteral(decoded);
                    at = semi + 1;
                    continue;
                }
            }
            out.AddText("&");
            ++at;
            continue;
        }
        if (c != '<') {
            std::size_t next = html.find_first_of("<&\r\n", at);
            if (next == std::string_view::npos) next = html.size();
            out.AddText(html.substr(at, next - at));
            at = next;
            continue;
        }
        std::size_t close = html.find('>', at);
        if (close == std::string_view::npos) {  // a lone '<' is text
            out.AddText(html.substr(at));
            break;
        }
        std::string_view tag = html.substr(at + 1, close - at - 1);
        at = close + 1;
        bool ending = !tag.empty() && tag[0] == '/';
        if (ending) tag.remove_prefix(1);
        std::size_t nameEnd = 0;
        while (nameEnd < tag.size() && std::isalnum(static_cast<unsigned char>(tag[nameEnd]))) ++nameEnd;
        std::string name = Lower(tag.substr(0, nameEnd));
        int delta = ending ? -1 : 1;
        auto adjust = [&](int& counter) { counter = std::max(0, counter + delta); };
        if (name == "b" || name == "strong") {
            adjust(out.bold_);
        } else if (name == "i" || name == "em") {
            adjust(out.italic_);
        } else if (name == "u") {
            adjust(out.underline_);
        } else if (name == "br") {
            out.LineBreak();
        } else if (name == "p") {
            out.LineBreak();
            if (!ending) out.LineBreak();
        } else if (name == "a") {
            out.link_ = ending ? std::string() : AttributeValue(tag.substr(nameEnd), "href");
        }
    }
    return out.Finish();
}

TextLayout LayoutText(const std::vector<TextRun>& runs, int maxWidth,
                      const std::function<int(const std::string&, const TextStyle&)>& measure) {
    TextLayout layout;
    int x = 0;
    int line = 0;
    bool lineHasText = false;
    auto place = [&](const std::string& text, const TextRun& run, int width) {
        PlacedText piece{x, line, width, text, run.style, run.link};
        // Join with the previous piece when it continues it in the same style on the same line.
        if (!layout.pieces.empty()) {
            PlacedText& last = layout.pieces.back();
            if (last.line == line && last.style == run.style && last.link == run.link &&
                last.x + last.width == x) {
                last.text += text;
                last.width += width;
                x += width;
                lineHasText = true;
                return;
            }
        }
        layout.pieces.push_back(piece);
        x += width;
        lineHasText = true;
    };
    for (const TextRun& run : runs) {
        if (run.lineBreak) {
            ++line;
            x = 0;
            lineHasText = false;
            continue;
        }
        // Split into words, each with the blank that precedes it.
        std::size_t at = 0;
        while (at < run.text.size()) {
            std::size_t wordStart = at;
            while (at < run.text.size() && run.text[at] == ' ') ++at;
            while (at < run.text.size() && run.text[at] != ' ') ++at;
            std::string word = run.text.substr(wordStart, at - wordStart);
            int width = measure(word, run.style);
            if (lineHasText && x + width > maxWidth) {
                std::size_t first = word.find_first_not_of(' ');
                if (first != std::string::npos) {
                    word = word.substr(first);
                    ++line;
                    x = 0;
                    lineHasText = false;
                    width = measure(word, run.style);
                }
            }
            if (!lineHasText) {
                std::size_t first = word.find_first_not_of(' ');
                if (first == std::string::npos) continue;  // no blanks at a line's start
                if (first > 0) {
                    word = word.substr(first);
                    width = measure(word, run.style);
                }
            }
            place(word, run, width);
        }
    }
    layout.lines = (layout.pieces.empty() && line == 0) ? 0 : line + 1;
    return layout;
}

bool IsWebLink(std::string_view address) {
    std::string lower = Lower(address);
    std::size_t start = lower.find_first_not_of(' ');
    if (start == std::string::npos) return false;
    lower.erase(0, start);
    for (char c : lower)
        if (static_cast<unsigned char>(c) < 0x20) return false;
    return lower.rfind("http://", 0) == 0 || lower.rfind("https://", 0) == 0 ||
           lower.rfind("mailto:", 0) == 0 || lower.rfind("www.", 0) == 0;
}

}  // namespace nimbrel::player
