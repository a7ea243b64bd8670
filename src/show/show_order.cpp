#include "show/show_order.h"
#include "platform/ascii.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

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
    // An open-addressed table of the members' names, without regard to case, over indexes
    // alone: a show of 100,000 pictures is matched without a string or a node allocated for each
    // (the players start with this, and their heap is slow under some systems). Members of the
    // same name are chained in archive order; an entry takes the first one left.
    constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    auto hash = [](std::string_view name) {
        std::uint64_t h = 1469598103934665603ull;
        for (char c : name) h = (h ^ static_cast<unsigned char>(platform::LowerAscii(c))) * 1099511628211ull;
        return static_cast<std::size_t>(h ^ (h >> 29));
    };
    std::size_t slots = 16;
    while (slots < memberNames.size() * 2) slots *= 2;
    std::vector<std::size_t> table(slots, kNone);                  // the first member of each name
    std::vector<std::size_t> sameNext(memberNames.size(), kNone);  // the next member of that name
    // Of a name's first member: while the table is built, the last member of the name; then the
    // first one no entry has taken yet.
    std::vector<std::size_t> cursor(memberNames.size(), kNone);
    for (std::size_t i = 0; i < memberNames.size(); ++i) {
        if (IsPackageFile(memberNames[i])) continue;
        for (std::size_t at = hash(memberNames[i]) & (slots - 1);; at = (at + 1) & (slots - 1)) {
            const std::size_t first = table[at];
            if (first == kNone) {
                table[at] = cursor[i] = i;
                break;
            }
            if (EqualNoCase(memberNames[first], memberNames[i])) {
                sameNext[cursor[first]] = i;
                cursor[first] = i;
                break;
            }
        }
    }
    for (std::size_t first : table)
        if (first != kNone) cursor[first] = first;
    for (std::size_t entry = 0; entry < files.size(); ++entry) {
        const std::string_view path = files[entry];
        const std::size_t cut = path.find_last_of("\\/:");
        const std::string_view name = cut == std::string_view::npos ? path : path.substr(cut + 1);
        if (name.empty()) continue;
        for (std::size_t at = hash(name) & (slots - 1); table[at] != kNone; at = (at + 1) & (slots - 1)) {
            const std::size_t first = table[at];
            if (!EqualNoCase(memberNames[first], name)) continue;
            const std::size_t member = cursor[first];
            if (member != kNone) {
                entries[member] = static_cast<long>(entry);
                cursor[first] = sameNext[member];
            }
            break;
        }
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
