// TEMPORARY stand-in for src/project while that library does not exist yet: just enough of the
// project file for the window's tests (Header/Number, Header/Type, Files/i). Delete it when the
// real library lands; tests/app/CMakeLists.txt then links the real one.
#include <fstream>
#include <sstream>

#include "platform/error.h"
#include "platform/files.h"
#include "project/project_file.h"

namespace nimbrel::project {

const std::string& DefaultAboutText() {
    static const std::string text = "(temporary about text)";
    return text;
}

ColorParts SplitColor(std::int32_t color) {
    return {color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF};
}
std::int32_t JoinColor(std::int32_t r, std::int32_t g, std::int32_t b) {
    return r + 256 * g + 65536 * b;
}

LoadedProject ReadProjectText(std::string_view bytes) {
    LoadedProject loaded;
    std::string text(bytes);
    std::istringstream in(text);
    std::string line, section;
    std::vector<std::pair<int, std::string>> files;
    while (std::getline(in, line, '\r')) {
        if (!line.empty() && line[0] == '\n') line.erase(0, 1);
        if (line.size() > 1 && line.front() == '[' && line.back() == ']') {
            section = line.substr(1, line.size() - 2);
            continue;
        }
        auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (section == "Header" && key == "Number") loaded.number = std::atoi(value.c_str());
        if (section == "Header" && key == "Type") loaded.type = std::atoi(value.c_str());
        if (section == "Files") files.emplace_back(std::atoi(key.c_str()), value);
    }
    loaded.slideShow.center = true;
    loaded.slideShowRead = loaded.number > 0 && loaded.type == kSlideShow;
    loaded.flashRead = loaded.type == kFlash;
    if (loaded.slideShowRead) {
        loaded.files.assign(static_cast<std::size_t>(loaded.number), "");
        for (auto& [i, path] : files)
            if (i >= 0 && i < loaded.number) loaded.files[static_cast<std::size_t>(i)] = path;
    }
    return loaded;
}

LoadedProject LoadProject(const std::string& path) {
    if (!platform::FileExists(path)) return {};
    return ReadProjectText(platform::ReadWholeFile(path));
}

void SaveProject(const std::string& path, const ProjectValues& values) {
    std::string text = "[Header]\r\nNumber=" + std::to_string(values.files.size()) +
                       "\r\nType=" + std::to_string(values.kind) + "\r\n\r\n";
    if (values.kind == kSlideShow && !values.files.empty()) {
        text += "[Files]\r\n";
        for (std::size_t i = 0; i < values.files.size(); ++i)
            text += std::to_string(i) + "=" + values.files[i] + "\r\n";
        text += "\r\n";
    }
    platform::WriteFileAtomically(path, text);
}

}  // namespace nimbrel::project
