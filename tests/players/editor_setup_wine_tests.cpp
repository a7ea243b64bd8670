// The signed installer the editor makes (Compile, then Make Installer...), under wine: a silent
// install and the uninstall leave no trace, and a user sees the show's name and About text in
// its window and installs it with Install.
#include <gtest/gtest.h>

#include <QApplication>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "app/editor_signed_build.h"
#include "platform/settings_store.h"
#include "setup_harness.h"
#include "signing/authenticode.h"
#include "support/qt_test_env.h"
#include "ui/message_box.h"
#include "wine_session.h"

namespace nimbrel::testing {
namespace {

namespace fs = std::filesystem;

void Pause(double seconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(seconds * 1000)));
}

const std::string kWork = std::string(NIMBREL_WINE_WORK_DIR) + "/editor-setup";
constexpr const char* kSigner = "Editor Wine Signer";
constexpr const char* kPrevious = "C:\\windows\\system32\\before.scr";

class EditorInstallerUnderWine : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        fs::remove_all(kWork);
        fs::create_directories(kWork);
        platform::SetSettingsLocation(kWork + "/settings");
        if (!signing::SigningAvailable() || !test::MakeTestCertificate(kWork, kSigner, "wine-pw")) return;
        const std::string players =
            std::string(NIMBREL_BIN_DIR) + (WineSession::SixtyFourBitOnly() ? "/win64" : "");
        if (!fs::exists(players + "/setup.bin")) return;
        build_ = std::make_unique<test::EditorBuild>(
            test::BuildSignedInEditor(kWork + "/show", players, kWork + "/test.pfx", "wrong", "wine-pw"));
        session_ = std::make_unique<WineSession>(NIMBREL_WINE_WORK_DIR);
        harness_ = std::make_unique<SetupHarness>(*session_, kWork);
    }
    static void TearDownTestSuite() {
        harness_.reset();
        session_.reset();
        platform::SetSettingsLocation("");
    }
    void SetUp() override {
        if (!build_) GTEST_SKIP() << "this build cannot sign, or setup.bin was not built";
        ASSERT_TRUE(session_->Ready()) << session_->Problem();
        ASSERT_TRUE(fs::exists(build_->installer)) << build_->installerText.toStdString();
        harness_->SetPreviousScreenSaver(kPrevious);
    }

    static std::unique_ptr<test::EditorBuild> build_;
    static std::unique_ptr<WineSession> session_;
    static std::unique_ptr<SetupHarness> harness_;
};

std::unique_ptr<test::EditorBuild> EditorInstallerUnderWine::build_;
std::unique_ptr<WineSession> EditorInstallerUnderWine::session_;
std::unique_ptr<SetupHarness> EditorInstallerUnderWine::harness_;

TEST_F(EditorInstallerUnderWine, InstallsSilentlyAndUninstallsWithoutATrace) {
    ASSERT_EQ(harness_->RunToEnd(build_->installer, {"/S"}, kWork + "/setup.err"), 0)
        << ReadFile(kWork + "/setup.err");
    harness_->ExpectInstalled("Holiday", build_->screensaver, kSigner, kPrevious);
    harness_->UninstallAndExpectNoTrace("Holiday", kPrevious);
}

TEST_F(EditorInstallerUnderWine, ItsWindowShowsTheShowAndInstallsOnInstall) {
    if (std::system("command -v xdotool >/dev/null 2>&1") != 0) GTEST_SKIP() << "xdotool is not installed";
    pid_t setup = session_->Start(build_->installer, {}, kWork + "/window.err");
    // The window, found by its title on the X server.
    const std::string search = "timeout 20 xdotool search --name '^Holiday Setup$' 2>/dev/null";
    bool shown = false;
    for (int i = 0; i < 60 && !shown; ++i) {
        Pause(0.5);
        shown = std::system((search + " >/dev/null").c_str()) == 0;
    }
    ASSERT_TRUE(shown) << "no window \"Holiday Setup\"\n" << session_->WindowTree();

    // What its controls say, read through Windows.
    const std::string texts = kWork + "/window.txt";
    pid_t reader =
        session_->Start(WineSession::SixtyFourBitOnly() ? NIMBREL_WINDOW_TEXT64 : NIMBREL_WINDOW_TEXT32,
                        {"Holiday Setup", "Z:" + texts});
    EXPECT_EQ(session_->Wait(reader, 30), 0);
    const std::string shownText = ReadFile(texts);
    EXPECT_NE(shownText.find("Install the screen saver \"Holiday\" for yourself?"), std::string::npos)
        << shownText;
    EXPECT_NE(shownText.find("Pictures from the holiday, drawn by Nimbrel itself"), std::string::npos)
        << shownText;

    // Enter presses Install, the button that has the focus.
    EXPECT_EQ(std::system((search + " windowfocus --sync key Return").c_str()), 0);
    const std::optional<int> code = session_->Wait(setup, 60);
    session_->Stop(setup);  // and the display settings it opens
    ASSERT_EQ(code, 0) << ReadFile(kWork + "/window.err");
    harness_->ExpectInstalled("Holiday", build_->screensaver, kSigner, kPrevious);
    harness_->UninstallAndExpectNoTrace("Holiday", kPrevious);
}

}  // namespace
}  // namespace nimbrel::testing

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    const std::string reason = nimbrel::testing::WineSession::Unavailable();
    if (!reason.empty()) {
        std::printf("Skipping the wine tests: %s\n", reason.c_str());
        return 77;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::AddGlobalTestEnvironment(new nimbrel::test::QtTestEnvironment(
        "editor_setup_wine_tests", [] { nimbrel::ui::MessageBox::SetTestMode(true); }));
    return RUN_ALL_TESTS();
}
