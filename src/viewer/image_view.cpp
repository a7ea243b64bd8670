#include "viewer/image_view.h"

#include <QBuffer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QImageReader>
#include <QMenu>
#include <QMovie>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>
#include <algorithm>
#include <memory>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/wallpaper.h"
#include "ui/form_helpers.h"
#include "ui/message_box.h"
#include "ui/narrow_text.h"
#include "ui/screen_fit.h"
#include "viewer/picture_formats.h"

namespace nimbrel::viewer {
namespace {

using ui::Named;

constexpr int kDesignedWidth = 484;
constexpr int kDesignedHeight = 383;
constexpr int kMinimumSide = 450;

std::function<bool(QPrinter&)>& PrintDialogSeam() {
    static std::function<bool(QPrinter&)> seam;
    return seam;
}

// Media files of the file list that are no pictures: their extensions, as one text.
const QString kMediaExtensions = QStringLiteral(".rtf .avi .wav .mid .wes .efa .rmi .midi .mp3");

}  // namespace

TfrmImageView::TfrmImageView(QWidget* owner)
    : QDialog(owner, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("frmImageView"));
    setWindowTitle(tr("Image Viewer"));
    setSizeGripEnabled(false);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    ScrollBox1 = Named(new QScrollArea(this), "ScrollBox1");
    ScrollBox1->setBackgroundRole(QPalette::Base);
    ScrollBox1->setFrameShape(QFrame::NoFrame);
    ScrollBox1->setWidgetResizable(false);
    ScrollBox1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    imgPreview = Named(new QLabel, "imgPreview");
    imgPreview->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    imgPreview->setScaledContents(false);
    ScrollBox1->setWidget(imgPreview);
    layout->addWidget(ScrollBox1);

    PopupMenu1 = Named(new QMenu(this), "PopupMenu1");
    Wallpaper1 = Named(PopupMenu1->addMenu(tr("&Wallpaper")), "Wallpaper1");
    mnuWTiled = Named(Wallpaper1->addAction(tr("&Tiled")), "mnuWTiled");
    mnuWCentered = Named(Wallpaper1->addAction(tr("&Centered")), "mnuWCentered");
    mnuWStretched = Named(Wallpaper1->addAction(tr("&Stretched")), "mnuWStretched");
    N2 = Named(PopupMenu1->addSeparator(), "N2");
    Print1 = Named(PopupMenu1->addAction(tr("&Print")), "Print1");
    connect(mnuWTiled, &QAction::triggered, this, &TfrmImageView::mnuWTiledClick);
    connect(mnuWCentered, &QAction::triggered, this, &TfrmImageView::mnuWCenteredClick);
    connect(mnuWStretched, &QAction::triggered, this, &TfrmImageView::mnuWStretchedClick);
    connect(Print1, &QAction::triggered, this, &TfrmImageView::Print1Click);
    for (QWidget* w : {static_cast<QWidget*>(ScrollBox1), static_cast<QWidget*>(imgPreview)}) {
        w->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(w, &QWidget::customContextMenuRequested, this,
                [this, w](const QPoint& pos) { PopupMenu1->popup(w->mapToGlobal(pos)); });
    }

    move(363, 232);
    SetOuterSize(kDesignedWidth, kDesignedHeight);
    FormCreate();
}

TfrmImageView::~TfrmImageView() = default;

void TfrmImageView::FormCreate() {
    PictureFormats::RegisterViewerFormats();
}

QSize TfrmImageView::OuterSize() const {
    // The frame is known once the window system has decorated the window; before that the
    // window's own size stands for its outer size.
    QSize frame = frameGeometry().size() - geometry().size();
    return size() + frame;
}

void TfrmImageView::SetOuterSize(int width, int height) {
    QSize frame = frameGeometry().size() - geometry().size();
    resize(std::max(1, width - frame.width()), std::max(1, height - frame.height()));
}

void TfrmImageView::LoadPicture(const QString& path) {
    QImage picture;
    try {
        QString extension = QFileInfo(path).suffix().isEmpty() && !path.endsWith(u'.')
                                ? QString()
                                : QStringLiteral(".") + QFileInfo(path).suffix().toLower();
        if (extension == QStringLiteral(".pcx")) {
            // PCX files go straight to the PCX reader, whatever the registry says.
            picture = codecs::Pcx(ReadPictureBytes(path), path);
        } else if (kMediaExtensions.contains(extension)) {
            // A sound or video of the list: there is nothing to show.
        } else {
            picture = LoadPictureFile(path);
        }
    } catch (const std::exception& e) {
        StopAnimation();
        errorText_ = ui::FromNarrow(e.what());
        picture_ = QImage();
        imgPreview->setPixmap(QPixmap());
        imgPreview->setMargin(8);
        imgPreview->setText(errorText_);
        imgPreview->adjustSize();
        return;
    }
    errorText_.clear();
    picture_ = picture;
    imgPreview->setMargin(0);
    imgPreview->setText(QString());
    imgPreview->setPixmap(QPixmap::fromImage(picture_));
    StopAnimation();
    // A picture of several frames plays, as it does in the screensaver.
    if (!picture_.isNull()) {
        auto* movie = new QMovie(path, QByteArray(), this);
        if (movie->isValid() && movie->frameCount() != 1 && QImageReader(path).supportsAnimation()) {
            movie_ = movie;
            movie_->setCacheMode(QMovie::CacheNone);
            imgPreview->setMovie(movie_);
            movie_->start();
        } else {
            delete movie;
        }
    }
    imgPreview->adjustSize();
    currentFile_ = path;

    if (!picture_.isNull()) {
        QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
        QSize screenSize = screen ? screen->geometry().size() : QSize(picture_.width(), picture_.height());
        QSize outer = OuterSize();
        if (picture_.width() <= screenSize.width()) outer.setWidth(picture_.width());
        if (picture_.height() <= screenSize.height()) outer.setHeight(picture_.height());
        SetOuterSize(outer.width(), outer.height());
    }
    QSize outer = OuterSize();
    SetOuterSize(std::max(outer.width(), kMinimumSide), std::max(outer.height(), kMinimumSide));
    setWindowTitle(QFileInfo(path).fileName());
}

void TfrmImageView::StopAnimation() {
    if (!movie_) return;
    imgPreview->setMovie(nullptr);
    delete movie_;
    movie_ = nullptr;
}

void TfrmImageView::SetWallpaper(bool tile, bool stretch) {
    if (currentFile_.isEmpty() || !QFileInfo(currentFile_).isFile()) return;
    PictureFormats::RegisterWallpaperFormats();
    const std::string bitmapPath = platform::WallpaperPath();
    try {
        // Here every file goes through the registry, PCX included, and nothing is skipped.
        QImage picture = LoadPictureFile(currentFile_);
        // The desktop takes a plain bitmap without transparency: transparent parts become white.
        QImage opaque(picture.size(), QImage::Format_RGB32);
        opaque.fill(Qt::white);
        {
            QPainter painter(&opaque);
            painter.drawImage(0, 0, picture);
        }
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        if (!opaque.save(&buffer, "BMP")) throw Error("Cannot write the wallpaper bitmap");
        platform::WriteFileAtomically(bitmapPath, std::string_view(bytes.constData(), bytes.size()));
    } catch (const std::exception& e) {
        // The desktop settings would name a stale or missing bitmap: leave them as they are.
        ui::ShowErrorBox(this, ui::FromNarrow(e.what()));
        return;
    }
    if (platform::SetDesktopWallpaper(bitmapPath, tile, stretch) == platform::WallpaperResult::Unsupported)
        ui::MessageBox::Show(
            this, QStringLiteral("Nimbrel"),
            tr("The picture was saved as %1. This system offers no way to make it the desktop "
               "wallpaper; set it in the desktop's own settings.")
                .arg(ui::FromNarrow(bitmapPath)),
            QMessageBox::Information, QMessageBox::Ok);
}

QRect TfrmImageView::PrintRect(QSize picture, int deviceDpiX, int deviceDpiY, int screenDpiX,
                               int screenDpiY) {
    // Whole multiples only, as the picture's pixels stay square blocks of dots; a device coarser
    // than the screen still gets one dot per pixel instead of an empty page.
    int factorX = screenDpiX > 0 ? std::max(1, deviceDpiX / screenDpiX) : 1;
    int factorY = screenDpiY > 0 ? std::max(1, deviceDpiY / screenDpiY) : 1;
    return QRect(0, 0, picture.width() * factorX, picture.height() * factorY);
}

void TfrmImageView::PrintTo(QPaintDevice& device) {
    QPainter painter;
    if (!painter.begin(&device)) throw Error("Printing could not be started");
    QRect target =
        PrintRect(picture_.size(), device.logicalDpiX(), device.logicalDpiY(), logicalDpiX(), logicalDpiY());
    painter.drawImage(target, picture_);
    if (!painter.end()) throw Error("Printing failed");
}

void TfrmImageView::Print1Click() {
    QPrinter printer;
    bool accepted = false;
    if (PrintDialogSeam()) {
        accepted = PrintDialogSeam()(printer);
    } else {
        QPrintDialog PrintDialog(&printer, this);
        accepted = PrintDialog.exec() == QDialog::Accepted;
    }
    if (!accepted) return;
    try {
        PrintTo(printer);
    } catch (const std::exception& e) {
        ui::ShowErrorBox(this, ui::FromNarrow(e.what()));
    }
}

void TfrmImageView::SetPrintDialogForTesting(std::function<bool(QPrinter&)> dialog) {
    PrintDialogSeam() = std::move(dialog);
}

void ShowImageViewer(const QString& path) {
    // A top-level window of its own (the desktop is its owner), destroyed when it closes.
    auto viewer = std::make_unique<TfrmImageView>();
    viewer->LoadPicture(path);
    ui::KeepOnScreen(*viewer);
    viewer->exec();
}

}  // namespace nimbrel::viewer
