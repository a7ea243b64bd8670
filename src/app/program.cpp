#include "app/program.h"

#include <QApplication>

#include "nimbrel_version.h"
#include "ui/pictures.h"

namespace nimbrel::app {

void ConfigureApplication() {
    QApplication::setApplicationName(QStringLiteral("Nimbrel"));
    QApplication::setApplicationVersion(QStringLiteral(NIMBREL_VERSION_TEXT));
    QGuiApplication::setDesktopFileName(QStringLiteral("nimbrel"));
    QApplication::setWindowIcon(ui::ProgramIcon());
}

QString VersionText() {
    return QStringLiteral("Nimbrel " NIMBREL_VERSION_TEXT "\n");
}

QString UsageText() {
    return QStringLiteral(
        "Usage: nimbrel [OPTION]... [--] [PROJECT.nssp]\n"
        "Makes a Windows screensaver from pictures or a Flash movie. With a project file named,\n"
        "the editor opens it; without one, it starts with no project.\n"
        "\n"
        "  -h, --help     show this text and end\n"
        "  -v, --version  show the program's version and end\n"
        "  --             end of the options: what follows is a project file, even when it\n"
        "                 starts with \"-\"\n"
        "\n"
        "Compiling without windows: nimbrel-cli --help\n");
}

CommandLine ParseCommandLine(const QStringList& arguments) {
    CommandLine line;
    bool options = true;
    for (const QString& argument : arguments) {
        if (options && argument == QStringLiteral("--")) {
            options = false;
        } else if (options && argument.startsWith(u'-')) {
            if (argument == QStringLiteral("--help") || argument == QStringLiteral("-h"))
                line.help = true;
            else if (argument == QStringLiteral("--version") || argument == QStringLiteral("-v"))
                line.version = true;
            else if (line.badOption.isEmpty())
                line.badOption = argument;
        } else if (line.project.isEmpty()) {
            line.project = argument;
        }
    }
    return line;
}

QStringList ArgumentsOf(int argc, const char* const* argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

}  // namespace nimbrel::app
