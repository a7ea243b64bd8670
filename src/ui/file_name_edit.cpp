#include "ui/file_name_edit.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QToolButton>

#include "ui/file_dialog.h"

namespace nimbrel::ui {

FileNameEdit::FileNameEdit(DialogKind kind, QWidget* parent)
    : QWidget(parent), kind_(kind), edit_(new QLineEdit(this)), button_(new QToolButton(this)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(edit_, 1);
    layout->addWidget(button_);
    button_->setText(QStringLiteral("..."));
    button_->setToolTip(tr("Browse"));
    setFocusProxy(edit_);
    connect(button_, &QToolButton::clicked, this, &FileNameEdit::browse);
    connect(edit_, &QLineEdit::textChanged, this, &FileNameEdit::textChanged);
}

QString FileNameEdit::text() const {
    return edit_->text();
}

void FileNameEdit::setText(const QString& text) {
    edit_->setText(text);
}

void FileNameEdit::browse() {
    // The folder of the name in the box, when there is one; otherwise the dialog picks.
    QString directory = text().isEmpty() ? QString() : QFileInfo(text()).absolutePath();
    QString chosen = kind_ == DialogKind::Save
                         ? FileDialog::GetSaveFileName(this, title_, filter_, defaultSuffix_, directory)
                         : FileDialog::GetOpenFileName(this, title_, filter_, directory);
    if (!chosen.isEmpty()) setText(chosen);
}

}  // namespace nimbrel::ui
