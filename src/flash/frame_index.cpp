#include "flash/frame_index.h"

#include <cstdio>
#include <sstream>

namespace nimbrel::flash {

std::string WriteFrameIndex(const FrameIndex& index) {
    std::string text = "NimbrelFrames 1\r\n";
    text += "Size=" + std::to_string(index.width) + "x" + std::to_string(index.height) + "\r\n";
    char rate[32];
    std::snprintf(rate, sizeof rate, "%.6g", index.frameRate);
    text += std::string("Rate=") + rate + "\r\n";
    char color[16];
    std::snprintf(color, sizeof color, "%06X", index.background & 0xFFFFFF);
    text += std::string("Background=") + color + "\r\n";
    for (std::size_t i = 0; i < index.frames.size();) {
        std::size_t run = 1;
        while (i + run < index.frames.size() && index.frames[i + run] == index.frames[i]) ++run;
        text += index.frames[i] + " " + std::to_string(run) + "\r\n";
        i += run;
    }
    return text;
}

std::optional<FrameIndex> ReadFrameIndex(const std::string& text) {
    std::istringstream in(text);
    std::string line;
    auto next = [&]() {
        if (!std::getline(in, line)) return false;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return true;
    };
    if (!next() || line != "NimbrelFrames 1") return std::nullopt;
    FrameIndex index;
    unsigned background = 0;
    char tail = 0;
    if (!next() || std::sscanf(line.c_str(), "Size=%dx%d%c", &index.width, &index.height, &tail) != 2)
        return std::nullopt;
    if (!next() || std::sscanf(line.c_str(), "Rate=%lf%c", &index.frameRate, &tail) != 1) return std::nullopt;
    if (!next() || std::sscanf(line.c_str(), "Background=%6x%c", &background, &tail) != 1)
        return std::nullopt;
    if (index.width < 1 || index.height < 1 || index.width > 8192 || index.height > 8192) return std::nullopt;
    if (!(index.frameRate > 0 && index.frameRate <= 120)) return std::nullopt;
    index.background = background;
    while (next()) {
        if (line.empty()) continue;
        auto space = line.rfind(' ');
        if (space == std::string::npos || space == 0 || space > 64) return std::nullopt;
        const std::string count = line.substr(space + 1);
        if (count.empty() || count.size() > 5 || count.find_first_not_of("0123456789") != std::string::npos)
            return std::nullopt;
        const int run = std::stoi(count);
        if (run < 1 || index.frames.size() + static_cast<std::size_t>(run) > kMaxIndexedFrames)
            return std::nullopt;
        index.frames.insert(index.frames.end(), static_cast<std::size_t>(run), line.substr(0, space));
    }
    if (index.frames.empty()) return std::nullopt;
    return index;
}

}  // namespace nimbrel::flash
