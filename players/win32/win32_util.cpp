#include "win32_util.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/error.h"

namespace nimbrel::player::win32 {

std::wstring Widen(const std::string& text) {
    if (text.empty()) return {};
    int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), length);
    return out;
}

std::string Narrow(const std::wstring& text) {
    if (text.empty()) return {};
    int length = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                     nullptr, nullptr);
    std::string out(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), length, nullptr,
                        nullptr);
    return out;
}

OwnFile::OwnFile() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) throw Error("The screen saver cannot find its own file");
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    file_ = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file_ == INVALID_HANDLE_VALUE) throw Error("The screen saver cannot open its own file");
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file_, &size) || size.QuadPart <= 0) {
        CloseHandle(file_);
        throw Error("The screen saver cannot read its own file");
    }
    size_ = static_cast<std::uint64_t>(size.QuadPart);
    mapping_ = CreateFileMappingW(file_, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (mapping_ == nullptr) {
        CloseHandle(file_);
        throw Error("The screen saver cannot map its own file");
    }
    SYSTEM_INFO system{};
    GetSystemInfo(&system);
    if (system.dwAllocationGranularity != 0) granularity_ = system.dwAllocationGranularity;
}

OwnFile::~OwnFile() {
    for (const View& view : views_) UnmapViewOfFile(view.data);
    if (mapping_ != nullptr) CloseHandle(mapping_);
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
}

void OwnFile::Read(std::uint64_t offset, void* buffer, std::size_t size) const {
    constexpr std::uint64_t kWindow = 4u << 20;
    if (offset > size_ || size > size_ - offset) throw Error("Read beyond end of file");
    if (size == 0) return;
    const DWORD thread = GetCurrentThreadId();
    const unsigned char* data = nullptr;
    std::uint64_t start = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto view = std::find_if(views_.begin(), views_.end(),
                                 [thread](const View& v) { return v.thread == thread; });
        if (view == views_.end() || offset < view->start || offset + size > view->start + view->length) {
            if (view != views_.end()) {
                UnmapViewOfFile(view->data);
                views_.erase(view);
            }
            // Views start on the allocation granularity.
            View fresh;
            fresh.thread = thread;
            fresh.start = offset - offset % granularity_;
            fresh.length = std::min(size_ - fresh.start, std::max(kWindow, offset - fresh.start + size));
            if (fresh.length > SIZE_MAX) throw Error("The screen saver cannot map its own file");
            fresh.data = static_cast<const unsigned char*>(MapViewOfFile(
                mapping_, FILE_MAP_READ, static_cast<DWORD>(fresh.start >> 32),
                static_cast<DWORD>(fresh.start & 0xFFFFFFFFu), static_cast<SIZE_T>(fresh.length)));
            if (fresh.data == nullptr) throw Error("The screen saver cannot map its own file");
            views_.push_back(fresh);
            view = views_.end() - 1;
        }
        data = view->data;
        start = view->start;
    }
    // Only this thread moves its own view.
    std::memcpy(buffer, data + (offset - start), size);
}

std::string CommandArguments() {
    std::wstring line = GetCommandLineW();
    std::size_t at = 0;
    if (!line.empty() && line[0] == L'"') {
        at = line.find(L'"', 1);
        at = at == std::wstring::npos ? line.size() : at + 1;
    } else {
        at = line.find_first_of(L" \t");
        if (at == std::wstring::npos) at = line.size();
    }
    return Narrow(line.substr(at));
}

namespace {

// How the process's windows scale, as the system now sees it.
const char* DpiAwareness() {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    using GetContext = HANDLE(WINAPI*)();
    using GetAwareness = int(WINAPI*)(HANDLE);
    auto context = reinterpret_cast<GetContext>(
        reinterpret_cast<void*>(GetProcAddress(user32, "GetThreadDpiAwarenessContext")));
    auto awareness = reinterpret_cast<GetAwareness>(
        reinterpret_cast<void*>(GetProcAddress(user32, "GetAwarenessFromDpiAwarenessContext")));
    if (context == nullptr || awareness == nullptr) return "unknown";
    switch (awareness(context())) {
        case 0: return "unaware";
        case 1: return "system";
        case 2: return "per-monitor";
        default: return "unknown";
    }
}

}  // namespace

void MakeDpiAware() {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    using SetContext = BOOL(WINAPI*)(HANDLE);
    bool done = false;
    if (auto set = reinterpret_cast<SetContext>(
            reinterpret_cast<void*>(GetProcAddress(user32, "SetProcessDpiAwarenessContext")))) {
        // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2, then the first per-monitor version.
        done = set(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4))) ||
               set(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-3)));
    }
    if (!done) {
        if (HMODULE shcore = LoadLibraryW(L"shcore.dll")) {
            using SetAwareness = HRESULT(WINAPI*)(int);
            if (auto set = reinterpret_cast<SetAwareness>(
                    reinterpret_cast<void*>(GetProcAddress(shcore, "SetProcessDpiAwareness"))))
                done = SUCCEEDED(set(2));  // PROCESS_PER_MONITOR_DPI_AWARE
        }
    }
    if (!done) {
        using SetAware = BOOL(WINAPI*)();
        if (auto set = reinterpret_cast<SetAware>(
                reinterpret_cast<void*>(GetProcAddress(user32, "SetProcessDPIAware"))))
            set();
    }
    Trace((std::string("dpi awareness ") + DpiAwareness()).c_str());
}

HWND WindowFromArgument(std::uintptr_t value) {
    HWND window = reinterpret_cast<HWND>(value);
    return (value != 0 && IsWindow(window)) ? window : nullptr;
}

namespace {

constexpr UINT kUnattendedBoxMilliseconds = 15000;

BOOL CALLBACK CloseIfMessageBox(HWND window, LPARAM) {
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    if (lstrcmpW(name, L"#32770") == 0) PostMessageW(window, WM_COMMAND, IDOK, 0);
    return TRUE;
}

void CALLBACK CloseOwnMessageBox(HWND, UINT, UINT_PTR, DWORD) {
    EnumThreadWindows(GetCurrentThreadId(), &CloseIfMessageBox, 0);
}

}  // namespace

int ReportStartFailure(const std::string& message, RunMode mode, HWND owner) {
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    if (error != nullptr && error != INVALID_HANDLE_VALUE) {
        std::string line = message + "\n";
        DWORD written = 0;
        WriteFile(error, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    }
    if (mode == RunMode::Preview) return kStartFailed;
    std::wstring text = Widen(message);
    const wchar_t* caption = L"Screen Saver";
    UINT style = MB_OK | MB_ICONERROR | MB_SETFOREGROUND;
    UINT_PTR timer = 0;
    if (mode == RunMode::FullScreen) {
        // Nobody may be watching: the box closes itself. A thread timer reaches the box's own
        // message loop, on every system (MessageBoxTimeout is not honoured everywhere).
        style |= MB_TOPMOST;
        timer = SetTimer(nullptr, 0, kUnattendedBoxMilliseconds, &CloseOwnMessageBox);
    }
    MessageBoxW(owner, text.c_str(), caption, style);
    if (timer != 0) KillTimer(nullptr, timer);
    return kStartFailed;
}

void Trace(const char* what) {
    static const ULONGLONG start = GetTickCount64();
    static const std::wstring path = [] {
        wchar_t buffer[MAX_PATH];
        DWORD length = GetEnvironmentVariableW(L"NIMBREL_PLAYER_TRACE", buffer, MAX_PATH);
        return length > 0 && length < MAX_PATH ? std::wstring(buffer, length) : std::wstring();
    }();
    if (path.empty()) return;
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    char line[160];
    int length = std::snprintf(line, sizeof line, "%llu %s\r\n", GetTickCount64() - start, what);
    DWORD written = 0;
    if (length > 0)
        WriteFile(file, line, static_cast<DWORD>(std::min<int>(length, sizeof line - 1)), &written, nullptr);
    CloseHandle(file);
}

}  // namespace nimbrel::player::win32
