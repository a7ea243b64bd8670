#include <windows.h>

#include "platform/text_encoding.h"

namespace nimbrel::platform {

std::u16string NarrowToUtf16(std::string_view text) {
    if (text.empty()) return {};
    int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::u16string out(static_cast<std::size_t>(length), u'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                        reinterpret_cast<wchar_t*>(out.data()), length);
    return out;
}

std::string Utf16ToNarrow(std::u16string_view text) {
    if (text.empty()) return {};
    auto wide = reinterpret_cast<const wchar_t*>(text.data());
    int length = WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(text.size()), out.data(), length, nullptr, nullptr);
    return out;
}

}  // namespace nimbrel::platform
