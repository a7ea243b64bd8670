#include "wizards/new_choice.h"

#include <QGridLayout>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QToolButton>

#include "app/main_window.h"
#include "wizards/flash_wizard.h"
#include "wizards/slideshow_wizard.h"

namespace nimbrel::wizards {

namespace {

constexpr int kPictureSize = 48;

// Picture 0: a stack of three framed photographs.
QPixmap SlidePicture() {
    QPixmap picture(kPictureSize, kPictureSize);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor skies[] = {QColor(120, 170, 230), QColor(90, 150, 220), QColor(60, 130, 210)};
    for (int i = 0; i < 3; ++i) {
        QRectF frame(4 + i * 6, 4 + i * 6, 30, 26);
        painter.setPen(QPen(QColor(0, 0, 96), 1.5));
        painter.setBrush(Qt::white);
        painter.drawRect(frame);
        QRectF photo = frame.adjusted(3, 3, -3, -3);
        painter.fillRect(photo, skies[i]);
        QPainterPath hill;
        hill.moveTo(photo.bottomLeft());
        hill.quadTo(photo.center().x(), photo.top() + photo.height() * 0.3, photo.right(), photo.bottom());
        painter.fillPath(hill, QColor(40, 140, 60));
    }
    return picture;
}

// Picture 1: a film frame with a lightning flash.
QPixmap FlashPicture() {
    QPixmap picture(kPictureSize, kPictureSize);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(0, 0, 96), 1.5));
    painter.setBrush(QColor(200, 30, 30));
    painter.drawRoundedRect(QRectF(4, 4, 40, 40), 6, 6);
    QPainterPath bolt;
    bolt.moveTo(27, 8);
    bolt.lineTo(14, 27);
    bolt.lineTo(23, 27);
    bolt.lineTo(19, 41);
    bolt.lineTo(34, 20);
    bolt.lineTo(25, 20);
    bolt.closeSubpath();
    painter.setBrush(QColor(255, 220, 40));
    painter.drawPath(bolt);
    return picture;
}

QToolButton* TypeButton(const char* name, const QString& caption, const QPixmap& picture, QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setText(caption);
    button->setIcon(QIcon(picture));
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

    ilType = {SlidePicture(), FlashPicture()};
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
