#include "platform/file_info.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <ctime>
#include <fstream>
#include <string>

#include "platform/error.h"
#include "platform/temp.h"

namespace nimbrel::platform {
namespace {

void WriteBytes(const std::string& path, std::size_t count) {
    std::ofstream out(path, std::ios::binary);
    out << std::string(count, 'x');
}

std::string ErrorText(const std::string& path) {
    try {
        GetFileSizeText(path);
    } catch (const Error& e) {
        return e.what();
    }
    return "(no error)";
}

TEST(FileSizeText, DecimalBytesWithoutSeparators) {
    TempDirectory dir;
    WriteBytes(dir.File("a.jpg"), 12345);
    WriteBytes(dir.File("empty.png"), 0);
    EXPECT_EQ(GetFileSizeText(dir.File("a.jpg")), "12345");
    EXPECT_EQ(GetFileSizeText(dir.File("empty.png")), "0");
}

TEST(FileSizeText, MissingFileAndFolderCannotBeOpened) {
    TempDirectory dir;
    std::string missing = dir.File("gone.jpg");
    EXPECT_EQ(ErrorText(missing), "Cannot open file " + missing);
    EXPECT_EQ(ErrorText(dir.Path()), "Cannot open file " + dir.Path());
    EXPECT_EQ(ErrorText(""), "Cannot open file ");
}

#ifndef _WIN32
TEST(FileSizeText, UnreadableFileCannotBeOpened) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
    TempDirectory dir;
    std::string path = dir.File("locked.jpg");
    WriteBytes(path, 3);
    ::chmod(path.c_str(), 0);
    EXPECT_EQ(ErrorText(path), "Cannot open file " + path);
}

std::tm LocalOf(std::time_t t) {
    std::tm local{};
    ::localtime_r(&t, &local);
    return local;
}

TEST(FileDate, LastAccessNotLastWriteInLocalTimeAtTwoSeconds) {
    TempDirectory dir;
    std::string path = dir.File("beach.jpg");
    WriteBytes(path, 10);
    std::time_t now = std::time(nullptr);
    // Opened yesterday, changed a year ago; an odd second shows the 2-second steps.
    std::time_t yesterday = now - 24 * 3600;
    yesterday -= yesterday % 2 == 0 ? 1 : 0;
    timespec times[2] = {{yesterday, 0}, {now - 365 * 24 * 3600, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);

    auto date = FileLastAccessTime(path);
    ASSERT_TRUE(date.has_value());
    std::tm expected = LocalOf(yesterday);
    EXPECT_EQ(date->year, expected.tm_year + 1900);
    EXPECT_EQ(date->month, expected.tm_mon + 1);
    EXPECT_EQ(date->day, expected.tm_mday);
    EXPECT_EQ(date->hour, expected.tm_hour);
    EXPECT_EQ(date->minute, expected.tm_min);
    EXPECT_EQ(date->second, expected.tm_sec - 1);
    EXPECT_EQ(date->second % 2, 0);

    LocalDateTime shown = GetFileDate(path);
    EXPECT_EQ(shown.day, expected.tm_mday);
}
#endif

TEST(FileDate, MissingFileShowsToday) {
    TempDirectory dir;
    std::string missing = dir.File("gone.jpg");
    EXPECT_FALSE(FileLastAccessTime(missing).has_value());
    EXPECT_FALSE(FileLastAccessTime("").has_value());
    LocalDateTime before = CurrentLocalDateTime();
    LocalDateTime shown = GetFileDate(missing);
    LocalDateTime after = CurrentLocalDateTime();
    auto sameDay = [](const LocalDateTime& a, const LocalDateTime& b) {
        return a.year == b.year && a.month == b.month && a.day == b.day;
    };
    EXPECT_TRUE(sameDay(shown, before) || sameDay(shown, after));
}

TEST(FileTypeName, ExtensionItselfWhenNothingIsRegistered) {
    EXPECT_EQ(GetFileTypeName(""), "");
    EXPECT_EQ(GetFileTypeName(".zq7nimbrel"), ".zq7nimbrel");
}

TEST(FileTypeName, PhotoFormatsHaveANameWhereTheSystemRegistersNone) {
    struct Case {
        const char* extension;
        const char* name;
    };
    for (const Case& c :
         {Case{".heic", "HEIF image"}, Case{".HEIC", "HEIF image"}, Case{".heif", "HEIF image"},
          Case{".avif", "AVIF image"}, Case{".WebP", "WebP image"}, Case{".tif", "TIFF image"},
          Case{".TIFF", "TIFF image"}}) {
        SCOPED_TRACE(c.extension);
        EXPECT_EQ(BuiltInTypeName(c.extension), c.name);
        // The system's own name wins where it has one, as for every other type.
        EXPECT_EQ(GetFileTypeName(c.extension), RegisteredTypeName(c.extension).value_or(c.name));
    }
    // Formats of old keep the system's rule: its name or the extension.
    for (const char* other : {".jpg", ".png", ".bmp", ".tifx", ".heic2", "heic", ""})
        EXPECT_FALSE(BuiltInTypeName(other)) << other;
}

}  // namespace
}  // namespace nimbrel::platform
