// The editor's preview on a screen of 1920 x 1080 (Qt's offscreen platform): the time from
// opening the window to its first picture painted, and the frames a second it paints during the
// changes of picture (mean and worst, from the longest gap between two frames), full screen.
// Usage: preview_bench PROJECT.nssp [changes (default 4)]
// (bench/show/render_large_photos.sh makes a project of large photos in BUILD/bench-show.)
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <vector>

#include "app/preview_window.h"
#include "imaging/transitions.h"
#include "project/project_file.h"
#include "show/show.h"

namespace {

// Notes the wall time and show time of every paint of the window.
class PaintClock : public QObject {
public:
    explicit PaintClock(const nimbrel::app::TfrmPreview& preview) : preview_(preview) { wall_.start(); }
    struct Paint {
        double wallMs;
        std::int64_t showMs;
    };
    std::vector<Paint> paints;
    QElapsedTimer wall_;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            paints.push_back({wall_.nsecsElapsed() / 1e6, preview_.ShowTime()});
        return false;
    }

private:
    const nimbrel::app::TfrmPreview& preview_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: preview_bench PROJECT.nssp [changes]\n");
        return 2;
    }
    // One screen of 1920 x 1080.
    QTemporaryDir config;
    const QString screen = config.filePath(QStringLiteral("screen.json"));
    {
        QFile file(screen);
        if (!file.open(QIODevice::WriteOnly)) return 1;
        file.write(R"({"synchronousWindowSystemEvents": false, "windowFrameMargins": false, "screens": [
            {"name": "Bench", "x": 0, "y": 0, "width": 1920, "height": 1080,
             "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
    }
    qputenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + screen).toLocal8Bit());
    QApplication application(argc, argv);
    const std::string projectPath = argv[1];
    const int changes = argc > 2 ? std::max(1, std::atoi(argv[2])) : 4;
    const nimbrel::project::LoadedProject project = nimbrel::project::LoadProject(projectPath);
    const std::vector<std::string> paths = nimbrel::show::PicturePaths(project.files, projectPath);
    std::printf("%zu pictures; changes of %d s every %d s\n", paths.size(), 1,
                project.slideShow.showSpeed + 1);

    QElapsedTimer opening;
    opening.start();
    auto* preview = new nimbrel::app::TfrmPreview(project.slideShow, paths, {}, 1);
    PaintClock clock(*preview);
    preview->installEventFilter(&clock);
    preview->findChild<QCheckBox*>(QStringLiteral("chkFullScreen"))->setChecked(true);
    preview->show();
    const double shown = opening.nsecsElapsed() / 1e6;
    double decoded = -1;
    while (preview->ShowTime() < 0 && opening.elapsed() < 60000) {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        if (decoded < 0 && preview->Engine().Ready(0)) decoded = opening.nsecsElapsed() / 1e6;
    }
    preview->repaint();
    std::printf("show of %dx%d in a %dx%d window\n", preview->ShowSize().width(),
                preview->ShowSize().height(), preview->width(), preview->height());
    std::printf(
        "first picture painted %.0f ms after the window was made (window shown at %.0f ms, "
        "picture decoded by %.0f ms)\n",
        opening.nsecsElapsed() / 1e6, shown, decoded);

    // Plays until `changes` changes of picture have been painted through.
    const nimbrel::show::ShowClock& showClock = preview->Engine().Clock();
    const std::int64_t end = showClock.SlideStart(changes) + 1;
    QElapsedTimer playing;
    playing.start();
    while (preview->ShowTime() < end && playing.elapsed() < 120000)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    preview->removeEventFilter(&clock);

    // The paints of each change, by slide.
    std::map<std::int64_t, std::vector<PaintClock::Paint>> byChange;
    for (const PaintClock::Paint& paint : clock.paints) {
        if (paint.showMs < 0) continue;
        const nimbrel::show::Moment moment = showClock.At(paint.showMs);
        if (moment.phase == nimbrel::show::Phase::Change) byChange[moment.slide].push_back(paint);
    }
    double worstFps = 1e9;
    for (const auto& [slide, paints] : byChange) {
        if (paints.size() < 2) continue;
        double longest = 0;
        for (std::size_t i = 1; i < paints.size(); ++i)
            longest = std::max(longest, paints[i].wallMs - paints[i - 1].wallMs);
        const double span = paints.back().wallMs - paints.front().wallMs;
        const double mean = (paints.size() - 1) * 1000.0 / span;
        worstFps = std::min(worstFps, 1000.0 / longest);
        std::printf("change %lld (%s): %zu frames, %.1f fps mean, %.1f fps worst (longest gap %.1f ms)\n",
                    static_cast<long long>(slide),
                    nimbrel::imaging::TransitionName(showClock.EffectOf(slide)).c_str(), paints.size(), mean,
                    1000.0 / longest, longest);
    }
    if (byChange.empty())
        std::printf("no change was painted\n");
    else
        std::printf("worst over every change: %.1f fps\n", worstFps);
    delete preview;
    return 0;
}
