// The settings store in the registry: keys under HKEY_CURRENT_USER, every value REG_SZ.
#include <windows.h>

#include <string>

#include "platform/error.h"
#include "platform/file_mapping.h"
#include "platform/settings_store.h"

namespace nimbrel::platform {

namespace {

std::string& LocationOverride() {
    static std::string location;
    return location;
}

std::string FullPath(const std::string& keyPath) {
    const std::string& prefix = LocationOverride();
    return prefix.empty() ? keyPath : prefix + "\\" + keyPath;
}

// An open key, closed when the object goes away.
class OpenKey {
public:
    // Opens the key, creating it when missing (also for reading, as the interface state expects).
    OpenKey(const std::string& keyPath, REGSAM access) {
        LONG result = RegCreateKeyExA(HKEY_CURRENT_USER, FullPath(keyPath).c_str(), 0, nullptr, 0, access,
                                      nullptr, &key_, nullptr);
        if (result != ERROR_SUCCESS) key_ = nullptr;
    }
    ~OpenKey() {
        if (key_) RegCloseKey(key_);
    }
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

std::string SystemMessage(LONG code) {
    char buffer[512];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                  static_cast<DWORD>(code), 0, buffer, sizeof buffer, nullptr);
    while (length > 0 &&
           (buffer[length - 1] == '\r' || buffer[length - 1] == '\n' || buffer[length - 1] == '.'))
        --length;
    return length ? std::string(buffer, length) : "Registry error " + std::to_string(code);
}

void DeleteTree(HKEY parent, const std::string& name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(parent, name.c_str(), 0, KEY_READ | KEY_WRITE, &key) != ERROR_SUCCESS) return;
    char child[256];
    for (;;) {
        DWORD length = sizeof child;
        if (RegEnumKeyExA(key, 0, child, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        DeleteTree(key, std::string(child, length));
    }
    RegCloseKey(key);
    RegDeleteKeyA(parent, name.c_str());
}

}  // namespace

void SetSettingsLocation(const std::string& location) {
    LocationOverride() = location;
}

std::string SettingsFilePath() {
    return {};
}

std::optional<std::string> SettingsStore::Read(std::string_view section, std::string_view name) const {
    OpenKey key(KeyPath(section), KEY_READ);
    if (!key.get()) return std::nullopt;
    // Read as UTF-16 and narrowed here: the registry's own narrowing would turn letters the code
    // page lacks into look-alikes ("Łódź" as "Lódz"), a path that may name another file.
    std::u16string valueName = Utf16FromNarrow(name);
    const auto* wideName = reinterpret_cast<const wchar_t*>(valueName.c_str());
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key.get(), wideName, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::nullopt;
    std::u16string value(size / sizeof(char16_t) + 1, u'\0');
    if (size > 0 && RegQueryValueExW(key.get(), wideName, nullptr, &type,
                                     reinterpret_cast<BYTE*>(value.data()), &size) != ERROR_SUCCESS)
        return std::nullopt;
    value.resize(size / sizeof(char16_t));
    while (!value.empty() && value.back() == u'\0') value.pop_back();
    return NarrowFromUtf16(value);
}

void SettingsStore::WriteString(std::string_view section, std::string_view name, std::string_view value) {
    OpenKey key(KeyPath(section), KEY_WRITE);
    if (!key.get()) throw Error("Cannot create registry key " + KeyPath(section));
    std::string text(value);
    LONG result =
        RegSetValueExA(key.get(), std::string(name).c_str(), 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(text.c_str()), static_cast<DWORD>(text.size() + 1));
    if (result != ERROR_SUCCESS) throw Error(SystemMessage(result));
}

void SettingsStore::EraseSection(std::string_view section) {
    std::string path = FullPath(KeyPath(section));
    std::size_t split = path.rfind('\\');
    if (split == std::string::npos) {
        DeleteTree(HKEY_CURRENT_USER, path);
        return;
    }
    HKEY parent = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.substr(0, split).c_str(), 0, KEY_READ | KEY_WRITE, &parent) !=
        ERROR_SUCCESS)
        return;
    DeleteTree(parent, path.substr(split + 1));
    RegCloseKey(parent);
}

bool SettingsStore::SectionExists(std::string_view section) const {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, FullPath(KeyPath(section)).c_str(), 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

std::vector<std::string> SettingsStore::ValueNames(std::string_view section) const {
    std::vector<std::string> names;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, FullPath(KeyPath(section)).c_str(), 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return names;
    char name[16384];
    for (DWORD index = 0;; ++index) {
        DWORD length = sizeof name;
        if (RegEnumValueA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    RegCloseKey(key);
    return names;
}

}  // namespace nimbrel::platform
