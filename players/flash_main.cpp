// flash.bin: the Flash player. Writes the show's .swf member to a private temporary file and
// plays it in the Flash ActiveX control. Where no such control is registered it plays the
// frames recorded at compile (the "Movie.frames" member and its pictures) through the show
// engine's show::RecordedMovie, as render and the editor's preview do; a screensaver without
// them shows the show's title and a sentence that says why nothing plays.

#include <ole2.h>
#include <oleauto.h>
#include <windows.h>

#include "gdiplus_headers.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "about_box.h"
#include "flash/frame_index.h"
#include "picture_decoder_win32.h"
#include "command_line.h"
#include "package.h"
#include "platform/error.h"
#include "saver_window.h"
#include "show/recorded_movie.h"
#include "win32_util.h"

namespace nimbrel::player::win32 {
namespace {

constexpr wchar_t kNoFlashSentence[] =
    L"This screen saver needs the Flash Player, which is not installed on this computer.";

// {D27CDB6E-AE6D-11cf-96B8-444553540000}
constexpr CLSID kFlashClassId = {
    0xD27CDB6E, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

// The movie's bytes in a file of their own in the temporary directory, removed with the object.
class TemporaryMovie {
public:
    explicit TemporaryMovie(const std::string& bytes) {
        wchar_t directory[MAX_PATH + 1] = {};
        wchar_t name[MAX_PATH + 1] = {};
        if (GetTempPathW(MAX_PATH, directory) == 0 || GetTempFileNameW(directory, L"nsf", 0, name) == 0)
            throw Error("The screen saver cannot write its temporary file");
        // The unique name stays reserved while the movie lies beside it with the extension the
        // control expects.
        reserved_ = name;
        path_ = reserved_ + L".swf";
        HANDLE file = CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_TEMPORARY, nullptr);
        bool ok = file != INVALID_HANDLE_VALUE;
        std::size_t done = 0;
        while (ok && done < bytes.size()) {
            DWORD piece = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 24));
            DWORD written = 0;
            ok = WriteFile(file, bytes.data() + done, piece, &written, nullptr) && written == piece;
            done += written;
        }
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        if (!ok) {
            DeleteFileW(path_.c_str());
            DeleteFileW(reserved_.c_str());
            throw Error("The screen saver cannot write its temporary file");
        }
    }
    ~TemporaryMovie() {
        DeleteFileW(path_.c_str());
        DeleteFileW(reserved_.c_str());
    }
    TemporaryMovie(const TemporaryMovie&) = delete;
    TemporaryMovie& operator=(const TemporaryMovie&) = delete;
    const std::wstring& Path() const { return path_; }

private:
    std::wstring reserved_;
    std::wstring path_;
};

// The smallest container an ActiveX control accepts for in-place activation in our window.
class ControlSite : public IOleClientSite, public IOleInPlaceSite, public IOleInPlaceFrame {
public:
    explicit ControlSite(HWND window) : window_(window) {}

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IOleClientSite))
            *out = static_cast<IOleClientSite*>(this);
        else if (IsEqualIID(iid, IID_IOleInPlaceSite) || IsEqualIID(iid, IID_IOleWindow))
            *out = static_cast<IOleInPlaceSite*>(this);
        else if (IsEqualIID(iid, IID_IOleInPlaceFrame) || IsEqualIID(iid, IID_IOleInPlaceUIWindow))
            *out = static_cast<IOleInPlaceFrame*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override { return --references_; }  // owned by the window

    // IOleClientSite
    STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    STDMETHODIMP GetContainer(IOleContainer** container) override {
        *container = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IOleWindow
    STDMETHODIMP GetWindow(HWND* window) override {
        *window = window_;
        return S_OK;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IOleInPlaceSite
    STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnUIActivate() override { return S_OK; }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT position,
                                  LPRECT clip, LPOLEINPLACEFRAMEINFO info) override {
        *frame = static_cast<IOleInPlaceFrame*>(this);
        AddRef();
        *document = nullptr;
        GetClientRect(window_, position);
        GetClientRect(window_, clip);
        info->fMDIApp = FALSE;
        info->hwndFrame = window_;
        info->haccel = nullptr;
        info->cAccelEntries = 0;
        return S_OK;
    }
    STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
    STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnInPlaceDeactivate() override { return S_OK; }
    STDMETHODIMP DiscardUndoState() override { return E_NOTIMPL; }
    STDMETHODIMP DeactivateAndUndo() override { return E_NOTIMPL; }
    STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }

    // IOleInPlaceUIWindow / IOleInPlaceFrame
    STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
    STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override { return S_OK; }
    STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return S_OK; }
    STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    STDMETHODIMP RemoveMenus(HMENU) override { return S_OK; }
    STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
    STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

private:
    HWND window_;
    ULONG references_ = 1;
};

// Sets a property or calls a method of the control by name.
bool Invoke(IDispatch* dispatch, const wchar_t* name, WORD flags, VARIANT* arguments, UINT count) {
    DISPID id = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    if (FAILED(dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) return false;
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{arguments, (flags & DISPATCH_PROPERTYPUT) ? &named : nullptr, count,
                      (flags & DISPATCH_PROPERTYPUT) ? 1u : 0u};
    VARIANT result;
    VariantInit(&result);
    HRESULT hr =
        dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, &result, nullptr, nullptr);
    VariantClear(&result);
    return SUCCEEDED(hr);
}

// The recorded frames of a package, played by the show engine's rule from the package's members.
class RecordedFrames {
public:
    static std::unique_ptr<RecordedFrames> Find(const Package& package) {
        const long at = package.FindByExtension(".frames");
        if (at < 0) return nullptr;
        std::optional<flash::FrameIndex> index;
        try {
            index = flash::ReadFrameIndex(package.Extract(static_cast<std::size_t>(at)));
        } catch (const std::exception&) {
            return nullptr;
        }
        if (!index) return nullptr;
        auto frames = std::unique_ptr<RecordedFrames>(new RecordedFrames(package));
        const auto& names = package.MemberNames();
        for (std::size_t i = names.size(); i-- > 0;) frames->members_[names[i]] = i;
        for (const auto& name : index->frames)
            if (frames->members_.find(name) == frames->members_.end()) return nullptr;
        frames->movie_ = std::make_unique<show::RecordedMovie>(
            std::move(*index),
            [raw = frames.get()](const std::string& name) {
                return raw->package_.Extract(raw->members_.at(name));
            },
            frames->decoder_);
        return frames;
    }

    show::RecordedMovie& Movie() { return *movie_; }

private:
    explicit RecordedFrames(const Package& package) : package_(package) {}
    const Package& package_;
    std::map<std::string, std::size_t> members_;
    WindowsPictureDecoder decoder_;
    std::unique_ptr<show::RecordedMovie> movie_;
};

class FlashWindow : public SaverWindow {
public:
    FlashWindow(std::wstring title, const TemporaryMovie* movie, RecordedFrames* frames)
        : title_(std::move(title)), movie_(movie), frames_(frames) {}

protected:
    static constexpr UINT_PTR kFrameTimer = 1;

    void OnCreated() override {
        if (movie_ != nullptr) playing_ = StartControl();
        if (!playing_ && frames_ != nullptr && display_.Create(Handle(), Width(), Height())) {
            screen_ = show::Screen{Width(), Height(), {}};
            for (const RECT& m : Monitors())
                screen_.monitors.push_back({m.left, m.top, m.right - m.left, m.bottom - m.top});
            QueryPerformanceFrequency(&frequency_);
            QueryPerformanceCounter(&started_);
            recorded_ = true;
            ShowFrameAt(0);
        }
        Present();
    }

    void OnTimer(UINT_PTR id) override {
        if (id != kFrameTimer || !recorded_) return;
        KillTimer(Handle(), kFrameTimer);
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        ShowFrameAt((now.QuadPart - started_.QuadPart) * 1000 / frequency_.QuadPart);
    }

    void OnPaint(HDC dc) override {
        RECT all{0, 0, Width(), Height()};
        if (recorded_) {
            display_.Paint(dc);
            return;
        }
        FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        if (playing_) return;
        for (const RECT& monitor : Monitors()) {
            int height = monitor.bottom - monitor.top;
            int width = monitor.right - monitor.left;
            int titleSize = std::max(8, height / 14);
            int textSize = std::max(6, height / 32);
            RECT titleRect{monitor.left + width / 10, monitor.top + height / 3, monitor.right - width / 10,
                           monitor.top + height / 2};
            DrawCentredText(dc, titleRect, title_.c_str(), titleSize, true, RGB(255, 255, 255));
            RECT textRect{monitor.left + width / 10, monitor.top + height / 2, monitor.right - width / 10,
                          monitor.bottom};
            DrawCentredText(dc, textRect, kNoFlashSentence, textSize, false, RGB(200, 200, 200));
        }
    }

    void OnDestroying() override {
        if (recorded_) KillTimer(Handle(), kFrameTimer);
        StopControl();
    }

private:
    // Draws the frame of show time `ms` when it changed, and sleeps until the next one.
    void ShowFrameAt(std::int64_t ms) {
        show::RecordedMovie& movie = frames_->Movie();
        if (movie.Draw(ms, screen_, frame_)) {
            display_.Put(frame_);
            char line[80];
            std::snprintf(line, sizeof line, "show %lld frame %lld", static_cast<long long>(ms),
                          static_cast<long long>(movie.FrameAt(ms)));
            Trace(line);
            Present();
        }
        const std::int64_t wait = movie.NextChange(ms) - ms;
        SetTimer(Handle(), kFrameTimer, static_cast<UINT>(std::clamp<std::int64_t>(wait, 1, 60000)), nullptr);
    }

    bool StartControl() {
        IOleObject* object = nullptr;
        if (FAILED(CoCreateInstance(kFlashClassId, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                                    reinterpret_cast<void**>(&object))) ||
            object == nullptr)
            return false;
        object_ = object;
        site_ = std::make_unique<ControlSite>(Handle());
        IDispatch* dispatch = nullptr;
        bool ok = SUCCEEDED(object_->SetClientSite(site_.get()));
        if (ok) {
            RECT client{0, 0, Width(), Height()};
            ok = SUCCEEDED(
                object_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site_.get(), 0, Handle(), &client));
        }
        if (ok) ok = SUCCEEDED(object_->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)));
        if (ok) {
            VARIANT loop;
            VariantInit(&loop);
            loop.vt = VT_BOOL;
            loop.boolVal = VARIANT_TRUE;
            Invoke(dispatch, L"Loop", DISPATCH_PROPERTYPUT, &loop, 1);
            VARIANT movie;
            VariantInit(&movie);
            movie.vt = VT_BSTR;
            movie.bstrVal = SysAllocString(movie_->Path().c_str());
            ok = Invoke(dispatch, L"Movie", DISPATCH_PROPERTYPUT, &movie, 1);
            VariantClear(&movie);
            if (ok) Invoke(dispatch, L"Play", DISPATCH_METHOD, nullptr, 0);
            dispatch->Release();
        }
        if (!ok) StopControl();
        return ok;
    }

    void StopControl() {
        if (object_ != nullptr) {
            object_->Close(OLECLOSE_NOSAVE);
            object_->SetClientSite(nullptr);
            object_->Release();
            object_ = nullptr;
        }
        site_.reset();
        playing_ = false;
    }

    std::wstring title_;
    const TemporaryMovie* movie_;
    RecordedFrames* frames_;
    bool recorded_ = false;
    show::Screen screen_;
    show::Frame frame_;
    FrameBitmap display_;
    LARGE_INTEGER frequency_{}, started_{};
    IOleObject* object_ = nullptr;
    std::unique_ptr<ControlSite> site_;
    bool playing_ = false;
};

int Run(const CommandLine& command) {
    HWND parent = WindowFromArgument(command.window);
    if (command.mode == RunMode::Password) return 0;
    if (command.mode == RunMode::Preview && parent == nullptr) return 0;
    std::shared_ptr<OwnFile> file;
    std::unique_ptr<Package> package;
    try {
        file = std::make_shared<OwnFile>();
        package = std::make_unique<Package>(file);
    } catch (const std::exception& e) {
        return ReportStartFailure(e.what(), command.mode, parent);
    }
    if (command.mode == RunMode::Configure) {
        RunAboutBox(package->About(), parent);
        return 0;
    }
    std::string title = package->About().name;
    if (title.empty() && package->Project().flashRead) title = package->Project().flash.title;
    // The movie is written out only for a full-screen run; a preview shows the title.
    std::unique_ptr<TemporaryMovie> movie;
    long swf = package->FindByExtension(".swf");
    bool comReady = false;
    if (command.mode == RunMode::FullScreen && swf >= 0) {
        try {
            movie = std::make_unique<TemporaryMovie>(package->Extract(static_cast<std::size_t>(swf)));
        } catch (const std::exception& e) {
            return ReportStartFailure(e.what(), command.mode, parent);
        }
        comReady = SUCCEEDED(OleInitialize(nullptr));
    }
    // Where no Flash control plays the movie, the frames recorded at compile do, in a preview too.
    std::unique_ptr<RecordedFrames> frames = RecordedFrames::Find(*package);
    Gdiplus::GdiplusStartupInput gdiplusInput;
    ULONG_PTR gdiplusToken = 0;
    const bool gdiplusReady =
        frames && Gdiplus::GdiplusStartup(&gdiplusToken, &gdiplusInput, nullptr) == Gdiplus::Ok;
    if (!gdiplusReady) frames.reset();
    int code = 0;
    {
        FlashWindow window(Widen(title), comReady ? movie.get() : nullptr, frames.get());
        if (window.Create(command.mode == RunMode::Preview ? parent : nullptr))
            code = window.Run();
        else
            code = ReportStartFailure("The screen saver cannot open its window.", command.mode, parent);
    }
    frames.reset();
    if (gdiplusReady) Gdiplus::GdiplusShutdown(gdiplusToken);
    if (comReady) OleUninitialize();
    return code;
}

}  // namespace
}  // namespace nimbrel::player::win32

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    using namespace nimbrel::player;
    win32::MakeDpiAware();
    return win32::Run(ParseCommandLine(win32::CommandArguments()));
}
