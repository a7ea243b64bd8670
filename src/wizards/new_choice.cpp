#include "wizards/new_choice.h"

#include <QGridLayout>
#include <QPushButton>
#include <QToolButton>

#include "app/main_window.h"
#include "ui/pictures.h"
#include "ui/screen_fit.h"
#include "wizards/flash_wizard.h"
#include "wizards/slideshow_wizard.h"

namespace nimbrel::wizards {

namespace {

constexpr int kPictureSize = 48;

QToolButton* TypeButton(const char* name, const QString& caption, const QIcon& picture, QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setText(caption);
    button->setIcon(picture);
    button->setIconSize(QSize(kPictureSize, kPictureSize));
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setFixedSize(89, 70);
    button->setAutoRaise(true);
    // Flat with a single-line frame; the navy caption turns blue under the pointer.
    button->setStyleSheet(
        QStringLiteral("QToolButton { color: navy; background: white; border: 1px solid "
                       "#7f7f9f; } QToolButton:hover { color: blue; }"));
    return button;
}

}  // namespace

TfrmNewChoice::TfrmNewChoice(app::TfrmMain& main) : QDialog(&main), main_(main) {
    setObjectName(QStringLiteral("frmNewChoice"));
    setWindowTitle(tr("Select Type"));
    QPalette colours = palette();
    colours.setColor(QPalette::Window, Qt::white);
    setPalette(colours);
    setAutoFillBackground(true);

    // Drawn for the screen's scale, so they stay sharp.
    auto picture = [this](const char* name) {
        return QIcon(ui::RenderPicture(QString::fromLatin1(name), QSize(kPictureSize, kPictureSize),
                                       devicePixelRatioF()));
    };
    ilType = {picture("slideshow"), picture("flash")};
    btnFlash = TypeButton("btnFlash", tr("Flash"), ilType[1], this);
    btnSlide = TypeButton("btnSlide", tr("Slideshow"), ilType[0], this);
    btnCancel = new QPushButton(tr("&Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setAutoDefault(false);

    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->setSpacing(8);
    layout->addWidget(btnFlash, 0, 0);
    layout->addWidget(btnSlide, 0, 1);
    layout->addWidget(btnCancel, 1, 0, 1, 2, Qt::AlignRight);
    layout->setSizeConstraint(QLayout::SetFixedSize);  // sized to its content

    connect(btnFlash, &QToolButton::clicked, this, &TfrmNewChoice::btnFlashClick);
    connect(btnSlide, &QToolButton::clicked, this, &TfrmNewChoice::btnSlideClick);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TfrmNewChoice::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    move(main_.frameGeometry().center() - QPoint(width() / 2, height() / 2));
    ui::KeepOnScreen(*this);  // all of it on the screen, title bar included
}

void TfrmNewChoice::btnSlideClick() {
    {
        TfrmWizard wizard(main_, this);
        wizard.exec();
    }
    accept();
}

void TfrmNewChoice::btnFlashClick() {
    {
        TfrmFlashWiz wizard(main_, this);
        wizard.exec();
    }
    accept();
}

void RunNewProjectChooser(app::TfrmMain& main) {
    TfrmNewChoice chooser(main);
    chooser.exec();
}

}  // namespace nimbrel::wizards
