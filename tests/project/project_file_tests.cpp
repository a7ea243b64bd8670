#include "project/project_file.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <csignal>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/temp.h"
#include "project/big_ini_file.h"
#include "support/test_system.h"
#include "test_files.h"

using namespace nimbrel;
using namespace nimbrel::project;
using nimbrel::project::testing::ReadBytes;
using nimbrel::project::testing::WriteBytes;

namespace {

std::string Crlf(std::initializer_list<const char*> lines) {
    std::string text;
    for (const char* line : lines) text.append(line).append("\r\n");
    return text;
}

const std::string kSlideShowFile = Crlf({
    "[Header]",
    "Number=2",
    "Type=0",
    "",
    "[Files]",
    "0=C:\\Pictures\\beach.jpg",
    "1=C:\\Pictures\\sunset.png",
    "",
    "[Options]",
    "Output=C:\\Shows\\holiday.scr",
    "Center=1",
    "AutoSize=0",
    "Stretch=0",
    "KeepAspect=0",
    "Random=1",
    "ShowSpeed=10",
    "Transition=128",
    "BGColor=255",
    "ColorR=255",
    "ColorG=0",
    "ColorB=0",
    "ChangeIcon=0",
    "IconFile=",
    "",
    "[About]",
    "ShowName=Holiday",
    "ShowText=Pictures from the <B>holiday</B>",
    "",
});

ProjectValues HolidayProject() {
    ProjectValues values;
    values.kind = kSlideShow;
    values.files = {"C:\\Pictures\\beach.jpg", "C:\\Pictures\\sunset.png"};
    SlideShowValues& s = values.slideShow;
    s.output = "C:\\Shows\\holiday.scr";
    s.center = true;
    s.random = true;
    s.showSpeed = 10;
    s.transition = 128;
    s.backgroundColor = 255;
    s.showName = "Holiday";
    s.showText = "Pictures from the <B>holiday</B>";
    return values;
}

ProjectValues FireworksProject() {
    ProjectValues values;
    values.kind = kFlash;
    values.flash.title = "Fireworks";
    values.flash.showText = "Big <b>bangs</b>";
    values.flash.flashFile = "C:\\Movies\\fireworks.swf";
    values.flash.changeIcon = true;
    values.flash.iconFile = "C:\\Icons\\rocket.ico";
    values.flash.output = "C:\\Shows\\fireworks.scr";
    return values;
}

// Everything a load reports, as one comparable text.
std::string Describe(const LoadedProject& p) {
    std::ostringstream out;
    out << p.number << ' ' << p.type << ' ' << p.slideShowRead << p.flashRead << '|';
    for (const auto& f : p.files) out << f << '|';
    const SlideShowValues& s = p.slideShow;
    out << s.output << '|' << s.center << s.autoSize << s.stretch << s.keepAspect << s.random << ' '
        << s.showSpeed << ' ' << s.transition << ' ' << s.backgroundColor << ' ' << s.changeIcon << '|'
        << s.iconFile << '|' << s.showName << '|' << s.showText << '|';
    const FlashValues& f = p.flash;
    out << f.title << '|' << f.showText << '|' << f.flashFile << '|' << f.changeIcon << '|' << f.iconFile
        << '|' << f.output << '|' << p.rewriteError;
    return out.str();
}

class ProjectFile : public ::testing::Test {
protected:
    platform::TempDirectory dir_;
    std::string path_ = dir_.File("holiday.nssp");
};

}  // namespace

TEST(ProjectValuesTest, DefaultAboutTextAndColours) {
    const std::string& text = DefaultAboutText();
    EXPECT_LE(text.size(), 246u);
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_EQ(text.rfind("<B>This screen saver was created by <i>Nimbrel</i>, for more <BR> information.  "
                         "Please visit <a href=",
                         0),
              0u);
    EXPECT_NE(text.find(">Tarnwick</a></b><br><BR><B><I>There are no configuration options for this screen "
                        "saver</i></b><br>"),
              std::string::npos);

    ColorParts rgb = SplitColor(0x00336699);
    EXPECT_EQ(rgb.r, 0x99);
    EXPECT_EQ(rgb.g, 0x66);
    EXPECT_EQ(rgb.b, 0x33);
    ColorParts system = SplitColor(-2147483643);
    EXPECT_EQ(system.r, -2147483643);
    EXPECT_EQ(system.g, 0);
    EXPECT_EQ(system.b, 0);
    for (std::int32_t c : {0, 255, 0x00FFFFFF, 0x7FFFFFFF, -1, INT32_MIN}) {
        ColorParts p = SplitColor(c);
        EXPECT_EQ(JoinColor(p.r, p.g, p.b), c);
    }
    EXPECT_EQ(JoinColor(0, 0, 32768), INT32_MIN);  // wraps
    EXPECT_EQ(JoinColor(-1, INT32_MAX, INT32_MAX), static_cast<std::int32_t>(0xFFFEFEFFu));
}

TEST_F(ProjectFile, SlideShowAndFlashLayoutsByteForByte) {
    SaveProject(path_, HolidayProject());
    EXPECT_EQ(ReadBytes(path_), kSlideShowFile);

    std::string flashPath = dir_.File("fireworks.nssp");
    SaveProject(flashPath, FireworksProject());
    EXPECT_EQ(
        ReadBytes(flashPath),
        Crlf({"[Header]", "Number=0", "Type=1", "", "[About]", "ShowName=Fireworks",
              "ShowText=Big <b>bangs</b>", "", "[Options]", "FlashFile=C:\\Movies\\fireworks.swf",
              "ChangeIcon=1", "IconFile=C:\\Icons\\rocket.ico", "Output=C:\\Shows\\fireworks.scr", ""}));

    LoadedProject flash = LoadProject(flashPath);
    EXPECT_TRUE(flash.flashRead);
    EXPECT_FALSE(flash.slideShowRead);
    EXPECT_EQ(flash.flash.title, "Fireworks");
    EXPECT_EQ(flash.flash.flashFile, "C:\\Movies\\fireworks.swf");
    EXPECT_TRUE(flash.flash.changeIcon);
    EXPECT_EQ(flash.flash.iconFile, "C:\\Icons\\rocket.ico");
    EXPECT_EQ(flash.flash.output, "C:\\Shows\\fireworks.scr");
}

TEST_F(ProjectFile, ResaveKeepsWhatItDoesNotWrite) {
    WriteBytes(path_, kSlideShowFile + Crlf({"[Custom]", "mine=1", "a line of its own"}));
    ProjectValues values = HolidayProject();
    values.files.pop_back();
    SaveProject(path_, values);
    std::string expected = kSlideShowFile + Crlf({"[Custom]", "mine=1", "a line of its own", ""});
    expected.replace(expected.find("Number=2"), 8, "Number=1");
    EXPECT_EQ(ReadBytes(path_), expected);

    LoadedProject loaded = LoadProject(path_);
    EXPECT_EQ(loaded.files, std::vector<std::string>{"C:\\Pictures\\beach.jpg"});

    // A Flash save over the slideshow keeps the slideshow's keys and adds its own at the ends.
    SaveProject(path_, FireworksProject());
    std::string bytes = ReadBytes(path_);
    EXPECT_NE(bytes.find("1=C:\\Pictures\\sunset.png\r\n"), std::string::npos);
    EXPECT_NE(
        bytes.find("IconFile=C:\\Icons\\rocket.ico\r\nFlashFile=C:\\Movies\\fireworks.swf\r\n\r\n[About]"),
        std::string::npos);
    EXPECT_NE(bytes.find("Output=C:\\Shows\\fireworks.scr\r\nCenter=1"), std::string::npos);
    EXPECT_NE(bytes.find("ShowText=Big <b>bangs</b>\r\n\r\n[Custom]"), std::string::npos);

    // Saving the same values again changes nothing, so the file is not rewritten (its stray
    // empty line stays).
    WriteBytes(path_, "\r\n" + kSlideShowFile);
    SaveProject(path_, HolidayProject());
    EXPECT_EQ(ReadBytes(path_), "\r\n" + kSlideShowFile);
}

TEST(ProjectReading, ValuesAndDefaults) {
    LoadedProject full = ReadProjectText(kSlideShowFile);
    EXPECT_EQ(full.number, 2);
    EXPECT_TRUE(full.slideShowRead);
    EXPECT_FALSE(full.flashRead);
    EXPECT_EQ(full.files, HolidayProject().files);
    EXPECT_EQ(full.slideShow.output, "C:\\Shows\\holiday.scr");
    EXPECT_TRUE(full.slideShow.random);
    EXPECT_EQ(full.slideShow.transition, 128);
    EXPECT_EQ(full.slideShow.backgroundColor, 255);
    EXPECT_EQ(full.slideShow.showText, "Pictures from the <B>holiday</B>");

    // Only the count: every option takes its default, Center on, Transition 0, the default text.
    // No file key is present, so the list is empty.
    LoadedProject bare = ReadProjectText(Crlf({"[Header]", "Number=3"}));
    EXPECT_TRUE(bare.slideShowRead);
    EXPECT_TRUE(bare.files.empty());
    EXPECT_TRUE(bare.slideShow.center);
    EXPECT_FALSE(bare.slideShow.autoSize || bare.slideShow.stretch || bare.slideShow.keepAspect ||
                 bare.slideShow.random || bare.slideShow.changeIcon);
    EXPECT_EQ(bare.slideShow.showSpeed, 10);
    EXPECT_EQ(bare.slideShow.transition, 0);
    EXPECT_EQ(bare.slideShow.backgroundColor, 0);
    EXPECT_EQ(bare.slideShow.showName, "");
    EXPECT_EQ(bare.slideShow.showText, DefaultAboutText());

    // Raw values for the window to clamp; the colour comes from its parts, never BGColor.
    LoadedProject odd = ReadProjectText(
        Crlf({"[header]", "number=1", "TYPE=0", "[OPTIONS]", "ShowSpeed=0x1F", "Transition=200", "BGColor=0",
              "colorr=1", "ColorG=2", "ColorB=3", "iconfile=i.ico", "Center=true"}));
    EXPECT_EQ(odd.slideShow.showSpeed, 31);
    EXPECT_EQ(odd.slideShow.transition, 200);
    EXPECT_EQ(odd.slideShow.backgroundColor, 0x030201);
    EXPECT_EQ(odd.slideShow.iconFile, "i.ico");
    EXPECT_TRUE(odd.slideShow.center);
    EXPECT_EQ(
        ReadProjectText(Crlf({"[Header]", "Number=1", "[Options]", "ShowSpeed=500"})).slideShow.showSpeed,
        500);
    EXPECT_EQ(
        ReadProjectText(Crlf({"[Header]", "Number=1", "[Options]", "ShowSpeed=fast"})).slideShow.showSpeed,
        10);
    EXPECT_EQ(
        ReadProjectText(Crlf({"[Header]", "Number=1", "[Options]", "Transition=-1"})).slideShow.transition,
        -1);

    // Flash: read whatever Number says, with its own defaults; the files are not read.
    LoadedProject flash = ReadProjectText(Crlf({"[Header]", "Number=4", "Type=1", "[Files]", "0=a.jpg"}));
    EXPECT_TRUE(flash.flashRead);
    EXPECT_FALSE(flash.slideShowRead);
    EXPECT_TRUE(flash.files.empty());
    EXPECT_EQ(flash.flash.title, "Untitled");
    EXPECT_EQ(flash.flash.showText, DefaultAboutText());
}

TEST(ProjectReading, WhatReadsNothing) {
    for (const std::string& text : {
             Crlf({"[Header]", "Number = 3", "[Files]", "0=a.jpg"}),  // blanks around "="
             Crlf({"[Header]", "Number=0", "Type=0"}),
             Crlf({"[Header]", "Number=-5"}),
             Crlf({"[Header]", "Number=3", "Type=2"}),
         }) {
        LoadedProject p = ReadProjectText(text);
        EXPECT_FALSE(p.slideShowRead) << text;
        EXPECT_FALSE(p.flashRead) << text;
        EXPECT_TRUE(p.files.empty()) << text;
    }
    LoadedProject unknown =
        ReadProjectText(Crlf({"[Header]", "Number=3", "Type=2", "[About]", "ShowText=x"}));
    EXPECT_EQ(unknown.type, 2);
    EXPECT_EQ(unknown.slideShow.showText, "");  // untouched, not the default

    // A slideshow without pictures still carries its options for a front end that has no
    // earlier values to keep.
    LoadedProject none = ReadProjectText(Crlf({"[Header]", "Number=0", "[Options]", "ShowSpeed=50"}));
    EXPECT_FALSE(none.slideShowRead);
    EXPECT_EQ(none.slideShow.showSpeed, 50);

    // Lines ending in LF alone (no CR anywhere) are lines.
    LoadedProject lf = ReadProjectText("[Header]\nNumber=2\nType=1\n[Options]\nFlashFile=m.swf\n");
    EXPECT_EQ(lf.type, 1);
    EXPECT_EQ(lf.flash.flashFile, "m.swf");

    // A damaged count is bounded by the file keys present.
    LoadedProject huge = ReadProjectText(Crlf({"[Header]", "Number=2147483647", "[Files]", "0=a.jpg"}));
    EXPECT_EQ(huge.number, 2147483647);
    EXPECT_EQ(huge.files, std::vector<std::string>{"a.jpg"});
}

TEST_F(ProjectFile, AnAbsurdCountNeitherListsNorSavesBlanks) {
    // Blanks inside the keys present stay (missing files); nothing beyond the highest key.
    // Keys that std::to_string never spells ("07", "+9") are not file keys.
    WriteBytes(path_, Crlf({"[Header]", "Number=2147483647", "Type=0", "[Files]", "0=a.jpg", "3=d.jpg", "07=x",
                            "+9=y", "[Options]", "Output=o.scr"}));
    LoadedProject loaded = LoadProject(path_);
    EXPECT_EQ(loaded.files, (std::vector<std::string>{"a.jpg", "", "", "d.jpg"}));

    // Saving what was loaded writes the count of the list and no lines for the missing keys.
    ProjectValues values;
    values.files = loaded.files;
    values.slideShow = loaded.slideShow;
    SaveProject(path_, values);
    const std::string saved = ReadBytes(path_);
    EXPECT_LT(saved.size(), 1000u);
    EXPECT_NE(saved.find("Number=4\r\n"), std::string::npos);
    EXPECT_EQ(saved.find("\r\n1="), std::string::npos);
    EXPECT_EQ(LoadProject(path_).files, loaded.files);

    // A key far out makes a long list of blanks, but saving it stays small.
    WriteBytes(path_, Crlf({"[Header]", "Number=2147483647", "[Files]", "0=a.jpg", "200000=z.jpg"}));
    values.files = LoadProject(path_).files;
    EXPECT_EQ(values.files.size(), 200001u);
    SaveProject(path_, values);
    EXPECT_LT(ReadBytes(path_).size(), 1000u);
}

TEST(ProjectReading, AValueEndsAtItsFirstNul) {
    static const char kText[] =
        "[Header]\r\nNumber=2\r\n[Files]\r\n0=p2.png\0../../etc/passwd\r\n1=b.jpg\r\n"
        "[Options]\r\nOutput=precious.txt\0.scr\r\nShowSpeed=12\0 0\r\n[About]\r\nShowName=A\0B\r\n";
    LoadedProject p = ReadProjectText(std::string_view(kText, sizeof kText - 1));
    EXPECT_EQ(p.files, (std::vector<std::string>{"p2.png", "b.jpg"}));
    EXPECT_EQ(p.slideShow.output, "precious.txt");
    EXPECT_EQ(p.slideShow.showSpeed, 12);
    EXPECT_EQ(p.slideShow.showName, "A");
    // A value written with a NUL in it is stored up to there, so that it reads back the same.
    auto ini = TBigIniFile::FromBytes("");
    ini.WriteString("Options", "Output", std::string_view("x.scr\0y", 7));
    EXPECT_EQ(ini.Content(), "[Options]\r\nOutput=x.scr\r\n\r\n");
}

TEST_F(ProjectFile, LongTextsAndLineBreaks) {
    ProjectValues values = HolidayProject();
    values.slideShow.showName = std::string(254, 'n');
    values.slideShow.showText = "first line\nsecond line\r\nthird=line";
    SaveProject(path_, values);
    std::string bytes = ReadBytes(path_);
    EXPECT_NE(bytes.find("ShowName=" + std::string(246, 'n') +
                         "\r\nShowText=first line\r\nsecond line\r\n"
                         "third=line\r\n\r\n"),
              std::string::npos);

    LoadedProject loaded = LoadProject(path_);
    EXPECT_EQ(loaded.slideShow.showName, std::string(246, 'n'));
    EXPECT_EQ(loaded.slideShow.showText, "first line");
    EXPECT_EQ(ReadBytes(path_), bytes);

    // The extra lines stay through later saves of the first line.
    values.slideShow.showText = "edited";
    SaveProject(path_, values);
    EXPECT_NE(ReadBytes(path_).find("ShowText=edited\r\nsecond line\r\nthird=line\r\n"), std::string::npos);

    // The default text fits its line whole.
    values.slideShow.showText = DefaultAboutText();
    SaveProject(path_, values);
    EXPECT_EQ(LoadProject(path_).slideShow.showText, DefaultAboutText());
}

TEST_F(ProjectFile, RepeatedSectionsAreRemovedByLoading) {
    std::string withDuplicate =
        Crlf({"; before any section", "[Header]", "Number=1", "", "[Options]", "Center=0", "[Files]",
              "0=a.jpg", "[options]", "Center=1", "Random=1", "[About]", "ShowName=x"});
    WriteBytes(path_, withDuplicate);
    EXPECT_EQ(Describe(ReadProjectText(withDuplicate)), Describe(LoadProject(path_)));
    EXPECT_EQ(ReadBytes(path_), Crlf({"[Header]", "Number=1", "", "[Options]", "Center=0", "", "[Files]",
                                      "0=a.jpg", "", "[About]", "ShowName=x", ""}));
    EXPECT_FALSE(LoadProject(path_).slideShow.center);

    // Without repeated sections a load never writes, whatever the layout.
    std::string untidy = "junk\r\n\r\n[Header]\r\n\r\nNumber=1\r\n";
    WriteBytes(path_, untidy);
    LoadProject(path_);
    EXPECT_EQ(ReadBytes(path_), untidy);
}

TEST_F(ProjectFile, MissingUnreadableAndOverlongPaths) {
    LoadedProject missing = LoadProject(path_);
    EXPECT_EQ(missing.number, 0);
    EXPECT_EQ(missing.type, 0);
    EXPECT_FALSE(missing.slideShowRead);
    EXPECT_FALSE(platform::FileExists(path_));

    std::string folder = dir_.File("folder.nssp");
    ASSERT_TRUE(nimbrel::testing::MakeDirectory(folder));
    EXPECT_THROW(LoadProject(folder), Error);
    EXPECT_THROW(SaveProject(folder, HolidayProject()), Error);
    EXPECT_TRUE(platform::DirectoryExists(folder));

    std::string longPath = dir_.Path() + std::string(300 - dir_.Path().size(), 'p') + ".nssp";
    WriteBytes(longPath.substr(0, 255), kSlideShowFile);
    for (int save = 0; save < 2; ++save) {
        try {
            if (save)
                SaveProject(longPath, HolidayProject());
            else
                LoadProject(longPath);
            FAIL() << "a path of 305 characters was accepted";
        } catch (const Error& error) {
            EXPECT_EQ(std::string(error.what()),
                      "The project path is too long (more than 255 characters): " + longPath);
        }
    }
    EXPECT_FALSE(platform::FileExists(longPath));
    EXPECT_EQ(ReadBytes(longPath.substr(0, 255)), kSlideShowFile);
}

TEST_F(ProjectFile, FailedWritesKeepTheOldFile) {
    WriteBytes(path_, kSlideShowFile);
    ProjectValues big = HolidayProject();
    big.files.assign(200, "C:\\Pictures\\" + std::string(200, 'p') + ".jpg");

#ifdef _WIN32
    GTEST_SKIP() << "Windows has no per-process file size limit to stand in for a full disk";
#else
    // The disk fills up after 4 KiB: the save fails and the project keeps its old bytes.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    EXPECT_THROW(SaveProject(path_, big), Error);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &old), 0);
    EXPECT_EQ(ReadBytes(path_), kSlideShowFile);
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir_.Path())) ++entries;
    EXPECT_EQ(entries, 1u);  // no temporary file left behind
#endif
}

TEST_F(ProjectFile, ReadOnlyAndUnreadableFiles) {
    if (!nimbrel::testing::ReadOnlyMarksBind()) GTEST_SKIP() << "read-only marks do not stop root (nor wine run by root)";
    WriteBytes(path_, kSlideShowFile);
    ProjectValues big = HolidayProject();
    big.files.assign(3, "C:\\Pictures\\new.jpg");
    ASSERT_TRUE(nimbrel::testing::SetReadOnly(path_, true));
    try {
        SaveProject(path_, big);
        FAIL() << "a read-only project was written";
    } catch (const Error& error) {
        EXPECT_STREQ(error.what(), "File access denied");
    }
    EXPECT_EQ(ReadBytes(path_), kSlideShowFile);

    // A read-only file with repeated sections still loads; the failed rewrite is reported beside it.
    nimbrel::testing::SetReadOnly(path_, false);
    WriteBytes(path_, kSlideShowFile + "[Header]\r\nNumber=9\r\n");
    nimbrel::testing::SetReadOnly(path_, true);
    LoadedProject loaded = LoadProject(path_);
    EXPECT_EQ(loaded.number, 2);
    EXPECT_EQ(loaded.rewriteError, "File access denied");

#ifdef _WIN32
    // Windows has no mode that forbids reading; another program holding the file does.
    nimbrel::testing::SetReadOnly(path_, false);
    nimbrel::testing::HeldOpenFile held(path_);
    ASSERT_TRUE(held.Held());
#else
    chmod(path_.c_str(), 0);
#endif
    EXPECT_THROW(LoadProject(path_), Error);
}

TEST_F(ProjectFile, BadInputNeverCrashesAndNeverLosesTheFile) {
    std::mt19937 random(2026);
    std::vector<std::string> inputs;
    for (int i = 0; i < 10; ++i) {
        std::string garbage(32 * 1024, '\0');
        for (char& c : garbage) c = static_cast<char>(random());
        inputs.push_back(garbage);
    }
    static const char kNul[] = "[Header]\r\nNumber=1\r\nType=0\r\nju\0nk\r\n[Files]\r\n0=a\0b.jpg\r\n";
    inputs.push_back(std::string(kNul, sizeof kNul - 1));
    inputs.push_back(std::string(10 * 1024 * 1024, 'A'));
    inputs.push_back("[Header]\r\n" + std::string(10 * 1024 * 1024, '=') + "\r\nNumber=1\r\n");

    for (const std::string& input : inputs) {
        WriteBytes(path_, input);
        LoadedProject first = LoadProject(path_);
        EXPECT_EQ(first.rewriteError, "");
        // A second load reads the same values and, once any repeated sections are gone, leaves
        // the file alone.
        std::string after = ReadBytes(path_);
        EXPECT_FALSE(after.empty() && !input.empty() && first.number != 0);
        EXPECT_EQ(Describe(LoadProject(path_)), Describe(first));
        EXPECT_EQ(ReadBytes(path_), after);
    }
    EXPECT_EQ(ReadProjectText(inputs[10]).files, std::vector<std::string>{"a"});
    EXPECT_EQ(ReadProjectText(inputs[12]).number, 1);
}

TEST_F(ProjectFile, ShowAndCaptionSectionsRoundTrip) {
    const std::string kSea = "Sunset at \xd7\x99\xd7\x9d = sea";  // a right-to-left word
    // A project that never used them saves and reads as before (the layout test holds the bytes).
    SaveProject(path_, HolidayProject());
    EXPECT_EQ(ReadBytes(path_).find("[Show]"), std::string::npos);
    LoadedProject plain = LoadProject(path_);
    EXPECT_EQ(plain.slideShow.show, ShowValues{});
    EXPECT_TRUE(plain.slideShow.captions.empty());

    ProjectValues values = HolidayProject();
    values.files.push_back("C:\\Pictures\\hills.jpg");
    values.slideShow.show = {true, kCaptionOwnText, kPlaceTopRight, kMonitorsSpan};
    values.slideShow.captions = {"", kSea, ""};
    SaveProject(path_, values);
    const std::string bytes = ReadBytes(path_);
    EXPECT_NE(bytes.find(Crlf({"[Show]", "Motion=1", "Caption=4", "CaptionPlace=5", "Monitors=2", "",
                               "[Captions]", "1=Sunset at \xd7\x99\xd7\x9d = sea"})),
              std::string::npos);
    LoadedProject loaded = LoadProject(path_);
    EXPECT_EQ(loaded.slideShow.show, values.slideShow.show);
    EXPECT_EQ(loaded.slideShow.captions, (std::vector<std::string>{"", kSea}));
    // The packed copy reads the same.
    EXPECT_EQ(ReadProjectText(bytes).slideShow.show, values.slideShow.show);

    // Saved again unchanged: the same bytes. Turned back to the defaults: the sections stay, so
    // that the change is kept, and a text no entry has any more is emptied.
    loaded.slideShow.captions.resize(3);
    values.slideShow.captions = loaded.slideShow.captions;
    SaveProject(path_, values);
    EXPECT_EQ(ReadBytes(path_), bytes);
    values.slideShow.show = {};
    values.files.resize(1);
    SaveProject(path_, values);
    loaded = LoadProject(path_);
    EXPECT_EQ(loaded.slideShow.show, ShowValues{});
    EXPECT_NE(ReadBytes(path_).find("[Show]"), std::string::npos);
    EXPECT_EQ(LoadProject(path_).slideShow.captions, std::vector<std::string>{});
}
