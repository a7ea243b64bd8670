// Feeds arbitrary bytes to the INI text layer and the project reader, then writes back.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "project/big_ini_file.h"
#include "project/project_file.h"

using nimbrel::project::TBigIniFile;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    auto ini = TBigIniFile::FromBytes(bytes);

    for (const std::string& section : ini.SectionNames()) {
        for (const std::string& line : ini.SectionLines(section)) {
            std::string key = line.substr(0, line.find('='));
            (void)ini.ReadString(section, key, "");
            (void)ini.ReadInteger(section, key, 0);
            (void)ini.ReadBool(section, key, true);
        }
    }
    nimbrel::project::LoadedProject loaded = nimbrel::project::ReadProjectText(bytes);
    // The list read in one pass is what reading key by key gives, never runs past the highest
    // file key present, and no value holds a NUL.
    if (static_cast<std::int64_t>(loaded.files.size()) > ini.HighestNumberedKey("Files") + 1) __builtin_trap();
    for (std::size_t i = 0; i < loaded.files.size() && i < 64; ++i)
        if (loaded.files[i] != ini.ReadString("Files", std::to_string(i), "")) __builtin_trap();
    if (loaded.slideShow.output.find('\0') != std::string::npos) __builtin_trap();

    // What was read must come back the same after a rewrite.
    std::string first = ini.Content();
    auto reread = TBigIniFile::FromBytes(first);
    if (reread.Content() != first || reread.Modified()) __builtin_trap();

    // Writes, including ones that cut lines and add sections, then a flush without a file.
    reread.WriteString("Header", "Number", std::to_string(loaded.files.size()));
    reread.WriteInteger("Options", "ShowSpeed", loaded.slideShow.showSpeed);
    reread.WriteBool("options", "Center", loaded.slideShow.center);
    reread.WriteString("About", "ShowText", bytes.substr(0, 300));
    reread.WriteString(bytes.substr(0, 40), bytes.substr(0, 300), "v");
    reread.Flush();
    (void)reread.Content();
    return 0;
}
