#include "saver_window.h"

#include <algorithm>
#include <cstdlib>

#include "win32_util.h"

namespace nimbrel::player::win32 {
namespace {

constexpr wchar_t kClassName[] = L"NimbrelScreenSaver";
// Mouse movements up to this many pixels are the jitter of a resting mouse, not a user.
constexpr int kMouseTolerance = 4;
// How often a preview drawn through its parent is drawn again, over whatever the parent painted.
constexpr UINT_PTR kRefreshTimer = 0x4E52;
constexpr UINT kRefreshMilliseconds = 500;

bool RunningUnderWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

BOOL CALLBACK CollectMonitor(HMONITOR, HDC, LPRECT rect, LPARAM data) {
    reinterpret_cast<std::vector<RECT>*>(data)->push_back(*rect);
    return TRUE;
}

}  // namespace

SaverWindow::~SaverWindow() {
    if (window_ != nullptr) {
        SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        DestroyWindow(window_);
    }
}

ScreenArea SaverWindow::MeasureArea(HWND previewParent) {
    ScreenArea area;
    if (previewParent != nullptr) {
        RECT client{};
        GetClientRect(previewParent, &client);
        area.width = client.right - client.left;
        area.height = client.bottom - client.top;
        area.monitors.push_back(RECT{0, 0, area.width, area.height});
        return area;
    }
    area.x = GetSystemMetrics(SM_XVIRTUALSCREEN);
    area.y = GetSystemMetrics(SM_YVIRTUALSCREEN);
    area.width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
    area.height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    if (area.width <= 0 || area.height <= 0) {
        area.x = area.y = 0;
        area.width = GetSystemMetrics(SM_CXSCREEN);
        area.height = GetSystemMetrics(SM_CYSCREEN);
    }
    std::vector<RECT> screens;
    EnumDisplayMonitors(nullptr, nullptr, &CollectMonitor, reinterpret_cast<LPARAM>(&screens));
    for (RECT r : screens) {
        OffsetRect(&r, -area.x, -area.y);
        area.monitors.push_back(r);
    }
    if (area.monitors.empty()) area.monitors.push_back(RECT{0, 0, area.width, area.height});
    return area;
}

bool SaverWindow::Create(HWND previewParent) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW cls{};
    cls.cbSize = sizeof cls;
    cls.style = CS_HREDRAW | CS_VREDRAW;
    cls.lpfnWndProc = &SaverWindow::Procedure;
    cls.hInstance = instance;
    cls.hIcon = LoadIconW(instance, L"1");
    cls.lpszClassName = kClassName;
    RegisterClassExW(&cls);  // fails harmlessly when already registered

    preview_ = previewParent != nullptr;
    underWine_ = RunningUnderWine();
    ScreenArea area = MeasureArea(previewParent);
    const int x = area.x, y = area.y;
    width_ = area.width;
    height_ = area.height;
    monitors_ = std::move(area.monitors);
    DWORD style =
        preview_ ? WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN : WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN;
    DWORD exStyle = preview_ ? 0 : WS_EX_TOPMOST | WS_EX_TOOLWINDOW;
    if (width_ <= 0 || height_ <= 0) return false;
    window_ = CreateWindowExW(exStyle, kClassName, L"Screen Saver", style, x, y, width_, height_,
                              preview_ ? previewParent : nullptr, nullptr, instance, this);
    if (window_ == nullptr) return false;
    if (preview_) {
        SetWindowPos(window_, HWND_TOP, 0, 0, width_, height_, SWP_SHOWWINDOW);
        if (DrawsThroughParent()) SetTimer(window_, kRefreshTimer, kRefreshMilliseconds, nullptr);
    } else {
        SetForegroundWindow(window_);
        SetFocus(window_);
        ShowCursor(FALSE);
    }
    OnCreated();
    UpdateWindow(window_);
    return true;
}

int SaverWindow::Run() {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!preview_ && message.hwnd != window_ && IsClosingInput(message)) {
            Close();
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

void SaverWindow::Present() {
    if (window_ == nullptr) return;
    InvalidateRect(window_, nullptr, FALSE);
    if (DrawsThroughParent()) PaintThroughParent();
}

void SaverWindow::PaintThroughParent() {
    HWND parent = GetParent(window_);
    if (parent == nullptr) return;
    HDC dc = GetDC(parent);
    if (dc == nullptr) return;
    // Our client area in the parent's client coordinates, and nothing outside it.
    POINT origin{0, 0};
    MapWindowPoints(window_, parent, &origin, 1);
    IntersectClipRect(dc, origin.x, origin.y, origin.x + width_, origin.y + height_);
    SetViewportOrgEx(dc, origin.x, origin.y, nullptr);
    OnPaint(dc);
    ReleaseDC(parent, dc);
}

bool FrameBitmap::Create(HWND window, int width, int height) {
    Release();
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    HDC screen = GetDC(window);
    void* bits = nullptr;
    bitmap_ = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    memory_ = CreateCompatibleDC(screen);
    ReleaseDC(window, screen);
    if (bitmap_ == nullptr || memory_ == nullptr || bits == nullptr) {
        Release();
        return false;
    }
    bits_ = static_cast<std::uint32_t*>(bits);
    oldBitmap_ = SelectObject(memory_, bitmap_);
    width_ = width;
    height_ = height;
    return true;
}

void FrameBitmap::Put(const imaging::Image& frame) {
    if (bits_ == nullptr || frame.Width() != width_ || frame.Height() != height_) return;
    GdiFlush();
    std::copy(frame.Data(), frame.Data() + static_cast<std::size_t>(width_) * height_, bits_);
}

void FrameBitmap::Paint(HDC dc) const {
    if (memory_ == nullptr) return;
    GdiFlush();
    BitBlt(dc, 0, 0, width_, height_, memory_, 0, 0, SRCCOPY);
}

void FrameBitmap::Release() {
    if (memory_ != nullptr) {
        if (oldBitmap_ != nullptr) SelectObject(memory_, oldBitmap_);
        DeleteDC(memory_);
    }
    if (bitmap_ != nullptr) DeleteObject(bitmap_);
    memory_ = nullptr;
    bitmap_ = nullptr;
    oldBitmap_ = nullptr;
    bits_ = nullptr;
    width_ = height_ = 0;
}

void SaverWindow::Close() {
    if (closing_ || window_ == nullptr) return;
    Trace("closing");
    closing_ = true;
    PostMessageW(window_, WM_CLOSE, 0, 0);
}

bool SaverWindow::IsClosingInput(const MSG& message) {
    switch (message.message) {
        case WM_KEYDOWN:
        case WM_SYSKEYDOWN:
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
        case WM_MBUTTONDOWN:
        case WM_XBUTTONDOWN:
        case WM_MOUSEWHEEL: return true;
        case WM_MOUSEMOVE: {
            POINT now{};
            GetCursorPos(&now);
            if (!haveMousePoint_) {
                haveMousePoint_ = true;
                mousePoint_ = now;
                return false;
            }
            return std::abs(now.x - mousePoint_.x) > kMouseTolerance ||
                   std::abs(now.y - mousePoint_.y) > kMouseTolerance;
        }
        default: return false;
    }
}

LRESULT CALLBACK SaverWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self = static_cast<SaverWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->window_ = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<SaverWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr) return DefWindowProcW(window, message, wParam, lParam);
    return self->HandleMessage(message, wParam, lParam);
}

LRESULT SaverWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (!preview_) {
        MSG m{window_, message, wParam, lParam, 0, {}};
        if (IsClosingInput(m)) {
            Close();
            return 0;
        }
    }
    switch (message) {
        case WM_SETCURSOR:
            if (!preview_) {
                SetCursor(nullptr);
                return TRUE;
            }
            break;
        case WM_ERASEBKGND: return 1;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(window_, &ps);
            OnPaint(dc);
            EndPaint(window_, &ps);
            if (DrawsThroughParent()) PaintThroughParent();
            return 0;
        }
        case WM_TIMER:
            if (wParam == kRefreshTimer) {
                PaintThroughParent();
                return 0;
            }
            OnTimer(wParam);
            return 0;
        case WM_SYSCOMMAND:
            // No screensaver on top of the screensaver, no closing by the system menu.
            if (!preview_ && ((wParam & 0xFFF0) == SC_SCREENSAVE || (wParam & 0xFFF0) == SC_CLOSE)) return 0;
            break;
        case WM_CLOSE: DestroyWindow(window_); return 0;
        case WM_DESTROY:
            KillTimer(window_, kRefreshTimer);
            OnDestroying();
            if (!preview_) ShowCursor(TRUE);
            SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
            window_ = nullptr;
            PostQuitMessage(0);
            return 0;
        default:
            if (message >= WM_APP && message <= 0xBFFF) {
                OnAppMessage(message, wParam, lParam);
                return 0;
            }
            break;
    }
    return DefWindowProcW(window_, message, wParam, lParam);
}

void DrawCentredText(HDC dc, const RECT& rect, const wchar_t* text, int pixelHeight, bool bold,
                     COLORREF color) {
    HFONT font = CreateFontW(-pixelHeight, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                             DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY,
                             DEFAULT_PITCH | FF_SWISS, L"Arial");
    HGDIOBJ old = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, color);
    RECT r = rect;
    DrawTextW(dc, text, -1, &r, DT_CENTER | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(dc, old);
    DeleteObject(font);
}

}  // namespace nimbrel::player::win32
