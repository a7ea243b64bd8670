#pragma once
// Small pieces every window's construction uses: objects named for the tests and the state code
// that find them, and caption labels.

#include <QLabel>
#include <QString>

namespace nimbrel::ui {

// Gives `object` (a widget, menu or action) its object name and returns it.
template <typename T>
T* Named(T* object, const char* name) {
    object->setObjectName(QString::fromLatin1(name));
    return object;
}

// A caption label for a control, with the control as its buddy.
inline QLabel* Caption(const QString& text, QWidget* buddy, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setBuddy(buddy);
    return label;
}

}  // namespace nimbrel::ui
