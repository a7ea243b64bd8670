#pragma once
// One round of the build's icon calls on files in a private folder, shared by the icon targets.
#include <cstdint>
#include <fstream>
#include <string>

#include "platform/file_mapping.h"
#include "platform/temp.h"
#include "resedit/resource_edit.h"

namespace nimbrel::fuzzinputs {

struct IconWorkspace {
    platform::TempDirectory dir{"iconfuzz"};
    std::string exe = dir.File("input.exe");
    std::string ico = dir.File("icon.ico");

    static void Write(const std::string& path, const std::uint8_t* data, std::size_t size) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }

    // Removes icon group "1", imports the icon as group "0", commits, and reads the result back.
    void Run() const {
        using namespace nimbrel::resedit;
        std::u16string exePath = platform::Utf16FromNarrow(exe);
        ResourceEditHandle* handle = BeginResourceEdit(exePath, false);
        if (!handle) return;
        RemoveIconGroup(handle, u"1", 2057);
        ImportIconGroup(handle, u"0", 2057, platform::Utf16FromNarrow(ico));
        EndResourceEdit(handle, false);
        handle = BeginResourceEdit(exePath, false);
        std::string group;
        FindIconGroup(handle, u"0", 2057, &group);
        EndResourceEdit(handle, true);
    }
};

}  // namespace nimbrel::fuzzinputs
