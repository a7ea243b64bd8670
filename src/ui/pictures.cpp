#include "ui/pictures.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QHash>
#include <QMessageBox>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
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

// The band colour of a file type: one per kind of picture, grey for the rest.
QColor TypeColour(const QString& extension) {
    static const QHash<QString, QColor> colours{
        {QStringLiteral("jpg"), QColor(0x2f, 0x6d, 0xb0)},  {QStringLiteral("jpeg"), QColor(0x2f, 0x6d, 0xb0)},
        {QStringLiteral("jpe"), QColor(0x2f, 0x6d, 0xb0)},  {QStringLiteral("png"), QColor(0x2e, 0x9e, 0x5b)},
        {QStringLiteral("gif"), QColor(0xd3, 0x7a, 0x1c)},  {QStringLiteral("bmp"), QColor(0x7b, 0x4f, 0xb8)},
        {QStringLiteral("webp"), QColor(0x1c, 0x9a, 0xa8)}, {QStringLiteral("heic"), QColor(0xb8, 0x3b, 0x6e)},
        {QStringLiteral("heif"), QColor(0xb8, 0x3b, 0x6e)}, {QStringLiteral("avif"), QColor(0xb8, 0x3b, 0x6e)},
        {QStringLiteral("tif"), QColor(0x8a, 0x6a, 0x2e)},  {QStringLiteral("tiff"), QColor(0x8a, 0x6a, 0x2e)},
        {QStringLiteral("swf"), QColor(0xc0, 0x39, 0x2b)},
    };
    return colours.value(extension, QColor(0x70, 0x78, 0x84));
}

QPixmap DrawFileEntryPicture(const QString& extension, int side, qreal ratio) {
    const int pixels = static_cast<int>(std::ceil(side * ratio));
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(pixels / 32.0, pixels / 32.0);
        // A page with a folded corner...
        QPainterPath page;
        page.moveTo(6, 2);
        page.lineTo(20, 2);
        page.lineTo(26, 8);
        page.lineTo(26, 30);
        page.lineTo(6, 30);
        page.closeSubpath();
        painter.setPen(QPen(QColor(0x23, 0x39, 0x5d), 1.5));
        painter.setBrush(Qt::white);
        painter.drawPath(page);
        painter.drawLine(QPointF(20, 2), QPointF(20, 8));
        painter.drawLine(QPointF(20, 8), QPointF(26, 8));
        // ...with a band across it in the type's colour, naming the extension.
        const QRectF band(2, 15, 28, 11);
        painter.setPen(Qt::NoPen);
        painter.setBrush(TypeColour(extension));
        painter.drawRoundedRect(band, 2, 2);
        if (!extension.isEmpty()) {
            QFont font;
            font.setBold(true);
            font.setPixelSize(8);
            painter.setFont(font);
            painter.setPen(Qt::white);
            painter.drawText(band, Qt::AlignCenter, extension.left(4).toUpper());
        }
    }
    image.setDevicePixelRatio(ratio);
    return QPixmap::fromImage(image);
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
            QStringLiteral("flash"),   QStringLiteral("wizard_strip"), QStringLiteral("msg_information"),
            QStringLiteral("msg_warning"), QStringLiteral("msg_critical"), QStringLiteral("msg_question"),
            QStringLiteral("file_missing")};
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

QIcon FileEntryIcon(const QString& path) {
    const QFileInfo info(path);
    const bool missing = path.isEmpty() || !info.isFile();
    const QString key = missing ? QStringLiteral("/missing") : info.suffix().toLower();
    static QHash<QString, QIcon> made;
    auto found = made.constFind(key);
    if (found != made.constEnd()) return *found;
    QIcon icon;
    for (qreal scale : Scales()) {
        for (int side : {16, 32}) {
            icon.addPixmap(missing ? RenderPicture(QStringLiteral("file_missing"), QSize(side, side), scale)
                                   : DrawFileEntryPicture(key, side, scale));
        }
    }
    made.insert(key, icon);
    return icon;
}

QPixmap MessagePicture(int messageBoxIcon, qreal devicePixelRatio) {
    QString name;
    switch (messageBoxIcon) {
        case QMessageBox::Information: name = QStringLiteral("msg_information"); break;
        case QMessageBox::Warning: name = QStringLiteral("msg_warning"); break;
        case QMessageBox::Critical: name = QStringLiteral("msg_critical"); break;
        case QMessageBox::Question: name = QStringLiteral("msg_question"); break;
        default: return {};
    }
    return RenderPicture(name, QSize(48, 48), devicePixelRatio);
}

QIcon ProgramIcon() {
    QIcon icon;
    for (int side : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(RenderPicture(QStringLiteral("nimbrel"), QSize(side, side), 1.0));
    return icon;
}

}  // namespace nimbrel::ui
