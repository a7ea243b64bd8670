#pragma once
// A colour button with a drop-down palette. Its value is a 32-bit colour value with red in the
// low byte, then green, then blue (the top byte 0 for an RGB colour).

#include <QColor>
#include <QToolButton>
#include <cstdint>
#include <vector>

namespace nimbrel::ui {

class ColorButton : public QToolButton {
    Q_OBJECT
public:
    explicit ColorButton(QWidget* parent = nullptr);

    std::int32_t color() const { return color_; }
    void setColor(std::int32_t color);

    // The palette's 20 colours (4 columns by 5 rows) and the 16 custom colours below them.
    static const std::vector<std::int32_t>& PaletteColors();
    const std::vector<std::int32_t>& customColors() const { return custom_; }

    static QColor ToQColor(std::int32_t color);
    static std::int32_t FromQColor(const QColor& color);

signals:
    void colorChanged(std::int32_t color);

private:
    void choose(std::int32_t color);
    void chooseOther();
    void updateSwatch();

    std::int32_t color_ = 0;
    std::vector<std::int32_t> custom_;
};

}  // namespace nimbrel::ui
