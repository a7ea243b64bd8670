#pragma once
// The screensaver's window: full screen over every monitor ("/s"), or a child of the control
// panel's preview window ("/p"). Full screen it hides the cursor and closes on a key, a click or
// a mouse movement of more than a few pixels.

#include <windows.h>

#include <cstdint>
#include <vector>

#include "imaging/image.h"

namespace nimbrel::player::win32 {

// Where the window goes: the whole virtual screen with each monitor's rectangle in the
// window's coordinates, or a preview parent's client area.
struct ScreenArea {
    int x = 0, y = 0, width = 0, height = 0;
    std::vector<RECT> monitors;
};

class SaverWindow {
public:
    virtual ~SaverWindow();

    // The area a window made by Create(previewParent) covers; known before the window exists.
    static ScreenArea MeasureArea(HWND previewParent);

    // Creates the window; `previewParent` null for full screen. False when it cannot be made.
    bool Create(HWND previewParent);
    // Runs the message loop until the window is gone; returns the exit code.
    int Run();

    HWND Handle() const { return window_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    bool IsPreview() const { return preview_; }
    // The monitors' rectangles in the window's client coordinates (the client rect in a preview).
    const std::vector<RECT>& Monitors() const { return monitors_; }
    void Close();
    // Shows the window's new content: asks for a repaint, and in a preview under wine also paints
    // at once through the parent's device context (see DrawsThroughParent).
    void Present();

protected:
    // Called once the window exists and has its size.
    virtual void OnCreated() {}
    // Draws the whole client area.
    virtual void OnPaint(HDC dc) = 0;
    virtual void OnTimer(UINT_PTR) {}
    // Application messages (WM_APP and above).
    virtual void OnAppMessage(UINT, WPARAM, LPARAM) {}
    virtual void OnDestroying() {}
    // True for input that ends a full-screen run; the Flash host checks messages of its child too.
    bool IsClosingInput(const MSG& message);

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    // Under wine, a child window of another process's window never reaches the screen, but
    // drawing on that parent does. On Windows the child paints itself, as usual.
    bool DrawsThroughParent() const { return preview_ && underWine_; }
    void PaintThroughParent();

    HWND window_ = nullptr;
    bool preview_ = false;
    bool underWine_ = false;
    int width_ = 0, height_ = 0;
    std::vector<RECT> monitors_;
    bool haveMousePoint_ = false;
    POINT mousePoint_{};
    bool closing_ = false;
};

// A screen-sized picture kept in a DIB section: the players compose their frames in memory and
// the window paints them 1 to 1.
class FrameBitmap {
public:
    FrameBitmap() = default;
    ~FrameBitmap() { Release(); }
    FrameBitmap(const FrameBitmap&) = delete;
    FrameBitmap& operator=(const FrameBitmap&) = delete;

    // Makes the bitmap for `window`'s size (width x height); false when it cannot be made.
    bool Create(HWND window, int width, int height);
    // Copies `frame` in when it has the bitmap's size.
    void Put(const imaging::Image& frame);
    // Paints the bitmap at the top left of `dc`.
    void Paint(HDC dc) const;
    void Release();

private:
    HBITMAP bitmap_ = nullptr;
    HDC memory_ = nullptr;
    HGDIOBJ oldBitmap_ = nullptr;
    std::uint32_t* bits_ = nullptr;
    int width_ = 0, height_ = 0;
};

// Writes wrapped text into `rect`, each line centred, in the given colour.
void DrawCentredText(HDC dc, const RECT& rect, const wchar_t* text, int pixelHeight, bool bold,
                     COLORREF color);

}  // namespace nimbrel::player::win32
