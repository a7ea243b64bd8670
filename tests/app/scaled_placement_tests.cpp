// The stored placement at a scale factor of 1.5 (the program runs with QT_SCALE_FACTOR=1.5 on a
// 2400 x 1500 screen): the store keeps device pixels, as the system's placement records do,
// and the window works in Qt's scaled pixels.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QPointer>
#include <QScreen>
#include <QTest>

#include "app/interface_state.h"
#include "app/main_window.h"
#include "app/preview_window.h"
#include "platform/settings_store.h"
#include "platform/temp.h"
#include "support/qt_test_env.h"
#include "ui/message_box.h"

namespace nimbrel::app {
namespace {

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(
    new test::QtTestEnvironment("app_scaled_tests", [] { ui::MessageBox::SetTestMode(true); }));

TEST(ScaledPlacement, StoredInDevicePixelsAndRestoredOnTheScreen) {
    QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    ASSERT_DOUBLE_EQ(screen->devicePixelRatio(), 1.5) << "run with QT_SCALE_FACTOR=1.5";
    platform::TempDirectory settings("nimbrel-settings");
    platform::SetSettingsLocation(settings.Path());
    platform::SettingsStore store(kPlacementKey);
    const std::string suffix = "(2400x1500)";  // the screen in device pixels

    // A placement the system would store for a window at device pixels (300, 150) at 144 dpi.
    store.WriteString(kPlacementSection, "NormPos" + suffix, "300,150,1287,1071");
    store.WriteInteger(kPlacementSection, "PixelsPerInch", 144);
    {
        TfrmMain window({});
        window.move(10, 10);
        window.show();
        EXPECT_EQ(window.pos(), QPoint(200, 100));
        // Wholly on the screen.
        EXPECT_TRUE(screen->geometry().contains(window.frameGeometry())) << window.frameGeometry().x();
        window.move(400, 300);
        window.close();
    }
    const std::optional<std::string> normPos = store.Read(kPlacementSection, "NormPos" + suffix);
    ASSERT_TRUE(normPos);
    EXPECT_EQ(normPos->rfind("600,450,", 0), 0u) << *normPos;
    EXPECT_EQ(store.ReadInteger(kPlacementSection, "PixelsPerInch", 0), 144);
    platform::SetSettingsLocation("");
}

// The preview composes the show for the screen's device pixels, as the screensaver does for the
// monitor's, and fits that into a window in Qt's scaled pixels: a centred picture keeps its own
// size in device pixels instead of being shrunk to fit a smaller, scaled screen.
TEST(ScaledPreview, TheShowIsComposedForTheScreensDevicePixels) {
    platform::TempDirectory dir("scaledpreview");
    QImage picture(2000, 1200, QImage::Format_RGB32);
    picture.fill(0x2080E0);
    const std::string path = dir.File("wide.png");
    ASSERT_TRUE(picture.save(QString::fromStdString(path)));
    project::SlideShowValues values;
    values.center = true;
    values.backgroundColor = 0x000000;
    QPointer<TfrmPreview> preview = new TfrmPreview(values, {path}, {}, 1);
    EXPECT_EQ(preview->ShowSize(), QSize(2400, 1500));
    // Two thirds of the screen in scaled pixels (1600 x 1000).
    EXPECT_EQ(preview->size(), QSize(1067, 667));
    preview->show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return preview->ShowTime() >= 0; }, 5000));
    const QImage& frame = preview->CurrentFrame();
    ASSERT_EQ(frame.size(), QSize(2400, 1500));
    // 2000 x 1200 in the middle: from x 200 to 2200, y 150 to 1350.
    EXPECT_EQ(frame.pixel(210, 750) & 0xFFFFFF, 0x2080E0u);
    EXPECT_EQ(frame.pixel(190, 750) & 0xFFFFFF, 0u);
    EXPECT_EQ(frame.pixel(1200, 160) & 0xFFFFFF, 0x2080E0u);
    EXPECT_EQ(frame.pixel(1200, 140) & 0xFFFFFF, 0u);
    preview->close();
}

}  // namespace
}  // namespace nimbrel::app
