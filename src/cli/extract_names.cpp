#include "cli/extract_names.h"
#include "platform/ascii.h"

#include <cstring>

namespace nimbrel::cli {

std::string LowerAscii(std::string text) { return platform::LowerAscii(text); }

namespace {
bool IsDeviceName(const std::string& name) {
    std::string stem = LowerAscii(name.substr(0, name.find('.')));
    while (!stem.empty() && (stem.back() == ' ')) stem.pop_back();
    static const char* const fixed[] = {"con", "prn", "aux", "nul", "conin$", "conout$"};
    for (const char* device : fixed)
        if (stem == device) return true;
    if (stem.size() == 4 && (stem.compare(0, 3, "com") == 0 || stem.compare(0, 3, "lpt") == 0) &&
        stem[3] >= '0' && stem[3] <= '9')
        return true;
    return false;
}
}  // namespace

std::string SafeMemberName(const std::string& name, const std::string& fallback) {
    std::string safe;
    for (char c : name) {
        auto u = static_cast<unsigned char>(c);
        if (u < 32 || u == 127 || std::strchr("/\\:*?\"<>|", c) != nullptr)
            safe += '_';
        else
            safe += c;
    }
    if (safe.find_first_not_of(". ") == std::string::npos) return fallback;
    for (std::size_t i = safe.size(); i > 0 && (safe[i - 1] == '.' || safe[i - 1] == ' '); --i)
        safe[i - 1] = '_';
    if (IsDeviceName(safe)) safe = "_" + safe;
    return safe;
}

std::string UniqueName(const std::string& name, const std::set<std::string>& takenLowerCase) {
    if (!takenLowerCase.count(LowerAscii(name))) return name;
    auto dot = name.rfind('.');
    if (dot == 0) dot = std::string::npos;  // ".profile" is all stem
    std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
    std::string ext = dot == std::string::npos ? std::string() : name.substr(dot);
    for (unsigned n = 2;; ++n) {
        std::string candidate = stem + " (" + std::to_string(n) + ")" + ext;
        if (!takenLowerCase.count(LowerAscii(candidate))) return candidate;
    }
}

}  // namespace nimbrel::cli
