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
#include <thread>
#include <utility>

#include "about_box.h"
#include "command_line.h"
#include "gdiplus_headers.h"
#include "package.h"
#include "picture_decoder_win32.h"
#include "platform/error.h"
#include "saver_window.h"
#include "show/decode_ahead.h"
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
class SlideShowWindow : public SaverWindow {
public:
    // `firstShown` runs on the window's thread once the first picture shows, or after a few
    // seconds when none does.
    SlideShowWindow(const Package& package, std::function<void()> firstShown)
        : package_(package), firstShown_(std::move(firstShown)), options_(package.Project().slideShow) {}

    ~SlideShowWindow() override {
        StopWorker();
        ReleaseDisplay();
    }

    // Starts decoding the first picture, then measures the area the window will cover (which
    // can take a while on a system that connects to its display only now), so that both run
    // beside each other and beside the window's creation. Call once, before Create.
    void Prepare(HWND previewParent) {
        show_ = std::make_unique<show::Show>(options_, BackgroundColor(options_.backgroundColor),
                                             show::ScreenLater{}, std::make_shared<PackagePictures>(package_),
                                             package_.SlideOrder(), decoder_, ShowSeed());
        live_ = std::make_unique<show::LiveClock>(show_->Clock());
        if (show_->PictureCount() > 0) {
            // Nothing showable: no message, and the background stays.
            ahead_ = std::make_unique<show::DecodeAhead>(*show_, [this](std::int64_t slide) {
                if (slide < 0) return;
                Trace("picture composed");
                HWND window = nullptr;
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    window = target_;
                }
                // Before the window exists, it finds the picture when it is created.
                if (window != nullptr) PostMessageW(window, kSlideReady, 0, 0);
            });
            RequestSlide(0);
        }
        // The captions the build drew, taken out while the first picture decodes.
        if (options_.show.caption != project::kCaptionNone)
            show_->SetCaptions(package_.Captions(show::CaptionPlaceFrom(options_.show.captionPlace)));
        ScreenArea area = MeasureArea(previewParent);
        show::Screen screen{area.width, area.height, {}};
        for (const RECT& monitor : area.monitors) screen.monitors.push_back(ToRect(monitor));
        show_->SetScreen(screen);
        Trace("screen measured");
    }

protected:
    void OnCreated() override {
        CreateDisplay();
        // The frame is made here, while the first picture decodes, rather than when it shows.
        show_->DrawBackground(frame_);
        ShowFrame(frame_);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            target_ = Handle();
        }
        // The first picture may be ready already.
        if (ReadySlide() >= 0) PostMessageW(Handle(), kSlideReady, 0, 0);
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
        if (message != kSlideReady) return;
        if (!showing_) {
            if (ReadySlide() < 0) return;
            // The first picture shows at once.
            showing_ = true;
            live_->Start(WallMilliseconds());
            current_ = 0;
            DrawMoment(show_->Clock().At(0));
            Trace("first picture on screen");
            FirstShown();
            if (SinglePicture()) return;
            RequestSlide(1);
        }
        Tick();
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
        StopWorker();
    }

private:
    void FirstShown() {
        KillTimer(Handle(), kFirstPictureTimer);
        if (firstShown_) std::exchange(firstShown_, nullptr)();
    }

    // Draws what the show's clock says now, and sets the timer for the next frame: every few
    // milliseconds during a change, else at the next change (unless its picture is not ready).
    void Tick() {
        if (!showing_ || SinglePicture()) return;
        const std::int64_t lastReady = ReadySlide();
        const std::int64_t now = live_->Now(WallMilliseconds(), lastReady);
        const show::Moment moment = show_->Clock().At(now);
        if (moment.slide > current_) {
            current_ = moment.slide;
            RequestSlide(current_ + 1);
        }
        if (moment.phase == show::Phase::Change || moment.slide != drawnSlide_) DrawMoment(moment, now);
        UINT wait = kFrameMilliseconds;
        if (moment.phase == show::Phase::Still) {
            const std::int64_t change = show_->Clock().ChangeStart(moment.slide);
            // Waiting for the next picture: its message starts the change.
            if (lastReady <= moment.slide && now >= live_->HoldPoint(lastReady)) return;
            wait = static_cast<UINT>(std::clamp<std::int64_t>(change - now, 1, 0x7FFFFFFF));
        }
        SetTimer(Handle(), kShowTimer, wait, nullptr);
    }

    // Draws the moment; with a trace, notes the show time of each frame put on screen, so that
    // tests can render the same frames elsewhere.
    void DrawMoment(const show::Moment& moment, std::int64_t now = 0) {
        if (!show_->Draw(moment, frame_)) return;
        drawnSlide_ = moment.phase == show::Phase::Still ? moment.slide : -1;
        ShowFrame(frame_);
        char line[80];
        std::snprintf(line, sizeof line, "show %lld slide %lld", static_cast<long long>(now),
                      static_cast<long long>(moment.slide));
        Trace(line);
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

    void ShowFrame(const show::Frame& frame) {
        if (bits_ != nullptr && frame.Width() == Width() && frame.Height() == Height()) {
            GdiFlush();
            std::copy(frame.Data(), frame.Data() + static_cast<std::size_t>(frame.Width()) * frame.Height(),
                      bits_);
        }
        Present();
    }

    // A show with a single picture keeps showing it without decoding it again.
    bool SinglePicture() const { return show_->PictureCount() == 1; }

    // The decoding ahead.
    std::int64_t ReadySlide() const { return ahead_ ? ahead_->ReadySlide() : -1; }
    void RequestSlide(std::int64_t slide) {
        if (ahead_) ahead_->Request(slide);
    }
    void StopWorker() {
        if (ahead_) ahead_->Stop();
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
    WindowsPictureDecoder decoder_;
    std::unique_ptr<show::Show> show_;
    std::unique_ptr<show::LiveClock> live_;
    show::Frame frame_;

    HBITMAP bitmap_ = nullptr;
    HDC memory_ = nullptr;
    HGDIOBJ oldBitmap_ = nullptr;
    std::uint32_t* bits_ = nullptr;

    bool showing_ = false;
    std::int64_t current_ = 0;      // the slide the clock is at
    std::int64_t drawnSlide_ = -1;  // the slide on screen when still, else -1

    std::mutex mutex_;
    HWND target_ = nullptr;  // where the worker reports, once the window exists
    // Last: it prepares show_ and reports through the members above.
    std::unique_ptr<show::DecodeAhead> ahead_;
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
