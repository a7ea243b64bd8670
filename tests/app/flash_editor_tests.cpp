// The editor and a Flash project's recording: the preview (F5) plays the recorded frames, and
// Cancel during a compile ends the browser at once. Both record in the real headless browser with
// the Ruffle package, and skip where either is missing.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "app/main_window.h"
#include "app/preview_window.h"
#include "flash/flash_recorder.h"
#include "flash/swf_writer.h"
#include "platform/files.h"
#include "platform/temp.h"
#include "ui/gradient_progress_bar.h"
#include "ui/message_box.h"

namespace nimbrel::app {
namespace {

namespace fs = std::filesystem;

struct FlashEditor : ::testing::Test {
    platform::TempDirectory dir{"flasheditor"};
    std::unique_ptr<TfrmMain> window;

    void SetUp() override {
        if (std::getenv("NIMBREL_RUFFLE_DIR") == nullptr)
            setenv("NIMBREL_RUFFLE_DIR", NIMBREL_TEST_BUILD_DIR "/ruffle", 1);
        const flash::RecorderSetup setup = flash::FindRecorder(dir.Path());
        if (!setup.Available()) GTEST_SKIP() << setup.missing;
        ui::MessageBox::ClearShown();
    }

    // A Flash project of a square crossing a blue stage, open in the main window.
    void OpenProject(const flash::testing::MoviePlan& plan) {
        const auto movie = flash::testing::MakeMovie(plan);
        std::ofstream(dir.File("movie.swf"), std::ios::binary)
            .write(reinterpret_cast<const char*>(movie.data()), static_cast<std::streamsize>(movie.size()));
        std::ofstream(dir.File("flash.bin"), std::ios::binary) << "MZ stand-in Flash player";
        std::ofstream(dir.File("show.nssp"), std::ios::binary)
            << "[Header]\r\nNumber=0\r\nType=1\r\n\r\n[About]\r\nShowName=Square\r\nShowText=\r\n\r\n"
               "[Options]\r\nFlashFile=movie.swf\r\nChangeIcon=0\r\nIconFile=\r\nOutput=show.scr\r\n\r\n";
        window = std::make_unique<TfrmMain>(QStringList{QString::fromStdString(dir.File("show.nssp"))});
        window->SetPlayerPaths(dir.File("stub.bin"), dir.File("flash.bin"));
        ASSERT_EQ(window->ProjectKind(), project::kFlash);
    }
};

flash::testing::MoviePlan Crossing(int frames) {
    flash::testing::MoviePlan plan;
    plan.frameRate = 10;
    plan.shapeSize = 40;
    plan.shapeTop = 30;
    plan.shapeX.clear();
    for (int k = 0; k < frames; ++k) plan.shapeX.push_back(k * 160 / std::max(1, frames - 1));
    return plan;
}

// The left edge of the red square on the row through the middle of the frame, or -1.
int SquareLeft(const QImage& frame) {
    for (int x = 0; x < frame.width(); ++x) {
        const QRgb p = frame.pixel(x, frame.height() / 2);
        if (qRed(p) > 180 && qBlue(p) < 90) return x;
    }
    return -1;
}

TEST_F(FlashEditor, ThePreviewPlaysTheRecordedMovieInALoop) {
    OpenProject(Crossing(5));
    if (HasFatalFailure()) return;
    window->Preview1Click();
    ASSERT_TRUE(ui::MessageBox::ShownBoxes().isEmpty())
        << ui::MessageBox::ShownBoxes().front().text.toStdString();
    auto* preview = window->findChild<TfrmPreview*>();
    ASSERT_NE(preview, nullptr);
    ASSERT_NE(preview->Movie(), nullptr);
    EXPECT_EQ(preview->Movie()->Index().frames.size(), 5u);
    // Recorded once, the movie's first frame is the Flash page's poster.
    auto* poster = window->findChild<QLabel*>(QStringLiteral("imgFlashPoster"));
    ASSERT_NE(poster, nullptr);
    EXPECT_FALSE(poster->isHidden());
    EXPECT_FALSE(poster->pixmap().isNull());
    // The frame of each moment: the square's place follows the frame the show time names, and
    // the stage (2 : 1) is letterboxed on the movie's blue.
    const QSize size = preview->ShowSize();
    const double scale = std::min(size.width() / 200.0, size.height() / 100.0);
    const int left = static_cast<int>((size.width() - 200 * scale) / 2);
    std::set<std::size_t> seen;
    for (int i = 0; i < 200 && seen.size() < 5; ++i) {
        QTest::qWait(20);
        const std::int64_t at = preview->ShowTime();
        if (at < 0) continue;
        const std::size_t frame = preview->Movie()->FrameAt(at);
        const int x = SquareLeft(preview->CurrentFrame());
        EXPECT_NEAR(x, left + Crossing(5).shapeX[frame] * scale, 2 + scale)
            << "frame " << frame << " at " << at;
        seen.insert(frame);
    }
    EXPECT_EQ(seen.size(), 5u);
    const QRgb corner = preview->CurrentFrame().pixel(1, 1);
    EXPECT_TRUE(qBlue(corner) > 200 && qRed(corner) < 40) << std::hex << corner;
    preview->close();
}

// The processes whose parent is this one.
std::vector<int> Children() {
    std::vector<int> pids;
    DIR* proc = opendir("/proc");
    while (dirent* entry = proc != nullptr ? readdir(proc) : nullptr) {
        const int pid = std::atoi(entry->d_name);
        if (pid <= 0) continue;
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string line;
        std::getline(stat, line);
        std::istringstream fields(line.substr(line.rfind(')') + 1));
        std::string state;
        int parent = 0;
        fields >> state >> parent;
        if (parent == getpid()) pids.push_back(pid);
    }
    if (proc != nullptr) closedir(proc);
    return pids;
}

// The browser's profile folder, from its command line.
std::string ProfileOf(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
    std::string argument;
    while (std::getline(in, argument, '\0'))
        if (argument.rfind("--user-data-dir=", 0) == 0) return argument.substr(16);
    return {};
}

// Cancel while the movie records: the browser and its profile are gone when Compile returns, and
// the build did not wait for more frames (at most the round of events that carried the click was
// handled inside it afterwards). Nothing was built, and no error box speaks of it.
TEST_F(FlashEditor, CancelDuringTheRecordingEndsTheBrowserAtOnce) {
    OpenProject(Crossing(400));  // 40 s of movie, hundreds of steps
    if (HasFatalFailure()) return;
    auto* cancel = window->findChild<QPushButton*>(QStringLiteral("btnCancelBuild"));
    ASSERT_NE(cancel, nullptr);
    EXPECT_FALSE(cancel->isVisible());
    window->show();
    auto* bar = window->findChild<ui::GradientProgressBar*>(QStringLiteral("pbar"));
    int browser = 0;
    std::string profile;
    bool clicked = false, cancelled = false;
    int eventsAfterCancel = 0;
    QObject::connect(cancel, &QPushButton::clicked, [&] { cancelled = true; });
    QTimer watch;
    watch.setInterval(10);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!window->Building() || clicked) {
            if (cancelled && window->Building()) ++eventsAfterCancel;
            return;
        }
        for (int pid : Children())
            if (profile.empty()) {
                profile = ProfileOf(pid);
                if (!profile.empty()) browser = pid;
            }
        // Some frames recorded: the user clicks Cancel.
        if (browser != 0 && bar->position() >= 2) {
            EXPECT_TRUE(cancel->isVisible());
            clicked = true;
            QTest::mouseClick(cancel, Qt::LeftButton);
        }
    });
    watch.start();
    window->Compile1Click();
    watch.stop();
    ASSERT_TRUE(clicked) << "the recording never started";
    EXPECT_FALSE(window->Building());
    EXPECT_TRUE(cancelled);
    // The click is handled inside the watch's own timer event; the round of events that carries it
    // may still deliver the watch's next tick before the build looks at the flag, never more.
    EXPECT_LE(eventsAfterCancel, 1);
    EXPECT_TRUE(Children().empty()) << "a browser process is left";
    EXPECT_FALSE(fs::exists("/proc/" + std::to_string(browser)));
    EXPECT_FALSE(profile.empty());
    EXPECT_FALSE(fs::exists(profile)) << profile;
    EXPECT_FALSE(platform::FileExists(dir.File("show.scr")));
    EXPECT_TRUE(ui::MessageBox::ShownBoxes().isEmpty())
        << ui::MessageBox::ShownBoxes().front().text.toStdString();
    EXPECT_FALSE(cancel->isVisible());
    EXPECT_TRUE(bar->text().contains(QStringLiteral("Cancelled")));
}

}  // namespace
}  // namespace nimbrel::app
