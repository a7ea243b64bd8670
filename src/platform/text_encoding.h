#pragma once
// Conversion between the system's narrow code page (the ANSI code page on Windows, UTF-8
// elsewhere) and UTF-16, for the few interfaces that take wide strings.

#include <string>
#include <string_view>

namespace nimbrel::platform {

std::u16string NarrowToUtf16(std::string_view text);
std::string Utf16ToNarrow(std::u16string_view text);

}  // namespace nimbrel::platform
