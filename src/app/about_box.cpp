#include "app/about_box.h"

#include <QApplication>
#include <QFont>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <cstdio>

#include "nimbrel_version.h"
#include "platform/shell.h"
#include "ui/narrow_text.h"
#include "ui/pictures.h"

namespace nimbrel::app {

namespace {

// The text under the version: the author, the rights, the help file and the credits.
const char kAboutHtml[] =
    "Turns your pictures or a Flash movie into a screensaver.<br>"
    "&copy; 2010 <i>Tarnwick</i>. All rights reserved.<br>"
    "Press <b>F1</b> for help, or visit "
    "<a href=\"https://www.tarnwick.example/\">tarnwick.example</a>.<br>"
    "<i>Credits: zlib, libjpeg and Qt.</i>";

}  // namespace

std::string FileVersionText(const VersionResource& resource) {
    if (!resource.present) return {};
    std::string translation = resource.translations.empty() ? "040904E4" : resource.translations.front();
    auto found = resource.fileVersionStrings.find(translation);
    if (found != resource.fileVersionStrings.end() && !found->second.empty()) return found->second;
    char text[32];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", resource.fixedFileVersion[0],
                  resource.fixedFileVersion[1], resource.fixedFileVersion[2], resource.fixedFileVersion[3]);
    return text;
}

VersionResource ProgramVersionResource() {
    VersionResource resource;
    resource.present = true;
    resource.translations = {"080904e4"};  // English (United Kingdom), Western European
    resource.fileVersionStrings["080904e4"] = NIMBREL_VERSION_TEXT;
    resource.fixedFileVersion = {NIMBREL_VERSION_MAJOR, NIMBREL_VERSION_MINOR, NIMBREL_VERSION_RELEASE,
                                 NIMBREL_VERSION_BUILD};
    return resource;
}

bool OpensWithShell(const QString& target) {
    return target.contains(QStringLiteral("://")) ||
           target.contains(QStringLiteral("mailto:"), Qt::CaseInsensitive);
}

TfrmAbout::TfrmAbout(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About Nimbrel"));
    setAutoFillBackground(true);
    QPalette face = palette();
    face.setColor(QPalette::Window, QColor(0xF0, 0xF0, 0xF0));
    setPalette(face);

    imgAbout = new QLabel(this);
    imgAbout->setObjectName(QStringLiteral("imgAbout"));
    imgAbout->setFixedSize(69, 65);
    imgAbout->setAlignment(Qt::AlignCenter);
    imgAbout->setPixmap(ui::RenderPicture(QStringLiteral("nimbrel"), QSize(48, 48), devicePixelRatioF()));

    Label1 = new QLabel(QStringLiteral("Nimbrel 2010"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    QFont titleFont(QStringLiteral("Arial"));
    titleFont.setBold(true);
    titleFont.setPixelSize(29);
    Label1->setFont(titleFont);

    lblVersion = new QLabel(this);
    lblVersion->setObjectName(QStringLiteral("lblVersion"));
    QFont versionFont(QStringLiteral("Times New Roman"));
    versionFont.setBold(true);
    versionFont.setPixelSize(13);
    lblVersion->setFont(versionFont);

    JvHTLabel1 = new QLabel(this);
    JvHTLabel1->setObjectName(QStringLiteral("JvHTLabel1"));
    JvHTLabel1->setTextFormat(Qt::RichText);
    JvHTLabel1->setWordWrap(true);
    JvHTLabel1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    JvHTLabel1->setMinimumSize(254, 92);
    JvHTLabel1->setText(QString::fromUtf8(kAboutHtml));
    JvHTLabel1->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    JvHTLabel1->setOpenExternalLinks(false);  // links go through the shell below
    connect(JvHTLabel1, &QLabel::linkActivated, this, &TfrmAbout::LinkClick);

    btnOK = new QPushButton(QStringLiteral("&OK"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setDefault(true);
    btnOK->setFixedWidth(69 - 8);
    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);

    // The picture heads the left column and OK closes it at the bottom; the name, the version and
    // the text fill the right one, so that all five show whole in the designed 352 x 217.
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(6, 6, 10, 8);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(2);
    grid->addWidget(imgAbout, 0, 0, 2, 1, Qt::AlignTop);
    grid->addWidget(Label1, 0, 1);
    grid->addWidget(lblVersion, 1, 1);
    grid->addWidget(JvHTLabel1, 2, 1, 2, 1);
    grid->addWidget(btnOK, 3, 0, Qt::AlignHCenter | Qt::AlignBottom);
    grid->setRowStretch(2, 1);
    grid->setColumnStretch(1, 1);
    resize(352, 217);

    FormCreate();
}

void TfrmAbout::FormCreate() {
    lblVersion->setText(QStringLiteral("Version ") +
                        ui::FromNarrow(FileVersionText(ProgramVersionResource())));
}

void TfrmAbout::LinkClick(const QString& target) {
    if (!OpensWithShell(target)) return;
    platform::ExecuteShell({std::string(), ui::ToNarrow(target), std::string(), std::string()});
}

}  // namespace nimbrel::app
