#include "ui/pictures.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cmath>

// Resources of a static library are registered by hand, outside any namespace.
static void InitPictureResources() {
    Q_INIT_RESOURCE(icons);
}

namespace nimbrel::ui {

namespace {

QString ResourcePath(const QString& name) {
    static const bool initialised = (InitPictureResources(), true);
    (void)initialised;
    return QStringLiteral(":/icons/%1.svg").arg(name);
}

QList<qreal> Scales() {
    QList<qreal> scales{1.0, 2.0};
    const qreal own = qGuiApp ? qGuiApp->devicePixelRatio() : 1.0;
    if (!scales.contains(own)) scales << own;
    return scales;
}

}  // namespace

QStringList PictureNames() {
    return {QStringLiteral("new"),     QStringLiteral("open"),        QStringLiteral("save"),
            QStringLiteral("exit"),    QStringLiteral("compile"),     QStringLiteral("test"),
            QStringLiteral("addfile"), QStringLiteral("delfile"),     QStringLiteral("check"),
            QStringLiteral("help"),    QStringLiteral("about"),       QStringLiteral("website"),
            QStringLiteral("preview"), QStringLiteral("nimbrel"),     QStringLiteral("slideshow"),
            QStringLiteral("flash"),   QStringLiteral("wizard_strip")};
}

QPixmap RenderPicture(const QString& name, QSize size, qreal devicePixelRatio) {
    QSvgRenderer renderer(ResourcePath(name));
    if (!renderer.isValid()) return {};
    const QSize pixels(static_cast<int>(std::ceil(size.width() * devicePixelRatio)),
                       static_cast<int>(std::ceil(size.height() * devicePixelRatio)));
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(pixels)));
    }
    image.setDevicePixelRatio(devicePixelRatio);
    return QPixmap::fromImage(image);
}

QPixmap GreyPicture(const QPixmap& colour) {
    QImage image = colour.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            // Grey of the same lightness, lifted a quarter towards white.
            const int grey = qGray(line[x]);
            const int lifted = grey + (255 - grey) / 4;
            line[x] = qRgba(lifted, lifted, lifted, qAlpha(line[x]));
        }
    }
    image.setDevicePixelRatio(colour.devicePixelRatio());
    return QPixmap::fromImage(image);
}

QIcon CommandPicture(const QString& name) {
    QIcon icon;
    for (qreal scale : Scales()) {
        const QPixmap colour = RenderPicture(name, QSize(48, 48), scale);
        if (colour.isNull()) continue;
        const QPixmap grey = GreyPicture(colour);
        icon.addPixmap(grey, QIcon::Normal);
        icon.addPixmap(grey, QIcon::Disabled);
        icon.addPixmap(colour, QIcon::Active);
        icon.addPixmap(colour, QIcon::Selected);
    }
    return icon;
}

QIcon ProgramIcon() {
    QIcon icon;
    for (int side : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(RenderPicture(QStringLiteral("nimbrel"), QSize(side, side), 1.0));
    return icon;
}

}  // namespace nimbrel::ui
