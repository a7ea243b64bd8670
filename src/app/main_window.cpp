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
#include <QScrollArea>
#include <QSlider>
#include <QStackedWidget>
#include <QStyle>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <exception>

#include "app/file_entries.h"
#include "app/show_tab.h"
#include "pipeline/build_pipeline.h"
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

namespace {

using ui::Caption;
using ui::Named;

constexpr int kClientWidth = 658;
constexpr int kClientHeight = 586;
constexpr int kAboutTextLimit = 246;
constexpr int kShowNameLimit = 254;

const QString kOutputFilter = QStringLiteral("ScreenSaver Files|*.scr");
const QString kIconFilter = QStringLiteral("Icon Files|*.ico");
const QString kFlashFilter = QStringLiteral("Flash Files (*.swf)|*.swf");
const QString kProjectFilter = QStringLiteral("Project Files (*.nssp)|*.nssp");

enum FileColumn { kColumnName, kColumnSize, kColumnType, kColumnDate };

// Every column, sizes and dates included, sorts as text in the user's locale order.
class FileEntryItem : public QTreeWidgetItem {
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem& other) const override {
        int column = treeWidget() ? treeWidget()->sortColumn() : 0;
        return QString::localeAwareCompare(text(column), other.text(column)) < 0;
    }
};

// A transparent 16 x 16 picture.
QIcon BlankIcon() {
    static const QIcon blank = [] {
        QPixmap pixmap(16, 16);
        pixmap.fill(Qt::transparent);
        return QIcon(pixmap);
    }();
    return blank;
}

// The memo's line breaks as the stored text has them.
std::string MemoText(const ui::LimitedMemo* memo) {
    QString text = memo->toPlainText();
    text.replace(u'\n', QStringLiteral("\r\n"));
    return ui::ToNarrow(text);
}

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
    pbar = Named(new ui::GradientProgressBar(central), "pbar");
    layout->addWidget(pbar);
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
        {btnNew, Project2},       {btnOpen, Project4},       {btnSave, Project3},  {btnExit, Exit1},
        {btnCompile, Compile1},   {btnTest, Test1},          {btnAddFile, AddFile1},
        {btnRemoveFile, RemoveFile1}, {btnCheck, CheckFiles1}, {btnContents, Contents1},
        {btnAbout, About1},       {btnWebsite, GotoWebsite1}};
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
    connect(showTab, &ShowTab::CaptionChanged, this, [this](int caption) { ShowCaptionColumn(lvFiles, caption); });
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
    feFlashOutput = OutputBox(page, "feFlashOutput");
    layout->addWidget(Caption(tr("Output Filename"), feFlashOutput, page));
    layout->addWidget(feFlashOutput);
    chkFlashChangeIcon = Named(new QCheckBox(tr("Change Icon"), page), "chkFlashChangeIcon");
    layout->addWidget(chkFlashChangeIcon);
    feFlashIcon = OpenBox(page, "feFlashIcon", kIconFilter);
    layout->addWidget(feFlashIcon);
    return page;
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
    for (QAction* a : {Project3, Compile1, Test1, Install1}) a->setEnabled(named);
    for (QWidget* w : std::initializer_list<QWidget*>{lvFiles, tnMain, txtFlash_Title, memFlashShowText, feFlash,
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
        for (std::size_t i = 0; i < v.captions.size() && i < static_cast<std::size_t>(lvFiles->topLevelItemCount()); ++i)
            lvFiles->topLevelItem(static_cast<int>(i))->setText(kCaptionColumn, ui::FromNarrow(v.captions[i]));

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

void TfrmMain::ShowSortState() {
    // The arrow claims an order: it shows only while the entries stand in it.
    lvFiles->header()->setSortIndicatorShown(listSorted_);
}

bool TfrmMain::InSortOrder(const QTreeWidgetItem& before, const QTreeWidgetItem& after) const {
    const int compared = QString::localeAwareCompare(before.text(sortColumn_), after.text(sortColumn_));
    return sortAscending_ ? compared <= 0 : compared >= 0;
}

void TfrmMain::AddFileEntry(const QString& path, EntryMode mode) {
    // A new entry goes to the end: the list stays in its sort order only if the entry belongs there.
    const bool wasSorted = listSorted_;
    listSorted_ = false;
    ShowSortState();
    auto* item = new FileEntryItem(lvFiles);
    item->setText(kColumnName, path);  // as stored; the cells describe the file it names
    item->setToolTip(kColumnName, path);  // the column may show it cut in the middle
    item->setTextAlignment(kColumnSize, Qt::AlignCenter);
    item->setTextAlignment(kColumnType, Qt::AlignCenter);
    item->setTextAlignment(kColumnDate, Qt::AlignRight | Qt::AlignVCenter);
    item->setFlags(item->flags() | Qt::ItemIsEditable);  // its own caption (kCaptionColumn)
    // An entry left with its name only keeps the others' indent and row height.
    item->setIcon(kColumnName, BlankIcon());
    const QString file = ResolvedPath(path);
    const std::string narrow = ui::ToNarrow(file);
    QString size;
    try {
        size = ui::FromNarrow(platform::GetFileSizeText(narrow));
    } catch (const Error&) {
        if (mode == EntryMode::Strict) throw;  // the entry keeps its name only
    }
    item->setText(kColumnSize, size);
    item->setText(kColumnType, FileTypeDescription(ui::FromNarrow(platform::ExtensionPart(narrow))));
    item->setText(kColumnDate, ShortDateText(platform::GetFileDate(narrow)));
    // The file type's icon, or a clear mark when the path names no file.
    item->setIcon(kColumnName, ui::FileEntryIcon(file));
    if (!QFileInfo(file).isFile()) {
        item->setToolTip(kColumnName, tr("%1\nThis file is missing: the screensaver cannot show it.").arg(path));
        item->setForeground(kColumnName, QColor(0xb0, 0x28, 0x20));
    }
    const int count = lvFiles->topLevelItemCount();
    listSorted_ = wasSorted && (count < 2 || InSortOrder(*lvFiles->topLevelItem(count - 2), *item));
    ShowSortState();
}

void TfrmMain::SortByColumn(int column) {
    // The header has already turned its own indicator by the time the click arrives, so the
    // order comes from the window's sort state: a new column sorts ascending, the same column
    // again reverses.
    sortAscending_ = (listSorted_ && column == sortColumn_) ? !sortAscending_ : true;
    sortColumn_ = column;
    sortShown_ = true;
    listSorted_ = true;
    const Qt::SortOrder order = sortAscending_ ? Qt::AscendingOrder : Qt::DescendingOrder;
    QHeaderView* header = lvFiles->header();
    header->setSortIndicatorShown(true);
    lvFiles->sortItems(column, order);
    header->setSortIndicator(column, order);
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

namespace {

// The build's reports, shown in the window: the progress bar is repainted at once, and the
// window keeps painting while the build runs, without taking the user's input.
class WindowBuildReporter : public pipeline::BuildReporter {
public:
    explicit WindowBuildReporter(TfrmMain& window) : window_(window) {}
    void Progress(int percent) override {
        window_.cabProgress(QString(), percent);
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    void Notice(const std::string& text) override {
        ui::MessageBox::Show(&window_, kApplicationTitle, ui::FromNarrow(text), QMessageBox::NoIcon,
                             QMessageBox::Ok);
    }
    void ProcessEvents() override { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); }

private:
    TfrmMain& window_;
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

void TfrmMain::CompileSlideShow() {
    RunBuild();
}

void TfrmMain::CompileFlash() {
    RunBuild();
}

void TfrmMain::RunBuild() {
    RunCommand([this] {
        pipeline::BuildRequest request;
        request.projectFileName = ui::ToNarrow(projectFileName_);
        request.values = GatherProjectValues();
        if (unknownKind_ != 0) request.values.kind = unknownKind_;
        request.stubPath = stubPath_.empty() ? pipeline::StubPath() : stubPath_;
        request.flashStubPath = flashStubPath_.empty() ? pipeline::FlashStubPath() : flashStubPath_;
        WindowBuildReporter reporter(*this);
        pipeline::BuildResult result;
        try {
            result = pipeline::CompileProject(request, reporter);
        } catch (...) {
            UpdateCommandState();
            throw;
        }
        ui::FileNameEdit* outputBox = ProjectKind() == project::kFlash ? feFlashOutput : feOutput;
        outputBox->setText(ui::FromNarrow(result.outputBoxText));
        pipeline::SetOutputPath(result.outputPath);
        UpdateCommandState();  // the build saved the project, as Save does
        if (!result.built) return;
        ui::MessageBox::Show(this, QString::fromLatin1(pipeline::kCompletionCaption),
                             ForDisplay(result.completionText), QMessageBox::Information, QMessageBox::Ok);
    });
}

void TfrmMain::AddFile1Click() {
    QStringList chosen = ui::ChoosePictureFiles(this);
    RunCommand([&] {
        for (const QString& path : chosen) AddFileEntry(path, EntryMode::Strict);
    });
}

void TfrmMain::RemoveFile1Click() {
    for (int i = 0; i < lvFiles->topLevelItemCount();) {
        QTreeWidgetItem* item = lvFiles->topLevelItem(i);
        if (item->isSelected())
            delete item;  // the next entry moves into this position
        else
            ++i;
    }
    UpdateCommandState();
}

void TfrmMain::CheckFiles1Click() {
    pbar->setMaximum(lvFiles->topLevelItemCount() - 1);
    for (int i = 0; i < lvFiles->topLevelItemCount();) {
        QTreeWidgetItem* item = lvFiles->topLevelItem(i);
        const std::string stored = ui::ToNarrow(item->text(kColumnName));
        const std::string path = project::ResolveProjectPath(stored, ui::ToNarrow(projectFileName_));
        if (stored.empty() || !platform::FileExists(path) || platform::DirectoryExists(path))
            delete item;
        else
            ++i;
        pbar->setPosition(i);
        pbar->repaint();
    }
    pbar->setPosition(0);
    pbar->setMaximum(100);
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

void TfrmMain::dragEnterEvent(QDragEnterEvent* event) {
    ui::AcceptFileDrag(event);
}

void TfrmMain::dropEvent(QDropEvent* event) {
    JvDragDrop1Drop(ui::TakeDroppedFiles(event));
}

void TfrmMain::lvFilesDblClick() {
    for (int i = 0; i < lvFiles->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = lvFiles->topLevelItem(i);
        if (!item->isSelected()) continue;
        if (imageViewer_)
            RunCommand([this, path = ResolvedPath(item->text(kColumnName))] { imageViewer_(*this, path); });
        return;
    }
}

void TfrmMain::JvDragDrop1Drop(const QStringList& paths) {
    RunCommand([&] {
        for (const QString& path : paths) AddFileEntry(path, EntryMode::Strict);
    });
}

}  // namespace nimbrel::app
