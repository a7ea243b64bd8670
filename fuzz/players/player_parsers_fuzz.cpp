// Everything the players read from a screensaver's archive: the archive at the file's end with
// its settings and About text, the About text's simple HTML.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "about_text.h"
#include "package.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    try {
        nimbrel::player::Package package(data, size);
        for (std::size_t i = 0; i < package.MemberNames().size(); ++i) {
            try {
                package.Extract(i);
            } catch (const std::exception&) {
            }
        }
    } catch (const std::exception&) {
    }
    auto runs = nimbrel::player::ParseSimpleHtml(bytes);
    nimbrel::player::LayoutText(runs, 100, [](const std::string& t, const nimbrel::player::TextStyle&) {
        return static_cast<int>(t.size()) * 7;
    });
    nimbrel::player::SplitAboutFile(bytes);
    return 0;
}
