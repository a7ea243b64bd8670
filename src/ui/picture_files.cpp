#include "ui/picture_files.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QObject>
#include <QUrl>

#include "ui/file_dialog.h"

namespace nimbrel::ui {

QStringList ChoosePictureFiles(QWidget* parent) {
    return FileDialog::GetOpenFileNames(parent, QObject::tr("Add Files To Project"), kPictureFilter);
}

void AcceptFileDrag(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

QStringList TakeDroppedFiles(QDropEvent* event) {
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile()) paths << QDir::toNativeSeparators(url.toLocalFile());
    event->acceptProposedAction();
    return paths;
}

}  // namespace nimbrel::ui
