#include "ui/message_box.h"

#include <QApplication>
#include <QPushButton>

#include "ui/pictures.h"

namespace nimbrel::ui {

namespace {

struct TestState {
    bool on = false;
    QList<QMessageBox::StandardButton> answers;
    QList<MessageBox::Shown> shown;
};

TestState& State() {
    static TestState state;
    return state;
}

QMessageBox::StandardButton FirstButton(QMessageBox::StandardButtons buttons) {
    for (unsigned bit = QMessageBox::FirstButton; bit <= QMessageBox::LastButton; bit <<= 1)
        if (buttons.testFlag(static_cast<QMessageBox::StandardButton>(bit)))
            return static_cast<QMessageBox::StandardButton>(bit);
    return QMessageBox::NoButton;
}

}  // namespace

QMessageBox::StandardButton MessageBox::Show(QWidget* parent, const QString& caption, const QString& text,
                                             QMessageBox::Icon icon, QMessageBox::StandardButtons buttons,
                                             QMessageBox::StandardButton defaultButton) {
    TestState& state = State();
    if (state.on) {
        state.shown.append({caption, text, icon, buttons});
        if (!state.answers.isEmpty()) return state.answers.takeFirst();
        return defaultButton != QMessageBox::NoButton ? defaultButton : FirstButton(buttons);
    }
    QMessageBox box(icon, caption, text, buttons, parent);
    // Our own pictures, drawn for the screen, rather than the style's.
    const QPixmap picture = MessagePicture(icon, parent ? parent->devicePixelRatioF() : qApp->devicePixelRatio());
    if (!picture.isNull()) box.setIconPixmap(picture);
    if (defaultButton != QMessageBox::NoButton) box.setDefaultButton(defaultButton);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

void MessageBox::SetTestMode(bool on) {
    State().on = on;
    State().answers.clear();
}

void MessageBox::SetNextAnswer(QMessageBox::StandardButton answer) {
    State().answers.append(answer);
}

const QList<MessageBox::Shown>& MessageBox::ShownBoxes() {
    return State().shown;
}

void MessageBox::ClearShown() {
    State().shown.clear();
}

QString ErrorBoxText(const QString& message) {
    if (!message.isEmpty() && message.back().unicode() > u'.') return message + u'.';
    return message;
}

void ShowErrorBox(QWidget* parent, const QString& message) {
    MessageBox::Show(parent, QStringLiteral("Nimbrel"), ErrorBoxText(message), QMessageBox::Critical,
                     QMessageBox::Ok);
}

}  // namespace nimbrel::ui
