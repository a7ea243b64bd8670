// The editor's entry point: the application title, the main window, the message loop.
#include <QApplication>
#include <cstdio>

#include "app/main_window.h"
#include "app/program.h"
#include "platform/interrupt.h"
#include "viewer/image_view.h"
#include "wizards/new_choice.h"

int main(int argc, char* argv[]) {
    // Answered before any window system is needed.
    const nimbrel::app::CommandLine asked =
        nimbrel::app::ParseCommandLine(nimbrel::app::ArgumentsOf(argc, argv));
    if (asked.help || asked.version) {
        const QString text = asked.help ? nimbrel::app::UsageText() : nimbrel::app::VersionText();
        std::fputs(text.toLocal8Bit().constData(), stdout);
        return 0;
    }
    // A build interrupted by a signal removes its half-written screensaver and work folder.
    nimbrel::platform::CleanUpOnInterrupt();
    QApplication application(argc, argv);
    nimbrel::app::ConfigureApplication();

    // Qt has taken its own options (-style, -platform, ...) out of argv by now.
    const nimbrel::app::CommandLine line =
        nimbrel::app::ParseCommandLine(nimbrel::app::ArgumentsOf(argc, argv));
    if (!line.badOption.isEmpty()) {
        std::fprintf(stderr, "nimbrel: unknown option %s (nimbrel --help lists the options)\n",
                     line.badOption.toLocal8Bit().constData());
        return 2;
    }
    QStringList arguments;
    if (!line.project.isEmpty()) arguments << line.project;
    nimbrel::app::TfrmMain frmMain(arguments);
    frmMain.SetImageViewer(
        [](nimbrel::app::TfrmMain&, const QString& path) { nimbrel::viewer::ShowImageViewer(path); });
    frmMain.SetNewProjectChooser(nimbrel::wizards::RunNewProjectChooser);
    // First shown centred on the desktop (a stored placement moves it when it is shown).
    frmMain.CentreOnScreen();
    frmMain.show();
    return QApplication::exec();
}
