// frame_format_bench [SECONDS] [FPS] [WIDTH] [HEIGHT]: records a movie of a square crossing the
// stage (4 s at 24 fps, 800 x 600 by default) exactly as drawn, then packs its distinct frames two
// ways and prints the bytes and the time to decode a frame of each:
//   - JPEG at the recorder's quality, as the screensaver holds them now;
//   - a delta of our own against the frame before, runs of one colour, zlib-compressed as the
//     archive compresses members (a delta frame: varint skip, varint run, 3 bytes colour, ...).
// Prints figures; decides nothing.
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "codecs/codecs.h"
#include "flash/flash_recorder.h"
#include "flash/swf_writer.h"
#include "platform/files.h"
#include "platform/temp.h"

using namespace nimbrel;
using Clock = std::chrono::steady_clock;

namespace {

void Varint(std::vector<std::uint8_t>& out, std::uint32_t v) {
    while (v >= 0x80) out.push_back(static_cast<std::uint8_t>(v | 0x80)), v >>= 7;
    out.push_back(static_cast<std::uint8_t>(v));
}

std::uint32_t ReadVarint(const std::uint8_t*& p) {
    std::uint32_t v = 0;
    for (int shift = 0;; shift += 7) {
        const std::uint8_t b = *p++;
        v |= static_cast<std::uint32_t>(b & 0x7F) << shift;
        if (!(b & 0x80)) return v;
    }
}

// The frame as skips over pixels unchanged since `before` (empty: none are) and runs of one colour.
std::vector<std::uint8_t> DeltaRuns(const imaging::Image& frame, const imaging::Image& before) {
    std::vector<std::uint8_t> out;
    const std::size_t n = static_cast<std::size_t>(frame.Width()) * frame.Height();
    const imaging::Pixel* p = frame.Data();
    const imaging::Pixel* q = before.Empty() ? nullptr : before.Data();
    std::size_t i = 0;
    while (i < n) {
        std::size_t skip = 0;
        while (q && i + skip < n && ((p[i + skip] ^ q[i + skip]) & 0xFFFFFF) == 0) ++skip;
        i += skip;
        std::size_t run = 0;
        while (i + run < n && ((p[i + run] ^ p[i]) & 0xFFFFFF) == 0 &&
               !(q && run > 0 && ((p[i + run] ^ q[i + run]) & 0xFFFFFF) == 0))
            ++run;
        Varint(out, static_cast<std::uint32_t>(skip));
        Varint(out, static_cast<std::uint32_t>(run));
        if (run) {
            out.push_back(imaging::RedOf(p[i])), out.push_back(imaging::GreenOf(p[i])),
                out.push_back(imaging::BlueOf(p[i]));
        }
        i += run;
    }
    return out;
}

std::vector<std::uint8_t> Deflate(const std::vector<std::uint8_t>& data) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::vector<std::uint8_t> out(size);
    compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), Z_DEFAULT_COMPRESSION);
    out.resize(size);
    return out;
}

// Inflates the delta and applies it onto `frame`, which holds the frame before.
void ApplyDelta(const std::vector<std::uint8_t>& packed, std::size_t rawSize, imaging::Image& frame) {
    std::vector<std::uint8_t> raw(rawSize);
    uLongf size = static_cast<uLongf>(rawSize);
    uncompress(raw.data(), &size, packed.data(), static_cast<uLong>(packed.size()));
    const std::uint8_t* p = raw.data();
    const std::uint8_t* end = raw.data() + size;
    imaging::Pixel* out = frame.Data();
    while (p < end) {
        out += ReadVarint(p);
        const std::uint32_t run = ReadVarint(p);
        if (run) {
            const imaging::Pixel c = imaging::MakePixel(p[0], p[1], p[2]);
            p += 3;
            std::fill(out, out + run, c);
            out += run;
        }
    }
}

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 4;
    const int fps = argc > 2 ? std::atoi(argv[2]) : 24;
    const int width = argc > 3 ? std::atoi(argv[3]) : 800;
    const int height = argc > 4 ? std::atoi(argv[4]) : 600;
    const flash::RecorderSetup setup = flash::FindRecorder(NIMBREL_BENCH_BIN_DIR);
    if (!setup.Available()) {
        std::printf("nothing measured: %s\n", setup.missing.c_str());
        return 0;
    }
    platform::TempDirectory dir("frame-format-bench");
    const flash::testing::MoviePlan plan = flash::testing::CrossingPlan(width, height, fps, seconds);
    const auto movie = flash::testing::MakeMovie(plan);
    std::ofstream(dir.File("movie.swf"), std::ios::binary)
        .write(reinterpret_cast<const char*>(movie.data()), static_cast<std::streamsize>(movie.size()));
    std::filesystem::create_directories(dir.File("frames"));
    flash::RecordOptions options;
    options.losslessFrames = true;
    const flash::Recording recording =
        flash::RecordMovie(dir.File("movie.swf"), dir.File("frames"), setup, options);

    auto decoder = codecs::MakeLibraryDecoder();
    std::vector<imaging::Image> pictures;
    std::string last;
    for (const auto& file : recording.frameFiles) {
        if (file == last) continue;
        last = file;
        const std::string bytes = platform::ReadWholeFile(file);
        auto source =
            decoder->Open(file, {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
        pictures.push_back(imaging::ReadWholePicture(*source));
    }
    std::size_t jpegBytes = 0, deltaBytes = 0, firstDelta = 0;
    double jpegMs = 0, deltaMs = 0;
    long long jpegError = 0;
    imaging::Image shown, previous;
    for (std::size_t k = 0; k < pictures.size(); ++k) {
        const auto jpeg = codecs::EncodeJpeg(pictures[k], options.jpegQuality);
        jpegBytes += jpeg.size();
        auto started = Clock::now();
        auto source = decoder->Open("f.jpg", jpeg);
        const imaging::Image decoded = imaging::ReadWholePicture(*source);
        jpegMs += Ms(Clock::now() - started);
        for (int i = 0; i < decoded.Width() * decoded.Height(); i += 97)
            jpegError += std::abs(imaging::RedOf(decoded.Data()[i]) - imaging::RedOf(pictures[k].Data()[i]));

        const auto raw = DeltaRuns(pictures[k], previous);
        const auto packed = Deflate(raw);
        deltaBytes += packed.size();
        if (k == 0) firstDelta = packed.size();
        if (shown.Empty()) shown = imaging::Image(pictures[k].Width(), pictures[k].Height());
        started = Clock::now();
        ApplyDelta(packed, raw.size(), shown);
        deltaMs += Ms(Clock::now() - started);
        if (!(shown == pictures[k])) std::printf("delta frame %zu does not round-trip\n", k);
        previous = pictures[k];
    }
    const double n = static_cast<double>(pictures.size());
    std::printf("movie: %d s, %d fps, %dx%d; recorded %dx%d, %zu distinct frames of %zu\n", seconds, fps,
                width, height, recording.width, recording.height, pictures.size(),
                recording.frameFiles.size());
    std::printf(
        "JPEG q%d: %zu bytes (%.1f KB a frame), decode %.2f ms a frame (libjpeg-turbo), "
        "mean red error %.2f\n",
        options.jpegQuality, jpegBytes, jpegBytes / n / 1024, jpegMs / n,
        static_cast<double>(jpegError) / (n * recording.width * recording.height / 97));
    std::printf(
        "delta runs + zlib: %zu bytes (%.1f KB a frame; first frame %zu bytes), decode %.2f ms a frame, "
        "exact\n",
        deltaBytes, deltaBytes / n / 1024, firstDelta, deltaMs / n);
    return 0;
}
