// The console's progress: the bar's text at every width, its redraw rate, and plain lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "cli/progress_display.h"

using nimbrel::pipeline::BuildProgress;
using nimbrel::cli::BarLine;
using nimbrel::cli::FormatBytes;
using nimbrel::cli::ProgressDisplay;

namespace {

// True when `text` is whole UTF-8 sequences without control characters.
bool PrintableUtf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        auto c = static_cast<unsigned char>(text[i]);
        std::size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (length == 0 || i + length > text.size() || c < 0x20 || c == 0x7F) return false;
        for (std::size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        i += length;
    }
    return true;
}

}  // namespace

TEST(ProgressDisplay, BarLineFitsEveryWidthAndKeepsWhatMattersMost) {
    BuildProgress p{0.437, "/photos/\xC3\xA9t\xC3\xA9-\x1B[2J-" + std::string(40, 'x') + "\xE2\x82\xAC.jpg",
                    47 << 20, 108 << 20};
    for (int columns = 0; columns <= 160; ++columns) {
        std::string line = BarLine(p, 3.5 * (1 << 20), columns);
        EXPECT_LE(line.size(), static_cast<std::size_t>(std::max(columns - 1, 0))) << columns << ": " << line;
        EXPECT_TRUE(PrintableUtf8(line)) << columns << ": " << line;
        if (columns >= 6) {
            EXPECT_NE(line.find(" 43%"), std::string::npos) << columns << ": " << line;
        }
    }
    std::string wide = BarLine(p, 3.5 * (1 << 20), 160);
    EXPECT_EQ(wide.rfind("[#############.................]  43%  47.0 MiB of 108.0 MiB  3.5 MiB/s  ", 0), 0u)
        << wide;
    EXPECT_NE(wide.find("-?[2J-xxxx"), std::string::npos) << wide;  // the escape cannot reach the terminal
    EXPECT_EQ(wide.substr(wide.size() - 7), "\xE2\x82\xAC.jpg");
    // Narrower: the name is cut with "...", then what does not fit is left out.
    std::string medium = BarLine(p, 3.5 * (1 << 20), 80);
    EXPECT_NE(medium.find("3.5 MiB/s  "), std::string::npos) << medium;
    EXPECT_EQ(medium.substr(medium.size() - 3), "...") << medium;
    EXPECT_EQ(BarLine(p, 0, 40).find("MiB/s"), std::string::npos);
    EXPECT_EQ(BarLine(p, 3.5 * (1 << 20), 20), " 43%  3.5 MiB/s");
    EXPECT_EQ(BarLine(p, 0, 20), " 43%  \xC3\xA9t\xC3\xA9-?[2J...");

    EXPECT_EQ(FormatBytes(1023), "1023 B");
    EXPECT_EQ(FormatBytes(1536), "1.5 KiB");
    EXPECT_EQ(FormatBytes(5LL << 30), "5.0 GiB");
}

TEST(ProgressDisplay, BarRedrawsAtMostTenTimesASecondAndAlwaysShowsTheEnd) {
    std::ostringstream err;
    double now = 100.0;
    {
        ProgressDisplay display(err, ProgressDisplay::Style::Bar, 60, [&] { return now; });
        // 2,000 reports over two seconds.
        for (int i = 0; i <= 2000; ++i) {
            display.Progress(i % 100);  // the window's positions are ignored
            display.Overall(BuildProgress{i / 2000.0, "a.jpg", i * 1000, 2000000});
            if (i == 1000) display.Notice("Unable to Change Icon");
            now += 0.001;
        }
    }
    std::string text = err.str();
    std::size_t draws = 0;
    for (char c : text) draws += c == '\r';
    EXPECT_GE(draws, 15u);
    EXPECT_LE(draws, 2 * 10 + 6u);  // the notice clears the bar with two more
    EXPECT_NE(text.find("\rnimbrel-cli compile: warning: Unable to Change Icon\n"), std::string::npos)
        << text;
    // The last drawing is the whole bar at 100 %, and the line is ended.
    std::string last = text.substr(text.rfind('\r') + 1);
    EXPECT_EQ(last.rfind("[###########] 100%", 0), 0u) << last;
    EXPECT_EQ(last.back(), '\n');
}

TEST(ProgressDisplay, PlainLinesOncePerPercentAndNothingWhenQuiet) {
    std::ostringstream lines, none;
    ProgressDisplay plain(lines, ProgressDisplay::Style::Lines, 80, [] { return 0.0; });
    ProgressDisplay quiet(none, ProgressDisplay::Style::None, 80, [] { return 0.0; });
    for (int i = 0; i <= 1000; ++i) {
        BuildProgress p{i / 1000.0, i < 500 ? "pics/a.jpg" : "", i, 1000};
        plain.Overall(p);
        quiet.Overall(p);
    }
    std::string text = lines.str();
    EXPECT_EQ(text.rfind(
                  "progress 0% (0 of 1000 bytes) pics/a.jpg\nprogress 1% (10 of 1000 bytes) pics/a.jpg\n", 0),
              0u)
        << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 101);
    EXPECT_NE(text.find("\nprogress 100% (1000 of 1000 bytes)\n"), std::string::npos);
    EXPECT_TRUE(none.str().empty());
}
