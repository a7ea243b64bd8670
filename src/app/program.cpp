#include "app/program.h"

#include <QApplication>
#include <cstring>

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

bool AsksForVersion(int argc, const char* const* argv) {
    return argc == 2 && (std::strcmp(argv[1], "--version") == 0 || std::strcmp(argv[1], "-v") == 0);
}

}  // namespace nimbrel::app
