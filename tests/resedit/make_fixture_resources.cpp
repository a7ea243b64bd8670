// Writes the resource payloads and the .rc scripts of the test executables into a directory.
// Every payload is made here from a seed, so the tests can make the same bytes again.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "fixture_payloads.h"

namespace {

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

struct Entry {
    std::string name;  // "50" or "\"1\"" or "MAINICON"
    int type;
    int primary, sub;
    std::string file;
    std::string bytes;
};

void WriteScript(const std::string& dir, const std::string& script, const std::vector<Entry>& entries) {
    std::string rc;
    for (const Entry& e : entries) {
        WriteFile(dir + "/" + e.file, e.bytes);
        // A LANGUAGE line before every entry also keeps windres from joining a quoted name to
        // the file name before it.
        rc += "LANGUAGE " + std::to_string(e.primary) + ", " + std::to_string(e.sub) + "\n";
        rc += e.name + " " + std::to_string(e.type) + " \"" + e.file + "\"\n";
    }
    WriteFile(dir + "/" + script, rc);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s output-directory\n", argv[0]);
        return 2;
    }
    std::string dir = argv[1];
    using namespace fixture;
    // English (US) 1033 = 9/1, English (UK) 2057 = 9/2, German 1031 = 7/1.
    WriteScript(dir, "basic.rc",
                {
                    {"1", 3, 9, 1, "b_icon1.bin", Payload(1, 744)},
                    {"2", 3, 9, 1, "b_icon2.bin", Payload(2, 296)},
                    {"50", 3, 9, 2, "b_icon50.bin", Payload(50, 1384)},
                    {"51", 3, 9, 2, "b_icon51.bin", Payload(51, 2216)},
                    {"53", 3, 9, 1, "b_icon53.bin", Payload(53, 101)},
                    {"1", 14, 9, 1, "b_group1.bin", GroupRecord({1, 2})},
                    {"\"1\"", 14, 9, 2, "b_group_1.bin", GroupRecord({50, 51})},
                    {"MainIcon", 14, 9, 1, "b_group_main.bin", GroupRecord({53})},
                    {"7", 10, 9, 1, "b_data7_en.bin", Payload(7, 9000)},
                    {"7", 10, 7, 1, "b_data7_de.bin", Payload(77, 13)},
                    {"Blob", 10, 9, 2, "b_blob.bin", Payload(99, 37)},
                });
    WriteScript(dir, "plain.rc",
                {
                    {"1", 3, 9, 1, "p_icon1.bin", Payload(101, 744)},
                    {"2", 3, 9, 1, "p_icon2.bin", Payload(102, 296)},
                    {"1", 14, 9, 1, "p_group1.bin", GroupRecord({1, 2})},
                    {"1", 16, 9, 1, "p_version.bin", Payload(103, 92)},
                });
    return 0;
}
