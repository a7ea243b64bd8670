#pragma once
// A multi-line text box for the About texts: the user can type at most a given number of
// characters, and Enter does not insert a line break. Text set by the program is not cut.

#include <QPlainTextEdit>

namespace nimbrel::ui {

class LimitedMemo : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit LimitedMemo(int maxLength, QWidget* parent = nullptr);

    int maxLength() const { return maxLength_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;

private:
    // How many characters may still be typed in place of the selection.
    int room() const;

    int maxLength_;
};

}  // namespace nimbrel::ui
