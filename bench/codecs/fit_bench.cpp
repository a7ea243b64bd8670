// fit_bench [PHOTOS] [WIDTH HEIGHT]: makes PHOTOS noisy photos of WIDTH x HEIGHT (default 100 of
// 6000 x 4000, 24 megapixels, 8-12 MB each as JPEG), compiles a show of them with "Fit pictures
// to the screen" at 3840 x 2160, and prints photos a second, the screensaver's share of the
// photos' size, the longest time without a progress report and the compile's peak memory; then times
// the conversion alone on 1 and 2 workers, and one photo's parts (decode, shrink, encode) with
// what the decoder's own scaling changes in the result, and its conversion against its full-size
// decode taken in turns (steadier on a busy machine).
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "pipeline/build_pipeline.h"
#include "pipeline/picture_conversion.h"
#include "pipeline/project_state.h"
#include "codecs/codecs.h"
#include "platform/files.h"
#include "platform/temp.h"

using namespace nimbrel;

namespace {

// Measures the longest time between two reports that move the window's bar or name a picture,
// and where in the build it was (the overall fraction before and after it).
struct Reporter : pipeline::BuildReporter {
    std::chrono::steady_clock::time_point last = std::chrono::steady_clock::now();
    double longestGap = 0;
    double fraction = 0, gapFrom = 0, gapTo = 0;
    void Progress(int) override {
        Tick();
        ProcessEvents();
    }
    void Overall(const pipeline::BuildProgress& progress) override { fraction = progress.fraction; }
    void Notice(const std::string&) override {}
    void PictureProgress(const std::string&, int, int) override { Tick(); }
    // The window keeps painting whenever the build calls this (or Progress).
    std::chrono::steady_clock::time_point lastPaint = std::chrono::steady_clock::now();
    double longestUnpainted = 0;
    void ProcessEvents() override {
        const auto now = std::chrono::steady_clock::now();
        longestUnpainted = std::max(longestUnpainted, std::chrono::duration<double>(now - lastPaint).count());
        lastPaint = now;
    }
    void Tick() {
        const auto now = std::chrono::steady_clock::now();
        const double gap = std::chrono::duration<double>(now - last).count();
        if (gap > longestGap) longestGap = gap, gapFrom = lastFraction, gapTo = fraction;
        last = now;
        lastFraction = fraction;
    }
    double lastFraction = 0;
};

// Linux keeps a process's peak resident size in VmHWM and resets it on request.
bool ResetPeakMemory() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return static_cast<bool>(clear);
}

double PeakMemoryKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6);
    return 0;
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// A photo-like picture: soft gradients with sensor-like noise, so that JPEG cannot shrink it much.
imaging::Image Photo(int width, int height, unsigned seed) {
    imaging::Image image(width, height);
    std::minstd_rand random(seed);
    for (int y = 0; y < height; ++y) {
        imaging::Pixel* row = image.Row(y);
        for (int x = 0; x < width; ++x) {
            const unsigned n = random();
            auto channel = [&](int base, int shift) {
                return static_cast<std::uint8_t>(
                    std::clamp(base + static_cast<int>((n >> shift) & 63) - 32, 0, 255));
            };
            row[x] = imaging::MakePixel(channel(40 + x * 160 / width, 0), channel(60 + y * 140 / height, 6),
                                        channel(120 + (x + y + static_cast<int>(seed) * 97) % 100, 12));
        }
    }
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    const int photos = argc > 1 ? std::atoi(argv[1]) : 100;
    const int width = argc > 3 ? std::atoi(argv[2]) : 6000;
    const int height = argc > 3 ? std::atoi(argv[3]) : 4000;

    platform::TempDirectory dir("nbfitbench");
    std::ofstream(dir.File("stub.bin"), std::ios::binary) << "MZ stand-in player";
    std::vector<std::string> files;
    std::uint64_t total = 0;
    const auto made = std::chrono::steady_clock::now();
    // A few distinct photos, each written several times under its own name, keep the setup short.
    std::vector<std::vector<std::uint8_t>> distinct;
    // NIMBREL_FIT_PHOTO names a JPEG to use instead (of WIDTH x HEIGHT, which must be given).
    if (const char* own = std::getenv("NIMBREL_FIT_PHOTO")) {
        const std::string bytes = platform::ReadWholeFile(own);
        distinct.emplace_back(bytes.begin(), bytes.end());
    }
    for (int i = 0; i < std::min(photos, 4) && distinct.empty(); ++i)
        distinct.push_back(codecs::EncodeJpeg(Photo(width, height, static_cast<unsigned>(i + 1)), 90));
    // NIMBREL_FIT_SAVE names a file to keep the first photo in (to time other tools on it).
    if (const char* save = std::getenv("NIMBREL_FIT_SAVE"))
        std::ofstream(save, std::ios::binary)
            .write(reinterpret_cast<const char*>(distinct[0].data()), static_cast<std::streamsize>(distinct[0].size()));
    for (int i = 0; i < photos; ++i) {
        const auto& bytes = distinct[static_cast<std::size_t>(i) % distinct.size()];
        files.push_back(dir.File("IMG_" + std::to_string(1000 + i) + ".jpg"));
        std::ofstream(files.back(), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        total += bytes.size();
    }
    std::printf("%d photos of %d x %d, %.1f MB in all (%.1f MB each), made in %.1f s\n", photos, width,
                height, total / 1e6, total / 1e6 / photos, Seconds(made));

    pipeline::BuildRequest request;
    request.projectFileName = dir.File("Photos.nssp");
    request.values = pipeline::NewProjectValues();
    request.values.files = files;
    request.values.slideShow.fitPictures = true;
    request.stubPath = dir.File("stub.bin");
    request.flashStubPath = request.stubPath;
    distinct.clear();
    distinct.shrink_to_fit();
    // The peak is the compile's own, not that of making the photos above.
    const bool peakReset = ResetPeakMemory();
    Reporter reporter;
    const auto start = std::chrono::steady_clock::now();
    const std::clock_t cpuStart = std::clock();
    const pipeline::BuildResult result = pipeline::CompileProject(request, reporter);
    const double seconds = Seconds(start);
    const double cpu = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double peak = peakReset ? PeakMemoryKiB() : static_cast<double>(usage.ru_maxrss);
    std::printf(
        "compile with Fit 3840x2160: %.2f s, %.2f photos/s; %.2f CPU seconds a photo (%.2f photos a second "
        "for each idle core); screensaver %.1f MB = %.1f %% of the photos; longest gap between progress "
        "reports %.2f s (from %.3f to %.3f of the build), without a chance to paint the window %.2f s; "
        "peak memory %.0f MB%s\n",
        seconds, photos / seconds, cpu / photos, photos / cpu, result.outputSize / 1e6,
        100.0 * result.outputSize / total, reporter.longestGap, reporter.gapFrom, reporter.gapTo,
        reporter.longestUnpainted, peak / 1024.0, peakReset ? " (the compile alone)" : " (with the set-up)");

    // What the conversion is measured against: a whole decode of the same photos at their full
    // size through libjpeg-turbo (as djpeg does it, without writing the pixels anywhere).
    double decodeCpu = 0;
    {
        const int count = std::min(photos, 8);
        auto decoder = codecs::MakeLibraryDecoder();
        const auto begun = std::chrono::steady_clock::now();
        const std::clock_t cpuBegun = std::clock();
        for (int i = 0; i < count; ++i) {
            const std::string bytes = platform::ReadWholeFile(files[static_cast<std::size_t>(i)]);
            const auto data =
                std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
            auto source = decoder->Open(files[static_cast<std::size_t>(i)], data);
            if (!source) return 1;
            std::vector<imaging::Pixel> band(static_cast<std::size_t>(source->RowWidth()) * 32);
            for (int y = 0; y < source->RowHeight(); y += 32)
                if (!source->ReadRows(y, std::min(32, source->RowHeight() - y), band.data())) return 1;
        }
        decodeCpu = static_cast<double>(std::clock() - cpuBegun) / CLOCKS_PER_SEC / count;
        std::printf("full-size decode alone: %.3f CPU s a photo (%.3f s of wall time)\n", decodeCpu,
                    Seconds(begun) / count);
    }
    // The conversion's parts for one photo, each in processor time: its decode at the scale the
    // conversion chooses, the linear-light shrink of those rows, and the encode of the result.
    {
        const std::string bytes = platform::ReadWholeFile(files[0]);
        const auto data =
            std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        auto decoder = codecs::MakeLibraryDecoder();
        auto seconds = [](std::clock_t since) { return static_cast<double>(std::clock() - since) / CLOCKS_PER_SEC; };
        const int repeats = 3;
        std::clock_t begun = std::clock();
        int decodedWidth = 0, decodedHeight = 0;
        for (int i = 0; i < repeats; ++i) {
            auto source = decoder->Open(files[0], data, {3840, 2160});
            if (!source) return 1;
            decodedWidth = source->RowWidth(), decodedHeight = source->RowHeight();
            std::vector<imaging::Pixel> band(static_cast<std::size_t>(decodedWidth) * 32);
            for (int y = 0; y < decodedHeight; y += 32)
                if (!source->ReadRows(y, std::min(32, decodedHeight - y), band.data())) return 1;
        }
        const double decode = seconds(begun) / repeats;
        imaging::Image rows = imaging::ReadWholePicture(*decoder->Open(files[0], data, {3840, 2160}));
        int fitWidth = 0, fitHeight = 0;
        codecs::FittedStoredSize(width, height, 1, {3840, 2160}, fitWidth, fitHeight);
        fitWidth = std::min(fitWidth, rows.Width());
        fitHeight = std::min(fitHeight, rows.Height());
        // The shrink hands its rows on as the conversion's does (there into the encoder, here
        // into one picture made beforehand, for the encode and the comparison below).
        imaging::Image small(fitWidth, fitHeight);
        begun = std::clock();
        for (int i = 0; i < repeats; ++i) {
            codecs::LinearAreaScaler scaler(rows.Width(), rows.Height(), fitWidth, fitHeight,
                                            [&](int y, const imaging::Pixel* row) {
                                                std::copy(row, row + fitWidth, small.Row(y));
                                            });
            for (int y = 0; y < rows.Height(); ++y) scaler.PushRow(rows.Row(y));
        }
        const double shrink = seconds(begun) / repeats;
        begun = std::clock();
        std::size_t encoded = 0;
        for (int i = 0; i < repeats; ++i) encoded = codecs::EncodeJpeg(small, 92).size();
        const double encode = seconds(begun) / repeats;
        // What the decoder's own scaling changes: the result against the whole-size decode shrunk
        // in linear light alone, as PSNR over the three colours (and the largest difference).
        {
            imaging::Image whole = imaging::ReadWholePicture(*decoder->Open(files[0], data));
            codecs::LinearAreaScaler scaler(whole.Width(), whole.Height(), fitWidth, fitHeight);
            for (int y = 0; y < whole.Height(); ++y) scaler.PushRow(whole.Row(y));
            const imaging::Image reference = scaler.Take();
            auto psnr = [&](const imaging::Image& a, const imaging::Image& b, int& most) {
                double squares = 0;
                most = 0;
                for (int y = 0; y < a.Height(); ++y)
                    for (int x = 0; x < a.Width(); ++x)
                        for (int shift : {0, 8, 16}) {
                            const int d = static_cast<int>((a.At(x, y) >> shift) & 0xFF) -
                                          static_cast<int>((b.At(x, y) >> shift) & 0xFF);
                            squares += d * d;
                            most = std::max(most, std::abs(d));
                        }
                const double mse = squares / (3.0 * a.Width() * a.Height());
                return mse > 0 ? 10 * std::log10(255.0 * 255.0 / mse) : 99.0;
            };
            int most = 0, mostEncoded = 0;
            const double scaled = psnr(small, reference, most);
            const std::vector<std::uint8_t> jpeg = codecs::EncodeJpeg(small, 92);
            const imaging::Image back = imaging::ReadWholePicture(*decoder->Open(
                "fit.jpg", std::span<const std::uint8_t>(jpeg.data(), jpeg.size())));
            const double encoded = psnr(back, small, mostEncoded);
            std::printf("decoded at %d x %d and shrunk against decoded whole and shrunk: PSNR %.1f dB, largest "
                        "difference %d levels (for scale: the JPEG at quality 92 against its own pixels: PSNR "
                        "%.1f dB, largest difference %d)\n",
                        decodedWidth, decodedHeight, scaled, most, encoded, mostEncoded);
        }
        std::printf("one photo's parts: decode to %d x %d %.3f CPU s, linear-light shrink to %d x %d %.3f CPU s, "
                    "encode %.3f CPU s (%.1f MB)\n",
                    decodedWidth, decodedHeight, decode, fitWidth, fitHeight, shrink, encode, encoded / 1e6);
    }
    // The same comparison steadier on a busy machine: one photo's full-size decode and its
    // conversion (from memory) taken in turns, the best of several of each.
    {
        const std::string bytes = platform::ReadWholeFile(files[0]);
        const auto data =
            std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        auto decoder = codecs::MakeLibraryDecoder();
        double bestDecode = 1e9, bestConversion = 1e9;
        for (int round = 0; round < 6; ++round) {
            std::clock_t begun = std::clock();
            auto source = decoder->Open(files[0], data);
            if (!source) return 1;
            std::vector<imaging::Pixel> band(static_cast<std::size_t>(source->RowWidth()) * 32);
            for (int y = 0; y < source->RowHeight(); y += 32)
                if (!source->ReadRows(y, std::min(32, source->RowHeight() - y), band.data())) return 1;
            bestDecode = std::min(bestDecode, static_cast<double>(std::clock() - begun) / CLOCKS_PER_SEC);
            begun = std::clock();
            if (!pipeline::ConvertPicture(files[0], data, {true, 3840, 2160}).converted) return 1;
            bestConversion = std::min(bestConversion, static_cast<double>(std::clock() - begun) / CLOCKS_PER_SEC);
        }
        std::printf("taken in turns, best of 6: full-size decode %.3f CPU s, conversion %.3f CPU s = %.2fx\n",
                    bestDecode, bestConversion, bestConversion / bestDecode);
    }
    for (int threads : {1, 2}) {
        platform::TempDirectory work("nbfitwork");
        const int count = std::min(photos, 8);
        const std::vector<std::string> some(files.begin(), files.begin() + count);
        const auto begun = std::chrono::steady_clock::now();
        const std::clock_t cpuBegun = std::clock();
        pipeline::PreparePictures(some, {true, 3840, 2160}, work.Path(), threads);
        const double s = Seconds(begun);
        const double c = static_cast<double>(std::clock() - cpuBegun) / CLOCKS_PER_SEC;
        std::printf(
            "conversion alone, %d worker(s): %d photos in %.2f s (%.2f photos/s, %.3f s of wall time a photo), "
            "%.3f CPU s a photo\n",
            threads, count, s, count / s, s / count, c / count);
        if (threads == 1)
            std::printf("conversion with Fit 3840x2160 against the full-size decode: %.2fx the CPU time (a "
                        "decode in memory that writes its pixels nowhere; the 1.3x goal is against djpeg's, "
                        "see fit_against_djpeg.sh)\n",
                        c / count / decodeCpu);
    }
    return result.built ? 0 : 1;
}
