// How long the player's own start takes for a large show, natively: mapping the screensaver,
// finding and verifying its archive (the CRC of every byte), reading its settings and taking out
// the first picture. Prints figures; the whole player under wine is measured by
// first_picture_under_wine.sh.
//   player_package_bench [PICTURES]      a made-up show of PICTURES 10 MB members
//   player_package_bench --open FILE     the steps of opening FILE, a screensaver made elsewhere
//                                        (e.g. by first_picture_under_wine.sh --many 100000)

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <cstdio>
#include <fstream>
#include <random>

#include "archive/archive_reader.h"
#include "package.h"
#include "package_writer.h"
#include "project/project_file.h"
#include "show/show_order.h"

namespace {

double Since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// The calling thread's processor time in milliseconds: on a loaded machine, what a step costs.
double ThreadMs() {
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// Times each step of opening an existing screensaver (in processor time), three times over.
int OpenExisting(const char* path) {
    using namespace nimbrel;
    const int fd = open(path, O_RDONLY);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0) return 1;
    const auto size = static_cast<std::size_t>(st.st_size);
    void* map = mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) return 1;
    auto* data = static_cast<const unsigned char*>(map);
    for (int run = 1; run <= 3; ++run) {
        double start = ThreadMs();
        archive::ArchiveReader reader(archive::MemoryByteSource(data, size));
        const double directory = ThreadMs() - start;
        std::vector<std::string> names;
        for (const auto& member : reader.Members()) names.push_back(member.name);
        std::string settings;
        for (std::size_t i = 0; i < names.size(); ++i)
            if (names[i] == "Options.ini") settings = reader.Extract(i);
        const double extracted = ThreadMs() - start;
        const project::LoadedProject project = project::ReadProjectText(settings);
        const double parsed = ThreadMs() - start;
        const std::vector<std::size_t> order = show::ShowOrder(project.files, names);
        const double ordered = ThreadMs() - start;
        start = ThreadMs();
        const player::Package package(data, size, false);
        const double whole = ThreadMs() - start;
        std::printf("run %d: %zu members, processor time: directory %.1f ms, settings taken out %.1f ms, read %.1f ms, "
                    "show order %.1f ms (%zu pictures); the whole Package %.1f ms\n",
                    run, names.size(), directory, extracted - directory, parsed - extracted, ordered - parsed,
                    order.size(), whole);
    }
    munmap(map, size);
    close(fd);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2 && std::string(argv[1]) == "--open") return OpenExisting(argv[2]);
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
