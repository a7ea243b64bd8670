// The main window's layout: the menus, the command bar of picture buttons (each button the
// second face of its menu command's action), the slideshow page, the Options tab and the Flash page.
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

namespace {

QAction* NamedAction(QMenu* menu, const char* name, const QString& caption, const QKeySequence& shortcut) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(QString::fromLatin1(name));
    if (!shortcut.isEmpty()) action->setShortcut(shortcut);
    return action;
}

ui::FileNameEdit* OutputBox(QWidget* parent, const char* name) {
    auto* box = Named(new ui::FileNameEdit(ui::FileNameEdit::DialogKind::Save, parent), name);
    box->setFilter(kOutputFilter);
    box->setDefaultSuffix(QStringLiteral("scr"));
    return box;
}

ui::FileNameEdit* OpenBox(QWidget* parent, const char* name, const QString& filter) {
    auto* box = Named(new ui::FileNameEdit(ui::FileNameEdit::DialogKind::Open, parent), name);
    box->setFilter(filter);
    return box;
}

}  // namespace

void TfrmMain::BuildMenus() {
    QMenu* file = menuBar()->addMenu(tr("&File"));
    Project2 = NamedAction(file, "Project2", tr("&New"), QKeySequence(Qt::CTRL | Qt::Key_N));
    Project4 = NamedAction(file, "Project4", tr("&Open"), QKeySequence(Qt::CTRL | Qt::Key_O));
    Project3 = NamedAction(file, "Project3", tr("&Save"), QKeySequence(Qt::CTRL | Qt::Key_S));
    file->addSeparator();
    Recent1 = file->addMenu(tr("&Recent"));
    Recent1->setObjectName(QStringLiteral("Recent1"));
    Recent1->menuAction()->setObjectName(QStringLiteral("Recent1Action"));
    Recent1->setEnabled(false);  // the recent-projects list enables it once it holds entries
    file->addSeparator();
    Exit1 = NamedAction(file, "Exit1", tr("E&xit"), QKeySequence(Qt::ALT | Qt::Key_F4));

    QMenu* project = menuBar()->addMenu(tr("&Project"));
    Compile1 = NamedAction(project, "Compile1", tr("&Compile"), QKeySequence(Qt::Key_F9));
    Preview1 = NamedAction(project, "Preview1", tr("Pre&view"), QKeySequence(Qt::Key_F5));
    MakeInstaller1 = NamedAction(project, "MakeInstaller1", tr("Make Installe&r..."), QKeySequence());
    Test1 = NamedAction(project, "Test1", tr("&Test"), QKeySequence(Qt::CTRL | Qt::Key_F9));
    Install1 = NamedAction(project, "Install1", tr("&Install"), QKeySequence(Qt::ALT | Qt::Key_F9));
    project->addSeparator();
    ScreenSaverControlPanel1 = NamedAction(project, "ScreenSaverControlPanel1",
                                           tr("&Screen Saver Control Panel"), QKeySequence(Qt::Key_F12));
    project->addSeparator();
    AddFile1 = NamedAction(project, "AddFile1", tr("&Add File"), QKeySequence(Qt::Key_Insert));
    RemoveFile1 =
        NamedAction(project, "RemoveFile1", tr("&Remove File"), QKeySequence(Qt::CTRL | Qt::Key_Delete));
    project->addSeparator();
    CheckFiles1 = NamedAction(project, "CheckFiles1", tr("&Check Files"), QKeySequence(Qt::Key_F10));

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    Contents1 = NamedAction(help, "Contents1", tr("&Contents"), QKeySequence(Qt::Key_F1));
    help->addSeparator();
    GotoWebsite1 =
        NamedAction(help, "GotoWebsite1", tr("Go to &Website"), QKeySequence(Qt::SHIFT | Qt::Key_F1));
    help->addSeparator();
    About1 = NamedAction(help, "About1", tr("&About..."), QKeySequence(Qt::CTRL | Qt::Key_F1));

    connect(Project2, &QAction::triggered, this, &TfrmMain::Project2Click);
    connect(Project4, &QAction::triggered, this, &TfrmMain::Project4Click);
    connect(Project3, &QAction::triggered, this, &TfrmMain::Project3Click);
    connect(Exit1, &QAction::triggered, this, &TfrmMain::Exit1Click);
    connect(Compile1, &QAction::triggered, this, &TfrmMain::Compile1Click);
    connect(MakeInstaller1, &QAction::triggered, this, &TfrmMain::MakeInstaller1Click);
    connect(Preview1, &QAction::triggered, this, &TfrmMain::Preview1Click);
    connect(AddFile1, &QAction::triggered, this, &TfrmMain::AddFile1Click);
    connect(RemoveFile1, &QAction::triggered, this, &TfrmMain::RemoveFile1Click);
    connect(CheckFiles1, &QAction::triggered, this, &TfrmMain::CheckFiles1Click);
    connect(Test1, &QAction::triggered, this, &TfrmMain::Test1Click);
    connect(Install1, &QAction::triggered, this, &TfrmMain::Install1Click);
    connect(ScreenSaverControlPanel1, &QAction::triggered, this, &TfrmMain::ScreenSaverControlPanel1Click);
    connect(Contents1, &QAction::triggered, this, &TfrmMain::Contents1Click);
    connect(GotoWebsite1, &QAction::triggered, this, &TfrmMain::btnWebsiteClick);
    connect(About1, &QAction::triggered, this, &TfrmMain::About1Click);
}

QWidget* TfrmMain::BuildCommandBar() {
    pcMain = Named(new QTabWidget(this), "pcMain");
    pcMain->setFixedHeight(113);
    auto page = [this](const char* name) {
        auto* widget = new QWidget(pcMain);
        widget->setObjectName(QString::fromLatin1(name));
        // The buttons sit on a vertical gradient from white.
        widget->setAttribute(Qt::WA_StyledBackground, true);
        widget->setStyleSheet(QStringLiteral("#%1 { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, "
                                             "stop:0 #ffffff, stop:1 #b8c4d8); }")
                                  .arg(QString::fromLatin1(name)));
        auto* row = new QHBoxLayout(widget);
        row->setContentsMargins(6, 4, 6, 4);
        row->setSpacing(4);
        return std::pair{widget, row};
    };
    auto button = [this](QHBoxLayout* row, const char* name, const QString& caption, const char* picture) {
        auto* b = Named(new ui::PictureButton(caption, QString::fromLatin1(picture), pcMain), name);
        row->addWidget(b);
        return b;
    };

    auto [filePage, fileRow] = page("tabFile");
    btnNew = button(fileRow, "btnNew", tr("&New"), "new");
    btnOpen = button(fileRow, "btnOpen", tr("&Open"), "open");
    btnSave = button(fileRow, "btnSave", tr("&Save"), "save");
    btnExit = button(fileRow, "btnExit", tr("E&xit"), "exit");
    fileRow->addStretch();
    pcMain->addTab(filePage, tr("File"));

    auto [projectPage, projectRow] = page("tabProject");
    btnCompile = button(projectRow, "btnCompile", tr("&Compile"), "compile");
    btnTest = button(projectRow, "btnTest", tr("&Test"), "test");
    btnAddFile = button(projectRow, "btnAddFile", tr("&Add File"), "addfile");
    btnRemoveFile = button(projectRow, "btnRemoveFile", tr("&Del File"), "delfile");
    btnCheck = button(projectRow, "btnCheck", tr("&Check"), "check");
    projectRow->addStretch();
    pcMain->addTab(projectPage, tr("Project"));

    auto [helpPage, helpRow] = page("tabHelp");
    btnContents = button(helpRow, "btnContents", tr("&Help"), "help");
    btnAbout = button(helpRow, "btnAbout", tr("&About"), "about");
    btnWebsite = button(helpRow, "btnWebsite", tr("&Website"), "website");
    helpRow->addStretch();
    pcMain->addTab(helpPage, tr("Help"));

    // A button is its menu command's second face: one action, one handler, one enabled state.
    const std::pair<ui::PictureButton*, QAction*> faces[] = {
        {btnNew, Project2},       {btnOpen, Project4},          {btnSave, Project3},
        {btnExit, Exit1},         {btnCompile, Compile1},       {btnTest, Test1},
        {btnAddFile, AddFile1},   {btnRemoveFile, RemoveFile1}, {btnCheck, CheckFiles1},
        {btnContents, Contents1}, {btnAbout, About1},           {btnWebsite, GotoWebsite1}};
    for (const auto& [button, action] : faces) {
        connect(button, &QToolButton::clicked, action, &QAction::trigger);
        const auto follow = [button, action] { button->setEnabled(action->isEnabled()); };
        connect(action, &QAction::changed, button, follow);
        follow();
    }
    return pcMain;
}

QWidget* TfrmMain::BuildSlideShowPage() {
    auto* page = new QWidget(this);
    page->setObjectName(QStringLiteral("pgSlideShow"));
    page->setWindowTitle(QStringLiteral("Slide Show"));
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(4, 4, 4, 4);
    tnMain = Named(new QTabWidget(page), "tnMain");
    layout->addWidget(tnMain);

    lvFiles = Named(new ui::FileListView(tnMain), "lvFiles");
    lvFiles->setColumnCount(4);
    lvFiles->setHeaderLabels({tr("Filename"), tr("Size"), tr("Type"), tr("Date")});
    lvFiles->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lvFiles->SetReorderable(true);  // the list order is the show order
    QHeaderView* header = lvFiles->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(QHeaderView::Interactive);
    // The paths take what the short columns leave.
    header->setSectionResizeMode(kColumnName, QHeaderView::Stretch);
    header->resizeSection(kColumnSize, 75);
    header->resizeSection(kColumnType, 140);
    header->resizeSection(kColumnDate, 75);
    header->setSectionsClickable(true);
    QTreeWidgetItem* headerItem = lvFiles->headerItem();
    headerItem->setTextAlignment(kColumnSize, Qt::AlignCenter);
    headerItem->setTextAlignment(kColumnType, Qt::AlignCenter);
    headerItem->setTextAlignment(kColumnDate, Qt::AlignRight | Qt::AlignVCenter);
    connect(header, &QHeaderView::sectionClicked, this, &TfrmMain::SortByColumn);
    // Entries dragged to a new place: the list no longer follows a column.
    connect(lvFiles, &ui::FileListView::EntriesMoved, this, [this] {
        sortShown_ = false;
        listSorted_ = false;
        ShowSortState();
    });
    connect(lvFiles, &QTreeWidget::itemDoubleClicked, this, &TfrmMain::lvFilesDblClick);
    tnMain->addTab(lvFiles, tr("Project"));
    tnMain->addTab(BuildOptionsTab(), tr("Options"));
    // The show's motion, captions and monitors, and the list's column of own captions.
    AddCaptionColumn(lvFiles);
    showTab = new ShowTab(tnMain);
    connect(showTab, &ShowTab::CaptionChanged, this,
            [this](int caption) { ShowCaptionColumn(lvFiles, caption); });
    tnMain->addTab(showTab, tr("Show"));
    return page;
}

QWidget* TfrmMain::BuildOptionsTab() {
    auto* tab = new QWidget(tnMain);
    tab->setObjectName(QStringLiteral("tabOptions"));
    auto* grid = new QGridLayout(tab);
    grid->setContentsMargins(8, 8, 8, 8);
    grid->setHorizontalSpacing(16);
    grid->setVerticalSpacing(4);

    auto* left = new QVBoxLayout;
    left->setSpacing(3);
    feOutput = OutputBox(tab, "feOutput");
    left->addWidget(Caption(tr("Output Filename"), feOutput, tab));
    left->addWidget(feOutput);
    options.Create(tab);
    for (QCheckBox* box : options.CheckBoxes()) left->addWidget(box);
    left->addWidget(Caption(tr("Show &Speed"), options.tbShowSpeed, tab));
    left->addWidget(options.CreateSpeedRow(tab));
    left->addWidget(Caption(tr("Image Transition"), options.cboTransition, tab));
    left->addWidget(options.cboTransition);
    auto* colorRow = new QHBoxLayout;
    colorRow->addWidget(Caption(tr("BG Color"), options.btnBGColor, tab));
    colorRow->addWidget(options.btnBGColor);
    colorRow->addStretch();
    left->addLayout(colorRow);
    left->addWidget(options.CreateFitRow(tab));
    gbSigning = new app::SigningGroup(tab);
    left->addWidget(gbSigning);
    left->addStretch();

    auto* right = new QVBoxLayout;
    right->setSpacing(3);
    chkChangeIcon = Named(new QCheckBox(tr("Change Icon"), tab), "chkChangeIcon");
    feIcon = OpenBox(tab, "feIcon", kIconFilter);
    right->addWidget(chkChangeIcon);
    right->addWidget(feIcon);
    txtShowName = Named(new QLineEdit(tab), "txtShowName");
    txtShowName->setMaxLength(kShowNameLimit);
    right->addWidget(Caption(tr("Screen Saver Name (Shown In About Box)"), txtShowName, tab));
    right->addWidget(txtShowName);
    memShowText = Named(new ui::LimitedMemo(kAboutTextLimit, tab), "memShowText");
    right->addWidget(Caption(tr("Show Text, (Can be simple html - Shown in About box)"), memShowText, tab));
    right->addWidget(memShowText, 1);

    grid->addLayout(left, 0, 0);
    grid->addLayout(right, 0, 1);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    return tab;
}

QWidget* TfrmMain::BuildFlashPage() {
    auto* page = new QWidget(this);
    page->setObjectName(QStringLiteral("pgFlash"));
    page->setWindowTitle(QStringLiteral("Flash"));
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(12, 8, 12, 8);
    layout->setSpacing(3);
    txtFlash_Title = Named(new QLineEdit(page), "txtFlash_Title");
    txtFlash_Title->setMaxLength(32767);  // no limit of its own; a stored name is cut by the file
    layout->addWidget(Caption(tr("Show Title"), txtFlash_Title, page));
    layout->addWidget(txtFlash_Title);
    memFlashShowText = Named(new ui::LimitedMemo(kAboutTextLimit, page), "memFlashShowText");
    layout->addWidget(
        Caption(tr("Show Text, (Can be simple html - Shown in About box)"), memFlashShowText, page));
    layout->addWidget(memFlashShowText, 1);
    feFlash = OpenBox(page, "feFlash", kFlashFilter);
    layout->addWidget(Caption(tr("Flash Filename"), feFlash, page));
    layout->addWidget(feFlash);
    lblFlashMovie = Named(new QLabel(page), "lblFlashMovie");
    lblFlashMovie->setWordWrap(true);
    // A long path or package name in the description wraps or is cut; it never widens the page.
    lblFlashMovie->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    layout->addWidget(lblFlashMovie);
    imgFlashPoster = Named(new QLabel(page), "imgFlashPoster");
    imgFlashPoster->hide();
    layout->addWidget(imgFlashPoster);
    connect(feFlash, &ui::FileNameEdit::textChanged, this, [this](const QString& text) {
        imgFlashPoster->clear();
        imgFlashPoster->hide();
        if (text.isEmpty()) {
            lblFlashMovie->clear();
            return;
        }
        const std::string projectFile = ui::ToNarrow(ProjectFileName());
        const std::string path = project::ResolveProjectPath(ui::ToNarrow(text), projectFile);
        const std::string stub = flashStubPath_.empty() ? pipeline::FlashStubPath() : flashStubPath_;
        lblFlashMovie->setText(ui::FromNarrow(flash::DescribeMovie(
            path, flash::FindRecorder(platform::DirectoryPart(stub)),
            projectFile.empty() ? flash::kDefaultRecordSeconds : flash::ProjectRecordSeconds(projectFile))));
    });
    feFlashOutput = OutputBox(page, "feFlashOutput");
    layout->addWidget(Caption(tr("Output Filename"), feFlashOutput, page));
    layout->addWidget(feFlashOutput);
    chkFlashChangeIcon = Named(new QCheckBox(tr("Change Icon"), page), "chkFlashChangeIcon");
    layout->addWidget(chkFlashChangeIcon);
    feFlashIcon = OpenBox(page, "feFlashIcon", kIconFilter);
    layout->addWidget(feFlashIcon);
    return page;
}

}  // namespace nimbrel::app
