#pragma once
// A command button of the command bar: 60 by 70 pixels, its caption under a 48 by 48 picture,
// grey normally and in colour while the pointer is over it.

#include <QToolButton>

namespace nimbrel::ui {

class PictureButton : public QToolButton {
    Q_OBJECT
public:
    // `picture` names one of the program's pictures (ui/pictures.h).
    PictureButton(const QString& caption, const QString& picture, QWidget* parent = nullptr);
};

}  // namespace nimbrel::ui
