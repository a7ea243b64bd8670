#pragma once
// A progress bar drawn as a gradient from black to white. Its range starts at 0.

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

    QSize sizeHint() const override { return {200, 16}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int maximum_ = 100;
    int position_ = 0;
};

}  // namespace nimbrel::ui
