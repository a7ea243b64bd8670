/* Writes the text of the top-level window titled as its first argument and of every window in it,
   one a line in UTF-8, into the file named second: what the X server cannot tell of a window's
   controls. Exit code 1 when there is no such window. */
#include <windows.h>
#include <stdio.h>

static BOOL CALLBACK Write(HWND window, LPARAM file) {
    static wchar_t text[8192];
    static char utf8[4 * 8192];
    DWORD_PTR got = 0;
    text[0] = 0;
    if (SendMessageTimeoutW(window, WM_GETTEXT, 8192, (LPARAM)text, SMTO_ABORTIFHUNG, 3000, &got))
        WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, NULL, NULL);
    else
        utf8[0] = 0;
    fprintf((FILE*)file, "%s\n", utf8);
    return TRUE;
}

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    HWND window = FindWindowW(NULL, argv[1]);
    if (!window) return 1;
    FILE* file = _wfopen(argv[2], L"wb");
    if (!file) return 2;
    Write(window, (LPARAM)file);
    EnumChildWindows(window, Write, (LPARAM)file);
    fclose(file);
    return 0;
}
