#pragma once
// The process-wide picture-format registry: a file extension (without its dot, compared in lower
// case) names a decoder and a description. Registrations only accumulate; the one made last for
// an extension wins. Decoders raise nimbrel::Error with the text the viewer shows.

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QStringList>
#include <functional>

#include "imaging/image.h"

namespace nimbrel::viewer {

// Decodes a whole file's bytes; `path` names it in messages.
using PictureDecoder = std::function<QImage(const QByteArray& bytes, const QString& path)>;

struct PictureFormat {
    QString extension;
    QString description;
    PictureDecoder decoder;
};

class PictureFormats {
public:
    // Adds (or replaces) the decoder of an extension, given with or without its dot.
    static void Register(const QString& extension, PictureDecoder decoder, const QString& description);
    // The registration of an extension, nullptr when it has none.
    static const PictureFormat* Find(const QString& extension);
    // Every registered extension, sorted.
    static QStringList Extensions();

    // The formats known from program start on (done once, on the first use of the registry).
    static void RegisterStartFormats();
    // What each new viewer window registers: dib, tga, png, jpg, wbmp.
    static void RegisterViewerFormats();
    // What each wallpaper action registers: png, tga, jpg, gif, dib.
    static void RegisterWallpaperFormats();
};

// The codecs behind the registrations.
namespace codecs {
QImage FrameworkBitmap(const QByteArray& bytes, const QString& path);    // bmp, rle
QImage FrameworkIcon(const QByteArray& bytes, const QString& path);      // ico
QImage FrameworkMetafile(const QByteArray& bytes, const QString& path);  // wmf, emf: not readable here
QImage Jpeg(const QByteArray& bytes, const QString& path);  // turned upright by its EXIF orientation
QImage Png(const QByteArray& bytes, const QString& path);
QImage Gif(const QByteArray& bytes, const QString& path);  // the first frame
QImage Dib(const QByteArray& bytes, const QString& path);  // BMP files and bare (headerless) DIBs
QImage Wbmp(const QByteArray& bytes, const QString& path);
QImage Pcx(const QByteArray& bytes, const QString& path);
QImage Targa(const QByteArray& bytes, const QString& path);
QImage PortablePixmap(const QByteArray& bytes, const QString& path);  // ppm, pgm, pbm
}  // namespace codecs

// Reads a picture file through the registry by its extension. Raises nimbrel::Error: "Cannot open
// file %s", "Unknown picture file extension (%s)" or the decoder's own text.
QImage LoadPictureFile(const QString& path);

// A file's bytes; raises nimbrel::Error "Cannot open file %s".
QByteArray ReadPictureBytes(const QString& path);

// Our pixel buffers (0xAARRGGBB) as QImage::Format_ARGB32 and back.
QImage ToQImage(const imaging::Image& image);
imaging::Image FromQImage(const QImage& image);

}  // namespace nimbrel::viewer
