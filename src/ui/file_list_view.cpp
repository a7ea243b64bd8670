#include "ui/file_list_view.h"

#include <QDrag>
#include <QDragEnterEvent>
#include <QHeaderView>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <algorithm>

namespace nimbrel::ui {

namespace {

const QColor kGridColour(0xd0, 0xd0, 0xd0);

// Draws each cell as the style does, the hot entry underlined in the link colour, and the grid.
class FileListDelegate : public QStyledItemDelegate {
public:
    explicit FileListDelegate(FileListView* view) : QStyledItemDelegate(view), view_(view) {}

    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index.row() != view_->HotRow()) return;
        option->font.setUnderline(true);
        // The selection keeps its own text colour, so that the text stays readable on it.
        if (!(option->state & QStyle::State_Selected))
            option->palette.setColor(QPalette::Text, option->palette.color(QPalette::Link));
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyledItemDelegate::paint(painter, option, index);
        painter->save();
        painter->setPen(kGridColour);
        const QRect r = option.rect;
        painter->drawLine(r.topRight(), r.bottomRight());
        painter->drawLine(r.bottomLeft(), r.bottomRight());
        painter->restore();
    }

    // Only the view's editable column is edited in place; the others describe the file.
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override {
        if (index.column() != view_->EditableColumn()) return nullptr;
        return QStyledItemDelegate::createEditor(parent, option, index);
    }

private:
    FileListView* view_;
};

}  // namespace

const QString FileListView::kEntriesMimeType = QStringLiteral("application/x-nimbrel-file-entries");

FileListView::FileListView(QWidget* parent) : QTreeWidget(parent) {
    setItemDelegate(new FileListDelegate(this));
    setMouseTracking(true);
    setTextElideMode(Qt::ElideMiddle);  // a path keeps its file name in view
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setIconSize(QSize(16, 16));
}

void FileListView::SetReorderable(bool on) {
    reorderable_ = on;
    setDragEnabled(on);
    viewport()->setAcceptDrops(on);
    setDropIndicatorShown(false);  // the line is drawn here, between entries only
}

void FileListView::SetHotRow(int row) {
    if (row == hotRow_) return;
    hotRow_ = row;
    viewport()->setCursor(row >= 0 ? Qt::PointingHandCursor : Qt::ArrowCursor);
    viewport()->update();
}

void FileListView::mouseMoveEvent(QMouseEvent* event) {
    const QModelIndex index = indexAt(event->position().toPoint());
    SetHotRow(index.isValid() ? index.row() : -1);
    QTreeWidget::mouseMoveEvent(event);
}

void FileListView::leaveEvent(QEvent* event) {
    SetHotRow(-1);
    QTreeWidget::leaveEvent(event);
}

QList<int> FileListView::SelectedRows() const {
    QList<int> rows;
    for (int i = 0; i < topLevelItemCount(); ++i)
        if (topLevelItem(i)->isSelected()) rows << i;
    return rows;
}

QMimeData* FileListView::EntriesMimeData(const QList<int>& rows) const {
    QStringList parts{QString::number(reinterpret_cast<quintptr>(this))};
    for (int row : rows) parts << QString::number(row);
    auto* data = new QMimeData;
    data->setData(kEntriesMimeType, parts.join(u',').toLatin1());
    return data;
}

bool FileListView::IsOwnDrag(const QMimeData* data) const {
    if (!reorderable_ || !data || !data->hasFormat(kEntriesMimeType)) return false;
    const QList<QByteArray> parts = data->data(kEntriesMimeType).split(',');
    return !parts.isEmpty() && parts.first().toULongLong() == reinterpret_cast<quintptr>(this);
}

int FileListView::DropRowAt(const QPoint& pos) const {
    const QModelIndex index = indexAt(pos);
    if (!index.isValid()) return topLevelItemCount();
    const QRect rect = visualRect(index);
    return pos.y() > rect.center().y() ? index.row() + 1 : index.row();
}

void FileListView::startDrag(Qt::DropActions /*supportedActions*/) {
    const QList<int> rows = SelectedRows();
    if (!reorderable_ || rows.isEmpty()) return;
    auto* drag = new QDrag(this);
    drag->setMimeData(EntriesMimeData(rows));
    drag->exec(Qt::MoveAction);
    dropRow_ = -1;
    viewport()->update();
}

void FileListView::dragEnterEvent(QDragEnterEvent* event) {
    // Files from the desktop are left to the window around the list.
    if (!IsOwnDrag(event->mimeData())) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::MoveAction);
    event->accept();
}

void FileListView::dragMoveEvent(QDragMoveEvent* event) {
    if (!IsOwnDrag(event->mimeData())) {
        event->ignore();
        return;
    }
    dropRow_ = DropRowAt(event->position().toPoint());
    viewport()->update();
    event->setDropAction(Qt::MoveAction);
    event->accept();
}

void FileListView::dragLeaveEvent(QDragLeaveEvent* event) {
    dropRow_ = -1;
    viewport()->update();
    QTreeWidget::dragLeaveEvent(event);
}

void FileListView::dropEvent(QDropEvent* event) {
    dropRow_ = -1;
    viewport()->update();
    if (!IsOwnDrag(event->mimeData())) {
        event->ignore();
        return;
    }
    const QList<QByteArray> parts = event->mimeData()->data(kEntriesMimeType).split(',');
    QList<int> rows;
    for (qsizetype i = 1; i < parts.size(); ++i) rows << parts[i].toInt();
    MoveEntries(rows, DropRowAt(event->position().toPoint()));
    // The entries moved here; the drag source must not remove anything.
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void FileListView::MoveEntries(QList<int> rows, int before) {
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    rows.erase(
        std::remove_if(rows.begin(), rows.end(), [this](int r) { return r < 0 || r >= topLevelItemCount(); }),
        rows.end());
    if (rows.isEmpty()) return;
    before = std::clamp(before, 0, topLevelItemCount());
    const QList<int> original = rows;
    QList<QTreeWidgetItem*> moving;
    for (auto it = rows.crbegin(); it != rows.crend(); ++it) moving.prepend(takeTopLevelItem(*it));
    const int insertAt =
        before - static_cast<int>(std::count_if(rows.begin(), rows.end(), [&](int r) { return r < before; }));
    insertTopLevelItems(insertAt, moving);
    clearSelection();
    for (QTreeWidgetItem* item : moving) item->setSelected(true);
    setCurrentItem(moving.first(), 0, QItemSelectionModel::NoUpdate);
    bool changed = false;
    for (int i = 0; i < original.size(); ++i) changed = changed || original[i] != insertAt + i;
    if (changed) emit EntriesMoved();
}

void FileListView::paintEvent(QPaintEvent* event) {
    QTreeWidget::paintEvent(event);
    if (dropRow_ < 0) return;
    int y = 0;
    if (dropRow_ < topLevelItemCount())
        y = visualItemRect(topLevelItem(dropRow_)).top();
    else if (topLevelItemCount() > 0)
        y = visualItemRect(topLevelItem(topLevelItemCount() - 1)).bottom() + 1;
    QPainter painter(viewport());
    painter.setPen(QPen(palette().color(QPalette::Highlight), 2));
    painter.drawLine(0, y, viewport()->width(), y);
}

}  // namespace nimbrel::ui
