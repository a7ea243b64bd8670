// stub.bin: the slideshow player. Shows the pictures of its archive full screen, in a preview
// window, or its About box, after the screensaver command line.

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "about_box.h"
#include "command_line.h"
#include "gdiplus_headers.h"
#include "imaging/image.h"
#include "imaging/layout.h"
#include "imaging/random_source.h"
#include "imaging/transitions.h"
#include "package.h"
#include "picture_frame.h"
#include "platform/error.h"
#include "saver_window.h"
#include "show_order.h"
#include "win32_util.h"

namespace nimbrel::player::win32 {
namespace {

constexpr UINT kFrameReady = WM_APP + 1;
constexpr UINT kArchiveDamaged = WM_APP + 2;
constexpr UINT_PTR kSlideTimer = 1;
constexpr UINT_PTR kAnimationTimer = 2;
constexpr UINT_PTR kFirstPictureTimer = 3;
constexpr UINT kFirstPictureWaitMilliseconds = 3000;
constexpr DWORD kTransitionMilliseconds = 1000;

// Full screen or preview: the pictures one after another. A worker thread decodes the next
// picture while the current one shows; at most two decoded pictures exist at any time.
class SlideShowWindow : public SaverWindow {
public:
    // `firstShown` runs on the window's thread once the first picture shows, or after a few
    // seconds when none does.
    SlideShowWindow(const Package& package, std::function<void()> firstShown)
        : package_(package),
          firstShown_(std::move(firstShown)),
          options_(package.Project().slideShow),
          sequence_(package.SlideOrder(), options_.random, GetTickCount() ^ GetCurrentProcessId()),
          random_(GetTickCount() ^ (static_cast<std::uint64_t>(GetCurrentProcessId()) << 32)) {}

    ~SlideShowWindow() override {
        StopWorker();
        ReleaseDisplay();
    }

    // Starts decoding the first picture for the area the window will cover, so that it runs
    // beside the window's creation. Call once, before Create.
    void Prepare(HWND previewParent) {
        ScreenArea area = MeasureArea(previewParent);
        settings_.width = area.width;
        settings_.height = area.height;
        for (const RECT& monitor : area.monitors) settings_.monitors.push_back(ToRect(monitor));
        settings_.layout =
            imaging::LayoutOptions{options_.center, options_.autoSize, options_.stretch, options_.keepAspect};
        settings_.background = BackgroundColor(options_.backgroundColor);
        pictureCount_ = sequence_.Count();
        if (!sequence_.Empty()) {
            worker_ = std::thread([this] { WorkerLoop(); });
            RequestNext();
        }
    }

protected:
    void OnCreated() override {
        CreateDisplay();
        auto blank = BlankFrame(settings_);
        ShowFrame(*blank);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            target_ = Handle();
        }
        // The first picture may be ready already.
        PostMessageW(Handle(), kFrameReady, 0, 0);
        SetTimer(Handle(), kFirstPictureTimer, kFirstPictureWaitMilliseconds, nullptr);
    }

    void OnPaint(HDC dc) override {
        if (memory_ != nullptr) {
            GdiFlush();
            BitBlt(dc, 0, 0, Width(), Height(), memory_, 0, 0, SRCCOPY);
        }
    }

    void OnAppMessage(UINT message, WPARAM, LPARAM) override {
        if (message == kArchiveDamaged) Close();
        if (message != kFrameReady) return;
        if (!showing_) {
            // The first picture shows at once.
            std::unique_ptr<Frame> first = TakeReady();
            if (!first) return;
            current_ = std::move(first);
            ShowFrame(*current_);
            Trace("first picture on screen");
            FirstShown();
            showing_ = true;
            if (!SinglePicture()) {
                StartSlideTimer();
                RequestNext();
            }
        } else if (slideOver_ && !animating_) {
            BeginChange();
        }
    }

    void OnTimer(UINT_PTR id) override {
        if (id == kSlideTimer) {
            KillTimer(Handle(), kSlideTimer);
            slideOver_ = true;
            BeginChange();
        } else if (id == kAnimationTimer) {
            Animate();
        } else if (id == kFirstPictureTimer) {
            FirstShown();
        }
    }

    void OnDestroying() override {
        Trace("window destroyed");
        KillTimer(Handle(), kSlideTimer);
        KillTimer(Handle(), kAnimationTimer);
        KillTimer(Handle(), kFirstPictureTimer);
        StopWorker();
    }

private:
    void FirstShown() {
        KillTimer(Handle(), kFirstPictureTimer);
        if (firstShown_) std::exchange(firstShown_, nullptr)();
    }

    void CreateDisplay() {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = Width();
        info.bmiHeader.biHeight = -Height();  // top-down
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        HDC screen = GetDC(Handle());
        void* bits = nullptr;
        bitmap_ = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        memory_ = CreateCompatibleDC(screen);
        ReleaseDC(Handle(), screen);
        if (bitmap_ == nullptr || memory_ == nullptr) return;
        bits_ = static_cast<std::uint32_t*>(bits);
        oldBitmap_ = SelectObject(memory_, bitmap_);
    }

    void ShowFrame(const Frame& frame) {
        if (bits_ != nullptr && frame.width == Width() && frame.height == Height()) {
            GdiFlush();
            std::copy(frame.pixels.begin(), frame.pixels.end(), bits_);
        }
        Present();
    }

    void StartSlideTimer() {
        slideOver_ = false;
        SetTimer(Handle(), kSlideTimer, static_cast<UINT>(imaging::ShowDurationMs(options_.showSpeed)),
                 nullptr);
    }

    void BeginChange() {
        if (animating_) return;
        std::unique_ptr<Frame> next = TakeReady();
        if (!next) return;  // still decoding: the picture shows as soon as it is ready
        next_ = std::move(next);
        effect_ = imaging::ResolveTransition(options_.transition, random_);
        if (effect_ < 0 || bits_ == nullptr) {
            FinishChange();
            return;
        }
        try {
            from_ = ToImage(*current_);
            to_ = ToImage(*next_);
        } catch (const std::exception&) {
            FinishChange();
            return;
        }
        animating_ = true;
        changeStart_ = GetTickCount();
        SetTimer(Handle(), kAnimationTimer, 15, nullptr);
    }

    void Animate() {
        DWORD elapsed = GetTickCount() - changeStart_;
        if (elapsed >= kTransitionMilliseconds) {
            KillTimer(Handle(), kAnimationTimer);
            animating_ = false;
            FinishChange();
            return;
        }
        try {
            imaging::RenderTransition(effect_, from_, to_,
                                      static_cast<double>(elapsed) / kTransitionMilliseconds, out_);
        } catch (const std::exception&) {
            return;
        }
        GdiFlush();
        std::copy(out_.Row(0), out_.Row(0) + static_cast<std::size_t>(out_.Width()) * out_.Height(), bits_);
        Present();
    }

    static imaging::Image ToImage(const Frame& frame) {
        imaging::Image image(frame.width, frame.height);
        std::copy(frame.pixels.begin(), frame.pixels.end(), image.Row(0));
        return image;
    }

    void FinishChange() {
        from_ = imaging::Image();
        to_ = imaging::Image();
        out_ = imaging::Image();
        current_ = std::move(next_);
        ShowFrame(*current_);
        StartSlideTimer();
        RequestNext();
    }

    // A show with a single picture keeps showing it without decoding it again.
    bool SinglePicture() const { return pictureCount_ == 1; }

    // Worker side.
    void RequestNext() {
        std::lock_guard<std::mutex> lock(mutex_);
        wanted_ = true;
        wake_.notify_one();
    }

    std::unique_ptr<Frame> TakeReady() {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::move(ready_);
    }

    void StopWorker() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
            wake_.notify_one();
        }
        if (worker_.joinable()) worker_.join();
    }

    void WorkerLoop() {
        for (;;) {
            {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait(lock, [this] { return stop_ || wanted_; });
                if (stop_) return;
                wanted_ = false;
            }
            std::unique_ptr<Frame> frame;
            while (!frame) {
                if (sequence_.Empty()) return;  // nothing showable: the background stays
                std::size_t member = sequence_.Next();
                try {
                    std::string bytes = package_.Extract(member);
                    Trace("picture taken out of the archive");
                    frame = ComposeFrame(package_.MemberNames()[member], bytes, settings_);
                    Trace("picture composed");
                } catch (const std::exception&) {
                    frame.reset();
                }
                if (!frame) sequence_.Drop(member);
                std::lock_guard<std::mutex> lock(mutex_);
                if (stop_) return;
            }
            HWND window = nullptr;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (stop_) return;
                ready_ = std::move(frame);
                window = target_;
            }
            // Before the window exists, it finds the picture when it is created.
            if (window != nullptr) PostMessageW(window, kFrameReady, 0, 0);
        }
    }

    void ReleaseDisplay() {
        if (memory_ != nullptr) {
            if (oldBitmap_ != nullptr) SelectObject(memory_, oldBitmap_);
            DeleteDC(memory_);
        }
        if (bitmap_ != nullptr) DeleteObject(bitmap_);
        memory_ = nullptr;
        bitmap_ = nullptr;
    }

    const Package& package_;
    std::function<void()> firstShown_;
    project::SlideShowValues options_;
    ShowSequence sequence_;  // used by the worker only, once it runs
    imaging::RandomSource random_;
    imaging::Image from_, to_, out_;  // the two pictures of a change and its frame in between
    FrameSettings settings_;

    HBITMAP bitmap_ = nullptr;
    HDC memory_ = nullptr;
    HGDIOBJ oldBitmap_ = nullptr;
    std::uint32_t* bits_ = nullptr;

    std::unique_ptr<Frame> current_;
    std::unique_ptr<Frame> next_;
    std::size_t pictureCount_ = 0;
    bool showing_ = false;
    bool slideOver_ = false;
    bool animating_ = false;
    int effect_ = -1;
    DWORD changeStart_ = 0;

    std::thread worker_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool wanted_ = false;
    bool stop_ = false;
    HWND target_ = nullptr;  // where the worker reports, once the window exists
    std::unique_ptr<Frame> ready_;
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
