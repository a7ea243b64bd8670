#pragma once
// A registry-like store for the interface state kept between runs. A store is opened on a root
// key path (for instance "Software\\Tarnwick"); a section is a subkey of it, written as a
// relative key path ("Nimbrel\\TfrmMain.MRUManager1"); every value is a string. Integers are
// stored as decimal text, booleans as "0" and "1". Key paths and value names match without
// regard to case.
//
// On Windows the root key lies under HKEY_CURRENT_USER. Elsewhere the keys are kept in one text
// file of our own, "registry.ini" in $XDG_CONFIG_HOME/nimbrel/ (~/.config/nimbrel/ by default).
// Every operation opens the storage, does its work and closes it again. Failures to write raise
// nimbrel::Error; reading storage that is missing or unreadable gives the defaults.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nimbrel::platform {

class SettingsStore {
public:
    explicit SettingsStore(std::string rootKey) : rootKey_(std::move(rootKey)) {}

    const std::string& RootKey() const { return rootKey_; }

    // The value, or nothing when the section or the value is missing.
    std::optional<std::string> Read(std::string_view section, std::string_view name) const;
    std::string ReadString(std::string_view section, std::string_view name,
                           std::string_view defaultValue) const;
    // A missing value or text that is not a decimal integer gives the default.
    std::int32_t ReadInteger(std::string_view section, std::string_view name,
                             std::int32_t defaultValue) const;
    // Read as an integer; non-zero is true.
    bool ReadBool(std::string_view section, std::string_view name, bool defaultValue) const;

    // Creates the section when missing.
    void WriteString(std::string_view section, std::string_view name, std::string_view value);
    void WriteInteger(std::string_view section, std::string_view name, std::int32_t value);
    void WriteBool(std::string_view section, std::string_view name, bool value);

    // Deletes the section with its values and its own subsections; nothing when missing.
    void EraseSection(std::string_view section);
    bool SectionExists(std::string_view section) const;
    // The names of the section's values, in no particular order.
    std::vector<std::string> ValueNames(std::string_view section) const;

    // The full key path of a section: the root key, a backslash, the section ("" = the root).
    std::string KeyPath(std::string_view section) const;

    // Parses decimal text as the store reads integers: an optional sign, then digits only.
    static bool ParseInteger(std::string_view text, std::int32_t& value);

private:
    std::string rootKey_;
};

// Test seam: keeps every store's keys somewhere else. On Windows `location` is a key path under
// HKEY_CURRENT_USER under which the root keys are nested; elsewhere it is the directory that
// holds the store's file. "" returns to the real location.
void SetSettingsLocation(const std::string& location);
// Where the store's file lies on this system ("" on Windows).
std::string SettingsFilePath();

}  // namespace nimbrel::platform
