#pragma once
// A signed screensaver and its signed installer, made the way a user makes them: the example
// project opened in the main window, a certificate chosen in the Signing group, the Project menu's
// Compile, then Make Installer..., the password typed when asked. Needs a QApplication and the message box
// test mode.

#include <QString>
#include <QStringList>
#include <string>

namespace nimbrel::test {

// A throw-away self-signed code-signing certificate, made with the openssl tool: `folder`/test.pfx
// (protected by `password`) and `folder`/cert.pem. False when openssl cannot make one.
bool MakeTestCertificate(const std::string& folder, const std::string& signer, const std::string& password);

struct EditorBuild {
    std::string screensaver;  // the example's holiday.scr
    std::string installer;    // "Holiday Setup.exe" beside it
    QString compileText;      // the completion text of Compile
    QString installerText;    // the completion text of Make Installer...
    QStringList prompts;      // every password prompt, in order
    std::string settings;     // the settings store's file right after the builds
};

// Copies the holiday example (pictures, icon, About text) into `folder` and builds it from the
// main window with the players in `playerDirectory` (stub.bin, flash.bin, setup.bin), signing
// with `certificate`. The password is asked for twice a build: `wrongPassword` is typed first,
// then `password`. The Signing group is left unchecked and empty again.
EditorBuild BuildSignedInEditor(const std::string& folder, const std::string& playerDirectory,
                                const std::string& certificate, const std::string& wrongPassword,
                                const std::string& password);

}  // namespace nimbrel::test
