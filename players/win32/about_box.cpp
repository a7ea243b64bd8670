#include "about_box.h"

#include <shellapi.h>

#include <vector>

#include "win32_util.h"

namespace nimbrel::player::win32 {
namespace {

constexpr wchar_t kClassName[] = L"NimbrelAboutBox";
constexpr int kOkId = IDOK;

struct LinkArea {
    RECT rect;
    std::string link;
};

class AboutBox {
public:
    AboutBox(const AboutInfo& about, HWND owner) : about_(about), owner_(owner) {}
    ~AboutBox() {
        for (HFONT f : fonts_)
            if (f) DeleteObject(f);
        if (titleFont_) DeleteObject(titleFont_);
    }

    void Run() {
        HINSTANCE instance = GetModuleHandleW(nullptr);
        WNDCLASSEXW cls{};
        cls.cbSize = sizeof cls;
        cls.lpfnWndProc = &AboutBox::Procedure;
        cls.hInstance = instance;
        cls.hIcon = LoadIconW(instance, L"1");
        cls.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        cls.lpszClassName = kClassName;
        RegisterClassExW(&cls);

        HDC screen = GetDC(nullptr);
        dpi_ = GetDeviceCaps(screen, LOGPIXELSY);
        ReleaseDC(nullptr, screen);
        if (dpi_ <= 0) dpi_ = 96;
        MakeFonts();
        Layout();

        RECT frame{0, 0, clientWidth_, clientHeight_};
        DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
        AdjustWindowRectEx(&frame, style, FALSE, WS_EX_DLGMODALFRAME);
        int w = frame.right - frame.left, h = frame.bottom - frame.top;
        RECT work{};
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
        int x = work.left + ((work.right - work.left) - w) / 2;
        int y = work.top + ((work.bottom - work.top) - h) / 2;
        std::wstring caption = about_.name.empty() ? std::wstring(L"About") : L"About " + Widen(about_.name);
        window_ = CreateWindowExW(WS_EX_DLGMODALFRAME, kClassName, caption.c_str(), style, x, y, w, h, owner_,
                                  nullptr, instance, this);
        if (window_ == nullptr) return;
        int bw = Scale(88), bh = Scale(26);
        HWND ok =
            CreateWindowExW(0, L"BUTTON", L"OK", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON,
                            clientWidth_ - bw - Scale(12), clientHeight_ - bh - Scale(12), bw, bh, window_,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(kOkId)), instance, nullptr);
        SendMessageW(ok, WM_SETFONT, reinterpret_cast<WPARAM>(fonts_[0]), TRUE);
        if (owner_) EnableWindow(owner_, FALSE);
        ShowWindow(window_, SW_SHOW);
        SetForegroundWindow(window_);
        SetFocus(ok);
        MSG message;
        while (window_ != nullptr && GetMessageW(&message, nullptr, 0, 0) > 0) {
            if (message.message == WM_KEYDOWN &&
                (message.wParam == VK_ESCAPE || message.wParam == VK_RETURN)) {
                DestroyWindow(window_);
                continue;
            }
            if (!IsDialogMessageW(window_, &message)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
        }
        if (owner_) {
            EnableWindow(owner_, TRUE);
            SetForegroundWindow(owner_);
        }
    }

private:
    int Scale(int value) const { return MulDiv(value, dpi_, 96); }

    HFONT MakeFont(int points, bool bold, bool italic, bool underline) {
        return CreateFontW(-MulDiv(points, dpi_, 72), 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, italic, underline,
                           FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                           DEFAULT_PITCH | FF_SWISS, L"Tahoma");
    }

    void MakeFonts() {
        for (int i = 0; i < 8; ++i) fonts_[i] = MakeFont(9, i & 1, (i & 2) != 0, (i & 4) != 0);
        titleFont_ = MakeFont(13, true, false, false);
    }

    HFONT FontFor(const TextStyle& s) const {
        return fonts_[(s.bold ? 1 : 0) | (s.italic ? 2 : 0) | (s.underline ? 4 : 0)];
    }

    void Layout() {
        clientWidth_ = Scale(420);
        margin_ = Scale(16);
        HDC dc = GetDC(nullptr);
        TEXTMETRICW metrics{};
        HGDIOBJ old = SelectObject(dc, fonts_[1]);
        GetTextMetricsW(dc, &metrics);
        lineHeight_ = metrics.tmHeight + metrics.tmExternalLeading;
        SelectObject(dc, titleFont_);
        RECT title{0, 0, clientWidth_ - 2 * margin_, 0};
        std::wstring name = Widen(about_.name);
        DrawTextW(dc, name.c_str(), -1, &title, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
        titleHeight_ = title.bottom - title.top;
        layout_ =
            LayoutText(ParseSimpleHtml(about_.text), clientWidth_ - 2 * margin_,
                       [&](const std::string& text, const TextStyle& style) {
                           SelectObject(dc, FontFor(style));
                           std::wstring wide = Widen(text);
                           SIZE size{};
                           GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &size);
                           return static_cast<int>(size.cx);
                       });
        SelectObject(dc, old);
        ReleaseDC(nullptr, dc);
        textTop_ = margin_ + titleHeight_ + Scale(12);
        clientHeight_ = textTop_ + layout_.lines * lineHeight_ + Scale(16) + Scale(26) + Scale(12);
        links_.clear();
        for (const PlacedText& piece : layout_.pieces) {
            if (piece.link.empty()) continue;
            int top = textTop_ + piece.line * lineHeight_;
            links_.push_back(
                {RECT{margin_ + piece.x, top, margin_ + piece.x + piece.width, top + lineHeight_},
                 piece.link});
        }
    }

    void Paint(HDC dc) {
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
        HGDIOBJ old = SelectObject(dc, titleFont_);
        RECT title{margin_, margin_, clientWidth_ - margin_, margin_ + titleHeight_};
        std::wstring name = Widen(about_.name);
        DrawTextW(dc, name.c_str(), -1, &title, DT_WORDBREAK | DT_NOPREFIX);
        for (const PlacedText& piece : layout_.pieces) {
            SelectObject(dc, FontFor(piece.style));
            SetTextColor(dc, piece.link.empty() ? GetSysColor(COLOR_BTNTEXT) : RGB(0, 0, 204));
            std::wstring wide = Widen(piece.text);
            TextOutW(dc, margin_ + piece.x, textTop_ + piece.line * lineHeight_, wide.c_str(),
                     static_cast<int>(wide.size()));
        }
        SelectObject(dc, old);
    }

    const LinkArea* LinkAt(int x, int y) const {
        POINT p{x, y};
        for (const LinkArea& area : links_)
            if (PtInRect(&area.rect, p)) return &area;
        return nullptr;
    }

    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE)
            SetWindowLongPtrW(
                window, GWLP_USERDATA,
                reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
        auto* self = reinterpret_cast<AboutBox*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (self == nullptr) return DefWindowProcW(window, message, wParam, lParam);
        switch (message) {
            case WM_PAINT: {
                PAINTSTRUCT ps;
                HDC dc = BeginPaint(window, &ps);
                self->Paint(dc);
                EndPaint(window, &ps);
                return 0;
            }
            case WM_SETCURSOR:
                if (LOWORD(lParam) == HTCLIENT) {
                    POINT p{};
                    GetCursorPos(&p);
                    ScreenToClient(window, &p);
                    SetCursor(LoadCursorW(nullptr, self->LinkAt(p.x, p.y) ? IDC_HAND : IDC_ARROW));
                    return TRUE;
                }
                break;
            case WM_LBUTTONUP:
                if (const LinkArea* area = self->LinkAt(static_cast<short>(LOWORD(lParam)),
                                                        static_cast<short>(HIWORD(lParam)))) {
                    if (IsWebLink(area->link))
                        ShellExecuteW(window, L"open", Widen(area->link).c_str(), nullptr, nullptr,
                                      SW_SHOWNORMAL);
                }
                return 0;
            case WM_COMMAND:
                if (LOWORD(wParam) == kOkId || LOWORD(wParam) == IDCANCEL) DestroyWindow(window);
                return 0;
            case WM_CLOSE: DestroyWindow(window); return 0;
            case WM_DESTROY:
                SetWindowLongPtrW(window, GWLP_USERDATA, 0);
                self->window_ = nullptr;
                return 0;
            default: break;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }

    AboutInfo about_;
    HWND owner_;
    HWND window_ = nullptr;
    int dpi_ = 96;
    HFONT fonts_[8] = {};
    HFONT titleFont_ = nullptr;
    int clientWidth_ = 0, clientHeight_ = 0, margin_ = 0, lineHeight_ = 0, titleHeight_ = 0, textTop_ = 0;
    TextLayout layout_;
    std::vector<LinkArea> links_;
};

}  // namespace

void RunAboutBox(const AboutInfo& about, HWND owner) {
    AboutBox box(about, owner);
    box.Run();
}

}  // namespace nimbrel::player::win32
