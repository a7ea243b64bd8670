/* A stand-in for the display control panel's preview: a borderless 320 x 240 window at
   (100, 100) that starts the screensaver named on its command line with "/p <its handle>",
   and closes after the number of seconds given second (default 8). */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER) {
        DestroyWindow(window);
        return 0;
    }
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR arguments, int show) {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    WNDCLASSW cls = {0};
    HWND window;
    wchar_t line[1024];
    STARTUPINFOW startup = {0};
    PROCESS_INFORMATION process = {0};
    MSG message;
    (void)previous;
    (void)arguments;
    (void)show;
    if (argv == NULL || argc < 2) return 3;
    cls.lpfnWndProc = Procedure;
    cls.hInstance = instance;
    cls.hbrBackground = CreateSolidBrush(RGB(255, 0, 255));
    cls.lpszClassName = L"PreviewHost";
    RegisterClassW(&cls);
    window = CreateWindowExW(0, L"PreviewHost", L"Preview host", WS_POPUP | WS_VISIBLE, 100, 100, 320, 240, NULL,
                             NULL, instance, NULL);
    if (window == NULL) return 4;
    SetTimer(window, 1, (UINT)(1000 * (argc > 2 ? _wtoi(argv[2]) : 8)), NULL);
    _snwprintf(line, 1023, L"\"%ls\" /p %lu", argv[1], (unsigned long)(ULONG_PTR)window);
    line[1023] = 0;
    startup.cb = sizeof startup;
    if (!CreateProcessW(NULL, line, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) return 5;
    while (GetMessageW(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    WaitForSingleObject(process.hProcess, 5000);
    return 0;
}
