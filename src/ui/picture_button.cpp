#include "ui/picture_button.h"

#include "ui/pictures.h"

namespace nimbrel::ui {

PictureButton::PictureButton(const QString& caption, const QString& picture, QWidget* parent)
    : QToolButton(parent) {
    setText(caption);
    setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    setAutoRaise(true);  // the style then draws the Active (coloured) picture under the pointer
    setFixedSize(60, 70);
    setIconSize(QSize(48, 48));
    setIcon(CommandPicture(picture));
}

}  // namespace nimbrel::ui
