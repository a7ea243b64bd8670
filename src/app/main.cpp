// The editor's entry point: the application title, the main window, the message loop.
#include <QApplication>
#include <QScreen>
#include <QStyle>

#include "app/main_window.h"
#include "viewer/image_view.h"
#include "wizards/new_choice.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Nimbrel"));
    QApplication::setApplicationDisplayName(nimbrel::app::kApplicationTitle);

    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();
    nimbrel::app::TfrmMain frmMain(arguments);
    frmMain.SetImageViewer(
        [](nimbrel::app::TfrmMain&, const QString& path) { nimbrel::viewer::ShowImageViewer(path); });
    frmMain.SetNewProjectChooser(nimbrel::wizards::RunNewProjectChooser);
    // First shown centred on the desktop.
    if (QScreen* screen = QGuiApplication::primaryScreen())
        frmMain.setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, frmMain.size(),
                                                screen->availableGeometry()));
    frmMain.show();
    return QApplication::exec();
}
