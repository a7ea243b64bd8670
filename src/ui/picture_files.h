#pragma once
// How pictures reach a slideshow's file list, in the main window and in the slideshow wizard
// alike: the Add dialog and files dropped from the desktop.

#include <QString>
#include <QStringList>

class QDragEnterEvent;
class QDropEvent;
class QWidget;

namespace nimbrel::ui {

// The pictures the Add dialog offers.
inline const QString kPictureFilter = QStringLiteral(
    "Supported Image Files|*.BMP;*.JPG;*.JPEG;*.WMF;*.ICO;*.PNG;*.GIF;*.EMF;*.PCX;*.DIB;*.WBMP;*.HEIC;*.HEIF;"
    "*.AVIF;*.WEBP;*.TIF;*.TIFF");

// The Add dialog, "Add Files To Project": the chosen files as the dialog gives them, none when
// cancelled.
QStringList ChoosePictureFiles(QWidget* parent);

// Accepts a drag that carries URLs, whatever they name.
void AcceptFileDrag(QDragEnterEvent* event);
// Accepts the drop and returns its local files with native separators, in the order of the
// drop; other URLs are passed over. Nothing is filtered by kind: a folder or a text file stays.
QStringList TakeDroppedFiles(QDropEvent* event);

}  // namespace nimbrel::ui
