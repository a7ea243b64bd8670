#pragma once
// The project type chooser that the New command shows: Flash or Slideshow, each opening its
// wizard; the chooser closes as soon as that wizard has closed.

#include <QDialog>
#include <QIcon>
#include <QList>

class QPushButton;
class QToolButton;

namespace nimbrel::app {
class TfrmMain;
}

namespace nimbrel::wizards {

class TfrmNewChoice : public QDialog {
    Q_OBJECT
public:
    // Owned by the main window, whose project the wizards make.
    explicit TfrmNewChoice(app::TfrmMain& main);

public slots:
    void btnSlideClick();  // the slideshow wizard, then closes with the OK result
    void btnFlashClick();  // the Flash wizard, then closes with the OK result

protected:
    void showEvent(QShowEvent* event) override;

private:
    app::TfrmMain& main_;
    // Picture 0 shows on btnSlide, picture 1 on btnFlash.
    QList<QIcon> ilType;
    QToolButton* btnFlash = nullptr;
    QToolButton* btnSlide = nullptr;
    QPushButton* btnCancel = nullptr;
};

// What New runs once it has reset the main window: the chooser, modal, destroyed when it closes.
void RunNewProjectChooser(app::TfrmMain& main);

}  // namespace nimbrel::wizards
