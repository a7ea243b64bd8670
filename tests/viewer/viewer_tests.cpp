// The image viewer and its picture-format registry, driven headless with pictures the tests make.
#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QLabel>
#include <QMenu>
#include <QMovie>
#include <QPainter>
#include <QPrinter>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <ostream>

#include "app/main_window.h"
#include "platform/files.h"
#include "platform/temp.h"
#include "platform/wallpaper.h"
#include "support/qt_test_env.h"
#include "ui/message_box.h"
#include "ui/narrow_text.h"
#include "viewer/image_view.h"
#include "viewer/picture_formats.h"
#ifdef NIMBREL_HAVE_TEST_PICTURES
#include "codecs/codecs.h"
#include "test_pictures.h"
#endif

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace nimbrel::viewer {
namespace {

using platform::WallpaperValue;
using ui::MessageBox;

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(
    new test::QtTestEnvironment("viewer_tests", [] { MessageBox::SetTestMode(true); }));

// A width x height picture: left half red, right half blue.
QImage TwoColours(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::blue);
    QPainter painter(&image);
    painter.fillRect(0, 0, width / 2, height, Qt::red);
    return image;
}

QByteArray Encoded(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(image.save(&buffer, format)) << format;
    return bytes;
}

// A JPEG with an APP1 Exif block whose IFD0 holds only the Orientation tag.
QByteArray JpegWithOrientation(const QImage& image, int orientation) {
    QByteArray jpeg = Encoded(image, "JPEG");
    QByteArray exif("Exif\0\0", 6);
    const char tiff[] = {'I',
                         'I',
                         42,
                         0,
                         8,
                         0,
                         0,
                         0,  // header, IFD0 at 8
                         1,
                         0,  // one entry
                         0x12,
                         0x01,
                         3,
                         0,
                         1,
                         0,
                         0,
                         0,  // Orientation, SHORT, 1
                         static_cast<char>(orientation),
                         0,
                         0,
                         0,  // value
                         0,
                         0,
                         0,
                         0};  // no next IFD
    exif.append(tiff, sizeof tiff);
    QByteArray segment("\xFF\xE1", 2);
    int length = static_cast<int>(exif.size()) + 2;
    segment.append(static_cast<char>(length >> 8)).append(static_cast<char>(length & 0xFF)).append(exif);
    return jpeg.left(2) + segment + jpeg.mid(2);
}

// A 2 x 2 24-bit PCX (three planes, RLE): top row red, bottom row green (values below 0xC0).
QByteArray Pcx2x2() {
    QByteArray header(128, '\0');
    header[0] = 0x0A;
    header[1] = 5;
    header[2] = 1;
    header[3] = 8;
    header[8] = 1;   // xMax
    header[10] = 1;  // yMax
    header[65] = 3;
    header[66] = 2;  // bytes per line
    header[68] = 1;
    QByteArray data = header;
    data.append(QByteArray("\x80\x80\x00\x00\x00\x00", 6));  // red row: R plane, G plane, B plane
    data.append(QByteArray("\x00\x00\x80\x80\x00\x00", 6));  // green row
    return data;
}

// A 3 x 2 WBMP: rows 1 0 1 and 0 1 0 (1 is white).
QByteArray Wbmp3x2() {
    return QByteArray("\x00\x00\x03\x02\xA0\x40", 6);
}

// A 1 x 1 GIF whose only pixel is red.
QByteArray RedGif() {
    return QByteArray(
        "GIF89a\x01\x00\x01\x00\x80\x00\x00\xFF\x00\x00\x00\x00\x00"
        "\x2C\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00\x3B",
        35);
}

bool Near(QRgb a, QColor b) {
    return std::abs(qRed(a) - b.red()) < 40 && std::abs(qGreen(a) - b.green()) < 40 &&
           std::abs(qBlue(a) - b.blue()) < 40;
}

class ViewerTest : public ::testing::Test {
protected:
    void SetUp() override {
        MessageBox::SetTestMode(true);
        MessageBox::ClearShown();
        std::filesystem::create_directories(dir_.Path() + "windows");
        platform::SetWallpaperTestRecorder(
            [this](const std::vector<WallpaperValue>& values) { recorded_.push_back(values); },
            dir_.Path() + "windows");
        TfrmImageView::SetPrintDialogForTesting([](QPrinter&) { return false; });
    }
    void TearDown() override {
        platform::SetWallpaperTestRecorder(nullptr);
        TfrmImageView::SetPrintDialogForTesting(nullptr);
    }

    QString Write(const std::string& name, const QByteArray& bytes) {
        std::string path = dir_.File(name);
        platform::WriteFileAtomically(path, std::string_view(bytes.constData(), bytes.size()));
        return ui::FromNarrow(path);
    }

    std::unique_ptr<TfrmImageView> Open(const QString& path) {
        auto viewer = std::make_unique<TfrmImageView>();
        viewer->LoadPicture(path);
        return viewer;
    }

    platform::TempDirectory dir_{"viewer"};
    std::vector<std::vector<WallpaperValue>> recorded_;
};

TEST_F(ViewerTest, WindowAsDesignedBeforeALoad) {
    TfrmImageView viewer;
    EXPECT_EQ(viewer.windowTitle(), "Image Viewer");
    EXPECT_EQ(viewer.size(), QSize(484, 383));
    EXPECT_EQ(viewer.pos(), QPoint(363, 232));
    EXPECT_TRUE(viewer.isWindow());
    EXPECT_TRUE(viewer.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(viewer.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(viewer.CurrentFile().isEmpty());

    auto* menu = viewer.findChild<QMenu*>("PopupMenu1");
    ASSERT_NE(menu, nullptr);
    QStringList captions;
    for (QAction* a : menu->actions()) captions << (a->isSeparator() ? "-" : a->text());
    EXPECT_EQ(captions, (QStringList{"&Wallpaper", "-", "&Print"}));
    auto* wallpaper = viewer.findChild<QMenu*>("Wallpaper1");
    ASSERT_NE(wallpaper, nullptr);
    QStringList items;
    for (QAction* a : wallpaper->actions()) items << a->objectName() + "=" + a->text();
    EXPECT_EQ(items, (QStringList{"mnuWTiled=&Tiled", "mnuWCentered=&Centered", "mnuWStretched=&Stretched"}));
    EXPECT_EQ(viewer.findChild<QScrollArea*>("ScrollBox1")->contextMenuPolicy(), Qt::CustomContextMenu);
    EXPECT_EQ(viewer.findChild<QLabel*>("imgPreview")->contextMenuPolicy(), Qt::CustomContextMenu);
}

TEST_F(ViewerTest, OpensEveryFormatQtWrites) {
    const QImage picture = TwoColours(40, 20);
    struct Case {
        const char* name;
        const char* format;
    };
    for (Case c :
         {Case{"a.bmp", "BMP"}, Case{"a.rle", "BMP"}, Case{"a.dib", "BMP"}, Case{"A.PNG", "PNG"},
          Case{"a.jpg", "JPEG"}, Case{"a.jpeg", "JPEG"}, Case{"a.jpe", "JPEG"}, Case{"a.jfif", "JPEG"},
          Case{"a.ico", "ICO"}, Case{"a.ppm", "PPM"}, Case{"a.pgm", "PGM"}, Case{"a.pbm", "PBM"}}) {
        SCOPED_TRACE(c.name);
        QString path = Write(c.name, Encoded(picture, c.format));
        auto viewer = Open(path);
        EXPECT_EQ(viewer->ErrorText(), "");
        ASSERT_EQ(viewer->Picture().size(), QSize(40, 20));
        EXPECT_EQ(viewer->CurrentFile(), path);
        EXPECT_EQ(viewer->windowTitle(), QString::fromLatin1(c.name));
        if (QByteArray(c.format) != "PBM" && QByteArray(c.format) != "PGM") {
            EXPECT_TRUE(Near(viewer->Picture().pixel(5, 10), Qt::red));
            EXPECT_TRUE(Near(viewer->Picture().pixel(35, 10), Qt::blue));
        }
    }
}

TEST_F(ViewerTest, OpensOurOwnAndHandMadeFormats) {
    auto pcx = Open(Write("p.pcx", Pcx2x2()));
    ASSERT_EQ(pcx->ErrorText(), "");
    ASSERT_EQ(pcx->Picture().size(), QSize(2, 2));
    EXPECT_EQ(pcx->Picture().pixel(1, 0), qRgb(0x80, 0, 0));
    EXPECT_EQ(pcx->Picture().pixel(0, 1), qRgb(0, 0x80, 0));
    // The other PCX extensions come through the registry to the same reader.
    for (const char* name : {"p.pcc", "p.scr"}) {
        auto other = Open(Write(name, Pcx2x2()));
        EXPECT_EQ(other->Picture().size(), QSize(2, 2)) << name;
    }

    auto wbmp = Open(Write("w.wbmp", Wbmp3x2()));
    ASSERT_EQ(wbmp->ErrorText(), "");
    ASSERT_EQ(wbmp->Picture().size(), QSize(3, 2));
    EXPECT_EQ(wbmp->Picture().pixel(0, 0), qRgb(255, 255, 255));
    EXPECT_EQ(wbmp->Picture().pixel(1, 0), qRgb(0, 0, 0));
    EXPECT_EQ(wbmp->Picture().pixel(1, 1), qRgb(255, 255, 255));

    auto gif = Open(Write("g.gif", RedGif()));
    ASSERT_EQ(gif->ErrorText(), "");
    ASSERT_EQ(gif->Picture().size(), QSize(1, 1));
    EXPECT_EQ(gif->Picture().pixel(0, 0), qRgb(255, 0, 0));

    // A bare DIB (no file header) as .dib files often are.
    auto dib = Open(Write("bare.dib", Encoded(TwoColours(8, 4), "BMP").mid(14)));
    ASSERT_EQ(dib->ErrorText(), "");
    ASSERT_EQ(dib->Picture().size(), QSize(8, 4));
    EXPECT_EQ(dib->Picture().pixel(0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(dib->Picture().pixel(7, 3), qRgb(0, 0, 255));
}

TEST_F(ViewerTest, JpegTurnedUprightByItsExifOrientation) {
    // Orientation 6: the camera was turned clockwise, so the picture is turned back 90 degrees
    // clockwise: the red left half comes to the top.
    auto viewer = Open(Write("photo.jpg", JpegWithOrientation(TwoColours(40, 20), 6)));
    ASSERT_EQ(viewer->ErrorText(), "");
    ASSERT_EQ(viewer->Picture().size(), QSize(20, 40));
    EXPECT_TRUE(Near(viewer->Picture().pixel(10, 5), Qt::red));
    EXPECT_TRUE(Near(viewer->Picture().pixel(10, 35), Qt::blue));

    auto flipped = Open(Write("flipped.jpeg", JpegWithOrientation(TwoColours(40, 20), 3)));
    ASSERT_EQ(flipped->Picture().size(), QSize(40, 20));
    EXPECT_TRUE(Near(flipped->Picture().pixel(5, 10), Qt::blue));
}

TEST_F(ViewerTest, UnreadablePicturesShowTheirErrorAndKeepTheDesignedWindow) {
    QByteArray png = Encoded(TwoColours(40, 20), "PNG");
    struct Case {
        const char* name;
        QByteArray bytes;
        const char* error;
    };
    for (const Case& c :
         {Case{"broken.png", png.left(png.size() / 2), "broken.png is not a valid PNG image"},
          Case{"broken.pcx", Pcx2x2().left(60), "The file is not a PCX picture"},
          Case{"broken.wbmp", QByteArray("\x00\x00\x40\x40\xFF", 5), "The WBMP picture is damaged"},
          Case{"shape.wmf", QByteArray(40, 'x'), "Windows metafiles cannot be shown on this system"},
          Case{"shape.emf", QByteArray(40, 'x'), "Windows metafiles cannot be shown on this system"},
          Case{"notes.txt", QByteArray("text"), "Unknown picture file extension (.txt)"}}) {
        SCOPED_TRACE(c.name);
        auto viewer = Open(Write(c.name, c.bytes));
        EXPECT_TRUE(viewer->ErrorText().startsWith(QString::fromLatin1(c.error)))
            << viewer->ErrorText().toStdString();
        EXPECT_EQ(viewer->findChild<QLabel*>("imgPreview")->text(), viewer->ErrorText());
        EXPECT_EQ(viewer->windowTitle(), "Image Viewer");
        EXPECT_EQ(viewer->size(), QSize(484, 383));
        EXPECT_TRUE(viewer->CurrentFile().isEmpty());
        EXPECT_TRUE(viewer->Picture().isNull());
        // With no current file the wallpaper items do nothing.
        viewer->mnuWTiledClick();
        EXPECT_TRUE(recorded_.empty());
        EXPECT_TRUE(MessageBox::ShownBoxes().isEmpty());
    }
    auto missing = Open(ui::FromNarrow(dir_.File("gone.bmp")));
    EXPECT_EQ(missing->ErrorText(), ui::FromNarrow("Cannot open file " + dir_.File("gone.bmp")));
}

TEST_F(ViewerTest, TiffAndTargaOpenAndAPictureThatCannotBeDecodedSaysSo) {
    // Both come from Qt's image-format plugins, which the program needs installed.
    auto tiff = Open(Write("scan.tif", Encoded(TwoColours(40, 20), "TIFF")));
    EXPECT_EQ(tiff->ErrorText(), "");
    EXPECT_EQ(tiff->Picture().size(), QSize(40, 20));
    // An uncompressed 24-bit Targa, 2 x 1, bottom-up: blue then red (stored as BGR).
    QByteArray tga(18, '\0');
    tga[2] = 2;
    tga[12] = 2;
    tga[14] = 1;
    tga[16] = 24;
    tga.append(QByteArray("\xFF\x00\x00\x00\x00\xFF", 6));
    tga.append(QByteArray(8, '\0') + QByteArray("TRUEVISION-XFILE.", 18));  // the version 2 footer
    auto targa = Open(Write("logo.tga", tga));
    EXPECT_EQ(targa->ErrorText(), "");
    ASSERT_EQ(targa->Picture().size(), QSize(2, 1));
    EXPECT_EQ(targa->Picture().pixel(0, 0), qRgb(0, 0, 255));
    // The ordinary kind, without the footer: 32-bit, top-down, RLE (a run of two).
    QByteArray plain(18, '\0');
    plain[2] = 10;
    plain[12] = 2;
    plain[14] = 2;
    plain[16] = 32;
    plain[17] = 0x28;
    plain.append(QByteArray("\x81\x00\xFF\x00\xFF\x81\xFF\x00\x00\x80", 10));
    auto ordinary = Open(Write("ordinary.tga", plain));
    EXPECT_EQ(ordinary->ErrorText(), "");
    ASSERT_EQ(ordinary->Picture().size(), QSize(2, 2));
    EXPECT_EQ(ordinary->Picture().pixel(1, 0), qRgba(0, 255, 0, 255));
    EXPECT_EQ(ordinary->Picture().pixel(0, 1), qRgba(0, 0, 255, 128));

    // A Photoshop file: no decoder here, and the viewer says so instead of showing an empty window.
    auto psd = Open(Write("layers.psd", QByteArray("8BPS\x00\x01", 6) + QByteArray(40, '\0')));
    EXPECT_FALSE(psd->ErrorText().isEmpty());
    EXPECT_TRUE(psd->ErrorText().contains(QStringLiteral("layers.psd"))) << psd->ErrorText().toStdString();
    EXPECT_EQ(psd->findChild<QLabel*>("imgPreview")->text(), psd->ErrorText());
}

#ifdef NIMBREL_HAVE_TEST_PICTURES
// A width x height picture of the core's kind: left half `left`, right half `right`.
imaging::Image Halves(int width, int height, imaging::Pixel left, imaging::Pixel right) {
    imaging::Image image(width, height, right);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width / 2; ++x) image.Set(x, y, left);
    return image;
}

QByteArray AsBytes(const nimbrel::codecs::testing::Bytes& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

bool Within(QRgb a, int r, int g, int b, int tolerance) {
    return std::abs(qRed(a) - r) <= tolerance && std::abs(qGreen(a) - g) <= tolerance &&
           std::abs(qBlue(a) - b) <= tolerance;
}

std::string Rgb(QRgb c) {
    return std::to_string(qRed(c)) + "," + std::to_string(qGreen(c)) + "," + std::to_string(qBlue(c)) + "," +
           std::to_string(qAlpha(c));
}

// Phone, web and scanner photos, made by the libraries' own encoders, open upright at their size
// and in sRGB, whether or not Qt has a reader for them: the viewer shows them as the compiled
// show will.
TEST_F(ViewerTest, PhonePhotosWebPicturesAndScansOpenUprightInSrgb) {
    using namespace nimbrel::codecs::testing;
    const imaging::Pixel red = imaging::MakePixel(255, 0, 0), blue = imaging::MakePixel(0, 0, 255);

    // A phone's HEIC in Display P3, stored on its side (orientation 6). Its left half holds the
    // P3 numbers of sRGB's pure red, so it shows as pure red only when its profile is applied.
    const double displayP3[6] = {0.680, 0.320, 0.265, 0.690, 0.150, 0.060};
    const imaging::Image p3 =
        Halves(96, 64, imaging::MakePixel(234, 51, 35), imaging::MakePixel(40, 40, 200));
    auto heic = Open(
        Write("IMG_0001.HEIC", AsBytes(MakeHeif(p3, false, nimbrel::codecs::MakeRgbProfile(displayP3), 6))));
    ASSERT_EQ(heic->ErrorText(), "");
    ASSERT_EQ(heic->Picture().size(), QSize(64, 96)) << "turned upright";
    EXPECT_EQ(heic->windowTitle(), "IMG_0001.HEIC");
    EXPECT_EQ(heic->CurrentFile(), ui::FromNarrow(dir_.File("IMG_0001.HEIC")));
    // The left half came to the top.
    EXPECT_TRUE(Within(heic->Picture().pixel(32, 20), 255, 0, 0, 14)) << Rgb(heic->Picture().pixel(32, 20));
    EXPECT_TRUE(Within(heic->Picture().pixel(32, 76), 0, 0, 255, 60)) << Rgb(heic->Picture().pixel(32, 76));
    EXPECT_GT(qBlue(heic->Picture().pixel(32, 76)), 180);

    // An AVIF with transparency: its clear half stays clear.
    const imaging::Image clear = Halves(64, 32, red, 0);
    auto avif = Open(Write("sticker.avif", AsBytes(MakeHeif(clear, true))));
    ASSERT_EQ(avif->ErrorText(), "");
    ASSERT_EQ(avif->Picture().size(), QSize(64, 32));
    EXPECT_TRUE(Within(avif->Picture().pixel(10, 16), 255, 0, 0, 16)) << Rgb(avif->Picture().pixel(10, 16));
    EXPECT_EQ(qAlpha(avif->Picture().pixel(10, 16)), 255);
    EXPECT_LT(qAlpha(avif->Picture().pixel(54, 16)), 16) << Rgb(avif->Picture().pixel(54, 16));

    // A lossless WebP: every pixel as it was made.
    const imaging::Image web = Gradient(40, 20);
    auto webp = Open(Write("banner.webp", AsBytes(MakeWebpLossless(web))));
    ASSERT_EQ(webp->ErrorText(), "");
    ASSERT_EQ(webp->Picture().size(), QSize(40, 20));
    EXPECT_EQ(FromQImage(webp->Picture()), web);

    // A 16-bit TIFF from a scanner, stored upside down (orientation 3), under both extensions.
    for (const char* name : {"scan.tif", "scan.TIFF"}) {
        SCOPED_TRACE(name);
        auto tiff = Open(Write(name, AsBytes(MakeTiff16(Halves(40, 20, red, blue), 3))));
        ASSERT_EQ(tiff->ErrorText(), "");
        ASSERT_EQ(tiff->Picture().size(), QSize(40, 20));
        EXPECT_EQ(tiff->Picture().pixel(5, 10), qRgb(0, 0, 255)) << Rgb(tiff->Picture().pixel(5, 10));
        EXPECT_EQ(tiff->Picture().pixel(35, 10), qRgb(255, 0, 0)) << Rgb(tiff->Picture().pixel(35, 10));
    }

    // The window fits a photo as it does any picture: 64 x 96 is smaller than the minimum.
    EXPECT_EQ(heic->size(), QSize(450, 450));
    EXPECT_EQ(heic->findChild<QLabel*>("imgPreview")->geometry(), QRect(0, 0, 64, 96));
}

TEST_F(ViewerTest, DamagedPhotosSayWhatIsWrongAndKeepTheDesignedWindow) {
    using namespace nimbrel::codecs::testing;
    const Bytes heic = MakeHeif(Gradient(64, 48), false);
    const Bytes webp = MakeWebpLossless(Gradient(64, 48));
    struct Case {
        const char* name;
        QByteArray bytes;
        const char* error;
    };
    for (const Case& c :
         {Case{"cut.heic", AsBytes(heic).left(static_cast<qsizetype>(heic.size() / 2)),
               "cut.heic is not a valid HEIF image"},
          Case{"cut.webp", AsBytes(webp).left(static_cast<qsizetype>(webp.size() / 2)),
               "cut.webp is not a valid WebP image"},
          Case{"text.avif", QByteArray("not a picture at all"), "text.avif is not a valid AVIF image"},
          Case{"empty.tif", QByteArray(), "empty.tif is not a valid TIFF image"}}) {
        SCOPED_TRACE(c.name);
        auto viewer = Open(Write(c.name, c.bytes));
        EXPECT_TRUE(viewer->ErrorText().startsWith(QString::fromLatin1(c.error)))
            << viewer->ErrorText().toStdString();
        EXPECT_EQ(viewer->windowTitle(), "Image Viewer");
        EXPECT_EQ(viewer->size(), QSize(484, 383));
        EXPECT_TRUE(viewer->CurrentFile().isEmpty());
        EXPECT_TRUE(viewer->Picture().isNull());
    }
}
#endif

TEST_F(ViewerTest, FormatsWithoutAReaderHereSaySo) {
    // Targa has a reader of our own: a file that is none says what is wrong with it.
    auto viewer = Open(Write("t.tga", QByteArray(40, '\0')));
    EXPECT_TRUE(viewer->ErrorText().startsWith("t.tga is not a valid Targa image")) << viewer->ErrorText().toStdString();
    // Qt reads SGI pictures only with the image-format plugins; without them the text says why.
    if (QImageReader::supportedImageFormats().contains("sgi")) GTEST_SKIP() << "Qt reads SGI pictures here";
    auto sgi = Open(Write("t.sgi", QByteArray(40, '\0')));
    EXPECT_TRUE(sgi->ErrorText().startsWith("SGI image cannot be shown on this system"));
}

// A GIF of 8 x 8 whose frames are each one colour of `colours` (RGB), shown 100 ms each and
// looping. The pixel codes are sent uncompressed: a clear code before each keeps the codes 3 bits.
QByteArray AnimatedGif(const std::vector<QRgb>& colours) {
    QByteArray gif("GIF89a");
    auto word = [&gif](int value) {
        gif.append(static_cast<char>(value & 0xFF));
        gif.append(static_cast<char>(value >> 8));
    };
    word(8);
    word(8);
    gif.append(static_cast<char>(0xF1));  // a global palette of 4 colours
    gif.append('\0');
    gif.append('\0');
    for (int i = 0; i < 4; ++i) {
        const QRgb colour = i < static_cast<int>(colours.size()) ? colours[static_cast<std::size_t>(i)] : 0;
        gif.append(static_cast<char>(qRed(colour)));
        gif.append(static_cast<char>(qGreen(colour)));
        gif.append(static_cast<char>(qBlue(colour)));
    }
    gif.append(QByteArray("\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00", 19));
    for (std::size_t frame = 0; frame < colours.size(); ++frame) {
        gif.append(QByteArray("\x21\xF9\x04\x04\x0A\x00\x00\x00", 8));  // 100 ms
        gif.append(QByteArray("\x2C\x00\x00\x00\x00\x08\x00\x08\x00\x00", 10));
        gif.append('\x02');  // codes of 2 + 1 bits
        QByteArray data;
        unsigned bits = 0;
        int count = 0;
        auto code = [&](unsigned value) {
            bits |= value << count;
            count += 3;
            while (count >= 8) {
                data.append(static_cast<char>(bits & 0xFF));
                bits >>= 8;
                count -= 8;
            }
        };
        for (int pixel = 0; pixel < 64; ++pixel) {
            code(4);  // clear
            code(static_cast<unsigned>(frame));
        }
        code(5);  // end
        if (count > 0) data.append(static_cast<char>(bits & 0xFF));
        for (qsizetype at = 0; at < data.size(); at += 255) {
            const QByteArray block = data.mid(at, 255);
            gif.append(static_cast<char>(block.size()));
            gif.append(block);
        }
        gif.append('\0');
    }
    gif.append('\x3B');
    return gif;
}

TEST_F(ViewerTest, AnimatedGifsPlayAndStillOnesStayStill) {
    const QString path = Write("spinner.gif", AnimatedGif({qRgb(255, 0, 0), qRgb(0, 0, 255)}));
    auto viewer = Open(path);
    ASSERT_TRUE(viewer->ErrorText().isEmpty()) << viewer->ErrorText().toStdString();
    ASSERT_NE(viewer->Animation(), nullptr);
    EXPECT_EQ(viewer->Animation()->frameCount(), 2);
    EXPECT_EQ(viewer->Picture().pixel(3, 3) & 0xFFFFFF, 0xFF0000u);  // the first frame, for the wallpaper
    viewer->show();
    auto* shown = viewer->findChild<QLabel*>("imgPreview");
    // The label plays the frames in turn: blue comes after red.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return shown->movie() && (shown->movie()->currentImage().pixel(3, 3) & 0xFFFFFF) == 0x0000FFu; }, 3000));

    const QString still = Write("still.gif", AnimatedGif({qRgb(0, 255, 0)}));
    viewer->LoadPicture(still);
    EXPECT_EQ(viewer->Animation(), nullptr);
    EXPECT_EQ(shown->movie(), nullptr);
    EXPECT_EQ(viewer->Picture().pixel(3, 3) & 0xFFFFFF, 0x00FF00u);
}

TEST_F(ViewerTest, WindowFitsThePicture) {
    auto small = Open(Write("small.png", Encoded(TwoColours(100, 80), "PNG")));
    EXPECT_EQ(small->size(), QSize(450, 450));
    EXPECT_EQ(small->findChild<QLabel*>("imgPreview")->geometry(), QRect(0, 0, 100, 80));

    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    auto wide = Open(Write("wide.png", Encoded(TwoColours(screen.width() + 400, 300), "PNG")));
    EXPECT_EQ(wide->size(), QSize(484, 450));
    wide->show();
    QApplication::processEvents();
    EXPECT_TRUE(wide->findChild<QScrollArea*>("ScrollBox1")->horizontalScrollBar()->isVisible());

    auto exact = Open(Write("exact.png", Encoded(TwoColours(screen.width(), 500), "PNG")));
    EXPECT_EQ(exact->size(), QSize(screen.width(), 500));
}

TEST_F(ViewerTest, MediaFilesShowNothingButTakeTheirName) {
    // A name without an extension counts too: the empty extension lies inside any text.
    for (const char* name : {"song.mid", "clip.mi", "x.r", "README"}) {
        SCOPED_TRACE(name);
        QString path = Write(name, QByteArray("MThd"));
        auto viewer = Open(path);
        EXPECT_EQ(viewer->ErrorText(), "");
        EXPECT_TRUE(viewer->Picture().isNull());
        EXPECT_EQ(viewer->windowTitle(), QString::fromLatin1(name));
        EXPECT_EQ(viewer->size(), QSize(484, 450));
        EXPECT_EQ(viewer->CurrentFile(), path);
    }
    // Its wallpaper cannot be made: the error is shown and the desktop left alone.
    auto viewer = Open(Write("song.mid", QByteArray("MThd")));
    viewer->mnuWStretchedClick();
    EXPECT_TRUE(recorded_.empty());
    ASSERT_EQ(MessageBox::ShownBoxes().size(), 1);
    EXPECT_EQ(MessageBox::ShownBoxes()[0].caption, "Nimbrel");
    EXPECT_EQ(MessageBox::ShownBoxes()[0].text, "Unknown picture file extension (.mid)");
    EXPECT_EQ(MessageBox::ShownBoxes()[0].icon, QMessageBox::Critical);
}

TEST_F(ViewerTest, WallpaperCommandsWriteTheBitmapAndTheStyleValues) {
    QString path = Write("pic.pcx", Pcx2x2());
    auto viewer = Open(path);
    const std::string bitmap = dir_.Path() + "windows/VorlapWallpaper.bmp";
    ASSERT_EQ(platform::WallpaperPath(), bitmap);

    viewer->findChild<QAction*>("mnuWTiled")->trigger();
    viewer->findChild<QAction*>("mnuWCentered")->trigger();
    viewer->findChild<QAction*>("mnuWStretched")->trigger();
    ASSERT_EQ(recorded_.size(), 3u);
    EXPECT_EQ(recorded_[0], (std::vector<WallpaperValue>{
                                {"Wallpaper", bitmap}, {"TileWallpaper", "1"}, {"WallpaperStyle", "0"}}));
    EXPECT_EQ(recorded_[1], (std::vector<WallpaperValue>{
                                {"Wallpaper", bitmap}, {"TileWallpaper", "0"}, {"WallpaperStyle", "0"}}));
    EXPECT_EQ(
        recorded_[2],
        (std::vector<WallpaperValue>{
            {"Wallpaper", bitmap}, {"TileWallpaper", "0"}, {"TileWallpaper", "0"}, {"WallpaperStyle", "2"}}));
    EXPECT_TRUE(MessageBox::ShownBoxes().isEmpty());

    QImage written(ui::FromNarrow(bitmap), "BMP");
    ASSERT_EQ(written.size(), QSize(2, 2));
    EXPECT_EQ(written.pixel(0, 0), qRgb(0x80, 0, 0));
    EXPECT_EQ(platform::ReadWholeFile(bitmap).substr(0, 2), "BM");

    // A picture removed after loading: nothing happens.
    platform::RemoveFile(ui::ToNarrow(path));
    viewer->mnuWTiledClick();
    EXPECT_EQ(recorded_.size(), 3u);
}

TEST_F(ViewerTest, TransparentPixelsBecomeWhiteInTheWallpaper) {
    QImage clear(4, 4, QImage::Format_ARGB32);
    clear.fill(Qt::transparent);
    auto viewer = Open(Write("clear.png", Encoded(clear, "PNG")));
    viewer->mnuWCenteredClick();
    QImage written(ui::FromNarrow(platform::WallpaperPath()), "BMP");
    ASSERT_EQ(written.size(), QSize(4, 4));
    EXPECT_EQ(written.pixel(2, 2), qRgb(255, 255, 255));
}

TEST_F(ViewerTest, WithoutADesktopSettingTheBitmapIsKeptAndTheUserTold) {
    platform::SetWallpaperTestRecorder(nullptr);
    const char* old = std::getenv("XDG_DATA_HOME");
    std::string saved = old ? old : "";
    setenv("XDG_DATA_HOME", (dir_.Path() + "data").c_str(), 1);
    auto viewer = Open(Write("pic.bmp", Encoded(TwoColours(6, 6), "BMP")));
    viewer->mnuWTiledClick();
    const std::string bitmap = dir_.Path() + "data/nimbrel/VorlapWallpaper.bmp";
    EXPECT_TRUE(platform::FileExists(bitmap));
    ASSERT_EQ(MessageBox::ShownBoxes().size(), 1);
    EXPECT_EQ(MessageBox::ShownBoxes()[0].icon, QMessageBox::Information);
    EXPECT_TRUE(MessageBox::ShownBoxes()[0].text.contains(ui::FromNarrow(bitmap)));
    if (old)
        setenv("XDG_DATA_HOME", saved.c_str(), 1);
    else
        unsetenv("XDG_DATA_HOME");
}

TEST_F(ViewerTest, PrintScalesByWholeFactors) {
    EXPECT_EQ(TfrmImageView::PrintRect({10, 20}, 600, 600, 96, 96), QRect(0, 0, 60, 120));
    EXPECT_EQ(TfrmImageView::PrintRect({10, 20}, 300, 600, 96, 96), QRect(0, 0, 30, 120));
    // A device coarser than the screen still prints one dot per pixel, not an empty page.
    EXPECT_EQ(TfrmImageView::PrintRect({10, 20}, 72, 72, 96, 96), QRect(0, 0, 10, 20));

    auto viewer = Open(Write("p.png", Encoded(TwoColours(10, 10), "PNG")));
    QImage page(200, 200, QImage::Format_RGB32);
    page.fill(Qt::white);
    const int dpi = viewer->logicalDpiX() * 6 + 20;  // not a whole multiple
    page.setDotsPerMeterX(qRound(dpi / 0.0254));
    page.setDotsPerMeterY(qRound(dpi / 0.0254));
    viewer->PrintTo(page);
    EXPECT_EQ(page.pixel(0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(page.pixel(59, 59), qRgb(0, 0, 255));
    EXPECT_EQ(page.pixel(60, 30), qRgb(255, 255, 255));
    EXPECT_EQ(page.pixel(30, 60), qRgb(255, 255, 255));
}

TEST_F(ViewerTest, PrintGoesThroughTheDialog) {
    auto viewer = Open(Write("p.png", Encoded(TwoColours(10, 10), "PNG")));
    int asked = 0;
    TfrmImageView::SetPrintDialogForTesting([&](QPrinter&) {
        ++asked;
        return false;
    });
    viewer->findChild<QAction*>("Print1")->trigger();
    EXPECT_EQ(asked, 1);

    const QString pdf = ui::FromNarrow(dir_.File("out.pdf"));
    TfrmImageView::SetPrintDialogForTesting([&](QPrinter& printer) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        return true;
    });
    viewer->Print1Click();
    EXPECT_GT(platform::FileSize(ui::ToNarrow(pdf)), 100);
    EXPECT_TRUE(MessageBox::ShownBoxes().isEmpty());
}

TEST_F(ViewerTest, RegistryLastRegistrationWins) {
    PictureFormats::RegisterViewerFormats();
    ASSERT_NE(PictureFormats::Find("DIB"), nullptr);
    EXPECT_EQ(PictureFormats::Find(".dib")->description, "Device Independant Bitmap");
    EXPECT_EQ(PictureFormats::Find("jpg")->description, "JPEG image");
    EXPECT_EQ(PictureFormats::Find("txt"), nullptr);
    PictureFormats::Register(
        "xyz", [](const QByteArray&, const QString&) { return QImage(3, 3, QImage::Format_RGB32); }, "first");
    PictureFormats::Register(
        "XYZ", [](const QByteArray&, const QString&) { return QImage(5, 5, QImage::Format_RGB32); },
        "second");
    EXPECT_EQ(PictureFormats::Find("xyz")->description, "second");
    EXPECT_EQ(LoadPictureFile(Write("a.xyz", "x")).size(), QSize(5, 5));
    for (const char* ext : {"bmp", "rle",  "ico", "wmf", "emf", "jpg", "jpeg", "jfif", "jpe", "png", "gif",
                            "dib", "wbmp", "tga", "win", "vst", "vda", "icb",  "tiff", "tif", "fax", "eps",
                            "pcx", "pcc",  "scr", "rpf", "rla", "sgi", "rgb",  "rgba", "bw",  "psd", "pdd",
                            "ppm", "pgm",  "pbm", "cel", "pic", "pcd", "cut",  "psp"})
        EXPECT_NE(PictureFormats::Find(ext), nullptr) << ext;
}

TEST_F(ViewerTest, ImageConversionKeepsPixelsAndAlpha) {
    imaging::Image image(2, 1);
    image.Set(0, 0, imaging::MakePixel(1, 2, 3, 4));
    image.Set(1, 0, imaging::MakePixel(250, 128, 7, 255));
    QImage q = ToQImage(image);
    ASSERT_EQ(q.format(), QImage::Format_ARGB32);
    EXPECT_EQ(q.pixel(0, 0), qRgba(1, 2, 3, 4));
    EXPECT_EQ(q.pixel(1, 0), qRgba(250, 128, 7, 255));
    EXPECT_EQ(FromQImage(q), image);
}

TEST_F(ViewerTest, DoubleClickOnTheFileListOpensTheFirstSelectedEntry) {
    app::TfrmMain main({});
    QStringList opened;
    main.SetImageViewer([&](app::TfrmMain&, const QString& path) { opened << path; });
    QString a = Write("one.png", Encoded(TwoColours(4, 4), "PNG"));
    QString b = Write("two.png", Encoded(TwoColours(4, 4), "PNG"));
    QString c = Write("three.png", Encoded(TwoColours(4, 4), "PNG"));
    for (const QString& p : {a, b, c}) main.AddFileEntry(p, app::TfrmMain::EntryMode::Tolerant);
    auto* list = main.findChild<QTreeWidget*>("lvFiles");
    ASSERT_NE(list, nullptr);

    main.lvFilesDblClick();
    EXPECT_TRUE(opened.isEmpty());

    list->topLevelItem(2)->setSelected(true);
    list->topLevelItem(1)->setSelected(true);
    emit list->itemDoubleClicked(list->topLevelItem(2), 0);
    EXPECT_EQ(opened, QStringList{b});
}

TEST_F(ViewerTest, ShowImageViewerRunsAModalWindowOfItsOwn) {
    QString path = Write("shown.png", Encoded(TwoColours(120, 90), "PNG"));
    QString caption;
    QSize picture;
    bool topLevel = false;
    QTimer::singleShot(0, [&] {
        auto* viewer = qobject_cast<TfrmImageView*>(QApplication::activeModalWidget());
        if (!viewer) return;
        caption = viewer->windowTitle();
        picture = viewer->Picture().size();
        topLevel = viewer->parentWidget() == nullptr && viewer->isModal();
        viewer->close();
    });
    ShowImageViewer(path);
    EXPECT_EQ(caption, "shown.png");
    EXPECT_EQ(picture, QSize(120, 90));
    EXPECT_TRUE(topLevel);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(ViewerTest, Screenshot) {
    QImage picture(300, 200, QImage::Format_RGB32);
    QLinearGradient gradient(0, 0, 300, 200);
    gradient.setColorAt(0, QColor(30, 90, 200));
    gradient.setColorAt(1, QColor(250, 200, 40));
    {
        QPainter painter(&picture);
        painter.fillRect(picture.rect(), gradient);
        painter.setPen(Qt::white);
        painter.drawEllipse(QRect(100, 50, 100, 100));
    }
    auto viewer = Open(Write("sunset.png", Encoded(picture, "PNG")));
    viewer->show();
    QApplication::processEvents();
    QImage shot = viewer->grab().toImage();
    EXPECT_EQ(shot.size(), QSize(450, 450));
    EXPECT_TRUE(shot.save(QStringLiteral(NIMBREL_SCREENSHOT_DIR "/viewer.png")));
    EXPECT_TRUE(Near(shot.pixel(5, 5), QColor(30, 90, 200)));
    // Beyond the picture the scroll box's window colour shows.
    EXPECT_EQ(shot.pixel(400, 400), viewer->palette().color(QPalette::Base).rgb());

    // A picture wider than the screen, reached through the scroll bar; and a damaged file.
    const int wide = QGuiApplication::primaryScreen()->geometry().width() + 300;
    QImage large = picture.scaled(wide, 300);
    auto scrolled = Open(Write("panorama.png", Encoded(large, "PNG")));
    scrolled->show();
    QApplication::processEvents();
    EXPECT_TRUE(scrolled->grab().save(QStringLiteral(NIMBREL_SCREENSHOT_DIR "/viewer_wide.png")));
    auto damaged = Open(Write("damaged.png", Encoded(picture, "PNG").left(100)));
    damaged->show();
    QApplication::processEvents();
    EXPECT_TRUE(damaged->grab().save(QStringLiteral(NIMBREL_SCREENSHOT_DIR "/viewer_error.png")));
}

}  // namespace
}  // namespace nimbrel::viewer
