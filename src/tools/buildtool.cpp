// nimbrel-buildtool: what the build makes from the sources with Qt, on the build machine.
//   nimbrel-buildtool help OUT.html TITLE IN.md...   the user's guide as one HTML page
//   nimbrel-buildtool icon OUT.ico IN.svg            a Windows icon with PNG images of 16 to 256 pixels
//   nimbrel-buildtool png OUT.png IN.svg SIZE        one PNG picture
#include <QBuffer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <QTextDocument>
#include <QtEndian>
#include <cstdio>

namespace {

int Fail(const QString& text) {
    std::fprintf(stderr, "nimbrel-buildtool: %s\n", qPrintable(text));
    return 1;
}

bool Write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size() &&
           file.flush();
}

QImage Render(const QString& svg, int side) {
    QSvgRenderer renderer(svg);
    QImage image(side, side, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    if (!renderer.isValid()) return {};
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(0, 0, side, side));
    return image;
}

const char kStyle[] =
    "body{font-family:sans-serif;max-width:46em;margin:2em auto;padding:0 1em;line-height:1.45;color:#1d2733}"
    "h1,h2,h3{color:#23395d}h1{border-bottom:2px solid #4f86c6}h2{margin-top:1.6em;border-bottom:1px solid "
    "#cfd8e3}"
    "code,pre{background:#eef2f7;border-radius:3px}pre{padding:.6em;overflow:auto}table{border-collapse:"
    "collapse}"
    "td,th{border:1px solid #cfd8e3;padding:.25em .6em;text-align:left}";

int Help(const QStringList& args) {
    if (args.size() < 3) return Fail(QStringLiteral("help OUT.html TITLE IN.md..."));
    QString body;
    for (int i = 2; i < args.size(); ++i) {
        QFile in(args[i]);
        if (!in.open(QIODevice::ReadOnly)) return Fail(QStringLiteral("cannot read ") + args[i]);
        QTextDocument document;
        document.setMarkdown(QString::fromUtf8(in.readAll()));
        // Only the body of each chapter; its inline styles carry the emphasis and code spans.
        QString html = document.toHtml();
        const qsizetype start = html.indexOf(QStringLiteral("<body"));
        const qsizetype open = html.indexOf(u'>', start) + 1;
        const qsizetype end = html.lastIndexOf(QStringLiteral("</body>"));
        html = html.mid(open, end - open);
        body += QStringLiteral("<section>\n") + html + QStringLiteral("\n</section>\n");
    }
    const QString page = QStringLiteral(
                             "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                             "<title>%1</title><style>%2</style></head><body>\n%3</body></html>\n")
                             .arg(args[1].toHtmlEscaped(), QString::fromLatin1(kStyle), body);
    return Write(args[0], page.toUtf8()) ? 0 : Fail(QStringLiteral("cannot write ") + args[0]);
}

int Icon(const QStringList& args) {
    if (args.size() != 2) return Fail(QStringLiteral("icon OUT.ico IN.svg"));
    const QList<int> sides{16, 24, 32, 48, 64, 128, 256};
    QList<QByteArray> images;
    for (int side : sides) {
        const QImage image = Render(args[1], side);
        if (image.isNull()) return Fail(QStringLiteral("cannot draw ") + args[1]);
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        images << png;
    }
    // ICONDIR, one ICONDIRENTRY per image, then the images (PNG-compressed entries).
    QByteArray ico;
    auto u16 = [&ico](quint16 v) { ico.append(char(v & 0xff)).append(char(v >> 8)); };
    auto u32 = [&](quint32 v) { u16(quint16(v & 0xffff)), u16(quint16(v >> 16)); };
    u16(0), u16(1), u16(quint16(sides.size()));
    quint32 offset = 6 + 16 * quint32(sides.size());
    for (qsizetype i = 0; i < sides.size(); ++i) {
        const quint8 side = sides[i] >= 256 ? 0 : quint8(sides[i]);
        ico.append(char(side)).append(char(side)).append('\0').append('\0');
        u16(1), u16(32), u32(quint32(images[i].size())), u32(offset);
        offset += quint32(images[i].size());
    }
    for (const QByteArray& image : images) ico += image;
    return Write(args[0], ico) ? 0 : Fail(QStringLiteral("cannot write ") + args[0]);
}

int Png(const QStringList& args) {
    if (args.size() != 3) return Fail(QStringLiteral("png OUT.png IN.svg SIZE"));
    const QImage image = Render(args[1], args[2].toInt());
    if (image.isNull()) return Fail(QStringLiteral("cannot draw ") + args[1]);
    return image.save(args[0], "PNG") ? 0 : Fail(QStringLiteral("cannot write ") + args[0]);
}

}  // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");  // no window system needed on the build machine
    QGuiApplication application(argc, argv);
    QStringList args = QGuiApplication::arguments().mid(1);
    if (args.isEmpty()) return Fail(QStringLiteral("help | icon | png"));
    const QString command = args.takeFirst();
    if (command == QStringLiteral("help")) return Help(args);
    if (command == QStringLiteral("icon")) return Icon(args);
    if (command == QStringLiteral("png")) return Png(args);
    return Fail(QStringLiteral("unknown command ") + command);
}
