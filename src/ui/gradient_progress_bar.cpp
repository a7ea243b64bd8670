#include "ui/gradient_progress_bar.h"

#include <QLinearGradient>
#include <QPainter>

namespace nimbrel::ui {

GradientProgressBar::GradientProgressBar(QWidget* parent) : QWidget(parent) {
    setFixedHeight(16);
}

void GradientProgressBar::setMaximum(int maximum) {
    maximum_ = maximum;
    update();
}

void GradientProgressBar::setPosition(int position) {
    position_ = position;
    if (position > 0) text_.clear();
    update();
}

void GradientProgressBar::setText(const QString& text) {
    text_ = text;
    update();
}

void GradientProgressBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QRect area = rect();
    painter.fillRect(area, palette().window());
    painter.setPen(palette().mid().color());
    painter.drawRect(area.adjusted(0, 0, -1, -1));
    if (maximum_ < 1 || position_ <= 0) {
        if (!text_.isEmpty()) {
            painter.setPen(palette().windowText().color());
            painter.drawText(area.adjusted(6, 0, -6, 0), Qt::AlignLeft | Qt::AlignVCenter,
                             fontMetrics().elidedText(text_, Qt::ElideRight, area.width() - 12));
        }
        return;
    }
    int clamped = position_ > maximum_ ? maximum_ : position_;
    QRect inner = area.adjusted(1, 1, -1, -1);
    int width = static_cast<int>(static_cast<long long>(inner.width()) * clamped / maximum_);
    QLinearGradient gradient(inner.topLeft(), inner.topRight());
    gradient.setColorAt(0, Qt::black);
    gradient.setColorAt(1, Qt::white);
    painter.fillRect(QRect(inner.left(), inner.top(), width, inner.height()), gradient);
}

}  // namespace nimbrel::ui
