// The platform layer on Windows itself: names beyond ASCII through the ANSI code page, files
// held open by other programs, and paths longer than the classic limit of 260 characters.
#include <windows.h>
// winioctl.h needs windows.h first.
#include <winioctl.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/file_info.h"
#include "platform/file_mapping.h"
#include "platform/files.h"
#include "platform/last_error.h"
#include "platform/paths.h"
#include "platform/temp.h"
#include "platform/wallpaper.h"
#include "support/test_system.h"

namespace nimbrel::platform {
namespace {

using nimbrel::testing::HeldOpenFile;

const wchar_t* Wide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

// Makes a file through the wide interface, as Explorer or a camera's import tool would.
bool MakeWideFile(const std::u16string& path, const std::string& bytes) {
    HANDLE file =
        CreateFileW(Wide(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
              written == bytes.size();
    CloseHandle(file);
    return ok;
}

bool WideFileExists(const std::u16string& path) {
    return GetFileAttributesW(Wide(path)) != INVALID_FILE_ATTRIBUTES;
}

class AnsiNames : public ::testing::Test {
protected:
    void SetUp() override {
        if (GetACP() != 1252)
            GTEST_SKIP() << "these names are chosen for the ANSI code page 1252; this system uses "
                         << GetACP();
        wideDir_ = Utf16FromNarrow(dir_.Path());
    }

    TempDirectory dir_;
    std::u16string wideDir_;
};

TEST_F(AnsiNames, LettersOfTheCodePageRoundTripAndOthersNeverBecomeLookAlikes) {
    EXPECT_EQ(NarrowFromUtf16(u"Fotos M\u00FCller.jpg"), "Fotos M\xFCller.jpg");
    EXPECT_EQ(NarrowFromUtf16(u"Preis 5\u20AC.jpg"), "Preis 5\x80.jpg");
    EXPECT_EQ(Utf16FromNarrow("Preis 5\x80.jpg"), u"Preis 5\u20AC.jpg");
    EXPECT_EQ(Utf16FromNarrow("Cr\xE8me\x96"
                              "br\xFBl\xE9"
                              "e.jpg"),
              u"Cr\u00E8me\u2013br\u00FBl\u00E9e.jpg");
    // Letters the code page lacks become "?", never a similar letter that could name another file.
    EXPECT_EQ(NarrowFromUtf16(u"\u0141\u00F3d\u017A.jpg"),
              "?\xF3"
              "d?.jpg");
    EXPECT_EQ(NarrowFromUtf16(u"\u03A6\u03C9\u03C4\u03CC.jpg"), "????.jpg");
    EXPECT_EQ(NarrowFromUtf16(u"\u5199\u771F.jpg"), "??.jpg");
}

TEST_F(AnsiNames, EveryFileOperationReachesFilesNamedInTheCodePage) {
    for (const std::u16string& name :
         {std::u16string(u"Fotos M\u00FCller.jpg"), std::u16string(u"Preis 5\u20AC.jpg"),
          std::u16string(u"Cr\u00E8me\u2013br\u00FBl\u00E9e.jpg")}) {
        SCOPED_TRACE(NarrowFromUtf16(name));
        ASSERT_TRUE(MakeWideFile(wideDir_ + name, "xyz"));
        std::string path = dir_.File(NarrowFromUtf16(name));
        EXPECT_TRUE(FileExists(path));
        EXPECT_FALSE(DirectoryExists(path));
        EXPECT_EQ(FileSize(path), 3);
        EXPECT_EQ(ReadWholeFile(path), "xyz");
        EXPECT_EQ(GetFileSizeText(path), "3");
        EXPECT_TRUE(FileLastAccessTime(path).has_value());

        ASSERT_TRUE(CopyFileBytes(path, path + ".copy"));
        EXPECT_TRUE(WideFileExists(wideDir_ + name + u".copy"));
        WriteFileAtomically(path + ".copy", "new");
        EXPECT_EQ(ReadWholeFile(path + ".copy"), "new");
        ASSERT_TRUE(RenameFile(path + ".copy", path + ".moved"));
        EXPECT_TRUE(WideFileExists(wideDir_ + name + u".moved"));
        EXPECT_TRUE(RemoveFile(path + ".moved"));
        EXPECT_FALSE(WideFileExists(wideDir_ + name + u".moved"));
        EXPECT_TRUE(RemoveFile(path));
        EXPECT_FALSE(WideFileExists(wideDir_ + name));
    }
}

TEST_F(AnsiNames, ATemporaryFolderUnderAUserWithAnAccentedName) {
    // A user called "Müller €" has the temporary folder C:\Users\Müller €\AppData\Local\Temp.
    std::string home = dir_.File("M\xFCller \x80");
    ASSERT_TRUE(CreateDirectoryW(Wide(wideDir_ + u"M\u00FCller \u20AC"), nullptr));
    char saved[1024] = {};
    DWORD had = GetEnvironmentVariableA("TMP", saved, sizeof saved);
    nimbrel::testing::SetEnvironment("TMP", home);
    std::string made;
    try {
        TempDirectory temp("nbtest");
        made = temp.Path();
        EXPECT_EQ(made.substr(0, home.size()), home);
        EXPECT_TRUE(DirectoryExists(made));
        WriteFileAtomically(temp.File("a.nssp"), "x");
        EXPECT_EQ(ReadWholeFile(temp.File("a.nssp")), "x");
    } catch (const Error& e) {
        ADD_FAILURE() << e.what();
    }
    if (had > 0 && had < sizeof saved)
        nimbrel::testing::SetEnvironment("TMP", saved);
    else
        nimbrel::testing::UnsetEnvironment("TMP");
    ASSERT_FALSE(made.empty());
    EXPECT_FALSE(DirectoryExists(made));  // removed with everything in it
}

TEST_F(AnsiNames, NamesTheCodePageCannotHoldReachNoOtherFile) {
    // Beside the files whose names cannot be written in the code page lie files whose names
    // match what a careless conversion would make of them.
    ASSERT_TRUE(MakeWideFile(wideDir_ + u"\u5199\u771F.jpg", "photo"));
    ASSERT_TRUE(MakeWideFile(wideDir_ + u"ab.jpg", "wrong file"));
    ASSERT_TRUE(MakeWideFile(wideDir_ + u"\u0141\u00F3d\u017A.jpg", "photo"));
    ASSERT_TRUE(MakeWideFile(wideDir_ + u"L\u00F3dz.jpg", "wrong file"));
    for (const std::u16string& name :
         {std::u16string(u"\u5199\u771F.jpg"), std::u16string(u"\u0141\u00F3d\u017A.jpg")}) {
        std::string path = dir_.File(NarrowFromUtf16(name));
        SCOPED_TRACE(path);
        EXPECT_FALSE(FileExists(path));
        EXPECT_EQ(FileSize(path), -1);
        EXPECT_THROW(ReadWholeFile(path), Error);
        EXPECT_FALSE(FileLastAccessTime(path).has_value());  // not the date of ab.jpg
        try {
            GetFileSizeText(path);
            ADD_FAILURE() << "a size was read";
        } catch (const Error& e) {
            EXPECT_EQ(std::string(e.what()), "Cannot open file " + path);
        }
        EXPECT_FALSE(CopyFileBytes(path, dir_.File("copy.jpg")));
        EXPECT_FALSE(RemoveFile(path));
    }
    EXPECT_TRUE(WideFileExists(wideDir_ + u"\u5199\u771F.jpg"));
    EXPECT_TRUE(WideFileExists(wideDir_ + u"\u0141\u00F3d\u017A.jpg"));
    EXPECT_EQ(ReadWholeFile(dir_.File("ab.jpg")), "wrong file");
    EXPECT_EQ(ReadWholeFile(dir_.File("L\xF3"
                                      "dz.jpg")),
              "wrong file");
}

TEST(MappedFiles, AFileHeldOpenElsewhere) {
    TempDirectory dir;
    std::u16string path = Utf16FromNarrow(dir.File("Show.scr"));
    ASSERT_TRUE(MakeWideFile(path, "MZ stub and archive"));
    {
        // Held with no sharing, as an installer or a virus scanner may hold it.
        HeldOpenFile held(dir.File("Show.scr"));
        ASSERT_TRUE(held.Held());
        MappedFile file;
        EXPECT_FALSE(file.Open(path, MappedFile::Mode::OpenExisting));
        EXPECT_EQ(LastErrorCode(), kErrorSharingViolation);
        EXPECT_FALSE(file.IsOpen());
        std::string bytes;
        EXPECT_FALSE(ReadWholeFileShared(path, bytes));
        EXPECT_EQ(LastErrorCode(), kErrorSharingViolation);
        EXPECT_THROW(GetFileSizeText(dir.File("Show.scr")), Error);
    }
    {
        // Held by a program that shares it for reading and writing, as a running player does.
        HANDLE shared = CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(shared, INVALID_HANDLE_VALUE);
        std::string bytes;
        EXPECT_TRUE(ReadWholeFileShared(path, bytes));
        EXPECT_EQ(bytes, "MZ stub and archive");
        EXPECT_EQ(GetFileSizeText(dir.File("Show.scr")), "19");
        MappedFile file;  // an edit needs the file to itself
        EXPECT_FALSE(file.Open(path, MappedFile::Mode::OpenExisting));
        EXPECT_EQ(LastErrorCode(), kErrorSharingViolation);
        CloseHandle(shared);
    }
    // While an edit holds it, nobody else gets in; once closed, the change is on disk.
    MappedFile edit;
    ASSERT_TRUE(edit.Open(path, MappedFile::Mode::OpenExisting));
    MappedFile second;
    EXPECT_FALSE(second.Open(path, MappedFile::Mode::OpenExisting));
    EXPECT_EQ(LastErrorCode(), kErrorSharingViolation);
    std::string bytes;
    EXPECT_FALSE(ReadWholeFileShared(path, bytes));
    ASSERT_TRUE(edit.Map());
    ASSERT_EQ(edit.MappedSize(), 19u);
    edit.Data()[0] = 'm';
    EXPECT_FALSE(edit.Resize(40));  // not while mapped
    edit.Unmap();
    ASSERT_TRUE(edit.Resize(21));
    ASSERT_TRUE(edit.WriteAt(19, "!!", 2));
    edit.Close();
    ASSERT_TRUE(ReadWholeFileShared(path, bytes));
    EXPECT_EQ(bytes, "mZ stub and archive!!");
}

TEST(MappedFiles, WidePathsReachAnyName) {
    // The resource editor takes UTF-16 paths: a name in any script opens.
    TempDirectory dir;
    std::u16string path = Utf16FromNarrow(dir.Path()) + u"\u03A6\u03C9\u03C4\u03CC \u5199\u771F.scr";
    ASSERT_TRUE(MakeWideFile(path, "abc"));
    MappedFile file;
    ASSERT_TRUE(file.Open(path, MappedFile::Mode::OpenExisting));
    EXPECT_EQ(file.Size(), 3);
    file.Close();
    EXPECT_TRUE(RemoveFileUtf16(path));
    EXPECT_FALSE(WideFileExists(path));
}

TEST(MappedFiles, AFileOfFourGigabytesIsNotReadAsItsFirstBytes) {
    // The size's low 32 bits are 3: a file of 4 GiB + 3 bytes must not pass as a 3-byte file.
    TempDirectory dir;
    std::u16string path = Utf16FromNarrow(dir.File("huge.ico"));
    HANDLE file =
        CreateFileW(Wide(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD ignored = 0;
    DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored,
                    nullptr);  // no disk space taken
    LARGE_INTEGER size{};
    size.QuadPart = (std::int64_t{1} << 32) + 3;
    bool grown = SetFilePointerEx(file, size, nullptr, FILE_BEGIN) && SetEndOfFile(file);
    CloseHandle(file);
    if (!grown) GTEST_SKIP() << "this file system cannot hold a file of 4 GiB here";
    std::string bytes = "left alone";
    EXPECT_FALSE(ReadWholeFileShared(path, bytes));
    EXPECT_EQ(LastErrorCode(), std::uint32_t(ERROR_FILE_TOO_LARGE));
    EXPECT_TRUE(bytes.empty());
}

// A folder whose path is longer than 260 characters, made through the wide interface's long
// form ("\\?\").
std::string MakeLongFolder(const TempDirectory& dir, std::size_t length) {
    std::string path = dir.Path();
    while (path.size() + 41 < length) {
        path += std::string(40, 'd') + "\\";
        CreateDirectoryW(Wide(u"\\\\?\\" + Utf16FromNarrow(path)), nullptr);
    }
    path += std::string(length - path.size(), 'e');
    CreateDirectoryW(Wide(u"\\\\?\\" + Utf16FromNarrow(path)), nullptr);
    return path + "\\";
}

void RemoveLongFolder(const TempDirectory& dir, std::string path) {
    while (path.size() > dir.Path().size()) {
        path.pop_back();
        RemoveDirectoryW(Wide(u"\\\\?\\" + Utf16FromNarrow(path)));
        path = DirectoryPart(path);
    }
}

TEST(LongPaths, TemporaryNamesInAFolderTooLongForThemFailClearly) {
    TempDirectory dir;
    std::string deep = MakeLongFolder(dir, 300);
    ASSERT_GT(deep.size(), 260u);
    try {
        std::string made = MakeUniqueTempFile(deep, "ZLB");
        // Where the system takes long names, the name must be whole and the file there.
        EXPECT_EQ(made.substr(0, deep.size()), deep);
        EXPECT_TRUE(WideFileExists(u"\\\\?\\" + Utf16FromNarrow(made)));
        DeleteFileW(Wide(u"\\\\?\\" + Utf16FromNarrow(made)));
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create a temporary file in " + deep);
    }

    // A temporary folder named by a path longer than 260 characters counts as none, in both the
    // narrow and the wide form.
    char saved[1024] = {};
    DWORD had = GetEnvironmentVariableA("TMP", saved, sizeof saved);
    nimbrel::testing::SetEnvironment("TMP", deep);
    EXPECT_EQ(GetTempDirectory(), "");
    EXPECT_EQ(TempDirectoryUtf16(), u"");
    if (had > 0 && had < sizeof saved)
        nimbrel::testing::SetEnvironment("TMP", saved);
    else
        nimbrel::testing::UnsetEnvironment("TMP");
    EXPECT_EQ(GetTempDirectory(), dir.Path().substr(0, GetTempDirectory().size()));
    RemoveLongFolder(dir, deep);
}

TEST(LongPaths, AProgramInstalledBeyond260CharactersFindsItsOwnFolder) {
    // A copy of this program in a folder whose path is longer than 260 characters runs the test
    // that looks for the program beside itself, started from another folder.
    TempDirectory dir;
    std::string deep = MakeLongFolder(dir, 300);
    std::wstring self(32768, L'\0');
    self.resize(GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())));
    std::u16string copy = u"\\\\?\\" + Utf16FromNarrow(deep) + u"platform_tests.exe";
    ASSERT_TRUE(CopyFileW(self.c_str(), Wide(copy), FALSE));
    std::u16string commandLine =
        u"\"" + Utf16FromNarrow(deep) +
        u"platform_tests.exe\" --gtest_filter=Paths.TempAndExecutableDirectoriesEndInOneSeparator";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::u16string workDir = Utf16FromNarrow(dir.Path());
    if (!CreateProcessW(nullptr, reinterpret_cast<wchar_t*>(commandLine.data()), nullptr, nullptr, FALSE, 0,
                        nullptr, Wide(workDir), &startup, &process))
        GTEST_SKIP() << "this system starts no program from a path that long (error " << GetLastError()
                     << ")";
    WaitForSingleObject(process.hProcess, 120000);
    DWORD code = 99;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_EQ(code, 0u) << "the program did not find itself in its own folder";
    DeleteFileW(Wide(copy));
    RemoveLongFolder(dir, deep);
}

// Starts this test program again, doing nothing (suspended: not yet running its code at all).
PROCESS_INFORMATION StartIdleCopy(bool suspended) {
    std::string self(MAX_PATH + 1, '\0');
    self.resize(GetModuleFileNameA(nullptr, self.data(), static_cast<DWORD>(self.size())));
    std::string commandLine = "\"" + self + "\" --gtest_filter=NoTestHasThisName";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;  // none: it has nothing to say here
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, suspended ? CREATE_SUSPENDED : 0,
                        nullptr, nullptr, &startup, &process))
        ADD_FAILURE() << "cannot start " << self << " (error " << GetLastError() << ")";
    return process;
}

TEST(Leftovers, OnlyThoseOfGoneProcessesAreRemoved) {
    TempDirectory dir{"leftovers"};
    // A name made for leftovers carries this process's id whole, so that a later run can tell.
    const std::string own = CurrentProcessTag();
    const std::string ours = MakeUniqueTempFile(dir.Path(), LeftoverPrefix("~nb"));
    EXPECT_EQ(ours.substr(dir.Path().size(), 4 + own.size()), "~nb" + own + "-") << ours;

    PROCESS_INFORMATION gone = StartIdleCopy(false);
    PROCESS_INFORMATION waiting = StartIdleCopy(true);
    ASSERT_NE(gone.hProcess, nullptr);
    ASSERT_NE(waiting.hProcess, nullptr);
    ASSERT_EQ(WaitForSingleObject(gone.hProcess, 60000), WAIT_OBJECT_0);
    const std::string goneId = std::to_string(gone.dwProcessId);
    const std::string waitingId = std::to_string(waiting.dwProcessId);
    // Ended, though this process still holds a handle to it.
    EXPECT_FALSE(ProcessIsRunning(goneId));
    EXPECT_TRUE(ProcessIsRunning(waitingId));
    EXPECT_TRUE(ProcessIsRunning(own));
    EXPECT_TRUE(ProcessIsRunning("not a number"));
    CloseHandle(gone.hThread);
    CloseHandle(gone.hProcess);
    EXPECT_FALSE(ProcessIsRunning(goneId));

    WriteFileAtomically(dir.File("~nb" + goneId + "-1A2B.tmp"), "x");
    WriteFileAtomically(dir.File("nimbrel-build" + goneId + "-1A2B.tmp"), "");
    ASSERT_TRUE(CreateDirectoryA(dir.File("nimbrel-build" + goneId + "-1A2B.tmp.d").c_str(), nullptr));
    WriteFileAtomically(dir.File("nimbrel-build" + goneId + "-1A2B.tmp.d\\picture.png"), "p");
    WriteFileAtomically(dir.File("~nb" + waitingId + "-1A2B.tmp"), "still at work");
    WriteFileAtomically(dir.File("~nb" + goneId + "-notes.txt"), "not a name we make");
    EXPECT_EQ(RemoveLeftoversOfGoneProcesses(dir.Path(), "~nb"), 1);
    EXPECT_EQ(RemoveLeftoversOfGoneProcesses(dir.Path(), "nimbrel-build"), 2);
    EXPECT_TRUE(FileExists(ours));
    EXPECT_TRUE(FileExists(dir.File("~nb" + waitingId + "-1A2B.tmp")));
    EXPECT_TRUE(FileExists(dir.File("~nb" + goneId + "-notes.txt")));
    EXPECT_FALSE(DirectoryExists(dir.File("nimbrel-build" + goneId + "-1A2B.tmp.d")));

    TerminateProcess(waiting.hProcess, 0);
    WaitForSingleObject(waiting.hProcess, 60000);
    CloseHandle(waiting.hThread);
    CloseHandle(waiting.hProcess);
    RemoveFile(ours);
}

bool UnderWine() {
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

TEST(LongPaths, AFileBeyond260CharactersIsReadRightOrNotAtAll) {
    // Each call either reaches the file itself or fails with the path in its message; no call
    // reaches another file (a shortened name). Which calls take such a path differs: wine's wide
    // calls (and std::filesystem and the C library, which use them) do and its ANSI calls do
    // not; Windows without long-path support refuses both.
    TempDirectory dir;
    std::string deep = MakeLongFolder(dir, 280);
    std::string path = deep + "photo.jpg";
    std::string shortened = path.substr(0, 259);
    ASSERT_TRUE(MakeWideFile(u"\\\\?\\" + Utf16FromNarrow(path), "long"));
    ASSERT_TRUE(MakeWideFile(u"\\\\?\\" + Utf16FromNarrow(shortened), "wrong file"));
    std::string sizeText;
    try {
        sizeText = GetFileSizeText(path);
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open file " + path);
    }
    std::string bytes;
    try {
        bytes = ReadWholeFile(path);
    } catch (const Error&) {
    }
    MappedFile mapped;
    bool opened = mapped.Open(Utf16FromNarrow(path), MappedFile::Mode::OpenExisting);
    if (UnderWine()) {
        EXPECT_TRUE(FileExists(path));
        EXPECT_EQ(FileSize(path), 4);
        EXPECT_EQ(bytes, "long");
        EXPECT_EQ(sizeText, "");  // CreateFileA refuses the path
        ASSERT_TRUE(opened);
        EXPECT_EQ(mapped.Size(), 4);
    } else {
        EXPECT_TRUE(sizeText == "" || sizeText == "4") << sizeText;
        EXPECT_TRUE(bytes == "" || bytes == "long") << bytes;
        if (opened) {
            EXPECT_EQ(mapped.Size(), 4);
        }
        if (FileExists(path)) {
            EXPECT_EQ(FileSize(path), 4);
        }
    }
    mapped.Close();
    DeleteFileW(Wide(u"\\\\?\\" + Utf16FromNarrow(path)));
    DeleteFileW(Wide(u"\\\\?\\" + Utf16FromNarrow(shortened)));
    RemoveLongFolder(dir, deep);
}

// The desktop's values, kept and put back so that the test leaves the user's wallpaper alone.
class DesktopValues {
public:
    DesktopValues() {
        for (const wchar_t* name : kNames) saved_.push_back(Read(name));
    }
    ~DesktopValues() {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, KEY_SET_VALUE, &key) !=
            ERROR_SUCCESS)
            return;
        for (std::size_t i = 0; i < 3; ++i) {
            if (saved_[i])
                RegSetValueExW(key, kNames[i], 0, REG_SZ, reinterpret_cast<const BYTE*>(saved_[i]->c_str()),
                               static_cast<DWORD>((saved_[i]->size() + 1) * sizeof(wchar_t)));
            else
                RegDeleteValueW(key, kNames[i]);
        }
        RegCloseKey(key);
        SystemParametersInfoW(SPI_SETDESKWALLPAPER, 0, nullptr, SPIF_SENDWININICHANGE);
    }
    DesktopValues(const DesktopValues&) = delete;
    DesktopValues& operator=(const DesktopValues&) = delete;

    // A value as text read through the wide interface, and whether it was stored as REG_SZ.
    static std::optional<std::wstring> Read(const wchar_t* name, bool* isString = nullptr) {
        wchar_t buffer[1024] = {};
        DWORD size = sizeof buffer;
        DWORD type = 0;
        if (RegGetValueW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", name, RRF_RT_ANY, &type, buffer,
                         &size) != ERROR_SUCCESS)
            return std::nullopt;
        if (isString) *isString = type == REG_SZ;
        return std::wstring(buffer);
    }

private:
    static constexpr const wchar_t* kNames[3] = {L"Wallpaper", L"TileWallpaper", L"WallpaperStyle"};
    std::vector<std::optional<std::wstring>> saved_;
};

TEST(Wallpaper, TheBitmapLivesInTheWindowsDirectory) {
    SetWallpaperTestRecorder({});
    char windows[MAX_PATH + 1] = {};
    UINT length = GetWindowsDirectoryA(windows, sizeof windows);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(WallpaperPath(), WithTrailingSeparator(std::string(windows, length)) + "VorlapWallpaper.bmp");
}

TEST(Wallpaper, WritesTheDesktopValuesAndTellsTheShell) {
    SetWallpaperTestRecorder({});
    DesktopValues keep;
    TempDirectory dir;
    // A bitmap in a folder named beyond ASCII: the registry holds the same name.
    bool latin = GetACP() == 1252;
    std::string folder = dir.File(latin ? "Fotos M\xFCller" : "Fotos");
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    std::string bitmap = folder + "\\VorlapWallpaper.bmp";
    std::u16string wideBitmap = Utf16FromNarrow(bitmap);
    struct Case {
        bool tile, stretch;
        const wchar_t* tileValue;
        const wchar_t* style;
    };
    for (const Case& c :
         {Case{true, false, L"1", L"0"}, Case{false, false, L"0", L"0"}, Case{false, true, L"0", L"2"}}) {
        SCOPED_TRACE(c.tile ? "tiled" : c.stretch ? "stretched" : "centred");
        EXPECT_EQ(SetDesktopWallpaper(bitmap, c.tile, c.stretch), WallpaperResult::Applied);
        bool isString = false;
        EXPECT_EQ(DesktopValues::Read(L"Wallpaper", &isString),
                  std::wstring(wideBitmap.begin(), wideBitmap.end()));
        EXPECT_TRUE(isString);
        EXPECT_EQ(DesktopValues::Read(L"TileWallpaper", &isString), c.tileValue);
        EXPECT_TRUE(isString);
        EXPECT_EQ(DesktopValues::Read(L"WallpaperStyle", &isString), c.style);
        EXPECT_TRUE(isString);
    }
    if (latin) {
        EXPECT_NE(bitmap.find('\xFC'), std::string::npos);
    }
}

}  // namespace
}  // namespace nimbrel::platform
