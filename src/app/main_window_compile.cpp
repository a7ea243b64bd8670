// The main window's build commands: Compile, Make Installer, and the build run with its progress,
// signing and completion text.
#include "app/main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QEventLoop>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPixmap>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QStackedWidget>
#include <QStyle>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>
#include <optional>

#include "app/file_entries.h"
#include "app/main_window_parts.h"
#include "app/show_tab.h"
#include "app/signing_group.h"
#include "flash/flash_recorder.h"
#include "pipeline/build_pipeline.h"
#include "pipeline/installer_package.h"
#include "pipeline/working_paths.h"
#include "platform/error.h"
#include "platform/file_info.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "project/project_paths.h"
#include "project/value_ranges.h"
#include "ui/color_button.h"
#include "ui/file_dialog.h"
#include "ui/file_list_view.h"
#include "ui/file_name_edit.h"
#include "ui/form_helpers.h"
#include "ui/gradient_progress_bar.h"
#include "ui/limited_memo.h"
#include "ui/message_box.h"
#include "ui/narrow_text.h"
#include "ui/picture_button.h"
#include "ui/picture_files.h"
#include "ui/pictures.h"

namespace nimbrel::app {

using namespace detail;
using ui::Caption;
using ui::Named;

namespace {

// The build's reports, shown in the window: the progress bar is repainted at once, and the
// window keeps painting while the build runs. User input waits, unless the build can be
// cancelled: then the input gate below lets through what may reach the window.
class WindowBuildReporter : public pipeline::BuildReporter {
public:
    WindowBuildReporter(TfrmMain& window, bool cancellable, const bool& cancelRequested)
        : window_(window), flags_(cancellable ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents),
          cancelRequested_(cancelRequested) {}
    void Progress(int percent) override {
        window_.cabProgress(QString(), percent);
        QCoreApplication::processEvents(flags_);
    }
    void Notice(const std::string& text) override {
        ui::MessageBox::Show(&window_, kApplicationTitle, ui::FromNarrow(text), QMessageBox::NoIcon,
                             QMessageBox::Ok);
    }
    void ProcessEvents() override { QCoreApplication::processEvents(flags_); }
    bool Cancelled() override { return cancelRequested_; }

private:
    TfrmMain& window_;
    const QEventLoop::ProcessEventsFlags flags_;
    const bool& cancelRequested_;
};

// While a cancellable build runs on the window's thread, the main window takes no input but its
// Cancel button's: Esc and closing the window cancel too, and no other command starts inside the
// build. Other windows (a message box of the build, a preview) keep theirs.
class CancelOnlyInput : public QObject {
public:
    CancelOnlyInput(TfrmMain& window, QPushButton& cancel) : window_(window), cancel_(cancel) {
        cancel_.show();
        QCoreApplication::instance()->installEventFilter(this);
    }
    ~CancelOnlyInput() override {
        QCoreApplication::instance()->removeEventFilter(this);
        cancel_.hide();
    }

protected:
    bool eventFilter(QObject* target, QEvent* event) override {
        auto* widget = qobject_cast<QWidget*>(target);
        const bool ours = widget != nullptr ? widget->window() == &window_ : !target->isWindowType();
        switch (event->type()) {
            case QEvent::Close:
                if (target != &window_) return false;
                event->ignore();
                window_.CancelBuild();
                return true;
            case QEvent::KeyPress:
                if (!ours) return false;
                if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) window_.CancelBuild();
                return true;
            case QEvent::Shortcut:
            case QEvent::KeyRelease:
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
            case QEvent::Wheel:
            case QEvent::ContextMenu:
            case QEvent::DragEnter:
            case QEvent::Drop:
                return ours && widget != &cancel_;
            default: return false;
        }
    }

private:
    TfrmMain& window_;
    QPushButton& cancel_;
};

// The completion text's LF CR line breaks, as a Qt label shows them.
QString ForDisplay(const std::string& text) {
    QString shown = ui::FromNarrow(text);
    shown.replace(QStringLiteral("\n\r"), QStringLiteral("\n"));
    return shown;
}

}  // namespace

void TfrmMain::cabProgress(const QString& /*msg*/, int percentage) {
    pbar->setPosition(percentage);
    pbar->repaint();
}

void TfrmMain::CancelBuild() {
    if (building_) cancelRequested_ = true;
}

bool TfrmMain::RunReported(bool cancellable, const std::function<void(pipeline::BuildReporter&)>& work) {
    cancelRequested_ = false;
    WindowBuildReporter reporter(*this, cancellable, cancelRequested_);
    std::optional<CancelOnlyInput> gate;
    if (cancellable) gate.emplace(*this, *btnCancelBuild);
    try {
        work(reporter);
    } catch (const flash::RecordingCancelled&) {
        // The user asked for it: no error box, a line in the status bar.
        cabProgress(QString(), 0);
        pbar->setText(tr("Cancelled: the movie was not recorded."));
        cancelRequested_ = false;
        return false;
    }
    cancelRequested_ = false;
    return true;
}

void TfrmMain::Compile1Click() {
    if (building_ || projectFileName_.isEmpty()) return;
    building_ = true;
    if (ProjectKind() == project::kFlash) {
        CompileFlash();
    } else {
        CompileSlideShow();
    }
    building_ = false;
}

void TfrmMain::MakeInstaller1Click() {
    if (building_ || projectFileName_.isEmpty()) return;
    building_ = true;
    RunBuild(true);
    building_ = false;
}

void TfrmMain::CompileSlideShow() {
    RunBuild();
}

void TfrmMain::CompileFlash() {
    RunBuild();
}

void TfrmMain::RunBuild(bool installer) {
    RunCommand([this, installer] {
        pipeline::BuildRequest request;
        request.projectFileName = ui::ToNarrow(projectFileName_);
        request.values = GatherProjectValues();
        if (unknownKind_ != 0) request.values.kind = unknownKind_;
        request.stubPath = stubPath_.empty() ? pipeline::StubPath() : stubPath_;
        request.flashStubPath = flashStubPath_.empty() ? pipeline::FlashStubPath() : flashStubPath_;
        // A Flash build records its movie, which can take a while: that one can be cancelled.
        pipeline::BuildResult result;
        bool finished = false;
        try {
            finished = RunReported(ProjectKind() == project::kFlash, [&](pipeline::BuildReporter& reporter) {
                result = pipeline::CompileProject(request, reporter);
            });
        } catch (...) {
            UpdateCommandState();
            throw;
        }
        if (!finished) {
            UpdateCommandState();
            return;
        }
        ui::FileNameEdit* outputBox = ProjectKind() == project::kFlash ? feFlashOutput : feOutput;
        outputBox->setText(ui::FromNarrow(result.outputBoxText));
        pipeline::SetOutputPath(result.outputPath);
        UpdateCommandState();  // the build saved the project, as Save does
        if (!result.built) return;
        if (ProjectKind() == project::kFlash) ShowFlashPoster(result.posterFrame);
        std::string text = result.completionText;
        // Signing: the password is asked now and forgotten when the build is done.
        std::optional<std::string> password;
        std::string signer;
        if (gbSigning && gbSigning->SignRequested()) {
            password = gbSigning->AskPassword(this);
            if (password) {
                signer = gbSigning->Sign(result.outputPath, *password);
                text += "\n\r" + app::SignedLine(signer);
            } else {
                text += "\n\rThe screensaver was not signed.";
            }
        }
        if (installer) {
            pipeline::InstallerContent content =
                pipeline::InstallerContentOf(request.values, request.projectFileName);
            content.publisher = signer;
            const std::string setup = pipeline::DefaultInstallerPath(result.outputPath, content.showName);
            pipeline::WriteInstaller(
                platform::JoinPath(platform::DirectoryPart(request.stubPath), "setup.bin"), result.outputPath,
                content, setup);
            if (password) gbSigning->Sign(setup, *password);
            text += "\n\rInstaller: " + setup;
        }
        if (password) std::fill(password->begin(), password->end(), '\0');
        ui::MessageBox::Show(this, QString::fromLatin1(pipeline::kCompletionCaption), ForDisplay(text),
                             QMessageBox::Information, QMessageBox::Ok);
    });
}

void TfrmMain::ShowFlashPoster(const std::string& jpeg) {
    if (jpeg.empty()) return;
    QPixmap poster;
    if (poster.loadFromData(reinterpret_cast<const uchar*>(jpeg.data()), static_cast<uint>(jpeg.size())))
        imgFlashPoster->setPixmap(poster.scaled(QSize(240, 135), Qt::KeepAspectRatio, Qt::SmoothTransformation));
    imgFlashPoster->setVisible(!poster.isNull());
}

}  // namespace nimbrel::app
