#include "cli/render_command.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <ostream>
#include <thread>

#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <cstdio>

#include "cli/cli.h"
#include "codecs/codecs.h"
#include "flash/flash_recorder.h"
#include "pipeline/build_pipeline.h"
#include "platform/paths.h"
#include "platform/temp.h"
#include "project/project_paths.h"
#include "platform/files.h"
#include "project/project_file.h"
#include "show/monitor_lanes.h"
#include "show/recorded_movie.h"
#include "show/show.h"
#ifdef NIMBREL_HAVE_CAPTIONS
#include "captions/caption_text.h"
#endif

namespace nimbrel::cli {
namespace {

constexpr const char* kUsage =
    "usage: nimbrel-cli render PROJECT.nssp --size WxH[,WxH...] --at T1,T2,... --out DIR [--seed N]\n"
    "  Writes the frames of the project's show at the given times as PNG files into DIR\n"
    "  (frame-01.png, frame-02.png, ... in the order of the times), as the screensaver shows\n"
    "  them on a screen of that size. A Flash project's movie is first recorded into a temporary\n"
    "  folder, as a compile records it, and each time shows the recorded frame the player shows.\n"
    "  --size WxH  the screen, in pixels (1 to 16384 each way); several sizes are monitors side\n"
    "              by side from left to right, tops aligned, and each monitor's frames are\n"
    "              written apart (frame-01-m1.png for the first monitor, frame-01-m2.png, ...)\n"
    "  --at T,...  times in seconds from the first picture (\"2.5\"), or in milliseconds (\"2500ms\"),\n"
    "              up to 1000000 seconds\n"
    "  --out DIR   where the frames go (made when missing)\n"
    "  --seed N    the seed of the show's random choices (default 1)\n";

constexpr int kMaxSide = 16384;

bool ParseSize(const std::string& text, int& width, int& height) {
    const std::size_t x = text.find_first_of("xX");
    if (x == std::string::npos) return false;
    auto number = [](std::string_view digits, int& value) {
        auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        return ec == std::errc() && end == digits.data() + digits.size() && value >= 1 && value <= kMaxSide;
    };
    return number(std::string_view(text).substr(0, x), width) &&
           number(std::string_view(text).substr(x + 1), height) && imaging::ImageSizeAllowed(width, height);
}

// The latest time a frame is rendered at: about eleven and a half days. The show remembers the
// picture of every slide up to the time asked, so a time of years would take gigabytes.
constexpr double kLatestMs = 1e9;

// A time in milliseconds: "2.5" (seconds) or "2500ms".
bool ParseTime(std::string text, std::int64_t& ms) {
    double scale = 1000;
    if (text.size() > 2 && text.compare(text.size() - 2, 2, "ms") == 0) {
        text.resize(text.size() - 2);
        scale = 1;
    } else if (text.size() > 1 && text.back() == 's') {
        text.pop_back();
    }
    double value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value) ||
        value < 0 || value * scale > kLatestMs)
        return false;
    ms = static_cast<std::int64_t>(std::llround(value * scale));
    return true;
}

// The PNG of a frame through libpng; `row` holds one row of RGB. Plain pointers only, since
// libpng reports errors by longjmp.
bool WritePngRows(std::FILE* file, const show::Frame& frame, png_byte* row) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr) return false;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr || setjmp(png_jmpbuf(png)) != 0) {
        png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(frame.Width()), static_cast<png_uint_32>(frame.Height()),
                 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    // Run-length matches only, after the left-neighbour filter: about as small as zlib's fastest
    // level on photos and twice as quick.
    png_set_compression_level(png, 1);
    png_set_compression_strategy(png, Z_RLE);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
    png_write_info(png, info);
    for (int y = 0; y < frame.Height(); ++y) {
        const imaging::Pixel* in = frame.Row(y);
        for (int x = 0; x < frame.Width(); ++x) {
            row[3 * x] = imaging::RedOf(in[x]);
            row[3 * x + 1] = imaging::GreenOf(in[x]);
            row[3 * x + 2] = imaging::BlueOf(in[x]);
        }
        png_write_row(png, row);
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

// Writes a frame as an 8-bit RGB PNG. Frames are written for looking at, not for keeping: the
// fastest compression, so that rendering is not held up by it. False when the file cannot be
// written.
bool WritePng(const std::string& path, const show::Frame& frame) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    std::vector<png_byte> row(static_cast<std::size_t>(frame.Width()) * 3);
    const bool written = WritePngRows(file, frame, row.data());
    return std::fclose(file) == 0 && written;
}

// The monitors of "W1xH1,W2xH2,...", side by side from left to right with their tops aligned.
bool ParseSizes(const std::string& text, std::vector<imaging::Rect>& monitors) {
    std::size_t start = 0;
    int x = 0;
    while (start <= text.size()) {
        std::size_t comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        int width = 0, height = 0;
        if (!ParseSize(text.substr(start, comma - start), width, height)) return false;
        monitors.push_back({x, 0, width, height});
        x += width;
        start = comma + 1;
    }
    int tallest = 0;
    for (const imaging::Rect& m : monitors) tallest = std::max(tallest, m.height);
    return imaging::ImageSizeAllowed(x, tallest);
}

// Renders `show` at `times` (show times, in any order), handing each frame with its index in
// `times` to `write`, which returns false to stop. The pictures the frames need are decoded
// ahead on every core, a few slides ahead of the frame being drawn, while this thread draws.
bool RenderTimes(show::Show& show, const std::vector<std::int64_t>& times,
                 const std::function<bool(std::size_t, const show::Frame&)>& write) {
    // In the order of time, so that the show walks forward once.
    std::vector<std::size_t> byTime(times.size());
    for (std::size_t i = 0; i < byTime.size(); ++i) byTime[i] = i;
    std::stable_sort(byTime.begin(), byTime.end(),
                     [&](std::size_t a, std::size_t b) { return times[a] < times[b]; });
    std::vector<std::int64_t> needed;
    for (std::size_t index : byTime) {
        const show::Moment moment = show.Clock().At(times[index]);
        for (std::int64_t slide : {moment.slide, moment.slide + 1}) {
            if (slide > moment.slide && moment.phase != show::Phase::Change) break;
            if (needed.empty() || needed.back() < slide) needed.push_back(slide);
        }
    }
    constexpr std::size_t kAhead = 3;  // slides decoded ahead of the frame being drawn
    std::mutex mutex;
    std::condition_variable progress;
    std::size_t nextNeeded = 0, drawing = 0;  // indexes into `needed`
    bool finished = false;
    std::vector<std::thread> helpers;
    const unsigned cores = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
    for (unsigned h = 0; h < cores; ++h)
        helpers.emplace_back([&] {
            auto own = codecs::MakeLibraryDecoder();
            for (;;) {
                std::int64_t slide = 0;
                {
                    std::unique_lock<std::mutex> lock(mutex);
                    progress.wait(lock, [&] { return finished || nextNeeded < drawing + kAhead; });
                    if (finished || nextNeeded >= needed.size()) return;
                    slide = needed[nextNeeded++];
                }
                show.Predecode(slide, *own);
            }
        });
    struct Join {
        std::vector<std::thread>& threads;
        std::mutex& mutex;
        std::condition_variable& progress;
        bool& finished;
        ~Join() {
            {
                std::lock_guard<std::mutex> lock(mutex);
                finished = true;
            }
            progress.notify_all();
            for (std::thread& t : threads) t.join();
        }
    } join{helpers, mutex, progress, finished};
    show::Frame frame;
    for (std::size_t index : byTime) {
        {
            const std::int64_t slide = show.Clock().At(times[index]).slide;
            std::lock_guard<std::mutex> lock(mutex);
            while (drawing < needed.size() && needed[drawing] < slide) ++drawing;
        }
        progress.notify_all();
        show.Render(times[index], frame);
        if (!write(index, frame)) return false;
    }
    return true;
}

// The part of `frame` a monitor shows.
show::Frame Crop(const show::Frame& frame, const imaging::Rect& part) {
    show::Frame out(part.width, part.height);
    for (int y = 0; y < part.height; ++y)
        std::copy(frame.Row(part.y + y) + part.x, frame.Row(part.y + y) + part.x + part.width, out.Row(y));
    return out;
}

void ReportShow(const show::Show& show, std::ostream& err) {
    for (const std::string& left : show.LeftOut()) err << "nimbrel-cli render: left out " << left << "\n";
    if (show.Empty()) {
        err << "nimbrel-cli render: " << show.Problem() << " The frames show the background only.\n";
    }
}

// The screen of the monitors: their bounding rectangle, with the monitors when there are several.
show::Screen ScreenOf(const std::vector<imaging::Rect>& monitors) {
    const imaging::Rect& last = monitors.back();
    int height = 0;
    for (const imaging::Rect& m : monitors) height = std::max(height, m.height);
    show::Screen screen{last.x + last.width, height, {}};
    if (monitors.size() > 1) screen.monitors = monitors;
    return screen;
}

// A Flash project's frames: the movie recorded into a temporary folder as a compile records it,
// each time drawn as the Flash player draws the recorded frame of that moment.
int RenderFlash(const project::LoadedProject& project, const std::string& projectPath,
                const std::vector<imaging::Rect>& monitors, const std::vector<std::int64_t>& times,
                std::ostream& err, const std::function<bool(std::size_t, const show::Frame&)>& write) {
    const std::string movie = project::ResolveProjectPath(project.flash.flashFile, projectPath);
    if (project.flash.flashFile.empty() || !platform::FileExists(movie)) {
        err << "nimbrel-cli render: the project's movie \"" << project.flash.flashFile << "\" cannot be found\n";
        return kExitFailure;
    }
    const flash::RecorderSetup setup = flash::FindRecorder(platform::ExecutableDirectory());
    if (!setup.Available()) {
        err << "nimbrel-cli render: " << flash::NotRecordedNotice(setup.missing) << "\n";
        return kExitFailure;
    }
    platform::TempDirectory work("nimbrel-render");
    pipeline::MovieRecording recording;
    try {
        recording = pipeline::RecordProjectMovie(movie, projectPath, work.Path(), setup, {});
    } catch (const Error& e) {
        err << "nimbrel-cli render: " << e.what() << "\n";
        return kExitFailure;
    }
    auto decoder = codecs::MakeLibraryDecoder();
    show::RecordedMovie player(
        std::move(recording.index),
        [&work](const std::string& name) { return platform::ReadWholeFile(work.File(name)); }, *decoder);
    const show::Screen screen = ScreenOf(monitors);
    show::Frame frame;
    for (std::size_t i = 0; i < times.size(); ++i) {
        player.Draw(times[i], screen, frame);
        if (!write(i, frame)) return kExitFailure;
    }
    return kExitOk;
}

int Usage(std::ostream& err, const std::string& problem) {
    err << "nimbrel-cli render: " << problem << "\n" << kUsage;
    return kExitUsage;
}

}  // namespace

Command RenderCommandEntry() {
    Command c;
    c.name = "render";
    c.operands = "PROJECT.nssp --size WxH[,WxH...] --at T1,T2,... --out DIR [--seed N]";
    c.summary = "write the show's frames at those times as PNG files";
    c.runRaw = RenderCommand;
    return c;
}

int RenderCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    for (const std::string& a : args)
        if (a == "--help" || a == "-h") {
            out << kUsage;
            return kExitOk;
        }
    std::string projectPath, sizeText, timesText, outDir;
    std::uint64_t seed = 1;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--size" || a == "--at" || a == "--out" || a == "--seed") {
            if (!hasValue) return Usage(err, a + " needs a value");
            const std::string& value = args[++i];
            if (a == "--size") sizeText = value;
            if (a == "--at") timesText = value;
            if (a == "--out") outDir = value;
            if (a == "--seed") {
                auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), seed);
                if (value.empty() || ec != std::errc() || end != value.data() + value.size())
                    return Usage(err, "the seed \"" + value + "\" is not a whole number of 0 or more");
            }
        } else if (!a.empty() && a[0] == '-' && a != "-") {
            return Usage(err, "unknown option " + a);
        } else if (projectPath.empty()) {
            projectPath = a;
        } else {
            return Usage(err, "one project only (\"" + a + "\" is one too many)");
        }
    }
    if (projectPath.empty()) return Usage(err, "no project given");
    if (sizeText.empty()) return Usage(err, "no --size given");
    if (timesText.empty()) return Usage(err, "no --at times given");
    if (outDir.empty()) return Usage(err, "no --out folder given");
    std::vector<imaging::Rect> monitors;
    if (!ParseSizes(sizeText, monitors))
        return Usage(err, "the size \"" + sizeText +
                              "\" is not WIDTHxHEIGHT (or several, with commas) of 1 to 16384 pixels each way");
    std::vector<std::int64_t> times;
    std::size_t start = 0;
    while (start <= timesText.size()) {
        std::size_t comma = timesText.find(',', start);
        if (comma == std::string::npos) comma = timesText.size();
        const std::string one = timesText.substr(start, comma - start);
        std::int64_t ms = 0;
        if (!ParseTime(one, ms))
            return Usage(
                err, "the time \"" + one + "\" is not a number of seconds from 0 to 1000000 (or \"2500ms\")");
        times.push_back(ms);
        start = comma + 1;
    }

    std::error_code ec;
    if (!std::filesystem::is_regular_file(projectPath, ec)) {
        err << "nimbrel-cli render: cannot read the project \"" << projectPath << "\": no such file\n";
        return kExitFailure;
    }
    const project::LoadedProject project = project::LoadProject(projectPath);
    if (project.type != project::kSlideShow && project.type != project::kFlash) {
        err << "nimbrel-cli render: \"" << projectPath
            << "\" is neither a slideshow nor a Flash project; only those have frames\n";
        return kExitFailure;
    }
    std::filesystem::create_directories(outDir, ec);
    if (ec || !std::filesystem::is_directory(outDir)) {
        err << "nimbrel-cli render: cannot make the folder \"" << outDir
            << "\": " << (ec ? ec.message() : std::string("a file of that name is in the way")) << "\n";
        return kExitFailure;
    }
#ifndef NIMBREL_HAVE_CAPTIONS
    if (project.slideShow.show.caption != project::kCaptionNone) {
        err << "nimbrel-cli render: this build cannot draw the captions \"" << projectPath << "\" asks for\n";
        return kExitFailure;
    }
#endif
    const int digits = std::max<int>(2, static_cast<int>(std::to_string(times.size()).size()));
    // frame-NN.png for one monitor, frame-NN-mK.png for monitor K of several.
    auto write = [&](std::size_t index, std::size_t monitor, const show::Frame& frame) {
        std::string number = std::to_string(index + 1);
        number.insert(0, static_cast<std::size_t>(digits) - std::min<std::size_t>(digits, number.size()), '0');
        if (monitors.size() > 1) number += "-m" + std::to_string(monitor + 1);
        const std::string path = (std::filesystem::path(outDir) / ("frame-" + number + ".png")).string();
        if (!WritePng(path, frame)) {
            err << "nimbrel-cli render: cannot write \"" << path << "\" (is the folder \"" << outDir
                << "\" writable?)\n";
            return false;
        }
        out << path << "  at " << times[index] / 1000.0 << " s\n";
        return true;
    };
    // The frame of the whole screen, each monitor's part written apart when there are several.
    auto writeScreen = [&](std::size_t index, const show::Frame& frame) {
        if (monitors.size() == 1) return write(index, 0, frame);
        for (std::size_t k = 0; k < monitors.size(); ++k)
            if (!write(index, k, Crop(frame, monitors[k]))) return false;
        return true;
    };
    if (project.type == project::kFlash) return RenderFlash(project, projectPath, monitors, times, err, writeScreen);

    const std::vector<std::string> paths = show::PicturePaths(project.files, projectPath);
    const show::ShowOptions options = show::ShowOptions::From(project.slideShow);
    auto decoder = codecs::MakeLibraryDecoder();
#ifdef NIMBREL_HAVE_CAPTIONS
    const auto captions = captions::ProjectCaptionLayer(project.slideShow, paths);
#endif
    // Every show gets the same captions (drawn once, by entry).
    const auto withCaptions = [&](show::Show& show) {
#ifdef NIMBREL_HAVE_CAPTIONS
        show.SetCaptions(captions);
#else
        (void)show;
#endif
    };
    if (options.monitors == show::Monitors::Each && monitors.size() > 1) {
        // A show of its own on each monitor, the first monitor's being the one-monitor show.
        const show::ShowClock clock(project.slideShow.showSpeed, project.slideShow.transition, seed);
        const std::vector<show::Lane> lanes = show::PlanLanes(monitors, 0, show::ProjectOrder(paths), seed, clock);
        for (std::size_t k = 0; k < lanes.size(); ++k) {
            const show::Lane& lane = lanes[k];
            auto show = show::MakeProjectShow(project.slideShow, paths,
                                              show::Screen{lane.monitor.width, lane.monitor.height, {}}, *decoder,
                                              lane.seed, lane.order);
            withCaptions(*show);
            std::vector<std::int64_t> laneTimes;
            for (std::int64_t t : times) laneTimes.push_back(show::LaneTime(lane, t));
            if (!RenderTimes(*show, laneTimes,
                             [&](std::size_t index, const show::Frame& frame) { return write(index, k, frame); }))
                return kExitFailure;
            ReportShow(*show, err);
        }
        return kExitOk;
    }
    auto show = show::MakeProjectShow(project.slideShow, paths, ScreenOf(monitors), *decoder, seed);
    withCaptions(*show);
    const bool written = RenderTimes(*show, times, writeScreen);
    if (!written) return kExitFailure;
    ReportShow(*show, err);
    return kExitOk;
}

}  // namespace nimbrel::cli
