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

namespace nimbrel::app {
namespace {

constexpr int kFrameMilliseconds = 10;

}  // namespace

TfrmPreview::TfrmPreview(const project::SlideShowValues& values, const std::vector<std::string>& paths,
                         const QString& note, std::uint64_t seed, QWidget* parent)
    : QWidget(parent, Qt::Window), decoder_(std::make_unique<QtPictureDecoder>()) {
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
    show_ = show::MakeProjectShow(
        values, paths, show::Screen{showSize_.width(), showSize_.height(), {}}, *decoder_,
        seed != 0 ? seed : static_cast<std::uint64_t>(QDateTime::currentMSecsSinceEpoch()));
    live_ = std::make_unique<show::LiveClock>(show_->Clock());
    show_->DrawBackground(frame_);
    image_ = QImage(reinterpret_cast<const uchar*>(frame_.Data()), frame_.Width(), frame_.Height(),
                    QImage::Format_RGB32);

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

    if (show_->PictureCount() > 0) {
        ahead_ = std::make_unique<show::DecodeAhead>(*show_);
        ahead_->Request(0);
    } else {
        problem_ = QString::fromStdString(show_->Problem());
    }
    connect(&timer_, &QTimer::timeout, this, &TfrmPreview::Tick);
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.start(kFrameMilliseconds);
    wall_.start();
}

TfrmPreview::~TfrmPreview() {
    if (ahead_) ahead_->Stop();
}

std::int64_t TfrmPreview::ReadySlide() {
    if (!ahead_) return -1;
    if (ahead_->Failed() && problem_.isEmpty()) problem_ = QString::fromStdString(show_->Problem());
    return ahead_->ReadySlide();
}

void TfrmPreview::Tick() {
    const std::int64_t lastReady = ReadySlide();
    if (!showing_) {
        if (lastReady < 0) {
            if (!problem_.isEmpty()) update();
            return;
        }
        showing_ = true;
        live_->Start(wall_.elapsed());
        current_ = 0;
        DrawMoment(show_->Clock().At(0));
        shownAt_ = 0;
        if (show_->PictureCount() > 1) ahead_->Request(1);
        return;
    }
    if (show_->PictureCount() <= 1) return;
    const std::int64_t now = live_->Now(wall_.elapsed(), lastReady);
    const show::Moment moment = show_->Clock().At(now);
    if (moment.slide > current_) {
        current_ = moment.slide;
        ahead_->Request(current_ + 1);
    }
    if (moment.phase == show::Phase::Change || moment.slide != drawnSlide_) {
        DrawMoment(moment);
        shownAt_ = now;
    }
}

void TfrmPreview::DrawMoment(const show::Moment& moment) {
    if (!show_->Draw(moment, frame_)) return;
    drawnSlide_ = moment.phase == show::Phase::Still ? moment.slide : -1;
    image_ = QImage(reinterpret_cast<const uchar*>(frame_.Data()), frame_.Width(), frame_.Height(),
                    QImage::Format_RGB32);
    update();
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
