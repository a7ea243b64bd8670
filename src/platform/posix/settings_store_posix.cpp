// The settings store without a registry: every key of every store in one text file. It reads
// like an INI file: "[Software\Tarnwick\Nimbrel]" opens a key, "name=value" lines follow. In
// names and values a backslash, CR, LF, "=" and a leading "[" are written as \xHH, so any text
// survives the round trip. Each operation reads the file, and a write replaces it atomically.
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/settings_store.h"

namespace nimbrel::platform {

namespace {

std::string& LocationOverride() {
    static std::string location;
    return location;
}

std::string Lower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

bool SameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && Lower(a) == Lower(b);
}

std::string Escape(std::string_view text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\\' || c == '\r' || c == '\n' || c == '=' || (i == 0 && c == '[')) {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string Unescape(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'x') {
            int high = i + 2 < text.size() ? HexDigit(text[i + 2]) : -1;
            int low = i + 3 < text.size() ? HexDigit(text[i + 3]) : -1;
            if (high >= 0 && low >= 0) {
                out += static_cast<char>(high * 16 + low);
                i += 3;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

struct Key {
    std::string path;
    std::vector<std::pair<std::string, std::string>> values;
};

// The key path normalised for comparison: lower case, no empty components.
std::string Normalised(std::string_view path) {
    std::string out;
    std::string part;
    auto flush = [&] {
        if (part.empty()) return;
        if (!out.empty()) out += '\\';
        out += Lower(part);
        part.clear();
    };
    for (char c : path) {
        if (c == '\\')
            flush();
        else
            part += c;
    }
    flush();
    return out;
}

class StoreFile {
public:
    StoreFile() : path_(SettingsFilePath()) {
        std::string bytes;
        try {
            bytes = ReadWholeFile(path_);
        } catch (const Error&) {
            return;  // missing or unreadable storage reads as empty
        }
        Key* current = nullptr;
        std::size_t start = 0;
        while (start < bytes.size()) {
            std::size_t end = bytes.find('\n', start);
            if (end == std::string::npos) end = bytes.size();
            std::string_view line(bytes.data() + start, end - start);
            start = end + 1;
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            if (line.empty()) continue;
            if (line.front() == '[' && line.back() == ']') {
                keys_.push_back({std::string(line.substr(1, line.size() - 2)), {}});
                current = &keys_.back();
                continue;
            }
            std::size_t equals = line.find('=');
            if (!current || equals == std::string_view::npos) continue;
            current->values.emplace_back(Unescape(line.substr(0, equals)), Unescape(line.substr(equals + 1)));
        }
    }

    Key* Find(std::string_view path) {
        std::string wanted = Normalised(path);
        for (Key& key : keys_)
            if (Normalised(key.path) == wanted) return &key;
        return nullptr;
    }

    Key& FindOrAdd(std::string_view path) {
        if (Key* key = Find(path)) return *key;
        keys_.push_back({std::string(path), {}});
        return keys_.back();
    }

    // True when a key at `path` or below it is held.
    bool Exists(std::string_view path) const {
        std::string wanted = Normalised(path);
        for (const Key& key : keys_) {
            std::string name = Normalised(key.path);
            if (name == wanted || name.rfind(wanted + "\\", 0) == 0) return true;
        }
        return false;
    }

    void Erase(std::string_view path) {
        std::string wanted = Normalised(path);
        std::erase_if(keys_, [&](const Key& key) {
            std::string name = Normalised(key.path);
            return name == wanted || name.rfind(wanted + "\\", 0) == 0;
        });
    }

    void Save() const {
        std::string content;
        for (const Key& key : keys_) {
            content += "[" + key.path + "]\n";
            for (const auto& [name, value] : key.values) content += Escape(name) + "=" + Escape(value) + "\n";
            content += "\n";
        }
        MakeDirectories(DirectoryPart(path_));
        WriteFileAtomically(path_, content);
    }

private:
    static void MakeDirectories(const std::string& directory) {
        std::string path;
        for (std::size_t i = 0; i < directory.size(); ++i) {
            path += directory[i];
            if ((directory[i] == '/' || i + 1 == directory.size()) && path != "/") {
                if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) throw Error(IoErrorMessage(errno));
            }
        }
    }

    std::string path_;
    std::vector<Key> keys_;
};

}  // namespace

void SetSettingsLocation(const std::string& location) {
    LocationOverride() = location;
}

std::string SettingsFilePath() {
    std::string directory = LocationOverride();
    if (directory.empty()) {
        const char* config = std::getenv("XDG_CONFIG_HOME");
        if (config && *config == '/') {
            directory = JoinPath(config, "nimbrel");
        } else {
            const char* home = std::getenv("HOME");
            directory = JoinPath(JoinPath(home && *home ? home : ".", ".config"), "nimbrel");
        }
    }
    return JoinPath(directory, "registry.ini");
}

std::optional<std::string> SettingsStore::Read(std::string_view section, std::string_view name) const {
    StoreFile file;
    Key* key = file.Find(KeyPath(section));
    if (!key) return std::nullopt;
    for (const auto& [valueName, value] : key->values)
        if (SameText(valueName, name)) return value;
    return std::nullopt;
}

void SettingsStore::WriteString(std::string_view section, std::string_view name, std::string_view value) {
    StoreFile file;
    Key& key = file.FindOrAdd(KeyPath(section));
    auto it = std::find_if(key.values.begin(), key.values.end(),
                           [&](const auto& entry) { return SameText(entry.first, name); });
    if (it != key.values.end())
        it->second = std::string(value);
    else
        key.values.emplace_back(std::string(name), std::string(value));
    file.Save();
}

void SettingsStore::EraseSection(std::string_view section) {
    StoreFile file;
    if (!file.Exists(KeyPath(section))) return;
    file.Erase(KeyPath(section));
    file.Save();
}

bool SettingsStore::SectionExists(std::string_view section) const {
    return StoreFile().Exists(KeyPath(section));
}

std::vector<std::string> SettingsStore::ValueNames(std::string_view section) const {
    StoreFile file;
    std::vector<std::string> names;
    if (Key* key = file.Find(KeyPath(section)))
        for (const auto& entry : key->values) names.push_back(entry.first);
    return names;
}

}  // namespace nimbrel::platform
