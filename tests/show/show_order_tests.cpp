// The order a show walks its pictures in.
#include <gtest/gtest.h>

#include <algorithm>

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
