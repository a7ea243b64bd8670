#pragma once
// Letter case of ASCII only: archive keys, INI sections and keys, member names and extensions
// compare this way on every system, whatever the locale.

#include <cstddef>
#include <string>
#include <string_view>

namespace nimbrel::platform {

inline char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

inline std::string LowerAscii(std::string_view text) {
    std::string result(text);
    for (char& c : result) c = LowerAscii(c);
    return result;
}

inline bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

inline bool EndsWithIgnoringAsciiCase(std::string_view text, std::string_view tail) {
    return tail.size() <= text.size() && EqualIgnoringAsciiCase(text.substr(text.size() - tail.size()), tail);
}

}  // namespace nimbrel::platform
