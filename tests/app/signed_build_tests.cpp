// Signing from the editor with the real players: a certificate chosen in the Signing group,
// Compile, then Make Installer.... Both files verify with our checker and with osslsigncode,
// the completion texts name the signer, the show's icon is on the players and the installer of
// either width, and the password is kept in no file and not in the settings store.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "app/editor_signed_build.h"
#include "archive/archive_reader.h"
#include "cli/cli.h"
#include "platform/files.h"
#include "platform/temp.h"
#include "signing/authenticode.h"
#include "ui/narrow_text.h"

namespace nimbrel::test {
namespace {

namespace fs = std::filesystem;

TEST(EditorSigning, CompileAndMakeInstallerSignBothWithTheRealPlayers) {
    if (!signing::SigningAvailable()) GTEST_SKIP() << "this build cannot sign";
    platform::TempDirectory dir("nimbrel-editor-sign");
    const std::string password = "Pw-editor-5d1e";
    if (!MakeTestCertificate(dir.Path(), "Nimbrel Editor Signer", password))
        GTEST_SKIP() << "openssl could not make a test certificate";
    const bool osslsigncode = std::system("command -v osslsigncode >/dev/null 2>&1") == 0;
    const std::string iconTail = [] {
        const std::string icon = platform::ReadWholeFile(NIMBREL_EXAMPLE_DIR "/holiday.ico");
        return icon.substr(icon.size() - 256);  // bytes of its last image
    }();

    int widths = 0;
    for (const std::string width : {"win32", "win64"}) {
        const std::string players = std::string(NIMBREL_BIN_DIR) + (width == "win64" ? "/win64" : "");
        if (!fs::exists(players + "/stub.bin") || !fs::exists(players + "/setup.bin")) continue;
        SCOPED_TRACE(players);
        ++widths;
        const EditorBuild build =
            BuildSignedInEditor(dir.File(width), players, dir.File("test.pfx"), "not-the-password", password);

        // Twice a build: the wrong password is asked again with the reason, the right one signs.
        ASSERT_EQ(build.prompts.size(), 4) << build.prompts.join(QStringLiteral(" | ")).toStdString();
        EXPECT_TRUE(build.prompts[1].contains(QStringLiteral("password"))) << build.prompts[1].toStdString();
        EXPECT_TRUE(build.compileText.endsWith(QStringLiteral("\nSigned by Nimbrel Editor Signer.")))
            << build.compileText.toStdString();
        EXPECT_TRUE(
            build.installerText.endsWith(QStringLiteral("\nSigned by Nimbrel Editor Signer.\nInstaller: ") +
                                         ui::FromNarrow(build.installer)))
            << build.installerText.toStdString();

        for (const std::string& path : {build.screensaver, build.installer}) {
            std::ostringstream out, err;
            EXPECT_EQ(cli::RunCli({"verify", path}, out, err), 0) << err.str();
            EXPECT_NE(out.str().find("signature OK: signed by Nimbrel Editor Signer, SHA-256"),
                      std::string::npos)
                << out.str();
            if (osslsigncode) {
                const std::string verify = "osslsigncode verify -CAfile '" + dir.File("cert.pem") +
                                           "' -in '" + path + "' >/dev/null 2>&1";
                EXPECT_EQ(std::system(verify.c_str()), 0) << path;
            }
            const std::string program = platform::ReadWholeFile(path).substr(
                0, archive::ArchiveReader::FromFile(path).ArchiveStart());
            EXPECT_NE(program.find(iconTail), std::string::npos) << path << " lacks the show's icon";
        }
        archive::ArchiveReader setup = archive::ArchiveReader::FromFile(build.installer);
        ASSERT_EQ(setup.Members().size(), 3u);
        EXPECT_NE(setup.Extract(0).find("Publisher=Nimbrel Editor Signer\r\n"), std::string::npos);
        EXPECT_EQ(setup.Extract(2), platform::ReadWholeFile(build.screensaver));

        EXPECT_NE(build.settings.find("test.pfx"), std::string::npos) << "the certificate was not remembered";
        EXPECT_EQ(build.settings.find(password), std::string::npos)
            << "the password is in the settings store";
    }
    if (widths == 0) GTEST_SKIP() << "the players were not built";
    for (const auto& entry : fs::recursive_directory_iterator(dir.Path())) {
        if (!entry.is_regular_file()) continue;
        EXPECT_EQ(platform::ReadWholeFile(entry.path().string()).find(password), std::string::npos)
            << "the password is in " << entry.path();
    }
    if (!osslsigncode) GTEST_SKIP() << "osslsigncode is not installed: checked by our own verify only";
}

}  // namespace
}  // namespace nimbrel::test
