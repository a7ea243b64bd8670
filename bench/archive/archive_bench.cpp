// Throughput and memory of packing a screensaver's media at fcMaximum, against gzip -9 over
// the same files in the same run. Prints figures; asserts nothing.
// Usage: archive_bench [--threads N] [--scale F]   (F scales the amount of media, default 1)
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "archive/zlb_archive.h"
#include "platform/files.h"
#include "platform/temp.h"

using namespace nimbrel;
using Clock = std::chrono::steady_clock;

namespace {

std::uint64_t state = 88172645463325252ull;
std::uint64_t Next() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
}

// Written in 1 MiB pieces so the generator itself stays small in memory.
void WriteMedia(const std::string& path, std::size_t size, bool photo) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::vector<unsigned char> piece(1 << 20);
    std::size_t written = 0;
    while (written < size) {
        std::size_t n = std::min(piece.size(), size - written);
        for (std::size_t i = 0; i < n; i += 8) {
            std::uint64_t v = Next();
            if (photo) {
                std::memcpy(&piece[i], &v, std::min<std::size_t>(8, n - i));
            } else {  // a bitmap: smooth gradient rows with a little noise
                for (std::size_t k = 0; k < 8 && i + k < n; ++k) {
                    std::size_t at = written + i + k;
                    piece[i + k] = static_cast<unsigned char>(((at / 3) % 1920) / 8 + ((v >> (k * 8)) & 3));
                }
            }
        }
        std::fwrite(piece.data(), 1, n, f);
        written += n;
    }
    std::fclose(f);
}

long PeakRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

double Seconds(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

}  // namespace

int main(int argc, char** argv) {
    int threads = -1;
    double scale = 1.0;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--threads") == 0) threads = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--scale") == 0) scale = std::atof(argv[i + 1]);
    }
    platform::TempDirectory dir("nbbench");
    std::vector<std::string> files;
    std::uint64_t total = 0;
    auto add = [&](const std::string& name, std::size_t size, bool photo) {
        size = static_cast<std::size_t>(static_cast<double>(size) * scale);
        files.push_back(dir.File(name));
        WriteMedia(files.back(), size, photo);
        total += size;
    };
    for (int i = 0; i < 30; ++i) add("photo" + std::to_string(i) + ".jpg", 6 << 20, true);
    add("panorama.jpg", 24 << 20, true);  // above the 20 MiB memory staging limit
    for (int i = 0; i < 4; ++i) add("bitmap" + std::to_string(i) + ".bmp", 6 << 20, false);
    long rssBefore = PeakRssKiB();
    std::printf("media: %zu files, %.1f MB (%ld KiB peak RSS after generating them)\n", files.size(),
                static_cast<double>(total) / 1e6, rssBefore);

    archive::TZLBArchive cab;
    cab.CompressionLevel = archive::fcMaximum;
    if (threads >= 0) cab.WorkerThreads = threads;
    int reports = 0;
    cab.OnProgress = [&reports](const std::string&, int) { ++reports; };
    std::string out = dir.File("temp.cab");
    std::vector<std::string> list = files;
    auto start = Clock::now();
    cab.CreateArchive(out);
    cab.AddFiles(list);
    cab.CloseArchive();
    double ours = Seconds(start);
    std::int64_t archiveSize = platform::FileSize(out);
    long peak = PeakRssKiB();

    std::string command = "gzip -9 -c";
    for (const std::string& f : files) command += " '" + f + "'";
    command += " > '" + dir.File("all.gz") + "'";
    start = Clock::now();
    int rc = std::system(command.c_str());
    double gzip = Seconds(start);
    std::int64_t gzipSize = platform::FileSize(dir.File("all.gz"));

    std::printf(
        "TZLBArchive fcMaximum (worker threads %d): %.2f s, %.1f MB/s, archive %lld bytes, %d progress "
        "reports\n",
        cab.WorkerThreads, ours, static_cast<double>(total) / 1e6 / ours, static_cast<long long>(archiveSize),
        reports);
    std::printf("gzip -9 (exit %d): %.2f s, %.1f MB/s, %lld bytes\n", rc, gzip,
                static_cast<double>(total) / 1e6 / gzip, static_cast<long long>(gzipSize));
    std::printf("throughput relative to gzip -9: %.2f (target >= 0.90)\n", gzip / ours);
    std::printf("peak RSS of this process: %.1f MiB (target < 64 MiB)\n", static_cast<double>(peak) / 1024.0);
    return 0;
}
