// The editor's preview: the show engine in a window, with Qt's image readers.
#include <gtest/gtest.h>

#include <QAction>
#include <QBuffer>
#include <QCheckBox>
#include <QImage>
#include <QKeySequence>
#include <QMenu>
#include <QPointer>
#include <QTest>

#include <fstream>

#include "app/main_window.h"
#include "app/preview_window.h"
#include "app/qt_picture_decoder.h"
#include "platform/shell.h"
#include "platform/temp.h"
#include "support/qt_test_env.h"
#include "ui/message_box.h"

namespace nimbrel::app {
namespace {

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(
    new test::QtTestEnvironment("preview_tests", [] { ui::MessageBox::SetTestMode(true); }));

std::uint32_t Centre(const QImage& image) {
    return image.pixel(image.width() / 2, image.height() / 2) & 0xFFFFFF;
}

struct Preview : ::testing::Test {
    platform::TempDirectory dir{"previewtest"};
    std::string Picture(const char* name, QRgb colour, int w = 40, int h = 30) {
        QImage image(w, h, QImage::Format_RGB32);
        image.fill(colour);
        const std::string path = dir.File(name);
        image.save(QString::fromStdString(path));
        return path;
    }
};

TEST_F(Preview, PlaysTheShowInTurnAndEscapeCloses) {
    project::SlideShowValues values;
    values.stretch = true;
    values.showSpeed = 1;
    values.transition = 129;
    const std::vector<std::string> paths = {Picture("red.png", 0xE01010), Picture("broken.jpg", 0),
                                            Picture("green.jpg", 0x10C020)};
    std::ofstream(paths[1], std::ios::trunc) << "not a picture";
    QPointer<TfrmPreview> preview = new TfrmPreview(values, paths, QStringLiteral("test"), 5);
    preview->show();
    EXPECT_TRUE(preview->windowTitle().contains("test"));
    EXPECT_EQ(preview->CurrentFrame().size(), preview->ShowSize());
    QTRY_VERIFY_WITH_TIMEOUT(preview->ShowTime() >= 0, 5000);
    EXPECT_EQ(Centre(preview->CurrentFrame()), 0xE01010u);
    // The broken picture is left out: green follows red.
    QTRY_VERIFY_WITH_TIMEOUT(preview->ShowTime() >= 1000, 5000);
    const std::uint32_t second = Centre(preview->CurrentFrame());
    EXPECT_LT(std::abs(static_cast<int>(second >> 8 & 255) - 0xC0), 6) << std::hex << second;
    EXPECT_EQ(preview->Engine().LeftOut().size(), 1u);
    // Full screen and back.
    auto* full = preview->findChild<QCheckBox*>(QStringLiteral("chkFullScreen"));
    ASSERT_NE(full, nullptr);
    full->setChecked(true);
    EXPECT_TRUE(preview->isFullScreen());
    full->setChecked(false);
    QTest::keyClick(preview, Qt::Key_Escape);
    QTRY_VERIFY_WITH_TIMEOUT(preview.isNull(), 2000);
}

TEST_F(Preview, NothingReadableShowsTheBackgroundWithTheProblem) {
    project::SlideShowValues values;
    values.backgroundColor = 0x1E140A;  // red 0x0A, green 0x14, blue 0x1E
    const std::string broken = dir.File("broken.png");
    std::ofstream(broken) << "garbage";
    QPointer<TfrmPreview> preview = new TfrmPreview(values, {broken, dir.File("missing.jpg")}, {}, 1);
    preview->show();
    QTRY_VERIFY_WITH_TIMEOUT(!preview->Problem().isEmpty(), 5000);
    EXPECT_TRUE(preview->Problem().contains("broken.png")) << preview->Problem().toStdString();
    EXPECT_EQ(Centre(preview->CurrentFrame()), 0x0A141Eu);
    QTest::mouseClick(preview, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(preview.isNull(), 2000);
}

TEST(QtPictureDecoder, AJpegShrinksAsItIsDecodedToTheHintedSize) {
    QImage big(1600, 1200, QImage::Format_RGB32);
    big.fill(0x2040A0);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    big.save(&buffer, "JPEG");
    QtPictureDecoder decoder;
    auto span = std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                          static_cast<std::size_t>(bytes.size()));
    auto full = decoder.Open("a.jpg", span);
    ASSERT_TRUE(full);
    EXPECT_EQ(full->Info().format, "jpeg");
    EXPECT_EQ(full->RowWidth(), 1600);
    auto small = decoder.Open("a.jpg", span, {400, 300});
    ASSERT_TRUE(small);
    EXPECT_EQ(small->Info().width, 1600) << "the picture keeps its own size";
    EXPECT_EQ(small->RowWidth(), 400);
    EXPECT_EQ(small->RowHeight(), 300);
    std::vector<imaging::Pixel> row(400);
    ASSERT_TRUE(small->ReadRows(0, 1, row.data()));
    EXPECT_EQ(decoder.Open("x.png", std::span<const std::uint8_t>()), nullptr);
}

TEST(PreviewCommand, PreviewSitsBesideCompileOnF5) {
    TfrmMain window{QStringList()};
    auto* preview = window.findChild<QAction*>(QStringLiteral("Preview1"));
    ASSERT_NE(preview, nullptr);
    EXPECT_EQ(preview->text(), "Pre&view");
    EXPECT_EQ(preview->shortcut(), QKeySequence(Qt::Key_F5));
    auto* compile = window.findChild<QAction*>(QStringLiteral("Compile1"));
    ASSERT_NE(compile, nullptr);
    const auto actions = compile->associatedObjects();
    ASSERT_FALSE(actions.isEmpty());
    auto* menu = qobject_cast<QMenu*>(actions.first());
    ASSERT_NE(menu, nullptr);
    const int at = static_cast<int>(menu->actions().indexOf(compile));
    EXPECT_EQ(menu->actions().value(at + 1), preview);
}

TEST(PreviewCommand, WineWithoutItsThirtyTwoBitSideCannotRunAThirtyTwoBitScreensaver) {
    platform::TempDirectory dir{"winetest"};
    // The headers of a 32-bit and a 64-bit Windows program.
    auto program = [&](const char* name, unsigned machine) {
        std::string bytes(256, '\0');
        bytes[0] = 'M';
        bytes[1] = 'Z';
        bytes[60] = static_cast<char>(128);
        bytes.replace(128, 4, std::string("PE\0\0", 4));
        bytes[132] = static_cast<char>(machine & 0xFF);
        bytes[133] = static_cast<char>(machine >> 8);
        std::ofstream(dir.File(name), std::ios::binary) << bytes;
        return dir.File(name);
    };
    const std::string pe32 = program("a.scr", 0x14C), pe64 = program("b.scr", 0x8664);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QByteArray("/nonexistent"));
    EXPECT_FALSE(platform::CanRunWindowsProgram(pe64)) << "no wine at all";
    qputenv("PATH", path);
    if (!std::filesystem::exists("/usr/bin/wine")) GTEST_SKIP() << "wine is not installed";
    EXPECT_TRUE(platform::CanRunWindowsProgram(pe64));
    const bool has32 = std::filesystem::exists("/usr/lib/wine/wine") ||
                       std::filesystem::exists("/usr/lib/i386-linux-gnu/wine");
    EXPECT_EQ(platform::CanRunWindowsProgram(pe32), has32);
}

}  // namespace
}  // namespace nimbrel::app
