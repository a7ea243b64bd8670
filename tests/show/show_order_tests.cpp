// The order a show walks its pictures in.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <random>

#include "show/show_order.h"

namespace nimbrel::show {
namespace {

TEST(ShowOrder, FollowsTheFileListByBareName) {
    std::vector<std::string> members = {"Options.ini", "About.cfg", "b.jpg", "a.png", "c.gif"};
    std::vector<std::string> files = {"C:\\Pics\\a.png", "D:/x/C.GIF", "C:\\b.jpg"};
    EXPECT_EQ(ShowOrder(files, members), (std::vector<std::size_t>{3, 4, 2}));
}

TEST(ShowOrder, TwoMembersOfOneNameInArchiveOrderAndUnlistedMembersLast) {
    std::vector<std::string> members = {"Options.ini", "About.cfg", "x.jpg", "x.jpg", "y.jpg", "z.bmp"};
    std::vector<std::string> files = {"C:\\one\\y.jpg", "C:\\one\\x.jpg", "C:\\two\\x.jpg", "C:\\gone.jpg",
                                      ""};
    EXPECT_EQ(ShowOrder(files, members), (std::vector<std::size_t>{4, 2, 3, 5}));
    EXPECT_EQ(ShowOrder({}, members), (std::vector<std::size_t>{2, 3, 4, 5}));
}

TEST(ShowOrder, ManyMembersOfFewNamesMatchAsOneByOne) {
    // A few names in varying case, each on several members, listed more or fewer times than
    // there are members: the table must hand out each name's members in archive order, once.
    std::mt19937 random(5);
    const std::vector<std::string> stems = {"a.jpg", "B.JPG", "photo10.png", "Photo1.png", "x"};
    auto name = [&] {
        std::string n = stems[random() % stems.size()];
        for (char& c : n)
            if (random() % 2) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return n;
    };
    for (int round = 0; round < 20; ++round) {
        std::vector<std::string> members = {"Options.ini"}, files;
        for (int i = 0; i < 40; ++i) members.push_back(name());
        for (int i = 0; i < 50; ++i) files.push_back("C:\\dir\\" + name());
        std::vector<long> expected(members.size(), -1);
        for (std::size_t entry = 0; entry < files.size(); ++entry)
            for (std::size_t m = 1; m < members.size(); ++m)
                if (expected[m] < 0 && BareName(files[entry]).size() == members[m].size() &&
                    std::equal(members[m].begin(), members[m].end(), BareName(files[entry]).begin(),
                               [](char a, char b) { return std::tolower(a) == std::tolower(b); })) {
                    expected[m] = static_cast<long>(entry);
                    break;
                }
        EXPECT_EQ(MemberEntries(files, members), expected) << "round " << round;
    }
}

TEST(ShowSequence, LoopsInOrderAndShufflesEveryRound) {
    ShowSequence ordered({5, 6, 7}, false, 1);
    std::vector<std::size_t> seen;
    for (int i = 0; i < 7; ++i) seen.push_back(ordered.Next());
    EXPECT_EQ(seen, (std::vector<std::size_t>{5, 6, 7, 5, 6, 7, 5}));

    std::vector<std::size_t> base = {0, 1, 2, 3, 4, 5, 6, 7};
    ShowSequence random(base, true, 12345);
    std::size_t previous = 99;
    for (int round = 0; round < 20; ++round) {
        std::vector<std::size_t> one;
        for (std::size_t i = 0; i < base.size(); ++i) {
            std::size_t next = random.Next();
            EXPECT_NE(next, previous) << "the same picture twice in a row";
            previous = next;
            one.push_back(next);
        }
        std::sort(one.begin(), one.end());
        EXPECT_EQ(one, base) << "every round shows every picture once";
    }
}

TEST(ShowSequence, DroppingUnshowablePictures) {
    ShowSequence s({1, 2, 3}, false, 0);
    EXPECT_EQ(s.Next(), 1u);
    EXPECT_EQ(s.Next(), 2u);
    EXPECT_TRUE(s.Drop(2));
    EXPECT_EQ(s.Next(), 3u);
    EXPECT_EQ(s.Next(), 1u);
    EXPECT_EQ(s.Next(), 3u);
    EXPECT_TRUE(s.Drop(1));
    EXPECT_FALSE(s.Drop(3));
    EXPECT_TRUE(s.Empty());
}

}  // namespace
}  // namespace nimbrel::show
