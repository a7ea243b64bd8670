#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "about_text.h"
#include "command_line.h"
#include "package.h"
#include "package_writer.h"
#include "platform/error.h"

namespace nimbrel::player {
namespace {

using testing::MakeAboutFile;
using testing::MakeSlideShowProject;
using testing::MakeSolidBmp;
using testing::MakeTestArchive;
using testing::TestMember;

TEST(CommandLine, FormsOfTheSwitches) {
    EXPECT_EQ(ParseCommandLine("/s").mode, RunMode::FullScreen);
    EXPECT_EQ(ParseCommandLine("-s").mode, RunMode::FullScreen);
    EXPECT_EQ(ParseCommandLine("  /S  ").mode, RunMode::FullScreen);
    EXPECT_EQ(ParseCommandLine("").mode, RunMode::Configure);
    EXPECT_EQ(ParseCommandLine("/c").mode, RunMode::Configure);
    EXPECT_EQ(ParseCommandLine("/a 77").mode, RunMode::Password);
    CommandLine config = ParseCommandLine("/c:1234");
    EXPECT_EQ(config.mode, RunMode::Configure);
    EXPECT_EQ(config.window, 1234u);
    CommandLine preview = ParseCommandLine("/p 5678");
    EXPECT_EQ(preview.mode, RunMode::Preview);
    EXPECT_EQ(preview.window, 5678u);
    EXPECT_EQ(ParseCommandLine("-P:42").window, 42u);
    EXPECT_EQ(ParseCommandLine("\"/p\" \"99\"").window, 99u);
    // A preview without a usable window cannot draw anywhere: it shows the box instead.
    EXPECT_EQ(ParseCommandLine("/p").mode, RunMode::Configure);
    EXPECT_EQ(ParseCommandLine("/p abc").mode, RunMode::Configure);
    EXPECT_EQ(ParseCommandLine("/p 99999999999999999999999999").mode, RunMode::Configure);
    EXPECT_EQ(ParseCommandLine("/x").mode, RunMode::Configure);
}

TEST(AboutFile, NameThenTextOverSeveralLines) {
    AboutInfo a = SplitAboutFile("Lake\r\nHello\r\n");
    EXPECT_EQ(a.name, "Lake");
    EXPECT_EQ(a.text, "Hello");
    AboutInfo b = SplitAboutFile("\r\n\r\n");
    EXPECT_EQ(b.name, "");
    EXPECT_EQ(b.text, "");
    AboutInfo c = SplitAboutFile("Name\r\nline one\r\nline two\r\n");
    EXPECT_EQ(c.text, "line one\r\nline two");
    EXPECT_EQ(SplitAboutFile("Only").name, "Only");
    EXPECT_EQ(SplitAboutFile("N\nT\n").text, "T");
}

std::string Describe(const std::vector<TextRun>& runs) {
    std::string out;
    for (const TextRun& r : runs) {
        if (r.lineBreak) {
            out += "|";
            continue;
        }
        out += "[";
        if (r.style.bold) out += "b";
        if (r.style.italic) out += "i";
        if (r.style.underline) out += "u";
        if (!r.link.empty()) out += "@" + r.link;
        out += ":" + r.text + "]";
    }
    return out;
}

TEST(SimpleHtml, StylesBreaksLinksAndEntities) {
    EXPECT_EQ(Describe(ParseSimpleHtml("plain <B>bold <i>both</I></b> end")),
              "[:plain ][b:bold ][bi:both][: end]");
    EXPECT_EQ(Describe(ParseSimpleHtml("one<br>two<BR/>three")), "[:one]|[:two]|[:three]");
    EXPECT_EQ(Describe(ParseSimpleHtml("go <a href=\"http://example.org/x\">here</a>!")),
              "[:go ][u@http://example.org/x:here][:!]");
    EXPECT_EQ(Describe(ParseSimpleHtml("<A HREF=http://h.test>h</A>")), "[u@http://h.test:h]");
    EXPECT_EQ(Describe(ParseSimpleHtml("a &amp; b &lt;c&gt; &#65;&#x42; &bogus; &")),
              "[:a & b <c> AB &bogus; &]");
    EXPECT_EQ(Describe(ParseSimpleHtml("  many    blanks  <font color=red>kept</font>")),
              "[:many blanks kept]");
    EXPECT_EQ(Describe(ParseSimpleHtml("line\r\nnext")), "[:line]|[:next]");
    EXPECT_EQ(Describe(ParseSimpleHtml("</b></b>x<b>y")), "[:x][b:y]");
    EXPECT_EQ(Describe(ParseSimpleHtml("a < b")), "[:a < b]");
}

TEST(SimpleHtml, TheDefaultAboutTextOfANewProject) {
    std::string text =
        "<B>This screen saver was created by <i>Nimbrel</i>, for more <BR> information.  Please visit "
        "<a href=\"http://www.example.com\">Tarnwick</a></b><br><BR><B><I>There are no configuration options "
        "for this screen saver</i></b><br>";
    EXPECT_EQ(Describe(ParseSimpleHtml(text)),
              "[b:This screen saver was created by ][bi:Nimbrel][b:, for more]|[b:information. Please visit ]"
              "[bu@http://www.example.com:Tarnwick]||[bi:There are no configuration options for this screen "
              "saver]|");
}

int TenPerChar(const std::string& text, const TextStyle& style) {
    return static_cast<int>(text.size()) * (style.bold ? 12 : 10);
}

TEST(TextLayout, WrapsAtBlanksAndKeepsLinks) {
    TextLayout layout = LayoutText(ParseSimpleHtml("aaa bbb ccc <a href=u>dd</a>"), 75, TenPerChar);
    ASSERT_EQ(layout.lines, 2);
    ASSERT_EQ(layout.pieces.size(), 3u);
    EXPECT_EQ(layout.pieces[0].text, "aaa bbb");
    EXPECT_EQ(layout.pieces[0].width, 70);
    EXPECT_EQ(layout.pieces[1].text, "ccc ");
    EXPECT_EQ(layout.pieces[1].line, 1);
    EXPECT_EQ(layout.pieces[1].x, 0);
    EXPECT_EQ(layout.pieces[2].text, "dd");
    EXPECT_EQ(layout.pieces[2].x, 40);
    EXPECT_EQ(layout.pieces[2].link, "u");

    TextLayout longWord = LayoutText(ParseSimpleHtml("x averyveryverylongword y"), 50, TenPerChar);
    ASSERT_EQ(longWord.lines, 3);
    EXPECT_EQ(longWord.pieces[1].text, "averyveryverylongword");
    EXPECT_EQ(LayoutText(ParseSimpleHtml("a<br><br>b"), 100, TenPerChar).lines, 3);
    EXPECT_EQ(LayoutText({}, 100, TenPerChar).lines, 0);
}

std::string WithStub(const std::string& archive) {
    return std::string(300000, 'M') + archive;
}

Package Open(const std::string& file) {
    return Package(reinterpret_cast<const unsigned char*>(file.data()), file.size());
}

TEST(Package, ReadsSettingsAboutAndMediaBehindTheStub) {
    std::string project =
        MakeSlideShowProject({"C:\\p\\red.bmp", "C:\\q\\blue.bmp"}, {"Stretch=1", "ShowSpeed=3"});
    std::string file = WithStub(MakeTestArchive({{"Options.ini", project},
                                                 {"About.cfg", MakeAboutFile("Lake", "Hello <b>there</b>")},
                                                 {"blue.bmp", std::string(5000, 'b')},
                                                 {"red.bmp", std::string(3000, 'r')}}));
    Package package = Open(file);
    EXPECT_EQ(package.About().name, "Lake");
    EXPECT_EQ(package.About().text, "Hello <b>there</b>");
    EXPECT_TRUE(package.Project().slideShow.stretch);
    EXPECT_EQ(package.Project().slideShow.showSpeed, 3);
    EXPECT_EQ(package.SlideOrder(), (std::vector<std::size_t>{3, 2}));
    EXPECT_EQ(package.Extract(3), std::string(3000, 'r'));
    EXPECT_EQ(package.FindByExtension(".BMP"), 2);
    EXPECT_EQ(package.FindByExtension(".swf"), -1);
}

TEST(Package, APictureWhoseHeaderClaimsTooMuchIsRefusedBeforeItIsInflated) {
    // A BMP header of 25000 x 25000 pixels before a megabyte of zeros, which deflates to little:
    // the header alone decides.
    std::string bomb = MakeSolidBmp(2, 2, 1, 2, 3);
    for (int at : {18, 22}) bomb.replace(static_cast<std::size_t>(at), 4, std::string("\xA8\x61\x00\x00", 4));
    bomb.resize(54);
    bomb += std::string(1 << 20, '\0');
    const std::string red = MakeSolidBmp(300, 300, 255, 0, 0);
    std::string file = WithStub(MakeTestArchive({{"Options.ini", MakeSlideShowProject({"big.bmp", "red.bmp"}, {})},
                                                 {"big.bmp", bomb},
                                                 {"red.bmp", red}}));
    Package package = Open(file);
    try {
        package.ExtractPicture(1);
        ADD_FAILURE() << "the picture was taken out";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "too large (25000 x 25000 pixels)");
    }
    EXPECT_EQ(package.ExtractPicture(2), red) << "a picture of a sound size comes out whole";

    // The same through a stream, which the decoder may read back and forth.
    try {
        package.PictureStream(1);
        ADD_FAILURE() << "the picture was opened";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "too large (25000 x 25000 pixels)");
    }
    std::shared_ptr<imaging::PictureStream> stream = package.PictureStream(2);
    ASSERT_EQ(stream->Size(), red.size());
    std::string piece(5000, '\0');
    for (std::uint64_t at : {200000u, 60u, 100000u, 0u, 150000u, 10u, 250000u, 5u, 269000u}) {
        const std::size_t got = stream->ReadAt(at, piece.data(), piece.size());
        ASSERT_EQ(got, std::min<std::size_t>(piece.size(), red.size() - at)) << at;
        EXPECT_EQ(piece.substr(0, got), red.substr(at, got)) << at;
    }
}

TEST(Package, WithoutAboutFileTheProjectNamesTheShow) {
    std::string project = MakeSlideShowProject({"a.bmp"}, {});
    std::string file = WithStub(MakeTestArchive({{"Options.ini", project}, {"a.bmp", "x"}}, false));
    Package package = Open(file);
    EXPECT_EQ(package.About().name, "Test Show");
    EXPECT_EQ(package.About().text, "Hello");
}

void ExpectDamaged(const std::string& file) {
    try {
        Open(file);
        ADD_FAILURE() << "a damaged package was accepted";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()).rfind(kDamagedMessage, 0), 0u) << e.what();
    }
}

TEST(Package, MissingOrDamagedArchivesAreReported) {
    std::string good = WithStub(
        MakeTestArchive({{"Options.ini", MakeSlideShowProject({}, {})}, {"a.bmp", std::string(4000, 'a')}}));
    ExpectDamaged(std::string(300000, 'M'));  // a bare stub
    ExpectDamaged("");
    ExpectDamaged(good.substr(0, good.size() - 1));  // cut short: trailer misread
    for (std::size_t at : {std::size_t{300000}, std::size_t{300010}, good.size() - 40, good.size() - 30}) {
        std::string bad = good;
        bad[at] = static_cast<char>(bad[at] ^ 0x5A);
        ExpectDamaged(bad);
    }
    ExpectDamaged(WithStub(MakeTestArchive({{"a.bmp", "x"}})));  // no Options.ini

    // Checked later: the package opens, the check fails, and the damaged member never comes out.
    std::string bad = good;
    std::size_t registryOffset = static_cast<unsigned char>(bad[bad.size() - 20]) |
                                 static_cast<std::size_t>(static_cast<unsigned char>(bad[bad.size() - 19]))
                                     << 8;
    std::size_t lastPictureByte = 300000 + registryOffset - 1;  // a.bmp is the last member
    bad[lastPictureByte] = static_cast<char>(bad[lastPictureByte] ^ 0x01);
    Package later(reinterpret_cast<const unsigned char*>(bad.data()), bad.size(), false);
    EXPECT_EQ(later.MemberNames().size(), 2u);
    EXPECT_THROW(later.VerifyArchive(), Error);
    EXPECT_THROW(later.Extract(1), Error);
    EXPECT_NO_THROW(Open(good).VerifyArchive());
    // Offsets that point outside the archive must not be followed.
    std::string lying = good;
    lying[lying.size() - 20] = '\x7F';  // RegistryOffset's top byte
    ExpectDamaged(lying);
}

}  // namespace
}  // namespace nimbrel::player
