// The main window's commands that hand work to the shell, and the About command. None of them
// waits for what it starts or reports a failure.
#include <QCoreApplication>
#include <QDir>
#include <QMessageBox>

#include "app/about_box.h"
#include "app/main_window.h"
#include "app/preview_window.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/shell.h"
#include "ui/file_name_edit.h"
#include "ui/message_box.h"
#include "ui/narrow_text.h"

namespace nimbrel::app {

namespace {

// The display control panel's entry points, run through rundll32.
constexpr char kRunDll[] = "rundll32.exe";
constexpr char kInstallScreenSaver[] = "desk.cpl,InstallScreenSaver ";
constexpr char kScreenSaverPage[] = "shell32.dll,Control_RunDLL desk.cpl,,1";

// A document or address opened with the default verb: empty operation, parameters and directory.
void OpenWithShell(const QString& target) {
    platform::ExecuteShell({std::string(), ui::ToNarrow(target), std::string(), std::string()});
}

}  // namespace

QString TfrmMain::HelpFileName() {
    const std::string program =
        ui::ToNarrow(QDir::toNativeSeparators(QCoreApplication::applicationFilePath()));
    return ui::FromNarrow(platform::ChangeExtension(program, ".chm"));
}

QString TfrmMain::WebsiteAddress() {
    return QStringLiteral("https://www.tarnwick.example/");
}

QString TfrmMain::OutputBoxText() const {
    switch (ProjectKind()) {
        case project::kSlideShow: return feOutput->text();
        case project::kFlash: return feFlashOutput->text();
        default: return {};
    }
}

void TfrmMain::Test1Click() {
    const std::string output = ui::ToNarrow(OutputBoxText());
    if (!output.empty() && platform::FileExists(output)) {
        // Where wine cannot run the screensaver, the show plays in the editor's preview.
        if (ProjectKind() == project::kSlideShow && !WineCanRun(output)) {
            OpenPreview(tr("wine cannot run the screensaver here"));
        } else {
            platform::ExecuteShell({std::nullopt, output, std::string("/s"), std::nullopt});
        }
    }
    UpdateCommandState();
}

void TfrmMain::Preview1Click() {
    OpenPreview({});
}

void TfrmMain::OpenPreview(const QString& note) {
    if (ProjectKind() != project::kSlideShow) {
        ui::MessageBox::Show(this, QStringLiteral("Nimbrel"),
                             tr("The preview plays slideshows; Compile and Test play a Flash show."),
                             QMessageBox::Information, QMessageBox::Ok);
        return;
    }
    const project::ProjectValues values = GatherProjectValues();
    auto* preview = new TfrmPreview(values.slideShow,
                                    show::PicturePaths(values.files, ui::ToNarrow(ProjectFileName())), note, 0, this);
    preview->show();
}

void TfrmMain::Install1Click() {
    // The path follows the entry point unquoted, blanks included, as the installer expects.
    const std::string output = ui::ToNarrow(OutputBoxText());
    if (!output.empty() && platform::FileExists(output))
        platform::ExecuteShell({std::nullopt, kRunDll, kInstallScreenSaver + output, std::nullopt});
    UpdateCommandState();
}

void TfrmMain::ScreenSaverControlPanel1Click() {
    platform::ExecuteShell({std::nullopt, kRunDll, std::string(kScreenSaverPage), std::nullopt});
    UpdateCommandState();
}

void TfrmMain::Contents1Click() {
    OpenWithShell(HelpFileName());
}

void TfrmMain::btnWebsiteClick() {
    OpenWithShell(WebsiteAddress());
}

void TfrmMain::About1Click() {
    TfrmAbout about(this);
    about.exec();
}

}  // namespace nimbrel::app
