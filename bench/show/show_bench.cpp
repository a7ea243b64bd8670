// The show engine's speed. Prints, per transition family, the processor time one core takes to
// compose a 1920 x 1080 frame of a change (mean, and the slowest single frame); then, for a show of large
// noisy JPEG photos (made in a temporary folder), the time to the first picture and the time to
// render 10 frames at 1920 x 1080 as nimbrel-cli render does.
// Usage: show_bench [photos (default 14)] [photo width (5000)] [photo height (3500)] [folder]
//                   [JPEG quality (90)]
// With a folder, the photos and a project of them (show.nssp) stay there, for timing
// `nimbrel-cli render` on them.
// Times are the thread's processor time, so that other work on a busy machine does not count;
// the first-picture and render figures are given as wall-clock time as well.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>

#include "bench_clock.h"
#include "codecs/codecs.h"
#include "imaging/transitions.h"
#include "pattern_pictures.h"
#include "platform/temp.h"
#include "show/show.h"

using namespace nimbrel;

using nimbrel::bench::CpuMs;
using nimbrel::bench::PatternDecoder;
using nimbrel::bench::WallMs;

namespace {

void TransitionFrames() {
    PatternDecoder decoder;
    struct Figures {
        double total = 0, slowest = 0;
        int effects = 0;
        std::string slowestName;
    };
    std::map<std::string, Figures> families;
    constexpr int kFrames = 30;
    double slowestFrame = 0;
    std::string slowestName;
    // One frame for every effect, as a player keeps its own; each change's frames are timed
    // from its first, after the engine prepared the change with its pictures (as a live front
    // end's decoding thread does).
    show::Frame out;
    for (int effect = 0; effect < imaging::TransitionCount(); ++effect) {
        project::SlideShowValues values;
        values.showSpeed = 1;
        values.transition = effect;
        show::Show engine(values, imaging::kOpaqueBlack, show::Screen{1920, 1080, {}},
                          std::make_shared<bench::TwoPictures>(), {0, 1}, decoder, 1);
        engine.Prepare(0);
        engine.Prepare(1);
        double sum = 0;
        for (int f = 0; f < kFrames; ++f) {
            const show::Moment m = engine.Clock().At(1000 + (f * 1000 + 500) / kFrames);
            const double start = CpuMs();
            engine.Draw(m, out);
            const double ms = CpuMs() - start;
            sum += ms;
            Figures& fig = families[imaging::TransitionFamilyName(imaging::TransitionFamilyOf(effect))];
            if (ms > fig.slowest) {
                fig.slowest = ms;
                fig.slowestName = imaging::TransitionName(effect);
            }
            if (ms > slowestFrame) {
                slowestFrame = ms;
                slowestName = imaging::TransitionName(effect);
            }
        }
        Figures& fig = families[imaging::TransitionFamilyName(imaging::TransitionFamilyOf(effect))];
        fig.total += sum / kFrames;
        ++fig.effects;
    }
    std::printf(
        "1920x1080 change frames through the engine, processor ms per frame (%d frames of each effect)\n",
        kFrames);
    std::printf("%-18s %8s %14s  %s\n", "family", "mean", "slowest frame", "its effect");
    for (const auto& [name, fig] : families)
        std::printf("%-18s %8.2f %14.2f  %s\n", name.c_str(), fig.total / fig.effects, fig.slowest,
                    fig.slowestName.c_str());
    std::printf("slowest single frame: %.2f ms (%s)\n\n", slowestFrame, slowestName.c_str());
}

// Matching a screensaver's file list to its members, as a player does at its start: the list
// names the pictures in reverse archive order, in other letter case, with one name missing.
void ShowOrderTimes() {
    std::printf("matching the file list to the members (ShowOrder), processor ms\n");
    for (int pictures : {100, 1000, 10000, 100000, 200000}) {
        std::vector<std::string> members = {"Options.ini", "About.cfg"}, files;
        for (int i = 0; i < pictures; ++i) members.push_back("photo" + std::to_string(i) + ".jpg");
        for (int i = pictures - 1; i > 0; --i)
            files.push_back("C:\\Photos\\PHOTO" + std::to_string(i) + ".JPG");
        files.push_back("C:\\Photos\\gone.jpg");
        const double start = CpuMs();
        const std::vector<std::size_t> order = show::ShowOrder(files, members);
        const double ms = CpuMs() - start;
        std::printf("%7d pictures: %9.2f ms (%zu in the order)\n", pictures, ms, order.size());
    }
    std::printf("\n");
}

void LargePhotos(int count, int width, int height, const std::string& keep, int quality) {
    platform::TempDirectory temporary("showbench");
    auto file = [&](const std::string& name) {
        return keep.empty() ? temporary.File(name) : (std::filesystem::path(keep) / name).string();
    };
    if (!keep.empty()) std::filesystem::create_directories(keep);
    std::vector<std::string> paths;
    std::mt19937 random(5);
    std::uintmax_t bytes = 0;
    std::printf("making %d noisy %dx%d JPEG photos (quality %d)...\n", count, width, height, quality);
    for (int i = 0; i < count; ++i) {
        imaging::Image photo(width, height);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const unsigned n = random();
                photo.Set(x, y,
                          imaging::MakePixel(static_cast<std::uint8_t>((x / 20 + i * 40 + (n & 31)) & 255),
                                             static_cast<std::uint8_t>((y / 15 + (n >> 5 & 31)) & 255),
                                             static_cast<std::uint8_t>((x + y) / 30 + (n >> 10 & 63))));
            }
        const std::vector<std::uint8_t> jpeg = codecs::EncodeJpeg(photo, quality);
        paths.push_back(file("photo" + std::to_string(i) + ".jpg"));
        std::ofstream(paths.back(), std::ios::binary)
            .write(reinterpret_cast<const char*>(jpeg.data()), static_cast<std::streamsize>(jpeg.size()));
        bytes += jpeg.size();
    }
    std::printf("show of %.0f MB\n", bytes / 1e6);
    project::SlideShowValues values;
    values.center = true;
    values.autoSize = true;
    values.keepAspect = true;
    values.showSpeed = 1;
    values.transition = imaging::kTransitionRandom;
    if (!keep.empty()) {
        std::ofstream project(file("show.nssp"), std::ios::binary);
        project << "[Header]\r\nNumber=" << paths.size() << "\r\nType=0\r\n\r\n[Files]\r\n";
        for (std::size_t i = 0; i < paths.size(); ++i) project << i << "=" << paths[i] << "\r\n";
        project << "\r\n[Options]\r\nCenter=1\r\nAutoSize=1\r\nKeepAspect=1\r\nShowSpeed=1\r\nTransition="
                   "128\r\n\r\n";
    }
    auto decoder = codecs::MakeLibraryDecoder();
    {
        const double wall = WallMs(), cpu = CpuMs();
        auto engine = show::MakeProjectShow(values, paths, show::Screen{1920, 1080, {}}, *decoder, 1);
        engine->Prepare(0);
        show::Frame frame;
        engine->Draw(engine->Clock().At(0), frame);
        std::printf("first picture at 1920x1080: %.0f ms wall, %.0f ms processor\n", WallMs() - wall,
                    CpuMs() - cpu);
    }
    {
        const double wall = WallMs(), cpu = CpuMs();
        auto engine = show::MakeProjectShow(values, paths, show::Screen{1920, 1080, {}}, *decoder, 1);
        show::Frame frame;
        for (int i = 0; i < 10; ++i) {
            engine->Render(i * 1300, frame);  // stills and changes, over 7 pictures
        }
        std::printf("10 frames rendered at 1920x1080 (no file written): %.0f ms wall, %.0f ms processor\n",
                    WallMs() - wall, CpuMs() - cpu);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 14;
    const int width = argc > 2 ? std::atoi(argv[2]) : 5000;
    const int height = argc > 3 ? std::atoi(argv[3]) : 3500;
    ShowOrderTimes();
    TransitionFrames();
    const int quality = argc > 5 ? std::atoi(argv[5]) : 90;
    if (count > 0) LargePhotos(count, width, height, argc > 4 ? argv[4] : "", quality);
    return 0;
}
