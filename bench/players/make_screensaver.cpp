// Assembles a screensaver for measurements: a player stub followed by an archive of files.
//   player_make_screensaver OUTPUT STUB OPTIONS.INI ABOUT.CFG MEDIA...
//   player_make_screensaver OUTPUT STUB OPTIONS.INI ABOUT.CFG --copies N MEDIA...
// The media are stored as they are (photos do not shrink), in the order given. With --copies,
// N members named photo1.EXT to photoN.EXT take the media's bytes in turn (a show of very many
// pictures without as many files).

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>
#include <fstream>
#include <sstream>

#include "package_writer.h"

namespace {

std::string Read(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::string BareName(const std::string& path) {
    std::size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s OUTPUT STUB OPTIONS.INI ABOUT.CFG MEDIA...\n", argv[0]);
        return 2;
    }
    std::vector<nimbrel::testing::TestMember> members = {{"Options.ini", Read(argv[3])}, {"About.cfg", Read(argv[4])}};
    if (argc > 7 && std::string(argv[5]) == "--copies") {
        const long copies = std::atol(argv[6]);
        std::vector<std::string> media, extensions;
        for (int i = 7; i < argc; ++i) {
            media.push_back(Read(argv[i]));
            const std::string name = BareName(argv[i]);
            const std::size_t dot = name.find_last_of('.');
            extensions.push_back(dot == std::string::npos ? "" : name.substr(dot));
        }
        for (long k = 0; k < copies; ++k) {
            const std::size_t which = static_cast<std::size_t>(k) % media.size();
            members.push_back({"photo" + std::to_string(k + 1) + extensions[which], media[which]});
        }
    } else {
        for (int i = 5; i < argc; ++i) members.push_back({BareName(argv[i]), Read(argv[i])});
    }
    std::string bytes = Read(argv[2]) + nimbrel::testing::MakeTestArchive(members, true, false);
    std::ofstream(argv[1], std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return 0;
}
