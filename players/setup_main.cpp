// setup.bin: installs the screensaver appended to it for the current user, without
// administrator rights, and (copied beside it as uninstall.exe) removes it again.
//   setup.exe [/S]              install; /S without asking or showing anything
//   uninstall.exe /uninstall [/S]
// Exit codes: 0 done, 1 cancelled or nothing to do, 2 damaged installer or failure.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "about_text.h"
#include "archive/archive_reader.h"
#include "archive/pe_layout.h"
#include "platform/error.h"
#include "setup_info.h"
#include "win32_util.h"

namespace {

using nimbrel::Error;
using nimbrel::archive::ArchiveReader;
using nimbrel::player::win32::Narrow;
using nimbrel::player::win32::Widen;

constexpr int kDone = 0, kCancelled = 1, kFailed = 2;
constexpr const wchar_t* kDesktopKey = L"Control Panel\\Desktop";
constexpr const wchar_t* kUninstallRoot = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr const wchar_t* kUninstaller = L"uninstall.exe";

bool g_silent = false;

int Report(const std::wstring& text, bool error) {
    std::fwprintf(stderr, L"%ls\n", text.c_str());
    if (!g_silent) MessageBoxW(nullptr, text.c_str(), L"Screen Saver Setup", MB_OK | (error ? MB_ICONERROR : MB_ICONINFORMATION));
    return error ? kFailed : kDone;
}

std::wstring ModulePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD got = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (got < path.size()) {
            path.resize(got);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::wstring Folder(const std::wstring& path) {
    std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring LastPart(const std::wstring& path) {
    std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// --- The registry ----------------------------------------------------------------------------

class Key {
public:
    Key(HKEY root, const std::wstring& path, bool create) {
        LONG result = create ? RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key_, nullptr)
                             : RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | KEY_WRITE, &key_);
        if (result != ERROR_SUCCESS) key_ = nullptr;
    }
    ~Key() {
        if (key_) RegCloseKey(key_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    explicit operator bool() const { return key_ != nullptr; }

    bool Get(const wchar_t* name, std::wstring& value) const {
        DWORD type = 0, size = 0;
        if (RegQueryValueExW(key_, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
            (type != REG_SZ && type != REG_EXPAND_SZ))
            return false;
        std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
        size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        if (RegQueryValueExW(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) != ERROR_SUCCESS)
            return false;
        text.resize(wcsnlen(text.c_str(), size / sizeof(wchar_t)));
        value = text;
        return true;
    }
    DWORD GetNumber(const wchar_t* name, DWORD fallback) const {
        DWORD value = 0, size = sizeof value, type = 0;
        if (RegQueryValueExW(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
            type != REG_DWORD)
            return fallback;
        return value;
    }
    void Set(const wchar_t* name, const std::wstring& value) {
        LONG result = RegSetValueExW(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        if (result != ERROR_SUCCESS) throw Error("Cannot write the registry value " + Narrow(name));
    }
    void SetNumber(const wchar_t* name, DWORD value) {
        if (RegSetValueExW(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) != ERROR_SUCCESS)
            throw Error("Cannot write the registry value " + Narrow(name));
    }
    void Delete(const wchar_t* name) { RegDeleteValueW(key_, name); }

private:
    HKEY key_ = nullptr;
};

// --- Installing ------------------------------------------------------------------------------

// The installer's own file, read through the players' file views.
struct Installer {
    std::shared_ptr<nimbrel::player::win32::OwnFile> file;
    std::unique_ptr<ArchiveReader> reader;
    nimbrel::player::SetupInfo info;
    std::string aboutText;
    int screensaver = -1;
};

Installer OpenInstaller() {
    Installer in;
    in.file = std::make_shared<nimbrel::player::win32::OwnFile>();
    in.reader = std::make_unique<ArchiveReader>(in.file);
    if (!in.reader->VerifyArchiveCrc()) throw Error("The archive file appears to be corrupted");
    int ini = in.reader->IndexOf("Setup.ini");
    if (ini < 0) throw Error("Setup.ini is missing");
    in.info = nimbrel::player::ParseSetupIni(in.reader->Extract(static_cast<std::size_t>(ini)));
    int about = in.reader->IndexOf("About.cfg");
    if (about >= 0) {
        nimbrel::player::AboutInfo a = nimbrel::player::SplitAboutFile(in.reader->Extract(static_cast<std::size_t>(about)));
        in.aboutText = nimbrel::player::PlainAboutText(a.text);
    }
    in.screensaver = in.reader->IndexOf(in.info.file);
    if (in.screensaver < 0) throw Error(in.info.file + " is missing");
    return in;
}

// The window that asks: the show's name, its About text and Install / Cancel.
struct AskState {
    bool install = false;
    bool done = false;
};

LRESULT CALLBACK AskProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<AskState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                state->install = LOWORD(wParam) == IDOK;
                DestroyWindow(window);
            }
            return 0;
        case WM_CLOSE: DestroyWindow(window); return 0;
        case WM_DESTROY: state->done = true; return 0;
        default: return DefWindowProcW(window, message, wParam, lParam);
    }
}

bool AskToInstall(const std::wstring& name, const std::wstring& about) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = AskProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hIcon = LoadIconW(wc.hInstance, MAKEINTRESOURCEW(1));
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = L"NimbrelSetup";
    RegisterClassW(&wc);
    const std::wstring caption = name + L" Setup";
    HWND window = CreateWindowExW(WS_EX_DLGMODALFRAME, wc.lpszClassName, caption.c_str(),
                                  WS_CAPTION | WS_SYSMENU | WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT, 480, 360,
                                  nullptr, nullptr, wc.hInstance, nullptr);
    if (!window) return false;
    AskState state;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&state));
    HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    auto add = [&](const wchar_t* cls, const std::wstring& text, DWORD style, int x, int y, int w, int h, int id) {
        HWND control = CreateWindowExW(0, cls, text.c_str(), WS_CHILD | WS_VISIBLE | style, x, y, w, h, window,
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), wc.hInstance, nullptr);
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
        return control;
    };
    add(L"STATIC", L"Install the screen saver \"" + name + L"\" for yourself?", SS_LEFT, 12, 12, 440, 20, 100);
    add(L"EDIT", about, ES_MULTILINE | ES_READONLY | WS_VSCROLL | WS_BORDER | ES_AUTOVSCROLL, 12, 40, 440, 220, 101);
    HWND install = add(L"BUTTON", L"Install", BS_DEFPUSHBUTTON | WS_TABSTOP, 276, 276, 84, 26, IDOK);
    add(L"BUTTON", L"Cancel", BS_PUSHBUTTON | WS_TABSTOP, 368, 276, 84, 26, IDCANCEL);
    SetFocus(install);
    MSG msg;
    while (!state.done && GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (IsDialogMessageW(window, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return state.install;
}

void WriteWholeFile(const std::wstring& path, const std::function<void(HANDLE)>& write) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw Error("Cannot create file " + Narrow(path));
    try {
        write(file);
    } catch (...) {
        CloseHandle(file);
        DeleteFileW(path.c_str());
        throw;
    }
    CloseHandle(file);
}

void WriteBytes(HANDLE file, const void* data, std::size_t size, const std::wstring& path) {
    DWORD written = 0;
    if (!WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) || written != size)
        throw Error("Cannot write file " + Narrow(path));
}

// Puts `temporary` in place of `path` (an earlier install's file included).
void PutInPlace(const std::wstring& temporary, const std::wstring& path) {
    if (!MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileW(temporary.c_str());
        throw Error("Cannot replace " + Narrow(path) + " (is it in use?)");
    }
}

int Install() {
    Installer in;
    try {
        in = OpenInstaller();
    } catch (const Error& e) {
        return Report(L"This installer is damaged and cannot install anything.\n\n(" + Widen(e.what()) + L")", true);
    }
    const std::wstring name = Widen(in.info.name.empty() ? in.info.file : in.info.name);
    if (!g_silent && !AskToInstall(name, Widen(in.aboutText))) return kCancelled;

    PWSTR local = nullptr;
    if (SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &local) != S_OK)
        return Report(L"Cannot find your local application data folder.", true);
    const std::wstring folderName = Widen(nimbrel::player::SetupFolderName(in.info.name.empty() ? in.info.file : in.info.name));
    const std::wstring folder = std::wstring(local) + L"\\Programs\\" + folderName;
    CoTaskMemFree(local);
    const std::wstring target = folder + L"\\" + Widen(in.info.file);
    const std::wstring uninstaller = folder + L"\\" + kUninstaller;
    const std::wstring uninstallKey = kUninstallRoot + Widen(nimbrel::player::UninstallKeyName(Narrow(folderName)));
    try {
        int made = SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
        if (made != ERROR_SUCCESS && made != ERROR_ALREADY_EXISTS && made != ERROR_FILE_EXISTS)
            throw Error("Cannot create the folder " + Narrow(folder));

        // The screensaver: written beside its place and then put there, so an earlier install's
        // file is replaced whole or not at all.
        const std::wstring partial = target + L".new";
        WriteWholeFile(partial, [&](HANDLE file) {
            in.reader->Extract(static_cast<std::size_t>(in.screensaver),
                               [&](const char* data, std::size_t size) { WriteBytes(file, data, size, partial); });
        });
        PutInPlace(partial, target);

        // The uninstaller: this program without its archive (and without a signature that no
        // longer covers it).
        const std::wstring uninstallerPartial = uninstaller + L".new";
        WriteWholeFile(uninstallerPartial, [&](HANDLE file) {
            std::vector<unsigned char> bytes(static_cast<std::size_t>(in.reader->ArchiveStart()));
            in.file->Read(0, bytes.data(), bytes.size());
            if (auto pe = nimbrel::archive::ReadPeLayout(*in.file); pe && pe->securityEntryOffset + 8 <= bytes.size())
                std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(pe->securityEntryOffset), 8, 0);
            WriteBytes(file, bytes.data(), bytes.size(), uninstallerPartial);
        });
        PutInPlace(uninstallerPartial, uninstaller);

        Key desktop(HKEY_CURRENT_USER, kDesktopKey, true);
        Key entry(HKEY_CURRENT_USER, uninstallKey, true);
        if (!desktop || !entry) throw Error("Cannot open the registry");
        // What was active before the first install of this show is what an uninstall restores;
        // installing again keeps it.
        std::wstring previous;
        if (entry.GetNumber(L"NimbrelInstalled", 0) == 0) {
            entry.SetNumber(L"NimbrelHadScreenSaver", desktop.Get(L"SCRNSAVE.EXE", previous) ? 1 : 0);
            entry.Set(L"NimbrelPreviousScreenSaver", previous);
            std::wstring active;
            entry.SetNumber(L"NimbrelHadActive", desktop.Get(L"ScreenSaveActive", active) ? 1 : 0);
            entry.Set(L"NimbrelPreviousActive", active);
        } else {
            std::wstring earlier;
            if (entry.Get(L"NimbrelFile", earlier) && _wcsicmp(earlier.c_str(), target.c_str()) != 0)
                DeleteFileW(earlier.c_str());
        }
        entry.SetNumber(L"NimbrelInstalled", 1);
        entry.Set(L"NimbrelFile", target);
        entry.Set(L"DisplayName", name);
        entry.Set(L"Publisher", in.info.publisher.empty() ? L"Unknown publisher" : Widen(in.info.publisher));
        entry.Set(L"DisplayIcon", target);
        entry.Set(L"InstallLocation", folder);
        entry.Set(L"UninstallString", L"\"" + uninstaller + L"\" /uninstall");
        entry.Set(L"QuietUninstallString", L"\"" + uninstaller + L"\" /uninstall /S");
        const auto member = in.reader->Members()[static_cast<std::size_t>(in.screensaver)];
        entry.SetNumber(L"EstimatedSize", static_cast<DWORD>((member.originalSize + in.reader->ArchiveStart() + 1023) / 1024));
        entry.SetNumber(L"NoModify", 1);
        entry.SetNumber(L"NoRepair", 1);
        desktop.Set(L"SCRNSAVE.EXE", target);
        desktop.Set(L"ScreenSaveActive", L"1");
    } catch (const Error& e) {
        return Report(L"The screen saver could not be installed.\n\n" + Widen(e.what()), true);
    }
    // Tell the system the setting changed, and let the user see it.
    SystemParametersInfoW(SPI_SETSCREENSAVEACTIVE, TRUE, nullptr, SPIF_SENDCHANGE);
    if (!g_silent)
        ShellExecuteW(nullptr, L"open", L"control.exe", L"desk.cpl,,@screensaver", nullptr, SW_SHOWNORMAL);
    return kDone;
}

// --- Uninstalling ----------------------------------------------------------------------------

// Removes the uninstaller and its folder once this process has ended: a running program cannot
// delete its own file on Windows, so a copy in the temporary folder does it.
void RemoveOwnFolderLater(const std::wstring& self, const std::wstring& folder) {
    if (DeleteFileW(self.c_str())) {
        RemoveDirectoryW(folder.c_str());
        return;
    }
    wchar_t temp[MAX_PATH + 1];
    if (!GetTempPathW(MAX_PATH + 1, temp)) return;
    const std::wstring copy = std::wstring(temp) + L"~nbuninstall" + std::to_wstring(GetCurrentProcessId()) + L".exe";
    if (!CopyFileW(self.c_str(), copy.c_str(), FALSE)) return;
    std::wstring line = L"\"" + copy + L"\" /cleanup " + std::to_wstring(GetCurrentProcessId()) + L" \"" + folder + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (CreateProcessW(copy.c_str(), line.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, temp, &si, &pi)) {
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
}

// "/cleanup PID FOLDER": waits for the uninstaller to end, then removes it and its folder; this
// copy goes when the system next cleans its temporary folder (or at the next restart).
int Cleanup() {
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!argv) return kFailed;
    if (count < 4) {
        LocalFree(argv);
        return kFailed;
    }
    const DWORD pid = wcstoul(argv[2], nullptr, 10);
    std::wstring folder = argv[3];
    LocalFree(argv);
    if (HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid)) {
        WaitForSingleObject(process, 30000);
        CloseHandle(process);
    }
    const std::wstring uninstaller = folder + L"\\" + kUninstaller;
    for (int tries = 0; tries < 50 && GetFileAttributesW(uninstaller.c_str()) != INVALID_FILE_ATTRIBUTES; ++tries) {
        if (DeleteFileW(uninstaller.c_str())) break;
        Sleep(100);
    }
    RemoveDirectoryW(folder.c_str());
    MoveFileExW(ModulePath().c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    return kDone;
}

int Uninstall() {
    const std::wstring self = ModulePath();
    const std::wstring folder = Folder(self);
    const std::wstring keyPath = kUninstallRoot + Widen(nimbrel::player::UninstallKeyName(Narrow(LastPart(folder))));
    std::wstring file, name;
    {
        Key entry(HKEY_CURRENT_USER, keyPath, false);
        if (!entry || !entry.Get(L"NimbrelFile", file))
            return Report(L"This screen saver is not installed (no uninstall entry " + keyPath + L").", true);
        entry.Get(L"DisplayName", name);
        if (!g_silent && MessageBoxW(nullptr, (L"Remove the screen saver \"" + name + L"\"?").c_str(),
                                     L"Screen Saver Setup", MB_YESNO | MB_ICONQUESTION) != IDYES)
            return kCancelled;
        Key desktop(HKEY_CURRENT_USER, kDesktopKey, true);
        std::wstring current;
        // The screensaver that was active before comes back, unless the user chose another since.
        if (desktop && desktop.Get(L"SCRNSAVE.EXE", current) && _wcsicmp(current.c_str(), file.c_str()) == 0) {
            std::wstring previous, active;
            if (entry.GetNumber(L"NimbrelHadScreenSaver", 0) && entry.Get(L"NimbrelPreviousScreenSaver", previous))
                desktop.Set(L"SCRNSAVE.EXE", previous);
            else
                desktop.Delete(L"SCRNSAVE.EXE");
            if (entry.GetNumber(L"NimbrelHadActive", 0) && entry.Get(L"NimbrelPreviousActive", active))
                desktop.Set(L"ScreenSaveActive", active);
            else
                desktop.Delete(L"ScreenSaveActive");
        }
    }
    DeleteFileW(file.c_str());
    RegDeleteTreeW(HKEY_CURRENT_USER, keyPath.c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, keyPath.c_str());
    RemoveOwnFolderLater(self, folder);
    if (!g_silent) Report(L"The screen saver \"" + name + L"\" was removed.", false);
    return kDone;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    nimbrel::player::win32::MakeDpiAware();
    const std::string arguments = nimbrel::player::win32::CommandArguments();
    if (arguments.rfind(" /cleanup ", 0) == 0 || arguments.rfind("/cleanup ", 0) == 0) return Cleanup();
    const nimbrel::player::SetupCommandLine line = nimbrel::player::ParseSetupCommandLine(arguments);
    g_silent = line.silent;
    try {
        return line.uninstall ? Uninstall() : Install();
    } catch (const std::exception& e) {
        return Report(Widen(e.what()), true);
    }
}
