// The main window's commands that hand work to the shell, and the About command. None of them
// waits for what it starts. On Windows none reports a failure; elsewhere a request this system
// cannot carry out (no wine, no xdg-open, no help file, no display control panel) is explained
// in a message box, and a screensaver that wine cannot run, or a document or address that
// xdg-open cannot open, is reported when the program ends, with what to open by hand.
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>

#include "app/about_box.h"
#include "app/main_window.h"
#include "app/preview_window.h"
#include "flash/flash_recorder.h"
#include "pipeline/build_pipeline.h"
#include "pipeline/working_paths.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/shell.h"
#include "platform/temp.h"
#include "project/project_paths.h"
#include "ui/file_name_edit.h"
#include "ui/gradient_progress_bar.h"
#include "ui/message_box.h"
#include "ui/narrow_text.h"

namespace nimbrel::app {

namespace {

// The display control panel's entry points, run through rundll32.
constexpr char kRunDll[] = "rundll32.exe";
constexpr char kInstallScreenSaver[] = "desk.cpl,InstallScreenSaver ";
constexpr char kScreenSaverPage[] = "shell32.dll,Control_RunDLL desk.cpl,,1";

// The last lines of what a program wrote, for a message.
QString Tail(const QByteArray& output, int lines) {
    QStringList all = QString::fromLocal8Bit(output).split(u'\n', Qt::SkipEmptyParts);
    if (all.size() > lines) all = all.mid(all.size() - lines);
    return all.join(u'\n').trimmed();
}

}  // namespace

bool TfrmMain::ExplainShellProblem(const platform::ShellCall& call) {
    const std::string problem = platform::ShellProblem(call);
    if (problem.empty()) return false;
    ui::MessageBox::Show(this, kApplicationTitle, ui::FromNarrow(problem), QMessageBox::Information,
                         QMessageBox::Ok);
    return true;
}

void TfrmMain::RunShellCall(const platform::ShellCall& call) {
    if (ExplainShellProblem(call)) return;
#ifndef Q_OS_WIN
    // The program that carries the request out (wine for a Windows program, xdg-open for a
    // document or address) runs watched, so that one that fails is reported.
    const std::vector<std::string> line = platform::ShellCommandLine(call, platform::WineProgram());
    if (!platform::ShellRecording() && !line.empty()) {
        const bool wine = QFileInfo(ui::FromNarrow(line.front())).fileName() == QStringLiteral("wine");
        // An opener may stay with the browser it starts: it is not the window's, so closing the
        // window does not end it (a watched screensaver ends with the window).
        auto* process = new QProcess(wine ? this : nullptr);
        process->setObjectName(wine ? QStringLiteral("wineProcess") : QStringLiteral("openProcess"));
        process->setProgram(ui::FromNarrow(line.front()));
        QStringList arguments;
        for (std::size_t i = 1; i < line.size(); ++i) arguments << ui::FromNarrow(line[i]);
        process->setArguments(arguments);
        process->setProcessChannelMode(QProcess::MergedChannels);
        const QString target = ui::FromNarrow(call.file);
        const QString launcher = QFileInfo(process->program()).fileName();
        // What the user can do by hand when the launch fails.
        const QString byHand =
            wine ? tr("Wine may be unable to run this kind of program here: a 32-bit screensaver needs "
                      "a wine that runs 32-bit programs (on Debian: dpkg --add-architecture i386, "
                      "then apt install wine32).")
                 : tr("Open it by hand:\n%1").arg(target);
        connect(process, &QProcess::finished, this,
                [this, process, target, launcher, wine, byHand](int exitCode, QProcess::ExitStatus status) {
                    process->deleteLater();
                    if (status == QProcess::NormalExit && exitCode == 0) return;
                    QString text = wine ? tr("%1 ended with an error under wine (exit code %2).")
                                              .arg(target)
                                              .arg(exitCode)
                                        : tr("%1 could not be opened: %2 ended with exit code %3.")
                                              .arg(target, launcher)
                                              .arg(exitCode);
                    const QString output = Tail(process->readAll(), 4);
                    if (!output.isEmpty()) text += QStringLiteral("\n\n") + output;
                    text += QStringLiteral("\n\n") + byHand;
                    ui::MessageBox::Show(this, kApplicationTitle, text, QMessageBox::Warning, QMessageBox::Ok);
                });
        connect(process, &QProcess::errorOccurred, this,
                [this, process, target, launcher, byHand](QProcess::ProcessError error) {
                    if (error != QProcess::FailedToStart) return;
                    process->deleteLater();
                    ui::MessageBox::Show(this, kApplicationTitle,
                                         tr("%1 could not be opened: %2 could not be started (%3).")
                                                 .arg(target, launcher, process->errorString()) +
                                             QStringLiteral("\n\n") + byHand,
                                         QMessageBox::Warning, QMessageBox::Ok);
                });
        process->start();
        return;
    }
#endif
    platform::ExecuteShell(call);
}

// A document or address opened with the default verb: empty operation, parameters and directory.
void TfrmMain::OpenWithShell(const QString& target) {
    RunShellCall({std::string(), ui::ToNarrow(target), std::string(), std::string()});
}

QString TfrmMain::HelpFileName() {
    const QString program = QCoreApplication::applicationFilePath();
    const QString directory = QFileInfo(program).absolutePath();
    // The guide built as HTML: beside the program in the build tree, in the shared data folder
    // once installed.
    const QStringList html{directory + QStringLiteral("/help/index.html"),
                           directory + QStringLiteral("/../share/nimbrel/help/index.html")};
    QString found;
    for (const QString& candidate : html)
        if (found.isEmpty() && QFileInfo(candidate).isFile()) found = QDir::cleanPath(candidate);
#ifdef Q_OS_WIN
    // A compiled help file of the program's own name comes first.
    const QString chm =
        ui::FromNarrow(platform::ChangeExtension(ui::ToNarrow(QDir::toNativeSeparators(program)), ".chm"));
    if (QFileInfo(chm).isFile() || found.isEmpty()) return chm;
    return QDir::toNativeSeparators(found);
#else
    return found.isEmpty() ? QDir::cleanPath(html.first()) : found;
#endif
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

bool TfrmMain::OutputBuilt() const {
    const std::string output = ui::ToNarrow(ResolvedPath(OutputBoxText()));
    return !output.empty() && platform::FileExists(output);
}

void TfrmMain::ShowCompileFirst() {
    pbar->setText(tr("Compile the project first: Test and Install run the screensaver it makes."));
}

void TfrmMain::Test1Click() {
    const std::string output = ui::ToNarrow(ResolvedPath(OutputBoxText()));
    if (!OutputBuilt()) ShowCompileFirst();
    if (!output.empty() && platform::FileExists(output)) {
        // Where wine cannot run the screensaver, the show plays in the editor's preview. (While the
        // shell is recorded nothing runs, so whether wine could run it does not matter.)
        if (ProjectKind() == project::kSlideShow && !platform::ShellRecording() && !platform::CanRunWindowsProgram(output)) {
            OpenPreview(tr("wine cannot run the screensaver here"));
        } else {
            RunShellCall({std::nullopt, output, std::string("/s"), std::nullopt});
        }
    }
    UpdateCommandState();
}

void TfrmMain::Preview1Click() {
    OpenPreview({});
}

void TfrmMain::OpenPreview(const QString& note) {
    if (ProjectKind() == project::kFlash) {
        OpenMoviePreview(note);
        return;
    }
    if (ProjectKind() != project::kSlideShow) return;
    const project::ProjectValues values = GatherProjectValues();
    auto* preview = new TfrmPreview(
        values.slideShow, show::PicturePaths(values.files, ui::ToNarrow(ProjectFileName())), note, 0, this);
    preview->show();
}

void TfrmMain::OpenMoviePreview(const QString& note) {
    if (building_) return;
    const project::ProjectValues values = GatherProjectValues();
    const std::string projectFile = ui::ToNarrow(ProjectFileName());
    const std::string movie = project::ResolveProjectPath(values.flash.flashFile, projectFile);
    if (values.flash.flashFile.empty() || !platform::FileExists(movie)) {
        ui::MessageBox::Show(this, QStringLiteral("Nimbrel"),
                             tr("The project has no movie to play: choose its Flash file first."),
                             QMessageBox::Information, QMessageBox::Ok);
        return;
    }
    // The recorder the build would use: beside the Flash player.
    const flash::RecorderSetup setup = flash::FindRecorder(
        platform::DirectoryPart(flashStubPath_.empty() ? pipeline::FlashStubPath() : flashStubPath_));
    if (!setup.Available()) {
        ui::MessageBox::Show(this, QStringLiteral("Nimbrel"),
                             ui::FromNarrow(flash::NotRecordedNotice(setup.missing)), QMessageBox::Information,
                             QMessageBox::Ok);
        return;
    }
    RunCommand([&] {
        auto frames = std::make_unique<platform::TempDirectory>("nimbrel-preview");
        pipeline::MovieRecording recording;
        building_ = true;
        bool finished = false;
        try {
            finished = RunReported(true, [&](pipeline::BuildReporter& reporter) {
                const auto progress = [&](int done, int total) {
                    reporter.Progress(total > 0 ? done * 100 / total : 100);
                    return !reporter.Cancelled();
                };
                recording = pipeline::RecordProjectMovie(movie, projectFile, frames->Path(), setup, progress);
            });
        } catch (...) {
            building_ = false;
            cabProgress(QString(), 0);
            throw;
        }
        building_ = false;
        cabProgress(QString(), 0);
        if (!finished) return;
        if (!recording.files.empty()) ShowFlashPoster(platform::ReadWholeFile(recording.files.front()));
        auto* preview = new TfrmPreview(std::move(recording.index), std::move(frames), note, this);
        preview->show();
    });
}

void TfrmMain::Install1Click() {
    // The path follows the entry point unquoted, blanks included, as the installer expects.
    const std::string output = ui::ToNarrow(ResolvedPath(OutputBoxText()));
    if (!OutputBuilt()) ShowCompileFirst();
    if (!output.empty() && platform::FileExists(output))
        RunShellCall({std::nullopt, kRunDll, kInstallScreenSaver + output, std::nullopt});
    UpdateCommandState();
}

void TfrmMain::ScreenSaverControlPanel1Click() {
    RunShellCall({std::nullopt, kRunDll, std::string(kScreenSaverPage), std::nullopt});
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
