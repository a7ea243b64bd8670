// Fuzzes the resource editor: open an executable from the input, import an icon group the way
// the build does, and commit, on a private copy of the input.
#include <cstdint>
#include <fstream>
#include <string>

#include "platform/file_mapping.h"
#include "platform/temp.h"
#include "resedit/resource_edit.h"

namespace {

void Put16(std::string& out, unsigned v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8);
}
void Put32(std::string& out, std::uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

struct Workspace {
    nimbrel::platform::TempDirectory dir{"reseditfuzz"};
    std::string exe = dir.File("input.exe");
    std::string ico = dir.File("icon.ico");
    Workspace() {
        // Two images: one small, one above the in-memory limit.
        std::string out;
        Put16(out, 0);
        Put16(out, 1);
        Put16(out, 2);
        const std::uint32_t sizes[2] = {40, 33000};
        std::uint32_t offset = 6 + 32;
        for (std::uint32_t size : sizes) {
            out += std::string("\x10\x10\0\0", 4);
            Put16(out, 1);
            Put16(out, 32);
            Put32(out, size);
            Put32(out, offset);
            offset += size;
        }
        out += std::string(40 + 33000, '\x7F');
        std::ofstream(ico, std::ios::binary).write(out.data(), static_cast<std::streamsize>(out.size()));
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Workspace work;
    {
        std::ofstream out(work.exe, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    using namespace nimbrel::resedit;
    std::u16string exe = nimbrel::platform::Utf16FromNarrow(work.exe);
    ResourceEditHandle* handle = BeginResourceEdit(exe, false);
    if (!handle) return 0;
    QueryResourceEntry(handle, RT_GROUP_ICON, 1, 2057, nullptr, nullptr);
    RemoveIconGroup(handle, u"1", 2057);
    ImportIconGroup(handle, u"0", 2057, nimbrel::platform::Utf16FromNarrow(work.ico));
    EndResourceEdit(handle, false);
    // Read back what the commit wrote.
    handle = BeginResourceEdit(exe, false);
    QueryResourceEntry(handle, RT_GROUP_ICON, u"0", 2057, nullptr, nullptr);
    EndResourceEdit(handle, true);
    return 0;
}
