#include "wizards/slideshow_wizard.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QSlider>
#include <QStackedWidget>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <exception>

#include "app/main_window.h"
#include "ui/color_button.h"
#include "ui/file_dialog.h"
#include "ui/file_name_edit.h"
#include "ui/message_box.h"
#include "ui/narrow_text.h"

namespace nimbrel::wizards {

namespace {

constexpr int kClientWidth = 517;
constexpr int kClientHeight = 300;

const QString kImageFilter = QStringLiteral(
    "Supported Image Files|*.BMP;*.JPG;*.JPEG;*.WMF;*.ICO;*.PNG;*.GIF;*.EMF;*.PCX;*.DIB;*.WBMP");

template <typename T>
T* Named(T* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

}  // namespace

QStringList TransitionNames() {
    // "Image Transition 68" stands twice, so every later item sits one place after its number.
    QStringList names;
    for (int i = 1; i <= 68; ++i) names << QStringLiteral("Image Transition %1").arg(i);
    names << QStringLiteral("Image Transition 68");
    for (int i = 69; i <= 127; ++i) names << QStringLiteral("Image Transition %1").arg(i);
    names << QStringLiteral("Random") << QStringLiteral("None");
    return names;
}

TfrmWizard::TfrmWizard(app::TfrmMain& main, QWidget* parent) : WizardFrame(main, parent) {
    setObjectName(QStringLiteral("frmWizard"));
    setWindowTitle(tr("New Project Wizard"));
    setAcceptDrops(true);

    // 0 "Welcome"
    QVBoxLayout* welcome = AddPage("Welcome", tr("Nimbrel New Project Wizard"), WelcomeText());
    QWidget* page = nbMain->widget(0);
    feProjectFilename =
        Named(new ui::FileNameEdit(ui::FileNameEdit::DialogKind::Save, page), "feProjectFilename");
    feProjectFilename->setDialogTitle(tr("Create Project"));
    feProjectFilename->setFilter(kProjectFilter);
    feProjectFilename->setDefaultSuffix(QStringLiteral("nssp"));
    welcome->addStretch(1);
    welcome->addWidget(Caption(tr("Project Filename:"), feProjectFilename, page));
    welcome->addWidget(feProjectFilename);

    // 1 "Files"
    QVBoxLayout* files =
        AddPage("Files", tr("Add Files To Project"),
                QStringLiteral(
                    "To add files to the project please drag and drop them onto the wizard from Explorer.   "
                    "If you prefer you may use the Add Button to browse for a file or files, and the "
                    "Delete button to remove any you don't want.  When you are finished please press "
                    "the Next Button."));
    page = nbMain->widget(1);
    auto* toolBar = new QToolBar(page);
    toolBar->setObjectName(QStringLiteral("ToolBar1"));
    toolBar->setIconSize(QSize(16, 16));
    ToolButton1 = Named(new QToolButton(toolBar), "ToolButton1");
    ToolButton1->setText(tr("&Add"));
    ToolButton2 = Named(new QToolButton(toolBar), "ToolButton2");
    ToolButton2->setText(tr("&Delete"));
    toolBar->addWidget(ToolButton1);
    toolBar->addWidget(ToolButton2);
    files->addWidget(toolBar);
    lvFiles = Named(new QTreeWidget(page), "lvFiles");
    lvFiles->setColumnCount(1);
    lvFiles->setHeaderLabels({tr("Filename")});
    lvFiles->header()->setStretchLastSection(false);
    lvFiles->header()->resizeSection(0, 250);
    lvFiles->setRootIsDecorated(false);
    lvFiles->setUniformRowHeights(true);
    lvFiles->setAllColumnsShowFocus(true);
    lvFiles->setSelectionMode(QAbstractItemView::SingleSelection);
    lvFiles->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvFiles->setIconSize(QSize(16, 16));
    lvFiles->setStyleSheet(QStringLiteral(
        "QTreeView::item { border-right: 1px solid #d0d0d0; border-bottom: 1px solid #d0d0d0; }"));
    files->addWidget(lvFiles, 1);

    // 2 "Options"
    QVBoxLayout* options =
        AddPage("Options", tr("Project Options"),
                tr("Please use the checkboxes and selectors below to set the project options."));
    page = nbMain->widget(2);
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(2);
    chkCenter = Named(new QCheckBox(tr("&Center Images Within Screen"), page), "chkCenter");
    chkAutoSize = Named(new QCheckBox(tr("&AutoSize Images To Fit Within Screen"), page), "chkAutoSize");
    chkStretch = Named(new QCheckBox(tr("Stretch Images To ScreenSize"), page), "chkStretch");
    chkKeepAspect = Named(new QCheckBox(tr("Keep Aspect Ratio"), page), "chkKeepAspect");
    chkRandom = Named(new QCheckBox(tr("&Random Show Order"), page), "chkRandom");
    int row = 0;
    for (QCheckBox* box : {chkCenter, chkAutoSize, chkStretch, chkKeepAspect, chkRandom})
        grid->addWidget(box, row++, 0, 1, 2);
    tbShowSpeed = Named(new QSlider(Qt::Horizontal, page), "tbShowSpeed");
    tbShowSpeed->setRange(1, 240);
    tbShowSpeed->setTickInterval(2);
    tbShowSpeed->setTickPosition(QSlider::TicksAbove);
    tbShowSpeed->setPageStep(10);
    tbShowSpeed->setValue(10);
    cboTransition = Named(new QComboBox(page), "cboTransition");
    cboTransition->setEditable(true);
    cboTransition->setInsertPolicy(QComboBox::NoInsert);
    cboTransition->addItems(TransitionNames());
    cboTransition->setMaxVisibleItems(16);
    cboTransition->setCurrentIndex(-1);
    btnBGColor = Named(new ui::ColorButton(page), "btnBGColor");
    btnBGColor->setColor(0);
    grid->addWidget(Caption(tr("Show &Speed"), tbShowSpeed, page), row, 0);
    grid->addWidget(tbShowSpeed, row++, 1);
    grid->addWidget(Caption(tr("Image Transition"), cboTransition, page), row, 0);
    grid->addWidget(cboTransition, row++, 1);
    grid->addWidget(Caption(tr("BG Color"), btnBGColor, page), row, 0);
    grid->addWidget(btnBGColor, row++, 1, Qt::AlignLeft);
    grid->setColumnStretch(1, 1);
    options->addLayout(grid);
    options->addStretch(1);

    // 3 "Final"
    QVBoxLayout* finalPage = AddPage("Final", tr("Finalisation"), FinalText());
    page = nbMain->widget(3);
    feOutput = Named(new ui::FileNameEdit(ui::FileNameEdit::DialogKind::Save, page), "feOutput");
    feOutput->setDialogTitle(tr("Select Screensaver File"));
    feOutput->setFilter(kScreensaverFilter);
    feOutput->setDefaultSuffix(QStringLiteral("scr"));
    finalPage->addStretch(1);
    finalPage->addWidget(Caption(tr("Output Filename:"), feOutput, page));
    finalPage->addWidget(feOutput);
    auto* finish = new QHBoxLayout;
    chkCompileNow = Named(new QCheckBox(tr("Compile Now"), page), "chkCompileNow");
    Button4 = Named(new QPushButton(tr("&Finish"), page), "Button4");
    Button4->setAutoDefault(false);
    finish->addWidget(chkCompileNow);
    finish->addStretch(1);
    finish->addWidget(Button4);
    finalPage->addLayout(finish);

    connect(ToolButton1, &QToolButton::clicked, this, &TfrmWizard::ToolButton1Click);
    connect(ToolButton2, &QToolButton::clicked, this, &TfrmWizard::ToolButton2Click);
    connect(Button4, &QPushButton::clicked, this, &TfrmWizard::Button4Click);

    setFixedSize(kClientWidth, kClientHeight);
    FormCreate();
}

void TfrmWizard::showEvent(QShowEvent* event) {
    WizardFrame::showEvent(event);
    // Centred on the main window, not on the chooser that owns the wizard.
    if (!placed_) {
        placed_ = true;
        move(main_.frameGeometry().center() - QPoint(width() / 2, height() / 2));
    }
}

void TfrmWizard::AppendFile(const QString& path) {
    static QFileIconProvider icons;
    auto* item = new QTreeWidgetItem(lvFiles);
    item->setText(0, path);
    item->setIcon(0, icons.icon(QFileInfo(path)));
}

void TfrmWizard::ToolButton1Click() {
    const QStringList chosen =
        ui::FileDialog::GetOpenFileNames(this, tr("Add Files To Project"), kImageFilter);
    for (const QString& path : chosen) AppendFile(QDir::toNativeSeparators(path));
}

void TfrmWizard::ToolButton2Click() {
    const QList<QTreeWidgetItem*> selected = lvFiles->selectedItems();
    if (!selected.isEmpty()) delete selected.first();
}

void TfrmWizard::JvDragDrop1Drop(const QStringList& paths) {
    for (const QString& path : paths) AppendFile(path);
}

void TfrmWizard::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TfrmWizard::dropEvent(QDropEvent* event) {
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile()) paths << QDir::toNativeSeparators(url.toLocalFile());
    event->acceptProposedAction();
    JvDragDrop1Drop(paths);
}

WizardProject TfrmWizard::Values() const {
    WizardProject values;
    for (int i = 0; i < lvFiles->topLevelItemCount(); ++i)
        values.files.push_back(ui::ToNarrow(lvFiles->topLevelItem(i)->text(0)));
    values.slideShow.output = ui::ToNarrow(feOutput->text());
    values.slideShow.center = chkCenter->isChecked();
    values.slideShow.autoSize = chkAutoSize->isChecked();
    values.slideShow.stretch = chkStretch->isChecked();
    values.slideShow.keepAspect = chkKeepAspect->isChecked();
    values.slideShow.random = chkRandom->isChecked();
    values.slideShow.showSpeed = tbShowSpeed->value();
    values.slideShow.transition = cboTransition->currentIndex();
    values.slideShow.backgroundColor = btnBGColor->color();
    return values;
}

void TfrmWizard::WriteWizardProject(const QString& path) {
    if (main_.ProjectFileName().isEmpty()) main_.SetProjectFileName(path);
    if (lvFiles->topLevelItemCount() == 0) {
        ShowMessage(QStringLiteral("Nothing To Save"));
        return;
    }
    WriteWizardProjectFile(ui::ToNarrow(path), Values());
}

void TfrmWizard::Button4Click() {
    const QString path = feProjectFilename->text();
    if (path.isEmpty()) {
        ShowMessage(kNoProjectFileName);
        return;  // the wizard stays open on its page
    }
    try {
        WriteWizardProject(path);
        main_.LoadProject(path);
    } catch (const std::exception& error) {
        ui::ShowErrorBox(this, ui::FromNarrow(error.what()));
        reject();
        return;
    }
    // LoadProject has set ProjectKind from the file, which decides what Compile builds.
    if (chkCompileNow->isChecked()) main_.Compile1Click();
    accept();
}

}  // namespace nimbrel::wizards
