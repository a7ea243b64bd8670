#pragma once
// Every message box of the program goes through here, so that tests can answer them.

#include <QList>
#include <QMessageBox>
#include <QString>

namespace nimbrel::ui {

class MessageBox {
public:
    struct Shown {
        QString caption;
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMessageBox::StandardButtons buttons;
    };

    // Shows a modal box and returns the button pressed.
    static QMessageBox::StandardButton Show(
        QWidget* parent, const QString& caption, const QString& text, QMessageBox::Icon icon,
        QMessageBox::StandardButtons buttons,
        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);

    // Test seam: while on, no box appears; each one is recorded and answered with the next
    // queued answer, or with its default button (the first button when it has none).
    static void SetTestMode(bool on);
    static void SetNextAnswer(QMessageBox::StandardButton answer);
    static const QList<Shown>& ShownBoxes();
    static void ClearShown();
};

// The text the general error box shows: the message with a full stop added when its last
// character's code is above that of ".".
QString ErrorBoxText(const QString& message);

// The general error box: caption "Nimbrel", an error icon and an OK button.
void ShowErrorBox(QWidget* parent, const QString& message);

}  // namespace nimbrel::ui
