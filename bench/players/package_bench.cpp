// How long the player's own start takes for a large show, natively: mapping the screensaver,
// finding and verifying its archive (the CRC of every byte), reading its settings and taking out
// the first picture. Prints figures; the whole player under wine is measured by
// first_picture_under_wine.sh.

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>

#include "package.h"
#include "package_writer.h"

namespace {

double Since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    const int pictures = argc > 1 ? std::atoi(argv[1]) : 30;
    const std::size_t pictureBytes = 10u * 1024 * 1024;
    std::string path = "/tmp/nimbrel_player_bench.scr";
    {
        std::mt19937 random(7);
        std::vector<nimbrel::testing::TestMember> members;
        std::vector<std::string> files;
        for (int i = 0; i < pictures; ++i) files.push_back("C:\\Photos\\photo" + std::to_string(i) + ".jpg");
        members.push_back({"Options.ini", nimbrel::testing::MakeSlideShowProject(files, {"ShowSpeed=10"})});
        members.push_back({"About.cfg", nimbrel::testing::MakeAboutFile("Photos", "Big")});
        for (int i = 0; i < pictures; ++i) {
            std::string bytes(pictureBytes, '\0');
            for (char& c : bytes) c = static_cast<char>(random());
            members.push_back({"photo" + std::to_string(i) + ".jpg", std::move(bytes)});
        }
        std::string file = std::string(400000, 'M') + nimbrel::testing::MakeTestArchive(members, true, false);
        std::ofstream(path, std::ios::binary).write(file.data(), static_cast<std::streamsize>(file.size()));
    }
    // Drop nothing from the page cache: this measures the player's work, not the disk.
    auto start = std::chrono::steady_clock::now();
    int fd = open(path.c_str(), O_RDONLY);
    struct stat st {};
    fstat(fd, &st);
    void* map = mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) return 1;
    auto* data = static_cast<const unsigned char*>(map);
    double mapped = Since(start);
    nimbrel::player::Package package(data, static_cast<std::size_t>(st.st_size));
    double opened = Since(start);
    std::string first = package.Extract(package.SlideOrder().front());
    double extracted = Since(start);
    std::printf("screensaver: %d pictures, %.1f MB\n", pictures, static_cast<double>(st.st_size) / 1048576.0);
    std::printf("map: %.1f ms, find + verify archive + read settings: %.1f ms, first picture's bytes: %.1f ms\n",
                mapped, opened - mapped, extracted - opened);
    munmap(map, static_cast<std::size_t>(st.st_size));
    close(fd);
    unlink(path.c_str());
    return first.size() == pictureBytes ? 0 : 1;
}
