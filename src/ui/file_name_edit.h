#pragma once
// A one-line file-name box with a browse button that opens an open or a save dialog.

#include <QString>
#include <QWidget>

class QLineEdit;
class QToolButton;

namespace nimbrel::ui {

class FileNameEdit : public QWidget {
    Q_OBJECT
public:
    enum class DialogKind { Open, Save };

    explicit FileNameEdit(DialogKind kind, QWidget* parent = nullptr);

    QString text() const;
    void setText(const QString& text);

    // The dialog's filter in the program's "description|patterns" form, its title and, for a
    // save dialog, the extension added to a name typed without one ("scr").
    void setFilter(const QString& filter) { filter_ = filter; }
    void setDialogTitle(const QString& title) { title_ = title; }
    void setDefaultSuffix(const QString& suffix) { defaultSuffix_ = suffix; }
    QString filter() const { return filter_; }

    QLineEdit* lineEdit() const { return edit_; }
    QToolButton* browseButton() const { return button_; }

public slots:
    // Shows the dialog; a confirmed choice replaces the text.
    void browse();

signals:
    void textChanged(const QString& text);

private:
    DialogKind kind_;
    QLineEdit* edit_;
    QToolButton* button_;
    QString filter_;
    QString title_;
    QString defaultSuffix_;
};

}  // namespace nimbrel::ui
