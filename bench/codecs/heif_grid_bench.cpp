// heif_grid_bench [SIDE [TILE]]: makes a SIDE x SIDE HEIC grid picture (default 10240 of 2048 x
// 2048 tiles, 100 megapixels, as large phone and camera photos are stored) from four noisy
// photo-like tiles, converts it as a compile with "Fit pictures to the screen" at 3840 x 2160
// does, and prints the conversion's time and how far it raised the process's peak memory.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "pipeline/picture_conversion.h"
#include "codecs/codecs.h"
#include "test_pictures.h"

using namespace nimbrel;
using namespace nimbrel::codecs::testing;

namespace {

double StatusMiB(const char* field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field, 0) == 0) return std::atof(line.c_str() + std::string(field).size()) / 1024;
    return 0;
}

imaging::Image NoisyTile(int side, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> noise(-12, 12);
    imaging::Image image(side, side);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            auto c = [&](int base) {
                return static_cast<std::uint8_t>(std::clamp(base + noise(random), 0, 255));
            };
            image.Set(x, y,
                      imaging::MakePixel(c(40 + 150 * x / side + 40 * static_cast<int>(seed % 2)),
                                         c(60 + 120 * y / side), c(90 + 30 * static_cast<int>(seed))));
        }
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    const int side = argc > 1 ? std::atoi(argv[1]) : 10240;
    const int tileSide = argc > 2 ? std::atoi(argv[2]) : 2048;
    if (side < 1 || tileSide < 1 || tileSide > side) {
        std::fprintf(stderr, "usage: heif_grid_bench [SIDE [TILE]]\n");
        return 2;
    }
    const int cells = (side + tileSide - 1) / tileSide;
    if (cells > 256) {
        std::fprintf(stderr, "at most 256 tiles a side\n");
        return 2;
    }
    std::vector<HeifTile> tiles;
    for (unsigned t = 0; t < 4; ++t) tiles.push_back(TakeHeifTile(MakeHeif(NoisyTile(tileSide, t), false)));
    HeifGridLayout layout;
    layout.rows = layout.columns = cells;
    layout.width = layout.height = static_cast<std::uint32_t>(side);
    for (int i = 0; i < cells * cells; ++i) layout.cells.push_back(i % 4);
    const Bytes grid = MakeHeifGrid(tiles, layout);
    std::printf("grid %d x %d (%.1f megapixels) of %d x %d tiles of %d x %d, %.1f MB\n", side, side,
                static_cast<double>(side) * side / 1e6, cells, cells, tileSide, tileSide, grid.size() / 1e6);

    std::ofstream("/proc/self/clear_refs") << "5";
    const double before = StatusMiB("VmRSS:");
    const auto start = std::chrono::steady_clock::now();
    const pipeline::ConvertedPicture fitted = pipeline::ConvertPicture("grid.heic", grid, {true, 3840, 2160});
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double peak = StatusMiB("VmHWM:") - before;
    std::printf(
        "converted to a %d x %d %s of %.1f MB in %.2f s; peak memory %.0f MiB above the %.0f MiB before "
        "(the whole picture would take %.0f MiB as RGBA)\n",
        fitted.width, fitted.height, fitted.format.c_str(), fitted.bytes.size() / 1e6, seconds, peak, before,
        static_cast<double>(side) * side * 4 / (1024 * 1024));
    return fitted.converted ? 0 : 1;
}
