// Writes the seed corpus of swf_header_fuzz: test movies plain and compressed, and an index.
#include <fstream>
#include <string>

#include "flash/frame_index.h"
#include "flash/swf_writer.h"

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const std::string dir = argv[1];
    using namespace nimbrel::flash::testing;
    int n = 0;
    for (bool compressed : {false, true})
        for (bool script : {false, true}) {
            MoviePlan plan;
            plan.compressed = compressed;
            if (script) plan.extraTags = EndlessScriptTag();
            const auto bytes = MakeMovie(plan);
            std::ofstream(dir + "/movie" + std::to_string(n++) + ".swf", std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()),
                       static_cast<std::streamsize>(bytes.size()));
        }
    nimbrel::flash::FrameIndex index{640, 480, 24, 0x102030, {"f00000.jpg", "f00000.jpg", "f00001.jpg"}};
    std::ofstream(dir + "/index.frames", std::ios::binary) << nimbrel::flash::WriteFrameIndex(index);
    return 0;
}
