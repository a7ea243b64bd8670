#include "app/preview_window.h"

#include <QCheckBox>
#include <QDateTime>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QRegion>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdlib>

#include "app/qt_picture_decoder.h"
#include "platform/files.h"
#include "ui/screen_fit.h"

#ifdef NIMBREL_HAVE_CAPTIONS
#include "captions/caption_text.h"
#endif

namespace nimbrel::app {
namespace {

constexpr int kFrameMilliseconds = 10;

}  // namespace

TfrmPreview::TfrmPreview(const project::SlideShowValues& values, const std::vector<std::string>& paths,
                         const QString& note, std::uint64_t seed, QWidget* parent)
    : QWidget(parent, Qt::Window), decoder_(std::make_unique<QtPictureDecoder>()) {
    SetUpWindow(note, parent);
    show_ = show::MakeProjectShow(
        values, paths, show::Screen{showSize_.width(), showSize_.height(), {}}, *decoder_,
        seed != 0 ? seed : static_cast<std::uint64_t>(QDateTime::currentMSecsSinceEpoch()));
#ifdef NIMBREL_HAVE_CAPTIONS
    show_->SetCaptions(captions::ProjectCaptionLayer(values, paths));
#endif
    show_->DrawBackground(frame_);
    TakeFrame();
    // The window sleeps until the show asks to be called again, or until the worker has the next
    // picture ready (its report arrives on the window's thread).
    live_ = std::make_unique<show::LiveShow>(*show_, kFrameMilliseconds, [this](std::int64_t) {
        QMetaObject::invokeMethod(this, &TfrmPreview::Tick, Qt::QueuedConnection);
    });
    if (show_->PictureCount() == 0) problem_ = QString::fromStdString(show_->Problem());
    connect(&timer_, &QTimer::timeout, this, &TfrmPreview::Tick);
    Start();
}

TfrmPreview::TfrmPreview(flash::FrameIndex index, std::unique_ptr<platform::TempDirectory> frames,
                         const QString& note, QWidget* parent)
    : QWidget(parent, Qt::Window), decoder_(std::make_unique<QtPictureDecoder>()), frames_(std::move(frames)) {
    SetUpWindow(note, parent);
    movie_ = std::make_unique<show::RecordedMovie>(
        std::move(index),
        [dir = frames_.get()](const std::string& name) { return platform::ReadWholeFile(dir->File(name)); },
        *decoder_);
    const show::Screen screen{showSize_.width(), showSize_.height(), {}};
    show::ComposeMovieScreen({}, movie_->Index().background, screen, frame_);
    TakeFrame();
    connect(&timer_, &QTimer::timeout, this, &TfrmPreview::TickMovie);
    Start();
}

void TfrmPreview::SetUpWindow(const QString& note, QWidget* parent) {
    setObjectName(QStringLiteral("frmPreview"));
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setWindowTitle(note.isEmpty() ? tr("Preview") : tr("Preview (%1)").arg(note));
    QScreen* screen = parent != nullptr && parent->screen() != nullptr ? parent->screen()
                                                                       : QGuiApplication::primaryScreen();
    // The show is composed for the screen's device pixels, as the screensaver composes it for the
    // monitor's: at a scale factor of 2 a picture of 800 x 600 still takes 800 x 600 of 1280 x 800.
    const qreal ratio = screen != nullptr ? screen->devicePixelRatio() : 1.0;
    showSize_ = screen != nullptr ? screen->geometry().size() * ratio : QSize(1024, 768);
    if (showSize_.isEmpty()) showSize_ = QSize(1024, 768);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addStretch(1);
    chkFullScreen_ = new QCheckBox(tr("&Full screen"), this);
    chkFullScreen_->setObjectName(QStringLiteral("chkFullScreen"));
    chkFullScreen_->setStyleSheet(
        QStringLiteral("QCheckBox { color: white; background: rgba(0,0,0,96); padding: 3px; }"));
    chkFullScreen_->setFocusPolicy(Qt::NoFocus);
    layout->addWidget(chkFullScreen_, 0, Qt::AlignLeft | Qt::AlignBottom);
    connect(chkFullScreen_, &QCheckBox::toggled, this, [this](bool on) {
        if (on) {
            showFullScreen();
        } else {
            showNormal();
        }
    });
    resize(showSize_ / ratio * 2 / 3);
    // In the middle of the editor's screen, where the user looks.
    ui::CentreOnScreen(*this, screen);
}

void TfrmPreview::Start() {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setSingleShot(true);
    wall_.start();
    timer_.start(0);
}

TfrmPreview::~TfrmPreview() {
    if (live_) live_->Stop();
}

void TfrmPreview::TakeFrame() {
    image_ = QImage(reinterpret_cast<const uchar*>(frame_.Data()), frame_.Width(), frame_.Height(),
                    QImage::Format_RGB32);
}

// The show draws when its clock says the screen changed, and says when to call again.
void TfrmPreview::Tick() {
    const show::LiveShow::Step step = live_->Update(wall_.elapsed(), frame_);
    if (step.wakeAt) {
        timer_.start(static_cast<int>(std::clamp<std::int64_t>(*step.wakeAt - wall_.elapsed(), 0, 1 << 30)));
    } else {
        timer_.stop();
    }
    if (live_->Failed() && problem_.isEmpty()) problem_ = QString::fromStdString(show_->Problem());
    if (!step.drew) {
        if (!live_->Showing() && !problem_.isEmpty()) update();
        return;
    }
    shownAt_ = step.showTime;
    TakeFrame();
    update();
}

// The movie's frame of this moment, drawn when it changed; the window then sleeps until the next.
void TfrmPreview::TickMovie() {
    const std::int64_t now = wall_.elapsed();
    if (movie_->Draw(now, show::Screen{showSize_.width(), showSize_.height(), {}}, frame_)) {
        TakeFrame();
        update();
    }
    shownAt_ = now;
    const std::int64_t wait = movie_->NextChange(now) - wall_.elapsed();
    timer_.start(static_cast<int>(std::clamp<std::int64_t>(wait, 0, 1 << 30)));
}

void TfrmPreview::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    // The screen's picture scaled into the window, its proportions kept; black only around it,
    // so that a full-screen frame is written once.
    const QSize fitted = showSize_.scaled(size(), Qt::KeepAspectRatio);
    const QRect target(QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted);
    for (const QRect& margin : QRegion(rect()).subtracted(QRegion(target)))
        painter.fillRect(margin, Qt::black);
    painter.drawImage(target, image_);
    if (!problem_.isEmpty()) {
        painter.setPen(Qt::white);
        painter.drawText(target.adjusted(12, 12, -12, -12), Qt::AlignCenter | Qt::TextWordWrap, problem_);
    }
}

void TfrmPreview::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TfrmPreview::mousePressEvent(QMouseEvent*) {
    close();
}

}  // namespace nimbrel::app
