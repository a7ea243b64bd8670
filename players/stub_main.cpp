// stub.bin: the slideshow player. Shows the pictures of its archive full screen, in a preview
// window, or its About box, after the screensaver command line.

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cwchar>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "about_box.h"
#include "command_line.h"
#include "gdiplus_headers.h"
#include "package.h"
#include "picture_decoder_win32.h"
#include "platform/error.h"
#include "saver_window.h"
#include "show/live_show.h"
#include "show/monitor_lanes.h"
#include "show/show.h"
#include "win32_util.h"

namespace nimbrel::player::win32 {
namespace {

constexpr UINT kSlideReady = WM_APP + 1;  // wParam: the slide, or -1 when nothing can be shown
constexpr UINT kArchiveDamaged = WM_APP + 2;
constexpr UINT_PTR kShowTimer = 1;
constexpr UINT_PTR kFirstPictureTimer = 3;
constexpr UINT kFirstPictureWaitMilliseconds = 3000;
constexpr UINT kFrameMilliseconds = 15;

// The screensaver's own pictures, for the show engine.
class PackagePictures : public show::PictureList {
public:
    explicit PackagePictures(const Package& package) : package_(package) {}
    std::size_t Count() const override { return package_.MemberNames().size(); }
    std::string Name(std::size_t index) const override { return package_.MemberNames().at(index); }
    std::string Bytes(std::size_t index) const override {
        std::string bytes = package_.ExtractPicture(index);
        Trace("picture taken out of the archive");
        return bytes;
    }
    std::shared_ptr<imaging::PictureStream> Stream(std::size_t index) const override {
        return package_.PictureStream(index);
    }

private:
    const Package& package_;
};

// The seed of the show's random choices: from the clock, or fixed by NIMBREL_SHOW_SEED (which
// only tests set, to compare the player's frames with the engine's elsewhere).
std::uint64_t ShowSeed() {
    wchar_t text[32];
    DWORD length = GetEnvironmentVariableW(L"NIMBREL_SHOW_SEED", text, 32);
    if (length > 0 && length < 32) {
        wchar_t* end = nullptr;
        unsigned long long seed = wcstoull(text, &end, 10);
        if (end != text && *end == L'\0') return seed;
    }
    return (static_cast<std::uint64_t>(GetCurrentProcessId()) << 32) ^ GetTickCount();
}

std::int64_t WallMilliseconds() {
    return static_cast<std::int64_t>(GetTickCount64());
}

// Full screen or preview: the show engine's frames, one after another. A worker thread decodes
// the next picture while the current one shows; the engine keeps at most two decoded pictures.
// With a different picture on each monitor, each monitor runs a show of its own (a lane), each
// with its worker, drawn into its part of the one frame.
class SlideShowWindow : public SaverWindow {
public:
    // `firstShown` runs on the window's thread once the first picture shows, or after a few
    // seconds when none does.
    SlideShowWindow(const Package& package, std::function<void()> firstShown)
        : package_(package), firstShown_(std::move(firstShown)), options_(package.Project().slideShow) {}

    ~SlideShowWindow() override {
        StopWorkers();
    }

    // Starts decoding the first picture, then measures the area the window will cover (which
    // can take a while on a system that connects to its display only now), so that both run
    // beside each other and beside the window's creation. Call once, before Create.
    void Prepare(HWND previewParent) {
        const std::uint64_t seed = ShowSeed();
        const std::vector<std::size_t> order = package_.SlideOrder();
        // The preview always shows the single-monitor show.
        const show::ShowOptions options = show::ShowOptions::From(options_);
        project::SlideShowValues values = options_;
        if (previewParent != nullptr) values.show.monitors = project::kMonitorsSame;
        lanes_.push_back(std::make_unique<Lane>());
        lanes_[0]->show = std::make_unique<show::Show>(values, BackgroundColor(options_.backgroundColor),
                                                       show::ScreenLater{}, std::make_shared<PackagePictures>(package_),
                                                       order, decoder_, seed);
        StartLane(*lanes_[0], 0);
        // The captions the build drew, taken out while the first picture decodes.
        if (options_.show.caption != project::kCaptionNone)
            captions_ = package_.Captions(show::CaptionPlaceFrom(options_.show.captionPlace));
        lanes_[0]->show->SetCaptions(captions_);
        ScreenArea area = MeasureArea(previewParent);
        show::Screen screen{area.width, area.height, {}};
        for (const RECT& monitor : area.monitors) screen.monitors.push_back(ToRect(monitor));
        const bool each = previewParent == nullptr && options.monitors == show::Monitors::Each &&
                          screen.monitors.size() > 1;
        if (!each) {
            lanes_[0]->rect = imaging::Rect{0, 0, area.width, area.height};
            lanes_[0]->show->SetScreen(screen);
        } else {
            // The primary monitor holds the desktop's origin; it keeps the show that started.
            const std::size_t primary = show::MonitorAt(screen.monitors, -area.x, -area.y);
            std::vector<show::Lane> plan =
                show::PlanLanes(screen.monitors, primary, order, seed, lanes_[0]->show->Clock());
            lanes_[0]->rect = plan[0].monitor;
            lanes_[0]->show->SetScreen(show::Screen{plan[0].monitor.width, plan[0].monitor.height, {}});
            for (std::size_t k = 1; k < plan.size(); ++k) {
                auto lane = std::make_unique<Lane>();
                lane->rect = plan[k].monitor;
                lane->decoder = std::make_unique<WindowsPictureDecoder>();
                lane->show = std::make_unique<show::Show>(
                    values, BackgroundColor(options_.backgroundColor),
                    show::Screen{lane->rect.width, lane->rect.height, {}}, std::make_shared<PackagePictures>(package_),
                    plan[k].order, *lane->decoder, plan[k].seed);
                lane->show->SetCaptions(captions_);
                StartLane(*lane, plan[k].delayMs);
                lanes_.push_back(std::move(lane));
            }
        }
        Trace("screen measured");
    }

protected:
    void OnCreated() override {
        display_.Create(Handle(), Width(), Height());
        // The frame is made here, while the first picture decodes, rather than when it shows.
        frame_.Resize(Width(), Height());
        frame_.Fill(BackgroundColor(options_.backgroundColor) & 0x00FFFFFFu);
        ShowFrame(frame_);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            target_ = Handle();
        }
        // The first picture may be ready already.
        PostMessageW(Handle(), kSlideReady, 0, 0);
        SetTimer(Handle(), kFirstPictureTimer, kFirstPictureWaitMilliseconds, nullptr);
    }

    void OnPaint(HDC dc) override {
        display_.Paint(dc);
    }

    void OnAppMessage(UINT message, WPARAM, LPARAM) override {
        if (message == kArchiveDamaged) Close();
        if (message == kSlideReady) Tick();
    }

    void OnTimer(UINT_PTR id) override {
        if (id == kShowTimer) {
            KillTimer(Handle(), kShowTimer);
            Tick();
        } else if (id == kFirstPictureTimer) {
            FirstShown();
        }
    }

    void OnDestroying() override {
        Trace("window destroyed");
        KillTimer(Handle(), kShowTimer);
        KillTimer(Handle(), kFirstPictureTimer);
        StopWorkers();
    }

private:
    struct Lane {
        imaging::Rect rect;  // where its frame goes in the window
        std::unique_ptr<WindowsPictureDecoder> decoder;  // the lanes after the first have their own
        std::unique_ptr<show::Show> show;
        show::Frame frame;
        // Last: it prepares the show and reports through the window.
        std::unique_ptr<show::LiveShow> live;
    };

    void StartLane(Lane& lane, std::int64_t delayMs) {
        lane.live = std::make_unique<show::LiveShow>(*lane.show, kFrameMilliseconds, [this](std::int64_t slide) {
            if (slide < 0) return;
            Trace("picture composed");
            HWND window = nullptr;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                window = target_;
            }
            // Before the window exists, it finds the picture when it is created.
            if (window != nullptr) PostMessageW(window, kSlideReady, 0, 0);
        }, delayMs);
    }

    void FirstShown() {
        KillTimer(Handle(), kFirstPictureTimer);
        if (firstShown_) std::exchange(firstShown_, nullptr)();
    }

    // Draws what each lane's clock says now, and sets the timer for the next frame: every few
    // milliseconds while something moves, else at the next change (unless its picture is not
    // ready: its report calls again).
    void Tick() {
        const std::int64_t wall = WallMilliseconds();
        bool drew = false, firstNow = false;
        std::optional<std::int64_t> wake;
        std::int64_t showTime = 0, slide = 0;
        for (auto& lane : lanes_) {
            const bool first = !lane->live->Showing();
            const show::LiveShow::Step step = lane->live->Update(wall, lane->frame);
            if (step.drew) {
                Place(*lane);
                drew = true;
                if (&lane == &lanes_[0]) {
                    showTime = step.showTime;
                    slide = lane->show->Clock().At(step.showTime).slide;
                }
                if (first && !firstTraced_) firstNow = firstTraced_ = true;
            }
            if (step.wakeAt && (!wake || *step.wakeAt < *wake)) wake = step.wakeAt;
        }
        if (drew) {
            ShowFrame(frame_);
            char line[80];
            std::snprintf(line, sizeof line, "show %lld slide %lld", static_cast<long long>(showTime),
                          static_cast<long long>(slide));
            Trace(line);
        }
        if (firstNow) {
            Trace("first picture on screen");
            FirstShown();
        }
        if (wake)
            SetTimer(Handle(), kShowTimer, static_cast<UINT>(std::clamp<std::int64_t>(*wake - wall, 1, 0x7FFFFFFF)),
                     nullptr);
    }

    // Copies a lane's frame into its part of the window's frame.
    void Place(const Lane& lane) {
        if (lanes_.size() == 1 && lane.frame.Width() == frame_.Width() && lane.frame.Height() == frame_.Height()) {
            frame_ = lane.frame;
            return;
        }
        for (int y = 0; y < lane.frame.Height(); ++y) {
            const int fy = lane.rect.y + y;
            if (fy < 0 || fy >= frame_.Height()) continue;
            const int x0 = std::max(0, -lane.rect.x);
            const int x1 = std::min(lane.frame.Width(), frame_.Width() - lane.rect.x);
            if (x1 > x0) std::copy(lane.frame.Row(y) + x0, lane.frame.Row(y) + x1, frame_.Row(fy) + lane.rect.x + x0);
        }
    }

    void ShowFrame(const show::Frame& frame) {
        display_.Put(frame);
        Present();
    }

    void StopWorkers() {
        for (auto& lane : lanes_)
            if (lane->live) lane->live->Stop();
    }

    const Package& package_;
    std::function<void()> firstShown_;
    project::SlideShowValues options_;
    WindowsPictureDecoder decoder_;
    show::Frame frame_;

    FrameBitmap display_;
    bool firstTraced_ = false;

    std::mutex mutex_;
    HWND target_ = nullptr;  // where the workers report, once the window exists
    // Last: their workers prepare the shows and report through the members above.
    std::shared_ptr<const show::CaptionLayer> captions_;  // before the lanes, whose shows draw them
    std::vector<std::unique_ptr<Lane>> lanes_;
};

// Checks the whole archive once the first picture shows (or after a few seconds when none
// does), so that a large show starts at once; a damaged archive closes the show, which then
// reports it. A show that ends first stops the check without a verdict.
class ArchiveCheck {
public:
    explicit ArchiveCheck(const Package& package) : package_(package) {}
    ~ArchiveCheck() { Finish(); }
    // Tells the check where to report.
    void Attach(HWND window) {
        std::lock_guard<std::mutex> lock(mutex_);
        window_ = window;
    }
    // Starts the check; later calls do nothing.
    void Start() {
        if (thread_.joinable()) return;
        thread_ = std::thread([this] {
            try {
                package_.VerifyArchive(stop_);
            } catch (const std::exception& e) {
                std::lock_guard<std::mutex> lock(mutex_);
                damage_ = e.what();
                if (window_ != nullptr) PostMessageW(window_, kArchiveDamaged, 0, 0);
            }
        });
    }
    // Stops the check if it still runs; the damage found, or "".
    std::string Finish() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        std::lock_guard<std::mutex> lock(mutex_);
        window_ = nullptr;
        return damage_;
    }

private:
    const Package& package_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    HWND window_ = nullptr;
    std::string damage_;
    std::thread thread_;
};

int Run(const CommandLine& command) {
    HWND parent = WindowFromArgument(command.window);
    if (command.mode == RunMode::Password) return 0;
    if (command.mode == RunMode::Preview && parent == nullptr) return 0;
    const bool showing = command.mode != RunMode::Configure;
    std::shared_ptr<OwnFile> file;
    std::unique_ptr<Package> package;
    try {
        file = std::make_shared<OwnFile>();
        package = std::make_unique<Package>(file, !showing);
    } catch (const std::exception& e) {
        return ReportStartFailure(e.what(), command.mode, parent);
    }
    Trace("archive opened");
    if (!showing) {
        RunAboutBox(package->About(), parent);
        return 0;
    }
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok)
        return ReportStartFailure("The screen saver cannot start its graphics library.", command.mode,
                                  parent);
    int code = 0;
    std::string damage;
    Trace("graphics started");
    {
        ArchiveCheck check(*package);
        SlideShowWindow window(*package, [&check] { check.Start(); });
        window.Prepare(command.mode == RunMode::Preview ? parent : nullptr);
        if (window.Create(command.mode == RunMode::Preview ? parent : nullptr)) {
            Trace("window created");
            check.Attach(window.Handle());
            code = window.Run();
            Trace("window closed");
        } else {
            code = kStartFailed;
        }
        damage = check.Finish();
    }
    Trace("show ended");
    Gdiplus::GdiplusShutdown(token);
    Trace("graphics shut down");
    if (!damage.empty()) return ReportStartFailure(damage, command.mode, parent);
    if (code == kStartFailed)
        return ReportStartFailure("The screen saver cannot open its window.", command.mode, parent);
    return code;
}

}  // namespace
}  // namespace nimbrel::player::win32

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    using namespace nimbrel::player;
    win32::Trace("started");
    win32::MakeDpiAware();
    return win32::Run(ParseCommandLine(win32::CommandArguments()));
}
