// The installer's platform-neutral part: Setup.ini, its switches, folder names and the About
// text as plain text.
#include <gtest/gtest.h>

#include "platform/error.h"
#include "setup_info.h"

namespace nimbrel::player {
namespace {

TEST(SetupInfo, ReadsItsKeysAndRefusesAFileNameWithAPath) {
    SetupInfo info = ParseSetupIni("Name=Lake Views \r\nPublisher=Ann\r\nIgnored=1\r\nFile=lake.scr\r\n");
    EXPECT_EQ(info.name, "Lake Views");
    EXPECT_EQ(info.publisher, "Ann");
    EXPECT_EQ(info.file, "lake.scr");
    EXPECT_THROW(ParseSetupIni("Name=x\r\n"), Error);
    EXPECT_THROW(ParseSetupIni("File=..\\evil.scr\r\n"), Error);
    EXPECT_THROW(ParseSetupIni("File=C:evil.scr\r\n"), Error);
}

TEST(SetupInfo, SwitchesInEitherFormAndCase) {
    EXPECT_FALSE(ParseSetupCommandLine("").silent);
    SetupCommandLine line = ParseSetupCommandLine(" -UNINSTALL  /s");
    EXPECT_TRUE(line.uninstall);
    EXPECT_TRUE(line.silent);
    EXPECT_FALSE(ParseSetupCommandLine("/silent /uninstaller").silent);
    EXPECT_FALSE(ParseSetupCommandLine("/silent /uninstaller").uninstall);
}

TEST(SetupInfo, FolderNamesHoldNoCharacterWindowsRefuses) {
    EXPECT_EQ(SetupFolderName("Lake: \"North\"/South?. "), "Lake_ _North__South_");
    EXPECT_EQ(SetupFolderName(" ..."), "Screensaver");
    EXPECT_EQ(UninstallKeyName("Lake"), "Nimbrel Screensaver Lake");
}

TEST(SetupInfo, AboutTextLosesItsTagsButKeepsLinesAndAddresses) {
    EXPECT_EQ(PlainAboutText("Hello <b>there</b> &amp; you<br>Line 2"), "Hello there & you\r\nLine 2");
    EXPECT_EQ(PlainAboutText("See <a href=\"https://example.org\">our site</a>."),
              "See our site (https://example.org).");
}

}  // namespace
}  // namespace nimbrel::player
