// The settings store, redirected into a private directory (a private registry key on Windows).
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <cstdlib>
#include <fstream>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/settings_store.h"
#include "platform/temp.h"
#include "settings/settings_test_location.h"
#include "support/test_system.h"

namespace nimbrel::platform {
namespace {

class SettingsStoreTest : public ::testing::Test {
protected:
    void SetUp() override { SetSettingsLocation(location_.Location()); }
    void TearDown() override { SetSettingsLocation(""); }

    TempDirectory dir_;
    TestSettingsLocation location_{dir_};
};

TEST_F(SettingsStoreTest, ValuesSurviveAsStringsIntegersAndBooleans) {
    SettingsStore store("Software\\Tarnwick");
    EXPECT_FALSE(store.Read("Nimbrel", "FormVersion"));
    EXPECT_EQ(store.ReadInteger("Nimbrel", "FormVersion", 7), 7);
    EXPECT_TRUE(store.ReadBool("Nimbrel", "Visible", true));
    store.WriteInteger("Nimbrel", "FormVersion", -3);
    store.WriteBool("Nimbrel", "Visible", false);
    store.WriteString("Nimbrel", "NormPos", "10,20,30,40");
    store.WriteString("Nimbrel", "Empty", "");

    // Another object over the same key sees everything, as text.
    SettingsStore again("Software\\Tarnwick\\");
    EXPECT_EQ(again.Read("Nimbrel", "FormVersion"), "-3");
    EXPECT_EQ(again.ReadInteger("Nimbrel", "FormVersion", 0), -3);
    EXPECT_EQ(again.Read("Nimbrel", "Visible"), "0");
    EXPECT_FALSE(again.ReadBool("Nimbrel", "Visible", true));
    EXPECT_EQ(again.ReadString("Nimbrel", "NormPos", ""), "10,20,30,40");
    EXPECT_EQ(again.Read("Nimbrel", "Empty"), "");             // present and empty is not missing
    EXPECT_EQ(again.ReadInteger("Nimbrel", "NormPos", 5), 5);  // not a number: the default
    EXPECT_EQ(again.ReadInteger("Nimbrel", "Empty", 5), 5);

    // Replacing keeps one value.
    again.WriteString("Nimbrel", "normpos", "1,2,3,4");
    EXPECT_EQ(store.Read("NIMBREL", "NormPos"), "1,2,3,4");
    EXPECT_EQ(store.ValueNames("Nimbrel").size(), 4u);
}

TEST_F(SettingsStoreTest, BooleansReadAsIntegers) {
    SettingsStore store("Software\\Tarnwick");
    store.WriteString("S", "Two", "2");
    store.WriteString("S", "Zero", "0");
    store.WriteString("S", "Word", "yes");
    EXPECT_TRUE(store.ReadBool("S", "Two", false));
    EXPECT_FALSE(store.ReadBool("S", "Zero", true));
    EXPECT_TRUE(store.ReadBool("S", "Word", true));
    EXPECT_FALSE(store.ReadBool("S", "Word", false));
}

TEST(SettingsStoreParse, DecimalIntegersOnly) {
    std::int32_t value = 99;
    EXPECT_TRUE(SettingsStore::ParseInteger("-17", value));
    EXPECT_EQ(value, -17);
    EXPECT_TRUE(SettingsStore::ParseInteger("+5", value));
    EXPECT_EQ(value, 5);
    EXPECT_TRUE(SettingsStore::ParseInteger("2147483647", value));
    for (const char* bad : {"", "+", "-", "+-1", "1x", " 1", "0x10", "2147483648", "1.5"}) {
        value = 99;
        EXPECT_FALSE(SettingsStore::ParseInteger(bad, value)) << bad;
        EXPECT_EQ(value, 99) << bad;
    }
}

TEST_F(SettingsStoreTest, SectionsAreSubkeysErasedWithTheirOwn) {
    SettingsStore store("Software\\Tarnwick");
    store.WriteString("Nimbrel", "FormVersion", "0");
    store.WriteString("Nimbrel\\TfrmMain.MRUManager1", "Item_0", "a.nssp");
    store.WriteString("Nimbrel\\TfrmMain.MRUManager1\\Deeper", "X", "1");
    store.WriteString("NimbrelOther", "Y", "2");
    EXPECT_EQ(store.KeyPath("Nimbrel\\TfrmMain.MRUManager1"),
              "Software\\Tarnwick\\Nimbrel\\TfrmMain.MRUManager1");
    EXPECT_TRUE(store.SectionExists("nimbrel\\tfrmmain.mrumanager1"));

    store.EraseSection("Nimbrel\\TfrmMain.MRUManager1");
    EXPECT_FALSE(store.SectionExists("Nimbrel\\TfrmMain.MRUManager1"));
    EXPECT_FALSE(store.SectionExists("Nimbrel\\TfrmMain.MRUManager1\\Deeper"));
    EXPECT_FALSE(store.Read("Nimbrel\\TfrmMain.MRUManager1", "Item_0"));
    // The parent and a key whose name merely starts the same stay.
    EXPECT_EQ(store.Read("Nimbrel", "FormVersion"), "0");
    EXPECT_EQ(store.Read("NimbrelOther", "Y"), "2");
    store.EraseSection("Missing");  // nothing to do

    // Different roots are different keys.
    SettingsStore list("Software\\Quorvane\\Tellan\\Development\\Vistrel");
    EXPECT_FALSE(list.Read("Nimbrel", "FormVersion"));
    list.WriteString("Columns", "Order", "0,1,2,3");
    EXPECT_FALSE(store.Read("Columns", "Order"));
}

TEST_F(SettingsStoreTest, AnyTextSurvivesTheFile) {
    SettingsStore store("Software\\Tarnwick");
    const std::string tricky = "[C:\\P\\a=b.nssp]\r\nnext line\\x41 & more";
    store.WriteString("Nimbrel", "Item_0", tricky);
    store.WriteString("Nimbrel", "[odd=name", "v");
    store.WriteString("Nimbrel", "After", "plain");
    EXPECT_EQ(store.Read("Nimbrel", "Item_0"), tricky);
    EXPECT_EQ(store.Read("Nimbrel", "[odd=name"), "v");
    EXPECT_EQ(store.Read("Nimbrel", "After"), "plain");
    EXPECT_EQ(store.ValueNames("Nimbrel").size(), 3u);
}

#ifndef _WIN32
TEST_F(SettingsStoreTest, TheFileLiesUnderTheConfigurationDirectory) {
    EXPECT_EQ(SettingsFilePath(), dir_.File("registry.ini"));
    SettingsStore("Software\\Tarnwick").WriteString("Nimbrel", "Visible", "0");
    std::string bytes = ReadWholeFile(dir_.File("registry.ini"));
    EXPECT_NE(bytes.find("[Software\\Tarnwick\\Nimbrel]\nVisible=0\n"), std::string::npos) << bytes;

    // Without the redirection: $XDG_CONFIG_HOME/nimbrel, else ~/.config/nimbrel.
    SetSettingsLocation("");
    const char* oldConfig = std::getenv("XDG_CONFIG_HOME");
    std::string savedConfig = oldConfig ? oldConfig : "";
    const char* oldHome = std::getenv("HOME");
    std::string savedHome = oldHome ? oldHome : "";
    setenv("XDG_CONFIG_HOME", "/xdg/config", 1);
    EXPECT_EQ(SettingsFilePath(), "/xdg/config/nimbrel/registry.ini");
    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(SettingsFilePath(), "/home/someone/.config/nimbrel/registry.ini");
    if (oldConfig) setenv("XDG_CONFIG_HOME", savedConfig.c_str(), 1);
    if (oldHome) setenv("HOME", savedHome.c_str(), 1);
}

TEST_F(SettingsStoreTest, MissingDirectoriesAreMadeAndJunkReadsAsNothing) {
    SetSettingsLocation(dir_.File("a/b/nimbrel"));
    SettingsStore store("Software\\Tarnwick");
    store.WriteString("Nimbrel", "Flags", "0");
    EXPECT_TRUE(FileExists(dir_.File("a/b/nimbrel/registry.ini")));

    // Lines that are no key or value are passed over; what can be read still is.
    std::ofstream(dir_.File("a/b/nimbrel/registry.ini"), std::ios::binary)
        << "junk before\n[Software\\Tarnwick\\Nimbrel]\r\nno equals sign\r\nFlags=3\r\n[broken\n";
    EXPECT_EQ(store.ReadInteger("Nimbrel", "Flags", 0), 3);
    EXPECT_FALSE(store.Read("Nimbrel", "no equals sign"));
}

TEST_F(SettingsStoreTest, TheFileKeepsItsModeAndItsLink) {
#ifdef _WIN32
    GTEST_SKIP() << "pipes, devices, file modes and links are POSIX's: the Windows cases are in the win32 tests";
#else
    SettingsStore store("Software\\Tarnwick");
    store.WriteString("Nimbrel", "Flags", "0");
    std::string file;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_.Path()))
        if (entry.is_regular_file()) file = entry.path().string();
    ASSERT_FALSE(file.empty());
    chmod(file.c_str(), 0600);
    store.WriteString("Nimbrel", "ShowCmd", "1");
    struct stat info {};
    ASSERT_EQ(stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);

    // The file kept elsewhere behind a link: the link stays, the real file changes.
    std::string real = dir_.File("real-settings");
    std::filesystem::rename(file, real);
    std::filesystem::create_symlink(real, file);
    store.WriteString("Nimbrel", "Linked", "yes");
    EXPECT_TRUE(std::filesystem::is_symlink(file));
    EXPECT_NE(ReadWholeFile(real).find("Linked"), std::string::npos);

    EXPECT_EQ(store.Read("Nimbrel", "Linked"), "yes");
    EXPECT_EQ(store.Read("Nimbrel", "Flags"), "0");
#endif
}

TEST_F(SettingsStoreTest, AWriteWhereNoFolderCanBeMadeIsReported) {
    // A file stands where the store's folder should be.
    std::ofstream(dir_.File("blocked"), std::ios::binary) << "x";
    SetSettingsLocation(dir_.File("blocked/nimbrel"));
    SettingsStore store("Software\\Tarnwick");
    EXPECT_THROW(store.WriteString("Nimbrel", "Flags", "0"), Error);
    EXPECT_FALSE(store.Read("Nimbrel", "Flags"));
}
#endif

}  // namespace
}  // namespace nimbrel::platform
