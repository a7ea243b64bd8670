// The system-neutral part of the settings store: key paths and number conversions.
#include "platform/settings_store.h"

#include <charconv>

namespace nimbrel::platform {

std::string SettingsStore::KeyPath(std::string_view section) const {
    std::string path = rootKey_;
    while (!path.empty() && path.back() == '\\') path.pop_back();
    std::string_view rest = section;
    while (!rest.empty() && rest.front() == '\\') rest.remove_prefix(1);
    while (!rest.empty() && rest.back() == '\\') rest.remove_suffix(1);
    if (!rest.empty()) {
        if (!path.empty()) path += '\\';
        path += rest;
    }
    return path;
}

bool SettingsStore::ParseInteger(std::string_view text, std::int32_t& value) {
    // from_chars takes a leading "-" but no "+".
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && (text.front() == '+' || text.front() == '-')) return false;
    }
    if (text.empty()) return false;
    std::int32_t parsed = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (error != std::errc() || end != text.data() + text.size()) return false;
    value = parsed;
    return true;
}

std::string SettingsStore::ReadString(std::string_view section, std::string_view name,
                                      std::string_view defaultValue) const {
    std::optional<std::string> value = Read(section, name);
    return value ? *value : std::string(defaultValue);
}

std::int32_t SettingsStore::ReadInteger(std::string_view section, std::string_view name,
                                        std::int32_t defaultValue) const {
    std::optional<std::string> text = Read(section, name);
    std::int32_t value = defaultValue;
    if (!text || !ParseInteger(*text, value)) return defaultValue;
    return value;
}

bool SettingsStore::ReadBool(std::string_view section, std::string_view name, bool defaultValue) const {
    return ReadInteger(section, name, defaultValue ? 1 : 0) != 0;
}

void SettingsStore::WriteInteger(std::string_view section, std::string_view name, std::int32_t value) {
    WriteString(section, name, std::to_string(value));
}

void SettingsStore::WriteBool(std::string_view section, std::string_view name, bool value) {
    WriteString(section, name, value ? "1" : "0");
}

}  // namespace nimbrel::platform
