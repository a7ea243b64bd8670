// File information on Windows: type names from HKEY_CLASSES_ROOT and file times through the
// system's own calls.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/error.h"
#include "platform/file_info.h"
#include "platform/file_mapping.h"
#include "platform/temp.h"
#include "support/test_system.h"

namespace nimbrel::platform {
namespace {

// The default value of a key under HKEY_CLASSES_ROOT, read with the wide interface.
std::optional<std::wstring> ClassesDefault(const wchar_t* key) {
    wchar_t buffer[512] = {};
    DWORD size = sizeof buffer;
    if (RegGetValueW(HKEY_CLASSES_ROOT, key, nullptr, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                     nullptr, buffer, &size) != ERROR_SUCCESS)
        return std::nullopt;
    return std::wstring(buffer);
}

// Registrations of our own under HKEY_CLASSES_ROOT, removed when the object goes.
class TestClasses {
public:
    ~TestClasses() {
        for (const std::string& key : keys_) RegDeleteTreeA(HKEY_CLASSES_ROOT, key.c_str());
    }
    bool Put(const std::string& key, const char* value, DWORD type = REG_SZ, DWORD size = 0) {
        HKEY handle = nullptr;
        if (RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle,
                            nullptr) != ERROR_SUCCESS)
            return false;
        keys_.push_back(key);
        LONG result = ERROR_SUCCESS;
        if (value)
            result = RegSetValueExA(handle, nullptr, 0, type, reinterpret_cast<const BYTE*>(value),
                                    size ? size : static_cast<DWORD>(strlen(value) + 1));
        RegCloseKey(handle);
        return result == ERROR_SUCCESS;
    }

private:
    std::vector<std::string> keys_;
};

TEST(WindowsFileTypes, NamesComeFromTheClassOfTheExtension) {
    // A type the system registers itself: the help file's.
    std::optional<std::wstring> className = ClassesDefault(L".chm");
    if (!className) GTEST_SKIP() << "this system registers no .chm type";
    std::optional<std::wstring> description = ClassesDefault(className->c_str());
    ASSERT_TRUE(description);
    EXPECT_EQ(RegisteredTypeName(".chm"),
              NarrowFromUtf16(std::u16string(description->begin(), description->end())));
    EXPECT_EQ(GetFileTypeName(".CHM"), GetFileTypeName(".chm"));  // the registry ignores case

    TestClasses classes;
    ASSERT_TRUE(classes.Put(".nbt17a", "Nimbrel.TestPicture"));
    ASSERT_TRUE(classes.Put("Nimbrel.TestPicture", "Nimbrel test picture"));
    EXPECT_EQ(GetFileTypeName(".nbt17a"), "Nimbrel test picture");
    // A description of the expandable kind, and one stored without its terminating zero.
    ASSERT_TRUE(classes.Put(".nbt17b", "Nimbrel.TestExpand"));
    ASSERT_TRUE(classes.Put("Nimbrel.TestExpand", "%SystemRoot% picture", REG_EXPAND_SZ));
    EXPECT_EQ(GetFileTypeName(".nbt17b"), "%SystemRoot% picture");
    ASSERT_TRUE(classes.Put(".nbt17c", "Nimbrel.TestBare"));
    ASSERT_TRUE(classes.Put("Nimbrel.TestBare", "Bare", REG_SZ, 4));
    EXPECT_EQ(GetFileTypeName(".nbt17c"), "Bare");
    if (GetACP() == 1252) {
        ASSERT_TRUE(classes.Put(".nbt17d", "Nimbrel.TestAccent"));
        ASSERT_TRUE(classes.Put("Nimbrel.TestAccent",
                                "Fotograf\xED"
                                "a JPEG"));
        EXPECT_EQ(GetFileTypeName(".nbt17d"),
                  "Fotograf\xED"
                  "a JPEG");
    }
}

TEST(WindowsFileTypes, MissingPartsOfARegistration) {
    TestClasses classes;
    EXPECT_EQ(GetFileTypeName(".nbt17none"), ".nbt17none");  // nothing registered
    // The extension names a class that is not there.
    ASSERT_TRUE(classes.Put(".nbt17e", "Nimbrel.NoSuchClass"));
    EXPECT_FALSE(RegisteredTypeName(".nbt17e"));
    EXPECT_EQ(GetFileTypeName(".nbt17e"), ".nbt17e");
    // The extension's key has no class name: it must not read the description of the root.
    ASSERT_TRUE(classes.Put(".nbt17f", nullptr));
    EXPECT_EQ(GetFileTypeName(".nbt17f"), ".nbt17f");
    // The class is there without a description: an empty type, as the system shows it.
    ASSERT_TRUE(classes.Put(".nbt17g", "Nimbrel.NoDescription"));
    ASSERT_TRUE(classes.Put("Nimbrel.NoDescription", nullptr));
    EXPECT_EQ(RegisteredTypeName(".nbt17g"), "");
    // A class name that is no text is no class.
    DWORD number = 7;
    ASSERT_TRUE(classes.Put(".nbt17h", reinterpret_cast<const char*>(&number), REG_DWORD, sizeof number));
    EXPECT_EQ(GetFileTypeName(".nbt17h"), ".nbt17h");
}

FILETIME FileTimeOf(SYSTEMTIME local) {
    SYSTEMTIME utc{};
    TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc);
    FILETIME result{};
    SystemTimeToFileTime(&utc, &result);
    return result;
}

TEST(WindowsFileTimes, LastAccessNotLastWriteAtTwoSeconds) {
    TempDirectory dir;
    std::string path = dir.File("beach.jpg");
    HANDLE file =
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    // Opened on 8 June 2025 at 14:37:59 local time, changed a year before.
    SYSTEMTIME opened{2025, 6, 0, 8, 14, 37, 59, 0};
    SYSTEMTIME changed{2024, 6, 0, 8, 9, 0, 0, 0};
    FILETIME access = FileTimeOf(opened);
    FILETIME write = FileTimeOf(changed);
    ASSERT_TRUE(SetFileTime(file, nullptr, &access, &write));
    CloseHandle(file);

    std::optional<LocalDateTime> date = FileLastAccessTime(path);
    ASSERT_TRUE(date);
    EXPECT_EQ(date->year, 2025);
    EXPECT_EQ(date->month, 6);
    EXPECT_EQ(date->day, 8);
    EXPECT_EQ(date->hour, 14);
    EXPECT_EQ(date->minute, 37);
    EXPECT_EQ(date->second, 58);  // the DOS format keeps even seconds

    // A folder has a date too; a name with wildcards names no file.
    EXPECT_TRUE(FileLastAccessTime(dir.Path()).has_value());
    EXPECT_FALSE(FileLastAccessTime(dir.File("*.jpg")).has_value());
    EXPECT_FALSE(FileLastAccessTime(dir.File("beac?.jpg")).has_value());
}

TEST(WindowsFileSizes, ReadWithEveryKindOfSharing) {
    TempDirectory dir;
    std::string path = dir.File("held.jpg");
    HANDLE writer =
        CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(writer, "12345", 5, &written, nullptr);
    // A program still writing it, sharing it with everyone: the size is read.
    EXPECT_EQ(GetFileSizeText(path), "5");
    CloseHandle(writer);
    {
        nimbrel::testing::HeldOpenFile held(path);  // no sharing at all
        ASSERT_TRUE(held.Held());
        EXPECT_THROW(GetFileSizeText(path), Error);
    }
    EXPECT_EQ(GetFileSizeText(path), "5");
}

}  // namespace
}  // namespace nimbrel::platform
