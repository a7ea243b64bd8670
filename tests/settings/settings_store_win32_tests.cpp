// The settings store in the registry itself: what lands under HKEY_CURRENT_USER, values of other
// types that someone else put there, keys that cannot be made, and text beyond ASCII.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/error.h"
#include "platform/settings_store.h"
#include "platform/temp.h"
#include "settings/settings_test_location.h"

namespace nimbrel::platform {
namespace {

class RegistrySettings : public ::testing::Test {
protected:
    void SetUp() override { SetSettingsLocation(location_.Location()); }
    void TearDown() override { SetSettingsLocation(""); }

    // The full path under HKEY_CURRENT_USER of a store's section.
    std::string RealKey(const SettingsStore& store, const std::string& section) const {
        return location_.Location() + "\\" + store.KeyPath(section);
    }

    // A value as the registry holds it: its type and its bytes.
    bool RawValue(const std::string& key, const std::string& name, DWORD& type, std::string& bytes) const {
        HKEY handle = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS)
            return false;
        char buffer[1024];
        DWORD size = sizeof buffer;
        LONG result =
            RegQueryValueExA(handle, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
        RegCloseKey(handle);
        if (result != ERROR_SUCCESS) return false;
        bytes.assign(buffer, size);
        return true;
    }

    void PutRaw(const std::string& key, const std::string& name, DWORD type, const void* data, DWORD size) {
        HKEY handle = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                  &handle, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(handle, name.c_str(), 0, type, static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS);
        RegCloseKey(handle);
    }

    TempDirectory dir_;
    TestSettingsLocation location_{dir_};
};

TEST_F(RegistrySettings, EveryValueIsAStringUnderTheCurrentUser) {
    SettingsStore store("Software\\Tarnwick");
    store.WriteInteger("Nimbrel", "ShowCmd", -2);
    store.WriteBool("Nimbrel", "Visible", true);
    store.WriteString("Nimbrel\\TfrmMain.MRUManager1", "Item_0", "C:\\P\\a.nssp");
    store.WriteString("Nimbrel", "Empty", "");

    DWORD type = 0;
    std::string bytes;
    ASSERT_TRUE(RawValue(RealKey(store, "Nimbrel"), "ShowCmd", type, bytes));
    EXPECT_EQ(type, DWORD(REG_SZ));
    EXPECT_EQ(bytes, std::string("-2\0", 3));  // decimal text with its terminating zero
    ASSERT_TRUE(RawValue(RealKey(store, "Nimbrel"), "Visible", type, bytes));
    EXPECT_EQ(bytes, std::string("1\0", 2));
    ASSERT_TRUE(RawValue(RealKey(store, "Nimbrel"), "Empty", type, bytes));
    EXPECT_EQ(type, DWORD(REG_SZ));
    EXPECT_EQ(bytes, std::string(1, '\0'));
    // A section is a subkey, reached through the placement key.
    ASSERT_TRUE(RawValue(RealKey(store, "Nimbrel") + "\\TfrmMain.MRUManager1", "Item_0", type, bytes));
    EXPECT_EQ(bytes, std::string("C:\\P\\a.nssp\0", 12));

    // Key and value names match without regard to case, as the registry compares them.
    EXPECT_EQ(store.Read("NIMBREL\\tfrmmain.mrumanager1", "ITEM_0"), "C:\\P\\a.nssp");
}

TEST_F(RegistrySettings, ValuesOfOtherTypesReadAsMissing) {
    SettingsStore store("Software\\Tarnwick");
    std::string key = RealKey(store, "Nimbrel");
    DWORD five = 5;
    PutRaw(key, "FormVersion", REG_DWORD, &five, sizeof five);
    PutRaw(key, "Flags", REG_BINARY, "\x01\x02", 2);
    PutRaw(key, "MinMaxPos", REG_MULTI_SZ,
           "1,2\0"
           "3,4\0",
           9);
    // Text without its terminating zero, and text of the expandable kind, are still text.
    PutRaw(key, "NormPos", REG_SZ, "10,20,30,40", 11);
    PutRaw(key, "ActiveControl", REG_EXPAND_SZ, "lvFiles", 8);

    EXPECT_FALSE(store.Read("Nimbrel", "FormVersion"));
    EXPECT_EQ(store.ReadInteger("Nimbrel", "FormVersion", -1), -1);
    EXPECT_EQ(store.ReadInteger("Nimbrel", "Flags", 7), 7);
    EXPECT_EQ(store.ReadString("Nimbrel", "MinMaxPos", "none"), "none");
    EXPECT_EQ(store.Read("Nimbrel", "NormPos"), "10,20,30,40");
    EXPECT_EQ(store.Read("Nimbrel", "ActiveControl"), "lvFiles");

    // Writing over a value of another type leaves a string.
    store.WriteInteger("Nimbrel", "FormVersion", 0);
    DWORD type = 0;
    std::string bytes;
    ASSERT_TRUE(RawValue(key, "FormVersion", type, bytes));
    EXPECT_EQ(type, DWORD(REG_SZ));
    EXPECT_EQ(store.ReadInteger("Nimbrel", "FormVersion", -1), 0);
}

TEST_F(RegistrySettings, AKeyThatCannotBeMadeIsReportedAndLosesNothing) {
    SettingsStore store("Software\\Tarnwick");
    store.WriteString("Nimbrel", "Flags", "0");
    // A key name may be at most 255 characters long.
    std::string tooLong(300, 'k');
    try {
        store.WriteString(tooLong, "Flags", "1");
        ADD_FAILURE() << "a key of 300 characters was written";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("Cannot create registry key Software\\Tarnwick\\" + tooLong),
                  std::string::npos)
            << e.what();
    }
    EXPECT_FALSE(store.Read(tooLong, "Flags"));
    EXPECT_FALSE(store.SectionExists(tooLong));
    EXPECT_EQ(store.Read("Nimbrel", "Flags"), "0");
}

TEST_F(RegistrySettings, AKeyOpenedReadOnlyElsewhereStillTakesWrites) {
    // The store opens the key for every operation; a handle someone else keeps does not stop it.
    SettingsStore store("Software\\Tarnwick");
    store.WriteString("Nimbrel", "Flags", "0");
    HKEY held = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, RealKey(store, "Nimbrel").c_str(), 0, KEY_READ, &held),
              ERROR_SUCCESS);
    store.WriteString("Nimbrel", "Flags", "8");
    store.EraseSection("Nimbrel\\Missing");
    RegCloseKey(held);
    EXPECT_EQ(store.Read("Nimbrel", "Flags"), "8");
}

TEST_F(RegistrySettings, TextBeyondAsciiGoesThroughTheAnsiCodePage) {
    // "Fotos Müller.nssp" in the ANSI code page, as the recent list stores a path: what the wide
    // registry interface reads back is the same name.
    SettingsStore store("Software\\Tarnwick");
    if (GetACP() != 1252) GTEST_SKIP() << "the ANSI code page here is " << GetACP() << ", not 1252";
    const std::string path = "C:\\Fotos\\Fotos M\xFCller.nssp";
    store.WriteString("Nimbrel\\TfrmMain.MRUManager1", "Item_0", path);
    EXPECT_EQ(store.Read("Nimbrel\\TfrmMain.MRUManager1", "Item_0"), path);

    HKEY key = nullptr;
    std::string full = RealKey(store, "Nimbrel\\TfrmMain.MRUManager1");
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, full.c_str(), 0, KEY_QUERY_VALUE, &key), ERROR_SUCCESS);
    wchar_t wide[64] = {};
    DWORD size = sizeof wide;
    ASSERT_EQ(RegQueryValueExW(key, L"Item_0", nullptr, nullptr, reinterpret_cast<BYTE*>(wide), &size),
              ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(std::wstring(wide), L"C:\\Fotos\\Fotos M\u00FCller.nssp");

    // A value written by a Unicode program in letters the code page lacks ("Φωτό" in Greek,
    // "Łódź") reads back with question marks, never as look-alike letters: the caller gets no
    // path that could name another file.
    const wchar_t greekName[] = L"C:\\\u03A6\u03C9\u03C4\u03CC.nssp";
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, full.c_str(), 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
    ASSERT_EQ(
        RegSetValueExW(key, L"Item_1", 0, REG_SZ, reinterpret_cast<const BYTE*>(greekName), sizeof greekName),
        ERROR_SUCCESS);
    RegCloseKey(key);
    std::optional<std::string> greek = store.Read("Nimbrel\\TfrmMain.MRUManager1", "Item_1");
    ASSERT_TRUE(greek);
    EXPECT_EQ(*greek, "C:\\????.nssp");
    const wchar_t polishName[] = L"C:\\\u0141\u00F3d\u017A.nssp";
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, full.c_str(), 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, L"Item_2", 0, REG_SZ, reinterpret_cast<const BYTE*>(polishName),
                             sizeof polishName),
              ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(store.Read("Nimbrel\\TfrmMain.MRUManager1", "Item_2"),
              "C:\\?\xF3"
              "d?.nssp");
}

}  // namespace
}  // namespace nimbrel::platform
