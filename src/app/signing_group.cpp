#include "app/signing_group.h"

#include <QCheckBox>
#include <QInputDialog>
#include <QLineEdit>
#include <QHBoxLayout>

#include "app/interface_state.h"
#include "platform/error.h"
#include "platform/settings_store.h"
#include "signing/authenticode.h"
#include "ui/file_name_edit.h"
#include "ui/narrow_text.h"

namespace nimbrel::app {

namespace {
constexpr const char* kStoreRoot = kPlacementKey;
constexpr const char* kSection = "Nimbrel\\Signing";

SigningGroup::PasswordSource& TestPasswordSource() {
    static SigningGroup::PasswordSource source;
    return source;
}
}  // namespace

void SigningGroup::SetPasswordSource(PasswordSource source) {
    TestPasswordSource() = std::move(source);
}

SigningGroup::SigningGroup(QWidget* parent) : QGroupBox(tr("Signing"), parent) {
    setObjectName(QStringLiteral("gbSigning"));
    // One line, the check box before the certificate it signs with: the Options tab has little
    // height to spare.
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 2, 6, 2);
    layout->setSpacing(6);
    chkSign_ = new QCheckBox(tr("Si&gn with"), this);
    chkSign_->setToolTip(tr("Sign the screensaver (and its installer) with this certificate (.pfx)"));
    chkSign_->setObjectName(QStringLiteral("chkSign"));
    feCertificate_ = new ui::FileNameEdit(ui::FileNameEdit::DialogKind::Open, this);
    feCertificate_->setObjectName(QStringLiteral("feCertificate"));
    feCertificate_->setFilter(QStringLiteral("Certificates (*.pfx, *.p12)|*.pfx;*.p12|All Files (*.*)|*.*"));
    layout->addWidget(chkSign_);
    layout->addWidget(feCertificate_, 1);

    const platform::SettingsStore store(kStoreRoot);
    chkSign_->setChecked(store.ReadBool(kSection, "Sign", false));
    feCertificate_->setText(ui::FromNarrow(store.ReadString(kSection, "Certificate", "")));
    if (!signing::SigningAvailable()) {
        chkSign_->setChecked(false);
        setEnabled(false);
        setToolTip(tr("This build cannot sign (it was built without OpenSSL)."));
    }
    connect(chkSign_, &QCheckBox::toggled, this, [this] { Remember(); });
    connect(feCertificate_, &ui::FileNameEdit::textChanged, this, [this] { Remember(); });
}

void SigningGroup::Remember() {
    try {
        platform::SettingsStore store(kStoreRoot);
        store.WriteBool(kSection, "Sign", chkSign_->isChecked());
        store.WriteString(kSection, "Certificate", ui::ToNarrow(feCertificate_->text()));
    } catch (const Error&) {
        // The choice still holds for this session.
    }
}

bool SigningGroup::SignRequested() const {
    return isEnabled() && chkSign_->isChecked() && !feCertificate_->text().isEmpty();
}

std::string SigningGroup::CertificatePath() const {
    return ui::ToNarrow(feCertificate_->text());
}

std::optional<std::string> SigningGroup::AskPassword(QWidget* parent) const {
    QString prompt = tr("Password of the certificate %1:").arg(feCertificate_->text());
    for (;;) {
        bool ok = false;
        QString password;
        if (const PasswordSource& source = TestPasswordSource()) {
            std::optional<QString> answer = source(prompt);
            ok = answer.has_value();
            if (ok) password = *answer;
        } else {
            password = QInputDialog::getText(parent, tr("Nimbrel - Sign"), prompt, QLineEdit::Password, {}, &ok);
        }
        if (!ok) return std::nullopt;
        std::string text = password.toStdString();
        password.fill(QChar(0));
        try {
            signing::CertificateSigner(CertificatePath(), text);
            return text;
        } catch (const Error& e) {
            prompt = ui::FromNarrow(e.what()) + QStringLiteral("\n\n") + tr("Password:");
        }
    }
}

std::string SigningGroup::Sign(const std::string& path, const std::string& password) const {
    return signing::SignFile(path, {CertificatePath(), password, ""}).signer;
}

std::string SignedLine(const std::string& signer) {
    return "Signed by " + signer + ".";
}

}  // namespace nimbrel::app
