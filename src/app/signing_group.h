#pragma once
// The Signing group beside the compile options: whether to sign and the certificate file, kept
// in the settings store (never in the project); the password is asked for each build and
// forgotten after it.

#include <QGroupBox>
#include <functional>
#include <optional>
#include <string>

class QCheckBox;

namespace nimbrel::ui {
class FileNameEdit;
}

namespace nimbrel::app {

class SigningGroup : public QGroupBox {
    Q_OBJECT
public:
    explicit SigningGroup(QWidget* parent = nullptr);

    bool SignRequested() const;
    std::string CertificatePath() const;

    // Asks for the certificate's password, checked at once against the file; nothing when the
    // user cancelled. The caller forgets it after the build.
    std::optional<std::string> AskPassword(QWidget* parent) const;

    // Test seam: while set, the password is taken from here instead of the dialog. It gets the
    // dialog's prompt and answers the typed text, or nothing for Cancel. Empty to show the
    // dialog again.
    using PasswordSource = std::function<std::optional<QString>(const QString& prompt)>;
    static void SetPasswordSource(PasswordSource source);
    // Signs the file; the signer's name. Raises nimbrel::Error when signing fails.
    std::string Sign(const std::string& path, const std::string& password) const;

private:
    void Remember();

    QCheckBox* chkSign_;
    ui::FileNameEdit* feCertificate_;
};

// The completion text's line naming the signer.
std::string SignedLine(const std::string& signer);

}  // namespace nimbrel::app
