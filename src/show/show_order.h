#pragma once
// The order in which a slideshow shows its pictures.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "imaging/random_source.h"

namespace nimbrel::show {

// The last component of a path written on either system ('\\', '/' or a drive's ':').
std::string BareName(std::string_view path);

// True for the members the build adds beside the media ("Options.ini", "About.cfg" and, for a
// show with captions, "Captions.dat").
bool IsPackageFile(std::string_view memberName);

// The indexes of the media members in the order of the project's file list. Each entry of
// `files` (full paths from the machine that built the show) takes the first member of the same
// bare name, ignoring letter case, that no earlier entry took, so two members of one name are
// shown in archive order. Media members the list does not name follow in archive order, so that
// a show whose list was lost still shows everything it carries.
std::vector<std::size_t> ShowOrder(const std::vector<std::string>& files,
                                   const std::vector<std::string>& memberNames);

// For each member, the entry of `files` that takes it in ShowOrder (-1 for none), so that what
// the project says of an entry (its caption) reaches the member that shows it.
std::vector<long> MemberEntries(const std::vector<std::string>& files, const std::vector<std::string>& memberNames);

// Walks a show order endlessly: in order, or shuffled anew for every round when `random`. A new
// round never starts with the picture the last one ended with (unless there is only one). The
// shuffle is our own over a seeded SplitMix64, so a seed gives the same order on every system.
class ShowSequence {
public:
    ShowSequence(std::vector<std::size_t> order, bool random, std::uint64_t seed);
    bool Empty() const { return base_.empty(); }
    std::size_t Count() const { return base_.size(); }
    // The next member index. Must not be called on an empty sequence.
    std::size_t Next();
    // Forgets a member that turned out not to be showable; false when none is left.
    bool Drop(std::size_t member);

private:
    void StartRound();

    std::vector<std::size_t> base_;
    std::vector<std::size_t> round_;
    std::size_t position_ = 0;
    bool random_ = false;
    bool started_ = false;
    imaging::RandomSource rng_;
};

}  // namespace nimbrel::show
