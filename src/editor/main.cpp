// The editor's entry point: the application title, the main window, the message loop.
#include <QApplication>
#include <QScreen>
#include <QStyle>
#include <cstdio>

#include "app/main_window.h"
#include "app/program.h"
#include "viewer/image_view.h"
#include "wizards/new_choice.h"

int main(int argc, char* argv[]) {
    // Answered before any window system is needed.
    if (nimbrel::app::AsksForVersion(argc, argv)) {
        std::fputs(nimbrel::app::VersionText().toLocal8Bit().constData(), stdout);
        return 0;
    }
    QApplication application(argc, argv);
    nimbrel::app::ConfigureApplication();

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
