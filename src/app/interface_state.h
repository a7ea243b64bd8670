#pragma once
// The interface state kept between runs, without the windows: where it is stored, the
// recent-projects list, and the text formats of the stored placement and list layout.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/settings_store.h"

namespace nimbrel::app {

// The main window's placement and its recent list live under this key...
inline constexpr char kPlacementKey[] = "Software\\Tarnwick";
inline constexpr char kPlacementSection[] = "Nimbrel";
// ...the recent list in the placement section's subkey named after its window and component...
inline constexpr char kRecentSection[] = "Nimbrel\\TfrmMain.MRUManager1";
// ...and the file list's layout under a key of its own.
inline constexpr char kListSettingsKey[] = "Software\\Quorvane\\Tellan\\Development\\Vistrel";

// The recently opened projects, most recent first (MRUManager1's list).
class RecentProjects {
public:
    static constexpr int kCapacity = 25;

    // Puts a path at the top. An entry equal to it without regard to case moves to the top
    // and keeps the text it was stored with; entries beyond the capacity are dropped.
    void Add(const std::string& path);
    // Removes the entry equal to the path without regard to case, if any.
    void Remove(const std::string& path);
    void Clear() { items_.clear(); }
    const std::vector<std::string>& Items() const { return items_; }

    // Replaces the list by the stored one: values "Item_24" down to "Item_0", each non-empty
    // one added at the top.
    void Load(const platform::SettingsStore& store, std::string_view section);
    // Deletes the section and writes "Item_0", "Item_1", ... in list order; an empty list
    // leaves no section.
    void Save(platform::SettingsStore& store, std::string_view section) const;

    // The Recent menu's caption for the entry at `position`: "&0 " to "&9 ", then "&A " to
    // "&O ", followed by the path.
    static std::string MenuCaption(int position, const std::string& path);

private:
    std::vector<std::string> items_;
};

// Four integers from a placement text such as "10,20,678,650": parts are separated by commas
// and blanks (a run of them counts as one); a missing or malformed part takes its default.
std::array<int, 4> SplitPlacementText(std::string_view text, const std::array<int, 4>& defaults);
// "%d,%d,%d,%d".
std::string JoinPlacementText(const std::array<int, 4>& parts);

// The window state a stored show command means.
enum class StoredShowState { Normal, Minimised, Maximised, Default };
StoredShowState ShowStateOf(int showCmd);

// The column order stored as "Order": one column index per display position. Without a
// stored value the order is 0, 1, 2, ...; a part that is not a decimal integer reads as 0;
// positions beyond the stored parts keep their own index.
std::vector<int> ParseColumnOrder(const std::string* stored, int columnCount);
// The widths stored as "Sizes" applied to `widths` in column order: a part that is not a
// decimal integer leaves that width; reading stops when the text runs out.
void ApplyColumnSizes(std::string_view stored, std::vector<int>& widths);
// Integers joined by "," without blanks.
std::string JoinIntegers(const std::vector<int>& values);

}  // namespace nimbrel::app
