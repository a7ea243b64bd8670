#pragma once
// The report list of a slideshow's files (the main window's and the slideshow wizard's lvFiles):
// grid lines, the entry under the pointer underlined and drawn in the link colour (hot
// tracking), a pointing hand over entries, long paths cut in the middle, and, where the list
// order is the show order, entries that the user drags (one or several) to a new place.

#include <QList>
#include <QTreeWidget>

namespace nimbrel::ui {

class FileListView : public QTreeWidget {
    Q_OBJECT
public:
    explicit FileListView(QWidget* parent = nullptr);

    // Lets the user drag the selected entries to a new place in the list.
    void SetReorderable(bool on);
    bool Reorderable() const { return reorderable_; }

    // Moves the entries at `rows` (any order, duplicates ignored) together, in their present
    // order, to stand before the entry now at `before` (the entry count: at the end). The moved
    // entries end up selected. Emits EntriesMoved when the order changed.
    void MoveEntries(QList<int> rows, int before);

    // The one column whose cells the user edits in place (of entries flagged editable), -1 for
    // none (the default).
    void SetEditableColumn(int column) { editableColumn_ = column; }
    int EditableColumn() const { return editableColumn_; }

    // The row under the pointer, -1 when none.
    int HotRow() const { return hotRow_; }

    // What a drag of entries carries: this list's address and the dragged rows.
    static const QString kEntriesMimeType;
    QMimeData* EntriesMimeData(const QList<int>& rows) const;
    // Where a drop at `pos` (viewport coordinates) puts the dragged entries: before this row.
    int DropRowAt(const QPoint& pos) const;

signals:
    void EntriesMoved();

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void startDrag(Qt::DropActions supportedActions) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void SetHotRow(int row);
    bool IsOwnDrag(const QMimeData* data) const;
    QList<int> SelectedRows() const;

    bool reorderable_ = false;
    int editableColumn_ = -1;
    int hotRow_ = -1;
    int dropRow_ = -1;  // where the drop line is drawn during a drag, -1 when none
};

}  // namespace nimbrel::ui
