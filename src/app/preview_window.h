#pragma once
// The editor's preview: the current project's show, played by the show engine in a window of
// its own at the size of the screen it opens on, scaled to the window: a slideshow, or a Flash
// movie's recorded frames. Esc or a click closes it; "Full screen" shows it over the whole screen.

#include <QElapsedTimer>
#include <QImage>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "flash/frame_index.h"
#include "platform/temp.h"
#include "project/project_file.h"
#include "show/live_show.h"
#include "show/recorded_movie.h"
#include "show/show.h"

class QCheckBox;

namespace nimbrel::app {

class QtPictureDecoder;

class TfrmPreview : public QWidget {
    Q_OBJECT
public:
    // Plays `paths` (the file list's pictures, in order) with the slideshow `values`. `note`,
    // when given, is added to the title. `seed` fixes the show's random choices.
    TfrmPreview(const project::SlideShowValues& values, const std::vector<std::string>& paths,
                const QString& note = {}, std::uint64_t seed = 0, QWidget* parent = nullptr);
    // Plays a Flash movie's recorded frames: `index` names the files in `frames`, which the
    // window keeps (and removes when it closes).
    TfrmPreview(flash::FrameIndex index, std::unique_ptr<platform::TempDirectory> frames,
                const QString& note = {}, QWidget* parent = nullptr);
    ~TfrmPreview() override;

    // The show's size (the screen's, in device pixels) and the show itself, for tests.
    QSize ShowSize() const { return showSize_; }
    const show::Show& Engine() const { return *show_; }
    // The recorded movie a Flash preview plays, else null.
    const show::RecordedMovie* Movie() const { return movie_.get(); }
    // The frame drawn last, at the show's size.
    const QImage& CurrentFrame() const { return image_; }
    // The line of text shown over the background when nothing can be shown ("" otherwise).
    const QString& Problem() const { return problem_; }
    // The show time of the frame drawn last, in milliseconds (-1 before the first picture).
    std::int64_t ShowTime() const { return shownAt_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    // The window around the show, on the screen of `parent`; sets showSize_.
    void SetUpWindow(const QString& note, QWidget* parent);
    void Start();
    void Tick();
    void TickMovie();
    void TakeFrame();

    QSize showSize_;
    std::unique_ptr<QtPictureDecoder> decoder_;
    std::unique_ptr<show::Show> show_;
    show::Frame frame_;
    QImage image_;
    QCheckBox* chkFullScreen_ = nullptr;
    QTimer timer_;
    QElapsedTimer wall_;
    std::int64_t shownAt_ = -1;
    QString problem_;
    std::unique_ptr<show::LiveShow> live_;  // after show_, which it prepares
    std::unique_ptr<platform::TempDirectory> frames_;
    std::unique_ptr<show::RecordedMovie> movie_;  // after frames_ and decoder_, which it reads
};

}  // namespace nimbrel::app
