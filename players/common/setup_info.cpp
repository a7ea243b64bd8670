#include "setup_info.h"

#include <cctype>

#include "about_text.h"
#include "platform/error.h"

namespace nimbrel::player {

namespace {
std::string Trim(std::string_view text) {
    std::size_t from = 0, to = text.size();
    while (from < to && (text[from] == ' ' || text[from] == '\t')) ++from;
    while (to > from && (text[to - 1] == ' ' || text[to - 1] == '\t' || text[to - 1] == '\r')) --to;
    return std::string(text.substr(from, to - from));
}
}  // namespace

SetupInfo ParseSetupIni(std::string_view text) {
    SetupInfo info;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        std::string key = Trim(line.substr(0, eq));
        std::string value = Trim(line.substr(eq + 1));
        if (key == "Name") info.name = value;
        else if (key == "Publisher") info.publisher = value;
        else if (key == "File") info.file = value;
    }
    if (info.file.empty()) throw Error("Setup.ini names no screensaver");
    if (info.file.find_first_of("/\\:") != std::string::npos || info.file == "." || info.file == "..")
        throw Error("Setup.ini names no plain file: " + info.file);
    return info;
}

SetupCommandLine ParseSetupCommandLine(std::string_view arguments) {
    SetupCommandLine line;
    std::size_t at = 0;
    while (at < arguments.size()) {
        while (at < arguments.size() && (arguments[at] == ' ' || arguments[at] == '\t')) ++at;
        std::size_t end = arguments.find_first_of(" \t", at);
        if (end == std::string_view::npos) end = arguments.size();
        std::string word(arguments.substr(at, end - at));
        at = end;
        if (word.size() < 2 || (word[0] != '/' && word[0] != '-')) continue;
        for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (word == "/s" || word == "-s") line.silent = true;
        if (word == "/uninstall" || word == "-uninstall") line.uninstall = true;
    }
    return line;
}

std::string SetupFolderName(const std::string& showName) {
    std::string safe;
    for (char c : showName) {
        const auto u = static_cast<unsigned char>(c);
        safe += (u < 32 || std::string("<>:\"/\\|?*").find(c) != std::string::npos) ? '_' : c;
    }
    while (!safe.empty() && (safe.back() == '.' || safe.back() == ' ')) safe.pop_back();
    while (!safe.empty() && safe.front() == ' ') safe.erase(0, 1);
    return safe.empty() ? "Screensaver" : safe;
}

std::string UninstallKeyName(const std::string& folderName) {
    return "Nimbrel Screensaver " + folderName;
}

std::string PlainAboutText(std::string_view html) {
    std::string text;
    std::string link, linkText;
    for (const TextRun& run : ParseSimpleHtml(html)) {
        if (run.link != link) {
            if (!link.empty() && linkText != link) text += " (" + link + ")";
            link = run.link;
            linkText.clear();
        }
        if (run.lineBreak) {
            text += "\r\n";
            continue;
        }
        text += run.text;
        linkText += run.text;
    }
    if (!link.empty() && linkText != link) text += " (" + link + ")";
    return text;
}

}  // namespace nimbrel::player
