#include "ui/picture_button.h"

#include <QIcon>
#include <QImage>
#include <QPixmap>

namespace nimbrel::ui {

namespace {

QPixmap Grey(const QPixmap& pixmap) {
    QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            int grey = qGray(line[x]);
            line[x] = qRgba(grey, grey, grey, qAlpha(line[x]));
        }
    }
    return QPixmap::fromImage(image);
}

}  // namespace

PictureButton::PictureButton(const QString& caption, const QIcon& picture, QWidget* parent)
    : QToolButton(parent) {
    setText(caption);
    setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    setAutoRaise(true);  // the style then draws the Active (coloured) picture under the pointer
    setFixedSize(60, 70);
    setIconSize(QSize(48, 48));
    QPixmap colour = picture.pixmap(48, 48);
    QIcon icon;
    icon.addPixmap(Grey(colour), QIcon::Normal);
    icon.addPixmap(colour, QIcon::Active);
    icon.addPixmap(Grey(colour), QIcon::Disabled);
    setIcon(icon);
}

}  // namespace nimbrel::ui
