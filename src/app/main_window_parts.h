#pragma once
// What the main window's files share (main_window.cpp, main_window_layout.cpp,
// main_window_files.cpp, main_window_compile.cpp): the window's fixed sizes and limits, the file
// dialogs' filters, the file list's columns and entries. Private to src/app.

#include <QIcon>
#include <QPixmap>
#include <QString>
#include <QTreeWidget>
#include <string>

#include "ui/limited_memo.h"
#include "ui/narrow_text.h"

namespace nimbrel::app::detail {

inline constexpr int kClientWidth = 658;
inline constexpr int kClientHeight = 586;
inline constexpr int kAboutTextLimit = 246;
inline constexpr int kShowNameLimit = 254;

inline const QString kOutputFilter = QStringLiteral("ScreenSaver Files|*.scr");
inline const QString kIconFilter = QStringLiteral("Icon Files|*.ico");
inline const QString kFlashFilter = QStringLiteral("Flash Files (*.swf)|*.swf");
inline const QString kProjectFilter = QStringLiteral("Project Files (*.nssp)|*.nssp");

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
inline QIcon BlankIcon() {
    static const QIcon blank = [] {
        QPixmap pixmap(16, 16);
        pixmap.fill(Qt::transparent);
        return QIcon(pixmap);
    }();
    return blank;
}

// The memo's line breaks as the stored text has them.
inline std::string MemoText(const ui::LimitedMemo* memo) {
    QString text = memo->toPlainText();
    text.replace(u'\n', QStringLiteral("\r\n"));
    return ui::ToNarrow(text);
}

}  // namespace nimbrel::app::detail
