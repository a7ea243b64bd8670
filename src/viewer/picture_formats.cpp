#include "viewer/picture_formats.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QMap>
#include <algorithm>
#include <cstring>

#if NIMBREL_HAVE_CODECS
#include "codecs/codecs.h"
#endif
#include "imaging/decoders.h"
#include "imaging/exif.h"
#include "platform/error.h"
#include "ui/narrow_text.h"

namespace nimbrel::viewer {
namespace {

QMap<QString, PictureFormat>& Registry() {
    static QMap<QString, PictureFormat> registry;
    return registry;
}

QString Normalized(const QString& extension) {
    QString e = extension.toLower();
    if (e.startsWith(u'.')) e.remove(0, 1);
    return e;
}

[[noreturn]] void Fail(const QString& text) {
    throw Error(ui::ToNarrow(text));
}

QString FileName(const QString& path) {
    return QFileInfo(path).fileName();
}

// Qt's reader for one format, chosen by the extension and not by the content, as the registry
// picks decoders. `kind` names the format in messages.
QImage ReadWithQt(const QByteArray& bytes, const QString& path, const char* format, const QString& kind) {
    if (!QImageReader::supportedImageFormats().contains(QByteArray(format)))
        Fail(QStringLiteral("%1 cannot be shown on this system (%2)").arg(kind, FileName(path)));
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, format);
    reader.setAutoDetectImageFormat(false);
    reader.setAutoTransform(false);
    QImage image = reader.read();
    if (image.isNull())
        Fail(QStringLiteral("%1 is not a valid %2 (%3)").arg(FileName(path), kind, reader.errorString()));
    return image;
}

#if NIMBREL_HAVE_CODECS
// HEIC, AVIF, WebP and TIFF through the core's library decoders: upright and in sRGB, as the
// compiled show will have them.
QImage ReadWithLibraries(const QByteArray& bytes, const QString& path, const QString& kind) {
    const std::span<const std::uint8_t> data(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                             static_cast<std::size_t>(bytes.size()));
    auto source = nimbrel::codecs::MakeLibraryDecoder()->Open(ui::ToNarrow(path), data, {});
    if (!source) Fail(QStringLiteral("%1 is not a valid %2").arg(FileName(path), kind));
    imaging::Image image;
    try {
        image = imaging::ReadWholePicture(*source);
    } catch (const Error&) {
        Fail(QStringLiteral("%1 is not a valid %2").arg(FileName(path), kind));
    }
    const nimbrel::codecs::SrgbConverter toSrgb(source->ColorProfile());
    toSrgb.Apply(image.Data(), static_cast<std::size_t>(image.Width()) * image.Height());
    return ToQImage(imaging::ApplyOrientation(image, source->Info().orientation));
}
#endif

QImage FromCoreDecoder(imaging::Image (*decode)(const std::uint8_t*, std::size_t), const QByteArray& bytes) {
    return ToQImage(decode(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                           static_cast<std::size_t>(bytes.size())));
}

std::uint32_t LittleEndian32(const QByteArray& bytes, qsizetype at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<std::uint8_t>(bytes[at + i]);
    return v;
}

// A bare DIB (BITMAPINFOHEADER, colour table, bits) with the 14-byte file header in front that
// the BMP reader expects; nothing is added when the data already starts with one or is no DIB.
QByteArray WithFileHeader(const QByteArray& bytes) {
    if (bytes.size() < 16 || bytes.startsWith("BM")) return bytes;
    std::uint32_t headerSize = LittleEndian32(bytes, 0);
    if (headerSize != 40 && headerSize != 52 && headerSize != 56 && headerSize != 108 && headerSize != 124)
        return bytes;
    if (bytes.size() < static_cast<qsizetype>(headerSize)) return bytes;
    std::uint32_t bitCount = static_cast<std::uint8_t>(bytes[14]) |
                             (static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[15])) << 8);
    std::uint32_t compression = LittleEndian32(bytes, 16);
    std::uint32_t colorsUsed = LittleEndian32(bytes, 32);
    std::uint64_t tableEntries = colorsUsed;
    if (tableEntries == 0 && bitCount <= 8) tableEntries = std::uint64_t{1} << bitCount;
    std::uint64_t masks = (headerSize == 40 && (compression == 3 || compression == 6)) ? 12 : 0;
    std::uint64_t offset = 14 + headerSize + masks + tableEntries * 4;
    std::uint64_t total = 14 + static_cast<std::uint64_t>(bytes.size());
    if (offset > total || total > 0xFFFFFFFFu) return bytes;
    QByteArray out;
    out.reserve(static_cast<qsizetype>(total));
    out.append("BM");
    auto put32 = [&out](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) out.append(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    put32(static_cast<std::uint32_t>(total));
    put32(0);
    put32(static_cast<std::uint32_t>(offset));
    out.append(bytes);
    return out;
}

}  // namespace

namespace codecs {

QImage FrameworkBitmap(const QByteArray& bytes, const QString& path) {
    return ReadWithQt(bytes, path, "bmp", QStringLiteral("Windows bitmap"));
}

QImage FrameworkIcon(const QByteArray& bytes, const QString& path) {
    return ReadWithQt(bytes, path, "ico", QStringLiteral("Windows icon"));
}

QImage FrameworkMetafile(const QByteArray&, const QString& path) {
    // No metafile renderer exists outside Windows' GDI, and Qt has none either.
    Fail(QStringLiteral("Windows metafiles cannot be shown on this system (%1)").arg(FileName(path)));
}

QImage Jpeg(const QByteArray& bytes, const QString& path) {
    QImage image = ReadWithQt(bytes, path, "jpeg", QStringLiteral("JPEG image"));
    int orientation = imaging::ReadExifOrientation(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                                   static_cast<std::size_t>(bytes.size()));
    if (orientation == 1) return image;
    return ToQImage(imaging::ApplyOrientation(FromQImage(image), orientation));
}

QImage Png(const QByteArray& bytes, const QString& path) {
    return ReadWithQt(bytes, path, "png", QStringLiteral("PNG image"));
}

QImage Gif(const QByteArray& bytes, const QString& path) {
    return ReadWithQt(bytes, path, "gif", QStringLiteral("GIF image"));
}

QImage Dib(const QByteArray& bytes, const QString& path) {
    return ReadWithQt(WithFileHeader(bytes), path, "bmp", QStringLiteral("device-independent bitmap"));
}

QImage Wbmp(const QByteArray& bytes, const QString&) {
    return FromCoreDecoder(&imaging::DecodeWbmp, bytes);
}

QImage Pcx(const QByteArray& bytes, const QString&) {
    return FromCoreDecoder(&imaging::DecodePcx, bytes);
}

QImage Targa(const QByteArray& bytes, const QString& path) {
    try {
        return FromCoreDecoder(&imaging::DecodeTga, bytes);
    } catch (const Error& e) {
        Fail(QStringLiteral("%1 is not a valid Targa image (%2)").arg(FileName(path), QString::fromUtf8(e.what())));
    }
}

QImage PortablePixmap(const QByteArray& bytes, const QString& path) {
    // The family shares one reader; the header says which member a file is.
    QByteArray format = bytes.size() >= 2 && bytes[0] == 'P' ? (bytes[1] == '1' || bytes[1] == '4'   ? "pbm"
                                                                : bytes[1] == '2' || bytes[1] == '5' ? "pgm"
                                                                                                     : "ppm")
                                                             : "ppm";
    return ReadWithQt(bytes, path, format.constData(), QStringLiteral("portable pixmap"));
}

}  // namespace codecs

void PictureFormats::Register(const QString& extension, PictureDecoder decoder, const QString& description) {
    QString key = Normalized(extension);
    Registry().insert(key, PictureFormat{key, description, std::move(decoder)});
}

const PictureFormat* PictureFormats::Find(const QString& extension) {
    RegisterStartFormats();
    auto it = Registry().constFind(Normalized(extension));
    return it == Registry().constEnd() ? nullptr : &it.value();
}

QStringList PictureFormats::Extensions() {
    RegisterStartFormats();
    return Registry().keys();
}

void PictureFormats::RegisterStartFormats() {
    static bool done = false;
    if (done) return;
    done = true;
    using namespace codecs;
    // Formats whose readers Qt may or may not have (image-format plugins): each decoder says so
    // when the reader is missing.
    auto qtReader = [](const char* format, QString kind) -> PictureDecoder {
        return [format, kind](const QByteArray& bytes, const QString& path) {
            return ReadWithQt(bytes, path, format, kind);
        };
    };
    auto unavailable = [](QString kind) -> PictureDecoder {
        return [kind](const QByteArray&, const QString& path) -> QImage {
            Fail(QStringLiteral("%1 cannot be shown on this system (%2)").arg(kind, FileName(path)));
        };
    };
    struct Entry {
        const char* extension;
        PictureDecoder decoder;
        const char* description;
    };
    const PictureDecoder tiff = qtReader("tiff", QStringLiteral("TIFF image"));
    const PictureDecoder sgi = qtReader("sgi", QStringLiteral("SGI image"));
    const PictureDecoder psd = qtReader("psd", QStringLiteral("Photoshop image"));
    const PictureDecoder eps = qtReader("eps", QStringLiteral("Encapsulated PostScript image"));
    const Entry entries[] = {
        // The framework's own formats, then the JPEG codec.
        {"wmf", FrameworkMetafile, "Windows metafiles"},
        {"emf", FrameworkMetafile, "Windows enhanced meta files"},
        {"ico", FrameworkIcon, "Windows icons"},
        {"bmp", FrameworkBitmap, "Windows bitmaps"},
        {"jpeg", Jpeg, "JPEG images"},
        {"jpg", Jpeg, "JPEG images"},
        // The multi-format collection.
        {"bmp", FrameworkBitmap, "Windows bitmaps"},
        {"ico", FrameworkIcon, "Windows icons"},
        {"wmf", FrameworkMetafile, "Windows metafiles"},
        {"emf", FrameworkMetafile, "Windows enhanced meta files"},
        {"jfif", Jpeg, "JFIF images"},
        {"jpg", Jpeg, "JPEG images"},
        {"jpe", Jpeg, "JPE images"},
        {"jpeg", Jpeg, "JPEG images"},
        {"rle", FrameworkBitmap, "Run length encoded Windows bitmaps"},
        {"dib", FrameworkBitmap, "Device independent bitmaps"},
        {"win", Targa, "Truevision images"},
        {"vst", Targa, "Truevision images"},
        {"vda", Targa, "Truevision images"},
        {"tga", Targa, "Truevision images"},
        {"icb", Targa, "Truevision images"},
        {"tiff", tiff, "Macintosh TIFF images"},
        {"tif", tiff, "PC TIF images"},
        {"fax", tiff, "GFI fax images"},
        {"eps", eps, "Encapsulated Postscript images"},
        {"pcx", Pcx, "ZSoft Paintbrush images"},
        {"pcc", Pcx, "ZSoft Paintbrush images"},
        {"scr", Pcx, "Word 5.x screen capture images"},
        {"rpf", unavailable(QStringLiteral("Alias/Wavefront image")), "Alias/Wavefront images"},
        {"rla", unavailable(QStringLiteral("Alias/Wavefront image")), "Alias/Wavefront images"},
        {"sgi", sgi, "SGI true color images"},
        {"rgba", sgi, "SGI true color images with alpha"},
        {"rgb", sgi, "SGI true color images"},
        {"bw", sgi, "SGI black/white images"},
        {"psd", psd, "Photoshop images"},
        {"pdd", psd, "Photoshop images"},
        {"ppm", PortablePixmap, "Portable pixel map images"},
        {"pgm", PortablePixmap, "Portable gray map images"},
        {"pbm", PortablePixmap, "Portable bitmap images"},
        {"cel", unavailable(QStringLiteral("Autodesk image")), "Autodesk images"},
        {"pic", unavailable(QStringLiteral("Autodesk image")), "Autodesk images"},
        {"pcd", unavailable(QStringLiteral("Kodak Photo-CD image")), "Kodak Photo-CD images"},
        {"cut", unavailable(QStringLiteral("Dr. Halo image")), "Dr. Halo images"},
        {"psp", unavailable(QStringLiteral("Paintshop Pro image")), "Paintshop Pro images"},
        {"png", Png, "Portable network graphics"},
        // The single-format codecs.
        {"png", Png, "PNG image"},
        {"gif", Gif, "GIF Image"},
        {"dib", Dib, "Device Independant Bitmap"},
        {"wbmp", Wbmp, "WBMP Image"},
    };
    for (const Entry& e : entries)
        Register(QString::fromLatin1(e.extension), e.decoder, QString::fromLatin1(e.description));
#if NIMBREL_HAVE_CODECS
    // Phone, web and scanner photos, read by the same libraries as the build.
    auto library = [](QString kind) -> PictureDecoder {
        return [kind](const QByteArray& bytes, const QString& path) {
            return ReadWithLibraries(bytes, path, kind);
        };
    };
    const PictureDecoder heif = library(QStringLiteral("HEIF image"));
    Register(QStringLiteral("heic"), heif, QStringLiteral("HEIC images"));
    Register(QStringLiteral("heif"), heif, QStringLiteral("HEIF images"));
    Register(QStringLiteral("avif"), library(QStringLiteral("AVIF image")), QStringLiteral("AVIF images"));
    Register(QStringLiteral("webp"), library(QStringLiteral("WebP image")), QStringLiteral("WebP images"));
    const PictureDecoder tiffLibrary = library(QStringLiteral("TIFF image"));
    Register(QStringLiteral("tiff"), tiffLibrary, QStringLiteral("Macintosh TIFF images"));
    Register(QStringLiteral("tif"), tiffLibrary, QStringLiteral("PC TIF images"));
#endif
}

void PictureFormats::RegisterViewerFormats() {
    RegisterStartFormats();
    Register(QStringLiteral("dib"), codecs::Dib, QStringLiteral("Device Independant Bitmap"));
    Register(QStringLiteral("tga"), codecs::Targa, QStringLiteral("Targa image"));
    Register(QStringLiteral("png"), codecs::Png, QStringLiteral("PNG image"));
    Register(QStringLiteral("jpg"), codecs::Jpeg, QStringLiteral("JPEG image"));
    Register(QStringLiteral("wbmp"), codecs::Wbmp, QStringLiteral("WBMP Image"));
}

void PictureFormats::RegisterWallpaperFormats() {
    RegisterStartFormats();
    Register(QStringLiteral("png"), codecs::Png, QStringLiteral("PNG image"));
    Register(QStringLiteral("tga"), codecs::Targa, QStringLiteral("Targa image"));
    Register(QStringLiteral("jpg"), codecs::Jpeg, QStringLiteral("JPEG image"));
    Register(QStringLiteral("gif"), codecs::Gif, QStringLiteral("GIF image"));
    Register(QStringLiteral("dib"), codecs::Dib, QStringLiteral("DIB image"));
}

QByteArray ReadPictureBytes(const QString& path) {
    QFile file(path);
    if (QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly))
        Fail(QStringLiteral("Cannot open file %1").arg(path));
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) Fail(QStringLiteral("Cannot open file %1").arg(path));
    return bytes;
}

QImage LoadPictureFile(const QString& path) {
    const PictureFormat* format = PictureFormats::Find(QFileInfo(path).suffix());
    if (!format)
        Fail(QStringLiteral("Unknown picture file extension (.%1)").arg(QFileInfo(path).suffix().toLower()));
    QImage image = format->decoder(ReadPictureBytes(path), path);
    if (image.isNull()) Fail(QStringLiteral("%1 holds no picture").arg(FileName(path)));
    return image;
}

QImage ToQImage(const imaging::Image& image) {
    QImage out(image.Width(), image.Height(), QImage::Format_ARGB32);
    if (out.isNull() && !image.Empty()) throw Error("Out of memory");
    for (int y = 0; y < image.Height(); ++y)
        std::memcpy(out.scanLine(y), image.Row(y), static_cast<std::size_t>(image.Stride()));
    return out;
}

imaging::Image FromQImage(const QImage& image) {
    QImage source = image.convertToFormat(QImage::Format_ARGB32);
    imaging::Image out(source.width(), source.height());
    for (int y = 0; y < source.height(); ++y)
        std::memcpy(out.Row(y), source.constScanLine(y), static_cast<std::size_t>(out.Stride()));
    return out;
}

}  // namespace nimbrel::viewer
