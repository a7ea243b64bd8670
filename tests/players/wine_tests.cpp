// The players under wine: screensavers assembled from the built stubs and test archives, run on a
// private X server and checked through screenshots.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <functional>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "package_writer.h"
#include "wine_session.h"
#ifdef NIMBREL_HAVE_RENDER
#include <map>
#include <span>

#include "codecs/codecs.h"
#include "flash/swf_writer.h"
#include "imaging/picture_decoder.h"
#endif
#ifdef NIMBREL_HAVE_TEST_PICTURES
#include "codecs/codecs.h"
#include "test_pictures.h"
#endif

namespace nimbrel::testing {
namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void Pause(double seconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(seconds * 1000)));
}

// The players the tests run: the 32-bit ones the build ships, or their 64-bit builds where wine
// runs 64-bit programs only.
std::string PlayerPath(const std::string& name) {
    return std::string(NIMBREL_BIN_DIR) + (WineSession::SixtyFourBitOnly() ? "/win64/" : "/") + name;
}

std::string PreviewHost() {
    return WineSession::SixtyFourBitOnly() ? NIMBREL_PREVIEW_HOST64 : NIMBREL_PREVIEW_HOST32;
}

std::string FakeFlashControl() {
    return WineSession::SixtyFourBitOnly() ? NIMBREL_FAKE_FLASH64 : NIMBREL_FAKE_FLASH32;
}

constexpr std::uint32_t kRed = 0xE01010, kGreen = 0x10C020, kBlue = 0x1020E0, kBackground = 0x0A141E;

std::string Hex(std::uint32_t c) {
    char text[16];
    std::snprintf(text, sizeof text, "%06X", c);
    return text;
}

class PlayerUnderWine : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!WineSession::Unavailable().empty()) return;
        session_ = new WineSession(NIMBREL_WINE_WORK_DIR);
    }
    static void TearDownTestSuite() {
        delete session_;
        session_ = nullptr;
    }
    void SetUp() override {
        std::string reason = WineSession::Unavailable();
        if (!reason.empty()) GTEST_SKIP() << reason;
        if (ReadFile(PlayerPath("stub.bin")).empty()) GTEST_SKIP() << "stub.bin was not built";
        ASSERT_TRUE(session_->Ready()) << session_->Problem();
    }

    // A screensaver: the stub's bytes followed by an archive of `members`.
    static std::string MakeScreenSaver(const std::string& name, const std::string& stubPath,
                                       const std::vector<TestMember>& members) {
        std::string path = std::string(NIMBREL_WINE_WORK_DIR) + "/" + name;
        WriteFile(path, ReadFile(stubPath) + MakeTestArchive(members));
        return path;
    }

    static std::string SlideShow(const std::string& name, const std::vector<std::string>& options,
                                 const std::vector<TestMember>& pictures) {
        std::vector<std::string> files;
        for (const TestMember& p : pictures) files.push_back("C:\\Pictures\\" + p.name);
        std::vector<TestMember> members = {{"Options.ini", MakeSlideShowProject(files, options)},
                                           {"About.cfg", MakeAboutFile("Lake", "Hello <b>there</b>")}};
        members.insert(members.end(), pictures.begin(), pictures.end());
        return MakeScreenSaver(name, PlayerPath("stub.bin"), members);
    }

    // Registers the stand-in Flash control for the player's width (or removes it again), for the
    // whole machine, as its installer would.
    static void RegisterFakeFlash(bool on) {
        const std::string key = "HKLM\\Software\\Classes\\CLSID\\{D27CDB6E-AE6D-11CF-96B8-444553540000}";
        const std::string view = WineSession::SixtyFourBitOnly() ? "/reg:64" : "/reg:32";
        std::vector<std::vector<std::string>> commands;
        if (on) {
            commands = {
                {"add", key + "\\InprocServer32", "/ve", "/d", "Z:" + FakeFlashControl(), "/f", view},
                {"add", key + "\\InprocServer32", "/v", "ThreadingModel", "/d", "Apartment", "/f", view}};
        } else {
            commands = {{"delete", key, "/f", view}};
        }
        for (auto& arguments : commands) {
            pid_t reg = session_->Start("reg", arguments);
            session_->Wait(reg, 30);
        }
    }

    static std::string FlashShow(const std::string& name, const std::string& movie) {
        std::string project =
            "[Header]\r\nNumber=0\r\nType=1\r\n\r\n[About]\r\nShowName=Fireworks\r\nShowText=Bang\r\n\r\n"
            "[Options]\r\nFlashFile=C:\\Movies\\fireworks.swf\r\n\r\n";
        return MakeScreenSaver(name, PlayerPath("flash.bin"),
                               {{"Options.ini", project},
                                {"About.cfg", MakeAboutFile("Fireworks", "Bang")},
                                {"fireworks.swf", movie}});
    }

    // Watches a running show until `wanted` changes of picture were seen (or about 20 seconds
    // passed): the centre's colours among `known`, in the order they appeared. `check` looks at
    // each screenshot that shows one of them.
    static std::vector<std::uint32_t> WatchPictures(
        const std::vector<std::uint32_t>& known, std::size_t wanted,
        const std::function<void(const Screenshot&, std::uint32_t)>& check) {
        std::vector<std::uint32_t> seen;
        for (int i = 0; i < 45 && seen.size() < wanted; ++i) {
            Pause(0.45);
            auto shot = session_->Capture();
            if (!shot) continue;
            for (std::uint32_t colour : known) {
                if (!Near(shot->At(320, 240), colour)) continue;
                if (seen.empty() || seen.back() != colour) seen.push_back(colour);
                check(*shot, colour);
            }
        }
        return seen;
    }

    // The pictures came in the show's order, round after round.
    static void ExpectInTurn(const std::vector<std::uint32_t>& seen,
                             const std::vector<std::uint32_t>& order) {
        for (std::size_t i = 0; i < seen.size(); ++i)
            EXPECT_EQ(Hex(seen[i]), Hex(order[i % order.size()])) << i;
    }

    static WineSession* session_;
};

WineSession* PlayerUnderWine::session_ = nullptr;

TEST_F(PlayerUnderWine, FullScreenShowsEachPictureInTurnPlacedOnTheBackground) {
    std::string scr = SlideShow("order.scr",
                                {"Center=1", "AutoSize=0", "Stretch=0", "KeepAspect=0", "Random=0",
                                 "ShowSpeed=2", "Transition=129", "ColorR=10", "ColorG=20", "ColorB=30"},
                                {{"red.bmp", MakeSolidBmp(200, 100, 0xE0, 0x10, 0x10)},
                                 {"green.bmp", MakeSolidBmp(200, 100, 0x10, 0xC0, 0x20)},
                                 {"blue.bmp", MakeSolidBmp(200, 100, 0x10, 0x20, 0xE0)}});
    pid_t player = session_->Start(scr, {"/s"});
    std::vector<std::uint32_t> seen =
        WatchPictures({kRed, kGreen, kBlue}, 5, [](const Screenshot& shot, std::uint32_t known) {
            // The 200 x 100 picture is centred: (220..420, 190..290), the rest is background.
            EXPECT_TRUE(Near(shot.At(225, 195), known)) << Hex(shot.At(225, 195));
            EXPECT_TRUE(Near(shot.At(415, 285), known)) << Hex(shot.At(415, 285));
            EXPECT_TRUE(Near(shot.At(210, 240), kBackground)) << Hex(shot.At(210, 240));
            EXPECT_TRUE(Near(shot.At(320, 180), kBackground)) << Hex(shot.At(320, 180));
            EXPECT_TRUE(Near(shot.At(5, 5), kBackground)) << Hex(shot.At(5, 5));
        });
    session_->Stop(player);
    ASSERT_GE(seen.size(), 4u) << "the show did not go through its pictures";
    ExpectInTurn(seen, {kRed, kGreen, kBlue});
}

// The whole way a user's show goes: pictures of three formats compiled by nimbrel-cli with the
// project's own icon, then shown full screen, each in turn, upright and at its own size.
TEST_F(PlayerUnderWine, CompiledShowWithItsOwnIconShowsEachFormatUpright) {
    const std::string dir = std::string(NIMBREL_WINE_WORK_DIR) + "/compiled";
    std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str());
    WriteFile(dir + "/red.bmp", MakeSolidBmp(200, 100, 0xE0, 0x10, 0x10));
    // Stored 200 x 100 but turned a quarter by its EXIF block: it shows 100 wide, 200 high.
    WriteFile(dir + "/green.jpg", MakeSolidJpeg(200, 100, 0x10, 0xC0, 0x20, 6));
    // 200 x 100, opaque only in its middle 100 x 50: the background shows around it.
    WriteFile(dir + "/blue.png", MakeFramedPng(200, 100, {50, 25, 100, 50}, 0x10, 0x20, 0xE0, 255));
    WriteFile(dir + "/show.nssp",
              "[Header]\r\nNumber=3\r\nType=0\r\n\r\n[Files]\r\n0=" + dir + "/red.bmp\r\n1=" + dir +
                  "/green.jpg\r\n2=" + dir +
                  "/blue.png\r\n\r\n[Options]\r\nOutput=show.scr\r\nCenter=1\r\nAutoSize=0\r\nStretch=0\r\n"
                  "KeepAspect=0\r\nRandom=0\r\nShowSpeed=2\r\nTransition=129\r\nColorR=10\r\nColorG=20\r\n"
                  "ColorB=30\r\nChangeIcon=1\r\nIconFile=" NIMBREL_TEST_ICON
                  "\r\n\r\n[About]\r\n"
                  "ShowName=Colours\r\nShowText=Three\r\n\r\n");
    const std::string stubDir = PlayerPath("stub.bin").substr(0, PlayerPath("stub.bin").rfind('/'));
    int built = std::system(("'" NIMBREL_BIN_DIR "/nimbrel-cli' compile '" + dir +
                             "/show.nssp' --stub-dir '" + stubDir + "' >'" + dir + "/compile.log' 2>&1")
                                .c_str());
    ASSERT_EQ(built, 0) << ReadFile(dir + "/compile.log");
    const std::string scr = ReadFile(dir + "/show.scr");
    const std::string stub = ReadFile(PlayerPath("stub.bin"));
    ASSERT_GT(scr.size(), stub.size());
    // The stub, of either width, took the project's icon: the pixels from the middle of its first
    // image are in the screensaver, and not in the stub.
    const std::string icon = ReadFile(NIMBREL_TEST_ICON);
    ASSERT_GT(icon.size(), 22u + 64u);
    auto field = [&icon](std::size_t at) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(icon[at])) |
               static_cast<std::uint32_t>(static_cast<unsigned char>(icon[at + 1])) << 8 |
               static_cast<std::uint32_t>(static_cast<unsigned char>(icon[at + 2])) << 16;
    };
    const std::string pixels = icon.substr(field(18) + field(14) / 2, 64);
    ASSERT_EQ(pixels.size(), 64u);
    EXPECT_NE(scr.find(pixels), std::string::npos) << "the icon was not replaced";
    EXPECT_EQ(stub.find(pixels), std::string::npos);

    pid_t player = session_->Start(dir + "/show.scr", {"/s"});
    std::vector<std::uint32_t> seen =
        WatchPictures({kRed, kGreen, kBlue}, 4, [](const Screenshot& shot, std::uint32_t known) {
            if (known == kRed) {  // 200 x 100 at (220..420, 190..290)
                EXPECT_TRUE(Near(shot.At(225, 195), kRed)) << Hex(shot.At(225, 195));
                EXPECT_TRUE(Near(shot.At(320, 180), kBackground)) << Hex(shot.At(320, 180));
            } else if (known == kGreen) {  // upright: 100 x 200 at (270..370, 140..340)
                EXPECT_TRUE(Near(shot.At(320, 150), kGreen, 40)) << Hex(shot.At(320, 150));
                EXPECT_TRUE(Near(shot.At(320, 330), kGreen, 40)) << Hex(shot.At(320, 330));
                EXPECT_TRUE(Near(shot.At(250, 240), kBackground)) << Hex(shot.At(250, 240));
                EXPECT_TRUE(Near(shot.At(390, 240), kBackground)) << Hex(shot.At(390, 240));
            } else {  // opaque 100 x 50 at (270..370, 215..265), transparent around it
                EXPECT_TRUE(Near(shot.At(275, 220), kBlue)) << Hex(shot.At(275, 220));
                EXPECT_TRUE(Near(shot.At(240, 240), kBackground)) << Hex(shot.At(240, 240));
                EXPECT_TRUE(Near(shot.At(320, 200), kBackground)) << Hex(shot.At(320, 200));
            }
        });
    session_->Stop(player);
    ASSERT_GE(seen.size(), 3u) << "the show did not go through its pictures";
    ExpectInTurn(seen, {kRed, kGreen, kBlue});
}

// Every format the editor offers, as the slideshow decodes it: each picture fills the screen
// (stretched) in its own colour.
TEST_F(PlayerUnderWine, EveryFormatTheEditorOffersShows) {
    struct Sample {
        std::string name;
        std::uint32_t color;
        std::string bytes;
    };
    auto channel = [](std::uint32_t c, int shift) { return static_cast<unsigned char>((c >> shift) & 0xFF); };
    auto sample = [&](const std::string& name, std::uint32_t c, auto make) {
        return Sample{name, c, make(channel(c, 16), channel(c, 8), channel(c, 0))};
    };
    std::vector<Sample> samples = {
        sample("a.bmp", 0xE01010, [](auto r, auto g, auto b) { return MakeSolidBmp(64, 48, r, g, b); }),
        sample("b.dib", 0x10C020, [](auto r, auto g, auto b) { return MakeSolidBmp(64, 48, r, g, b); }),
        sample("c.jpg", 0x1020E0, [](auto r, auto g, auto b) { return MakeSolidJpeg(64, 48, r, g, b, 0); }),
        sample("d.jpeg", 0xE0E010, [](auto r, auto g, auto b) { return MakeSolidJpeg(64, 48, r, g, b, 1); }),
        sample("e.png", 0x10E0E0,
               [](auto r, auto g, auto b) {
                   return MakeFramedPng(64, 48, {0, 0, 64, 48}, r, g, b, 255);
               }),
        sample("f.gif", 0xE010E0, [](auto r, auto g, auto b) { return MakeSolidGif(64, 48, r, g, b); }),
        sample("g.ico", 0xF08010, [](auto r, auto g, auto b) { return MakeSolidIco(48, r, g, b); }),
        sample("h.wmf", 0x8010F0, [](auto r, auto g, auto b) { return MakeSolidWmf(64, 48, r, g, b); }),
        sample("i.emf", 0x808080, [](auto r, auto g, auto b) { return MakeSolidEmf(64, 48, r, g, b); }),
        sample("j.pcx", 0xF080A0, [](auto r, auto g, auto b) { return MakeSolidPcx(64, 48, r, g, b); }),
        Sample{"k.wbmp", 0xFFFFFF, MakeWhiteWbmp(64, 48)},
    };
    std::vector<TestMember> pictures;
    for (const Sample& s : samples) pictures.push_back({s.name, s.bytes});
    std::string scr = SlideShow("formats.scr",
                                {"Center=1", "Stretch=1", "KeepAspect=0", "ShowSpeed=1", "Transition=129",
                                 "ColorR=10", "ColorG=20", "ColorB=30"},
                                pictures);
    pid_t player = session_->Start(scr, {"/s"});
    std::vector<bool> seen(samples.size(), false);
    for (int i = 0; i < 120 && std::count(seen.begin(), seen.end(), false) > 0; ++i) {
        Pause(0.25);
        auto shot = session_->Capture();
        if (!shot) continue;
        for (std::size_t k = 0; k < samples.size(); ++k)
            if (Near(shot->At(320, 240), samples[k].color) && Near(shot->At(5, 5), samples[k].color) &&
                Near(shot->At(634, 474), samples[k].color))
                seen[k] = true;
    }
    session_->Stop(player);
    for (std::size_t k = 0; k < samples.size(); ++k)
        EXPECT_TRUE(seen[k]) << samples[k].name << " never filled the screen in " << Hex(samples[k].color);
}

TEST_F(PlayerUnderWine, StretchWithKeptProportionsFillsTheWidthAndInputCloses) {
    std::string scr = SlideShow("stretch.scr",
                                {"Center=1", "Stretch=1", "KeepAspect=1", "ShowSpeed=30", "Transition=-1",
                                 "ColorR=10", "ColorG=20", "ColorB=30"},
                                {{"wide.bmp", MakeSolidBmp(100, 50, 0xE0, 0x10, 0x10)}});
    // The player notes its start-up steps in the file that NIMBREL_PLAYER_TRACE names.
    const std::string trace = std::string(NIMBREL_WINE_WORK_DIR) + "/stretch.trace";
    std::remove(trace.c_str());
    std::string windowsTrace = "Z:" + trace;
    for (char& c : windowsTrace)
        if (c == '/') c = '\\';
    setenv("NIMBREL_PLAYER_TRACE", windowsTrace.c_str(), 1);
    pid_t player = session_->Start(scr, {"/s"});
    unsetenv("NIMBREL_PLAYER_TRACE");
    std::optional<Screenshot> shot;
    for (int i = 0; i < 30; ++i) {
        Pause(0.5);
        shot = session_->Capture();
        if (shot && Near(shot->At(320, 240), kRed)) break;
    }
    ASSERT_TRUE(shot && Near(shot->At(320, 240), kRed)) << "the picture never showed";
    // 640 x 320 at y 80..400.
    EXPECT_TRUE(Near(shot->At(2, 85), kRed));
    EXPECT_TRUE(Near(shot->At(637, 395), kRed));
    EXPECT_TRUE(Near(shot->At(320, 70), kBackground)) << Hex(shot->At(320, 70));
    EXPECT_TRUE(Near(shot->At(320, 410), kBackground)) << Hex(shot->At(320, 410));
    // A key ends the screensaver.
    std::system("xdotool key space >/dev/null 2>&1");
    std::optional<int> code = session_->Wait(player, 10);
    session_->Stop(player);
    EXPECT_TRUE(code.has_value()) << "a key did not close the screensaver";
    // It scales its windows for each monitor itself, and the system agreed.
    const std::string steps = ReadFile(trace);
    EXPECT_NE(steps.find("dpi awareness per-monitor"), std::string::npos) << steps;
    EXPECT_NE(steps.find("first picture on screen"), std::string::npos) << steps;
}

TEST_F(PlayerUnderWine, MouseJitterKeepsTheShowButAMoveOrAClickEndsIt) {
    std::string scr = SlideShow("mouse.scr", {"Stretch=1", "ShowSpeed=30", "Transition=-1"},
                                {{"red.bmp", MakeSolidBmp(64, 48, 0xE0, 0x10, 0x10)}});
    for (const char* ending : {"mousemove_relative -- 40 0", "click 1"}) {
        std::system("xdotool mousemove 300 200 >/dev/null 2>&1");
        pid_t player = session_->Start(scr, {"/s"});
        bool shown = false;
        for (int i = 0; i < 30 && !shown; ++i) {
            Pause(0.5);
            auto shot = session_->Capture();
            shown = shot && Near(shot->At(320, 240), kRed);
        }
        ASSERT_TRUE(shown) << "the picture never showed";
        // A resting mouse trembles by a pixel or two: the show goes on.
        std::system("xdotool mousemove_relative -- 2 1 >/dev/null 2>&1");
        Pause(0.3);
        std::system("xdotool mousemove_relative -- -1 1 >/dev/null 2>&1");
        // (Without a window manager, wine takes two seconds to take a closing window down.)
        EXPECT_FALSE(session_->Wait(player, 3.5).has_value()) << "a jitter of two pixels ended the show";
        std::system((std::string("xdotool ") + ending + " >/dev/null 2>&1").c_str());
        std::optional<int> code = session_->Wait(player, 10);
        session_->Stop(player);
        EXPECT_TRUE(code.has_value()) << "\"" << ending << "\" did not end the show";
    }
}

TEST_F(PlayerUnderWine, ConfigureShowsTheAboutBox) {
    std::string scr = SlideShow("about.scr", {"ShowSpeed=5"}, {{"red.bmp", MakeSolidBmp(20, 20, 255, 0, 0)}});
    pid_t player = session_->Start(scr, {"/c"});
    bool found = false;
    for (int i = 0; i < 30 && !found; ++i) {
        Pause(0.5);
        found = session_->WindowTree().find("\"About Lake\"") != std::string::npos;
    }
    EXPECT_TRUE(found) << session_->WindowTree();
    // The box closes with Enter and the player ends without error.
    std::system("xdotool search --name 'About Lake' windowfocus --sync key Return >/dev/null 2>&1");
    std::optional<int> code = session_->Wait(player, 10);
    session_->Stop(player);
    ASSERT_TRUE(code.has_value()) << "the About box did not close";
    EXPECT_EQ(*code, 0);
}

// The About box draws the About text, bold where it says so: counted by its dark pixels, the
// box with an empty text has the fewest, the plain text more, the same text in bold more still.
TEST_F(PlayerUnderWine, TheAboutBoxDrawsItsTextAndBoldIsBolder) {
    auto darkPixels = [](const std::string& name, const std::string& text) -> long {
        std::vector<TestMember> members = {
            {"Options.ini", MakeSlideShowProject({"C:\\P\\red.bmp"}, {"ShowSpeed=5"})},
            {"About.cfg", MakeAboutFile("Lake", text)},
            {"red.bmp", MakeSolidBmp(20, 20, 255, 0, 0)}};
        std::string scr = MakeScreenSaver(name, PlayerPath("stub.bin"), members);
        pid_t player = session_->Start(scr, {"/c"});
        int w = 0, h = 0, left = 0, top = 0;
        for (int i = 0; i < 30 && w == 0; ++i) {
            Pause(0.5);
            std::string tree = session_->WindowTree();
            std::size_t at = tree.find("\"About Lake\"");
            if (at == std::string::npos) continue;
            std::string line = tree.substr(at, tree.find('\n', at) - at);
            static const std::regex geometry(R"((\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+))");
            std::smatch where;
            if (!std::regex_search(line, where, geometry)) continue;
            w = std::stoi(where[1]);
            h = std::stoi(where[2]);
            left = std::stoi(where[3]);
            top = std::stoi(where[4]);
        }
        // The window is mapped before its text is drawn, and under load the drawing can take a
        // while: the box counts once two screenshots in a row agree.
        long dark = -1;
        for (int i = 0; i < 20 && w > 0; ++i) {
            Pause(0.4);
            auto shot = session_->Capture();
            if (!shot) continue;
            long count = 0;
            for (int y = std::max(top, 0); y < std::min(top + h, shot->height); ++y)
                for (int x = std::max(left, 0); x < std::min(left + w, shot->width); ++x)
                    if (Near(shot->At(x, y), 0x000000, 0x70)) ++count;
            if (count == dark) break;
            dark = count;
        }
        std::system("xdotool search --name 'About Lake' windowfocus --sync key Return >/dev/null 2>&1");
        session_->Wait(player, 10);
        session_->Stop(player);
        return dark;
    };
    const long empty = darkPixels("about-empty.scr", "");
    const long plain = darkPixels("about-plain.scr", "Sunny days by the lake, sunny days by the lake");
    const long bold = darkPixels("about-bold.scr", "<b>Sunny days by the lake, sunny days by the lake</b>");
    ASSERT_GE(empty, 0) << "the About box did not show";
    ASSERT_GE(plain, 0);
    ASSERT_GE(bold, 0);
    EXPECT_GT(plain, empty + 200) << "empty " << empty << ", plain " << plain;
    EXPECT_GT(bold, plain + plain / 20) << "plain " << plain << ", bold " << bold;
}

TEST_F(PlayerUnderWine, PreviewDrawsInsideTheGivenWindowOnly) {
    if (ReadFile(PreviewHost()).empty()) GTEST_SKIP() << "the preview host was not built";
    std::string scr =
        SlideShow("preview.scr", {"Stretch=1", "ShowSpeed=30", "ColorR=0", "ColorG=255", "ColorB=0"},
                  {{"red.bmp", MakeSolidBmp(64, 48, 0xE0, 0x10, 0x10)}});
    pid_t host = session_->Start(PreviewHost(), {scr, "12"});
    std::optional<Screenshot> shot;
    for (int i = 0; i < 30; ++i) {
        Pause(0.5);
        shot = session_->Capture();
        if (shot && Near(shot->At(260, 220), kRed)) break;
    }
    session_->Stop(host);
    ASSERT_TRUE(shot && Near(shot->At(260, 220), kRed)) << "the preview never showed the picture";
    // The host's client area is (100..420, 100..340): the picture fills it, nothing outside.
    EXPECT_TRUE(Near(shot->At(103, 103), kRed));
    EXPECT_TRUE(Near(shot->At(416, 336), kRed));
    for (auto [x, y] : {std::pair{50, 50}, std::pair{500, 220}, std::pair{260, 400}, std::pair{630, 470}})
        EXPECT_FALSE(Near(shot->At(x, y), kRed) || Near(shot->At(x, y), 0x00FF00)) << x << "," << y;
}

TEST_F(PlayerUnderWine, DamagedArchiveIsReportedWithAFailingExitCode) {
    std::string path = SlideShow("damaged.scr", {}, {{"red.bmp", MakeSolidBmp(40, 40, 255, 0, 0)}});
    std::string bytes = ReadFile(path);
    std::size_t stubSize = ReadFile(PlayerPath("stub.bin")).size();
    bytes[stubSize + 5] = static_cast<char>(bytes[stubSize + 5] ^ 0x55);
    WriteFile(path, bytes);
    std::string errors = std::string(NIMBREL_WINE_WORK_DIR) + "/damaged.err";
    pid_t player = session_->Start(path, {"/s"}, errors);
    // The report closes itself after 15 seconds when nobody answers it.
    std::optional<int> code = session_->Wait(player, 45);
    session_->Stop(player);
    ASSERT_TRUE(code.has_value()) << "the damaged screensaver did not end";
    EXPECT_NE(*code, 0);
    EXPECT_NE(ReadFile(errors).find("This screen saver is damaged"), std::string::npos) << ReadFile(errors);
}

TEST_F(PlayerUnderWine, AFadeBlendsOnePictureIntoTheNext) {
    std::string scr = SlideShow("fade.scr", {"Stretch=1", "ShowSpeed=1", "Transition=0"},
                                {{"red.bmp", MakeSolidBmp(64, 48, 0xE0, 0x10, 0x10)},
                                 {"green.bmp", MakeSolidBmp(64, 48, 0x10, 0xC0, 0x20)}});
    pid_t player = session_->Start(scr, {"/s"});
    std::optional<std::uint32_t> between;
    for (int i = 0; i < 120 && !between; ++i) {
        Pause(0.1);
        auto shot = session_->Capture();
        if (!shot) continue;
        std::uint32_t c = shot->At(320, 240);
        // Neither picture nor background, but some of each picture's colour: a frame of the fade,
        // the same all over the screen.
        if (!Near(c, kRed) && !Near(c, kGreen) && !Near(c, kBackground) && ((c >> 16) & 0xFF) > 0x30 &&
            ((c >> 8) & 0xFF) > 0x30 && Near(shot->At(10, 10), c, 8) && Near(shot->At(630, 470), c, 8))
            between = c;
    }
    session_->Stop(player);
    EXPECT_TRUE(between.has_value()) << "no frame between the two pictures was seen";
}

TEST_F(PlayerUnderWine, DamageFoundAfterTheFirstPictureEndsTheShowWithAReport) {
    // Stored members, so that a byte of the second picture can be found and spoilt.
    const std::string first = MakeSolidBmp(64, 48, 0xE0, 0x10, 0x10);
    const std::string second = MakeSolidBmp(64, 48, 0x10, 0x20, 0xE0);
    std::vector<TestMember> members = {{"Options.ini", MakeSlideShowProject({"C:\\P\\a.bmp", "C:\\P\\b.bmp"},
                                                                            {"Stretch=1", "ShowSpeed=30"})},
                                       {"About.cfg", MakeAboutFile("Lake", "Hello")},
                                       {"a.bmp", first},
                                       {"b.bmp", second}};
    std::string bytes = ReadFile(PlayerPath("stub.bin")) + MakeTestArchive(members, true, false);
    std::size_t at = bytes.rfind(second);
    ASSERT_NE(at, std::string::npos);
    bytes[at + 1000] = static_cast<char>(bytes[at + 1000] ^ 0x40);
    std::string path = std::string(NIMBREL_WINE_WORK_DIR) + "/damaged-later.scr";
    WriteFile(path, bytes);
    std::string errors = std::string(NIMBREL_WINE_WORK_DIR) + "/damaged-later.err";
    pid_t player = session_->Start(path, {"/s"}, errors);
    bool shown = false;
    for (int i = 0; i < 30 && !shown; ++i) {
        Pause(0.3);
        auto shot = session_->Capture();
        shown = shot && Near(shot->At(320, 240), kRed);
    }
    std::optional<int> code = session_->Wait(player, 45);
    session_->Stop(player);
    EXPECT_TRUE(shown) << "the first, sound picture never showed";
    ASSERT_TRUE(code.has_value()) << "the damaged show did not end";
    EXPECT_NE(*code, 0);
    EXPECT_NE(ReadFile(errors).find("This screen saver is damaged"), std::string::npos) << ReadFile(errors);
}

TEST_F(PlayerUnderWine, BrokenPicturesAreLeftOutAndTheShowGoesOn) {
    const std::string jpeg = MakeSolidJpeg(64, 48, 0x10, 0x20, 0xE0, 0);
    const std::string png = MakeFramedPng(64, 48, {0, 0, 64, 48}, 0x10, 0x20, 0xE0, 255);
    std::string scrambled = MakeSolidGif(64, 48, 0x10, 0x20, 0xE0);
    for (std::size_t i = 20; i < scrambled.size(); i += 7)
        scrambled[i] = static_cast<char>(scrambled[i] ^ 0x5A);
    std::string scr = SlideShow("broken.scr", {"Stretch=1", "ShowSpeed=1", "Transition=129"},
                                {{"cut.jpg", jpeg.substr(0, jpeg.size() / 2)},
                                 {"red.bmp", MakeSolidBmp(64, 48, 0xE0, 0x10, 0x10)},
                                 {"noise.png", png.substr(0, 8) + std::string(400, '\x7F')},
                                 {"scrambled.gif", scrambled},
                                 {"empty.emf", std::string()},
                                 {"bad.wmf", std::string("\xD7\xCD\xC6\x9A", 4) + std::string(60, '\xFF')},
                                 {"bad.pcx", std::string("\x0A\x05\x01\x08", 4) + std::string(200, '\xFF')},
                                 {"green.bmp", MakeSolidBmp(64, 48, 0x10, 0xC0, 0x20)},
                                 {"short.bmp", MakeSolidBmp(64, 48, 0x10, 0x20, 0xE0).substr(0, 70)}});
    pid_t player = session_->Start(scr, {"/s"});
    std::vector<std::uint32_t> seen =
        WatchPictures({kRed, kGreen}, 4, [](const Screenshot&, std::uint32_t) {});
    const bool running = !session_->Wait(player, 0).has_value();
    session_->Stop(player);
    EXPECT_TRUE(running) << "the player ended by itself";
    ASSERT_GE(seen.size(), 4u) << "the sound pictures did not take turns";
    ExpectInTurn(seen, {seen[0], seen[0] == kRed ? kGreen : kRed});
}

// The most memory any process of a running screensaver has held (VmHWM), in MiB.
long PeakMemoryMiB(const std::string& screenSaverName) {
    long most = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream cmdline(entry.path() / "cmdline", std::ios::binary);
        std::string command((std::istreambuf_iterator<char>(cmdline)), std::istreambuf_iterator<char>());
        if (command.find(screenSaverName) == std::string::npos) continue;
        std::ifstream status(entry.path() / "status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("VmHWM:", 0) == 0) most = std::max(most, std::atol(line.c_str() + 6) / 1024);
    }
    return most;
}

TEST_F(PlayerUnderWine, PicturesThatClaimGigapixelsAreSkippedAndTheShowGoesOnInLittleMemory) {
    // A 25000 x 25000 BMP of one bit a pixel (78 MB of zeros, which deflate to under 100 KB;
    // 2.5 GB once decoded), and a JPEG whose header says 65500 x 65500, are left out. A TIFF of
    // 8192 x 8192 pixels, the most the player takes, shows: its 192 MiB member deflates to
    // under 1 MB and is read a strip at a time, as it inflates.
    auto le = [](std::uint32_t v, int bytes) {
        std::string out;
        for (int i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
        return out;
    };
    const std::uint32_t rowBytes = (25000 + 31) / 32 * 4, pixelBytes = rowBytes * 25000;
    std::string bomb = "BM" + le(62 + pixelBytes, 4) + le(0, 4) + le(62, 4) + le(40, 4) + le(25000, 4) +
                       le(25000, 4) + le(1, 2) + le(1, 2) + le(0, 4) + le(pixelBytes, 4) + le(2835, 4) +
                       le(2835, 4) + le(2, 4) + le(0, 4) + le(0x00E02010, 4) + le(0x00FFFFFF, 4);
    bomb.resize(62 + pixelBytes, '\0');
    std::string jpeg = MakeSolidJpeg(64, 48, 0x10, 0x20, 0xE0, 0);
    const std::size_t frame = jpeg.find("\xFF\xC0");
    ASSERT_NE(frame, std::string::npos);
    jpeg.replace(frame + 5, 4, std::string("\xFF\xDC\xFF\xDC", 4));
    std::string scr = SlideShow("gigapixels.scr", {"Stretch=1", "ShowSpeed=2", "Transition=129"},
                                {{"bomb.bmp", bomb},
                                 {"red.bmp", MakeSolidBmp(64, 48, 0xE0, 0x10, 0x10)},
                                 {"huge.jpg", jpeg},
                                 {"green.bmp", MakeSolidBmp(64, 48, 0x10, 0xC0, 0x20)},
                                 {"large.tif", MakeSolidTiff(8192, 8192, 0x10, 0x20, 0xE0)}});
    pid_t player = session_->Start(scr, {"/s"});
    long peak = 0;
    std::vector<std::uint32_t> seen =
        WatchPictures({kRed, kGreen, kBlue}, 4, [&peak](const Screenshot&, std::uint32_t) {
            peak = std::max(peak, PeakMemoryMiB("gigapixels.scr"));
        });
    peak = std::max(peak, PeakMemoryMiB("gigapixels.scr"));
    const bool running = !session_->Wait(player, 0).has_value();
    session_->Stop(player);
    EXPECT_TRUE(running) << "the player ended by itself";
    ASSERT_GE(seen.size(), 4u) << "the sound pictures did not take turns";
    std::vector<std::uint32_t> order{kRed, kGreen, kBlue};
    std::rotate(order.begin(), std::find(order.begin(), order.end(), seen[0]), order.end());
    ExpectInTurn(seen, order);
    EXPECT_GT(peak, 0) << "the player's process was not found";
    // The player itself takes about 40 MiB; holding the TIFF's member whole would add 192.
    EXPECT_LT(peak, 128) << "MiB at the most";
    RecordProperty("PeakMiB", static_cast<int>(peak));
}

TEST_F(PlayerUnderWine, EachOfTwoMonitorsShowsThePictureByItself) {
    if (!session_->UseTwoMonitors(true)) GTEST_SKIP() << "Xephyr is not installed";
    struct Back {
        ~Back() { session_->UseTwoMonitors(false); }
    } back;
    for (bool stretch : {false, true}) {
        std::string scr =
            SlideShow(stretch ? "two-stretched.scr" : "two-centred.scr",
                      {"Center=1", std::string("Stretch=") + (stretch ? "1" : "0"), "KeepAspect=1",
                       "ShowSpeed=30", "Transition=-1", "ColorR=10", "ColorG=20", "ColorB=30"},
                      {{"red.bmp", MakeSolidBmp(200, 100, 0xE0, 0x10, 0x10)}});
        pid_t player = session_->Start(scr, {"/s"});
        std::optional<Screenshot> shot;
        for (int i = 0; i < 30; ++i) {
            Pause(0.5);
            shot = session_->Capture();
            if (shot && Near(shot->At(320, 240), kRed) && Near(shot->At(960, 240), kRed)) break;
        }
        session_->Stop(player);
        ASSERT_TRUE(shot.has_value());
        ASSERT_EQ(shot->width, 1280) << "the two monitors do not make one screen";
        ASSERT_TRUE(Near(shot->At(320, 240), kRed) && Near(shot->At(960, 240), kRed))
            << "not on both monitors: " << Hex(shot->At(320, 240)) << " " << Hex(shot->At(960, 240));
        for (int left : {0, 640}) {
            if (stretch) {  // 640 x 320 at y 80..400 on each
                EXPECT_TRUE(Near(shot->At(left + 2, 85), kRed)) << left;
                EXPECT_TRUE(Near(shot->At(left + 637, 395), kRed)) << left;
                EXPECT_TRUE(Near(shot->At(left + 320, 70), kBackground)) << left;
                EXPECT_TRUE(Near(shot->At(left + 320, 410), kBackground)) << left;
            } else {  // 200 x 100 at (220..420, 190..290) on each
                EXPECT_TRUE(Near(shot->At(left + 225, 195), kRed)) << left;
                EXPECT_TRUE(Near(shot->At(left + 415, 285), kRed)) << left;
                EXPECT_TRUE(Near(shot->At(left + 210, 240), kBackground)) << left;
                EXPECT_TRUE(Near(shot->At(left + 430, 240), kBackground)) << left;
                EXPECT_TRUE(Near(shot->At(left + 5, 5), kBackground)) << left;
            }
        }
    }
}

// A picture of its own on each monitor, and one picture spanning both.
TEST_F(PlayerUnderWine, TwoMonitorsShowPicturesOfTheirOwnOrOneAcrossBoth) {
    if (!session_->UseTwoMonitors(true)) GTEST_SKIP() << "Xephyr is not installed";
    struct Back {
        ~Back() { session_->UseTwoMonitors(false); }
    } back;
    const std::vector<std::string> options = {"Center=1", "Stretch=1", "KeepAspect=1", "ShowSpeed=30",
                                              "Transition=-1", "ColorR=10", "ColorG=20", "ColorB=30", ""};
    {
        std::vector<std::string> each = options;
        each.insert(each.end(), {"[Show]", "Monitors=1"});
        std::string scr = SlideShow("two-each.scr", each,
                                    {{"red.bmp", MakeSolidBmp(200, 100, 0xE0, 0x10, 0x10)},
                                     {"green.bmp", MakeSolidBmp(200, 100, 0x10, 0xC0, 0x20)}});
        pid_t player = session_->Start(scr, {"/s"});
        std::optional<Screenshot> shot;
        auto both = [&] {
            return shot && ((Near(shot->At(320, 240), kRed) && Near(shot->At(960, 240), kGreen)) ||
                            (Near(shot->At(320, 240), kGreen) && Near(shot->At(960, 240), kRed)));
        };
        for (int i = 0; i < 30 && !both(); ++i) {
            Pause(0.5);
            shot = session_->Capture();
        }
        session_->Stop(player);
        ASSERT_TRUE(shot.has_value());
        EXPECT_TRUE(both()) << "each monitor its own picture: " << Hex(shot->At(320, 240)) << " "
                            << Hex(shot->At(960, 240));
    }
    {
        std::vector<std::string> span = options;
        span.insert(span.end(), {"[Show]", "Monitors=2"});
        std::string scr = SlideShow("two-span.scr", span, {{"red.bmp", MakeSolidBmp(200, 100, 0xE0, 0x10, 0x10)}});
        pid_t player = session_->Start(scr, {"/s"});
        std::optional<Screenshot> shot;
        for (int i = 0; i < 30; ++i) {
            Pause(0.5);
            shot = session_->Capture();
            if (shot && Near(shot->At(640, 240), kRed)) break;
        }
        session_->Stop(player);
        ASSERT_TRUE(shot.has_value());
        // 200 x 100 over 1280 x 480 keeping its proportions: 960 x 480 at x 160..1120, across the seam.
        for (int x : {170, 635, 645, 1110}) EXPECT_TRUE(Near(shot->At(x, 240), kRed)) << x << " " << Hex(shot->At(x, 240));
        for (int x : {150, 1130}) EXPECT_TRUE(Near(shot->At(x, 240), kBackground)) << x << " " << Hex(shot->At(x, 240));
    }
}

TEST_F(PlayerUnderWine, FlashPlayerWithoutFlashShowsTitleAndSentence) {
    if (ReadFile(PlayerPath("flash.bin")).empty()) GTEST_SKIP() << "flash.bin was not built";
    RegisterFakeFlash(false);  // wine has no Flash control of its own
    std::string scr = FlashShow("flash.scr", std::string("FWS\x06", 4) + std::string(200, '\0'));
    pid_t player = session_->Start(scr, {"/s"});
    // Black screen; white title around a third of the height, grey sentence below it, nothing
    // else (the letters' smoothed edges are neither colour, so only their bands are told apart).
    // Looked at from the fourth second on, until both lines are there (under load wine is slow).
    const auto started = std::chrono::steady_clock::now();
    std::optional<Screenshot> shot;
    int titlePixels = 0, sentencePixels = 0, other = 0;
    Pause(3.5);
    for (int i = 0; i < 24 && (titlePixels <= 200 || sentencePixels <= 200); ++i) {
        Pause(0.5);
        shot = session_->Capture();
        if (!shot) continue;
        titlePixels = sentencePixels = other = 0;
        for (int y = 0; y < shot->height; ++y)
            for (int x = 0; x < shot->width; ++x) {
                std::uint32_t c = shot->At(x, y);
                if (c == 0) continue;
                const bool titleBand = y >= 140 && y < 225, sentenceBand = y >= 225 && y < 320;
                if (titleBand && Near(c, 0xFFFFFF, 60))
                    ++titlePixels;
                else if (sentenceBand && Near(c, 0xC8C8C8, 60))
                    ++sentencePixels;
                else if (!titleBand && !sentenceBand && !Near(c, 0, 60))
                    ++other;
            }
    }
    // Still running six seconds after its start at the least.
    const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    bool running = !session_->Wait(player, std::max(0.0, 6.0 - waited)).has_value();
    session_->Stop(player);
    ASSERT_TRUE(shot.has_value());
    EXPECT_TRUE(running) << "the Flash player ended by itself";
    EXPECT_GT(titlePixels, 200) << "no title";
    EXPECT_GT(sentencePixels, 200) << "no sentence";
    EXPECT_LT(other, 500) << "something else on the screen";
    EXPECT_EQ(shot->At(5, 5), 0u);
}

// A Flash screensaver with frames recorded at compile, played where no Flash control is: four
// frames of one colour each at one frame a second, 200 x 100 on a 640 x 480 screen, so the
// picture fills the width at y 80..400 with the movie's background above and below.
TEST_F(PlayerUnderWine, FlashPlayerWithoutFlashPlaysTheRecordedFramesInALoop) {
    if (ReadFile(PlayerPath("flash.bin")).empty()) GTEST_SKIP() << "flash.bin was not built";
    RegisterFakeFlash(false);
    const std::string project =
        "[Header]\r\nNumber=0\r\nType=1\r\n\r\n[About]\r\nShowName=Fireworks\r\nShowText=Bang\r\n\r\n"
        "[Options]\r\nFlashFile=C:\\Movies\\fireworks.swf\r\n\r\n";
    const std::vector<std::uint32_t> colours{0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00};
    const std::uint32_t background = 0xFF00FF;
    std::vector<TestMember> members{{"Options.ini", project},
                                    {"About.cfg", MakeAboutFile("Fireworks", "Bang")},
                                    {"fireworks.swf", std::string("FWS\x06", 4) + std::string(200, '\0')},
                                    {"Movie.frames",
                                     "NimbrelFrames 1\r\nSize=200x100\r\nRate=1\r\n"
                                     "Background=FF00FF\r\nf00000.jpg 1\r\nf00001.jpg 1\r\n"
                                     "f00002.jpg 1\r\nf00003.jpg 1\r\n"}};
    for (std::size_t i = 0; i < colours.size(); ++i)
        members.push_back(
            {"f0000" + std::to_string(i) + ".jpg",
             MakeSolidJpeg(200, 100, colours[i] >> 16, (colours[i] >> 8) & 0xFF, colours[i] & 0xFF, 0)});
    const std::string scr = MakeScreenSaver("flash-frames.scr", PlayerPath("flash.bin"), members);
    pid_t player = session_->Start(scr, {"/s"});
    // Five changes: all four frames and the first again, in order.
    std::vector<std::uint32_t> seen =
        WatchPictures(colours, 5, [&](const Screenshot& shot, std::uint32_t colour) {
            EXPECT_TRUE(Near(shot.At(4, 85), colour, 40)) << Hex(shot.At(4, 85));
            EXPECT_TRUE(Near(shot.At(635, 395), colour, 40)) << Hex(shot.At(635, 395));
            EXPECT_TRUE(Near(shot.At(320, 70), background)) << Hex(shot.At(320, 70));
            EXPECT_TRUE(Near(shot.At(320, 410), background)) << Hex(shot.At(320, 410));
        });
    ASSERT_GE(seen.size(), 5u) << "the frames did not play round";
    // Each frame is followed by the next, the last by the first: the show moves forward and
    // loops. A busy machine may take a screenshot too late for one frame, never go back.
    auto frameOf = [&](std::uint32_t c) {
        return std::find(colours.begin(), colours.end(), c) - colours.begin();
    };
    for (std::size_t i = 1; i < seen.size(); ++i) {
        const auto step = (frameOf(seen[i]) - frameOf(seen[i - 1]) + 4) % 4;
        EXPECT_TRUE(step == 1 || step == 2) << Hex(seen[i - 1]) << " then " << Hex(seen[i]);
    }
    std::system("xdotool key space >/dev/null 2>&1");
    std::optional<int> code = session_->Wait(player, 10);
    session_->Stop(player);
    EXPECT_TRUE(code.has_value()) << "a key did not close the screensaver";
}

TEST_F(PlayerUnderWine, FlashPlayerPlaysItsMovieInTheRegisteredControl) {
    if (ReadFile(PlayerPath("flash.bin")).empty()) GTEST_SKIP() << "flash.bin was not built";
    if (ReadFile(FakeFlashControl()).empty()) GTEST_SKIP() << "the stand-in Flash control was not built";
    const std::string log = FakeFlashControl() + ".log";
    std::remove(log.c_str());
    RegisterFakeFlash(true);
    // The stand-in paints the colour stored after the movie's 8-byte header.
    std::string movie =
        std::string("FWS\x06\x20\x00\x00\x00", 8) + std::string("\x20\xA0\xF0", 3) + std::string(5000, 'm');
    std::string scr = FlashShow("flash-playing.scr", movie);
    pid_t player = session_->Start(scr, {"/s"});
    std::optional<Screenshot> shot;
    for (int i = 0; i < 30; ++i) {
        Pause(0.5);
        shot = session_->Capture();
        if (shot && Near(shot->At(320, 240), 0x20A0F0)) break;
    }
    // While it plays, the movie lies in a temporary .swf file that the control was given.
    const std::string during = ReadFile(log);
    std::string unixPath;
    std::size_t at = during.find("movie ");
    if (at != std::string::npos) {
        std::string line = during.substr(at + 6, during.find('\r', at) - at - 6);
        std::string windowsPath = line.substr(0, line.rfind(' '));
        EXPECT_EQ(line.substr(line.rfind(' ') + 1), std::to_string(movie.size())) << line;
        EXPECT_EQ(windowsPath.substr(windowsPath.size() - 4), ".swf") << windowsPath;
        if (windowsPath.rfind("C:\\", 0) == 0) {
            unixPath = session_->Prefix() + "/drive_c/" + windowsPath.substr(3);
            for (char& c : unixPath)
                if (c == '\\') c = '/';
        }
    }
    const std::string written = unixPath.empty() ? std::string() : ReadFile(unixPath);
    std::system("xdotool key space >/dev/null 2>&1");
    std::optional<int> code = session_->Wait(player, 10);
    session_->Stop(player);
    RegisterFakeFlash(false);
    ASSERT_TRUE(shot.has_value());
    // The control covers the whole screen with the movie.
    for (auto [x, y] : {std::pair{320, 240}, std::pair{2, 2}, std::pair{637, 477}})
        EXPECT_TRUE(Near(shot->At(x, y), 0x20A0F0)) << x << "," << y << " " << Hex(shot->At(x, y)) << "\n"
                                                    << during;
    EXPECT_NE(during.find("activate 0 0 640 480"), std::string::npos) << during;
    EXPECT_NE(during.find("play"), std::string::npos) << during;
    ASSERT_FALSE(unixPath.empty()) << "no movie file was handed over:\n" << during;
    EXPECT_EQ(written, movie) << unixPath;
    // A key ends the show; the control is closed and the temporary file removed.
    ASSERT_TRUE(code.has_value()) << "a key did not close the Flash player";
    EXPECT_EQ(*code, 0);
    EXPECT_NE(ReadFile(log).find("close"), std::string::npos) << ReadFile(log);
    std::FILE* left = std::fopen(unixPath.c_str(), "rb");
    EXPECT_EQ(left, nullptr) << unixPath << " is still there";
    if (left != nullptr) std::fclose(left);
}

#ifdef NIMBREL_HAVE_RENDER
// A 24-bit BMP of soft colour gradients (plain pictures with something in them to compare).
std::string GradientBmp(int width, int height, int tint) {
    const int rowBytes = (width * 3 + 3) & ~3;
    std::string out = "BM";
    auto put32 = [&out](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) out += static_cast<char>(v >> (8 * i) & 0xFF);
    };
    put32(54 + static_cast<std::uint32_t>(rowBytes * height));
    put32(0);
    put32(54);
    put32(40);
    put32(static_cast<std::uint32_t>(width));
    put32(static_cast<std::uint32_t>(height));
    out += std::string("\x01\x00\x18\x00", 4);
    for (int i = 0; i < 6; ++i) put32(0);
    for (int y = height - 1; y >= 0; --y) {
        std::string row(static_cast<std::size_t>(rowBytes), '\0');
        for (int x = 0; x < width; ++x) {
            row[static_cast<std::size_t>(x) * 3] = static_cast<char>((x * 255 / width + tint) & 0xFF);
            row[static_cast<std::size_t>(x) * 3 + 1] = static_cast<char>(y * 255 / height);
            row[static_cast<std::size_t>(x) * 3 + 2] = static_cast<char>((tint * 3 + (x + y) / 3) & 0xFF);
        }
        out += row;
    }
    return out;
}

// Mean difference of the colour channels, in percent of the full range.
double MeanDifference(const Screenshot& shot, const imaging::Image& frame) {
    if (frame.Width() != shot.width || frame.Height() != shot.height) return 100;
    double sum = 0;
    for (int y = 0; y < shot.height; ++y)
        for (int x = 0; x < shot.width; ++x) {
            const std::uint32_t a = shot.At(x, y), b = frame.At(x, y);
            for (int c = 0; c < 3; ++c)
                sum += std::abs(static_cast<int>(a >> (8 * c) & 255) - static_cast<int>(b >> (8 * c) & 255));
        }
    return sum / (3.0 * 255.0 * shot.width * shot.height) * 100;
}

// The frames the player traced as on screen: "<ms> show <show time> slide <k>".
std::vector<std::int64_t> TracedShowTimes(const std::string& trace) {
    std::vector<std::int64_t> times;
    std::istringstream in(trace);
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t at = line.find(" show ");
        if (at != std::string::npos) times.push_back(std::atoll(line.c_str() + at + 6));
    }
    return times;
}

// Compiles dir/show.nssp with the players under test, the command line's output in dir/compile.log.
int CompileShow(const std::string& dir) {
    const std::string stubDir = PlayerPath("stub.bin").substr(0, PlayerPath("stub.bin").rfind('/'));
    return std::system(("'" NIMBREL_BIN_DIR "/nimbrel-cli' compile '" + dir + "/show.nssp' --stub-dir '" + stubDir +
                        "' >'" + dir + "/compile.log' 2>&1")
                           .c_str());
}

// A screenshot of a running show and how near render's frames come to it.
struct Sampled {
    std::int64_t time = -1;  // the show time of render's nearest frame
    double difference = 100;  // its mean difference, in percent
};

// Runs the screensaver dir/show.scr under wine with its trace on, takes paced screenshots, renders
// with nimbrel-cli (and `renderOptions`) the times the trace names around each, and gives for
// each screenshot the time of render's nearest frame and how near it is.
void CompareWithRender(WineSession& session, const std::string& dir, const std::string& renderOptions,
                       std::vector<Sampled>& out) {
    std::system(("rm -rf '" + dir + "/frames' && mkdir -p '" + dir + "/frames'").c_str());
    const std::string trace = dir + "/show.trace";
    std::remove(trace.c_str());
    std::string windowsTrace = "Z:" + trace;
    for (char& c : windowsTrace)
        if (c == '/') c = '\\';
    setenv("NIMBREL_PLAYER_TRACE", windowsTrace.c_str(), 1);
    setenv("NIMBREL_SHOW_SEED", "20261209", 1);
    pid_t player = session.Start(dir + "/show.scr", {"/s"});
    unsetenv("NIMBREL_PLAYER_TRACE");
    unsetenv("NIMBREL_SHOW_SEED");
    // Each screenshot with the frames that may have been on screen while it was taken: the two
    // traced last before it and those traced during it.
    struct Sample {
        Screenshot shot;
        std::vector<std::int64_t> candidates;
    };
    std::vector<Sample> samples;
    for (int i = 0; i < 150 && TracedShowTimes(ReadFile(trace)).empty(); ++i) Pause(0.2);
    // Screenshots are paced, so that the samples span several pictures and changes however fast
    // the display answers (24 quick ones can all fall in the first picture's second).
    for (int i = 0; i < 40 && samples.size() < 24; ++i) {
        if (i > 0) Pause(0.2);
        const std::vector<std::int64_t> before = TracedShowTimes(ReadFile(trace));
        if (before.empty()) break;
        auto shot = session.Capture();
        const std::vector<std::int64_t> after = TracedShowTimes(ReadFile(trace));
        if (!shot) continue;
        Sample sample{*shot, {}};
        for (std::size_t k = before.size() >= 2 ? before.size() - 2 : 0; k < after.size(); ++k)
            sample.candidates.push_back(after[k]);
        samples.push_back(sample);
    }
    session.Stop(player);
    ASSERT_GE(samples.size(), 8u) << "too few screenshots of the show";

    // Every candidate time rendered once.
    std::vector<std::int64_t> times;
    for (const Sample& s : samples) times.insert(times.end(), s.candidates.begin(), s.candidates.end());
    std::sort(times.begin(), times.end());
    times.erase(std::unique(times.begin(), times.end()), times.end());
    std::string at;
    for (std::int64_t t : times) at += (at.empty() ? "" : ",") + std::to_string(t) + "ms";
    ASSERT_EQ(std::system(("'" NIMBREL_BIN_DIR "/nimbrel-cli' render '" + dir + "/show.nssp' --size 640x480 --at " +
                           at + " --out '" + dir + "/frames' " + renderOptions + " >'" + dir +
                           "/render.log' 2>&1")
                              .c_str()),
              0)
        << ReadFile(dir + "/render.log");
    auto decoder = codecs::MakeLibraryDecoder();
    std::map<std::int64_t, imaging::Image> frames;
    const int digits = std::max<int>(2, static_cast<int>(std::to_string(times.size()).size()));
    for (std::size_t i = 0; i < times.size(); ++i) {
        std::string number = std::to_string(i + 1);
        number.insert(0, static_cast<std::size_t>(digits) - std::min<std::size_t>(digits, number.size()),
                      '0');
        const std::string png = ReadFile(dir + "/frames/frame-" + number + ".png");
        auto source =
            decoder->Open("f.png", std::span(reinterpret_cast<const std::uint8_t*>(png.data()), png.size()));
        ASSERT_TRUE(source) << number;
        frames[times[i]] = imaging::ReadWholePicture(*source);
    }
    for (const Sample& s : samples) {
        Sampled best;
        for (std::int64_t t : s.candidates) {
            const double d = MeanDifference(s.shot, frames[t]);
            if (d < best.difference) best = {t, d};
        }
        out.push_back(best);
    }
}

// The player under wine and nimbrel-cli render show the same frames for the same seed: screenshots
// of the running show against the frames render makes of the times the player's trace names.
TEST_F(PlayerUnderWine, ThePlayerAndRenderShowTheSameFrames) {
    const std::string dir = std::string(NIMBREL_WINE_WORK_DIR) + "/same";
    std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str());
    WriteFile(dir + "/wide.bmp", GradientBmp(800, 400, 0));
    WriteFile(dir + "/small.bmp", GradientBmp(160, 120, 90));
    WriteFile(dir + "/photo.jpg", MakeSolidJpeg(300, 200, 0x30, 0x90, 0xD0, 0));
    WriteFile(dir + "/tall.bmp", GradientBmp(200, 500, 170));
    WriteFile(dir + "/grey.jpg", MakeSolidJpeg(250, 180, 0x70, 0, 0, 0, true));
    WriteFile(
        dir + "/show.nssp",
        MakeSlideShowProject(
            {dir + "/wide.bmp", dir + "/small.bmp", dir + "/photo.jpg", dir + "/tall.bmp", dir + "/grey.jpg"},
            {"Output=" + dir + "/show.scr", "Center=1", "AutoSize=0", "Stretch=1", "KeepAspect=1", "Random=1",
             "ShowSpeed=1", "Transition=128", "ColorR=10", "ColorG=20", "ColorB=30"}));
    ASSERT_EQ(CompileShow(dir), 0) << ReadFile(dir + "/compile.log");
    std::vector<Sampled> samples;
    CompareWithRender(*session_, dir, "--seed 20261209", samples);
    if (HasFatalFailure()) return;
    // A still frame is one whose show time lies in a picture's second on its own.
    int stills = 0, changes = 0;
    double worstStill = 0, worstChange = 0;
    std::string report;
    for (const Sampled& s : samples) {
        const bool still = s.time % 2000 < 1000;
        (still ? stills : changes) += 1;
        double& worst = still ? worstStill : worstChange;
        worst = std::max(worst, s.difference);
        report += (still ? "still  " : "change ") + std::to_string(s.time) + " ms: " + std::to_string(s.difference) +
                  " %\n";
    }
    std::printf("%s", report.c_str());
    std::printf("worst mean difference: %.3f %% on plain pictures (%d), %.3f %% within changes (%d)\n",
                worstStill, stills, worstChange, changes);
    EXPECT_GT(stills, 0) << report;
    EXPECT_GT(changes, 0) << report;
    EXPECT_LT(worstStill, 2.0) << report;
    EXPECT_LT(worstChange, 2.0) << report;
}

// A movie recorded at compile plays in flash.bin (no Flash control under wine) as nimbrel-cli
// render draws it: a square that crosses the stage in ten frames, round after round, screenshots
// against render's frames of the traced show times. The movie comes from the tests' own writer;
// the recording needs Chromium and the Ruffle package (skipped without them).
TEST_F(PlayerUnderWine, TheFlashPlayerAndRenderShowTheSameRecordedFrames) {
    if (ReadFile(PlayerPath("flash.bin")).empty()) GTEST_SKIP() << "flash.bin was not built";
    RegisterFakeFlash(false);
    const std::string dir = std::string(NIMBREL_WINE_WORK_DIR) + "/same-flash";
    std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str());
    flash::testing::MoviePlan plan;
    plan.frameRate = 5;
    plan.background = 0x103060;
    plan.shapeColor = 0xF0C020;
    plan.shapeSize = 30;
    plan.shapeX.clear();
    for (int k = 0; k < 10; ++k) plan.shapeX.push_back(5 + 16 * k);
    const std::vector<std::uint8_t> movie = flash::testing::MakeMovie(plan);
    WriteFile(dir + "/square.swf", std::string(movie.begin(), movie.end()));
    WriteFile(dir + "/show.nssp", "[Header]\r\nNumber=0\r\nType=1\r\n\r\n[About]\r\nShowName=Square\r\n"
                                  "ShowText=\r\n\r\n[Options]\r\nFlashFile=" + dir + "/square.swf\r\nChangeIcon=0\r\n"
                                  "IconFile=\r\nOutput=" + dir + "/show.scr\r\n\r\n");
    // The players under test lie in win64/ without the Ruffle package beside them.
    if (std::getenv("NIMBREL_RUFFLE_DIR") == nullptr) setenv("NIMBREL_RUFFLE_DIR", NIMBREL_BIN_DIR "/../ruffle", 1);
    ASSERT_EQ(CompileShow(dir), 0) << ReadFile(dir + "/compile.log");
    if (ReadFile(dir + "/compile.log").find("not recorded") != std::string::npos)
        GTEST_SKIP() << ReadFile(dir + "/compile.log");
    std::vector<Sampled> samples;
    CompareWithRender(*session_, dir, "", samples);
    if (HasFatalFailure()) return;
    double worst = 0;
    std::set<std::int64_t> framesSeen;
    std::string report;
    for (const Sampled& s : samples) {
        worst = std::max(worst, s.difference);
        framesSeen.insert(s.time / 200 % 10);
        report += std::to_string(s.time) + " ms: " + std::to_string(s.difference) + " %\n";
    }
    std::printf("%sworst mean difference: %.3f %% over %zu of the 10 frames\n", report.c_str(), worst,
                framesSeen.size());
    EXPECT_GE(framesSeen.size(), 4u) << report;
    EXPECT_LT(worst, 2.0) << report;
}

// A caption the build drew shows in the player where and as nimbrel-cli render draws it: the
// screenshot matches render's captioned frame in the caption's band, and not the plain one.
TEST_F(PlayerUnderWine, ThePlayerShowsTheCaptionRenderDraws) {
    const std::string dir = std::string(NIMBREL_WINE_WORK_DIR) + "/caption";
    std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "/frames' '" + dir + "/plain'").c_str());
    WriteFile(dir + "/Harbour.bmp", GradientBmp(800, 400, 40));
    const std::string options = MakeSlideShowProject(
        {dir + "/Harbour.bmp"}, {"Output=" + dir + "/show.scr", "Center=1", "AutoSize=0", "Stretch=1", "KeepAspect=1",
                                 "Random=0", "ShowSpeed=30", "Transition=129", "ColorR=0", "ColorG=0", "ColorB=0"});
    WriteFile(dir + "/plain.nssp", options);
    WriteFile(dir + "/show.nssp", options + "[Show]\r\nCaption=1\r\nCaptionPlace=1\r\n\r\n");
    ASSERT_EQ(CompileShow(dir), 0) << ReadFile(dir + "/compile.log");
    pid_t player = session_->Start(dir + "/show.scr", {"/s"});
    std::optional<Screenshot> shot;
    for (int i = 0; i < 60; ++i) {
        Pause(0.25);
        shot = session_->Capture();
        // The picture is up once the centre is no longer black.
        if (shot && (shot->At(shot->width / 2, shot->height / 3) & 0xFFFFFF) != 0) break;
    }
    Pause(0.5);
    shot = session_->Capture();
    session_->Stop(player);
    ASSERT_TRUE(shot);
    const std::string size = std::to_string(shot->width) + "x" + std::to_string(shot->height);
    for (const char* name : {"show", "plain"})
        ASSERT_EQ(std::system(("'" NIMBREL_BIN_DIR "/nimbrel-cli' render '" + dir + "/" + name + ".nssp' --size " +
                               size + " --at 1000ms --out '" + dir + (name == std::string("show") ? "/frames" : "/plain") +
                               "' >'" + dir + "/render.log' 2>&1")
                                  .c_str()),
                  0)
            << ReadFile(dir + "/render.log");
    auto decoder = codecs::MakeLibraryDecoder();
    auto load = [&](const std::string& path) {
        const std::string png = ReadFile(path);
        auto source = decoder->Open("f.png", std::span(reinterpret_cast<const std::uint8_t*>(png.data()), png.size()));
        return source ? imaging::ReadWholePicture(*source) : imaging::Image();
    };
    const imaging::Image captioned = load(dir + "/frames/frame-01.png"), plain = load(dir + "/plain/frame-01.png");
    ASSERT_EQ(captioned.Width(), shot->width);
    ASSERT_EQ(plain.Width(), shot->width);
    // The band: where render's two frames differ.
    int band = 0, bright = 0;
    double toCaptioned = 0, toPlain = 0;
    for (int y = 0; y < shot->height; ++y)
        for (int x = 0; x < shot->width; ++x) {
            const std::uint32_t c = captioned.At(x, y) & 0xFFFFFF, p = plain.At(x, y) & 0xFFFFFF;
            if (c == p) continue;
            ++band;
            const std::uint32_t s = shot->At(x, y);
            for (int k = 0; k < 3; ++k) {
                const int sk = static_cast<int>(s >> (8 * k) & 255);
                toCaptioned += std::abs(sk - static_cast<int>(c >> (8 * k) & 255));
                toPlain += std::abs(sk - static_cast<int>(p >> (8 * k) & 255));
            }
            if ((s & 0xFF) > 230 && (s >> 8 & 0xFF) > 230 && (s >> 16 & 0xFF) > 230) ++bright;
        }
    ASSERT_GT(band, 500) << "render drew no caption";
    toCaptioned /= 3.0 * 255.0 * band / 100, toPlain /= 3.0 * 255.0 * band / 100;
    std::printf("caption band of %d pixels: %.3f %% from render's captioned frame, %.3f %% from the plain one\n",
                band, toCaptioned, toPlain);
    EXPECT_LT(toCaptioned, 2.0);
    EXPECT_GT(toPlain, 8.0);
    EXPECT_GT(bright, 30) << "white text in the band";
}

// Diagonal stripes a few pixels wide: a picture that moves by a pixel changes all over.
std::string StripesBmp(int width, int height) {
    std::string out = "BM";
    const int rowBytes = (width * 3 + 3) & ~3;
    auto put32 = [&out](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
    };
    put32(static_cast<std::uint32_t>(54 + rowBytes * height));
    put32(0);
    put32(54);
    put32(40);
    put32(static_cast<std::uint32_t>(width));
    put32(static_cast<std::uint32_t>(height));
    out += std::string("\x01\x00\x18\x00", 4);
    for (int i = 0; i < 6; ++i) put32(0);
    for (int y = height - 1; y >= 0; --y) {
        std::string row(static_cast<std::size_t>(rowBytes), '\0');
        for (int x = 0; x < width; ++x) {
            const bool light = (x + y) / 5 % 2 == 0;
            row[static_cast<std::size_t>(x) * 3] = static_cast<char>(light ? 230 : 40);
            row[static_cast<std::size_t>(x) * 3 + 1] = static_cast<char>(y * 255 / height);
            row[static_cast<std::size_t>(x) * 3 + 2] = static_cast<char>(light ? 200 : 60);
        }
        out += row;
    }
    return out;
}

// With pan and zoom, the player's picture moves all the time, and each screenshot is the frame
// render draws at the time the player's trace names.
TEST_F(PlayerUnderWine, AMovingPictureMovesAsRenderDrawsIt) {
    const std::string dir = std::string(NIMBREL_WINE_WORK_DIR) + "/moving";
    std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "/frames'").c_str());
    WriteFile(dir + "/stripes.bmp", StripesBmp(600, 400));
    WriteFile(dir + "/show.nssp",
              MakeSlideShowProject({dir + "/stripes.bmp"},
                                   {"Output=" + dir + "/show.scr", "Center=1", "Stretch=1", "KeepAspect=1",
                                    "ShowSpeed=20", "Transition=-1", "ColorR=10", "ColorG=20", "ColorB=30", "",
                                    "[Show]", "Motion=1"}));
    ASSERT_EQ(CompileShow(dir), 0) << ReadFile(dir + "/compile.log");
    const std::string trace = dir + "/show.trace";
    std::string windowsTrace = "Z:" + trace;
    for (char& c : windowsTrace)
        if (c == '/') c = '\\';
    setenv("NIMBREL_PLAYER_TRACE", windowsTrace.c_str(), 1);
    setenv("NIMBREL_SHOW_SEED", "77", 1);
    pid_t player = session_->Start(dir + "/show.scr", {"/s"});
    unsetenv("NIMBREL_PLAYER_TRACE");
    unsetenv("NIMBREL_SHOW_SEED");
    struct Sample {
        Screenshot shot;
        std::vector<std::int64_t> candidates;
    };
    std::vector<Sample> samples;
    for (int i = 0; i < 150 && TracedShowTimes(ReadFile(trace)).empty(); ++i) Pause(0.2);
    for (int i = 0; i < 30 && samples.size() < 8; ++i) {
        if (i > 0) Pause(0.7);
        const std::vector<std::int64_t> before = TracedShowTimes(ReadFile(trace));
        if (before.empty()) break;
        auto shot = session_->Capture();
        const std::vector<std::int64_t> after = TracedShowTimes(ReadFile(trace));
        if (!shot) continue;
        Sample sample{*shot, {}};
        for (std::size_t k = before.size() >= 2 ? before.size() - 2 : 0; k < after.size(); ++k)
            sample.candidates.push_back(after[k]);
        samples.push_back(sample);
    }
    session_->Stop(player);
    ASSERT_GE(samples.size(), 4u) << "too few screenshots of the show";
    std::vector<std::int64_t> times;
    for (const Sample& s : samples) times.insert(times.end(), s.candidates.begin(), s.candidates.end());
    std::sort(times.begin(), times.end());
    times.erase(std::unique(times.begin(), times.end()), times.end());
    std::string at;
    for (std::int64_t t : times) at += (at.empty() ? "" : ",") + std::to_string(t) + "ms";
    ASSERT_EQ(std::system(("'" NIMBREL_BIN_DIR "/nimbrel-cli' render '" + dir + "/show.nssp' --size 640x480 --at " +
                           at + " --out '" + dir + "/frames' --seed 77 >'" + dir + "/render.log' 2>&1")
                              .c_str()),
              0)
        << ReadFile(dir + "/render.log");
    auto decoder = codecs::MakeLibraryDecoder();
    std::map<std::int64_t, imaging::Image> frames;
    const int digits = std::max<int>(2, static_cast<int>(std::to_string(times.size()).size()));
    for (std::size_t i = 0; i < times.size(); ++i) {
        std::string number = std::to_string(i + 1);
        number.insert(0, static_cast<std::size_t>(digits) - std::min<std::size_t>(digits, number.size()), '0');
        const std::string png = ReadFile(dir + "/frames/frame-" + number + ".png");
        auto source = decoder->Open("f.png", std::span(reinterpret_cast<const std::uint8_t*>(png.data()), png.size()));
        ASSERT_TRUE(source) << number;
        frames[times[i]] = imaging::ReadWholePicture(*source);
    }
    double worst = 0;
    std::vector<std::int64_t> best;
    std::string report;
    for (const Sample& s : samples) {
        double closest = 100;
        std::int64_t time = -1;
        for (std::int64_t t : s.candidates) {
            const double d = MeanDifference(s.shot, frames[t]);
            if (d < closest) {
                closest = d;
                time = t;
            }
        }
        worst = std::max(worst, closest);
        best.push_back(time);
        report += std::to_string(time) + " ms: " + std::to_string(closest) + " %\n";
    }
    // The first screenshot against the frame of the last one's time: the picture moved.
    const double moved = MeanDifference(samples.front().shot, frames[best.back()]);
    std::printf("%sfirst screenshot against the last frame: %.3f %%\n", report.c_str(), moved);
    EXPECT_LT(worst, 2.0) << report;
    EXPECT_GT(best.back() - best.front(), 2000) << report;
    EXPECT_GT(moved, 5 * std::max(worst, 0.5)) << report;
}
#endif

#ifdef NIMBREL_HAVE_TEST_PICTURES
// Photos the players cannot decode themselves, compiled by nimbrel-cli into a show: a lossless
// WebP, a 16-bit TIFF and a phone's HEIC in Display P3 stored on its side. Each shows upright
// (its yellow corner at the top left) and in its own colour.
TEST_F(PlayerUnderWine, ConvertedPhotosShowUprightInTheirColours) {
    using codecs::testing::Bytes;
    const std::string dir = std::string(NIMBREL_WINE_WORK_DIR) + "/converted";
    std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str());
    constexpr std::uint32_t kYellow = 0xE0E010, kPureRed = 0xFF0000;
    auto pixel = [](std::uint32_t c) {
        return imaging::MakePixel(static_cast<std::uint8_t>(c >> 16), static_cast<std::uint8_t>(c >> 8),
                                  static_cast<std::uint8_t>(c));
    };
    // A width x height picture of one colour with a corner block (x, y, w, h) in another.
    auto marked = [&](int width, int height, imaging::Pixel fill, int x0, int y0, int w, int h) {
        imaging::Image image(width, height, fill);
        for (int y = y0; y < y0 + h; ++y)
            for (int x = x0; x < x0 + w; ++x) image.Set(x, y, pixel(kYellow));
        return image;
    };
    auto write = [](const std::string& path, const Bytes& bytes) {
        WriteFile(path, std::string(bytes.begin(), bytes.end()));
    };
    // Upright 200 x 100, the corner 40 x 20.
    write(dir + "/green.webp",
          codecs::testing::MakeWebpLossless(marked(200, 100, pixel(kGreen), 0, 0, 40, 20)));
    write(dir + "/blue.tif", codecs::testing::MakeTiff16(marked(200, 100, pixel(kBlue), 0, 0, 40, 20)));
    // Stored 200 x 100 and turned a quarter clockwise by its orientation 6: it shows 100 x 200,
    // and the stored bottom left corner comes to the top left. Its colour is sRGB's pure red
    // written in Display P3 numbers, so it shows pure red only when its profile was applied.
    const double displayP3[6] = {0.680, 0.320, 0.265, 0.690, 0.150, 0.060};
    write(dir + "/IMG_0001.HEIC",
          codecs::testing::MakeHeif(marked(200, 100, imaging::MakePixel(234, 51, 35), 0, 80, 40, 20), false,
                                    codecs::MakeRgbProfile(displayP3), 6));
    WriteFile(dir + "/show.nssp",
              MakeSlideShowProject(
                  {dir + "/green.webp", dir + "/blue.tif", dir + "/IMG_0001.HEIC"},
                  {"Output=" + dir + "/show.scr", "Center=1", "AutoSize=0", "Stretch=0", "KeepAspect=0",
                   "Random=0", "ShowSpeed=2", "Transition=129", "ColorR=10", "ColorG=20", "ColorB=30"}));
    const std::string stubDir = PlayerPath("stub.bin").substr(0, PlayerPath("stub.bin").rfind('/'));
    ASSERT_EQ(std::system(("'" NIMBREL_BIN_DIR "/nimbrel-cli' compile --strict '" + dir +
                           "/show.nssp' --stub-dir '" + stubDir + "' >'" + dir + "/compile.log' 2>&1")
                              .c_str()),
              0)
        << ReadFile(dir + "/compile.log");

    pid_t player = session_->Start(dir + "/show.scr", {"/s"});
    std::vector<std::uint32_t> seen =
        WatchPictures({kGreen, kBlue, kPureRed}, 4, [](const Screenshot& shot, std::uint32_t known) {
            if (known != kPureRed) {  // 200 x 100 at (220..420, 190..290), the corner at (220..260, 190..210)
                EXPECT_TRUE(Near(shot.At(230, 198), kYellow, 40))
                    << Hex(known) << " " << Hex(shot.At(230, 198));
                EXPECT_TRUE(Near(shot.At(410, 282), known)) << Hex(shot.At(410, 282));
                EXPECT_TRUE(Near(shot.At(410, 198), known)) << Hex(shot.At(410, 198));
                EXPECT_TRUE(Near(shot.At(230, 282), known)) << Hex(shot.At(230, 282));
                EXPECT_TRUE(Near(shot.At(320, 180), kBackground)) << Hex(shot.At(320, 180));
                EXPECT_TRUE(Near(shot.At(210, 240), kBackground)) << Hex(shot.At(210, 240));
            } else {  // upright 100 x 200 at (270..370, 140..340), the corner at (270..290, 140..180)
                EXPECT_TRUE(Near(shot.At(278, 155), kYellow, 40)) << Hex(shot.At(278, 155));
                EXPECT_TRUE(Near(shot.At(360, 150), kPureRed, 30)) << Hex(shot.At(360, 150));
                EXPECT_TRUE(Near(shot.At(278, 330), kPureRed, 30)) << Hex(shot.At(278, 330));
                EXPECT_TRUE(Near(shot.At(360, 330), kPureRed, 30)) << Hex(shot.At(360, 330));
                EXPECT_TRUE(Near(shot.At(250, 240), kBackground)) << Hex(shot.At(250, 240));
                EXPECT_TRUE(Near(shot.At(390, 240), kBackground)) << Hex(shot.At(390, 240));
                EXPECT_TRUE(Near(shot.At(320, 130), kBackground)) << Hex(shot.At(320, 130));
            }
        });
    session_->Stop(player);
    ASSERT_GE(seen.size(), 3u) << "the show did not go through its pictures";
    ExpectInTurn(seen, {kGreen, kBlue, kPureRed});
}
#endif
}  // namespace
}  // namespace nimbrel::testing

// The whole set is skipped (exit code 77 for CTest) where wine cannot run; individual tests
// skip only for pieces that were not built.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    std::string reason = nimbrel::testing::WineSession::Unavailable();
    if (!reason.empty()) {
        std::printf("Skipping the wine tests: %s\n", reason.c_str());
        return 77;
    }
    return RUN_ALL_TESTS();
}
