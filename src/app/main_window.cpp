// The main window: its state, the project it holds (load, apply, gather, save) and the
// project commands; the layout, the file list and the compile commands have files of their own.
#include "app/main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QEventLoop>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QPixmap>
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

TfrmMain::TfrmMain(const QStringList& arguments, QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("frmMain"));
    // Fixed size: system menu and minimise box, no maximise box.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowTitle(QStringLiteral("Untitled - ") + kApplicationTitle);
    setAcceptDrops(true);

    BuildMenus();
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(BuildCommandBar());
    nbMain = Named(new QStackedWidget(central), "nbMain");
    nbMain->addWidget(BuildSlideShowPage());
    nbMain->addWidget(BuildFlashPage());
    // On a screen too small for the window the pages scroll instead of leaving the screen.
    auto* pages = Named(new QScrollArea(central), "scrPages");
    pages->setFrameShape(QFrame::NoFrame);
    pages->setWidgetResizable(true);
    pages->setWidget(nbMain);
    layout->addWidget(pages, 1);
    auto* progressRow = new QHBoxLayout();
    progressRow->setSpacing(0);
    pbar = Named(new ui::GradientProgressBar(central), "pbar");
    progressRow->addWidget(pbar, 1);
    btnCancelBuild = Named(new QPushButton(tr("&Cancel"), central), "btnCancelBuild");
    btnCancelBuild->setFocusPolicy(Qt::NoFocus);
    btnCancelBuild->hide();
    connect(btnCancelBuild, &QPushButton::clicked, this, &TfrmMain::CancelBuild);
    progressRow->addWidget(btnCancelBuild);
    layout->addLayout(progressRow);
    setCentralWidget(central);
    designedSize_ = QSize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());
    setFixedSize(designedSize_);

    RunCommand([this] { LoadListSettings(); });  // the list's layout, before the creation handler
    FormCreate(arguments);
}

TfrmMain::~TfrmMain() {
    // Nobody is left to see an error box: a failure to store the state only loses it.
    try {
        if (!windowStateSaved_) SaveWindowState(true);
    } catch (const std::exception&) {
    }
    try {
        StoreListSettings();
    } catch (const std::exception&) {
    }
}

void TfrmMain::FormCreate(const QStringList& arguments) {
    // The About memos start with the default text, as after New.
    memShowText->setPlainText(ui::FromNarrow(project::DefaultAboutText()));
    memFlashShowText->setPlainText(memShowText->toPlainText());
    tnMain->setCurrentIndex(0);
    pcMain->setCurrentIndex(0);
    nbMain->setCurrentIndex(project::kSlideShow);
    pipeline::InitWorkingPaths();
    if (!arguments.isEmpty()) RunCommand([&] { LoadProject(arguments.first()); });
    UpdateCommandState();
}

int TfrmMain::ProjectKind() const {
    return nbMain->currentIndex();
}

void TfrmMain::SetProjectKind(int kind) {
    nbMain->setCurrentIndex(kind);
}

bool TfrmMain::RunCommand(const std::function<void()>& command) {
    try {
        command();
        return true;
    } catch (const std::exception& error) {
        ui::ShowErrorBox(this, ui::FromNarrow(error.what()));
    }
    return false;
}

void TfrmMain::UpdateCommandState() {
    // The one place that decides which commands are open; their buttons follow their actions.
    const bool named = !projectFileName_.isEmpty();
    const bool slideShow = named && ProjectKind() == project::kSlideShow;
    for (QAction* a : {AddFile1, RemoveFile1, CheckFiles1}) a->setEnabled(slideShow);
    for (QAction* a : {Project3, Compile1, MakeInstaller1, Test1, Install1}) a->setEnabled(named);
    for (QWidget* w :
         std::initializer_list<QWidget*>{lvFiles, tnMain, txtFlash_Title, memFlashShowText, feFlash,
                                         feFlashOutput, chkFlashChangeIcon, feFlashIcon})
        w->setEnabled(named);
    // Test and Install run the screensaver the last Compile made; before that they do nothing.
    const QString hint = named && !OutputBuilt() ? tr("Compile the project first") : QString();
    btnTest->setToolTip(hint);
    for (QAction* a : {Test1, Install1}) a->setStatusTip(hint);
}

void TfrmMain::LoadProject(const QString& path) {
    AddRecentProject(path);
    projectFileName_ = path;
    lvFiles->clear();
    listSorted_ = true;  // no entries stand in every order
    project::LoadedProject loaded = project::LoadProject(ui::ToNarrow(path));
    ApplyLoadedProject(loaded);
    setWindowTitle(ui::FromNarrow(platform::FileNamePart(ui::ToNarrow(projectFileName_))) +
                   QStringLiteral(" - ") + kApplicationTitle);
    unknownKind_ = loaded.type == project::kSlideShow || loaded.type == project::kFlash ? 0 : loaded.type;
    ui::FileDialog::SetProjectFolder(QFileInfo(projectFileName_).absolutePath());
    UpdateCommandState();
    // The project is open; only rewriting it without its repeated sections failed.
    if (!loaded.rewriteError.empty()) throw Error(loaded.rewriteError);
}

void TfrmMain::ApplyLoadedProject(const project::LoadedProject& loaded) {
    if (loaded.type == project::kSlideShow || loaded.type == project::kFlash)
        nbMain->setCurrentIndex(loaded.type);
    if (loaded.slideShowRead) {
        for (const std::string& file : loaded.files) AddFileEntry(ui::FromNarrow(file), EntryMode::Tolerant);
        const project::SlideShowValues& v = loaded.slideShow;
        feOutput->setText(ui::FromNarrow(v.output));
        options.chkCenter->setChecked(v.center);
        options.chkAutoSize->setChecked(v.autoSize);
        options.chkStretch->setChecked(v.stretch);
        options.chkKeepAspect->setChecked(v.keepAspect);
        options.chkRandom->setChecked(v.random);
        options.tbShowSpeed->setValue(v.showSpeed);  // the slider clamps into 1..240
        bool known = v.transition >= 0 && v.transition < project::kTransitionItems;
        options.cboTransition->setCurrentIndex(known ? v.transition : -1);
        options.btnBGColor->setColor(v.backgroundColor);
        options.SetFit(v.fitPictures, v.fitWidth, v.fitHeight);
        showTab->SetValues(v.show);
        for (std::size_t i = 0;
             i < v.captions.size() && i < static_cast<std::size_t>(lvFiles->topLevelItemCount()); ++i)
            lvFiles->topLevelItem(static_cast<int>(i))
                ->setText(kCaptionColumn, ui::FromNarrow(v.captions[i]));

        options.SetStoreCompressed(v.storeCompressed);
        chkChangeIcon->setChecked(v.changeIcon);
        feIcon->setText(ui::FromNarrow(v.iconFile));
        txtShowName->setText(ui::FromNarrow(v.showName));
        memShowText->setPlainText(ui::FromNarrow(v.showText));
    }
    if (loaded.flashRead) {
        const project::FlashValues& v = loaded.flash;
        txtFlash_Title->setText(ui::FromNarrow(v.title));
        memFlashShowText->setPlainText(ui::FromNarrow(v.showText));
        feFlash->setText(ui::FromNarrow(v.flashFile));
        chkFlashChangeIcon->setChecked(v.changeIcon);
        feFlashIcon->setText(ui::FromNarrow(v.iconFile));
        feFlashOutput->setText(ui::FromNarrow(v.output));
    }
}

project::ProjectValues TfrmMain::GatherProjectValues() const {
    project::ProjectValues values;
    values.kind = ProjectKind();
    for (int i = 0; i < lvFiles->topLevelItemCount(); ++i)
        values.files.push_back(ui::ToNarrow(lvFiles->topLevelItem(i)->text(kColumnName)));
    project::SlideShowValues& s = values.slideShow;
    s.output = ui::ToNarrow(feOutput->text());
    options.Gather(s);
    s.show = showTab->Values();
    for (int i = 0; i < lvFiles->topLevelItemCount(); ++i)
        s.captions.push_back(ui::ToNarrow(lvFiles->topLevelItem(i)->text(kCaptionColumn)));
    s.changeIcon = chkChangeIcon->isChecked();
    s.iconFile = ui::ToNarrow(feIcon->text());
    s.showName = ui::ToNarrow(txtShowName->text());
    s.showText = MemoText(memShowText);
    project::FlashValues& f = values.flash;
    f.title = ui::ToNarrow(txtFlash_Title->text());
    f.showText = MemoText(memFlashShowText);
    f.flashFile = ui::ToNarrow(feFlash->text());
    f.changeIcon = chkFlashChangeIcon->isChecked();
    f.iconFile = ui::ToNarrow(feFlashIcon->text());
    f.output = ui::ToNarrow(feFlashOutput->text());
    return values;
}

void TfrmMain::SaveProject(const QString& path) {
    if (projectFileName_.isEmpty()) projectFileName_ = path;
    project::SaveProject(ui::ToNarrow(projectFileName_), GatherProjectValues());
    ui::FileDialog::SetProjectFolder(QFileInfo(projectFileName_).absolutePath());
    UpdateCommandState();
}

QString TfrmMain::ResolvedPath(const QString& stored) const {
    return ui::FromNarrow(project::ResolveProjectPath(ui::ToNarrow(stored), ui::ToNarrow(projectFileName_)));
}

void TfrmMain::Project2Click() {
    projectFileName_.clear();
    unknownKind_ = 0;
    setWindowTitle(kApplicationTitle);
    UpdateCommandState();
    feOutput->setText({});
    for (QCheckBox* box : options.CheckBoxes()) box->setChecked(false);
    options.tbShowSpeed->setValue(10);
    options.cboTransition->setCurrentIndex(-1);
    options.btnBGColor->setColor(0);
    options.SetFit(false, 3840, 2160);
    showTab->SetValues({});

    options.SetStoreCompressed(false);
    chkChangeIcon->setChecked(false);
    feIcon->setText({});
    txtShowName->clear();
    memShowText->setPlainText(ui::FromNarrow(project::DefaultAboutText()));
    memFlashShowText->setPlainText(memShowText->toPlainText());
    feFlash->setText({});
    feFlashOutput->setText({});
    chkFlashChangeIcon->setChecked(false);
    feFlashIcon->setText({});
    txtFlash_Title->clear();
    // The project type chooser runs its wizards here once they exist.
    if (newProjectChooser_) RunCommand([this] { newProjectChooser_(*this); });
    UpdateCommandState();
}

void TfrmMain::Project4Click() {
    QStringList chosen = ui::FileDialog::GetOpenFileNames(this, tr("Open Project"), kProjectFilter);
    if (!chosen.isEmpty()) RunCommand([&] { LoadProject(chosen.first()); });
    UpdateCommandState();
}

void TfrmMain::Project3Click() {
    RunCommand([this] { SaveProject(projectFileName_); });
}

void TfrmMain::Exit1Click() {
    close();
}

void TfrmMain::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) UpdateCommandState();  // FormActivate
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    RunCommand([this] { SaveWindowState(); });  // placement and recent list, before the prompt
    if (!projectFileName_.isEmpty()) {
        auto answer = ui::MessageBox::Show(this, QStringLiteral("Nimbrel - Save File?"),
                                           QStringLiteral("Would you like to save the current editor file"),
                                           QMessageBox::Warning, QMessageBox::Yes | QMessageBox::No);
        // Only a failing save keeps the window open.
        if (answer == QMessageBox::Yes && !RunCommand([this] { SaveProject(projectFileName_); })) {
            event->ignore();
            return;
        }
    }
    event->accept();
}

}  // namespace nimbrel::app
