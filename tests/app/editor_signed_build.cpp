#include "app/editor_signed_build.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <cstdlib>
#include <filesystem>

#include "app/main_window.h"
#include "app/signing_group.h"
#include "platform/files.h"
#include "platform/settings_store.h"
#include "ui/file_name_edit.h"
#include "ui/message_box.h"
#include "ui/narrow_text.h"

namespace nimbrel::test {

namespace fs = std::filesystem;

bool MakeTestCertificate(const std::string& folder, const std::string& signer, const std::string& password) {
    const std::string key = folder + "/key.pem", cert = folder + "/cert.pem", pfx = folder + "/test.pfx";
    const std::string command = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=" + signer +
                                "' -addext extendedKeyUsage=codeSigning -keyout '" + key + "' -out '" + cert +
                                "' >/dev/null 2>&1 && openssl pkcs12 -export -inkey '" + key + "' -in '" +
                                cert + "' -out '" + pfx + "' -passout 'pass:" + password +
                                "' >/dev/null 2>&1";
    const bool made = std::system(command.c_str()) == 0;
    fs::remove(key);  // the key is needed inside the .pfx only
    return made && fs::exists(pfx);
}

EditorBuild BuildSignedInEditor(const std::string& folder, const std::string& playerDirectory,
                                const std::string& certificate, const std::string& wrongPassword,
                                const std::string& password) {
    EditorBuild build;
    fs::create_directories(folder);
    for (const auto& entry : fs::directory_iterator(NIMBREL_EXAMPLE_DIR))
        fs::copy_file(entry.path(), fs::path(folder) / entry.path().filename(),
                      fs::copy_options::overwrite_existing);
    build.screensaver = folder + "/holiday.scr";
    build.installer = folder + "/Holiday Setup.exe";

    int asked = 0;
    app::SigningGroup::SetPasswordSource([&](const QString& prompt) -> std::optional<QString> {
        build.prompts << prompt;
        return ui::FromNarrow(asked++ % 2 == 0 ? wrongPassword : password);
    });
    {
        app::TfrmMain window(QStringList{ui::FromNarrow(folder + "/holiday.nssp")});
        window.SetPlayerPaths(playerDirectory + "/stub.bin", playerDirectory + "/flash.bin");
        auto* signing = window.findChild<app::SigningGroup*>(QStringLiteral("gbSigning"));
        auto* sign = window.findChild<QCheckBox*>(QStringLiteral("chkSign"));
        auto* certificateBox = window.findChild<ui::FileNameEdit*>(QStringLiteral("feCertificate"));
        EXPECT_TRUE(signing && sign && certificateBox) << "no Signing group";
        if (signing && sign && certificateBox) {
            sign->setChecked(true);
            certificateBox->setText(ui::FromNarrow(certificate));
            EXPECT_TRUE(signing->SignRequested());
            // The menu's commands, the completion box's text of each.
            auto run = [&window](const char* command) {
                auto* action = window.findChild<QAction*>(QString::fromLatin1(command));
                EXPECT_TRUE(action && action->isEnabled()) << command;
                ui::MessageBox::ClearShown();
                if (action) action->trigger();
                const QString text = ui::MessageBox::ShownBoxes().isEmpty()
                                         ? QString()
                                         : ui::MessageBox::ShownBoxes().last().text;
                ui::MessageBox::ClearShown();
                return text;
            };
            build.compileText = run("Compile1");
            build.installerText = run("MakeInstaller1");
            build.settings = platform::ReadWholeFile(platform::SettingsFilePath());
            // Later builds in this process must not ask for a password.
            sign->setChecked(false);
            certificateBox->setText({});
        }
    }
    app::SigningGroup::SetPasswordSource({});
    return build;
}

}  // namespace nimbrel::test
