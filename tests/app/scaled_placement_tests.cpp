// The stored placement at a scale factor of 1.5 (the program runs with QT_SCALE_FACTOR=1.5 on a
// 2400 x 1500 screen): the store keeps device pixels, as the system's placement records do,
// and the window works in Qt's scaled pixels.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>

#include "app/interface_state.h"
#include "app/main_window.h"
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

}  // namespace
}  // namespace nimbrel::app
