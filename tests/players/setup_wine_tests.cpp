// The installer (setup.bin with a screensaver appended) and signed screensavers under wine:
// a silent install sets the registry and places the file, the uninstall entry's command takes
// everything away again and brings back the screensaver that was active, a damaged installer
// refuses, and both players play a show that was signed.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "package_writer.h"
#include "pipeline/installer_package.h"
#include "setup_harness.h"
#include "signing/authenticode.h"
#include "wine_session.h"

namespace nimbrel::testing {
namespace {

namespace fs = std::filesystem;

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void Pause(double seconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(seconds * 1000)));
}

std::string BinPath(const std::string& name) {
    return std::string(NIMBREL_BIN_DIR) + (WineSession::SixtyFourBitOnly() ? "/win64/" : "/") + name;
}

const std::string kWork = std::string(NIMBREL_WINE_WORK_DIR) + "/setup";

class SetupUnderWine : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!WineSession::Unavailable().empty()) return;
        session_ = new WineSession(NIMBREL_WINE_WORK_DIR);
        fs::create_directories(kWork);
        harness_ = new SetupHarness(*session_, kWork);
        // A throw-away certificate for signing, made here (none is kept in the sources).
        if (signing::SigningAvailable() &&
            std::system(("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=Wine Test Signer' "
                         "-keyout '" + kWork + "/key.pem' -out '" + kWork + "/cert.pem' >/dev/null 2>&1 && "
                         "openssl pkcs12 -export -inkey '" + kWork + "/key.pem' -in '" + kWork +
                         "/cert.pem' -out '" + kWork + "/test.pfx' -passout pass: >/dev/null 2>&1")
                            .c_str()) != 0)
            fs::remove(kWork + "/test.pfx");
    }
    static void TearDownTestSuite() {
        delete harness_;
        harness_ = nullptr;
        delete session_;
        session_ = nullptr;
    }
    void SetUp() override {
        if (!WineSession::Unavailable().empty()) GTEST_SKIP() << WineSession::Unavailable();
        if (ReadFile(BinPath("stub.bin")).empty()) GTEST_SKIP() << "stub.bin was not built";
        ASSERT_TRUE(session_->Ready()) << session_->Problem();
    }

    static bool CanSign() { return fs::exists(kWork + "/test.pfx"); }
    static void Sign(const std::string& path) { signing::SignFile(path, {kWork + "/test.pfx", "", ""}); }

    // A red slideshow screensaver.
    static std::string RedShow(const std::string& name) {
        const std::string path = kWork + "/" + name;
        std::vector<TestMember> members = {{"Options.ini", MakeSlideShowProject({"C:\\red.bmp"}, {})},
                                           {"About.cfg", MakeAboutFile("Lake", "Hello <b>there</b>")},
                                           {"red.bmp", MakeSolidBmp(64, 64, 255, 0, 0)}};
        WriteFile(path, ReadFile(BinPath("stub.bin")) + MakeTestArchive(members));
        return path;
    }

    static WineSession* session_;
    static SetupHarness* harness_;
};

WineSession* SetupUnderWine::session_ = nullptr;
SetupHarness* SetupUnderWine::harness_ = nullptr;

TEST_F(SetupUnderWine, SilentInstallThenUninstallLeavesNoTraceAndRestoresTheScreenSaver) {
    if (ReadFile(BinPath("setup.bin")).empty()) GTEST_SKIP() << "setup.bin was not built";
    const std::string scr = RedShow("lake.scr");
    const std::string setup = kWork + "/Lake Setup.exe";
    pipeline::WriteInstaller(BinPath("setup.bin"), scr, {"Lake", "Hello <b>there</b>", "Wine Test Signer", ""}, setup);
    if (CanSign()) Sign(setup);
    const std::string previous = "C:\\windows\\system32\\old.scr";
    harness_->SetPreviousScreenSaver(previous);

    // Twice: installing over an earlier install replaces it and keeps what was active before.
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        ASSERT_EQ(harness_->RunToEnd(setup, {"/S"}, kWork + "/setup.err"), 0) << ReadFile(kWork + "/setup.err");
        harness_->ExpectInstalled("Lake", scr, "Wine Test Signer", previous);
    }
    // The uninstall entry's command, silently.
    harness_->UninstallAndExpectNoTrace("Lake", previous);
}

TEST_F(SetupUnderWine, ADamagedInstallerRefusesAndInstallsNothing) {
    if (ReadFile(BinPath("setup.bin")).empty()) GTEST_SKIP() << "setup.bin was not built";
    const std::string scr = RedShow("broken.scr");
    const std::string setup = kWork + "/Broken Setup.exe";
    pipeline::WriteInstaller(BinPath("setup.bin"), scr, {"Broken", "", "", ""}, setup);
    std::string bytes = ReadFile(setup);
    const std::size_t at = ReadFile(BinPath("setup.bin")).size() + 2000;  // inside the screensaver
    bytes[at] = static_cast<char>(bytes[at] ^ 0x11);
    WriteFile(setup, bytes);
    EXPECT_EQ(harness_->RunToEnd(setup, {"/S"}, kWork + "/broken.err"), 2);
    EXPECT_NE(ReadFile(kWork + "/broken.err").find("This installer is damaged"), std::string::npos)
        << ReadFile(kWork + "/broken.err");
    EXPECT_FALSE(fs::exists(harness_->InstallFolder("Broken")));
}

TEST_F(SetupUnderWine, BothPlayersPlayASignedScreenSaver) {
    if (!CanSign()) GTEST_SKIP() << "this build cannot sign";
    const std::string scr = RedShow("signed.scr");
    Sign(scr);
    pid_t player = session_->Start(scr, {"/s"});
    bool red = false;
    for (int i = 0; i < 40 && !red; ++i) {
        Pause(0.5);
        auto shot = session_->Capture();
        red = shot && Near(shot->At(320, 240), 0xFF0000, 40);
    }
    session_->Stop(player);
    EXPECT_TRUE(red) << "the signed slideshow showed no picture";

    if (ReadFile(BinPath("flash.bin")).empty()) return;
    const std::string flash = kWork + "/signed-flash.scr";
    std::string project =
        "[Header]\r\nNumber=0\r\nType=1\r\n\r\n[About]\r\nShowName=Fireworks\r\nShowText=Bang\r\n\r\n"
        "[Options]\r\nFlashFile=C:\\Movies\\fireworks.swf\r\n\r\n";
    WriteFile(flash, ReadFile(BinPath("flash.bin")) +
                         MakeTestArchive({{"Options.ini", project},
                                          {"About.cfg", MakeAboutFile("Fireworks", "Bang")},
                                          {"fireworks.swf", std::string("FWS\x06", 4) + std::string(200, '\0')}}));
    Sign(flash);
    const std::string errors = kWork + "/flash.err";
    pid_t flashPlayer = session_->Start(flash, {"/s"}, errors);
    // A damaged show ends at once with a report; a sound one keeps running.
    const bool running = !session_->Wait(flashPlayer, 6).has_value();
    session_->Stop(flashPlayer);
    EXPECT_TRUE(running) << ReadFile(errors);
    EXPECT_EQ(ReadFile(errors).find("damaged"), std::string::npos) << ReadFile(errors);
}

}  // namespace
}  // namespace nimbrel::testing

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    std::string reason = nimbrel::testing::WineSession::Unavailable();
    if (!reason.empty()) {
        std::printf("Skipping the wine tests: %s\n", reason.c_str());
        return 77;
    }
    return RUN_ALL_TESTS();
}
