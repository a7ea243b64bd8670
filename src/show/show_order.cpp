#include "show/show_order.h"
#include "platform/ascii.h"

#include <algorithm>
#include <unordered_map>

namespace nimbrel::show {
namespace {

bool EqualNoCase(std::string_view a, std::string_view b) {
    return platform::EqualIgnoringAsciiCase(a, b);
}

}  // namespace

std::string BareName(std::string_view path) {
    std::size_t cut = path.find_last_of("\\/:");
    return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

bool IsPackageFile(std::string_view memberName) {
    return EqualNoCase(memberName, "Options.ini") || EqualNoCase(memberName, "About.cfg") ||
           EqualNoCase(memberName, "Captions.dat");
}

std::vector<long> MemberEntries(const std::vector<std::string>& files, const std::vector<std::string>& memberNames) {
    std::vector<long> entries(memberNames.size(), -1);
    // The members of each lower-cased name, in archive order; an entry takes the first one left,
    // so matching stays linear however many pictures a show holds.
    struct SameName {
        std::vector<std::size_t> members;
        std::size_t next = 0;
    };
    std::unordered_map<std::string, SameName> byName;
    byName.reserve(memberNames.size());
    for (std::size_t i = 0; i < memberNames.size(); ++i)
        if (!IsPackageFile(memberNames[i])) byName[platform::LowerAscii(memberNames[i])].members.push_back(i);
    for (std::size_t entry = 0; entry < files.size(); ++entry) {
        std::string name = BareName(files[entry]);
        if (name.empty()) continue;
        auto found = byName.find(platform::LowerAscii(name));
        if (found == byName.end()) continue;
        SameName& same = found->second;
        if (same.next >= same.members.size()) continue;
        entries[same.members[same.next++]] = static_cast<long>(entry);
    }
    return entries;
}

std::vector<std::size_t> ShowOrder(const std::vector<std::string>& files,
                                   const std::vector<std::string>& memberNames) {
    const std::vector<long> entries = MemberEntries(files, memberNames);
    // The named members in list order, then the rest in archive order.
    std::vector<std::pair<long, std::size_t>> named;
    std::vector<std::size_t> order;
    order.reserve(memberNames.size());
    for (std::size_t i = 0; i < memberNames.size(); ++i)
        if (entries[i] >= 0) named.emplace_back(entries[i], i);
    std::sort(named.begin(), named.end());
    for (const auto& [entry, member] : named) order.push_back(member);
    for (std::size_t i = 0; i < memberNames.size(); ++i)
        if (entries[i] < 0 && !IsPackageFile(memberNames[i])) order.push_back(i);
    return order;
}

ShowSequence::ShowSequence(std::vector<std::size_t> order, bool random, std::uint64_t seed)
    : base_(std::move(order)), random_(random), rng_(seed) {}

void ShowSequence::StartRound() {
    std::size_t last = round_.empty() ? 0 : round_.back();
    bool hadRound = started_ && !round_.empty();
    round_ = base_;
    if (random_) {
        for (std::size_t i = round_.size(); i > 1; --i)
            std::swap(round_[i - 1], round_[rng_.Below(static_cast<std::uint32_t>(i))]);
        if (hadRound && round_.size() > 1 && round_.front() == last)
            std::swap(round_.front(), round_[1 + rng_.Below(static_cast<std::uint32_t>(round_.size() - 1))]);
    }
    position_ = 0;
    started_ = true;
}

std::size_t ShowSequence::Next() {
    if (!started_ || position_ >= round_.size()) StartRound();
    return round_[position_++];
}

bool ShowSequence::Drop(std::size_t member) {
    base_.erase(std::remove(base_.begin(), base_.end(), member), base_.end());
    auto at = std::find(round_.begin(), round_.end(), member);
    if (at != round_.end()) {
        if (static_cast<std::size_t>(at - round_.begin()) < position_) --position_;
        round_.erase(at);
    }
    return !base_.empty();
}

}  // namespace nimbrel::show
