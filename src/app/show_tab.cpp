#include "app/show_tab.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QSignalBlocker>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "ui/file_list_view.h"
#include "ui/form_helpers.h"

namespace nimbrel::app {

using ui::Caption;
using ui::Named;


void AddCaptionColumn(ui::FileListView* list) {
    list->setColumnCount(kCaptionColumn + 1);
    list->headerItem()->setText(kCaptionColumn, ShowTab::tr("Caption"));
    list->SetEditableColumn(kCaptionColumn);
    list->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    list->header()->resizeSection(kCaptionColumn, 200);
    ShowCaptionColumn(list, 0);
}

void ShowCaptionColumn(QTreeWidget* list, int caption) {
    list->setColumnHidden(kCaptionColumn, caption != project::kCaptionOwnText);
}

ShowTab::ShowTab(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("tabShow"));
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(8, 8, 8, 8);
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(6);

    chkMotion = Named(new QCheckBox(tr("&Pan and zoom each picture"), this), "chkMotion");
    grid->addWidget(chkMotion, 0, 0, 1, 2);

    cboCaption = Named(new QComboBox(this), "cboCaption");
    cboCaption->addItems({tr("None"), tr("File name"), tr("Date taken"), tr("Picture's description"),
                          tr("Own text (Caption column of the file list)")});
    grid->addWidget(Caption(tr("&Caption"), cboCaption, this), 1, 0);
    grid->addWidget(cboCaption, 1, 1);

    cboCaptionPlace = Named(new QComboBox(this), "cboCaptionPlace");
    cboCaptionPlace->addItems({tr("Bottom left"), tr("Bottom centre"), tr("Bottom right"), tr("Top left"),
                               tr("Top centre"), tr("Top right")});
    grid->addWidget(Caption(tr("Caption &place"), cboCaptionPlace, this), 2, 0);
    grid->addWidget(cboCaptionPlace, 2, 1);

    cboMonitors = Named(new QComboBox(this), "cboMonitors");
    cboMonitors->addItems({tr("The same show on each monitor"), tr("A different picture on each monitor"),
                           tr("One picture across all monitors")});
    grid->addWidget(Caption(tr("&Monitors"), cboMonitors, this), 3, 0);
    grid->addWidget(cboMonitors, 3, 1);
    grid->setColumnStretch(2, 1);
    grid->setRowStretch(4, 1);

    SetValues({});
    connect(chkMotion, &QCheckBox::toggled, this, &ShowTab::Changed);
    connect(cboCaptionPlace, &QComboBox::currentIndexChanged, this, &ShowTab::Changed);
    connect(cboMonitors, &QComboBox::currentIndexChanged, this, &ShowTab::Changed);
    connect(cboCaption, &QComboBox::currentIndexChanged, this, [this](int index) {
        UpdateEnabled();
        emit CaptionChanged(index);
        emit Changed();
    });
}

void ShowTab::SetValues(const project::ShowValues& values) {
    const QSignalBlocker a(chkMotion), b(cboCaption), c(cboCaptionPlace), d(cboMonitors);
    chkMotion->setChecked(values.motion);
    // A value this program does not know shows as the default, and is saved as that once changed.
    cboCaption->setCurrentIndex(values.caption >= 0 && values.caption < cboCaption->count() ? values.caption : 0);
    cboCaptionPlace->setCurrentIndex(
        values.captionPlace >= 0 && values.captionPlace < cboCaptionPlace->count() ? values.captionPlace : 0);
    cboMonitors->setCurrentIndex(values.monitors >= 0 && values.monitors < cboMonitors->count() ? values.monitors : 0);
    UpdateEnabled();
    emit CaptionChanged(cboCaption->currentIndex());
}

project::ShowValues ShowTab::Values() const {
    project::ShowValues values;
    values.motion = chkMotion->isChecked();
    values.caption = cboCaption->currentIndex();
    values.captionPlace = cboCaptionPlace->currentIndex();
    values.monitors = cboMonitors->currentIndex();
    return values;
}

void ShowTab::UpdateEnabled() {
    cboCaptionPlace->setEnabled(cboCaption->currentIndex() > 0);
}

}  // namespace nimbrel::app
