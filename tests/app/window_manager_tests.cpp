// The main window under a real window manager (run by with_window_manager.sh: openbox on Xvfb,
// 1920 x 1080, at the scale QT_SCALE_FACTOR gives). The window system frames the window and
// places it, so the frame and the client area differ as on a desktop.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

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
    new test::QtTestEnvironment("app_window_manager_tests", [] { ui::MessageBox::SetTestMode(true); }));

class WindowManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != QStringLiteral("xcb"))
            GTEST_SKIP() << "needs an X server with a window manager (with_window_manager.sh)";
        platform::SetSettingsLocation(settings_.Path());
    }
    void TearDown() override { platform::SetSettingsLocation(""); }

    // Shows the window and waits until the window manager has framed and placed it.
    static void ShowFramed(QWidget& window) {
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, 10000));
        ASSERT_TRUE(QTest::qWaitFor([&] { return window.frameGeometry().top() < window.geometry().top(); }, 5000))
            << "the window manager drew no title bar";
        QTest::qWait(200);  // the last configure events
    }
    static QRect Available(const QWidget& window) { return window.screen()->availableGeometry(); }
    // The available area, give or take the one pixel that rounding to device pixels may cost at a
    // fractional scale.
    static QRect Inside(const QWidget& window) { return Available(window).adjusted(-1, -1, 1, 1); }
    static int PixelsPerInch() {
        const QScreen* screen = QGuiApplication::primaryScreen();
        return static_cast<int>(std::lround(screen->logicalDotsPerInch() * screen->devicePixelRatio()));
    }
    static void Close(TfrmMain& window) {
        ui::MessageBox::SetNextAnswer(QMessageBox::No);
        ASSERT_TRUE(window.close());
    }

    platform::TempDirectory settings_{"nimbrel-wm-settings"};
};

TEST_F(WindowManagerTest, TheWindowReopensExactlyWhereItWasLeft) {
    QPoint left;
    for (int start = 0; start < 4; ++start) {
        TfrmMain window({});
        ShowFramed(window);
        const QRect frame = window.frameGeometry();
        EXPECT_TRUE(Inside(window).contains(frame)) << "start " << start;
        if (start == 0) {
            // Moved by the user once, to a place where all of it shows; every later start must
            // find it there.
            const QSize room = Available(window).size() - frame.size();
            const QPoint target = Available(window).topLeft() +
                                  QPoint(std::clamp(120, 0, room.width()), std::clamp(90, 0, room.height()));
            window.move(target);
            EXPECT_TRUE(QTest::qWaitFor([&] { return window.frameGeometry().topLeft() == target; }, 5000));
            QTest::qWait(200);
            left = window.frameGeometry().topLeft();
        } else {
            EXPECT_EQ(frame.topLeft(), left) << "start " << start;
        }
        Close(window);
    }
    // What was stored is the frame, a rectangle with room in it.
    const std::optional<std::string> normPos = platform::SettingsStore(kPlacementKey).Read(kPlacementSection, "NormPos");
    ASSERT_TRUE(normPos);
    const std::array<int, 4> parts = SplitPlacementText(*normPos, {0, 0, 0, 0});
    EXPECT_GT(parts[2] - parts[0], 300) << *normPos;
    EXPECT_GT(parts[3] - parts[1], 200) << *normPos;
}

TEST_F(WindowManagerTest, ADegenerateOrOffScreenStoredRectangleIsIgnored) {
    for (const char* stored : {"98,11,100,11", "5000,5000,5600,5600", "-3000,-3000,-2400,-2400"}) {
        platform::SettingsStore store(kPlacementKey);
        store.WriteString(kPlacementSection, "NormPos", stored);
        store.WriteInteger(kPlacementSection, "PixelsPerInch", PixelsPerInch());
        TfrmMain window({});
        window.CentreOnScreen();
        ShowFramed(window);
        const QRect frame = window.frameGeometry();
        EXPECT_TRUE(Inside(window).contains(frame)) << stored;
        // Centred, as with nothing stored.
        EXPECT_LE(std::abs(frame.center().x() - Available(window).center().x()), 40) << stored;
        window.hide();
        platform::SettingsStore(kPlacementKey).EraseSection(kPlacementSection);
    }
}

TEST_F(WindowManagerTest, EveryWindowStaysInsideTheAvailableArea) {
    // A position stored near the bottom right corner: the window comes back inside the area.
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const double scale = QGuiApplication::primaryScreen()->devicePixelRatio();
    const int right = static_cast<int>(std::lround(area.right() * scale));
    const int bottom = static_cast<int>(std::lround(area.bottom() * scale));
    platform::SettingsStore store(kPlacementKey);
    store.WriteString(kPlacementSection, "NormPos", std::to_string(right - 200) + "," + std::to_string(bottom - 100) +
                                                        "," + std::to_string(right + 500) + "," +
                                                        std::to_string(bottom + 500));
    store.WriteInteger(kPlacementSection, "PixelsPerInch", PixelsPerInch());
    TfrmMain window({});
    window.CentreOnScreen();
    ShowFramed(window);
    EXPECT_TRUE(Inside(window).contains(window.frameGeometry()))
        << window.frameGeometry().x() << "," << window.frameGeometry().y() << " "
        << window.frameGeometry().width() << "x" << window.frameGeometry().height();
    // Where the designed size does not fit (scale 2 on this screen), the pages keep the room they
    // need and scroll instead of being squeezed.
    auto* pages = window.findChild<QScrollArea*>(QStringLiteral("scrPages"));
    auto* book = window.findChild<QStackedWidget*>(QStringLiteral("nbMain"));
    ASSERT_NE(pages, nullptr);
    ASSERT_NE(book, nullptr);
    EXPECT_GE(book->height(), book->minimumSizeHint().height());
    if (pages->viewport()->height() < book->minimumSizeHint().height()) {
        EXPECT_GT(pages->verticalScrollBar()->maximum(), 0);
    }
    std::printf("scale %.1f: main window frame %dx%d at %d,%d in %dx%d; pages %d of %d high\n", scale,
                window.frameGeometry().width(), window.frameGeometry().height(), window.frameGeometry().x(),
                window.frameGeometry().y(), area.width(), area.height(), pages->viewport()->height(),
                book->height());

    // The preview opens in the middle of the editor's screen.
    project::SlideShowValues values;
    auto* preview = new TfrmPreview(values, {}, {}, 1, &window);
    ShowFramed(*preview);
    const QRect previewFrame = preview->frameGeometry();
    EXPECT_TRUE(Inside(*preview).contains(previewFrame));
    EXPECT_LE(std::abs(previewFrame.center().x() - area.center().x()), 40);
    EXPECT_LE(std::abs(previewFrame.center().y() - area.center().y()), 40);
    preview->close();
    Close(window);
}

}  // namespace
}  // namespace nimbrel::app
