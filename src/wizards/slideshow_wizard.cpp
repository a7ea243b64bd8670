#include "wizards/slideshow_wizard.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QSlider>
#include <QStackedWidget>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/main_window.h"
#include "ui/color_button.h"
#include "ui/file_list_view.h"
#include "ui/file_name_edit.h"
#include "ui/form_helpers.h"
#include "ui/narrow_text.h"
#include "ui/screen_fit.h"
#include "ui/pictures.h"
#include "ui/picture_files.h"

namespace nimbrel::wizards {

namespace {

using ui::Caption;
using ui::Named;

constexpr int kClientWidth = 517;
constexpr int kClientHeight = 300;

}  // namespace

TfrmWizard::TfrmWizard(app::TfrmMain& main, QWidget* parent) : WizardFrame(main, parent) {
    setObjectName(QStringLiteral("frmWizard"));
    setWindowTitle(tr("New Project Wizard"));
    setAcceptDrops(true);

    AddWelcomePage();  // 0 "Welcome"

    // 1 "Files"
    QVBoxLayout* files =
        AddPage("Files", tr("Add Files To Project"),
                QStringLiteral(
                    "To add files to the project please drag and drop them onto the wizard from Explorer.   "
                    "If you prefer you may use the Add Button to browse for a file or files, and the "
                    "Delete button to remove any you don't want.  When you are finished please press "
                    "the Next Button."));
    QWidget* page = nbMain->widget(1);
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
    lvFiles = Named(new ui::FileListView(page), "lvFiles");
    lvFiles->setColumnCount(1);
    lvFiles->setHeaderLabels({tr("Filename")});
    lvFiles->header()->setStretchLastSection(false);
    lvFiles->header()->setSectionResizeMode(0, QHeaderView::Stretch);  // the paths take the width
    lvFiles->setSelectionMode(QAbstractItemView::SingleSelection);
    lvFiles->SetReorderable(true);  // the list order is the show order
    files->addWidget(lvFiles, 1);

    // 2 "Options"
    QVBoxLayout* optionsPage =
        AddPage("Options", tr("Project Options"),
                tr("Please use the checkboxes and selectors below to set the project options."));
    page = nbMain->widget(2);
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(2);
    options.Create(page);
    int row = 0;
    for (QCheckBox* box : options.CheckBoxes()) grid->addWidget(box, row++, 0, 1, 2);
    grid->addWidget(Caption(tr("Show &Speed"), options.tbShowSpeed, page), row, 0);
    grid->addWidget(options.CreateSpeedRow(page), row++, 1);
    grid->addWidget(Caption(tr("Image Transition"), options.cboTransition, page), row, 0);
    grid->addWidget(options.cboTransition, row++, 1);
    grid->addWidget(Caption(tr("BG Color"), options.btnBGColor, page), row, 0);
    grid->addWidget(options.btnBGColor, row++, 1, Qt::AlignLeft);
    grid->addWidget(options.CreateFitRow(page, false), row++, 0, 1, 2);
    grid->setColumnStretch(1, 1);
    optionsPage->addLayout(grid);
    optionsPage->addStretch(1);

    // 3 "Final"
    AddFinishRow(AddFinalPage());

    connect(ToolButton1, &QToolButton::clicked, this, &TfrmWizard::ToolButton1Click);
    connect(ToolButton2, &QToolButton::clicked, this, &TfrmWizard::ToolButton2Click);

    setFixedSize(kClientWidth, kClientHeight);
    FormCreate();
}

void TfrmWizard::showEvent(QShowEvent* event) {
    WizardFrame::showEvent(event);
    // Centred on the main window, not on the chooser that owns the wizard.
    if (!placed_) {
        placed_ = true;
        move(main_.frameGeometry().center() - QPoint(width() / 2, height() / 2));
        ui::KeepOnScreen(*this);  // all of it on the screen, title bar included
    }
}

void TfrmWizard::AppendFile(const QString& path) {
    auto* item = new QTreeWidgetItem(lvFiles);
    item->setText(0, path);
    item->setToolTip(0, path);
    item->setIcon(0, ui::FileEntryIcon(path));
}

void TfrmWizard::ToolButton1Click() {
    const QStringList chosen = ui::ChoosePictureFiles(this);
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
    ui::AcceptFileDrag(event);
}

void TfrmWizard::dropEvent(QDropEvent* event) {
    JvDragDrop1Drop(ui::TakeDroppedFiles(event));
}

WizardProject TfrmWizard::Values() const {
    WizardProject values;
    for (int i = 0; i < lvFiles->topLevelItemCount(); ++i)
        values.files.push_back(ui::ToNarrow(lvFiles->topLevelItem(i)->text(0)));
    values.slideShow.output = ui::ToNarrow(feOutput->text());
    options.Gather(values.slideShow);
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

void TfrmWizard::MakeProject(const QString& path) {
    WriteWizardProject(path);
    // LoadProject sets ProjectKind from the file, which decides what Compile builds.
    main_.LoadProject(path);
}

}  // namespace nimbrel::wizards
