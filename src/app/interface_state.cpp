#include "app/interface_state.h"

#include <algorithm>
#include <cctype>

namespace nimbrel::app {

namespace {

bool SameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); });
}

std::vector<std::string_view> SplitAt(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = text.find(separator, start);
        if (end == std::string_view::npos) {
            parts.push_back(text.substr(start));
            return parts;
        }
        parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
}

}  // namespace

void RecentProjects::Add(const std::string& path) {
    auto found = std::find_if(items_.begin(), items_.end(),
                              [&](const std::string& item) { return SameText(item, path); });
    if (found != items_.end()) {
        std::rotate(items_.begin(), found, found + 1);
        return;
    }
    items_.insert(items_.begin(), path);
    if (items_.size() > static_cast<std::size_t>(kCapacity)) items_.resize(kCapacity);
}

void RecentProjects::Remove(const std::string& path) {
    auto found = std::find_if(items_.begin(), items_.end(),
                              [&](const std::string& item) { return SameText(item, path); });
    if (found != items_.end()) items_.erase(found);
}

void RecentProjects::Load(const platform::SettingsStore& store, std::string_view section) {
    items_.clear();
    for (int n = kCapacity - 1; n >= 0; --n) {
        std::string path = store.ReadString(section, "Item_" + std::to_string(n), "");
        if (!path.empty()) Add(path);
    }
}

void RecentProjects::Save(platform::SettingsStore& store, std::string_view section) const {
    store.EraseSection(section);
    for (std::size_t i = 0; i < items_.size(); ++i)
        store.WriteString(section, "Item_" + std::to_string(i), items_[i]);
}

std::string RecentProjects::MenuCaption(int position, const std::string& path) {
    char accelerator = position < 10 ? static_cast<char>('0' + position) : static_cast<char>(position + 55);
    return std::string("&") + accelerator + " " + path;
}

std::array<int, 4> SplitPlacementText(std::string_view text, const std::array<int, 4>& defaults) {
    std::array<int, 4> parts = defaults;
    std::size_t index = 0;
    std::size_t i = 0;
    auto separator = [](char c) { return c == ',' || c == ' '; };
    while (index < parts.size()) {
        while (i < text.size() && separator(text[i])) ++i;
        if (i >= text.size()) break;
        std::size_t start = i;
        while (i < text.size() && !separator(text[i])) ++i;
        std::int32_t value = 0;
        if (platform::SettingsStore::ParseInteger(text.substr(start, i - start), value)) parts[index] = value;
        ++index;
    }
    return parts;
}

std::string JoinPlacementText(const std::array<int, 4>& parts) {
    return JoinIntegers(std::vector<int>(parts.begin(), parts.end()));
}

StoredShowState ShowStateOf(int showCmd) {
    switch (showCmd) {
        case 1:
        case 5:
        case 9: return StoredShowState::Normal;
        case 2:
        case 6:
        case 7: return StoredShowState::Minimised;
        case 3: return StoredShowState::Maximised;
        default: return StoredShowState::Default;
    }
}

std::vector<int> ParseColumnOrder(const std::string* stored, int columnCount) {
    std::vector<int> order(static_cast<std::size_t>(std::max(columnCount, 0)));
    for (int i = 0; i < columnCount; ++i) order[static_cast<std::size_t>(i)] = i;
    if (!stored) return order;
    std::vector<std::string_view> parts = SplitAt(*stored, ',');
    for (std::size_t i = 0; i < parts.size() && i < order.size(); ++i) {
        std::int32_t value = 0;
        order[i] = platform::SettingsStore::ParseInteger(parts[i], value) ? value : 0;
    }
    return order;
}

void ApplyColumnSizes(std::string_view stored, std::vector<int>& widths) {
    std::vector<std::string_view> parts = SplitAt(stored, ',');
    for (std::size_t i = 0; i < parts.size() && i < widths.size(); ++i) {
        std::int32_t value = 0;
        if (platform::SettingsStore::ParseInteger(parts[i], value)) widths[i] = value;
    }
}

std::string JoinIntegers(const std::vector<int>& values) {
    std::string text;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i) text += ',';
        text += std::to_string(values[i]);
    }
    return text;
}

}  // namespace nimbrel::app
