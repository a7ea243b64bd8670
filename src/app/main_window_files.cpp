// The main window's file list: entries, sorting, the Add, Remove and Check commands, drag and
// drop, and opening an entry in the viewer.
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
    item->setText(kColumnName, path);     // as stored; the cells describe the file it names
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
        item->setToolTip(kColumnName,
                         tr("%1\nThis file is missing: the screensaver cannot show it.").arg(path));
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
