// Win32 file information: sizes through CreateFileA, access times through GetFileAttributesExA,
// type names from HKEY_CLASSES_ROOT.
#include <windows.h>

#include "platform/error.h"
#include "platform/file_info.h"

namespace nimbrel::platform {

namespace {

LocalDateTime FromSystemTime(const SYSTEMTIME& time) {
    LocalDateTime result;
    result.year = time.wYear;
    result.month = time.wMonth;
    result.day = time.wDay;
    result.hour = time.wHour;
    result.minute = time.wMinute;
    result.second = time.wSecond;
    return result;
}

// The default value of a key under HKEY_CLASSES_ROOT, opened without creating it.
std::optional<std::string> ClassesRootDefault(const std::string& keyName) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, keyName.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return std::nullopt;
    std::string value;
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(key, nullptr, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && size > 0 &&
        (type == REG_SZ || type == REG_EXPAND_SZ)) {
        value.resize(size);
        if (RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size) ==
            ERROR_SUCCESS) {
            value.resize(size);
            while (!value.empty() && value.back() == '\0') value.pop_back();
        } else {
            value.clear();
        }
    }
    RegCloseKey(key);
    return value;  // an opened key without a default value reads as empty text
}

}  // namespace

std::string GetFileSizeText(const std::string& path) {
    HANDLE file =
        CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw Error(Format("Cannot open file %s", path));
    LARGE_INTEGER size{};
    BOOL ok = GetFileSizeEx(file, &size);
    CloseHandle(file);
    if (!ok) throw Error(Format("Cannot open file %s", path));
    return std::to_string(static_cast<long long>(size.QuadPart));
}

std::optional<LocalDateTime> FileLastAccessTime(const std::string& path) {
    if (path.empty()) return std::nullopt;
    // Not FindFirstFileA: it reads "?" and "*" as wildcards, and a name whose letters the ANSI
    // code page lacks arrives with "?" in their place, so it would find some other file.
    WIN32_FILE_ATTRIBUTE_DATA found{};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &found)) return std::nullopt;
    FILETIME local{};
    if (!FileTimeToLocalFileTime(&found.ftLastAccessTime, &local)) return std::nullopt;
    WORD dosDate = 0, dosTime = 0;
    SYSTEMTIME time{};
    if (FileTimeToDosDateTime(&local, &dosDate, &dosTime)) {
        time.wYear = static_cast<WORD>(1980 + (dosDate >> 9));
        time.wMonth = static_cast<WORD>((dosDate >> 5) & 0x0F);
        time.wDay = static_cast<WORD>(dosDate & 0x1F);
        time.wHour = static_cast<WORD>(dosTime >> 11);
        time.wMinute = static_cast<WORD>((dosTime >> 5) & 0x3F);
        time.wSecond = static_cast<WORD>((dosTime & 0x1F) * 2);
        return FromSystemTime(time);
    }
    // Outside the DOS range (before 1980, after 2107) the time itself is kept, in even seconds.
    if (!FileTimeToSystemTime(&local, &time)) return std::nullopt;
    time.wSecond = static_cast<WORD>(time.wSecond - time.wSecond % 2);
    return FromSystemTime(time);
}

std::optional<LocalDateTime> FileLastWriteTime(const std::string& path) {
    if (path.empty()) return std::nullopt;
    WIN32_FILE_ATTRIBUTE_DATA found{};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &found)) return std::nullopt;
    FILETIME local{};
    SYSTEMTIME time{};
    if (!FileTimeToLocalFileTime(&found.ftLastWriteTime, &local) || !FileTimeToSystemTime(&local, &time))
        return std::nullopt;
    return FromSystemTime(time);
}

LocalDateTime CurrentLocalDateTime() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return FromSystemTime(now);
}

std::optional<std::string> RegisteredTypeName(const std::string& extension) {
    auto className = ClassesRootDefault(extension);
    // An empty class name would open HKEY_CLASSES_ROOT itself.
    if (!className || className->empty()) return std::nullopt;
    return ClassesRootDefault(*className);
}

}  // namespace nimbrel::platform
