#pragma once
// The image viewer: one picture file in a window of its own, with a context menu that makes it
// the desktop wallpaper (tiled, centred or stretched) or prints it.

#include <QDialog>
#include <QImage>
#include <QString>
#include <functional>

class QAction;
class QLabel;
class QMenu;
class QMovie;
class QPaintDevice;
class QPrinter;
class QScrollArea;

namespace nimbrel::viewer {

class TfrmImageView : public QDialog {
    Q_OBJECT
public:
    // The window is a top-level window of its own; `owner` only ends its life.
    explicit TfrmImageView(QWidget* owner = nullptr);
    ~TfrmImageView() override;

    // Loads and shows a picture and fits the window to it. A picture that cannot be read leaves
    // the caption "Image Viewer", the designed size and an empty CurrentFile, and the picture
    // area shows ErrorText().
    void LoadPicture(const QString& path);
    // Makes CurrentFile the desktop wallpaper through the bitmap at platform::WallpaperPath().
    void SetWallpaper(bool tile, bool stretch);

    // The picture loaded last ("" until a load succeeds).
    QString CurrentFile() const { return currentFile_; }
    // Why the last LoadPicture showed no picture; "" after a successful load.
    QString ErrorText() const { return errorText_; }
    const QImage& Picture() const { return picture_; }
    // The player of an animated picture (a GIF of several frames) while one shows; else null.
    // Picture() stays its first frame, for the wallpaper and printing.
    QMovie* Animation() const { return movie_; }

    // Draws the picture for printing at the top left of `device`, each pixel as many device dots
    // as the device's resolution holds whole multiples of the window's (at least one).
    void PrintTo(QPaintDevice& device);
    // The rectangle PrintTo fills.
    static QRect PrintRect(QSize picture, int deviceDpiX, int deviceDpiY, int screenDpiX, int screenDpiY);

    // Test seam: replaces the print dialog; returns whether the user chose to print.
    static void SetPrintDialogForTesting(std::function<bool(QPrinter&)> dialog);

public slots:
    void mnuWTiledClick() { SetWallpaper(true, false); }
    void mnuWCenteredClick() { SetWallpaper(false, false); }
    void mnuWStretchedClick() { SetWallpaper(false, true); }
    void Print1Click();

private:
    void FormCreate();
    void SetOuterSize(int width, int height);
    void StopAnimation();
    QSize OuterSize() const;

    QString currentFile_;
    QString errorText_;
    QImage picture_;
    QMovie* movie_ = nullptr;

    QScrollArea* ScrollBox1 = nullptr;
    QLabel* imgPreview = nullptr;
    QMenu* PopupMenu1 = nullptr;
    QMenu* Wallpaper1 = nullptr;
    QAction* mnuWTiled = nullptr;
    QAction* mnuWCentered = nullptr;
    QAction* mnuWStretched = nullptr;
    QAction* N2 = nullptr;
    QAction* Print1 = nullptr;
};

// What the main window runs for a double-clicked file-list entry: a new viewer for `path`, shown
// modally and destroyed when it closes.
void ShowImageViewer(const QString& path);

}  // namespace nimbrel::viewer
