#include "ui/limited_memo.h"

#include <QKeyEvent>
#include <QMimeData>
#include <QTextCursor>

namespace nimbrel::ui {

LimitedMemo::LimitedMemo(int maxLength, QWidget* parent) : QPlainTextEdit(parent), maxLength_(maxLength) {
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setTabChangesFocus(true);
}

int LimitedMemo::room() const {
    QTextCursor cursor = textCursor();
    auto length = toPlainText().size() - (cursor.selectionEnd() - cursor.selectionStart());
    return maxLength_ - static_cast<int>(length);
}

void LimitedMemo::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->ignore();
        return;
    }
    QString text = event->text();
    bool printable = !text.isEmpty() && text.at(0).isPrint();
    if (printable && !(event->modifiers() & Qt::ControlModifier) && room() < text.size()) {
        event->accept();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void LimitedMemo::insertFromMimeData(const QMimeData* source) {
    if (!source->hasText()) return;
    QString text = source->text();
    int available = room();
    if (available <= 0) return;
    if (text.size() > available) text.truncate(available);
    textCursor().insertText(text);
}

}  // namespace nimbrel::ui
