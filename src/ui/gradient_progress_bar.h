#pragma once
// A progress bar drawn as a gradient from black to white. Its range starts at 0.

#include <QString>
#include <QWidget>

namespace nimbrel::ui {

class GradientProgressBar : public QWidget {
    Q_OBJECT
public:
    explicit GradientProgressBar(QWidget* parent = nullptr);

    int maximum() const { return maximum_; }
    int position() const { return position_; }
    // A maximum below 1 draws an empty bar.
    void setMaximum(int maximum);
    void setPosition(int position);
    // A short notice drawn in the bar while it shows no progress (the window's status line);
    // "" for none. A position above 0 clears it.
    void setText(const QString& text);
    QString text() const { return text_; }

    QSize sizeHint() const override { return {200, 16}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int maximum_ = 100;
    int position_ = 0;
    QString text_;
};

}  // namespace nimbrel::ui
