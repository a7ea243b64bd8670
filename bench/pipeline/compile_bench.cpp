// compile_bench [PICTURES] [MB]: builds a slideshow screensaver from generated "photos" (random
// bytes, as incompressible as JPEG data) and some bitmaps, then runs gzip -9 over the same files,
// and prints both times, their ratio and the build's peak memory.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "pipeline/build_pipeline.h"
#include "pipeline/project_state.h"
#include "platform/files.h"
#include "platform/temp.h"

using namespace nimbrel;

namespace {

struct Quiet : pipeline::BuildReporter {
    int reports = 0;
    void Progress(int) override { ++reports; }
    void Notice(const std::string&) override {}
};

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
    const int pictures = argc > 1 ? std::atoi(argv[1]) : 300;
    const double megabytes = argc > 2 ? std::atof(argv[2]) : 310;
    const std::size_t each = static_cast<std::size_t>(megabytes * 1e6 / pictures);

    platform::TempDirectory dir("nbbench");
    std::mt19937_64 random(42);
    std::vector<std::string> files;
    std::string buffer(each, '\0');
    std::uint64_t total = 0;
    for (int i = 0; i < pictures; ++i) {
        bool bitmap = i % 10 == 9;  // one in ten a bitmap that compresses well
        for (std::size_t k = 0; k + 8 <= buffer.size(); k += 8) {
            std::uint64_t v = bitmap ? (k / 2400) * 0x0101010101010101ull : random();
            std::memcpy(&buffer[k], &v, 8);
        }
        std::string path = dir.File("pic" + std::to_string(i) + (bitmap ? ".bmp" : ".jpg"));
        std::ofstream(path, std::ios::binary).write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        files.push_back(path);
        total += buffer.size();
    }
    std::ofstream(dir.File("stub.bin"), std::ios::binary) << std::string(200000, 'S');

    pipeline::BuildRequest request;
    request.projectFileName = dir.File("bench.nssp");
    request.values = pipeline::NewProjectValues();
    request.values.files = files;
    request.stubPath = request.flashStubPath = dir.File("stub.bin");
    Quiet reporter;
    auto start = std::chrono::steady_clock::now();
    pipeline::BuildResult result = pipeline::CompileProject(request, reporter);
    double buildSeconds = Seconds(start);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    double peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;

    std::string list;
    for (const auto& f : files) list += " '" + f + "'";
    start = std::chrono::steady_clock::now();
    int rc = std::system(("cat" + list + " | gzip -9 > /dev/null").c_str());
    double gzipSeconds = Seconds(start);

    std::printf("pictures: %d, %.1f MB; screensaver %.1f MB; %d progress reports\n", pictures, total / 1e6,
                result.outputSize / 1e6, reporter.reports);
    std::printf("compile: %.2f s (%.1f MB/s), peak memory %.1f MiB\n", buildSeconds, total / 1e6 / buildSeconds,
                peakMiB);
    std::printf("gzip -9: %.2f s (%.1f MB/s)%s\n", gzipSeconds, total / 1e6 / gzipSeconds, rc ? " (failed)" : "");
    std::printf("throughput of compile relative to gzip -9: %.2f\n", gzipSeconds / buildSeconds);
    return 0;
}
