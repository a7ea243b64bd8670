#include "ui/color_button.h"

#include <QColorDialog>
#include <QGridLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidgetAction>

namespace nimbrel::ui {

namespace {

constexpr std::int32_t kWhite = 16777215;

QToolButton* Swatch(QWidget* parent, std::int32_t color) {
    auto* swatch = new QToolButton(parent);
    swatch->setFixedSize(18, 18);
    swatch->setAutoRaise(true);
    QPixmap pixmap(14, 14);
    pixmap.fill(ColorButton::ToQColor(color));
    QPainter(&pixmap).drawRect(0, 0, 13, 13);
    swatch->setIcon(pixmap);
    swatch->setIconSize(pixmap.size());
    swatch->setToolTip(QString::number(color));
    return swatch;
}

}  // namespace

const std::vector<std::int32_t>& ColorButton::PaletteColors() {
    static const std::vector<std::int32_t> colors = {
        16777215, 255,   65280,    16711680, 12572607, 0,       127,   32512,   8323072, 15712159,
        12566463, 65535, 16776960, 16711935, 15726591, 8355711, 32639, 8355584, 8323199, 10461087};
    return colors;
}

QColor ColorButton::ToQColor(std::int32_t color) {
    auto value = static_cast<std::uint32_t>(color);
    return QColor(static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                  static_cast<int>((value >> 16) & 0xFF));
}

std::int32_t ColorButton::FromQColor(const QColor& color) {
    return color.red() | (color.green() << 8) | (color.blue() << 16);
}

ColorButton::ColorButton(QWidget* parent) : QToolButton(parent), custom_(16, kWhite) {
    setPopupMode(QToolButton::InstantPopup);
    setToolButtonStyle(Qt::ToolButtonIconOnly);
    setIconSize(QSize(40, 14));
    setMinimumWidth(64);

    auto* menu = new QMenu(this);
    auto* panel = new QWidget(menu);
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(4, 4, 4, 4);
    auto* grid = new QGridLayout;
    grid->setSpacing(1);
    const auto& palette = PaletteColors();
    for (std::size_t i = 0; i < palette.size(); ++i) {
        QToolButton* swatch = Swatch(panel, palette[i]);
        std::int32_t value = palette[i];
        connect(swatch, &QToolButton::clicked, this, [this, value] { choose(value); });
        grid->addWidget(swatch, static_cast<int>(i / 4), static_cast<int>(i % 4));
    }
    layout->addLayout(grid);
    auto* customGrid = new QGridLayout;
    customGrid->setSpacing(1);
    for (std::size_t i = 0; i < custom_.size(); ++i) {
        QToolButton* swatch = Swatch(panel, custom_[i]);
        connect(swatch, &QToolButton::clicked, this, [this, i] { choose(custom_[i]); });
        customGrid->addWidget(swatch, static_cast<int>(i / 8), static_cast<int>(i % 8));
    }
    layout->addLayout(customGrid);
    auto* other = new QPushButton(tr("&Other"), panel);
    other->setObjectName(QStringLiteral("btnOther"));
    connect(other, &QPushButton::clicked, this, &ColorButton::chooseOther);
    layout->addWidget(other);
    auto* action = new QWidgetAction(menu);
    action->setDefaultWidget(panel);
    menu->addAction(action);
    setMenu(menu);
    updateSwatch();
}

void ColorButton::setColor(std::int32_t color) {
    if (color == color_) return;
    color_ = color;
    updateSwatch();
    emit colorChanged(color_);
}

void ColorButton::choose(std::int32_t color) {
    menu()->hide();
    setColor(color);
}

void ColorButton::chooseOther() {
    menu()->hide();
    QColor chosen = QColorDialog::getColor(ToQColor(color_), this);
    if (chosen.isValid()) setColor(FromQColor(chosen));
}

void ColorButton::updateSwatch() {
    QPixmap pixmap(iconSize());
    pixmap.fill(ToQColor(color_));
    QPainter painter(&pixmap);
    painter.drawRect(0, 0, pixmap.width() - 1, pixmap.height() - 1);
    painter.end();
    setIcon(pixmap);
}

}  // namespace nimbrel::ui
