// Stand-in for the core's project reader until src/project lands: reads the keys the players
// use from the bytes of a project file, with the text layer's line and matching rules.

#include <cstdint>
#include <cstdlib>
#include <map>

#include "project/project_file.h"

namespace nimbrel::project {
namespace {

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

class Ini {
public:
    explicit Ini(std::string_view bytes) {
        std::string section;
        bool inSection = false;
        std::map<std::string, bool> seen;
        bool skipping = false;
        std::size_t at = 0;
        while (at < bytes.size()) {
            std::size_t end = bytes.find_first_of(std::string_view("\r\x1a", 2), at);
            bool last = end == std::string_view::npos || bytes[end] == '\x1a';
            std::string line(bytes.substr(at, (end == std::string_view::npos ? bytes.size() : end) - at));
            if (line.size() > 255) line.resize(255);
            if (!line.empty()) {
                if (line.front() == '[' && line.back() == ']' && line.size() >= 2) {
                    section = Lower(line.substr(1, line.size() - 2));
                    skipping = seen.count(section) != 0;
                    seen[section] = true;
                    inSection = true;
                } else if (inSection && !skipping) {
                    std::size_t eq = line.find('=');
                    if (eq != std::string::npos) {
                        std::string key = section + '\x01' + Lower(line.substr(0, eq));
                        values_.emplace(key, line.substr(eq + 1));  // the first line wins
                    }
                }
            }
            if (last) break;
            at = end + 1;
            if (at < bytes.size() && bytes[at] == '\n') ++at;
        }
    }
    std::string String(std::string_view section, std::string_view key, const std::string& def) const {
        auto it = values_.find(Lower(section) + '\x01' + Lower(key));
        return it == values_.end() ? def : it->second;
    }
    int Integer(std::string_view section, std::string_view key, int def) const {
        std::string text = String(section, key, "");
        std::size_t at = 0;
        while (at < text.size() && text[at] == ' ') ++at;
        bool negative = false;
        if (at < text.size() && (text[at] == '-' || text[at] == '+')) negative = text[at++] == '-';
        int base = 10;
        if (text.compare(at, 2, "0x") == 0 || text.compare(at, 2, "0X") == 0) {
            base = 16;
            at += 2;
        } else if (at < text.size() && (text[at] == '$' || text[at] == 'x' || text[at] == 'X')) {
            base = 16;
            ++at;
        }
        if (at >= text.size()) return def;
        std::int64_t value = 0;
        for (; at < text.size(); ++at) {
            char c = text[at];
            int digit = (c >= '0' && c <= '9')   ? c - '0'
                        : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                        : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                                 : 99;
            if (digit >= base) return def;
            value = value * base + digit;
            if (value > 0xFFFFFFFFll) return def;
        }
        if (base == 10 && value > (negative ? 2147483648ll : 2147483647ll)) return def;
        if (negative) value = -value;
        return static_cast<int>(static_cast<std::int32_t>(static_cast<std::uint32_t>(value)));
    }
    bool Bool(std::string_view section, std::string_view key, bool def) const {
        return Integer(section, key, def ? 1 : 0) != 0;
    }

private:
    std::map<std::string, std::string> values_;
};

}  // namespace

LoadedProject ReadProjectText(std::string_view bytes) {
    Ini ini(bytes);
    LoadedProject p;
    p.number = ini.Integer("Header", "Number", 0);
    p.type = ini.Integer("Header", "Type", 0);
    if (p.number > 0 && p.type == kSlideShow) {
        p.slideShowRead = true;
        for (int i = 0; i < p.number && i < 100000; ++i)
            p.files.push_back(ini.String("Files", std::to_string(i), ""));
        SlideShowValues& s = p.slideShow;
        s.output = ini.String("Options", "Output", "");
        s.center = ini.Bool("Options", "Center", true);
        s.autoSize = ini.Bool("Options", "AutoSize", false);
        s.stretch = ini.Bool("Options", "Stretch", false);
        s.keepAspect = ini.Bool("Options", "KeepAspect", false);
        s.random = ini.Bool("Options", "Random", false);
        s.showSpeed = ini.Integer("Options", "ShowSpeed", 10);
        s.transition = ini.Integer("Options", "Transition", 0);
        s.backgroundColor =
            JoinColor(ini.Integer("Options", "ColorR", 0), ini.Integer("Options", "ColorG", 0),
                      ini.Integer("Options", "ColorB", 0));
        s.showName = ini.String("About", "ShowName", "");
        s.showText = ini.String("About", "ShowText", "");
    }
    if (p.type == kFlash) {
        p.flashRead = true;
        p.flash.title = ini.String("About", "ShowName", "Untitled");
        p.flash.showText = ini.String("About", "ShowText", "");
        p.flash.flashFile = ini.String("Options", "FlashFile", "");
    }
    return p;
}

std::int32_t JoinColor(std::int32_t r, std::int32_t g, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(r) + 256u * static_cast<std::uint32_t>(g) +
                                     65536u * static_cast<std::uint32_t>(b));
}

}  // namespace nimbrel::project
