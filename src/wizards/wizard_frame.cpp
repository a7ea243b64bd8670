#include "wizards/wizard_frame.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <exception>

#include "app/main_window.h"
#include "ui/file_name_edit.h"
#include "ui/form_helpers.h"
#include "ui/message_box.h"
#include "ui/narrow_text.h"
#include "ui/pictures.h"

namespace nimbrel::wizards {

namespace {

constexpr int kStripWidth = 120;
constexpr int kButtonBarHeight = 25;

// The strip's picture, drawn for the screen's scale, with the product's name at its top.
QPixmap StripPicture(qreal scale) {
    QPixmap picture = ui::RenderPicture(QStringLiteral("wizard_strip"), QSize(kStripWidth, 300), scale);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QColor(255, 255, 255, 220));
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(18);
    painter.setFont(font);
    painter.drawText(QRect(0, 14, kStripWidth, 30), Qt::AlignCenter, QStringLiteral("Nimbrel"));
    return picture;
}

}  // namespace

QString WelcomeText() {
    return QStringLiteral(
        "This wizard will take you through the necessary steps to creating a new screen saver.\n\n"
        "You can exit at anytime by pressing cancel, but all changes you made to the new project "
        "will be lost.\n\n"
        "To begin please enter a filename in the marked box below.  (This filename should not "
        "already exist.)  Then Press Next.");
}

QString FinalText() {
    return QStringLiteral(
        "All that remains now is to set the output filename of the screen saver and optionally "
        "compile it.\n\n"
        "Please enter the output filename in the marked box\n\n"
        "If you wish to compile now, check the Compile Now checkbox\n\n"
        "Then press the Finish button");
}

WizardFrame::WizardFrame(app::TfrmMain& main, QWidget* parent) : QDialog(parent), main_(main) {
    QPalette colours = palette();
    colours.setColor(QPalette::Window, Qt::white);
    colours.setColor(QPalette::WindowText, QColor(0, 0, 128));  // navy
    setPalette(colours);
    setAutoFillBackground(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* body = new QHBoxLayout;
    body->setSpacing(0);
    auto* strip = new QLabel(this);
    strip->setObjectName(QStringLiteral("imgStrip"));
    strip->setPixmap(StripPicture(devicePixelRatioF()));
    strip->setScaledContents(true);  // stretched to the strip
    strip->setFixedWidth(kStripWidth);
    strip->setMinimumHeight(1);
    body->addWidget(strip);
    nbMain = new QStackedWidget(this);
    nbMain->setObjectName(QStringLiteral("nbMain"));
    body->addWidget(nbMain, 1);
    layout->addLayout(body, 1);

    auto* bar = new QWidget(this);
    bar->setObjectName(QStringLiteral("pnlButtons"));
    bar->setFixedHeight(kButtonBarHeight);
    auto* buttons = new QHBoxLayout(bar);
    buttons->setContentsMargins(4, 1, 4, 1);
    Button3 = new QPushButton(tr("&Cancel"), bar);
    Button3->setObjectName(QStringLiteral("Button3"));
    Button1 = new QPushButton(tr("&Back"), bar);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button2 = new QPushButton(tr("&Next"), bar);
    Button2->setObjectName(QStringLiteral("Button2"));
    for (QPushButton* button : {Button3, Button1, Button2}) {
        button->setAutoDefault(false);
        button->setFixedHeight(kButtonBarHeight - 2);
    }
    buttons->addWidget(Button3);
    buttons->addStretch(1);
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);
    layout->addWidget(bar);

    connect(Button3, &QPushButton::clicked, this, &QDialog::reject);
    connect(Button1, &QPushButton::clicked, this, &WizardFrame::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &WizardFrame::Button2Click);
}

int WizardFrame::CurrentPage() const {
    return nbMain->currentIndex();
}

void WizardFrame::Button1Click() {
    if (nbMain->currentIndex() > 0) nbMain->setCurrentIndex(nbMain->currentIndex() - 1);
}

void WizardFrame::Button2Click() {
    if (nbMain->currentIndex() + 1 < nbMain->count()) nbMain->setCurrentIndex(nbMain->currentIndex() + 1);
}

QVBoxLayout* WizardFrame::AddPage(const char* name, const QString& title, const QString& text) {
    auto* page = new QWidget(nbMain);
    page->setObjectName(QString::fromLatin1(name));
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(10, 8, 10, 6);
    layout->setSpacing(4);
    auto* heading = new QLabel(title, page);
    heading->setObjectName(QStringLiteral("lblTitle"));
    heading->setAlignment(Qt::AlignCenter);
    QFont font = heading->font();
    font.setPointSizeF(font.pointSizeF() * 1.5);
    font.setBold(true);
    heading->setFont(font);
    layout->addWidget(heading);
    auto* instructions = new QLabel(text, page);
    instructions->setObjectName(QStringLiteral("lblText"));
    instructions->setWordWrap(true);
    layout->addWidget(instructions);
    nbMain->addWidget(page);
    return layout;
}

void WizardFrame::AddWelcomePage() {
    QVBoxLayout* welcome = AddPage("Welcome", tr("Nimbrel New Project Wizard"), WelcomeText());
    QWidget* page = nbMain->widget(0);
    feProjectFilename =
        ui::Named(new ui::FileNameEdit(ui::FileNameEdit::DialogKind::Save, page), "feProjectFilename");
    feProjectFilename->setDialogTitle(tr("Create Project"));
    feProjectFilename->setFilter(kProjectFilter);
    feProjectFilename->setDefaultSuffix(QStringLiteral("nssp"));
    welcome->addStretch(1);
    welcome->addWidget(ui::Caption(tr("Project Filename:"), feProjectFilename, page));
    welcome->addWidget(feProjectFilename);
}

QVBoxLayout* WizardFrame::AddFinalPage() {
    QVBoxLayout* finalPage = AddPage("Final", tr("Finalisation"), FinalText());
    QWidget* page = nbMain->widget(3);
    feOutput = ui::Named(new ui::FileNameEdit(ui::FileNameEdit::DialogKind::Save, page), "feOutput");
    feOutput->setDialogTitle(tr("Select Screensaver File"));
    feOutput->setFilter(kScreensaverFilter);
    feOutput->setDefaultSuffix(QStringLiteral("scr"));
    finalPage->addStretch(1);
    finalPage->addWidget(ui::Caption(tr("Output Filename:"), feOutput, page));
    finalPage->addWidget(feOutput);
    return finalPage;
}

void WizardFrame::AddFinishRow(QVBoxLayout* finalPage) {
    QWidget* page = finalPage->parentWidget();
    chkCompileNow = ui::Named(new QCheckBox(tr("Compile Now"), page), "chkCompileNow");
    Button4 = ui::Named(new QPushButton(tr("&Finish"), page), "Button4");
    Button4->setAutoDefault(false);
    auto* finish = new QHBoxLayout;
    finish->addWidget(chkCompileNow);
    finish->addStretch(1);
    finish->addWidget(Button4);
    finalPage->addLayout(finish);
    connect(Button4, &QPushButton::clicked, this, &WizardFrame::Button4Click);
}

void WizardFrame::Button4Click() {
    const QString path = feProjectFilename->text();
    if (path.isEmpty()) {
        ShowMessage(kNoProjectFileName);
        return;  // the wizard stays open on its page
    }
    try {
        MakeProject(path);
    } catch (const std::exception& error) {
        ui::ShowErrorBox(this, ui::FromNarrow(error.what()));
        reject();
        return;
    }
    if (chkCompileNow->isChecked()) main_.Compile1Click();
    accept();
}

void WizardFrame::FormCreate() {
    nbMain->setCurrentIndex(0);
}

void WizardFrame::ShowMessage(const QString& text) {
    ui::MessageBox::Show(this, app::kApplicationTitle, text, QMessageBox::NoIcon, QMessageBox::Ok);
}

}  // namespace nimbrel::wizards
